// The player in real browsers (browsers.mjs: Chromium and Firefox, headless). Web MIDI: a stand-in
// navigator.requestMIDIAccess, installed before the page's script, records every send(data,
// timestamp) of an output; the messages are compared with the events of a file made here and with the
// times this test reckons from its own tempo map. The page's own sound: files made here are saved as
// WAV files with the page's button, and the notes' onsets found in them (RMS over 5 ms windows) are
// compared with the times reckoned here; and playing live, the roll and the listing follow.
//
//   node --test web/test/play_test.mjs      (SMFDUMP_PAGE names the page, SMFDUMP_BROWSERS the browsers)
import { seq, seqChase, seqLoad, seqPrepare, seqRun, seqSelect, seqSetSysexPacing, seqStart } from '../audio/sequencer.js';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { browserKinds, browsersToTest, closePage, launch, openPage, pickFiles, saveByClick, waitFor } from './browsers.mjs';
import { unlike } from './sound_measures.mjs';
import { endOfTrack, event, file, readTracks, tempo } from './smf.mjs';

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

// For halting: 10 s of notes every 4 ticks (about 21 ms at 96 ticks a quarter and 120 beats a minute)
// over four channels, 250 ms long, every fifth 625 ms (its key struck again before its note-off),
// so that a dozen or more sound at any time; then a rest, a long note on channel 6 (key 100) at tick
// 2400 to seek to, and the end at tick 3840.
const busyNotes = [];
for (let i = 0; i < 480; i += 1) {
  const channel = i % 4;
  const key = 40 + (i % 20);
  busyNotes.push([4 * i, [0x90 | channel, key, 90]], [4 * i + (i % 5 === 0 ? 120 : 48), [0x80 | channel, key, 0]]);
}
busyNotes.push([2400, [0x95, 100, 90]], [2784, [0x85, 100, 0]]);
busyNotes.sort((a, b) => a[0] - b[0]);
const busyPath = path.join(scratch, 'busy.mid');
fs.writeFileSync(busyPath, file(0, 96, [[
  ...busyNotes.map(([tick, bytes], i) => event(tick - (i > 0 ? busyNotes[i - 1][0] : 0), bytes)),
  endOfTrack(3840 - 2784),
]]));

// A GS file's system exclusive at 96 ticks a quarter, 120 beats a minute: the GS reset, a message in
// three packets (channel 11 made a rhythm part), the GS master volume; an escape event of no whole
// MIDI message and a packet never ended, both left out. Channel 11 plays key 38 after each.
const gsReset = [0xf0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7f, 0x00, 0x41, 0xf7];
const gsRhythm = [0xf0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1a, 0x15, 0x02, 0x0f, 0xf7];   // part A (channel 11): drum map 2
const gsVolume = [0xf0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x04, 100, 0x58, 0xf7];    // master volume 100
const gsSong = file(1, 96, [
  [
    tempo(0, 500000),
    event(0, [0xf0, 10, ...gsReset.slice(1)]),            // the reset, whole (its length 10: F0 not counted)
    event(24, [0xf0, 5, 0x41, 0x10, 0x42, 0x12, 0x40]),   // the rhythm part's first packet (tick 24) ...
    event(6, [0xf7, 3, 0x1a, 0x15, 0x02]),                // ... its second (30) ...
    event(6, [0xf7, 2, 0x0f, 0xf7]),                      // ... and its last (36)
    event(156, [0xf0, 10, ...gsVolume.slice(1)]),         // master volume (192)
    event(8, [0xf7, 2, 64, 65]),                          // an escape of two data bytes (200): left out
    event(300, [0xf0, 2, 0x43, 0x10]),                    // a packet never ended (500): left out
    endOfTrack(),
  ],
  [
    event(48, [0x9a, 38, 100]), event(24, [0x8a, 38, 0]),    // key 38 on channel 11 at 48
    event(168, [0x9a, 38, 101]), event(24, [0x8a, 38, 0]),   // at 240
    event(120, [0x9a, 38, 102]), event(24, [0x8a, 38, 0]),   // at 384
    endOfTrack(),
  ],
]);
const gsPath = path.join(scratch, 'gs.mid');
fs.writeFileSync(gsPath, gsSong);
const gsSeconds = (tick) => tick / 192;
// In the page: whether the GS file was played to its end since window.sent held `from` messages: its
// last note off sent (velocity 0, as the file has it; a halt's are 64) and the player stopped.
const playedToTheEnd = (from) => document.body.dataset.playing === 'false'
  && window.sent.slice(from).filter((m) => m[1] === 0x8a && m[3] === 0).length >= (from === 0 ? 3 : 1);

// Waits until the GS file was played to its end since `from` messages were sent; else fails telling
// what was sent and shown.
async function untilPlayedToTheEnd(page, from) {
  try {
    await waitFor(page, playedToTheEnd, from, { timeout: 10000, polling: 50 });
  } catch (error) {
    const seen = await page.evaluate((n) => ({
      playing: document.body.dataset.playing, notice: document.getElementById('notice').textContent, sent: window.sent.slice(n), asked: window.midiAsked,
    }), from);
    throw new Error(`the GS file was not played to its end: ${JSON.stringify(seen)}`, { cause: error });
  }
}  // at 96 ticks a quarter, 120 beats a minute
const resetPauseMs = 50;                 // after a reset, a start waits so long
const byteMs = 1000 / 3125;              // and a message's bytes take so long on a MIDI cable

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

// The channel events of the song as a MIDI output is to get them: each with its tick and its bytes as
// the file has them, status written out, in order of time, those of one moment in the file's order
// (track after track), then at the end sustain off and all notes off on every channel.
function songEvents() {
  // two data bytes but for program change and channel pressure, as a MIDI output takes them
  const out = readTracks(song).flatMap((t) => t.events).map(({ tick, bytes }) => (
    { tick, bytes: [0xc0, 0xd0].includes(bytes[0] & 0xf0) ? bytes.slice(0, 2) : bytes }));
  // no note on comes before a note off of its key at one tick in the song: the file's order stands
  const played = out.map((e, i) => ({ ...e, i })).sort((a, b) => a.tick - b.tick || a.i - b.i);
  const last = played[played.length - 1].tick;
  for (let c = 0; c < 16; c += 1) played.push(...[64, 123].map((k) => ({ tick: last, bytes: [0xb0 | c, k, 0] })));
  return played;
}

// ---- the sequencer alone, under Node --------------------------------------------------------------

