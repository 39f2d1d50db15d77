// The sequencer: plays the compact copy of a file's events (made by the listing's own pass in the
// module, read by shared/play_data.js) as timed MIDI messages. No DOM, so that it runs where the sound
// is made (the audio worklet, beside the synthesizer; the main thread in the fallback without a
// worklet; the offline context that renders a WAV file) and in the timer worker that feeds a Web MIDI
// output.
//
// Time: the host gives times in its own clock, in seconds (the audio context's time, or
// performance.now() / 1000 in the timer worker). Each message's time is computed from the tempo map
// (shared/tempo_map.js) afresh (never by adding up delta times): the file's seconds at a tick from the
// map, then the host's time from the anchor, the host time at which a given second of the file
// sounds, and the speed.
//
// API (one sequencer per global scope; `seq` holds its state):
//   seqLoad(buffer)                 takes the compact copy; returns what it holds (tracks, whether it plays)
//   seqSelect(trackIndexes)         the tracks that sound together (format 2: one) and their tempo map
//   seqPrepare(tick, most)          reads ahead, at most `most` events, for a start at tick; true when a
//                                   start there has nothing left to read (a worklet spreads it over quanta)
//   seqStart(tick, at, emit)        plays from tick at host time `at`, after the state the events before
//                                   it left (program, bank, controllers, bend range, bend, pressure)
//   seqRun(until, emit)             emits every message due before host time `until`; false once ended
//   seqStop(at, emit)               note offs for what sounds, then sustain off, all notes off and all
//                                   sound off on all 16 channels, at host time `at`
//   seqSetSpeed(speed, at), seqSetTranspose(semitones), seqSetMuted(flags, at, emit), seqSetLoop(a, b),
//   seqSetEnd(tick)                 ends playing at tick, the notes sounding then released
//   seqShift(seconds)               moves what is still to play later in host time
//   seqPosition(now)                the tick sounding at host time `now`, and how fast ticks go by
//   seqSounding(tick, most)         the notes sounding at tick: start, end, key, track of each
//   seqSecondsAt(tick)              the file's seconds at tick (at the speed written)
// emit(time, status, first, second) is called for each message in order of time; program change and
// channel pressure have no second data byte (it is given as 0). Of the messages of one tick, note offs
// come first, then each track's other events and note ons in the order its file has them, the events
// that come before a track's first note at that tick (of any track) before any note.
import { readPlayData } from '../shared/play_data.js';
import { makeTempoMap, secondsAt, segmentAt, sequenceOf, tickAt, unplayableTiming } from '../shared/tempo_map.js';

const seqRankMost = 1023;        // notes of one tick in one track whose order among the track's events is kept

