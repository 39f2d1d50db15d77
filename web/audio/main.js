// The audio side's entry: one bundle for its three hosts, each found by what its global scope has.
//  - An audio worklet: registers the processors 'smfdump-synth' (the synthesizer alone) and
//    'smfdump-player' (the synthesizer with the player's engine), each quantum rendered at its frame.
//  - A worker (the Web MIDI timer): the player's engine on a 25 ms timer, its messages made 70 ms
//    ahead with their times in the page's performance.now() milliseconds, posted to the page with the
//    number of the play that made them.
//  - The main thread (where no worklet can be loaded): nothing runs; the page runs the bundle as a
//    script and calls what it exports (the bundle's one global, smfdumpAudio) from a
//    ScriptProcessorNode.
import { engineMessage, engineQuantum, engineSetHost, engineStep, engineTake, engineWarmUp } from './engine.js';
import { hostMessage, newSynth, reportProgress, synthQueue, synthRender, synthWarmUp } from './synth.js';
import { packedFirst, packedSecond, packedStatus } from '../shared/packing.js';
import { playerProcessor, synthProcessor } from '../shared/protocol.js';

// for the main thread, where the page plays through them itself
export { newSynth, synthClear, synthQueue, synthRender, synthSilence, synthStats, synthZones } from './synth.js';
export { engineOnMainThread } from './engine.js';

// Answers the page's { type: 'lend', id, at, frames } with a copy of that part of the sample array the
// synthesizer's zones play: { type: 'lent', id, length (of the whole array; 0: none), at, part }. The
// page keeps no copy of a SoundFont's samples once the live synthesizer has them, and borrows them
// thus, a piece a message, for a synthesizer rendering offline.
function lendSamples(synth, m, post) {
  const sample = synth.sampled ? synth.sampled.sample : null;
  const part = sample ? sample.slice(m.at, m.at + m.frames) : null;
  post({ type: 'lent', id: m.id, length: sample ? sample.length : 0, at: m.at, part }, part ? [part.buffer] : []);
}

// Registers both processors in an audio worklet.
function hostWorklet() {
  // One synthesizer per node, rendering each quantum at the context's frame.
  class SynthProcessor extends AudioWorkletProcessor {
    // A synthesizer at the context's rate, its port taking the host's messages.
    constructor() {
      super();
      this.synth = newSynth(sampleRate);
      const post = (m) => this.port.postMessage(m);
      this.port.onmessage = (e) => hostMessage(this.synth, e.data, post);
      this.post = post;
    }

    // Renders one quantum at the context's frame; progress goes out while rendering offline.
    process(inputs, outputs) {
      const out = outputs[0];
      const left = out[0], right = out[1] || new Float32Array(left.length);
      synthRender(this.synth, left, right, left.length, currentFrame);
      reportProgress(this.synth, this.post);
      return true;
    }
  }

  // The synthesizer and the sequencer, each quantum's messages made just before it.
  class PlayerProcessor extends AudioWorkletProcessor {
    // A synthesizer at the context's rate and the engine feeding it; a live one warms up first.
    constructor(options) {
      super();
      const live = Boolean(options?.processorOptions?.live);
      this.synth = newSynth(sampleRate);
      const post = (m, transfer) => this.port.postMessage(m, transfer);
      this.post = post;
      engineSetHost({ post, queue: (events, start, sysex) => synthQueue(this.synth, events, sysex), readInSteps: live });
      this.inbox = [];  // the engine's messages that play or stop, for the next quantum (see engineTake)
      this.timing = { type: 'timing', quanta: 0, sumMs: 0, meanMs: 0, maxMs: 0, maxFrame: 0, warmUpMs: 0 };
      // live, the first notes must not wait for the code of their voices, nor the sequencer's, to be compiled
      if (live) this.timing.warmUpMs = synthWarmUp(sampleRate) + engineWarmUp();
      this.port.onmessage = (e) => {
        const m = e.data;
        if (m.type === 'timing') {
          this.timing.meanMs = this.timing.sumMs / Math.max(1, this.timing.quanta);
          post(this.timing);
          return;
        }
        if (m.type === 'lend') {
          lendSamples(this.synth, m, post);
          return;
        }
        if (!engineTake(m, this.inbox, currentFrame / sampleRate)) hostMessage(this.synth, m, post);  // else the synthesizer's own
      };
    }

    // Renders one quantum: the engine's messages for it first, timed together with the synthesizer.
    process(inputs, outputs) {
      const out = outputs[0];
      const left = out[0];
      const right = out[1] || new Float32Array(left.length);
      const frame = currentFrame;
      const started = Date.now();
      engineQuantum(this.inbox, frame, left.length, sampleRate);
      synthRender(this.synth, left, right, left.length, frame);
      reportProgress(this.synth, this.post);  // while rendering offline, when asked
      const ms = Date.now() - started;
      this.timing.quanta += 1;
      this.timing.sumMs += ms;
      if (ms > this.timing.maxMs) {
        this.timing.maxMs = ms;
        this.timing.maxFrame = frame;
      }
      return true;
    }
  }

  registerProcessor(synthProcessor, SynthProcessor);
  registerProcessor(playerProcessor, PlayerProcessor);
}

// Runs the engine in the Web MIDI timer worker: its clock is the page's performance.now(), told in
// the first message ({ type: 'clock', origin }); the engine's messages come with the time they were
// posted. What is made ahead is sent ahead, and a halt of the
// page's comes after it: 70 ms ahead (a timer's turn and 45 ms to spare), and a play starting 60 ms
// after it is asked, keep a pause or a seek heard within 100 ms.
function hostTimerWorker() {
  const lookahead = 0.07;
  let pageOrigin = 0;  // performance.timeOrigin of the page, to give times in the page's clock
  const clock = () => (performance.timeOrigin + performance.now() - pageOrigin) / 1000;
  const queue = (events, start, messages) => {
    const data = new Float64Array(events.length * 2);
    const sysex = [];  // the batch's system exclusive messages, each copied once for each time it is sent
    for (let i = 0, j = 0; i < events.length; i += 2, j += 4) {
      data[j] = events[i] * 1000;
      data[j + 1] = packedStatus(events[i + 1]);
      data[j + 2] = packedFirst(events[i + 1]);
      data[j + 3] = packedSecond(events[i + 1]);
      if (data[j + 1] === 0xf0) {
        data[j + 2] = sysex.length;
        sysex.push(messages[events[i + 1] >>> 8]);
      }
    }
    postMessage({ type: 'midi', start, data, sysex }, [data.buffer]);
  };
  engineSetHost({ post: (m, transfer) => postMessage(m, transfer), queue, lead: 0.06, toHost: 1000, waits: false, pacesSysex: true });
  self.onmessage = (e) => {
    if (e.data.type === 'clock') {
      pageOrigin = e.data.origin;
      return;
    }
    // taken as of when the page asked (`asked`, its milliseconds): a play starts `lead` after that,
    // however late this thread got to it
    engineMessage(e.data, Math.min(clock(), (e.data.asked ?? Infinity) / 1000));
  };
  setInterval(() => {
    const now = clock();
    engineStep(now, now + lookahead);
  }, 25);
}

if (typeof AudioWorkletProcessor === 'function' && typeof registerProcessor === 'function') hostWorklet();
else if (typeof WorkerGlobalScope === 'function' && typeof postMessage === 'function') hostTimerWorker();