// A live player reads what a start needs a piece at a time, over quanta (a loop's start and a play's
// at once). Read in pieces of any size, and for two ticks in turn, the state sent must be the one a
// start that reads it whole sends.
test('a start read ahead in pieces sends the same state as one read whole', async () => {
  const createSmfdump = createRequire(import.meta.url)(path.join(path.dirname(pagePath), 'smfdump_web.js'));
  const M = await createSmfdump();
  Object.assign(M, { takeListingPiece: () => {}, takeEventLine: () => {}, takeNote: () => {} });
  M._web_builtin_names();
  M.HEAPU8.set(song, M._web_input(song.length) >>> 0);
  M._web_list();
  const where = (M._web_play_data() >>> 0) / 4;
  const copy = M.HEAPU32.slice(where, where + (M._web_play_data_words() >>> 0));
  const info = seqLoad(copy.buffer);
  const all = info.tracks.map((t) => t.index);
  const sent = (tick) => {
    const out = [];
    seqChase(tick, 0, (...m) => out.push(m.join(' ')));
    return out;
  };
  for (const [a, b] of [[0, 2028], [288, 384], [769, 1728], [5000, 1]]) {
    seqSelect(all);
    const wholeA = sent(a);
    const wholeB = sent(b);
    assert.ok(wholeA.length > 0, 'the song uses programs and controllers: a start sends them');
    for (const piece of [1, 2, 3, 5]) {
      seqSelect(all);
      let steps = 0;
      let doneA = false;
      let doneB = false;
      while (!(doneA && doneB)) {  // a piece of each in turn, as a play's and a loop's start are read
        if (!doneA) doneA = seqPrepare(a, piece);
        if (!doneB) doneB = seqPrepare(b, piece);
        steps += 1;
        assert.ok(steps < 1000, 'the reading ends');
      }
      assert.ok(steps > 1, `read in pieces of ${piece}: more than one step`);
      assert.deepEqual([sent(a), sent(b)], [wholeA, wholeB], `ticks ${a} and ${b}, pieces of ${piece}`);
    }
  }
});

// The system exclusive of the GS file: the packets joined whole, those left out counted; a start
// sends first those up to its tick from the last reset on (paced), then the channel state, then the
// music; past the start each at its tick, before the channel events of that tick.
test('system exclusive packets are joined whole, and a start sends those before it first, paced, then the channel state', async () => {
  const createSmfdump = createRequire(import.meta.url)(path.join(path.dirname(pagePath), 'smfdump_web.js'));
  const M = await createSmfdump();
  Object.assign(M, { takeListingPiece: () => {}, takeEventLine: () => {}, takeNote: () => {} });
  M._web_builtin_names();
  M.HEAPU8.set(gsSong, M._web_input(gsSong.length) >>> 0);
  M._web_list();
  const where = (M._web_play_data() >>> 0) / 4;
  const info = seqLoad(M.HEAPU32.slice(where, where + (M._web_play_data_words() >>> 0)).buffer);
  assert.deepEqual([info.sysex, info.sysexSkipped], [3, 2]);
  assert.deepEqual(seq.sysexMessages.map((m) => [...m]), [gsReset, gsRhythm, gsVolume]);
  seqSelect(info.tracks.map((t) => t.index));
  const sent = [];
  // each message with its time in microseconds, whole
  const emit = (time, status, first, second) => sent.push([Math.round(time * 1e6), ...(status === 0xf0 ? seq.sysexMessages[first] : [status, first, second])]);
  const us = (seconds) => Math.round(seconds * 1e6);
  seqSetSysexPacing(true);
  try {
    // from tick 200: the three, 50 ms after the reset, the rest by their length; the state after them
    seqStart(200, 0, emit);
    const after = (resetPauseMs + 2 * gsRhythm.length * byteMs) / 1000;
    assert.deepEqual(sent.slice(0, 4).map(([time, ...bytes]) => [time, bytes]), [
      [0, gsReset], [us(resetPauseMs / 1000), gsRhythm], [us((resetPauseMs + gsRhythm.length * byteMs) / 1000), gsVolume], [us(after), [0xba, 121, 0]],
    ]);
    sent.length = 0;
    seqRun(after + gsSeconds(240 - 200) + 0.001, emit);
    assert.deepEqual(sent[0], [us(after + gsSeconds(240 - 200)), 0x9a, 38, 101], 'the music starts after the chase');
    // from the start: the reset at 0 alone is chased; the rest plays at its tick
    sent.length = 0;
    seqStart(0, 0, emit);
    seqRun(10, emit);
    const sysex = sent.filter((m) => m[1] === 0xf0).map(([time, ...bytes]) => [time, bytes]);
    const start = resetPauseMs / 1000;
    assert.deepEqual(sysex, [[0, gsReset], [us(start + gsSeconds(24)), gsRhythm], [us(start + gsSeconds(192)), gsVolume]]);
  } finally {
    seqSetSysexPacing(false);
  }
});

// ---- the page ----------------------------------------------------------------------------------

// Installed before the page's script: a MIDI access with one output, "Test synth", whose sends are
// kept in window.sent as [timestamp, ...bytes]. With `clear`, the output has clear(), which drops what
// was sent for later than now, as a browser drops what it holds queued (Chromium's outputs have none).
// While window.midiFails is set, send() throws, as it does for a port that went away.
function standInMidi({ clear = false, refuseSysex = false } = {}) {
  window.sent = [];
  window.midiFails = false;
  window.midiAsked = [];  // the options of each request for MIDI access
  const output = {
    id: 'test',
    name: 'Test synth',
    type: 'output',
    send: (data, timestamp) => {
      if (window.midiFails) throw new DOMException('The port is not open.', 'InvalidStateError');
      window.sent.push([timestamp, ...data]);
    },
  };
  if (clear) {
    output.clear = () => {
      const now = performance.now();
      window.sent = window.sent.filter(([time]) => time <= now);
    };
  }
  navigator.requestMIDIAccess = (options) => {
    window.midiAsked.push(options ?? {});
    if (options?.sysex && refuseSysex) return Promise.reject(new DOMException('System exclusive is not allowed.', 'NotAllowedError'));
    return Promise.resolve({ outputs: new Map([['test', output]]), inputs: new Map(), onstatechange: null });
  };
}

// A file to read places by: 4/4 at 96 ticks a quarter and 120 beats a minute, a note a beat long on
// each beat for four measures (eight seconds). Tick T is measure T / 384, beat T / 96 % 4, at T / 192
// seconds.
const placeSong = file(1, 96, [
  [event(0, [0xff, 0x58, 4, 4, 2, 24, 8]), tempo(0, 500000), endOfTrack(1536)],
  [
    event(0, [0xc0, 0]),
    ...Array.from({ length: 16 }, (_, beat) => [event(0, [0x90, 60 + (beat % 12), 90]), event(96, [0x80, 60 + (beat % 12), 0])]).flat(),
    endOfTrack(),
  ],
]);
const placePath = path.join(scratch, 'places.mid');
fs.writeFileSync(placePath, placeSong);