export const seq = {
  // ---- the file ----
  loaded: false,          // whether a compact copy is held
  buffer: null,           // the copy itself (an ArrayBuffer), whose views the lists below are
  format: 0,              // the header's format
  division: 0,            // the header's division (above 32768: a time code)
  trackCount: 0,          // tracks listed
  firstNotes: null,       // per track, the index of its first note (and the notes' count at the end)
  firstEvents: null,      // per track, the index of its first channel event (and the count at the end)
  trackNumbers: null,     // per track, its number in the file
  lastTicks: null,        // per track, the latest end of its notes or tick of its events
  noteStarts: null,       // per note, the tick of its note on
  noteWords: null,        // per note, key (bits 0-6), velocity (7-13), channel (14-17), duration (18-31)
  longIndexes: null,      // notes whose duration did not fit in their word, in order
  longDurations: null,    // their durations
  eventTicks: null,       // per channel event, its tick
  eventBytes: null,       // per channel event, status and data bytes (bits 0-7, 8-14, 15-21) and the notes
                          // of its track at its tick before it (22-31)
  tempoTicks: null,       // per tempo event (listing order), its tick
  tempoValues: null,      // its microseconds per quarter note
  tempoTracks: null,      // its track
  notPlayable: 0,         // events the copy left out (bytes above 127, past a wrapped total)
  // ---- the sequence: the tracks that sound together, and their tempo map ----
  tracks: [],             // track indexes played, in file order
  map: { ticks: new Float64Array(1), seconds: new Float64Array(1), perTick: new Float64Array(1), at: 0 },  // the tempo map (see tempo_map.js)
  endTick: 0,             // the last tick of the sequence: its last note's end or event
  usedControllers: new Uint8Array(16 * 128),  // 1 where a channel's controller changes somewhere in the sequence
  usedOther: new Uint8Array(16),    // per channel: 1 program, 2 bend, 4 channel pressure, 8 bend range (RPN 0)
  usedReady: false,       // whether the two above hold the whole sequence's (seqPrepare reads it first)
  useTrack: 0,            // while not: the sequence track and event where that reading goes on
  useEvent: 0,
  chases: [],             // the state before the ticks started from lately (see seqChaseNew), newest first
  // ---- playing ----
  playing: false,         // whether messages are being made
  anchorTime: 0,          // the host time at which anchorSeconds of the file sound
  anchorSeconds: 0,
  speed: 1,               // 1 plays as written
  before: { time: -Infinity, seconds: 0, speed: 1 },  // the anchor before the last, for times before anchorTime
  transpose: 0,           // semitones added to every note but channel 10's
  muted: new Uint8Array(0),  // per track, 1 when its notes are not played
  loopA: -1,              // the loop's first tick and the tick at which it goes back (-1: no loop)
  loopB: -1,
  endAt: Infinity,        // the tick at which playing ends, when not at the sequence's end
  horizon: 0,             // the host time up to which messages have been made
  // the streams (each track's notes and events) by their next item, in a heap: by tick, then by the
  // item's order within its tick (an event with n notes of its track before it at that tick: 2n; the
  // track's note n of that tick: 2n + 1), then by the track's place in the sequence
  noteAt: new Uint32Array(0),   // per sequence track, its next note
  noteRank: new Uint16Array(0), // per sequence track, the notes of its track before that one at its tick
  eventAt: new Uint32Array(0),  // per sequence track, its next event
  streamIds: new Int32Array(0), // the heap: stream ids (2 * position + kind: 0 events, 1 notes)
  streamTicks: new Float64Array(0),  // the tick of each stream's next item
  streamOrders: new Float64Array(0), // its order within the tick and the track's place: order * 65536 + place
  streamCount: 0,
  // the notes sounding, by their end, in a heap
  offEnds: new Float64Array(64),
  offStarts: new Float64Array(64),
  offWords: new Uint32Array(64),  // key sent (bits 0-6), key written (7-13), channel (14-17)
  offTracks: new Int32Array(64),
  offCount: 0,
};

// ---- the file ----

// Takes the compact copy (an ArrayBuffer of 32-bit words) and returns what it holds: its format, its
// tracks (number, notes, events) and whether it can be played, or why not.
export function seqLoad(buffer) {
  const { head, lists } = readPlayData(buffer);
  const { format, division, tracks } = head;
  const notPlayable = head.not_playable;
  Object.assign(seq, { loaded: true, buffer, format, division, trackCount: tracks, notPlayable });
  seq.firstNotes = lists.track_first_notes;
  seq.firstEvents = lists.track_first_events;
  seq.trackNumbers = lists.track_numbers;
  seq.lastTicks = lists.track_last_ticks;
  seq.noteStarts = lists.note_starts;
  seq.noteWords = lists.note_words;
  seq.longIndexes = lists.long_note_indexes;
  seq.longDurations = lists.long_note_durations;
  seq.eventTicks = lists.event_ticks;
  seq.eventBytes = lists.event_bytes;
  seq.tempoTicks = lists.tempo_ticks;
  seq.tempoValues = lists.tempo_values;
  seq.tempoTracks = lists.tempo_tracks;
  seq.muted = new Uint8Array(tracks);
  seq.playing = false;
  seq.offCount = 0;
  seq.streamCount = 0;
  seq.loopA = -1;
  seq.loopB = -1;
  seq.tracks = [];  // until a selection
  seq.usedReady = false;
  seq.chases = [];
  const list = [];
  for (let t = 0; t < tracks; t += 1) {
    list.push({ index: t, number: seq.trackNumbers[t], notes: seq.firstNotes[t + 1] - seq.firstNotes[t],
      events: seq.firstEvents[t + 1] - seq.firstEvents[t] });
  }
  return { format, division, tracks: list, notPlayable, unplayable: seqUnplayable() };
}

// Lets go of the compact copy: returns its buffer (to hand on; null when none was held).
export function seqUnload() {
  const buffer = seq.buffer;
  seq.loaded = false;
  seq.buffer = null;
  return buffer;
}

