// Web MIDI output: the MIDI outputs the browser offers, listed in the "Play to" choice, and the worker
// that plays to one of them (the player's engine: the audio side's bundle, from the page's own copy of
// its text). The worker makes the messages ahead of time with their times; this part sends each with
// its timestamp, so that nothing here has to be on time.
//
// No note is left sounding: this part keeps what it sent to the output (the notes sounding, counted
// by channel and key, and the latest timestamp), and a halt (midiHalt) ends them itself, after the
// last message sent, whether or not the output can drop what it holds queued (clear()). The worker's
// batches carry the number of the play that made them; after a halt, those of an older play (posted
// before the halt, come after it) are dropped. An output whose send() throws stops playing.
//
// System exclusive needs the browser's leave (MIDI access asked with sysex: true), asked once, when a
// file that has some is first played to an output: given, the output of that access is played to and
// each message is sent whole with its timestamp; refused, they are not sent (the page says so) and the
// rest plays.
import { $ } from '../dom.js';

const midiOut = {
  access: null,          // the MIDIAccess, once asked for and given
  asked: null,           // the promise of the request, once made
  why: '',               // why there are no outputs to offer, in a word or two ('' while there may be)
  output: null,          // the MIDIOutput played to, or null for the page's own sound
  worker: null,          // the engine's worker, while an output is played to
  onMessage: () => {},   // the player's handler of the engine's messages
  onFail: () => {},      // told (the output's name, why) when the output's send() throws
  play: -1,              // the play whose batches are sent (the last 'play' posted); -1 after a halt
  failed: false,         // whether send() threw since the last play posted: nothing more is sent
  sounding: new Uint16Array(16 * 128),  // notes sounding by channel and key, of what was sent for up to `settled`
  settled: -Infinity,    // the time up to which `sounding` counts what was sent
  ahead: [],             // the notes and channel modes sent for after `settled`: time, status, first, second
  last: -Infinity,       // the latest timestamp sent (messages are never sent for before it)
  sysexAccess: null,     // the MIDIAccess that may send system exclusive, once given
  sysexAsked: null,      // the promise of its request (true when given), once made
};

// Messages sent for less than this many milliseconds ago may still be queued: clear() may drop them.
const midiUnsure = 20;

// Asks the browser for its MIDI outputs (once) and lists them in the "Play to" choice; when there
// are none to offer, the choice says why.
export function midiAsk() {
  if (midiOut.asked) return midiOut.asked;
  if (typeof navigator.requestMIDIAccess !== 'function') {
    midiOut.why = 'not in this browser';
    midiOut.asked = Promise.resolve();
  } else {
    midiOut.asked = navigator.requestMIDIAccess({ sysex: false }).then((access) => {
      midiOut.access = access;
      access.onstatechange = () => midiListOutputs();
    }, (error) => {
      midiOut.why = error && error.name === 'NotAllowedError' ? 'not allowed' : 'unavailable';
    });
  }
  return midiOut.asked.then(midiListOutputs);
}

// Lists the outputs offered in the "Play to" choice after "This page", keeping the one chosen.
function midiListOutputs() {
  const select = $('play-to');
  const chosen = select.value;
  const options = [new Option('This page', 'page')];
  const outputs = midiOut.access ? [...midiOut.access.outputs.values()] : [];
  for (const output of outputs) options.push(new Option(output.name || output.id, `midi:${output.id}`));
  if (outputs.length === 0 && (midiOut.why || midiOut.access)) {
    const none = new Option(`MIDI outputs: ${midiOut.why || 'none'}`, '');
    none.disabled = true;
    options.push(none);
  }
  select.replaceChildren(...options);
  select.value = options.some((o) => o.value === chosen && !o.disabled) ? chosen : 'page';
  if (select.value !== chosen && chosen !== '') select.dispatchEvent(new Event('change'));  // the output played to is gone
}

