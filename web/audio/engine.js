// The player's engine: the sequencer (sequencer.js) driven by a clock, and what it plays handed on.
// No DOM: the audio side's entry (main.js) hosts it in one of three places, each telling it how to
// reach the page and where its messages go (engineSetHost):
//  - the audio worklet, as the processor 'smfdump-player': the synthesizer (synth.js) and the
//    sequencer in one audio thread, each message placed at its sample, so that a busy page or a
//    background tab never delays the sound (the same in an OfflineAudioContext, for WAV);
//  - the main thread, where no worklet can be loaded: the page's sound drives engineOnMainThread's
//    render from a ScriptProcessorNode;
//  - a worker feeding a Web MIDI output: every 25 ms it makes the messages of the next 70 ms, with
//    their times in the page's performance.now() milliseconds, and posts them to the page, which sends
//    them with those timestamps (a worker's timer is not slowed in a background tab).
//
// Messages from the page (each place the same):
//   { type: 'load', data }              the compact copy (an ArrayBuffer, transferred): answered
//                                       { type: 'loaded', info } (see seqLoad)
//   { type: 'select', tracks }          the tracks that sound together: answered { type: 'selected',
//                                       endTick, seconds } (seconds: the sequence's length as written)
//   { type: 'play', tick, end, start }  plays from tick (to tick `end`, when given) after the state
//                                       before it; `start` numbers the play, for its positions
//   { type: 'pause' }                   stops, ending what sounds: answered { type: 'paused', tick }
//   { type: 'speed', speed }, { type: 'transpose', semitones }, { type: 'mute', flags },
//   { type: 'loop', a, b }              (b <= a: no loop)
//   { type: 'unload', give }            lets the events go (another output plays them); with `give`,
//                                       answered { type: 'returned', data } (transferred; null when none)
//   { type: 'lend' }                    answered { type: 'lent', data }: a copy of the events (or null)
//   { type: 'timing' }                  answered { type: 'timing', quanta, meanMs, maxMs, maxFrame, warmUpMs }: the
//                                       audio thread's time per quantum, the sequencer's and the
//                                       synthesizer's together (Date.now(), so single times are whole
//                                       milliseconds), and that of the live processor's warm-up
//   { type: 'measure', from, to }       answered { type: 'measured', seconds, data }: the seconds from
//                                       tick `from` to tick `to` (null: the end) as written, and the
//                                       events given back (transferred); the engine holds none then
// and to the page: { type: 'position', start, tick, seconds, time, rate, sounding } every 50 ms while
// playing (`start`: the play's number, so that the page knows a place of an older play; the tick
// sounding at `time` and the file's seconds there as written; `time` in the host's clock: the
// context's seconds, or the page's milliseconds for Web MIDI; ticks per unit of that clock; the notes
// sounding, see seqSounding), { type: 'ended', start, tick } at the end, and
// for Web MIDI { type: 'midi', start, data, sysex } (the number of the play that made them, so that
// the page drops an older play's; a Float64Array: time in the page's milliseconds, then status, first
// and second data byte, for each message; a system exclusive message has status 0xf0 and its bytes in
// the list `sysex`, at the place its first data byte gives).
import {
  seq, seqLoad, seqPosition, seqPrepare, seqRun, seqSecondsAt, seqSelect, seqSetEnd, seqSetLoop, seqSetMuted, seqSetSpeed, seqSetSysexPacing, seqSetTranspose,
  seqShift, seqSounding, seqStart, seqStop, seqUnload,
} from './sequencer.js';
import { synthQueue, synthRender } from './synth.js';
import { playHead, playLists } from '../shared/layouts.js';
import { packMessage } from '../shared/packing.js';

