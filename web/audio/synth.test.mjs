// The synthesizer under Node: what a SoundFont's zone may ask of it must not hold up the audio thread.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { newSynth, synthQueue, synthRender, synthZones } from './synth.js';
import { packMessage } from '../shared/packing.js';

// A looped zone of one cycle of a sine, 100 frames long, on every key of bank 0 program 0.
function loopedZone(fields) {
  const sample = Int16Array.from({ length: 100 }, (_, i) => Math.round(16000 * Math.sin((2 * Math.PI * i) / 100)));
  return { bank: 0, program: 0, sample, sampleRate: 44100, start: 0, end: 100, loopStart: 0, loopEnd: 100, loop: 1, root: 60, tune: 0, st: 100, ...fields };
}

// Renders `quanta` quanta of key 127 played on channel 1 with zone; returns the sound's peak over the
// last ten.
function playKey127(zone, quanta) {
  const s = newSynth(48000);
  synthZones(s, [zone]);
  synthQueue(s, Float64Array.from([0, packMessage(0x90, 127, 100)]));
  const left = new Float32Array(128), right = new Float32Array(128);
  let peak = 0;
  for (let q = 0; q < quanta; q++) {
    synthRender(s, left, right, 128, q * 128);
    for (let i = 0; i < 128 && q >= quanta - 10; i++) peak = Math.max(peak, Math.abs(left[i]), Math.abs(right[i]));
  }
  return peak;
}

test('a zone tuned out of all bounds plays a quantum in a moment, and never a number that is not one', { timeout: 5000 }, () => {
  // root 0, 1200 cents a key, 192 kHz: key 127 asks for 2^137 frames a frame, which the loop's wrap
  // once stepped through a loop's length at a time (the audio thread never came back)
  for (const zone of [loopedZone({ root: 0, st: 1200, tune: 12000, sampleRate: 192000 }), loopedZone({ st: 1e308, sampleRate: 192000 })]) {
    const started = performance.now();
    const peak = playKey127(zone, 20);
    assert.ok(performance.now() - started < 1000, `20 quanta took ${performance.now() - started} ms`);
    assert.ok(Number.isFinite(peak), 'the sound is a number');
  }
  // a zone in tune still sounds, from its loop, long after its sample's length
  assert.ok(playKey127(loopedZone({ root: 127 }), 40) > 0.01, 'the looped zone in tune is silent by its 30th quantum');
});