// Asks the browser (once) for leave to send system exclusive; resolves true when it is given, and from
// then on the outputs played to are that access's.
export function midiAskSysex() {
  if (!midiOut.sysexAsked) {
    midiOut.sysexAsked = typeof navigator.requestMIDIAccess !== 'function' ? Promise.resolve(false)
      : navigator.requestMIDIAccess({ sysex: true }).then((access) => {
        midiOut.sysexAccess = access;
        if (midiOut.output) midiOut.output = access.outputs.get(midiOut.output.id) ?? midiOut.output;
        return true;
      }, () => false);
  }
  return midiOut.sysexAsked;
}

// The MIDIOutput of a "Play to" value, or null.
export function midiOutputOf(value) {
  if (!midiOut.access || !value.startsWith('midi:')) return null;
  return midiOut.access.outputs.get(value.slice(5)) ?? null;
}

// Starts the worker that plays to output; its messages go to onMessage, and onFail(name, why) is
// told when the output's send() throws.
export function midiStart(output, onMessage, onFail) {
  midiStop();
  midiOut.output = midiOut.sysexAccess?.outputs.get(output.id) ?? output;
  midiOut.onMessage = onMessage;
  midiOut.onFail = onFail;
  midiOut.play = -1;
  midiOut.failed = false;
  midiOut.sounding.fill(0);
  midiOut.settled = -Infinity;
  midiOut.ahead = [];
  midiOut.last = -Infinity;
  const url = URL.createObjectURL(new Blob([$('audio-source').textContent], { type: 'text/javascript' }));
  midiOut.worker = new Worker(url);
  URL.revokeObjectURL(url);
  midiOut.worker.postMessage({ type: 'clock', origin: performance.timeOrigin });
  midiOut.worker.onmessage = (event) => {
    const m = event.data;
    if (m.type === 'midi') midiSend(m.data, m.start, m.sysex);
    else midiOut.onMessage(m);
  };
}

// Counts what a message sent does to the notes sounding: a note-on of velocity above 0 adds one, a
// note-off (8n, or 9n of velocity 0) takes one away, all notes off and all sound off (CC 123, 120)
// end the channel's.
function midiCount(status, first, second) {
  const kind = status & 0xf0;
  const slot = (status & 0x0f) * 128 + first;
  if (kind === 0x90 && second > 0) midiOut.sounding[slot] = Math.min(65535, midiOut.sounding[slot] + 1);
  else if (kind === 0x80 || kind === 0x90) midiOut.sounding[slot] = Math.max(0, midiOut.sounding[slot] - 1);
  else if (kind === 0xb0 && (first === 123 || first === 120)) midiOut.sounding.fill(0, slot - first, slot - first + 128);
}

// Counts in `sounding` what was sent for up to time `upTo` (in the page's milliseconds).
function midiSettle(upTo) {
  const ahead = midiOut.ahead;
  let i = 0;
  for (; i < ahead.length && ahead[i] <= upTo; i += 4) midiCount(ahead[i + 1], ahead[i + 2], ahead[i + 3]);
  midiOut.ahead = ahead.slice(i);
  midiOut.settled = Math.max(midiOut.settled, upTo);
}

// Sends one message for `time` (never before the last one sent), keeping what it does to the notes
// sounding. False when send() threw: nothing more is sent, and the player is told.
function midiSendOne(bytes, time) {
  const output = midiOut.output;
  if (!output || midiOut.failed) return false;
  time = Math.max(time, midiOut.last);
  try {
    output.send(bytes, time);
  } catch (error) {
    midiOut.failed = true;
    const why = String(error?.message ?? error).replace(/\.$/, '');
    queueMicrotask(() => midiOut.onFail(output.name || output.id, why));  // after the call that sent
    return false;
  }
  midiOut.last = time;
  const kind = bytes[0] & 0xf0;
  if (kind === 0x80 || kind === 0x90 || (kind === 0xb0 && (bytes[1] === 123 || bytes[1] === 120))) {
    if (time <= midiOut.settled) midiCount(bytes[0], bytes[1], bytes[2]);
    else midiOut.ahead.push(time, bytes[0], bytes[1], bytes[2]);
  }
  return true;
}