// What the page shows of where the player stands: the time, measure:beat:tick, the seek bar's value
// and its text for a screen reader.
async function placeShown(page) {
  return page.evaluate(() => ({
    time: document.getElementById('play-time').textContent,
    position: document.getElementById('play-position').textContent,
    seek: Number(document.getElementById('play-seek').value),
    spoken: document.getElementById('play-seek').getAttribute('aria-valuetext'),
  }));
}

// Asserts that the page shows the player standing at tick of placeSong (once the listing worker has
// told the place; the seek bar moves a beat at a time).
async function assertPlace(page, tick, what) {
  const time = `0:0${Math.floor(tick / 192)} / 0:08`;
  const position = `${Math.floor(tick / 384)}:${Math.floor(tick / 96) % 4}:${tick % 96}`;
  await waitFor(page, (want) => document.getElementById('play-position').textContent === want.position
    && document.getElementById('play-time').textContent === want.time, { time, position }, { timeout: 5000 }).catch(() => {});
  const shown = await placeShown(page);
  assert.deepEqual({ time: shown.time, position: shown.position, spoken: shown.spoken }, { time, position, spoken: `${time} ${position}` }, what);
  assert.ok(Math.abs(shown.seek - tick) <= 48, `${what}: the seek bar stands at ${shown.seek}`);
}

// Opens the page with the stand-in (with clear() or not, refusing system exclusive or not), lists a
// file (the song unless told) and chooses the stand-in output to play to.
async function openPlaying(session, { clear = false, refuseSysex = false, file = songPath } = {}) {
  const page = await openPage(session, pagePath, { initScript: `(${standInMidi})(${JSON.stringify({ clear, refuseSysex })})` });
  await pickFiles(page, '#open-input', file);
  await waitFor(page, () => document.body.dataset.state === 'ready', null, { timeout: 60000 });
  await page.focus('#play-to');
  await waitFor(page, () => document.querySelector('#play-to option[value="midi:test"]') !== null);
  await page.select('#play-to', 'midi:test');
  // the events pass to the output's engine: a Play before that would play on the page's sound first
  await waitFor(page, () => !document.getElementById('play-to').disabled && document.getElementById('play').getAttribute('aria-disabled') === 'false');
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
    const v = window.smfdumpPage.rollView();
    const rect = document.getElementById('roll').getBoundingClientRect();
    return { x: rect.left + window.smfdumpPage.rollX(v, t) / v.scale, y: rect.top + v.band / v.scale / 2 };
  }, tick);
}

// The notes sounding after the messages: for each channel and key, note ons less note offs (a note on
// of velocity 0 among them), none below none.
function sounding(messages) {
  const count = new Map();
  for (const { bytes: [status, key, velocity] } of messages) {
    const slot = `${status & 0x0f} ${key}`;
    if ((status & 0xf0) === 0x90 && velocity > 0) count.set(slot, (count.get(slot) ?? 0) + 1);
    else if ((status & 0xe0) === 0x80) count.set(slot, Math.max(0, (count.get(slot) ?? 0) - 1));
  }
  return [...count].filter(([, n]) => n !== 0);
}

const seconds = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The notes left sounding by what a stand-in output received ({ time, bytes }), taken in the order of
// their timestamps (those of one time in the order sent): each note-on not ended by a later note-off
// (8n, or 9n of velocity 0) of its key, or all notes off or all sound off (CC 123, 120) of its
// channel, as "channel key" (a key struck twice needs two note-offs).
function leftSounding(received) {
  const on = new Map();
  const ordered = received.map((m, i) => ({ ...m, i })).sort((a, b) => a.time - b.time || a.i - b.i);
  for (const { bytes: [status, first, second] } of ordered) {
    const kind = status & 0xf0;
    const channel = status & 0x0f;
    const slot = `${channel} ${first}`;
    if (kind === 0x90 && second > 0) on.set(slot, (on.get(slot) ?? 0) + 1);
    else if (kind === 0x80 || kind === 0x90) on.set(slot, Math.max(0, (on.get(slot) ?? 0) - 1));
    else if (kind === 0xb0 && (first === 123 || first === 120)) {
      for (const key of on.keys()) if (key.startsWith(`${channel} `)) on.set(key, 0);
    }
  }
  return [...on].filter(([, n]) => n > 0).map(([slot]) => slot);
}

// What the stand-in output received: { time (the page's milliseconds), bytes }.
async function received(page) {
  return (await page.evaluate(() => window.sent)).map(([time, ...bytes]) => ({ time, bytes }));
}

// ---- files for the page's own sound: short notes of a square lead (5 ms attack, 50 ms release), the
// reverb off, far enough apart for each onset to stand out ----

const lead = [event(0, [0xc0, 80]), event(0, [0xb0, 91, 0])];  // channel 1: program 81, no reverb

// Format 1 at 96 ticks a quarter: three tempos (the last 85.714 beats a minute: rounded to a whole
// number of beats, the last note would come 8 ms early), running status, and a note held by the
// sustain pedal.
const tempoSong = {
  division: 96,
  tempos: [[0, 500000], [192, 300000], [480, 700001]],
  onsets: [48, 240, 300, 500, 576, 800],
  pedal: [600, 700],  // D6's note off, held until the pedal's release
  lastRelease: 812,
  bytes: file(1, 96, [
    [tempo(0, 500000), tempo(192, 300000), tempo(288, 700001), endOfTrack()],
    [
      ...lead,
      event(48, [0x90, 69, 100]), event(12, [69, 0]),   // A5 at tick 48, off by running status
      event(180, [0x90, 72, 100]), event(12, [72, 0]),  // C6 at 240, past the first tempo change
      event(48, [76, 100]), event(12, [0x80, 76, 64]),  // E6 at 300, on under running status
      event(188, [0x90, 69, 90]), event(12, [69, 0]),   // A5 at 500, past the second
      event(48, [0xb0, 64, 127]),                       // sustain on (560)
      event(16, [0x90, 74, 100]), event(24, [0x80, 74, 0]),  // D6 at 576, off at 600 but held
      event(100, [0xb0, 64, 0]),                        // sustain off at 700: D6 ends
      event(100, [0x90, 72, 100]), event(12, [0x80, 72, 0]),  // C6 at 800, the last
      endOfTrack(),
    ],
  ]),
};

// A time code of 29.97 frames a second (29 in the header) and 80 ticks a frame: a tempo event there is
// not to change anything.
const frameSong = {
  ticksPerSecond: (30000 / 1001) * 80,
  onsets: [600, 2400, 4000],
  bytes: file(0, 0xe350, [[
    ...lead,
    tempo(0, 250000),                                   // ignored under a time code
    event(600, [0x90, 69, 100]), event(100, [69, 0]),
    event(1700, [72, 100]), event(100, [72, 0]),
    event(1500, [76, 100]), event(100, [76, 0]),
    endOfTrack(),
  ]]),
};