const engine = {
  lead: 0,              // seconds from a request to the first message it makes
  post: () => {},       // sends a message to the page
  queue: () => {},      // takes the messages made (a Float64Array of time and packed bytes, two numbers
                        // each; a system exclusive message packed as 0xf0 | i << 8), the number of the
                        // play that made them, and the list of system exclusive messages (i's bytes)
  toHost: 1,            // the factor from the engine's seconds to the host's unit of time
  hostOrigin: 0,        // the host's time at the engine's time 0 (in the host's unit)
  out: new Float64Array(512),  // the messages made in one step: time, status | first << 8 | second << 16
  outCount: 0,
  lastReport: -Infinity,  // when the position was last told
  reportEvery: 0.05,    // seconds between positions told
  loaded: false,        // whether a file's events are held
  start: 0,             // the number the page gave the play going on, told with each position
  waits: true,          // whether the music waits for a clock that went on without the engine (see engineStep)
  readInSteps: false,   // whether a start's reading (see seqPrepare) is spread over steps (a live worklet)
  pending: null,        // the play message waiting for that reading
};

// Events read ahead for a start at a time, in a live audio thread: a step reads pieces until its
// clock (whole milliseconds) turns, at most about a millisecond, so that a start far into a large
// file, or a loop's, never holds up the sound; the start waits instead.
const engineReadPiece = 4096;

// Reads ahead for a start at tick: all at once, or for at most about a millisecond. True when done.
function engineRead(tick) {
  if (!engine.readInSteps) return seqPrepare(tick);
  const started = Date.now();
  do {
    if (seqPrepare(tick, engineReadPiece)) return true;
  } while (Date.now() === started);
  return false;
}

// Keeps one message made by the sequencer.
function engineEmit(time, status, first, second) {
  if (engine.outCount + 2 > engine.out.length) {
    const more = new Float64Array(engine.out.length * 2);
    more.set(engine.out);
    engine.out = more;
  }
  engine.out[engine.outCount] = time;
  engine.out[engine.outCount + 1] = packMessage(status, first, second);
  engine.outCount += 2;
}

// Hands the messages made on, and starts afresh.
function engineFlush() {
  if (engine.outCount === 0) return;
  engine.queue(engine.out.subarray(0, engine.outCount), engine.start, seq.sysexMessages);
  engine.outCount = 0;
}

// A time of the engine's clock in the host's unit.
function engineHostTime(time) {
  return engine.hostOrigin + time * engine.toHost;
}

// Tells the page where playing is at `now`, with the notes sounding.
function engineReport(now) {
  engine.lastReport = now;
  const p = seqPosition(now);
  if (!p) return;
  const sounding = seqSounding(p.tick, 256);
  engine.post({ type: 'position', start: engine.start, tick: p.tick, seconds: p.seconds, time: engineHostTime(now), rate: p.rate / engine.toHost, sounding }, [sounding.buffer]);
}

// Acts on a message from the page at engine time `now`.
export function engineMessage(m, now) {
  const at = now + engine.lead;
  if (m.type === 'load') {
    const info = seqLoad(m.data);
    engine.loaded = true;
    engine.post({ type: 'loaded', info });
  } else if (m.type === 'lend') {
    engine.post({ type: 'lent', data: engine.loaded ? seq.buffer.slice(0) : null });
  } else if (m.type === 'unload' && !engine.loaded) {
    if (m.give) engine.post({ type: 'returned', data: null });
  } else if (!engine.loaded) {
    // nothing to play yet
  } else if (m.type === 'select') {
    if (seq.playing) seqStop(at, engineEmit);
    seqSelect(m.tracks);  // a play waiting reads for the new selection
    engine.post({ type: 'selected', endTick: seq.endTick, seconds: seqSecondsAt(seq.endTick) });
  } else if (m.type === 'play') {
    engine.start = m.start ?? 0;
    if (seq.playing) seqStop(at, engineEmit);
    engine.pending = m;
    if (!engine.readInSteps) engineStartPending(at);  // else the quantum's step reads, and starts when it can
  } else if (m.type === 'pause') {
    // what was made ahead plays out first: the stop comes after it (unless the page dropped it all)
    const stopAt = Math.max(at, seq.horizon);
    const p = seqPosition(stopAt);
    if (seq.playing) seqStop(stopAt, m.quiet ? () => {} : engineEmit);
    engine.post({ type: 'paused', tick: p ? p.tick : engine.pending ? Math.max(0, Math.floor(engine.pending.tick)) : 0 });
    engine.pending = null;
  } else if (m.type === 'unload' || m.type === 'measure') {
    engine.pending = null;
    if (seq.playing) seqStop(at, engineEmit);
    engine.loaded = false;
    const seconds = m.type === 'measure' ? seqSecondsAt(m.to ?? seq.endTick) - seqSecondsAt(m.from) : 0;
    const data = seqUnload();
    if (m.type === 'measure') engine.post({ type: 'measured', seconds, data }, [data]);
    else if (m.give) engine.post({ type: 'returned', data }, [data]);
  } else if (m.type === 'speed') {
    seqSetSpeed(m.speed, Math.max(now, seq.horizon));
  } else if (m.type === 'transpose') {
    seqSetTranspose(m.semitones);
  } else if (m.type === 'mute') {
    seqSetMuted(m.flags, Math.max(now, seq.horizon), engineEmit);
  } else if (m.type === 'loop') {
    seqSetLoop(m.a, m.b);
  }
  engineFlush();
}

