// What the player sends, under Node: files shaped like real ones are listed by the page's module
// (build-web/smfdump_web.js, beside SMFDUMP_PAGE), their compact copy played by the sequencer from
// the page's own code, and every message compared with the file's events as this test reads them
// from the bytes itself, with times from its own reckoning of the tempo map. The same sequencer feeds
// the page's sound, the WAV and the Web MIDI worker.
//
//   node --test web/test/stream_test.mjs
import { seq, seqLoad, seqRun, seqSelect, seqSetMuted, seqSetTranspose, seqSounding, seqStart } from '../audio/sequencer.js';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { before, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { endOfTrack, event, file, readTracks, tempo } from './smf.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pagePath = path.resolve(root, process.env.SMFDUMP_PAGE ?? 'build-web/smfdump.html');
let module;

before(async () => {
  const createSmfdump = createRequire(import.meta.url)(path.join(path.dirname(pagePath), 'smfdump_web.js'));
  module = await createSmfdump();
  Object.assign(module, { takeListingPiece: () => {}, takeEventLine: () => {}, takeNote: () => {} });
  module._web_builtin_names();
});

// Lists bytes in the module and loads their compact copy into the sequencer, every track selected
// (format 2: the first); returns the tracks' indexes.
function load(bytes) {
  const at = module._web_input(bytes.length) >>> 0;  // the memory may grow: its view is taken after
  module.HEAPU8.set(bytes, at);
  module._web_list();
  const where = (module._web_play_data() >>> 0) / 4;
  const copy = module.HEAPU32.slice(where, where + (module._web_play_data_words() >>> 0));
  module._web_play_data_release();
  const info = seqLoad(copy.buffer);
  const tracks = info.tracks.map((t) => t.index);
  seqSelect(bytes[9] === 2 ? [0] : tracks);
  return tracks;
}

// Plays the loaded file from tick at host time 0 to its end: every message as [seconds, ...bytes]
// (two data bytes, the second 0 for program change and channel pressure).
function play(tick = 0, { muted = null, transpose = 0 } = {}) {
  seqSetTranspose(transpose);
  seqSetMuted(muted ?? new Array(seq.trackCount).fill(0), 0, () => {});
  const out = [];
  const emit = (time, status, first, second) => out.push([time, status, first, second]);
  seqStart(tick, 0, emit);
  let steps = 0;
  for (let until = 0.05; seqRun(until, emit); until += 0.05) {
    steps += 1;
    assert.ok(steps < 100000, 'playing ends');
  }
  return out;
}

// The seconds at tick of the tempo map of tracks (every tempo event of them, by tick; 120 beats a
// minute before the first) at `division` ticks a quarter.
function secondsOf(tracks, division, tick) {
  const map = tracks.flatMap((t) => t.tempos).sort((a, b) => a.tick - b.tick);
  let seconds = 0;
  let from = 0;
  let micro = 500000;
  for (const { tick: at, micro: next } of map) {
    if (at >= tick) break;
    seconds += ((at - from) * micro) / (1e6 * division);
    from = at;
    micro = next;
  }
  return seconds + ((tick - from) * micro) / (1e6 * division);
}

const isOn = (b) => (b[0] & 0xf0) === 0x90 && b[2] > 0;
const isOff = (b) => (b[0] & 0xf0) === 0x80 || ((b[0] & 0xf0) === 0x90 && b[2] === 0);

// What the player is to send of tracks from tick `from` on: the events in order of tick, then of
// track, then as the track has them, except that at one tick a note off goes just before the first
// note on of its channel and key before it; each with its time in seconds.
function expectedEvents(tracks, division, from = 0) {
  const all = [];
  tracks.forEach((t, track) => t.events.forEach((e, i) => {
    if (e.tick >= from) all.push({ ...e, track, i });
  }));
  all.sort((a, b) => a.tick - b.tick || a.track - b.track || a.i - b.i);
  const out = [];
  for (let i = 0; i < all.length;) {
    let j = i;
    while (j < all.length && all[j].tick === all[i].tick) j += 1;
    const tick = all.slice(i, j);
    const placed = [];
    for (const e of tick) {
      const on = isOff(e.bytes) ? placed.findIndex((p) => isOn(p.bytes) && p.bytes[0] % 16 === e.bytes[0] % 16 && p.bytes[1] === e.bytes[1]) : -1;
      if (on >= 0) placed.splice(on, 0, e);
      else placed.push(e);
    }
    for (const e of placed) out.push([secondsOf(tracks, division, e.tick), ...e.bytes]);
    i = j;
  }
  return out;
}

// The messages of the end at `seconds`: a note off for each [channel, key] still sounding, then
// sustain off and all notes off on every channel (what rings on is let be).
function endAt(seconds, sounding) {
  const out = sounding.map(([c, key]) => [seconds, 0x80 | c, key, 64]);
  for (let c = 0; c < 16; c += 1) out.push([seconds, 0xb0 | c, 64, 0], [seconds, 0xb0 | c, 123, 0]);
  return out;
}

// Asserts the messages equal those expected, in order, each within a microsecond of its time.
function sameMessages(got, expected, what) {
  const text = (list) => list.map(([time, ...bytes]) => `${time.toFixed(6)} ${bytes.join(' ')}`).join('\n');
  assert.equal(text(got), text(expected), what);
}

// Reset all controllers on each channel given, at 0 seconds: what a start sends first.
const resets = (...channels) => channels.map((c) => [0, 0xb0 | c, 121, 0]);

// ---- files shaped like real ones ----

const division = 480;
// Format 1: a tempo track, then three tracks sharing channel 1 as real arrangements do.
const realWorld = file(1, division, [
  [tempo(0, 500000), tempo(960, 375000), endOfTrack(2880)],
  [
    event(0, [0x90, 60, 100]),   // C5 struck ...
    event(240, [60, 90]),        // ... again before its note off, by running status
    event(240, [0x80, 60, 30]),  // the first note off, release velocity 30 (480)
    event(240, [60, 40]),        // the second (720), velocity 40
    event(240, [0xb0, 64, 127]), // sustain on at 960, before track 3's note off of this tick
    event(0, [0xb0, 10, 20]),    // pan 20: track 3 sets 100 at this tick after it
    event(0, [0x90, 64, 70]),    // E5 at 960 ...
    event(0, [0x80, 64, 11]),    // ... and its note off at the same tick, which goes before it
    event(480, [0x90, 67, 80]),  // G5 at 1440: never ended
    endOfTrack(480),             // (1920)
  ],
  [
    event(0, [0x91, 72, 50]),    // channel 2: C6 at 0 ...
    event(1200, [0x91, 72, 0]),  // ... ended by a note on of velocity 0 (1200)
    event(0, [0x81, 74, 5]),     // a note off with no note on before it: sent as it is
    endOfTrack(),
  ],
  [
    event(480, [0x90, 62, 60]),  // D5 on channel 1 at 480
    event(480, [0x80, 60, 2]),   // C5's note off from another track (960): nothing of C5 sounds here
    event(0, [0xb0, 10, 100]),   // pan 100, after track 2's pan 20 of this tick
    event(0, [0x80, 62, 3]),     // D5 off (960)
    endOfTrack(),
  ],
]);

// A file that sets up channel 3 the way real ones do, for the state a start after it sends: a bank
// and a program, a bank select after it with no program, RPN 0 stepped by increments, the fine and
// the coarse tuning, an NRPN, controllers, pressure and bend; and a reset of channel 4's controllers.
const setUp = file(0, division, [[
  event(0, [0xb2, 0, 1]),        // bank MSB 1
  event(0, [0xb2, 32, 2]),       // bank LSB 2
  event(0, [0xc2, 5]),           // program 6 in bank 1:2
  event(10, [0xb2, 0, 3]),       // bank MSB 3 with no program after it
  event(0, [0xb2, 101, 0]),      // RPN 0 (bend range) ...
  event(0, [0xb2, 100, 0]),
  event(0, [0xb2, 6, 12]),       // ... 12 semitones
  event(0, [0xb2, 96, 0]),       // ... up a cent
  event(0, [0xb2, 96, 0]),       // ... and another
  event(0, [0xb2, 101, 0]),      // RPN 1 (fine tuning) ...
  event(0, [0xb2, 100, 1]),
  event(0, [0xb2, 6, 70]),       // ... 70:5
  event(0, [0xb2, 38, 5]),
  event(0, [0xb2, 97, 0]),       // ... down one: 70:4
  event(0, [0xb2, 100, 2]),      // RPN 2 (coarse tuning), its MSB still 0 ...
  event(0, [0xb2, 6, 66]),       // ... 66 ...
  event(0, [0xb2, 96, 0]),       // ... up a semitone: 67
  event(0, [0xb2, 99, 1]),       // NRPN 1:8 ...
  event(0, [0xb2, 98, 8]),
  event(0, [0xb2, 6, 40]),       // ... 40
  event(0, [0xb2, 7, 90]),       // volume 90
  event(0, [0xb2, 71, 33]),      // resonance 33
  event(0, [0xd2, 44]),          // channel pressure
  event(0, [0xe2, 3, 80]),       // pitch bend
  event(0, [0xb3, 1, 20]),       // channel 4: modulation 20 ...
  event(0, [0xb3, 7, 70]),       // ... volume 70 ...
  event(0, [0xb3, 121, 0]),      // ... and a reset of its controllers, which the volume outlives
  event(10, [0x92, 60, 99]),     // C5 at 20
  event(100, [0x82, 60, 0]),
  endOfTrack(),
]]);

test('every channel event of the file is sent once, with its own bytes, at its time, in the file\'s order', () => {
  load(realWorld);
  const tracks = readTracks(realWorld);
  const got = play();
  // no state before the start but the resets: the file set nothing before tick 0
  const end = secondsOf(tracks, division, 1920);
  const expected = [...resets(0, 1), ...expectedEvents(tracks, division), ...endAt(end, [[0, 64], [0, 67]])]  // E5's note on came after its note off;
  sameMessages(got, expected, 'from the start');
  // the order at 960 spelled out: the pedal before track 3's note off, pan 100 last, E5's note off before its note on
  const at960 = got.filter(([time]) => Math.abs(time - secondsOf(tracks, division, 960)) < 1e-9).map(([, ...b]) => b.join(' '));
  assert.deepEqual(at960, ['176 64 127', '176 10 20', '128 64 11', '144 64 70', '128 60 2', '176 10 100', '128 62 3']);
});

test('started after a note on, its note off still goes out; a muted track sends no notes; transposed notes end as they were sent', () => {
  load(realWorld);
  const tracks = readTracks(realWorld);
  const at = (tick) => secondsOf(tracks, division, tick) - secondsOf(tracks, division, 600);
  // from 600: C5's second note off (720) and C6's (1200) end notes begun before the start
  const from600 = play(600).filter(([, ...b]) => isOff(b)).map(([time, ...b]) => [Number(time.toFixed(6)), ...b]);
  assert.deepEqual(from600.slice(0, 2), [[Number(at(720).toFixed(6)), 0x80, 60, 40], [Number(at(960).toFixed(6)), 0x80, 64, 11]]);
  assert.ok(from600.some(([, s, k, v]) => s === 0x91 && k === 72 && v === 0), 'C6\'s note off after a start past its note on');
  // at 1100 the notes sounding are lit from their start to their end in the roll: C6 (0 to 1200, track
  // index 2), and E5, begun at 960 after its own note off there (the roll ends it at once)
  play(0);
  seqStart(0, 0, () => {});
  seqRun(secondsOf(tracks, division, 1100) + 1e-6, () => {});
  const lit = [...seqSounding(1100, 16)];
  assert.deepEqual(lit, [960, 960, 64, 1, 0, 1200, 72, 2]);
  // track 2 (index 1) muted: none of its notes, but its controllers
  const muted = play(0, { muted: [0, 1, 0, 0] }).map(([, ...b]) => b.join(' '));
  for (const e of tracks[1].events.filter((e) => (e.bytes[0] & 0xe0) === 0x80)) {
    assert.ok(!muted.includes(e.bytes.join(' ')), `a muted track's ${e.bytes} was sent`);
  }
  assert.ok(muted.includes('176 10 20'), 'a muted track\'s controllers are still sent');
  // transposed up a fifth: every note off ends the key its note on was sent as
  const up = play(0, { transpose: 7 }).filter(([, s]) => (s & 0xe0) === 0x80);
  const sounding = new Map();
  for (const [, s, key, v] of up) {
    const slot = `${s & 0x0f} ${key}`;
    sounding.set(slot, (sounding.get(slot) ?? 0) + ((s & 0xf0) === 0x90 && v > 0 ? 1 : -1));
  }
  assert.ok(up.some(([, s, k]) => s === 0x90 && k === 67), 'C5 was not sent up a fifth');
  assert.deepEqual([...sounding].filter(([, n]) => n > 0), [], 'a transposed note was left sounding');
});

test('a start sends what the file set before it and only that: the bank at the program, parameters with their data', () => {
  load(setUp);
  const got = play(20).filter(([time]) => time === 0).map(([, ...b]) => b);
  const cc = (c, k, v) => [0xb0 | c, k, v];
  assert.deepEqual(got, [
    cc(2, 121, 0),
    cc(2, 0, 1), cc(2, 32, 2), [0xc2, 5, 0], cc(2, 0, 3), cc(2, 32, 2),  // bank at the program, the program, the bank since
    cc(2, 7, 90), cc(2, 71, 33),
    cc(2, 101, 0), cc(2, 100, 0), cc(2, 6, 12), cc(2, 38, 2),   // bend range 12 semitones 2 cents
    cc(2, 101, 0), cc(2, 100, 1), cc(2, 6, 70), cc(2, 38, 4),   // fine tuning stepped down
    cc(2, 101, 0), cc(2, 100, 2), cc(2, 6, 67),                 // coarse tuning stepped up
    cc(2, 99, 1), cc(2, 98, 8), cc(2, 6, 40),                   // the NRPN and its data
    cc(2, 99, 1), cc(2, 98, 8),                                 // the parameter chosen last
    [0xd2, 44, 0], [0xe2, 3, 80],
    cc(3, 121, 0), cc(3, 7, 70),                                // channel 4: the reset undid the modulation
    [0x92, 60, 99],                                             // then the note at the tick started from
  ]);
  // from the start: the resets and nothing else
  assert.deepEqual(play(0).filter(([time]) => time === 0).map(([, ...b]) => b).slice(0, 2), [cc(2, 121, 0), cc(3, 121, 0)]);
  assert.deepEqual(play(0).filter(([time]) => time === 0).length, readTracks(setUp)[0].events.filter((e) => e.tick === 0).length + 2);
});

test('the sample and generated files play every channel event as they read, then end with nothing left sounding', (t) => {
  const files = [fs.readFileSync(path.join(root, 'samples/demo.mid'))];
  const generator = process.env.SMFDUMP_GENERATOR ?? path.join(root, 'build/bench/make_big_smf');
  if (fs.existsSync(generator)) {
    const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-stream-'));
    for (const seed of [1, 2, 3]) {
      const where = path.join(scratch, `${seed}.mid`);
      execFileSync(generator, [where, '300K', String(seed)]);
      files.push(fs.readFileSync(where));
    }
    fs.rmSync(scratch, { recursive: true, force: true });
  } else {
    t.diagnostic(`no generator at ${generator}: the sample alone`);
  }
  let compared = 0;
  let worst = 0;
  for (const bytes of files) {
    const tracks = readTracks(bytes);
    const division = bytes.readUInt16BE(12);
    load(bytes);
    // the system exclusive (see play_test.mjs) aside: each message of the tracks played once
    const all = play();
    const sysex = all.filter(([, status]) => status === 0xf0).map(([, , i]) => i);
    const kept = seq.tracks.reduce((n, t) => n + seq.sysexFirst[t + 1] - seq.sysexFirst[t], 0);
    assert.deepEqual([new Set(sysex).size, sysex.length], [kept, kept], 'each system exclusive message sent once');
    const got = all.filter(([, status]) => status !== 0xf0);
    const events = expectedEvents(bytes[9] === 2 ? tracks.slice(0, 1) : tracks, division);
    const channels = [...new Set(events.map(([, status]) => status & 0x0f))].sort((a, b) => a - b);
    const expected = [...resets(...channels), ...events];
    assert.deepEqual(got.slice(0, expected.length).map(([, ...b]) => b), expected.map(([, ...b]) => b), 'the events as the file has them');
    expected.forEach(([time], i) => { worst = Math.max(worst, Math.abs(got[i][0] - time)); });
    compared += expected.length;
    // then the end, at or after the last event: note offs, then sustain off and all notes off
    const stop = got.slice(expected.length);
    assert.equal(stop.filter(([, s, k]) => (s & 0xf0) === 0xb0 && [64, 123].includes(k)).length, 32);
    assert.ok(stop.every(([time, s, , v]) => time === stop[0][0] && (((s & 0xf0) === 0x80 && v === 64) || (s & 0xf0) === 0xb0)));
    assert.ok(stop[0][0] >= expected[expected.length - 1][0] - 1e-9, `the stop at ${stop[0][0]} s, the last event at ${expected[expected.length - 1][0]} s (${got[expected.length - 1][0]} s played)`);
    const count = new Map();
    for (const [, s, key, v] of got.slice(0, -32)) {
      const slot = `${s & 0x0f} ${key}`;
      if ((s & 0xf0) === 0x90 && v > 0) count.set(slot, (count.get(slot) ?? 0) + 1);
      else if ((s & 0xe0) === 0x80) count.set(slot, Math.max(0, (count.get(slot) ?? 0) - 1));
    }
    assert.deepEqual([...count].filter(([, n]) => n > 0), [], 'a note was left sounding');
  }
  t.diagnostic(`${compared} messages of ${files.length} files compared; the worst time off by ${(worst * 1e6).toFixed(3)} microseconds`);
  assert.ok(worst < 1e-6);
});
