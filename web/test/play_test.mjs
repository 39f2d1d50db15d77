// The player in real browsers (browsers.mjs: Chromium and Firefox, headless). Web MIDI: a stand-in
// navigator.requestMIDIAccess, installed before the page's script, records every send(data,
// timestamp) of an output; the messages are compared with the events of a file made here and with the
// times this test reckons from its own tempo map.
//
//   node --test web/test/play_test.mjs      (SMFDUMP_PAGE names the page, SMFDUMP_BROWSERS the browsers)
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { browserKinds, browsersToTest, closePage, launch, openPage, pickFiles, waitFor } from './browsers.mjs';
import { endOfTrack, event, file, tempo } from './smf.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pagePath = path.resolve(root, process.env.SMFDUMP_PAGE ?? 'build-web/smfdump.html');
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-play-'));
after(() => fs.rmSync(scratch, { recursive: true, force: true }));

// ---- the file played: three tracks, a tempo map of three tempos, every kind of channel event ----

const division = 384;
const tempos = [[0, 500000], [768, 400000], [1536, 600001]];  // tick, microseconds per quarter note
const song = file(1, division, [
  [
    tempo(0, 500000),                 // 120 beats a minute
    tempo(768, 400000),               // two beats on (tick 768): 150
    tempo(768, 600001),               // two more (1536): no round number of beats a minute
    endOfTrack(384),
  ],
  [
    event(0, [0xc1, 24]),             // channel 2: program 25
    event(0, [0xb1, 7, 91]),          // volume
    event(0, [0xb1, 101, 0]),         // the pitch bend range (RPN 0) ...
    event(0, [100, 0]),               // ... under running status
    event(0, [6, 12]),                // ... is 12 semitones
    event(0, [0x91, 60, 100]),        // C5 on
    event(192, [64, 90]),             // E5 on, under running status
    event(96, [0xb1, 64, 127]),       // sustain on (tick 288)
    event(96, [0x81, 60, 64]),        // C5 off (384)
    event(0, [0xe1, 0, 72]),          // pitch bend
    event(0, [0xd1, 33]),             // channel pressure
    event(0, [0xa1, 64, 50]),         // key pressure
    event(384, [0x91, 64, 0]),        // E5 off, a note on of velocity 0 (768)
    event(0, [0xb1, 64, 0]),          // sustain off
    event(0, [0x91, 67, 80]),         // G5 on, at the second tempo
    event(960, [67, 0]),              // G5 off under running status (1728), past the third tempo
    event(0, [0xc1, 40]),             // program 41
    event(0, [0x91, 72, 110]),        // C6 on
    event(0, [0xb1, 10, 30]),         // pan, after the note of its tick: it comes after it
    event(300, [0x81, 72, 10]),       // C6 off (2028)
    endOfTrack(),
  ],
  [
    event(0, [0x93, 48, 70]),         // channel 4: C4
    event(384, [0x83, 48, 0]),
    event(384, [0x93, 50, 71]),       // D4 (768)
    event(384, [0x93, 52, 72]),       // E4 (1152), D4 still sounding
    event(0, [0x83, 50, 1]),          // D4 off
    event(768, [0x83, 52, 2]),        // E4 off (1920)
    endOfTrack(),
  ],
]);
const songPath = path.join(scratch, 'song.mid');
fs.writeFileSync(songPath, song);

// The file's seconds at tick, reckoned here from the tempo map above.
function secondsAt(tick) {
  let seconds = 0;
  for (let i = 0; i < tempos.length; i += 1) {
    const [from, micro] = tempos[i];
    const to = i + 1 < tempos.length ? tempos[i + 1][0] : Infinity;
    if (tick <= from) break;
    seconds += ((Math.min(tick, to) - from) * micro) / (1e6 * division);
  }
  return seconds;
}

// The channel events of the song as a MIDI output is to get them: each with its tick and its bytes,
// status written out, a note off (or note on of velocity 0) as 0x80 with velocity 64.
function songEvents() {
  const out = [];
  const bytes = Buffer.from(song);
  let at = 14;
  while (at < bytes.length) {
    const end = at + 8 + bytes.readUInt32BE(at + 4);
    at += 8;
    let tick = 0;
    let status = 0;
    while (at < end) {
      let delta = 0;
      for (;;) {
        const b = bytes[at++];
        delta = delta * 128 + (b & 0x7f);
        if (b < 0x80) break;
      }
      tick += delta;
      if (bytes[at] === 0xff) {
        at += 3 + bytes[at + 2];
        continue;
      }
      if (bytes[at] >= 0x80) status = bytes[at++];
      const size = (status & 0xf0) === 0xc0 || (status & 0xf0) === 0xd0 ? 1 : 2;
      const data = [...bytes.subarray(at, at + size)];
      at += size;
      const off = (status & 0xf0) === 0x80 || ((status & 0xf0) === 0x90 && data[1] === 0);
      out.push({ tick, bytes: off ? [0x80 | (status & 0x0f), data[0], 64] : [status, ...data], off });
    }
  }
  // in order of time, note offs first of those of one moment, the rest in the file's order
  return out.map((e, i) => ({ ...e, i })).sort((a, b) => a.tick - b.tick || Number(b.off) - Number(a.off) || a.i - b.i);
}