// Starts the play waiting at engine time `at` once what it needs is read, reading as much of that as
// a step may. Meanwhile the steps read ahead the same way while playing a loop's start.
function engineStartPending(at) {
  const m = engine.pending;
  if (!m) {
    if (seq.playing && seq.loopB > seq.loopA && seq.loopA >= 0) engineRead(seq.loopA);
    return;
  }
  if (!engineRead(m.tick)) return;
  engine.pending = null;
  seqSetEnd(m.end ?? Infinity);
  seqStart(m.tick, at, engineEmit);
  engineReport(at);
}

// Makes the messages due before engine time `until` and tells the position when it is time to.
export function engineStep(now, until) {
  if (engine.loaded) engineStartPending(now + engine.lead);
  if (!seq.playing) return;
  // an audio clock that went on without this engine (quanta it was not asked to render): the music
  // waits, rather than what was due meanwhile coming all at once. For Web MIDI every message keeps
  // its time: one made late is sent at once with the time it was due, and the rest stay on time.
  if (engine.waits && now > seq.horizon) seqShift(now - seq.horizon);
  const going = seqRun(until, engineEmit);
  engineFlush();
  if (now - engine.lastReport >= engine.reportEvery) engineReport(now);
  if (!going) engine.post({ type: 'ended', start: engine.start, tick: seq.endAt === Infinity ? seq.endTick : seq.endAt });
}

// ---- the three places ----

// Takes a message beside the synthesizer at time `now`: what plays or stops into the inbox, for the
// start of the next quantum, so that what it makes falls in it; the rest at once (the file's events,
// a copy of them, the measure, letting them go: those answer even while the context is stopped),
// after the inbox. Returns false for a message that is not the engine's.
export function engineTake(m, inbox, now) {
  if (['select', 'play', 'pause', 'speed', 'transpose', 'mute', 'loop'].includes(m.type)) {
    inbox.push(m);
    return true;
  }
  if (!['load', 'lend', 'measure', 'unload'].includes(m.type)) return false;
  for (const earlier of inbox) engineMessage(earlier, now);
  inbox.length = 0;
  engineMessage(m, now);
  return true;
}

// Acts on the inbox's messages and makes the messages of the quantum of `frames` frames from `frame`.
export function engineQuantum(inbox, frame, frames, rate) {
  for (const m of inbox) engineMessage(m, frame / rate);
  inbox.length = 0;
  engineStep(frame / rate, (frame + frames) / rate);
}

// On the main thread (the ScriptProcessor way): an engine feeding the synthesizer s, telling the page
// through post. Returns the functions the page's sound calls: message(m) and render(left, right, frames, firstFrame).
export function engineOnMainThread(s, rate, post) {
  const inbox = [];
  engineSetHost({ post, queue: (events, start, sysex) => synthQueue(s, events, sysex) });
  return {
    message: (m) => engineTake(m, inbox, s.frame / rate),
    render: (left, right, frames, firstFrame) => {
      engineQuantum(inbox, firstFrame, frames, rate);
      synthRender(s, left, right, frames, firstFrame);
    },
  };
}

