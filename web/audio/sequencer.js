// The sequencer: plays the compact copy of a file's events (made by the listing's own pass in the
// module, read by shared/play_data.js) as timed MIDI messages. No DOM, so that it runs where the sound
// is made (the audio worklet, beside the synthesizer; the main thread in the fallback without a
// worklet; the offline context that renders a WAV file) and in the timer worker that feeds a Web MIDI
// output.
//
// What it plays is the file's own channel events, as the listing shows them: every note on and note
// off with the bytes the file gives it (a note off's release velocity, a note on of velocity 0 as a
// note on), every controller, program, pressure and bend, each once. The roll's pairing of a note on
// with its note off comes only as each note on's duration, for the page to light the notes sounding.
//
// Time: the host gives times in its own clock, in seconds (the audio context's time, or
// performance.now() / 1000 in the timer worker). Each message's time is computed from the tempo map
// (shared/tempo_map.js) afresh (never by adding up delta times): the file's seconds at a tick from the
// map, then the host's time from the anchor, the host time at which a given second of the file
// sounds, and the speed.
//
// System exclusive: each message goes out whole (F0 to F7), at the tick of its first packet: an F0
// event that does not end in F7 is joined with the F7 events that continue it in its track (up to the
// one that ends in F7); an F7 event that continues nothing sends its bytes as they are, each MIDI
// message in them apart, when they are whole MIDI messages (else, like a packet never ended, it is
// left out and counted). Those of one tick go out before its channel events. A start (a play, a seek,
// a loop's wrap) sends first the system exclusive of the sequence's tracks up to its tick (from the
// last reset of General MIDI, GS or XG among them on: what came before it is undone by it), then the
// channel state; paced for a hardware module when asked (seqSetSysexPacing): after a reset 50 ms,
// after any other message the time MIDI's 3125 bytes a second take to carry it, and the music starts
// after the last.
//
// Order: the events of one tick go out in the file's order, track after track in the order of the
// file, except that a note off goes just before a note on of the same key and channel that comes
// before it at that tick (so that a note struck again at the tick another one of its key ends is
// not ended at once).
//
// API (one sequencer per global scope; `seq` holds its state):
//   seqLoad(buffer)                 takes the compact copy; returns what it holds (tracks, whether it plays)
//   seqSelect(trackIndexes)         the tracks that sound together (format 2: one) and their tempo map
//   seqPrepare(tick, most)          reads ahead, at most `most` events, for a start at tick; true when a
//                                   start there has nothing left to read (a worklet spreads it over quanta)
//   seqStart(tick, at, emit)        plays from tick at host time `at`, after the state the events before
//                                   it left (see seqChase)
//   seqRun(until, emit)             emits every message due before host time `until`; false once ended
//   seqStop(at, emit)               note offs for what sounds, then sustain off, all notes off and all
//                                   sound off on all 16 channels, at host time `at`
//   seqSetSpeed(speed, at), seqSetTranspose(semitones), seqSetMuted(flags, at, emit), seqSetLoop(a, b),
//   seqSetEnd(tick)                 ends playing at tick, as at the sequence's end
//   seqShift(seconds)               moves what is still to play later in host time
//   seqPosition(now)                the tick sounding at host time `now`, and how fast ticks go by
//   seqSounding(tick, most)         the notes sounding at tick: start, end, key, track of each
//   seqSecondsAt(tick)              the file's seconds at tick (at the speed written)
//   seqSetSysexPacing(on)           paces the system exclusive a start sends (see above)
// emit(time, status, first, second) is called for each message in order of time; program change and
// channel pressure have no second data byte (it is given as 0). A system exclusive message (or one a
// file's escape event sends) is emit(time, 0xf0, i, 0): its bytes are seq.sysexMessages[i].
import { playDataEventBytes, playDataEvents, readPlayData } from '../shared/play_data.js';
import { makeTempoMap, secondsAt, segmentAt, sequenceOf, tickAt, unplayableTiming } from '../shared/tempo_map.js';

const seqNotSent = 255;  // the key sent of a note on that was not sent (a muted track's, or transposed out of range)
const seqSysexMost = 1 << 23;  // messages kept at most: an index fits beside the status in a packed message
const seqResetPause = 0.05;    // seconds a hardware module is given after a reset, in a start's pacing
const seqBytesPerSecond = 3125;  // what a MIDI cable carries