// ---- the page ----------------------------------------------------------------------------------

// Installed before the page's script: a MIDI access with one output, "Test synth", whose sends are
// kept in window.sent as [timestamp, ...bytes].
function standInMidi() {
  window.sent = [];
  const output = { id: 'test', name: 'Test synth', type: 'output', send: (data, timestamp) => window.sent.push([timestamp, ...data]) };
  navigator.requestMIDIAccess = () => Promise.resolve({ outputs: new Map([['test', output]]), inputs: new Map(), onstatechange: null });
}

// Opens the page with the stand-in, lists the song and chooses the stand-in output to play to.
async function openPlaying(session) {
  const page = await openPage(session, pagePath, { initScript: standInMidi });
  await pickFiles(page, '#open-input', songPath);
  await waitFor(page, () => document.body.dataset.state === 'ready', null, { timeout: 60000 });
  await page.focus('#play-to');
  await waitFor(page, () => document.querySelector('#play-to option[value="midi:test"]') !== null);
  await page.select('#play-to', 'midi:test');
  return page;
}

// The messages sent so far: { time (ms after the first), bytes }.
async function sentMessages(page) {
  const sent = await page.evaluate(() => window.sent);
  return sent.map(([time, ...bytes]) => ({ time: time - sent[0][0], bytes }));
}

// Where on screen the roll's ruler (its top band) is at tick.
async function rulerPoint(page, tick) {
  return page.evaluate((t) => {
    const v = rollView();  // eslint-disable-line no-undef
    const rect = document.getElementById('roll').getBoundingClientRect();
    return { x: rect.left + rollX(v, t) / v.scale, y: rect.top + v.band / v.scale / 2 };  // eslint-disable-line no-undef
  }, tick);
}

// The notes sounding after the messages: for each channel and key, note ons less note offs.
function sounding(messages) {
  const count = new Map();
  for (const { bytes: [status, key, velocity] } of messages) {
    const slot = `${status & 0x0f} ${key}`;
    if ((status & 0xf0) === 0x90 && velocity > 0) count.set(slot, (count.get(slot) ?? 0) + 1);
    if ((status & 0xf0) === 0x80) count.set(slot, (count.get(slot) ?? 0) - 1);
  }
  return [...count].filter(([, n]) => n !== 0);
}

const seconds = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