// Why the file can't be played, in a few words; null when it can.
function seqUnplayable() {
  return unplayableTiming(seq.format, seq.division);
}

// The duration of note n in ticks.
function seqDuration(n) {
  const held = seq.noteWords[n] >>> 18;
  if (held < 0x3fff) return held;
  let low = 0;
  let high = seq.longIndexes.length - 1;
  while (low < high) {
    const mid = (low + high) >> 1;
    if (seq.longIndexes[mid] < n) low = mid + 1;
    else high = mid;
  }
  return seq.longDurations[low];
}

// The first index in list[from, to) whose value is tick or more.
function seqFirstAtOrAfter(list, from, to, tick) {
  let low = from;
  let high = to;
  while (low < high) {
    const mid = (low + high) >>> 1;
    if (list[mid] < tick) low = mid + 1;
    else high = mid;
  }
  return low;
}

// ---- the sequence and its tempo map ----

// Chooses the tracks that sound together (track indexes, in file order) and makes their tempo map.
export function seqSelect(trackIndexes) {
  const { tracks, endTick } = sequenceOf(trackIndexes, seq.lastTicks);
  seq.tracks = tracks;
  const k = seq.tracks.length;
  seq.noteAt = new Uint32Array(k);
  seq.noteRank = new Uint16Array(k);
  seq.eventAt = new Uint32Array(k);
  seq.streamIds = new Int32Array(2 * k);
  seq.streamTicks = new Float64Array(2 * k);
  seq.streamOrders = new Float64Array(2 * k);
  seq.streamCount = 0;
  seq.playing = false;
  seq.offCount = 0;
  seq.map = makeTempoMap(seq.format, seq.division, { ticks: seq.tempoTicks, values: seq.tempoValues, tracks: seq.tempoTracks }, seq.tracks);
  // where the sequence ends; what its channels use (for the state sent before a start) is read later,
  // by seqPrepare, since it takes every event of the sequence
  seq.endTick = endTick;
  seq.usedControllers.fill(0);
  seq.usedOther.fill(0);
  seq.usedReady = false;
  seq.useTrack = 0;
  seq.useEvent = 0;
  seq.chases = [];
}

// Marks what a channel event changes among what a start must set.
function seqNoteUse(bytes) {
  const channel = bytes & 0x0f;
  const kind = bytes & 0xf0;
  const first = (bytes >> 8) & 0x7f;
  if (kind === 0xb0) {
    seq.usedControllers[channel * 128 + first] = 1;
    if (first === 6 || first === 38) seq.usedOther[channel] |= 8;
  } else if (kind === 0xc0) {
    seq.usedOther[channel] |= 1;
  } else if (kind === 0xe0) {
    seq.usedOther[channel] |= 2;
  } else if (kind === 0xd0) {
    seq.usedOther[channel] |= 4;
  }
}

// The file's seconds at tick, from the tempo map (at the speed written).
export function seqSecondsAt(tick) {
  return secondsAt(seq.map, tick);
}

// The host time at which tick sounds, from the anchor.
function seqTimeOf(tick) {
  return seq.anchorTime + (seqSecondsAt(tick) - seq.anchorSeconds) / seq.speed;
}

// ---- the streams: each sequence track's events and notes, merged in order of time ----

// The tick of stream id's next item (Infinity when it has nothing left), and its order within that
// tick, kept in `stream` for the heap.
function seqStreamKey(id, at) {
  const k = id >> 1;
  const t = seq.tracks[k];
  if (id & 1) {
    const n = seq.noteAt[k];
    if (n >= seq.firstNotes[t + 1]) {
      seq.streamTicks[at] = Infinity;
      return;
    }
    seq.streamTicks[at] = seq.noteStarts[n];
    seq.streamOrders[at] = (2 * seq.noteRank[k] + 1) * 65536 + k;
    return;
  }
  const e = seq.eventAt[k];
  if (e >= seq.firstEvents[t + 1]) {
    seq.streamTicks[at] = Infinity;
    return;
  }
  seq.streamTicks[at] = seq.eventTicks[e];
  seq.streamOrders[at] = 2 * (seq.eventBytes[e] >>> 22) * 65536 + k;
}

