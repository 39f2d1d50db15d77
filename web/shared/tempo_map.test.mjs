// The tempo map: times at ticks reckoned from the segments, never added up tick by tick.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { makeTempoMap, secondsAt, tickAt, unplayableTiming } from './tempo_map.js';

// tempo events as [tick, microseconds per quarter note, track]
const tempos = (...events) => ({ ticks: events.map((e) => e[0]), values: events.map((e) => e[1]), tracks: events.map((e) => e[2]) });

test('formats 0 and 1 take every track\'s tempos; of several at one tick the last holds', () => {
  // 480 ticks a quarter; 120 bpm until tick 960, then 60 bpm (set twice at that tick: 100 bpm, then 60 bpm)
  const map = makeTempoMap(1, 480, tempos([960, 600000, 1], [960, 1000000, 0]), [0, 1]);
  assert.equal(secondsAt(map, 0), 0);
  assert.equal(secondsAt(map, 480), 0.5);
  assert.equal(secondsAt(map, 960), 1);
  assert.equal(secondsAt(map, 1440), 2);
  assert.equal(secondsAt(map, 720), 0.75, 'a tick before the last one reckoned');
  assert.equal(tickAt(map, 1.5), 1200);
});

test('format 2 takes the tempos of its own track only', () => {
  const map = makeTempoMap(2, 96, tempos([0, 250000, 0], [0, 2000000, 1]), [1]);
  assert.equal(secondsAt(map, 96), 2);
});

test('a time code plays frames and ticks as real time, 29 frames as 29.97 a second', () => {
  // -25 frames (0xE7), 40 ticks a frame: a millisecond a tick, whatever the tempo events say
  const map = makeTempoMap(1, 0xe728, tempos([0, 100000, 0]), [0]);
  const near = (actual, expected) => assert.ok(Math.abs(actual - expected) < 1e-9, `${actual} s, not ${expected}`);
  near(secondsAt(map, 1000), 1);
  const drop = makeTempoMap(1, 0xe302, tempos(), [0]);  // -29 frames, 2 ticks a frame
  near(secondsAt(drop, 60000), 1001);
});

test('a tempo of 0 stops time: the tick at that time is where it stopped', () => {
  const map = makeTempoMap(0, 100, tempos([100, 0, 0], [300, 500000, 0]), [0]);
  assert.equal(secondsAt(map, 200), 0.5);
  assert.equal(secondsAt(map, 400), 1);
  assert.equal(tickAt(map, 0.5), 300, 'the last segment that starts at that time');
});

test('why a file can\'t be played', () => {
  assert.equal(unplayableTiming(1, 0), 'its division is 0 ticks per quarter note');
  assert.equal(unplayableTiming(1, 0xe700), 'its time code has 0 ticks per frame');
  assert.equal(unplayableTiming(3, 480), 'it has format 3, which has no tracks');
  assert.equal(unplayableTiming(2, 480), null);
});