export const seq = {
  // ---- the file ----
  loaded: false,          // whether a compact copy is held
  buffer: null,           // the copy itself (an ArrayBuffer), whose views the lists below are
  format: 0,              // the header's format
  division: 0,            // the header's division (above 32768: a time code)
  trackCount: 0,          // tracks listed
  firstEvents: null,      // per track, the index of its first channel event (and the count at the end)
  trackNumbers: null,     // per track, its number in the file
  lastTicks: null,        // per track, the latest end of its roll notes or tick of its events
  eventTicks: null,       // per channel event (notes on and off among them), its tick
  eventBytes: null,       // per channel event, status and data bytes (bits 0-7, 8-14, 15-21), and a note
                          // on's duration in the roll (22-31; 1023: see the long events)
  longIndexes: null,      // events whose duration did not fit in their word, in order
  longDurations: null,    // their durations (0xffffffff: not known)
  trackChannels: null,    // per track, the channels its events use, a bit each
  firstControls: null,    // per track, the index of its first control (and the controls' count at the end)
  controlTicks: null,     // per control (an event other than a note, what a start reads), its tick
  controlBytes: null,     // and its word, as the events have them
  tempoTicks: null,       // per tempo event (listing order), its tick
  tempoValues: null,      // its microseconds per quarter note
  tempoTracks: null,      // its track
  notPlayable: 0,         // events the copy left out (bytes above 127, past a wrapped total)
  sysexMessages: [],      // the system exclusive messages whole (Uint8Array each, F0 to F7), and the
                          // messages of escape events, each track's in order of time, track after track
  sysexTicks: new Uint32Array(0),   // each one's tick
  sysexFirst: new Uint32Array(1),   // per track, its first message (and the count at the end)
  sysexResets: new Uint8Array(0),   // 1 for each that resets a module (General MIDI, GS or XG)
  sysexSkipped: 0,        // system exclusive events left out (a packet never ended, an escape of no whole messages)
  sysexPaced: false,      // whether a start paces its system exclusive for a hardware module
  // ---- the sequence: the tracks that sound together, and their tempo map ----
  tracks: [],             // track indexes played, in file order
  map: { ticks: new Float64Array(1), seconds: new Float64Array(1), perTick: new Float64Array(1), at: 0 },  // the tempo map (see tempo_map.js)
  endTick: 0,             // the last tick of the sequence: its last roll note's end or event
  usedChannels: 0,        // the channels the sequence's events use, a bit each
  chases: [],             // the state before the ticks started from lately (see seqChaseNew), newest first
  sysexOrder: new Uint32Array(0),  // the sequence's system exclusive messages in the order they play
  sysexAt: 0,             // the next of them to play
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
  // the streams (each sequence track's events) by their next event, in a heap: by tick, then by the
  // track's place in the sequence
  eventAt: new Uint32Array(0),  // per sequence track, its next event
  streamIds: new Int32Array(0), // the heap: sequence track places
  streamTicks: new Float64Array(0),  // the tick of each stream's next event
  streamCount: 0,
  // the events of the tick being played, gathered from the streams in the file's order
  tickBytes: new Uint32Array(64),   // each one's event word
  tickTracks: new Int32Array(64),   // its track
  tickEvents: new Uint32Array(64),  // its index
  tickOrder: new Float64Array(64),  // its place once note offs are put before note ons of their key
  tickCount: 0,
  firstOn: new Int32Array(16 * 128).fill(-1),  // per channel and key, the first note on of the tick so far
  // the notes sounding (note ons sent, or kept back, and not yet ended), in a chain per channel and
  // key written, oldest first; entries of ended notes are reused
  slotFirst: new Int32Array(16 * 128).fill(-1),  // per channel and key, its first entry (-1: none)
  slotLast: new Int32Array(16 * 128).fill(-1),   // and its last
  entrySent: new Uint8Array(64),    // per entry, the key sent (seqNotSent: none)
  entryTrack: new Int32Array(64),   // the track of its note on
  entryStart: new Float64Array(64), // the tick of its note on
  entryEnd: new Float64Array(64),   // the tick its note ends at in the roll (Infinity: not known)
  entryNext: new Int32Array(64),    // the next entry of its chain, or of the free entries (-1: none)
  entryFree: -1,                    // the first free entry
  entryCount: 0,                    // entries ever used (the rest of the lists is free)
  soundingCount: 0,                 // entries in the chains
  foundPrior: -1,                   // the entry before the one seqSoundingFind found (-1: it is first)
};

// ---- the file ----

// Takes the compact copy (an ArrayBuffer of 32-bit words) and returns what it holds: its format, its
// tracks (number, events) and whether it can be played, or why not.
export function seqLoad(buffer) {
  const { head, lists } = readPlayData(buffer);
  const { format, division, tracks } = head;
  const notPlayable = head.not_playable;
  Object.assign(seq, { loaded: true, buffer, format, division, trackCount: tracks, notPlayable });
  seq.firstEvents = lists.track_first_events;
  seq.trackNumbers = lists.track_numbers;
  seq.lastTicks = lists.track_last_ticks;
  seq.longIndexes = lists.long_event_indexes;
  seq.longDurations = lists.long_event_durations;
  seq.trackChannels = lists.track_channels;
  seq.firstControls = lists.track_first_controls;
  seq.controlTicks = lists.control_ticks;
  seq.controlBytes = lists.control_bytes;
  seq.eventTicks = lists.event_ticks;
  seq.eventBytes = lists.event_bytes;
  seq.tempoTicks = lists.tempo_ticks;
  seq.tempoValues = lists.tempo_values;
  seq.tempoTracks = lists.tempo_tracks;
  seqSysexRead(playDataEvents({ lists }), tracks);
  seq.sysexOrder = new Uint32Array(0);
  seq.muted = new Uint8Array(tracks);
  seq.playing = false;
  seqForgetSounding();
  seq.streamCount = 0;
  seq.loopA = -1;
  seq.loopB = -1;
  seq.tracks = [];  // until a selection
  seq.chases = [];
  const list = [];
  for (let t = 0; t < tracks; t += 1) {
    list.push({ index: t, number: seq.trackNumbers[t], events: seq.firstEvents[t + 1] - seq.firstEvents[t] });
  }
  return { format, division, tracks: list, notPlayable, unplayable: seqUnplayable(), sysex: seq.sysexMessages.length, sysexSkipped: seq.sysexSkipped };
}

// ---- system exclusive ----

