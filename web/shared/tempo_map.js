// The tempo map of the tracks that sound together, from the compact copy's tempo events: where each
// tempo segment starts in ticks and in the file's seconds, and its seconds per tick. Times are always
// reckoned from the map afresh, never by adding up deltas. The sequencer plays by it; the listing
// worker tells the page the time at a place by it.

const defaultTempo = 500000;  // microseconds per quarter note before any tempo event

// Why a file of this format and division can't be played, in a few words; null when it can.
export function unplayableTiming(format, division) {
  if (division === 0) return 'its division is 0 ticks per quarter note';
  if (division > 32768 && (division & 0xff) === 0) return 'its time code has 0 ticks per frame';
  if (format > 2) return `it has format ${format}, which has no tracks`;
  return null;
}

// The tracks (indexes) that sound together, those past the copy's `lastTicks.length` tracks left out,
// and the sequence's last tick: the latest of theirs.
export function sequenceOf(trackIndexes, lastTicks) {
  const tracks = trackIndexes.filter((t) => t >= 0 && t < lastTicks.length);
  let endTick = 0;
  for (const t of tracks) endTick = Math.max(endTick, lastTicks[t]);
  return { tracks, endTick };
}

// The map of the tracks (indexes) played: formats 0 and 1 take tempo events from every track, format
// 2 from its own tracks only; a time code plays frames and ticks as real time (29 frames meaning 29.97
// a second), whatever the tempo events say. tempos: { ticks, values, tracks } in listing order (each
// track's in order of time, track after track). Returns { ticks, seconds, perTick, at } (Float64Arrays,
// and `at`: the segment of the last tick reckoned).
export function makeTempoMap(format, division, tempos, tracks) {
  const ticks = [0];
  const seconds = [0];
  const perTick = [];
  if (division > 32768) {
    const frames = 256 - (division >> 8);
    const rate = frames === 29 ? 30000 / 1001 : frames;
    perTick.push(1 / (rate * (division & 0xff)));
  } else {
    perTick.push(defaultTempo / (1e6 * division));
    const own = format === 2 ? new Set(tracks) : null;
    // tempo events of all tracks in order of time, those of one tick in listing order
    const order = [];
    for (let i = 0; i < tempos.ticks.length; i += 1) if (!own || own.has(tempos.tracks[i])) order.push(i);
    order.sort((a, b) => tempos.ticks[a] - tempos.ticks[b] || a - b);
    for (const i of order) {
      const tick = tempos.ticks[i];
      const last = ticks.length - 1;
      const value = tempos.values[i] / (1e6 * division);
      if (tick === ticks[last]) {
        perTick[last] = value;  // of several tempos at one tick, the last holds
      } else {
        seconds.push(seconds[last] + (tick - ticks[last]) * perTick[last]);
        ticks.push(tick);
        perTick.push(value);
      }
    }
  }
  return { ticks: Float64Array.from(ticks), seconds: Float64Array.from(seconds), perTick: Float64Array.from(perTick), at: 0 };
}

// The file's seconds at tick (at the speed written); ticks reckoned one after another go on from the
// segment of the last.
export function secondsAt(map, tick) {
  let s = map.at;
  if (s >= map.ticks.length || map.ticks[s] > tick) s = 0;
  while (s + 1 < map.ticks.length && map.ticks[s + 1] <= tick) s += 1;
  map.at = s;
  return map.seconds[s] + (tick - map.ticks[s]) * map.perTick[s];
}

// The tempo segment that holds the file's seconds (the last of several at one time, when a tempo is 0).
export function segmentAt(map, seconds) {
  let low = 0;
  let high = map.seconds.length - 1;
  while (low < high) {
    const mid = (low + high + 1) >> 1;
    if (map.seconds[mid] <= seconds) low = mid;
    else high = mid - 1;
  }
  return low;
}

// The tick at the file's seconds.
export function tickAt(map, seconds) {
  const s = segmentAt(map, seconds);
  const per = map.perTick[s];
  if (per === 0) return map.ticks[s];
  return map.ticks[s] + (seconds - map.seconds[s]) / per;
}