// Whether heap entry i comes before heap entry j.
function seqStreamBefore(i, j) {
  const a = seq.streamTicks[i];
  const b = seq.streamTicks[j];
  return a < b || (a === b && seq.streamOrders[i] < seq.streamOrders[j]);
}

// Swaps heap entries i and j.
function seqStreamSwap(i, j) {
  const id = seq.streamIds[i];
  const tick = seq.streamTicks[i];
  const order = seq.streamOrders[i];
  seq.streamIds[i] = seq.streamIds[j];
  seq.streamTicks[i] = seq.streamTicks[j];
  seq.streamOrders[i] = seq.streamOrders[j];
  seq.streamIds[j] = id;
  seq.streamTicks[j] = tick;
  seq.streamOrders[j] = order;
}

// Moves heap entry i up or down to its place.
function seqStreamSift(i) {
  while (i > 0 && seqStreamBefore(i, (i - 1) >> 1)) {
    seqStreamSwap(i, (i - 1) >> 1);
    i = (i - 1) >> 1;
  }
  for (;;) {
    let child = 2 * i + 1;
    if (child >= seq.streamCount) break;
    if (child + 1 < seq.streamCount && seqStreamBefore(child + 1, child)) child += 1;
    if (!seqStreamBefore(child, i)) break;
    seqStreamSwap(i, child);
    i = child;
  }
}

// Puts every stream of the sequence (or its events' alone) at its first item at or after tick, into
// the heap.
function seqStreamsFrom(tick, withNotes = true) {
  seq.streamCount = 0;
  seq.tracks.forEach((t, k) => {
    seq.noteAt[k] = seqFirstAtOrAfter(seq.noteStarts, seq.firstNotes[t], seq.firstNotes[t + 1], tick);
    seq.noteRank[k] = 0;  // the first note at its tick: those before it are before `tick`
    seq.eventAt[k] = seqFirstAtOrAfter(seq.eventTicks, seq.firstEvents[t], seq.firstEvents[t + 1], tick);
    for (const id of withNotes ? [2 * k, 2 * k + 1] : [2 * k]) {
      const at = seq.streamCount;
      seqStreamKey(id, at);
      if (seq.streamTicks[at] === Infinity) continue;
      seq.streamIds[at] = id;
      seq.streamCount += 1;
      seqStreamSift(at);
    }
  });
}

// Moves the stream at the top of the heap past its item; with `drop`, takes it out of the heap.
function seqStreamNext(drop = false) {
  const id = seq.streamIds[0];
  const k = id >> 1;
  if (id & 1) {
    const n = seq.noteAt[k];
    seq.noteAt[k] = n + 1;
    const same = n + 1 < seq.firstNotes[seq.tracks[k] + 1] && seq.noteStarts[n + 1] === seq.noteStarts[n];
    seq.noteRank[k] = same ? Math.min(seq.noteRank[k] + 1, seqRankMost) : 0;
  } else {
    seq.eventAt[k] += 1;
  }
  if (drop) seq.streamTicks[0] = Infinity;
  else seqStreamKey(id, 0);
  if (seq.streamTicks[0] === Infinity) {
    seq.streamCount -= 1;
    seqStreamSwap(0, seq.streamCount);
  }
  if (seq.streamCount > 0) seqStreamSift(0);
}

// ---- the notes sounding, by their end ----

// Moves entry i of the notes sounding up or down to its place.
function seqOffSift(i) {
  const end = seq.offEnds[i];
  const start = seq.offStarts[i];
  const word = seq.offWords[i];
  const track = seq.offTracks[i];
  const move = (from, to) => {
    seq.offEnds[to] = seq.offEnds[from];
    seq.offStarts[to] = seq.offStarts[from];
    seq.offWords[to] = seq.offWords[from];
    seq.offTracks[to] = seq.offTracks[from];
  };
  while (i > 0) {
    const parent = (i - 1) >> 1;
    if (seq.offEnds[parent] <= end) break;
    move(parent, i);
    i = parent;
  }
  for (;;) {
    let child = 2 * i + 1;
    if (child >= seq.offCount) break;
    if (child + 1 < seq.offCount && seq.offEnds[child + 1] < seq.offEnds[child]) child += 1;
    if (seq.offEnds[child] >= end) break;
    move(child, i);
    i = child;
  }
  seq.offEnds[i] = end;
  seq.offStarts[i] = start;
  seq.offWords[i] = word;
  seq.offTracks[i] = track;
}

