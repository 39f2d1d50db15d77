// The synthesizer under Node: what a SoundFont's zone may ask of it must not hold up the audio thread,
// and its zones play as their ranges, modulators and the voice cap say.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { newSynth, synthQueue, synthRender, synthStats, synthZones } from './synth.js';
import { packMessage } from '../shared/packing.js';

// A looped zone of one cycle of a sine, 100 frames long, on every key of bank 0 program 0.
function loopedZone(fields) {
  const sample = Int16Array.from({ length: 100 }, (_, i) => Math.round(16000 * Math.sin((2 * Math.PI * i) / 100)));
  return { bank: 0, program: 0, sample, sampleRate: 44100, start: 0, end: 100, loopStart: 0, loopEnd: 100, loop: 1, root: 60, tune: 0, st: 100, ...fields };
}

// A looped zone whose sample holds one level (half of full scale): its sound is its gain, so that
// levels and steps read straight off the output.
function levelZone(fields) {
  const sample = new Int16Array(64).fill(16384);
  return { bank: 0, program: 0, sample, sampleRate: 48000, start: 0, end: 64, loopStart: 8, loopEnd: 56, loop: 1, root: 60, tune: 0, st: 100, ...fields };
}

// Renders `seconds` of events ([time, status, first, second]) with zones (objects, or a table);
// returns the left channel, the right, and the statistics.
function render(zones, events, seconds) {
  const s = newSynth(48000);
  synthZones(s, zones);
  synthQueue(s, Float64Array.from(events.flatMap(([time, status, first, second]) => [time, packMessage(status, first, second)])));
  const frames = Math.ceil((seconds * 48000) / 128) * 128;
  const left = new Float32Array(frames), right = new Float32Array(frames);
  const l = new Float32Array(128), r = new Float32Array(128);
  for (let at = 0; at < frames; at += 128) {
    synthRender(s, l, r, 128, at);
    left.set(l, at);
    right.set(r, at);
  }
  return { left, right, stats: synthStats(s), synth: s };
}

// The RMS of both channels between two times, in dB.
function levelDb(sound, from, to) {
  let sum = 0;
  for (let i = Math.round(from * 48000); i < Math.round(to * 48000); i++) sum += sound.left[i] ** 2 + sound.right[i] ** 2;
  return 10 * Math.log10(sum / (2 * (Math.round(to * 48000) - Math.round(from * 48000))) + 1e-30);
}

// Renders `quanta` quanta of key 127 played on channel 1 with zone; returns the sound's peak over the
// last ten.
function playKey127(zone, quanta) {
  const sound = render([zone], [[0, 0x90, 127, 100]], (quanta * 128) / 48000);
  let peak = 0;
  for (let i = (quanta - 10) * 128; i < quanta * 128; i++) peak = Math.max(peak, Math.abs(sound.left[i]), Math.abs(sound.right[i]));
  return peak;
}

test('a zone tuned or timed out of all bounds plays a quantum in a moment, and never a number that is not one', { timeout: 5000 }, () => {
  // root 0, 1200 cents a key, 192 kHz: key 127 asks for 2^137 frames a frame, which the loop's wrap
  // once stepped through a loop's length at a time (the audio thread never came back); envelope times
  // scaled by key far past the longest, LFOs and envelope depths at and past their ends
  const hostile = [
    loopedZone({ root: 0, st: 1200, tune: 12000, sampleRate: 192000 }),
    loopedZone({ st: 1e308, sampleRate: 192000 }),
    loopedZone({ h: 18, kh: 1200, d: 100, ks: 24, med: 18, mea: 1e-9, meh: 18, mkh: -1200, mkd: 1e9, mep: 12000, mef: -12000,
      mlf: 1e6, mlp: 12000, mlc: 12000, mlv: 96, vlf: 1e300, vlp: -12000, fc: 100, qd: 96 }),
  ];
  for (const zone of hostile) {
    const started = performance.now();
    const peak = playKey127(zone, 20);
    assert.ok(performance.now() - started < 1000, `20 quanta took ${performance.now() - started} ms`);
    assert.ok(Number.isFinite(peak), 'the sound is a number');
  }
  // a zone in tune still sounds, from its loop, long after its sample's length
  assert.ok(playKey127(loopedZone({ root: 127 }), 40) > 0.01, 'the looped zone in tune is silent by its 30th quantum');
});

test('a note outside every zone\'s keys and velocities is silent; a program the zones lack plays the built-in sound', () => {
  const zones = [levelZone({ keyLo: 60, keyHi: 72, velLo: 50, velHi: 127 })];
  const notes = [[0, 0x90, 59, 100], [0.2, 0x80, 59, 0], [0.3, 0x90, 65, 49], [0.5, 0x80, 65, 0],  // below the keys; under the velocities
    [0.6, 0x90, 65, 50], [0.8, 0x80, 65, 0],                                                      // inside both
    [1.0, 0xc1, 40, 0], [1.0, 0x91, 59, 100]];                                                    // program 40 on channel 2: no zone has it
  const sound = render(zones, notes, 1.3);
  assert.ok(levelDb(sound, 0, 0.55) < -200, `the notes outside the zone sound at ${levelDb(sound, 0, 0.55)} dB`);
  assert.ok(levelDb(sound, 0.65, 0.75) > -60, 'the note inside the zone is silent');
  assert.ok(levelDb(sound, 1.1, 1.3) > -40, 'a program the zones lack is silent');
});