// The whole MIDI messages that bytes (an escape event's) hold, one after another, each a Uint8Array:
// channel messages with their data bytes (no running status), system common and real-time messages,
// system exclusive from F0 to F7; null when the bytes are not all such messages (or are none).
function seqWholeMessages(bytes) {
  const sizes = { 0xf1: 2, 0xf2: 3, 0xf3: 2, 0xf6: 1, 0xf8: 1, 0xfa: 1, 0xfb: 1, 0xfc: 1, 0xfe: 1, 0xff: 1 };
  const out = [];
  let i = 0;
  while (i < bytes.length) {
    const status = bytes[i];
    let end;
    if (status === 0xf0) {
      end = i + 1;
      while (end < bytes.length && bytes[end] < 0x80) end += 1;
      if (bytes[end] !== 0xf7) return null;
      end += 1;
    } else {
      const size = status < 0x80 ? 0 : status < 0xf0 ? ((status & 0xe0) === 0xc0 ? 2 : 3) : sizes[status] ?? 0;
      end = i + size;
      if (size === 0 || end > bytes.length) return null;
      for (let j = i + 1; j < end; j += 1) if (bytes[j] >= 0x80) return null;
    }
    out.push(bytes.slice(i, end));
    i = end;
  }
  return out.length > 0 ? out : null;
}

// Whether a system exclusive message resets a module: General MIDI System On or Off, General MIDI 2
// On, the GS reset, XG System On (any device number).
function seqSysexResets(m) {
  if (m.length === 6 && m[1] === 0x7e && m[3] === 0x09 && m[4] >= 1 && m[4] <= 3) return true;
  if (m.length === 11 && m[1] === 0x41 && m[3] === 0x42 && m[4] === 0x12 && m[5] === 0x40 && m[6] === 0x00 && m[7] === 0x7f) return true;
  return m.length === 9 && m[1] === 0x43 && (m[2] & 0xf0) === 0x10 && m[3] === 0x4c && m[4] === 0 && m[5] === 0 && m[6] === 0x7e;
}

// Makes the messages of the data events (playDataEvents) of `tracks` tracks: the system exclusive
// packets joined into whole messages, escapes split into theirs (see the top of this file).
function seqSysexRead(events, tracks) {
  const messages = [];
  const ticks = [];
  const first = new Uint32Array(tracks + 1);
  let skipped = 0;
  let open = null;  // the packets of a message not yet ended: { tick, parts }
  let track = -1;
  const keep = (tick, m) => {
    if (messages.length >= seqSysexMost) {
      skipped += 1;
      return;
    }
    messages.push(m);
    ticks.push(tick);
  };
  const to = (t) => {  // the events of track t on; a packet left open is never ended
    if (open) skipped += 1;
    open = null;
    while (track < t) {
      track += 1;
      first[track] = messages.length;
    }
  };
  for (let i = 0; i < events.kinds.length; i += 1) {
    const kind = events.kinds[i];
    if (kind !== 0xf0 && kind !== 0xf7) continue;
    if (events.tracks[i] >= tracks) break;
    if (events.tracks[i] !== track) to(events.tracks[i]);
    const bytes = playDataEventBytes(events, i);
    if (kind === 0xf0) {
      if (open) skipped += 1;
      open = { tick: events.ticks[i], parts: [Uint8Array.of(0xf0), bytes] };
    } else if (open) {
      open.parts.push(bytes);
    } else {
      const whole = seqWholeMessages(bytes);
      if (whole) for (const m of whole) keep(events.ticks[i], m);
      else skipped += 1;
      continue;
    }
    if (bytes[bytes.length - 1] !== 0xf7) continue;
    const length = open.parts.reduce((sum, part) => sum + part.length, 0);
    const m = new Uint8Array(length);
    let at = 0;
    for (const part of open.parts) {
      m.set(part, at);
      at += part.length;
    }
    const tick = open.tick;
    open = null;
    // data bytes only between F0 and F7, as an output takes it
    if (m.subarray(1, m.length - 1).every((b) => b < 0x80)) keep(tick, m);
    else skipped += 1;
  }
  to(tracks);
  seq.sysexMessages = messages;
  seq.sysexTicks = Uint32Array.from(ticks);
  seq.sysexFirst = first;
  seq.sysexResets = Uint8Array.from(messages, (m) => (m[0] === 0xf0 && seqSysexResets(m) ? 1 : 0));
  seq.sysexSkipped = skipped;
}

// Paces (or not) the system exclusive a start sends, for a hardware module (see the top of this file).
export function seqSetSysexPacing(on) {
  seq.sysexPaced = on;
}