// Keeps a note sounding until its end.
function seqOffAdd(end, start, word, track) {
  if (seq.offCount === seq.offEnds.length) {
    const grow = (list) => {
      const more = new list.constructor(list.length * 2);
      more.set(list);
      return more;
    };
    seq.offEnds = grow(seq.offEnds);
    seq.offStarts = grow(seq.offStarts);
    seq.offWords = grow(seq.offWords);
    seq.offTracks = grow(seq.offTracks);
  }
  const i = seq.offCount;
  seq.offCount += 1;
  seq.offEnds[i] = end;
  seq.offStarts[i] = start;
  seq.offWords[i] = word;
  seq.offTracks[i] = track;
  seqOffSift(i);
}

// Takes the note that ends first out of the notes sounding.
function seqOffTake() {
  seq.offCount -= 1;
  const last = seq.offCount;
  if (last === 0) return;
  seq.offEnds[0] = seq.offEnds[last];
  seq.offStarts[0] = seq.offStarts[last];
  seq.offWords[0] = seq.offWords[last];
  seq.offTracks[0] = seq.offTracks[last];
  seqOffSift(0);
}

// Ends at `at` every note sounding for which keep(i) is false; keeps the others.
function seqOffEnd(at, emit, keep) {
  let kept = 0;
  for (let i = 0; i < seq.offCount; i += 1) {
    if (keep(i)) {
      seq.offEnds[kept] = seq.offEnds[i];
      seq.offStarts[kept] = seq.offStarts[i];
      seq.offWords[kept] = seq.offWords[i];
      seq.offTracks[kept] = seq.offTracks[i];
      kept += 1;
    } else {
      const word = seq.offWords[i];
      emit(at, 0x80 | ((word >> 14) & 0x0f), word & 0x7f, 64);
    }
  }
  // the heap made again, one entry at a time
  for (seq.offCount = 1; seq.offCount <= kept; seq.offCount += 1) seqOffSift(seq.offCount - 1);
  seq.offCount = kept;
}

// ---- playing ----

// Controller slots 125 to 127 of a chase (all notes off, mono and poly on are never chased) hold the
// program, the channel pressure and the bend, as 14 bits less 8192 (-32768: centred).
const seqSlotProgram = 128 - 3;
const seqSlotPressure = 128 - 2;
const seqSlotBend = 128 - 1;

// A chase of the state before tick, not yet read: each sequence track's events before tick are read
// once, in order (track k from event e, -1 before its first); a value is kept unless a later one (by
// tick, then by track) was kept already; the few events that choose parameters and enter their data
// are kept to be replayed in the order they play, since their meaning depends on each other across
// tracks.
function seqChaseNew(tick) {
  return {
    tick, k: 0, e: -1, end: 0, done: false,
    values: new Int16Array(16 * 128).fill(-1),   // controllers (-1: the usual value), then the slots above
    stamps: new Float64Array(16 * 128).fill(-1),  // the tick * 65536 + place of the value kept
    parameters: [],                               // stamp and bytes of each event to replay
    chosen: new Int16Array(32).fill(127),         // then: the parameter numbers chosen (CC 101 and 100, or 99 and 98)
    registered: new Uint8Array(16).fill(1),       // whether the last chosen was registered (RPN) or not (NRPN)
    range: new Int16Array(32).fill(-1),           // the bend range's data entry, coarse and fine
  };
}

// Reads the events [from, to) of sequence track k into the chase.
function seqChaseRead(chase, k, from, to) {
  const { values, stamps, parameters } = chase;
  const keep = (slot, value, stamp) => {
    if (stamp < stamps[slot]) return;
    stamps[slot] = stamp;
    values[slot] = value;
  };
  for (let e = from; e < to; e += 1) {
    const bytes = seq.eventBytes[e];
    const c = bytes & 0x0f;
    const first = (bytes >> 8) & 0x7f;
    const second = (bytes >> 15) & 0x7f;
    const stamp = seq.eventTicks[e] * 65536 + k;
    switch (bytes & 0xf0) {
      case 0xb0:
        if (first === 121) {  // reset all controllers, as General MIDI has it
          for (const slot of [1, 11, 64, 65, 66, 67, seqSlotPressure]) keep(c * 128 + slot, -1, stamp);
          keep(c * 128 + seqSlotBend, -32768, stamp);
          parameters.push(stamp, bytes);
        } else if (first === 6 || first === 38 || (first >= 96 && first <= 101)) {
          parameters.push(stamp, bytes);
        } else if (first < 120) {
          keep(c * 128 + first, second, stamp);
        }
        break;
      case 0xc0: keep(c * 128 + seqSlotProgram, first, stamp); break;
      case 0xd0: keep(c * 128 + seqSlotPressure, first, stamp); break;
      case 0xe0: keep(c * 128 + seqSlotBend, (first | (second << 7)) - 8192, stamp); break;
      default: break;
    }
  }
}