// Sends a batch of the worker's messages (time, status, first, second, four numbers each) with their
// timestamps, unless it is of a play other than the one going on (made before a halt, come after it).
// Status 0xf0: the message is sysex[first] (system exclusive, sent whole where the browser gave leave,
// or the messages of a file's escape event).
function midiSend(data, play, sysex) {
  if (play !== midiOut.play) return;
  midiSettle(performance.now() - midiUnsure);
  for (let i = 0; i < data.length; i += 4) {
    const status = data[i + 1];
    const kind = status & 0xf0;
    let bytes;
    if (status === 0xf0) {
      bytes = sysex?.[data[i + 2]];
      if (!bytes || (bytes[0] === 0xf0 && !midiOut.sysexAccess)) continue;
    } else {
      bytes = kind === 0xc0 || kind === 0xd0 ? [status, data[i + 2]] : [status, data[i + 2], data[i + 3]];
    }
    if (!midiSendOne(bytes, data[i])) return;
  }
}

// Gives the worker a message (the engine's, see audio/engine.js), with what it transfers and the time
// it was posted (`asked`: a play starts the worker's lead after it). From a 'play' on, the batches of
// that play are sent.
export function midiPost(message, transfer = []) {
  if (message.type === 'play') {
    midiOut.play = message.start;
    midiOut.failed = false;
  }
  if (midiOut.worker) midiOut.worker.postMessage({ ...message, asked: performance.now() }, transfer);
}

// Ends every note sent so far: what the worker posted before is dropped when it comes; where the
// output can, what it holds queued is dropped (clear()) and the notes are ended now, else after the
// last message sent. A note-off for each note sounding (a note that may have sounded, with clear()),
// then sustain off, all notes off and all sound off on the 16 channels. A hidden page may not get to
// send again (it may be going away): there the same is also sent at once. Always true: the engine's
// own stop is not needed.
export function midiHalt() {
  midiOut.play = -1;
  const output = midiOut.output;
  if (!output) return true;
  const now = performance.now();
  let at = now;
  if (typeof output.clear === 'function') {
    output.clear();
    midiSettle(now - midiUnsure);
    const ahead = midiOut.ahead;
    for (let i = 0; i < ahead.length; i += 4) {
      // sent for the last moments: it may have been played, or dropped; counted as sounding
      if ((ahead[i + 1] & 0xf0) === 0x90 && ahead[i + 3] > 0) midiCount(ahead[i + 1], ahead[i + 2], ahead[i + 3]);
    }
    midiOut.last = now;
  } else {
    midiSettle(Infinity);
    at = Math.max(now, midiOut.last);
  }
  midiOut.ahead = [];
  midiOut.settled = at;
  const ends = midiOut.sounding.slice();
  if (document.visibilityState === 'hidden' && at > now) {
    midiOut.last = now;  // at once, before what is queued
    midiEndAll(ends, now);
  }
  midiEndAll(ends, at);
  midiOut.sounding.fill(0);
  return true;
}

// Sends for `time` a note-off for each note counted in `ends` (by channel and key), then sustain
// off, all notes off and all sound off on the 16 channels.
function midiEndAll(ends, time) {
  for (let i = 0; i < 16 * 128; i += 1) {
    for (let n = ends[i]; n > 0; n -= 1) midiSendOne([0x80 | (i >> 7), i & 0x7f, 64], time);
  }
  for (let c = 0; c < 16; c += 1) {
    for (const k of [64, 123, 120]) midiSendOne([0xb0 | c, k, 0], time);
  }
}

// Ends the worker (after its stop was sent) and forgets the output.
export function midiStop() {
  if (midiOut.worker) midiOut.worker.terminate();
  midiOut.worker = null;
  midiOut.output = null;
}

// Whether the worker playing to an output is running.
export function midiStarted() {
  return midiOut.worker !== null;
}