test('a stolen voice fades out in a few milliseconds rather than stopping at once', () => {
  // program 0: one loud level; program 1: silence. The loud note comes first, then 256 silent ones:
  // the last takes the loud one's voice, the oldest (on channels 2 to 9, not the drums' 10)
  const silent = levelZone({ program: 1, sample: new Int16Array(64) });
  const events = [[0, 0xb0, 91, 0], [0, 0x90, 60, 127]];  // no reverb: its tail would outlast the note
  for (let k = 0; k < 256; k++) events.push([0.1, 0xc1 + (k % 8), 1, 0], [0.1 + k * 0.0004, 0x91 + (k % 8), 40 + Math.floor(k / 8), 100]);
  const sound = render([levelZone({}), silent], events, 0.3);
  const loud = Math.abs(sound.left[Math.round(0.09 * 48000)]);
  let step = 0;
  for (let i = 1; i < sound.left.length; i++) step = Math.max(step, Math.abs(sound.left[i] - sound.left[i - 1]));
  assert.ok(loud > 0.05, `the loud note plays at ${loud}`);
  assert.ok(step < 0.1 * loud, `the output steps by ${step}, against a note of ${loud}`);
  assert.ok(Math.abs(sound.left[Math.round(0.25 * 48000)]) < 0.001 * loud, 'the loud note was not stolen');
});

test('a chord of 64 notes of six layers each, struck at once, keeps its lowest notes whichever way it is struck', () => {
  const layers = Array.from({ length: 6 }, (_, i) => loopedZone({ tune: i * 3 }));
  for (const order of [1, -1]) {
    const keys = Array.from({ length: 64 }, (_, i) => 30 + i).sort((a, b) => order * (a - b));
    const { synth, stats } = render(layers, keys.map((key) => [0.01, 0x90, key, 90]), 0.05);
    const sounding = new Set(synth.voices.filter((v) => v.on && !v.fading).map((v) => v.key));
    assert.ok(stats.voicesPeak <= stats.voiceCap, `${stats.voicesPeak} voices at once, over the cap`);
    assert.ok(sounding.has(30) && sounding.has(31), `the lowest notes are gone (struck ${order > 0 ? 'upwards' : 'downwards'})`);
    assert.ok(!sounding.has(93), 'the top note sounds while lower ones had no voices');
  }
});

test('modulators of a zone\'s own list: curves, an amount source and the absolute value', () => {
  // one zone, a table of its own modulators (each: source word, destination, amount source, transform)
  const words = Uint32Array.from([
    0x0482, 48, 0, 0,       // CC 2, concave: attenuation, 960 cB at the top
    0x0083, 48, 0x0084, 0,  // CC 3, linear, times CC 4: attenuation, 400 cB at the top of both
    0x020e, 48, 0, 2,       // pitch wheel, bipolar, its absolute value: attenuation, 300 cB either way
  ]);
  const amounts = Float32Array.from([960, 400, 300]);
  const zone = levelZone({});
  const fields = ['bank', 'program', 'keyLo', 'keyHi', 'velLo', 'velHi', 'sampleRate', 'end', 'loopStart', 'loopEnd', 'loop', 'root', 'm0', 'mn'];
  const table = { sample: zone.sample, fields, rows: Float64Array.from([0, 0, 0, 127, 0, 127, 48000, 64, 8, 56, 1, 60, 0, 3]), common: {}, modulators: { words, amounts } };
  const at = (time, ...message) => [time, ...message];
  const sound = render(table, [at(0, 0x90, 60, 127),
    at(0.2, 0xb0, 2, 64),                        // concave at a half: -(5/12) log10(1/2) of 960 cB, 12.0 dB
    at(0.4, 0xb0, 2, 0), at(0.4, 0xb0, 3, 64),   // CC 3 at a half with CC 4 at 0: nothing
    at(0.6, 0xb0, 4, 64),                        // and CC 4 at a half: a quarter of 400 cB, 10 dB
    at(0.8, 0xb0, 3, 0), at(0.8, 0xe0, 0, 0),    // the wheel at the bottom: 300 cB, 30 dB
    at(1.0, 0xe0, 0x7f, 0x7f)], 1.2);            // at the top: 8191/8192 of it
  const base = levelDb(sound, 0.1, 0.19);
  const drops = [0.3, 0.5, 0.7, 0.9, 1.1].map((t) => base - levelDb(sound, t, t + 0.09));
  const expected = [12.04, 0, 10, 30, 30 * (8191 / 8192)];
  drops.forEach((drop, i) => assert.ok(Math.abs(drop - expected[i]) < 0.1, `step ${i}: ${drop.toFixed(2)} dB quieter, not ${expected[i]}`));
  // the table's list replaces the defaults: velocity no longer sets the level
  const soft = render(table, [at(0, 0x90, 60, 20)], 0.2);
  assert.ok(Math.abs(levelDb(soft, 0.1, 0.19) - base) < 0.1, 'velocity 20 is quieter than 127 with no modulator of velocity');
});
