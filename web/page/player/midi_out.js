// Web MIDI output: the MIDI outputs the browser offers, listed in the "Play to" choice, and the worker
// that plays to one of them (the player's engine: the audio side's bundle, from the page's own copy of
// its text). The worker makes the messages ahead of time with their times; this part sends each with
// its timestamp, so that nothing here has to be on time.
import { $ } from '../dom.js';

const midiOut = {
  access: null,          // the MIDIAccess, once asked for and given
  asked: null,           // the promise of the request, once made
  why: '',               // why there are no outputs to offer, in a word or two ('' while there may be)
  output: null,          // the MIDIOutput played to, or null for the page's own sound
  worker: null,          // the engine's worker, while an output is played to
  onMessage: () => {},   // the player's handler of the engine's messages
  touched: new Uint8Array(16 * 128),  // notes started since the last stop, by channel and key
};

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

// The MIDIOutput of a "Play to" value, or null.
export function midiOutputOf(value) {
  if (!midiOut.access || !value.startsWith('midi:')) return null;
  return midiOut.access.outputs.get(value.slice(5)) ?? null;
}

// Starts the worker that plays to output; its messages go to onMessage.
export function midiStart(output, onMessage) {
  midiStop();
  midiOut.output = output;
  midiOut.onMessage = onMessage;
  midiOut.touched.fill(0);
  const url = URL.createObjectURL(new Blob([$('audio-source').textContent], { type: 'text/javascript' }));
  midiOut.worker = new Worker(url);
  URL.revokeObjectURL(url);
  midiOut.worker.postMessage({ type: 'clock', origin: performance.timeOrigin });
  midiOut.worker.onmessage = (event) => {
    const m = event.data;
    if (m.type === 'midi') midiSend(m.data);
    else midiOut.onMessage(m);
  };
}

// Sends the worker's messages (time, status, first, second, four numbers each) with their timestamps.
function midiSend(data) {
  const output = midiOut.output;
  if (!output) return;
  for (let i = 0; i < data.length; i += 4) {
    const status = data[i + 1];
    const kind = status & 0xf0;
    const bytes = kind === 0xc0 || kind === 0xd0 ? [status, data[i + 2]] : [status, data[i + 2], data[i + 3]];
    if (kind === 0x90) midiOut.touched[(status & 0x0f) * 128 + data[i + 2]] = 1;
    try {
      output.send(bytes, data[i]);
    } catch {
      midiOut.output = null;  // the output went away: nothing more is sent to it
      return;
    }
  }
}

// Gives the worker a message (the engine's, see audio/engine.js), with what it transfers.
export function midiPost(message, transfer = []) {
  if (midiOut.worker) midiOut.worker.postMessage(message, transfer);
}

// Stops at once where the output can drop what is queued (clear()): every note started since the
// last stop is ended and every channel silenced now; elsewhere the engine's own stop, which comes
// after what was sent ahead, is enough.
export function midiHalt() {
  const output = midiOut.output;
  if (!output || typeof output.clear !== 'function') return false;
  output.clear();
  const now = performance.now();
  for (let i = 0; i < 16 * 128; i += 1) {
    if (midiOut.touched[i]) output.send([0x80 | (i >> 7), i & 0x7f, 64], now);
  }
  midiOut.touched.fill(0);
  for (let c = 0; c < 16; c += 1) {
    for (const k of [64, 123, 120]) output.send([0xb0 | c, k, 0], now);
  }
  return true;
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

// Forgets the notes started since the last stop (the engine's own stop ended them).
export function midiForgetTouched() {
  midiOut.touched.fill(0);
}