// Format 2: each track a piece of its own, with its own tempo.
const pieces = {
  division: 120,
  tracks: [
    { tempo: 600000, onsets: [120, 360] },
    { tempo: 400000, onsets: [120, 300] },
  ],
};
pieces.bytes = file(2, 120, pieces.tracks.map(({ tempo: micro, onsets: [a, b] }) => [
  tempo(0, micro), ...lead,
  event(a, [0x90, 69, 100]), event(24, [0x80, 69, 0]),
  event(b - a - 24, [0x90, 72, 100]), event(24, [0x80, 72, 0]),
  endOfTrack(),
]));

// Ten minutes at 120 beats a minute: a short note on each beat.
const tenMinutes = file(0, 96, [[
  tempo(0, 500000), ...lead,
  ...Array.from({ length: 1200 }, (_, beat) => [event(beat === 0 ? 0 : 48, [0x90, 60 + (beat % 12), 90]), event(48, [0x80, 60 + (beat % 12), 0])]).flat(),
  endOfTrack(),
]]);

// The seconds at tick of a tempo map [[tick, microseconds]] at `division` ticks a quarter.
function secondsOf(map, division, tick) {
  let seconds = 0;
  for (let i = 0; i < map.length; i += 1) {
    const to = i + 1 < map.length ? map[i + 1][0] : Infinity;
    if (tick <= map[i][0]) break;
    seconds += ((Math.min(tick, to) - map[i][0]) * map[i][1]) / (1e6 * division);
  }
  return seconds;
}

// A saved WAV file's sound: checks that it is 16-bit stereo PCM at 44,100 Hz, and returns both
// channels averaged, and its RMS over a stretch.
function readWav(saved) {
  const bytes = fs.readFileSync(saved);
  assert.equal(bytes.toString('latin1', 0, 4), 'RIFF');
  assert.equal(bytes.toString('latin1', 8, 16), 'WAVEfmt ');
  assert.equal(bytes.readUInt16LE(20), 1, 'not PCM');
  assert.equal(bytes.readUInt16LE(22), 2, 'not stereo');
  assert.equal(bytes.readUInt32LE(24), 44100, 'not 44,100 frames a second');
  assert.equal(bytes.readUInt16LE(34), 16, 'not 16 bits a sample');
  assert.equal(bytes.toString('latin1', 36, 40), 'data');
  const frames = bytes.readUInt32LE(40) / 4;
  const sound = new Float32Array(frames);
  for (let i = 0; i < frames; i += 1) sound[i] = (bytes.readInt16LE(44 + 4 * i) + bytes.readInt16LE(46 + 4 * i)) / 65536;
  const rms = (from, to) => {
    let sum = 0;
    const a = Math.max(0, Math.round(from * 44100));
    const b = Math.min(frames, Math.round(to * 44100));
    for (let i = a; i < b; i += 1) sum += sound[i] * sound[i];
    return Math.sqrt(sum / Math.max(1, b - a));
  };
  return { sound, seconds: frames / 44100, rms };
}

// A note's character in a WAV file's sound, from `from` seconds: as the page's sound tests take it
// (sound_measures.mjs): its RMS envelope in six 40 ms windows (scaled to its loudest), its brightness
// (RMS of the first difference over RMS) and its zero crossings a second.
function character(wav, from) {
  const envelope = [];
  for (let w = 0; w < 6; w += 1) envelope.push(wav.rms(from + w * 0.04, from + (w + 1) * 0.04));
  const loudest = Math.max(...envelope);
  let d = 0;
  let q = 0;
  let crossings = 0;
  for (let i = Math.round((from + 0.02) * 44100) + 1; i < Math.round((from + 0.2) * 44100); i += 1) {
    d += (wav.sound[i] - wav.sound[i - 1]) ** 2;
    q += wav.sound[i] ** 2;
    if ((wav.sound[i] >= 0) !== (wav.sound[i - 1] >= 0)) crossings += 1;
  }
  return { envelope: envelope.map((e) => e / loudest), brightness: Math.sqrt(d / q), crossings: crossings / 0.18 };
}

// The onsets of a sound near the times given: for each, the end of the first 5 ms window (moved 0.5 ms
// at a time, from 0.1 s before it) whose RMS passes a twentieth of the loudest window.
function onsetsNear(wav, times) {
  let top = 0;
  for (let t = 0; t + 0.005 <= wav.seconds; t += 0.005) top = Math.max(top, wav.rms(t, t + 0.005));
  return times.map((time) => {
    for (let t = Math.max(0, time - 0.1); t < time + 0.1; t += 0.0005) if (wav.rms(t, t + 0.005) > top / 20) return t + 0.005;
    return null;
  });
}

// Asserts onsets within 3 ms of the times.
function sameOnsets(found, times, what) {
  times.forEach((time, i) => {
    assert.ok(found[i] !== null && Math.abs(found[i] - time) <= 0.003, `${what}: a note due at ${time.toFixed(4)} s starts at ${found[i]} s`);
  });
}