for (const kind of browsersToTest()) {
  const title = browserKinds[kind].title;
  describe(`in ${title}`, () => {
    let session;
    before(async () => {
      session = await launch(kind);
    });
    after(async () => {
      await session?.close();
    });

    test(`${title}: Web MIDI gets every channel event once, in order, at the tempo map's times`, async () => {
      const page = await openPlaying(session);
      await page.click('#play');
      await waitFor(page, () => document.body.dataset.playing === 'false' && window.sent.length > 30, null, { timeout: 10000, polling: 50 });
      const sent = await sentMessages(page);
      const expected = songEvents();
      // first the state before the start (programs, controllers, bend range, pressure, bend), then the file
      const state = sent.slice(0, sent.length - expected.length);
      for (const m of state) {
        assert.equal(m.time, 0, `${m.bytes} was sent after the start`);
        assert.ok([0xb0, 0xc0, 0xd0, 0xe0].includes(m.bytes[0] & 0xf0), `${m.bytes} is not state`);
      }
      const played = sent.slice(state.length);
      assert.deepEqual(played.map((m) => m.bytes), expected.map((e) => e.bytes));
      for (const [i, e] of expected.entries()) {
        const due = secondsAt(e.tick) * 1000;
        assert.ok(Math.abs(played[i].time - due) < 1, `${e.bytes} at tick ${e.tick} was sent for ${played[i].time} ms, not ${due.toFixed(3)}`);
      }
      await closePage(page);
    });

    test(`${title}: a muted track sends no notes; seeking sends the state before its first note`, async () => {
      const page = await openPlaying(session);
      // track 3 hidden in the legend: muted
      await page.click('#legend button[data-track="2"]');
      // a click on the ruler at tick 1300: after the sustain's end, the bend and the pressure
      const point = await rulerPoint(page, 1300);
      await page.mouse.click(point.x, point.y);
      const tick = Number(await page.evaluate(() => document.getElementById('roll').dataset.playTick));
      assert.ok(tick > 1152 && tick < 1536, `the ruler's click went to tick ${tick}`);
      await page.click('#play');
      await waitFor(page, () => document.body.dataset.playing === 'false', null, { timeout: 10000, polling: 50 });
      const sent = (await sentMessages(page)).map((m) => m.bytes);
      const ons = sent.filter((b) => (b[0] & 0xf0) === 0x90);
      assert.deepEqual(ons, [[0x91, 72, 110]], 'only C6 starts after tick 1300, and track 3 is muted');
      const before = sent.slice(0, sent.findIndex((b) => b[0] === 0x91));
      for (const state of [[0xc1, 24], [0xb1, 7, 91], [0xb1, 6, 12], [0xb1, 64, 0], [0xd1, 33], [0xe1, 0, 72]]) {
        assert.ok(before.some((b) => b.join() === state.join()), `the state ${state} was not sent before the first note`);
      }
      // the bend range is sent as RPN 0 before its data entry
      const rpn = before.findIndex((b) => b.join() === [0xb1, 101, 0].join());
      assert.ok(rpn >= 0 && rpn < before.findIndex((b) => b.join() === [0xb1, 6, 12].join()));
      // no note off for a note not started here
      assert.deepEqual(sounding(sent.map((bytes) => ({ bytes }))), []);
      assert.ok(!sent.some((b) => (b[0] & 0xf0) === 0x80 && b[0] !== 0x81));
      await closePage(page);
    });

    test(`${title}: Stop ends what sounds, then lets go the sustain and silences every channel`, async () => {
      const page = await openPlaying(session);
      await page.click('#play');
      await waitFor(page, () => window.sent.some((m) => m[1] === 0xb1 && m[2] === 64 && m[3] === 127), null, { timeout: 10000, polling: 20 });
      await page.click('#stop');
      await seconds(400);  // the stop comes after what was sent ahead
      const sent = await sentMessages(page);
      const last = sent.slice(-48);
      const set = [];
      for (let c = 0; c < 16; c += 1) set.push([0xb0 | c, 64, 0], [0xb0 | c, 123, 0], [0xb0 | c, 120, 0]);
      assert.deepEqual(last.map((m) => m.bytes), set);
      const stopTime = last[0].time;
      assert.ok(sent.every((m) => m.time <= stopTime), 'a message was sent for after the stop');
      assert.deepEqual(sounding(sent), [], 'notes are left sounding');
      assert.equal(await page.evaluate(() => document.getElementById('roll').dataset.playTick), '0', 'Stop goes back to the start');
      await closePage(page);
    });

    test(`${title}: a loop played three times round leaves nothing sounding at each wrap`, async () => {
      const page = await openPlaying(session);
      // a loop from tick 192 to 576 (half a second), dragged on the ruler; E5 (192 to 768) sounds at its end
      const from = await rulerPoint(page, 192);
      const to = await rulerPoint(page, 576);
      await page.mouse.move(from.x, from.y);
      await page.mouse.down();
      await page.mouse.move((from.x + to.x) / 2, to.y, { steps: 4 });
      await page.mouse.move(to.x, to.y, { steps: 4 });
      await page.mouse.up();
      const loop = await page.evaluate(() => player.loop);  // eslint-disable-line no-undef
      assert.ok(Math.abs(loop.a - 192) <= 2 && Math.abs(loop.b - 576) <= 2, `the loop is ${loop.a} to ${loop.b}`);
      await page.click('#play');
      const length = (secondsAt(loop.b) - secondsAt(loop.a)) * 1000;
      await waitFor(page, (n) => window.sent.filter((m) => m[1] === 0x91 && m[2] === 64 && m[3] > 0).length >= n, 4, { timeout: 10000, polling: 20 });
      await page.click('#play');  // pause
      await seconds(400);
      const sent = await sentMessages(page);
      const start = sent.find((m) => m.bytes[0] === 0x91).time;
      for (let wrap = 1; wrap <= 3; wrap += 1) {
        const at = start + wrap * length;
        const before = sent.filter((m) => m.time <= at + 0.5 && !(m.time > at - 0.5 && (m.bytes[0] & 0xf0) === 0x90));
        assert.deepEqual(sounding(before), [], `notes sound on past wrap ${wrap}`);
      }
      assert.deepEqual(sounding(sent), [], 'notes are left sounding after the pause');
      await closePage(page);
    });
  });
}