// Replays the chase's parameter events in the order they play: the parameters chosen and the bend
// range entered.
function seqChaseReplay(chase) {
  const { parameters, chosen, registered, range } = chase;
  const order = [];
  for (let i = 0; i < parameters.length; i += 2) order.push(i);
  order.sort((a, b) => parameters[a] - parameters[b] || a - b);
  for (const i of order) {
    const bytes = parameters[i + 1];
    const c = bytes & 0x0f;
    const first = (bytes >> 8) & 0x7f;
    const second = (bytes >> 15) & 0x7f;
    if (first === 121) {
      chosen[2 * c] = 127;
      chosen[2 * c + 1] = 127;
    } else if (first === 101 || first === 100) {
      chosen[2 * c + (first === 100 ? 1 : 0)] = second;
      registered[c] = 1;
    } else if (first === 99 || first === 98) {
      chosen[2 * c + (first === 98 ? 1 : 0)] = second;
      registered[c] = 0;
    } else if ((first === 6 || first === 38) && registered[c] && chosen[2 * c] === 0 && chosen[2 * c + 1] === 0) {
      range[2 * c + (first === 38 ? 1 : 0)] = second;
    }
  }
  chase.parameters = [];
  chase.done = true;
}

// Reads ahead for a start at tick, at most `most` events: first what the sequence's channels use (once
// a selection), then the state the events before tick leave (kept for the last few ticks asked, so
// that a loop's start is read once). Returns true when a start at tick has nothing left to read.
export function seqPrepare(tick, most = Infinity) {
  tick = Math.max(0, Math.floor(tick));
  let left = most;
  while (!seq.usedReady) {
    if (seq.useTrack >= seq.tracks.length) {
      seq.usedReady = true;
      break;
    }
    const t = seq.tracks[seq.useTrack];
    const from = Math.max(seq.useEvent, seq.firstEvents[t]);
    const to = Math.min(seq.firstEvents[t + 1], from + left);
    for (let e = from; e < to; e += 1) seqNoteUse(seq.eventBytes[e]);
    left -= to - from;
    if (to < seq.firstEvents[t + 1]) {
      seq.useEvent = to;
      return false;
    }
    seq.useTrack += 1;
    seq.useEvent = 0;
  }
  let chase = seq.chases.find((c) => c.tick === tick);
  if (!chase) {
    chase = seqChaseNew(tick);
    seq.chases = [chase, ...seq.chases.slice(0, 2)];
  } else if (seq.chases[0] !== chase) {
    seq.chases = [chase, ...seq.chases.filter((c) => c !== chase)];
  }
  while (!chase.done) {
    if (chase.k >= seq.tracks.length) {
      seqChaseReplay(chase);
      break;
    }
    const t = seq.tracks[chase.k];
    if (chase.e < 0) {
      chase.e = seq.firstEvents[t];
      chase.end = seqFirstAtOrAfter(seq.eventTicks, seq.firstEvents[t], seq.firstEvents[t + 1], tick);
    }
    const to = Math.min(chase.end, chase.e + left);
    seqChaseRead(chase, chase.k, chase.e, to);
    left -= to - chase.e;
    chase.e = to;
    if (to < chase.end) return false;
    chase.k += 1;
    chase.e = -1;
  }
  return true;
}