// Sends from host time `at` the system exclusive of the sequence up to tick (from the last reset
// among them on), in order, paced when asked; returns the host time after them.
function seqSysexChase(tick, at, emit) {
  const order = seq.sysexOrder;
  let end = 0;  // the first past tick
  for (let high = order.length; end < high;) {
    const mid = (end + high) >>> 1;
    if (seq.sysexTicks[order[mid]] <= tick) end = mid + 1;
    else high = mid;
  }
  let from = end;
  while (from > 0 && !seq.sysexResets[order[from - 1]]) from -= 1;
  if (from > 0) from -= 1;  // the reset itself
  let time = at;
  for (let i = from; i < end; i += 1) {
    const m = order[i];
    emit(time, 0xf0, m, 0);
    if (seq.sysexPaced) time += seq.sysexResets[m] ? seqResetPause : seq.sysexMessages[m].length / seqBytesPerSecond;
  }
  seq.sysexAt = end;
  return time;
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

// The duration in ticks of the roll's note that the note on of event n starts; Infinity when the roll
// has none.
function seqDuration(n) {
  const held = seq.eventBytes[n] >>> 22;
  if (held < 0x3ff) return held;
  let low = 0;
  let high = seq.longIndexes.length - 1;
  while (low < high) {
    const mid = (low + high) >> 1;
    if (seq.longIndexes[mid] < n) low = mid + 1;
    else high = mid;
  }
  return seq.longDurations[low] === 0xffffffff ? Infinity : seq.longDurations[low];
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
  seq.eventAt = new Uint32Array(k);
  seq.streamIds = new Int32Array(k);
  seq.streamTicks = new Float64Array(k);
  seq.streamCount = 0;
  seq.playing = false;
  seqForgetSounding();
  seq.map = makeTempoMap(seq.format, seq.division, { ticks: seq.tempoTicks, values: seq.tempoValues, tracks: seq.tempoTracks }, seq.tracks);
  // where the sequence ends, and the channels it uses (each reset before a start)
  seq.endTick = endTick;
  seq.usedChannels = 0;
  for (const t of seq.tracks) seq.usedChannels |= seq.trackChannels[t];
  seq.chases = [];
  // the system exclusive of the sequence's tracks: by tick, then by the track's place, as the file has them
  const order = [];
  const places = new Map();
  seq.tracks.forEach((t, k) => {
    for (let m = seq.sysexFirst[t]; m < seq.sysexFirst[t + 1]; m += 1) {
      order.push(m);
      places.set(m, k);
    }
  });
  order.sort((a, b) => seq.sysexTicks[a] - seq.sysexTicks[b] || places.get(a) - places.get(b) || a - b);
  seq.sysexOrder = Uint32Array.from(order);
  seq.sysexAt = 0;
}

// The file's seconds at tick, from the tempo map (at the speed written).
export function seqSecondsAt(tick) {
  return secondsAt(seq.map, tick);
}

// The host time at which tick sounds, from the anchor.
function seqTimeOf(tick) {
  return seq.anchorTime + (seqSecondsAt(tick) - seq.anchorSeconds) / seq.speed;
}

// ---- the streams: each sequence track's events, merged in order of time ----

// Sets heap entry `at` to sequence track k's next event: its tick (Infinity when it has none left).
function seqStreamKey(k, at) {
  const e = seq.eventAt[k];
  seq.streamIds[at] = k;
  seq.streamTicks[at] = e < seq.firstEvents[seq.tracks[k] + 1] ? seq.eventTicks[e] : Infinity;
}

// Whether heap entry i comes before heap entry j: by tick, then by the track's place.
function seqStreamBefore(i, j) {
  const a = seq.streamTicks[i];
  const b = seq.streamTicks[j];
  return a < b || (a === b && seq.streamIds[i] < seq.streamIds[j]);
}

// Swaps heap entries i and j.
function seqStreamSwap(i, j) {
  const id = seq.streamIds[i];
  const tick = seq.streamTicks[i];
  seq.streamIds[i] = seq.streamIds[j];
  seq.streamTicks[i] = seq.streamTicks[j];
  seq.streamIds[j] = id;
  seq.streamTicks[j] = tick;
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

// Puts every stream of the sequence at its first event at or after tick into the heap.
function seqStreamsFrom(tick) {
  seq.streamCount = 0;
  seq.tracks.forEach((t, k) => {
    seq.eventAt[k] = seqFirstAtOrAfter(seq.eventTicks, seq.firstEvents[t], seq.firstEvents[t + 1], tick);
    const at = seq.streamCount;
    seqStreamKey(k, at);
    if (seq.streamTicks[at] === Infinity) return;
    seq.streamCount += 1;
    seqStreamSift(at);
  });
}

// Moves the stream at the top of the heap past its event.
function seqStreamNext() {
  const k = seq.streamIds[0];
  seq.eventAt[k] += 1;
  seqStreamKey(k, 0);
  if (seq.streamTicks[0] === Infinity) {
    seq.streamCount -= 1;
    seqStreamSwap(0, seq.streamCount);
  }
  if (seq.streamCount > 0) seqStreamSift(0);
}

// A list grown to hold at least n entries (twice its length at least), its entries kept.
function seqGrown(list, n) {
  if (list.length >= n) return list;
  const more = new list.constructor(Math.max(n, 2 * list.length));
  more.set(list);
  return more;
}

// Takes every event of the next tick out of the streams, in the file's order, then puts each note off
// just before the first note on of its key and channel that comes before it at that tick.
function seqGatherTick() {
  const tick = seq.streamTicks[0];
  seq.tickCount = 0;
  let moved = false;
  while (seq.streamCount > 0 && seq.streamTicks[0] === tick) {
    const k = seq.streamIds[0];
    const event = seq.eventAt[k];
    const bytes = seq.eventBytes[event];
    seqStreamNext();
    const i = seq.tickCount;
    if (i === seq.tickBytes.length) {
      seq.tickBytes = seqGrown(seq.tickBytes, i + 1);
      seq.tickTracks = seqGrown(seq.tickTracks, i + 1);
      seq.tickEvents = seqGrown(seq.tickEvents, i + 1);
      seq.tickOrder = seqGrown(seq.tickOrder, i + 1);
    }
    seq.tickBytes[i] = bytes;
    seq.tickTracks[i] = seq.tracks[k];
    seq.tickEvents[i] = event;
    seq.tickOrder[i] = 2 * i + 1;
    seq.tickCount = i + 1;
    const kind = bytes & 0xf0;
    if (kind !== 0x80 && kind !== 0x90) continue;
    const slot = ((bytes & 0x0f) << 7) | ((bytes >> 8) & 0x7f);
    const on = kind === 0x90 && ((bytes >> 15) & 0x7f) > 0;
    if (on && seq.firstOn[slot] < 0) seq.firstOn[slot] = i;
    if (!on && seq.firstOn[slot] >= 0) {
      seq.tickOrder[i] = 2 * seq.firstOn[slot];  // just before that note on, after any moved there before it
      moved = true;
    }
  }
  for (let i = 0; i < seq.tickCount; i += 1) {
    const bytes = seq.tickBytes[i];
    if ((bytes & 0xe0) === 0x80) seq.firstOn[((bytes & 0x0f) << 7) | ((bytes >> 8) & 0x7f)] = -1;
  }
  if (!moved) return;
  const order = Array.from({ length: seq.tickCount }, (_, i) => i);
  order.sort((a, b) => seq.tickOrder[a] - seq.tickOrder[b] || a - b);
  const bytes = order.map((i) => seq.tickBytes[i]);
  const tracks = order.map((i) => seq.tickTracks[i]);
  const events = order.map((i) => seq.tickEvents[i]);
  seq.tickBytes.set(bytes);
  seq.tickTracks.set(tracks);
  seq.tickEvents.set(events);
}

// ---- the notes sounding ----

// Forgets every note sounding (their messages were sent, or never will be).
function seqForgetSounding() {
  seq.slotFirst.fill(-1);
  seq.slotLast.fill(-1);
  seq.entryFree = -1;
  seq.entryCount = 0;
  seq.soundingCount = 0;
}

// Keeps a note on of track `track` at tick, ending at tick `end` in the roll, of channel and key
// written `slot`, sent as key `sent` (seqNotSent: kept back), at the end of its slot's chain.
function seqSoundingAdd(slot, sent, track, tick, end) {
  let e = seq.entryFree;
  if (e >= 0) {
    seq.entryFree = seq.entryNext[e];
  } else {
    e = seq.entryCount;
    seq.entryCount += 1;
    if (e === seq.entrySent.length) {
      seq.entrySent = seqGrown(seq.entrySent, e + 1);
      seq.entryTrack = seqGrown(seq.entryTrack, e + 1);
      seq.entryStart = seqGrown(seq.entryStart, e + 1);
      seq.entryEnd = seqGrown(seq.entryEnd, e + 1);
      seq.entryNext = seqGrown(seq.entryNext, e + 1);
    }
  }
  seq.entrySent[e] = sent;
  seq.entryTrack[e] = track;
  seq.entryStart[e] = tick;
  seq.entryEnd[e] = end;
  seq.entryNext[e] = -1;
  if (seq.slotLast[slot] >= 0) seq.entryNext[seq.slotLast[slot]] = e;
  else seq.slotFirst[slot] = e;
  seq.slotLast[slot] = e;
  seq.soundingCount += 1;
}

// Takes entry e (after entry `prior` of its chain, -1 when first) out of slot's chain.
function seqSoundingTake(slot, e, prior) {
  const next = seq.entryNext[e];
  if (prior >= 0) seq.entryNext[prior] = next;
  else seq.slotFirst[slot] = next;
  if (seq.slotLast[slot] === e) seq.slotLast[slot] = prior;
  seq.entryNext[e] = seq.entryFree;
  seq.entryFree = e;
  seq.soundingCount -= 1;
}

// The note a note off of track `track` ends in slot's chain: the oldest of its own track, else the
// oldest of any (a note off in another track than its note on); -1 when none. The entry before it in
// the chain is left in seq.foundPrior (no list is made: this runs in the audio thread).
function seqSoundingFind(slot, track) {
  let prior = -1;
  for (let e = seq.slotFirst[slot]; e >= 0; prior = e, e = seq.entryNext[e]) {
    if (seq.entryTrack[e] === track) {
      seq.foundPrior = prior;
      return e;
    }
  }
  seq.foundPrior = -1;
  return seq.slotFirst[slot];
}

// Ends at `at` every note sounding for which keep(entry) is false (with a note off of velocity 64);
// keeps the others.
function seqSoundingEnd(at, emit, keep) {
  if (seq.soundingCount === 0) return;
  for (let slot = 0; slot < 16 * 128; slot += 1) {
    let prior = -1;
    for (let e = seq.slotFirst[slot]; e >= 0;) {
      const next = seq.entryNext[e];
      if (keep(e)) {
        prior = e;
      } else {
        if (seq.entrySent[e] !== seqNotSent) emit(at, 0x80 | (slot >> 7), seq.entrySent[e], 64);
        seqSoundingTake(slot, e, prior);
      }
      e = next;
    }
  }
}

// The key a note of channel c and key written `key` is sent as now; seqNotSent when out of range.
function seqSentKey(c, key) {
  const sent = c === 9 ? key : key + seq.transpose;
  return sent >= 0 && sent <= 127 ? sent : seqNotSent;
}

// Plays event n, of track t, at host time `time` and tick: a note on is kept among the notes
// sounding (sent unless its track is muted or the transpose takes it out of range); a note off ends
// the note it ends, with its key sent, or is sent as written (transposed) when none sounds, unless
// its track is muted; key pressure follows the transpose; the rest is sent as it is.
function seqPlayEvent(time, tick, n, bytes, t, emit) {
  const status = bytes & 0xff;
  const first = (bytes >> 8) & 0x7f;
  const second = (bytes >> 15) & 0x7f;
  const kind = status & 0xf0;
  const c = status & 0x0f;
  if (kind === 0x90 && second > 0) {
    const sent = seq.muted[t] ? seqNotSent : seqSentKey(c, first);
    seqSoundingAdd((c << 7) | first, sent, t, tick, tick + seqDuration(n));
    if (sent !== seqNotSent) emit(time, status, sent, second);
  } else if (kind === 0x80 || kind === 0x90) {
    const slot = (c << 7) | first;
    const e = seqSoundingFind(slot, t);
    if (e >= 0 && (seq.entryTrack[e] === t || !seq.muted[t])) {
      const sent = seq.entrySent[e];
      seqSoundingTake(slot, e, seq.foundPrior);
      if (sent !== seqNotSent) emit(time, status, sent, second);
    } else if (e < 0 && !seq.muted[t]) {
      const sent = seqSentKey(c, first);
      if (sent !== seqNotSent) emit(time, status, sent, second);
    }
  } else if (kind === 0xa0) {
    const sent = seqSentKey(c, first);
    if (sent !== seqNotSent) emit(time, status, sent, second);
  } else {
    emit(time, status, first, second);
  }
}

// ---- the state before a start (the chase) ----

// Controller slots 126 and 127 of a chase (mono and poly on are never chased) hold the channel
// pressure and the bend (its 14 bits).
const seqSlotPressure = 128 - 2;
const seqSlotBend = 128 - 1;
// What a reset of all controllers (CC 121) sets back, as General MIDI has it, besides the bend.
const seqResetSlots = [1, 11, 64, 65, 66, 67, seqSlotPressure];

// Whether controller `first` is replayed in order rather than kept by value: bank select, data entry,
// increment and decrement, the parameter numbers, and the reset of all controllers (their meaning
// depends on what came before them, across tracks).
function seqReplayed(first) {
  return first === 0 || first === 32 || first === 6 || first === 38 || (first >= 96 && first <= 101) || first === 121;
}

// A chase of the state before tick, not yet read: each sequence track's controls before tick are read
// once, in order (track k from control e, -1 before its first); a value is kept unless a later one (by
// tick, then by track) was kept already; the few events whose meaning depends on the others (see
// seqReplayed) are kept to be replayed in the order they play, each channel's last program change
// with them.
function seqChaseNew(tick) {
  return {
    tick, k: 0, e: -1, end: 0, done: false,
    values: new Int16Array(16 * 128).fill(-1),    // controllers (-1: never set, or reset), then the slots above
    stamps: new Float64Array(16 * 128).fill(-1),  // the tick * 65536 + place of the value kept
    replayed: [],                                 // stamp and bytes of each event to replay
    programs: new Float64Array(16 * 3).fill(-1),  // per channel its last program change: stamp, place among the
                                                  // replayed (those read before it), bytes
    channels: [],                                 // per channel once replayed: see seqChaseChannel
  };
}

// Reads the controls [from, to) of sequence track k into the chase.
function seqChaseRead(chase, k, from, to) {
  const { values, stamps, replayed, programs } = chase;
  const keep = (slot, value, stamp) => {
    if (stamp < stamps[slot]) return;
    stamps[slot] = stamp;
    values[slot] = value;
  };
  for (let i = from; i < to; i += 1) {
    const bytes = seq.controlBytes[i];
    const c = bytes & 0x0f;
    const first = (bytes >> 8) & 0x7f;
    const second = (bytes >> 15) & 0x7f;
    const stamp = seq.controlTicks[i] * 65536 + k;
    switch (bytes & 0xf0) {
      case 0xb0:
        if (first === 121) {
          for (const slot of seqResetSlots) keep(c * 128 + slot, -1, stamp);
          keep(c * 128 + seqSlotBend, -1, stamp);
        }
        if (seqReplayed(first)) replayed.push(stamp, bytes);
        else if (first < 120) keep(c * 128 + first, second, stamp);
        break;
      case 0xc0:
        if (stamp >= programs[3 * c]) programs.set([stamp, replayed.length / 2, bytes], 3 * c);
        break;
      case 0xd0: keep(c * 128 + seqSlotPressure, first, stamp); break;
      case 0xe0: keep(c * 128 + seqSlotBend, first | (second << 7), stamp); break;
      default: break;
    }
  }
}

// A channel's state from the replayed events: the bank in force at its last program change, that
// program, the bank selected since (if any), and its parameters (RPN and NRPN) with their data.
function seqChaseChannel() {
  return {
    bank: [-1, -1],          // the bank select's MSB and LSB in force (-1: never set)
    program: -1,             // the last program change (-1: none)
    programBank: [-1, -1],   // the bank in force at it
    bankSince: false,        // whether a bank select came after it
    chosen: [-1, -1, -1, -1],  // the parameter numbers chosen: RPN MSB and LSB, NRPN MSB and LSB (-1: never)
    registered: true,        // whether the last chosen was an RPN (else an NRPN)
    everChosen: false,       // whether a parameter number was chosen since the start or the last reset
    parameters: new Map(),   // by 'r' or 'n' and the 14-bit number: { kind, number, data: [MSB, LSB] (-1: not set) }
  };
}

// The value a parameter starts from when it is stepped before any data entry: the receiver's usual
// value for the registered ones that have one (bend range 2 semitones, fine and coarse tuning
// centred), else null (the step can't be known).
function seqParameterStart(kind, number) {
  if (kind !== 'r') return null;
  if (number === 0) return [2, 0];
  if (number === 1) return [64, 0];
  if (number === 2) return [64, 0];
  return null;
}

// Steps a parameter's data up (+1) or down (-1) by one: the bend range by a cent (its LSB counts cents,
// carried into semitones at 100), the coarse tuning by a semitone (its MSB), the rest by one of their
// 14 bits; within their range.
function seqParameterStep(p, step) {
  if (p.data[0] < 0) {
    const start = seqParameterStart(p.kind, p.number);
    if (!start) return;
    p.data = start.slice();
  }
  const lsb = Math.max(0, p.data[1]);
  if (p.kind === 'r' && p.number === 0) {
    const cents = Math.min(127 * 100 + 99, Math.max(0, p.data[0] * 100 + Math.min(lsb, 99) + step));
    p.data = [Math.floor(cents / 100), cents % 100];
  } else if (p.kind === 'r' && p.number === 2) {
    p.data[0] = Math.min(127, Math.max(0, p.data[0] + step));
  } else {
    const value = Math.min(16383, Math.max(0, p.data[0] * 128 + lsb + step));
    p.data = [value >> 7, value & 0x7f];
  }
}

// Replays the chase's kept events in the order they play, each channel's last program change among
// them, into the state of each channel.
function seqChaseReplay(chase) {
  const { replayed, programs } = chase;
  const ties = [];  // the place of each within its stamp: a program change just before those read after it
  for (let i = 0; i < replayed.length; i += 2) ties.push(i / 2);
  for (let c = 0; c < 16; c += 1) {
    if (programs[3 * c] < 0) continue;
    replayed.push(programs[3 * c], programs[3 * c + 2]);
    ties.push(programs[3 * c + 1] - 0.5);
  }
  const order = [];
  for (let i = 0; i < replayed.length; i += 2) order.push(i);
  order.sort((a, b) => replayed[a] - replayed[b] || ties[a / 2] - ties[b / 2]);
  const channels = Array.from({ length: 16 }, seqChaseChannel);
  for (const i of order) {
    const bytes = replayed[i + 1];
    const ch = channels[bytes & 0x0f];
    const first = (bytes >> 8) & 0x7f;
    const second = (bytes >> 15) & 0x7f;
    if ((bytes & 0xf0) === 0xc0) {
      ch.program = first;
      ch.programBank = ch.bank.slice();
      ch.bankSince = false;
      continue;
    }
    const chosen = ch.registered ? ch.chosen.slice(0, 2) : ch.chosen.slice(2);
    const key = `${ch.registered ? 'r' : 'n'}${chosen[0] * 128 + chosen[1]}`;
    const current = () => {
      // the parameter data entry goes to: none before both numbers are chosen, nor for the null one
      if (chosen[0] < 0 || chosen[1] < 0 || (chosen[0] === 127 && chosen[1] === 127)) return null;
      if (!ch.parameters.has(key)) ch.parameters.set(key, { kind: ch.registered ? 'r' : 'n', number: chosen[0] * 128 + chosen[1], data: [-1, -1] });
      return ch.parameters.get(key);
    };
    if (first === 0 || first === 32) {
      ch.bank[first === 0 ? 0 : 1] = second;
      if (ch.program >= 0) ch.bankSince = true;
    } else if (first === 101 || first === 100 || first === 99 || first === 98) {
      ch.registered = first >= 100;
      ch.chosen[(first >= 100 ? 0 : 2) + (first % 2 === 0 ? 1 : 0)] = second;
      ch.everChosen = true;
    } else if (first === 121) {
      // none chosen, as after the reset a start sends first
      ch.registered = true;
      ch.chosen = [-1, -1, -1, -1];
      ch.everChosen = false;
    } else if (first === 6 || first === 38) {
      const p = current();
      if (p) p.data[first === 6 ? 0 : 1] = second;
    } else if (first === 96 || first === 97) {
      const p = current();
      if (p) seqParameterStep(p, first === 96 ? 1 : -1);
    }
  }
  chase.channels = channels;
  chase.replayed = [];
  chase.done = true;
}

// Reads ahead for a start at tick, at most `most` controls: the state the controls before tick leave
// (kept for the last few ticks asked, so that a loop's start is read once). Returns true when a start
// at tick has nothing left to read.
export function seqPrepare(tick, most = Infinity) {
  tick = Math.max(0, Math.floor(tick));
  let left = most;
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
      chase.e = seq.firstControls[t];
      chase.end = seqFirstAtOrAfter(seq.controlTicks, seq.firstControls[t], seq.firstControls[t + 1], tick);
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

// Sends at `at`, on each channel the sequence uses, a reset of all controllers, then the state the
// sequence's events before tick leave there, and only what they set: the bank in force at the last
// program change, that program, a bank selected since; the controllers set; each parameter (RPN or
// NRPN) given data, with its number and data entry (increments and decrements applied), then the
// parameter chosen last; channel pressure and pitch bend. Channel mode messages are not sent again.
// Reads what seqPrepare has not read yet.
export function seqChase(tick, at, emit) {
  seqPrepare(tick);
  const { values, channels } = seq.chases[0];
  for (let c = 0; c < 16; c += 1) {
    if (!(seq.usedChannels & (1 << c))) continue;
    const cc = (k, v) => emit(at, 0xb0 | c, k, v);
    const ch = channels[c];
    cc(121, 0);
    const bank = (pair) => {
      if (pair[0] >= 0) cc(0, pair[0]);
      if (pair[1] >= 0) cc(32, pair[1]);
    };
    if (ch.program >= 0) {
      bank(ch.programBank);
      emit(at, 0xc0 | c, ch.program, 0);
      if (ch.bankSince) bank(ch.bank);
    } else {
      bank(ch.bank);
    }
    for (let k = 1; k < 120; k += 1) {
      if (!seqReplayed(k) && values[c * 128 + k] >= 0) cc(k, values[c * 128 + k]);
    }
    for (const p of ch.parameters.values()) {
      if (p.data[0] < 0 && p.data[1] < 0) continue;
      cc(p.kind === 'r' ? 101 : 99, p.number >> 7);
      cc(p.kind === 'r' ? 100 : 98, p.number & 0x7f);
      if (p.data[0] >= 0) cc(6, p.data[0]);
      if (p.data[1] >= 0) cc(38, p.data[1]);
    }
    if (ch.everChosen) {
      const [msb, lsb] = ch.registered ? ch.chosen.slice(0, 2) : ch.chosen.slice(2);
      if (msb >= 0) cc(ch.registered ? 101 : 99, msb);
      if (lsb >= 0) cc(ch.registered ? 100 : 98, lsb);
    }
    if (values[c * 128 + seqSlotPressure] >= 0) emit(at, 0xd0 | c, values[c * 128 + seqSlotPressure], 0);
    const bend = values[c * 128 + seqSlotBend];
    if (bend >= 0) emit(at, 0xe0 | c, bend & 0x7f, bend >> 7);
  }
}

// ---- playing ----

// Plays from tick at host time `at`: first the state the events before it leave, then everything
// from tick on.
export function seqStart(tick, at, emit) {
  tick = Math.max(0, Math.floor(tick));
  const after = seqSysexChase(tick, at, emit);
  seqChase(tick, after, emit);
  seqStreamsFrom(tick);
  seqForgetSounding();
  // while a paced chase is sent, the place stands still at tick
  seq.before = { time: after > at ? at : -Infinity, seconds: seqSecondsAt(tick), speed: after > at ? 0 : seq.speed };
  seq.anchorTime = after;
  seq.anchorSeconds = seqSecondsAt(tick);
  seq.horizon = after;
  seq.playing = true;
}

// Emits every message due before host time `until`, in order, a tick at a time; at the loop's end
// playing stops and goes on from the loop's start after its state. At the sequence's end (or the
// tick playing ends at) it ends what still sounds and lets the sustain go (see seqEnd). Returns false
// once it has ended.
export function seqRun(until, emit) {
  if (!seq.playing) return false;
  for (;;) {
    const tick = seq.streamCount > 0 ? seq.streamTicks[0] : Infinity;
    const looping = seq.loopB > seq.loopA && seq.loopA >= 0;
    const sysex = seq.sysexAt < seq.sysexOrder.length ? seq.sysexTicks[seq.sysexOrder[seq.sysexAt]] : Infinity;
    if (sysex <= tick && sysex < seq.endAt && sysex <= seq.endTick && !(looping && sysex >= seq.loopB)) {
      // a system exclusive message before the channel events of its tick
      const time = Math.max(seqTimeOf(sysex), seq.horizon);
      if (time >= until) break;
      emit(time, 0xf0, seq.sysexOrder[seq.sysexAt], 0);
      seq.sysexAt += 1;
      continue;
    }
    if (looping && tick >= seq.loopB) {
      // a loop end already passed (the loop was set behind the place playing) wraps at once
      const time = Math.max(seqTimeOf(seq.loopB), seq.horizon);
      if (time >= until) break;
      seqWrap(time, emit);
      continue;
    }
    if (tick === Infinity || tick >= seq.endAt) {
      // a note the file never ends sounds until the end: the sequence's last tick, or the one asked
      const end = seq.endAt !== Infinity ? seq.endAt : Math.max(seq.endTick, tick === Infinity ? 0 : tick);
      const time = Math.max(seqTimeOf(end), seq.horizon);
      if (time >= until) break;
      seqEnd(time, emit);
      return false;
    }
    const time = seqTimeOf(tick);
    if (time >= until) break;
    seqGatherTick();
    for (let i = 0; i < seq.tickCount; i += 1) seqPlayEvent(time, tick, seq.tickEvents[i], seq.tickBytes[i], seq.tickTracks[i], emit);
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
  seqSoundingEnd(at, emit, () => false);
  for (let c = 0; c < 16; c += 1) {
    emit(at, 0xb0 | c, 64, 0);
    emit(at, 0xb0 | c, 123, 0);
    emit(at, 0xb0 | c, 120, 0);
  }
  seq.playing = false;
  seq.streamCount = 0;
}

// Ends playing at host time `at`, where the sequence ends: note offs for what sounds, then on all 16
// channels sustain off and all notes off; what rings on after them (releases, reverb) is let be.
function seqEnd(at, emit) {
  seqSoundingEnd(at, emit, () => false);
  for (let c = 0; c < 16; c += 1) {
    emit(at, 0xb0 | c, 64, 0);
    emit(at, 0xb0 | c, 123, 0);
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

// Transposes the notes started from now on (channel 10's never); a note sounding ends with the key
// it was sent with.
export function seqSetTranspose(semitones) {
  seq.transpose = semitones;
}

// Mutes the tracks whose flag is 1 (per track index); their notes sounding end at host time `at`.
export function seqSetMuted(flags, at, emit) {
  seq.muted = Uint8Array.from(flags);
  if (seq.playing) seqSoundingEnd(at, emit, (e) => !seq.muted[seq.entryTrack[e]]);
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

// The notes sounding at tick (sent, not ended, started by then), at most `most`: start, end (as the
// roll has it), key written and track of each, four numbers a note.
export function seqSounding(tick, most) {
  const out = [];
  for (let slot = 0; slot < 16 * 128 && seq.soundingCount > 0 && out.length < 4 * most; slot += 1) {
    for (let e = seq.slotFirst[slot]; e >= 0 && out.length < 4 * most; e = seq.entryNext[e]) {
      if (seq.entrySent[e] === seqNotSent || seq.entryStart[e] > tick) continue;
      const t = seq.entryTrack[e];
      const key = slot & 0x7f;
      out.push(seq.entryStart[e], Math.min(seq.entryEnd[e], seq.endTick), key, t);
    }
  }
  return Float64Array.from(out);
}