// Plays a made-up passage through the sequencer (two tracks of notes, a re-struck key, controllers,
// programs, a bend, a tempo; a start past its beginning, a mute, a stop), its messages dropped, so that
// a live audio thread's first quanta of a file do not wait for the sequencer's code to be compiled.
// The passage is let go after; the engine holds nothing. Returns the milliseconds it took.
export function engineWarmUp() {
  const started = Date.now();
  const events = [];  // track, tick, word
  for (let i = 0; i < 64; i += 1) {
    const t = i % 2;
    const c = t * 3;
    events.push([t, i * 10, 0xc0 | c | ((i % 8) << 8)], [t, i * 10, 0xb0 | c | (7 << 8) | (90 << 15)]);
    events.push([t, i * 10, 0x90 | c | ((60 + (i % 5)) << 8) | (80 << 15)], [t, i * 10 + 5, 0x90 | c | ((60 + (i % 5)) << 8) | (70 << 15)]);
    events.push([t, i * 10 + 8, 0x80 | c | ((60 + (i % 5)) << 8) | (20 << 15)], [t, i * 10 + 9, 0x90 | c | ((60 + (i % 5)) << 8)]);
    events.push([t, i * 10 + 9, 0xe0 | c | (64 << 15)], [t, i * 10 + 9, 0xb0 | c | (101 << 8)], [t, i * 10 + 9, 0xb0 | c | (6 << 8) | (2 << 15)]);
  }
  const tracks = [0, 1].map((t) => events.filter((e) => e[0] === t));
  const controls = tracks.map((list) => list.filter((e) => (e[2] & 0xe0) !== 0x80));
  const lists = {
    track_first_events: [0, tracks[0].length, events.length], track_numbers: [1, 2], track_last_ticks: [640, 640], track_channels: [1, 8],
    track_first_controls: [0, controls[0].length, controls[0].length + controls[1].length],
    event_ticks: tracks.flat().map((e) => e[1]), event_bytes: tracks.flat().map((e) => e[2] | ((e[2] & 0xf0) === 0x90 && e[2] >>> 15 ? 8 << 22 : 0)),
    long_event_indexes: [], long_event_durations: [], control_ticks: controls.flat().map((e) => e[1]), control_bytes: controls.flat().map((e) => e[2]),
    tempo_ticks: [0], tempo_values: [400000], tempo_tracks: [0], data_event_ticks: [], data_event_tracks: [], data_event_kinds: [],
    data_event_offsets: [], data_event_lengths: [], data_event_bytes: [],
  };
  const head = {
    format: 1, division: 96, tracks: 2, events: events.length, long_events: 0, controls: lists.control_ticks.length, tempos: 1, not_playable: 0,
    data_events: 0, data_event_byte_words: 0, data_events_dropped: 0,
  };
  const words = Uint32Array.from([...playHead.map((name) => head[name]), ...playLists.flatMap(([name]) => lists[name])]);
  seqLoad(words.buffer);
  seqSelect([0, 1]);
  const drop = () => {};
  for (const from of [0, 300]) {
    seqStart(from, 0, drop);
    for (let until = 0.01; seqRun(until, drop); until += 0.01) {
      seqPosition(until);
      seqSounding(seqPosition(until)?.tick ?? 0, 16);
      if (until > 0.3 && until < 0.31) seqSetMuted([0, 1], until, drop);
    }
    seqSetMuted([0, 0], 0, drop);
  }
  seqStop(0, drop);
  seqUnload();
  return Date.now() - started;
}

// Tells the engine of its host: post(message, transfer) reaches the page, queue(events, start, sysex)
// takes the messages made; lead, toHost and waits as the engine's state describes them, readInSteps
// for a live audio thread; pacesSysex for a hardware module (see seqSetSysexPacing). What is not
// given stays as it was.
export function engineSetHost(host) {
  for (const key of ['post', 'queue', 'lead', 'toHost', 'waits', 'readInSteps']) {
    if (host[key] !== undefined) engine[key] = host[key];
  }
  if (host.pacesSysex !== undefined) seqSetSysexPacing(host.pacesSysex);
}