// Sends at `at` the state the sequence's events before tick leave on each channel they use: bank,
// program, controllers (those never set yet at their usual value), the pitch bend range (RPN 0) and
// the parameter chosen, channel pressure and pitch bend. Channel mode messages are not sent again.
// Reads what seqPrepare has not read yet.
export function seqChase(tick, at, emit) {
  seqPrepare(tick);
  const { values, stamps, chosen, registered, range } = seq.chases[0];
  const defaults = { 7: 100, 8: 64, 10: 64, 11: 127 };
  for (let c = 0; c < 16; c += 1) {
    const used = seq.usedOther[c];
    const controllers = seq.usedControllers.subarray(c * 128, c * 128 + 128);
    const value = (k) => (values[c * 128 + k] >= 0 ? values[c * 128 + k] : defaults[k] ?? 0);
    const cc = (k, v) => emit(at, 0xb0 | c, k, v);
    if (controllers[0]) cc(0, value(0));
    if (controllers[32]) cc(32, value(32));
    if (used & 1) emit(at, 0xc0 | c, value(seqSlotProgram), 0);
    for (let k = 1; k < 120; k += 1) {
      if (!controllers[k] || k === 32 || k === 6 || k === 38 || (k >= 96 && k <= 101)) continue;
      cc(k, value(k));
    }
    if (used & 8) {
      cc(101, 0);
      cc(100, 0);
      cc(6, range[2 * c] >= 0 ? range[2 * c] : 2);
      cc(38, range[2 * c + 1] >= 0 ? range[2 * c + 1] : 0);
    }
    if (used & 8 || controllers[101] || controllers[100] || controllers[99] || controllers[98]) {
      cc(registered[c] ? 101 : 99, chosen[2 * c]);
      cc(registered[c] ? 100 : 98, chosen[2 * c + 1]);
    }
    if (used & 4) emit(at, 0xd0 | c, value(seqSlotPressure), 0);
    if (used & 2) {
      const bend = seqSlotBend;
      const b = stamps[c * 128 + bend] >= 0 && values[c * 128 + bend] !== -32768 ? values[c * 128 + bend] + 8192 : 8192;
      emit(at, 0xe0 | c, b & 0x7f, b >> 7);
    }
  }
}

// Plays from tick at host time `at`: first the state the events before it leave, then everything
// from tick on.
export function seqStart(tick, at, emit) {
  tick = Math.max(0, Math.floor(tick));
  seqChase(tick, at, emit);
  seqStreamsFrom(tick);
  seq.offCount = 0;
  seq.before = { time: -Infinity, seconds: seqSecondsAt(tick), speed: seq.speed };
  seq.anchorTime = at;
  seq.anchorSeconds = seqSecondsAt(tick);
  seq.horizon = at;
  seq.playing = true;
}

// Emits every message due before host time `until`, in order; at the loop's end the notes sounding
// are ended, the sustain let go, and playing goes on from the loop's start after its state. Returns
// false once the sequence has ended (nothing left to play or to end).
export function seqRun(until, emit) {
  if (!seq.playing) return false;
  for (;;) {
    const offTick = seq.offCount > 0 ? seq.offEnds[0] : Infinity;
    const onTick = seq.streamCount > 0 ? seq.streamTicks[0] : Infinity;
    const tick = Math.min(offTick, onTick);
    if (seq.loopB > seq.loopA && seq.loopA >= 0 && tick >= seq.loopB) {
      // a loop end already passed (the loop was set behind the place playing) wraps at once
      const time = Math.max(seqTimeOf(seq.loopB), seq.horizon);
      if (time >= until) break;
      seqWrap(time, emit);
      continue;
    }
    if (tick === Infinity || tick >= seq.endAt) {
      if (tick !== Infinity) {
        const time = seqTimeOf(seq.endAt);
        if (time >= until) break;
        seqOffEnd(time, emit, () => false);
      }
      seq.playing = false;
      return false;
    }
    const time = seqTimeOf(tick);
    if (time >= until) break;
    if (offTick <= onTick) {
      const word = seq.offWords[0];
      seqOffTake();
      emit(time, 0x80 | ((word >> 14) & 0x0f), word & 0x7f, 64);
      continue;
    }
    const id = seq.streamIds[0];
    const k = id >> 1;
    if (id & 1) {
      const n = seq.noteAt[k];
      const t = seq.tracks[k];
      seqStreamNext();
      if (seq.muted[t]) continue;
      const word = seq.noteWords[n];
      const key = word & 0x7f;
      const channel = (word >> 14) & 0x0f;
      const sent = channel === 9 ? key : key + seq.transpose;
      if (sent < 0 || sent > 127) continue;
      emit(time, 0x90 | channel, sent, (word >> 7) & 0x7f);
      seqOffAdd(tick + seqDuration(n), tick, sent | (key << 7) | (channel << 14), t);
    } else {
      const bytes = seq.eventBytes[seq.eventAt[k]];
      seqStreamNext();
      emit(time, bytes & 0xff, (bytes >> 8) & 0x7f, (bytes >> 15) & 0x7f);
    }
  }
  seq.horizon = Math.max(seq.horizon, until);
  return true;
}