// Opens the page (the sound of the page: autoplay allowed in Chromium) with a file made here, listed.
async function openWithFile(session, name, bytes, initScript = null) {
  const where = path.join(scratch, name);
  fs.writeFileSync(where, bytes);
  const page = await openPage(session, pagePath, { initScript });
  await pickFiles(page, '#open-input', where);
  await waitFor(page, () => document.body.dataset.state === 'ready', null, { timeout: 60000 });
  return page;
}

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
      // first a reset of the controllers of each channel the song uses (it set nothing before), then the file
      const state = sent.slice(0, sent.length - expected.length);
      assert.deepEqual(state.map((m) => [m.time, ...m.bytes]), [[0, 0xb1, 121, 0], [0, 0xb3, 121, 0]]);
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
      const ons = sent.filter((b) => (b[0] & 0xf0) === 0x90 && b[2] > 0);
      assert.deepEqual(ons, [[0x91, 72, 110]], 'only C6 starts after tick 1300, and track 3 is muted');
      // G5's note off (a note on of velocity 0) ends the note begun before the start
      assert.ok(sent.some((b) => b.join() === [0x91, 67, 0].join()), 'a note off after the start, of a note begun before it, was not sent');
      const before = sent.slice(0, sent.findIndex((b) => b[0] === 0x91));
      for (const state of [[0xc1, 24], [0xb1, 7, 91], [0xb1, 6, 12], [0xb1, 64, 0], [0xd1, 33], [0xe1, 0, 72]]) {
        assert.ok(before.some((b) => b.join() === state.join()), `the state ${state} was not sent before the first note`);
      }
      // the bend range is sent as RPN 0 before its data entry
      const rpn = before.findIndex((b) => b.join() === [0xb1, 101, 0].join());
      assert.ok(rpn >= 0 && rpn < before.findIndex((b) => b.join() === [0xb1, 6, 12].join()));
      // the muted track's note offs are not sent, nor any note left sounding
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

    test(`${title}: another output chosen while playing takes the events over and goes on from the same place`, async () => {
      const page = await openPlaying(session);
      await page.click('#play');
      await waitFor(page, () => window.sent.some((m) => m[1] === 0x91 && m[2] === 64), null, { timeout: 10000, polling: 20 });
      // to the page's sound and back: the events go from engine to engine
      await page.select('#play-to', 'page');
      await waitFor(page, () => document.getElementById('play').getAttribute('aria-disabled') === 'false');
      const first = await page.evaluate(() => window.sent.length);
      await page.select('#play-to', 'midi:test');
      await waitFor(page, (n) => window.sent.length > n && document.body.dataset.playing === 'true', first, { timeout: 10000 });
      await waitFor(page, () => document.body.dataset.playing === 'false', null, { timeout: 10000, polling: 50 });
      const again = (await sentMessages(page)).slice(first).map((m) => m.bytes);
      const ons = again.filter((b) => (b[0] & 0xf0) === 0x90 && b[2] > 0).map((b) => b.join());
      assert.ok(!ons.includes([0x91, 60, 100].join()), 'playing went back to the start');
      assert.ok(ons.includes([0x91, 72, 110].join()), 'the rest of the file was not played');
      assert.deepEqual(sounding(again.map((bytes) => ({ bytes }))), []);
      await closePage(page);
    });

    test(`${title}: a loop played three times round leaves nothing sounding at each wrap, every channel silenced`, async () => {
      const page = await openPlaying(session);
      // a loop from tick 192 to 576 (half a second), dragged on the ruler; E5 (192 to 768) sounds at its end
      const from = await rulerPoint(page, 192);
      const to = await rulerPoint(page, 576);
      await page.mouse.move(from.x, from.y);
      await page.mouse.down();
      await page.mouse.move((from.x + to.x) / 2, to.y, { steps: 4 });
      await page.mouse.move(to.x, to.y, { steps: 4 });
      await page.mouse.up();
      const loop = await page.evaluate(() => window.smfdumpPage.player.loop);
      assert.ok(Math.abs(loop.a - 192) <= 2 && Math.abs(loop.b - 576) <= 2, `the loop is ${loop.a} to ${loop.b}`);
      await page.click('#play');
      const length = (secondsAt(loop.b) - secondsAt(loop.a)) * 1000;
      await waitFor(page, (n) => window.sent.filter((m) => m[1] === 0x91 && m[2] === 64 && m[3] > 0).length >= n, 4, { timeout: 10000, polling: 20 });
      // pause (its own messages may come at the third wrap's time: the wraps are those played before)
      const played = await page.evaluate(() => {
        const count = window.sent.length;
        document.getElementById('play').click();
        return count;
      });
      await seconds(400);
      const sent = await sentMessages(page);
      // the first messages are the state at the loop's start, sent at its time: the wraps follow
      for (let wrap = 1; wrap <= 3; wrap += 1) {
        const at = wrap * length;
        const before = sent.slice(0, played).filter((m) => m.time <= at + 0.5 && !(m.time > at - 0.5 && (m.bytes[0] & 0xf0) === 0x90));
        assert.deepEqual(sounding(before), [], `notes sound on past wrap ${wrap}`);
        const silenced = sent.slice(0, played).filter((m) => Math.abs(m.time - at) < 0.5 && m.bytes[1] === 120 && (m.bytes[0] & 0xf0) === 0xb0);
        assert.equal(silenced.length, 16, `every channel is silenced at wrap ${wrap}`);
      }
      assert.deepEqual(sounding(sent), [], 'notes are left sounding after the pause');
      await closePage(page);
    });

    // Rounds of playing the busy file, each ended after a while by a busy spell of the main thread
    // (40 or 120 ms: the worker's batches wait meanwhile, and come after the halt) and a halt in the
    // same task: Pause, Stop or a seek (the seek bar moved) to the note at tick 2400 after a rest;
    // and a few of the page hidden and left. With or without clear(), nothing may be left sounding;
    // the halt and the note sought are heard within 100 ms.
    for (const clear of [false, true]) {
      test(`${title}: halts at the end of a busy spell leave no note sounding, ${clear ? 'with' : 'without'} clear()`, async (t) => {
        const page = await openPlaying(session, { clear, file: busyPath });
        const faults = [];
        let left = 0;
        const latest = { halt: 0, seek: 0 };  // the most milliseconds from a halt to its last message, from a seek to the note sought
        // 20 rounds of each halt after each busy spell in turn, and after every fifth the page left
        // while not busy (with 70 ms sent ahead, to be ended at once)
        const plan = [];
        for (let i = 0; i < 20; i += 1) {
          plan.push([['pause', 'stop', 'seek'][i % 3], i % 2 === 0 ? 40 : 120]);
          if (i % 5 === 4) plan.push(['leave', 0]);
        }
        for (const [round, [halt, busy]] of plan.entries()) {
          const what = `round ${round + 1}, ${halt} after ${busy} ms busy`;
          await page.evaluate((from) => {
            window.sent = [];
            const bar = document.getElementById('play-seek');
            bar.value = String(from);
            bar.dispatchEvent(new Event('input'));
          }, 96 * (round % 10));
          await page.click('#play');
          await waitFor(page, () => window.sent.filter((m) => (m[1] & 0xf0) === 0x90).length >= 4, null, { timeout: 10000, polling: 10 });
          await seconds(50 + ((round * 37) % 200));
          const at = await page.evaluate((kind, ms) => {
            const end = performance.now() + ms;
            while (performance.now() < end);  // busy: what the worker posts waits
            const now = performance.now();
            if (kind === 'pause') document.getElementById('play').click();
            else if (kind === 'stop') document.getElementById('stop').click();
            else if (kind === 'leave') {
              // the tab hidden and the page left: it may get no later turn to send
              Object.defineProperty(document, 'visibilityState', { value: 'hidden', configurable: true });
              window.dispatchEvent(new PageTransitionEvent('pagehide'));
              delete document.visibilityState;
            } else {
              const bar = document.getElementById('play-seek');
              bar.value = '2400';
              bar.dispatchEvent(new Event('input'));
            }
            return now;
          }, halt, busy);
          await seconds(300);
          let got = await received(page);
          if (halt === 'seek') {
            const sought = got.find((m) => m.bytes.join() === [0x95, 100, 90].join());
            const old = sought ? leftSounding(got.filter((m) => m.time <= sought.time && m !== sought)) : [];
            const after = leftSounding(got).filter((slot) => slot !== '5 100');
            if (sought) latest.seek = Math.max(latest.seek, sought.time - at);
            if (!sought) faults.push(`${what}: the note sought was not played`);
            else if (sought.time - at > 100) faults.push(`${what}: the note sought is heard ${(sought.time - at).toFixed(1)} ms after the seek`);
            if (old.length > 0 || after.length > 0) faults.push(`${what}: sounding when the note sought starts ${old}, after it ${after}`);
            left += new Set([...old, ...after]).size;
            await page.click('#play');  // pause
            await seconds(300);
            got = await received(page);
          } else {
            const last = Math.max(...got.map((m) => m.time));
            latest.halt = Math.max(latest.halt, last - at);
            if (last - at > 100) faults.push(`${what}: the halt is heard ${(last - at).toFixed(1)} ms after it`);
            const atOnce = got.filter((m) => m.bytes[1] === 120 && (m.bytes[0] & 0xf0) === 0xb0 && m.time - at < 10);
            if (halt === 'leave' && atOnce.length < 16) faults.push(`${what}: not every channel is silenced at once`);
          }
          const still = leftSounding(got);
          if (still.length > 0) faults.push(`${what}: left sounding ${still}`);
          left += still.length;
        }
        t.diagnostic(`${plan.length} halts ${clear ? 'with' : 'without'} clear(): ${left} notes left sounding; heard at most `
          + `${latest.halt.toFixed(1)} ms after a pause or stop, the note sought ${latest.seek.toFixed(1)} ms after its seek`);
        assert.deepEqual(faults, []);
        await closePage(page);
      });
    }

    test(`${title}: system exclusive reaches the MIDI output whole, in order and on time, asked for with sysex; a seek sends it first again, paced, then the channel state`, async () => {
      const page = await openPlaying(session, { file: gsPath });
      await page.click('#play');
      await untilPlayedToTheEnd(page, 0);
      assert.ok((await page.evaluate(() => window.midiAsked)).some((options) => options.sysex === true), 'MIDI access was not asked with sysex');
      const sent = await sentMessages(page);
      const sysex = sent.filter((m) => m.bytes[0] === 0xf0);
      assert.deepEqual(sysex.map((m) => m.bytes), [gsReset, gsRhythm, gsVolume], 'the packets joined whole, those left out not sent');
      assert.deepEqual(sent[0].bytes, gsReset, 'the reset at tick 0 comes first of all');
      // the music starts once the reset had its pause; each message at its tick's time from there
      const firstNote = sent.find((m) => m.bytes[0] === 0x9a);
      for (const [m, tick] of [[sysex[1], 24], [sysex[2], 192], [firstNote, 48]]) {
        const due = resetPauseMs + gsSeconds(tick) * 1000;
        assert.ok(Math.abs(m.time - due) < 1, `${m.bytes} at tick ${tick} was sent for ${m.time} ms, not ${due}`);
      }
      console.log(`# ${title}: from the start, the chase's system exclusive took ${(firstNote.time - gsSeconds(48) * 1000).toFixed(2)} ms before the music`);
      // a seek past the master volume: the three again, from the reset, paced, then the channel state
      const point = await rulerPoint(page, 300);
      await page.mouse.click(point.x, point.y);
      const tick = Number(await page.evaluate(() => document.getElementById('roll').dataset.playTick));
      assert.ok(tick > 192 && tick < 384, `the ruler's click went to tick ${tick}`);
      const before = (await received(page)).length;
      await page.click('#play');
      await untilPlayedToTheEnd(page, before);
      const again = (await received(page)).slice(before);
      const start = again[0].time;
      const paced = [0, resetPauseMs, resetPauseMs + gsRhythm.length * byteMs];
      assert.deepEqual(again.slice(0, 3).map((m) => m.bytes), [gsReset, gsRhythm, gsVolume], 'the system exclusive before the place is sent first');
      again.slice(0, 3).forEach((m, i) => assert.ok(Math.abs(m.time - start - paced[i]) < 0.01, `message ${i} of the chase sent ${m.time - start} ms in, not ${paced[i]}`));
      const state = start + paced[2] + gsVolume.length * byteMs;
      assert.deepEqual(again[3].bytes, [0xba, 121, 0], 'the channel state comes after the system exclusive');
      assert.ok(Math.abs(again[3].time - state) < 0.01, `the channel state was sent ${again[3].time - start} ms in`);
      const note = again.find((m) => m.bytes[0] === 0x9a);
      assert.ok(Math.abs(note.time - (state + gsSeconds(384 - tick) * 1000)) < 1, 'the music after the chase is off time');
      console.log(`# ${title}: after a seek, the chase's system exclusive took ${(state - start).toFixed(2)} ms before the channel state and the music`);
      await closePage(page);
    });

    test(`${title}: refused leave to send system exclusive, the page says so in a line and plays the rest`, async () => {
      const page = await openPlaying(session, { file: gsPath, refuseSysex: true });
      await page.click('#play');
      await untilPlayedToTheEnd(page, 0);
      const notice = await page.$eval('#notice', (e) => (e.hidden ? '' : e.textContent));
      assert.match(notice, /^System exclusive is not sent[^.]*\.$/, 'one sentence saying system exclusive is not sent');
      const sent = await sentMessages(page);
      assert.ok(!sent.some((m) => m.bytes[0] === 0xf0), 'system exclusive was sent without leave');
      assert.equal(sent.filter((m) => m.bytes[0] === 0x9a).length, 3, 'the notes were not all played');
      await closePage(page);
    });

    test(`${title}: an output whose send() throws stops playing and says so`, async () => {
      const page = await openPlaying(session, { file: busyPath });
      await page.click('#play');
      await waitFor(page, () => window.sent.some((m) => (m[1] & 0xf0) === 0x90), null, { timeout: 10000, polling: 20 });
      await page.evaluate(() => { window.midiFails = true; });
      await waitFor(page, () => document.body.dataset.playing === 'false', null, { timeout: 3000, polling: 20 });
      const notice = await page.$eval('#notice', (e) => (e.hidden ? '' : e.textContent));
      assert.match(notice, /^[^.]*Test synth[^.]*\.$/, 'one sentence naming the output');
      const tick = await page.evaluate(() => document.getElementById('roll').dataset.playTick);
      await seconds(300);
      assert.equal(await page.evaluate(() => document.getElementById('roll').dataset.playTick), tick, 'the time runs on');
      await closePage(page);
    });

    test(`${title}: the place shown after Pause is where it paused (time, measure:beat:tick, seek bar and its text), and after two seeks at once the last one's`, async () => {
      const page = await openPlaying(session, { file: placePath });
      // the second seek comes while the worker is asked about the first
      await page.evaluate(() => {
        window.smfdumpPage.seek(200);
        window.smfdumpPage.seek(1000);
      });
      await assertPlace(page, 1000, 'after seeks to 200 and 1000');
      await page.click('#stop');
      await page.click('#play');
      await waitFor(page, () => Number(document.getElementById('roll').dataset.playTick) > 250, null, { timeout: 10000 });
      await page.click('#play');
      await waitFor(page, () => document.body.dataset.playing === 'false');
      const tick = Number(await page.evaluate(() => document.getElementById('roll').dataset.playTick));
      assert.ok(tick > 250 && tick < 1536, `paused at tick ${tick}`);
      await assertPlace(page, tick, `paused at tick ${tick}`);
      await closePage(page);
    });

    test(`${title}: the note chosen again after Stop is played from; the transpose box holds what plays; Space plays and pauses from the speed slider and the transpose box; the loop reads in measure:beat:tick`, async () => {
      const page = await openPlaying(session, { file: placePath });
      const roll = () => page.evaluate(() => ({ ...document.getElementById('roll').dataset }));
      // the fifth note (tick 384) chosen and played from, Stop, and the same note chosen again
      const note = await page.evaluate(() => window.smfdumpPage.notePoint(4));
      for (const round of ['first', 'again after Stop']) {
        await page.evaluate(() => {
          delete document.getElementById('roll').dataset.markerTick;
          delete document.getElementById('roll').dataset.playFrom;
        });
        await page.mouse.click(note.x, note.y);
        await waitFor(page, () => document.getElementById('roll').dataset.markerTick !== undefined);
        await page.click('#play');
        await waitFor(page, () => document.getElementById('roll').dataset.playFrom !== undefined, null, { timeout: 10000 });
        assert.equal((await roll()).playFrom, '384', `the note chosen ${round} was not played from`);
        await page.click('#stop');
      }
      // Space on the speed slider plays; numbers typed in the transpose box are held to what plays
      await page.focus('#play-speed');
      await page.keyboard.press(' ');
      await waitFor(page, () => document.body.dataset.playing === 'true', null, { timeout: 5000 });
      const transposed = () => page.evaluate(() => [document.getElementById('play-transpose').value, window.smfdumpPage.player.transpose]);
      await page.focus('#play-transpose');
      for (const [typed, held] of [['20', 12], ['-40', -12], ['2.6', 3]]) {
        await page.$eval('#play-transpose', (box) => { box.value = ''; });
        await page.keyboard.type(typed);
        await page.keyboard.press('Enter');
        assert.deepEqual(await transposed(), [String(held), held], `${typed} typed`);
      }
      // Space in the transpose box pauses, the number typed taken
      await page.$eval('#play-transpose', (box) => { box.value = ''; });
      await page.keyboard.type('-5');
      await page.keyboard.press(' ');
      await waitFor(page, () => document.body.dataset.playing === 'false', null, { timeout: 5000 });
      assert.deepEqual(await transposed(), ['-5', -5], 'Space after -5 typed');
      // a loop from beat 2 to the fourth beat of measure 1, set by [ and ]
      await page.evaluate(() => window.smfdumpPage.seek(192));
      await page.focus('#roll');
      await page.keyboard.press('[');
      await page.evaluate(() => window.smfdumpPage.seek(672));
      await page.keyboard.press(']');
      const loopText = () => page.evaluate(() => document.getElementById('loop-state').textContent);
      await waitFor(page, () => /^Loop: .* 1:3:0$/.test(document.getElementById('loop-state').textContent), null, { timeout: 5000 }).catch(() => {});
      assert.equal(await loopText(), 'Loop: 0:2:0 to 1:3:0');
      await closePage(page);
    });
  });

  describe(`in ${title}, with the page's own sound`, () => {
    let session;
    before(async () => {
      session = await launch(kind, { extraArgs: ['--autoplay-policy=no-user-gesture-required'] });
    });
    after(async () => {
      await session?.close();
    });

    test(`${title}: saved as WAV, notes start within 3 ms of the tempo map's times, and all is silent after the last release`, async () => {
      const page = await openWithFile(session, 'tempos.mid', tempoSong.bytes);
      const { saved, name } = await saveByClick(page, '#save-wav', { timeout: 120000 });
      assert.equal(name, 'tempos.wav');
      const wav = readWav(saved);
      const times = tempoSong.onsets.map((tick) => secondsOf(tempoSong.tempos, tempoSong.division, tick));
      sameOnsets(onsetsNear(wav, times), times, 'tempo changes');
      // the sustained note sounds on past its note off until the pedal's release, and no more
      const [off, up] = tempoSong.pedal.map((tick) => secondsOf(tempoSong.tempos, tempoSong.division, tick));
      assert.ok(wav.rms(off + 0.1, up - 0.05) > 0.005, 'the sustain pedal did not hold the note');
      assert.equal(wav.rms(up + 0.1, times[5] - 0.05), 0, 'the held note sounds on after the pedal\'s release');
      const last = secondsOf(tempoSong.tempos, tempoSong.division, tempoSong.lastRelease);
      assert.equal(wav.rms(last + 0.1, wav.seconds), 0, 'there is sound after the last release');
      assert.ok(wav.seconds > last + 1, `the file ends ${wav.seconds} s in, too soon after the last release`);

      // a time code plays its frames and ticks as real time, whatever a tempo event says
      const frames = await openWithFile(session, 'frames.mid', frameSong.bytes);
      const second = readWav((await saveByClick(frames, '#save-wav', { timeout: 120000 })).saved);
      const frameTimes = frameSong.onsets.map((tick) => tick / frameSong.ticksPerSecond);
      sameOnsets(onsetsNear(second, frameTimes), frameTimes, 'a time code');
      await closePage(frames);
      await closePage(page);
    });

    // Key 38 on a rhythm part other than channel 10 (GS: channel 11 made one by system exclusive; XG:
    // channel 2 on bank MSB 127 after XG System On) sounds as the drum kit does on channel 10, unlike
    // the same key on a plain channel (3, program 1). Half a second apart, reverb off, compared by
    // their characters (envelope, brightness, zero crossings).
    test(`${title}: saved as WAV, a GS rhythm part and an XG drum bank sound as channel 10's drum kit does`, async () => {
      const hits = (rhythm) => [
        event(96, [0x99, 38, 100]), event(48, [0x89, 38, 0]),                           // channel 10 at 0.5 s
        event(144, [0x90 | rhythm, 38, 100]), event(48, [0x80 | rhythm, 38, 0]),        // the rhythm part at 1.5 s
        event(144, [0x92, 38, 100]), event(48, [0x82, 38, 0]),                          // channel 3 at 2.5 s
        endOfTrack(96),
      ];
      const noReverb = [9, 10, 1, 2].map((c) => event(0, [0xb0 | c, 91, 0]));  // channels 10, 11, 2 and 3
      const kits = {
        gs: file(0, 96, [[tempo(0, 500000), event(0, [0xf0, 10, ...gsReset.slice(1)]), event(0, [0xf0, 10, ...gsRhythm.slice(1)]), ...noReverb, ...hits(10)]]),
        xg: file(0, 96, [[
          tempo(0, 500000),
          event(0, [0xf0, 8, 0x43, 0x10, 0x4c, 0x00, 0x00, 0x7e, 0x00, 0xf7]),  // XG System On
          event(0, [0xb1, 0, 127]), event(0, [0xc1, 0]),                          // channel 2: bank MSB 127, kit 1
          ...noReverb, ...hits(1),
        ]]),
      };
      for (const [name, bytes] of Object.entries(kits)) {
        const page = await openWithFile(session, `${name}-kits.mid`, bytes);  // not gs.mid, which the MIDI tests play
        const wav = readWav((await saveByClick(page, '#save-wav', { timeout: 120000 })).saved);
        const [drums, rhythm, plain] = [0.5, 1.5, 2.5].map((at) => character(wav, at));
        const same = unlike(rhythm, drums);
        const other = unlike(plain, drums);
        console.log(`# ${title}: ${name}: unlike the drum kit on channel 10: the rhythm part ${same.toFixed(3)}, a plain channel ${other.toFixed(3)}`);
        assert.ok(same < 0.1 && other > 5 * same, `${name}: the rhythm part (${same.toFixed(3)}) does not sound as channel 10 does, or the plain channel (${other.toFixed(3)}) does`);
        await closePage(page);
      }
    });

    test(`${title}: format 2 plays the track of the line chosen, at its own tempo`, async () => {
      const page = await openWithFile(session, 'pieces.mid', pieces.bytes);
      const [first, other] = pieces.tracks;
      const at = (track) => track.onsets.map((tick) => (tick * track.tempo) / (1e6 * pieces.division));
      assert.match(await page.$eval('#player-note', (e) => e.textContent), /plays track 1\b/);
      const one = readWav((await saveByClick(page, '#save-wav', { timeout: 120000 })).saved);
      sameOnsets(onsetsNear(one, at(first)), at(first), 'track 1');
      assert.equal(one.rms(at(other)[1] - 0.02, at(other)[1] + 0.05), 0, 'track 2 sounds with track 1');
      // a line of track 2 chosen (found with the find box): track 2 is played
      await page.type('#find', '2T:0:1:0');
      await page.keyboard.press('Enter');
      await waitFor(page, () => /plays track 2\b/.test(document.getElementById('player-note').textContent));
      const two = readWav((await saveByClick(page, '#save-wav', { timeout: 120000 })).saved);
      sameOnsets(onsetsNear(two, at(other)), at(other), 'track 2');
      await closePage(page);
    });

    test(`${title}: Save as WAV of ten minutes: the page draws on while the file is written (no gap of 200 ms between frames once it is rendered)`, async () => {
      const page = await openWithFile(session, 'ten.mid', tenMinutes);
      // the gaps between animation frames from the rendering's end (its progress full) to the file
      // saved (the progress gone), timed as the frames run (a frame's own time is when it was due,
      // which a frame held up by the page's thread keeps)
      await page.evaluate(() => {
        window.writing = { longest: 0, last: 0, stop: false };
        const frame = () => {
          const now = performance.now();
          if (window.writing.last) window.writing.longest = Math.max(window.writing.longest, now - window.writing.last);
          const rendered = !document.getElementById('progress-box').hidden && document.getElementById('progress').value >= 0.99;
          window.writing.last = rendered ? now : 0;
          if (!window.writing.stop) requestAnimationFrame(frame);
        };
        requestAnimationFrame(frame);
      });
      const { saved } = await saveByClick(page, '#save-wav', { timeout: 300000 });
      const longest = await page.evaluate(() => {
        window.writing.stop = true;
        return window.writing.longest;
      });
      assert.ok(readWav(saved).seconds > 600, 'the WAV file is shorter than the music');
      assert.ok(longest < 200, `the page froze for ${longest.toFixed(0)} ms while the WAV file was written`);
      console.log(`# ${title}: a ten-minute WAV file written, the longest gap between frames ${longest.toFixed(0)} ms`);
      await closePage(page);
    });

    // headless Firefox here has no sound output, and its AudioContext never starts: there the transport
    // plays to the stand-in MIDI output instead
    const output = kind === 'firefox' ? 'the stand-in MIDI output' : 'the page\'s sound';
    test(`${title}: playing to ${output}, the playhead and the line played advance, and play after pause goes on from the same tick`, async () => {
      const page = await openWithFile(session, 'tempos.mid', tempoSong.bytes, kind === 'firefox' ? standInMidi : null);
      if (kind === 'firefox') {
        await page.focus('#play-to');
        await waitFor(page, () => document.querySelector('#play-to option[value="midi:test"]') !== null);
        await page.select('#play-to', 'midi:test');
      }
      const state = () => page.evaluate(() => ({
        tick: Number(document.getElementById('roll').dataset.playTick),
        line: Number(document.getElementById('listing').dataset.played || -1),
        marked: document.querySelector('#listing-lines div.played')?.textContent ?? null,
        playing: document.body.dataset.playing,
      }));
      await page.click('#play');
      await waitFor(page, () => Number(document.getElementById('roll').dataset.playTick) > 100, null, { timeout: 10000 });
      const early = await state();
      await waitFor(page, (t) => Number(document.getElementById('roll').dataset.playTick) > t + 150, early.tick, { timeout: 10000 });
      await seconds(300);  // a question for the line played, at most every 250 ms
      const later = await state();
      assert.ok(later.line > early.line, `the line played stayed at ${early.line}`);
      assert.match(later.marked ?? '', /^ {2}2T:/, 'no line of the track shown is marked as played');
      // pause: the place stays; play: it goes on from there
      await page.keyboard.press(' ');
      await waitFor(page, () => document.body.dataset.playing === 'false');
      const paused = await state();
      await seconds(300);
      assert.equal((await state()).tick, paused.tick, 'the place moved while paused');
      await page.keyboard.press(' ');
      await waitFor(page, () => document.body.dataset.playing === 'true');
      assert.equal(await page.evaluate(() => Number(document.getElementById('roll').dataset.playFrom)), paused.tick);
      await waitFor(page, (t) => Number(document.getElementById('roll').dataset.playTick) > t + 20, paused.tick, { timeout: 10000 });
      await closePage(page);
    });
  });
}