// Goes back from the loop's end to its start at host time `at`: what sounds is ended and every channel
// silenced as at a stop, then the state at the loop's start is sent and playing goes on from it.
function seqWrap(at, emit) {
  const speed = seq.speed;
  seqStop(at, emit);
  seqStart(seq.loopA, at, emit);
  seq.before = { time: at, seconds: seqSecondsAt(seq.loopB), speed };
}

// Stops at host time `at`: note offs for what sounds, then on all 16 channels sustain off, all notes
// off and all sound off.
export function seqStop(at, emit) {
  seqOffEnd(at, emit, () => false);
  for (let c = 0; c < 16; c += 1) {
    emit(at, 0xb0 | c, 64, 0);
    emit(at, 0xb0 | c, 123, 0);
    emit(at, 0xb0 | c, 120, 0);
  }
  seq.playing = false;
  seq.streamCount = 0;
}

// Plays at a new speed from host time `at` on (messages before it were made at the old one).
export function seqSetSpeed(speed, at) {
  if (seq.playing) {
    const seconds = seq.anchorSeconds + (at - seq.anchorTime) * seq.speed;
    seq.before = { time: seq.anchorTime, seconds: seq.anchorSeconds, speed: seq.speed };
    seq.anchorTime = at;
    seq.anchorSeconds = seconds;
  }
  seq.speed = speed;
}

// Moves what is still to play `seconds` later in host time (the host's clock went on without it).
export function seqShift(seconds) {
  seq.anchorTime += seconds;
  seq.before.time += seconds;
  seq.horizon += seconds;
}

// Transposes the notes started from now on (channel 10's never).
export function seqSetTranspose(semitones) {
  seq.transpose = semitones;
}

// Mutes the tracks whose flag is 1 (per track index); their notes sounding end at host time `at`.
export function seqSetMuted(flags, at, emit) {
  seq.muted = Uint8Array.from(flags);
  if (seq.playing) seqOffEnd(at, emit, (i) => !seq.muted[seq.offTracks[i]]);
}

// Loops from tick a back at tick b (no loop when b is not after a).
export function seqSetLoop(a, b) {
  seq.loopA = b > a ? Math.max(0, Math.floor(a)) : -1;
  seq.loopB = b > a ? Math.floor(b) : -1;
}

// Ends playing at tick (Infinity: at the sequence's end).
export function seqSetEnd(tick) {
  seq.endAt = tick;
}

// The tick sounding at host time `now` and the ticks a host second then; when stopped, null.
export function seqPosition(now) {
  if (!seq.playing) return null;
  // a time before the last anchor (a loop's wrap or a change of speed made ahead) reckons from the one before
  const last = now >= seq.anchorTime || seq.before.time === -Infinity;
  const anchor = last ? { time: seq.anchorTime, seconds: seq.anchorSeconds, speed: seq.speed } : seq.before;
  const seconds = Math.max(0, anchor.seconds + (now - anchor.time) * anchor.speed);
  const per = seq.map.perTick[segmentAt(seq.map, seconds)];
  return { tick: Math.min(tickAt(seq.map, seconds), seq.endTick), seconds, rate: per > 0 ? anchor.speed / per : 0 };
}

// The notes sounding at tick (started, not ended), at most `most`: start, end, key written and track
// of each, four numbers a note.
export function seqSounding(tick, most) {
  const out = [];
  for (let i = 0; i < seq.offCount && out.length < 4 * most; i += 1) {
    if (seq.offStarts[i] <= tick && seq.offEnds[i] > tick) {
      out.push(seq.offStarts[i], seq.offEnds[i], (seq.offWords[i] >> 7) & 0x7f, seq.offTracks[i]);
    }
  }
  return Float64Array.from(out);
}
