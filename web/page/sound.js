// The page's sound: the main-thread host of the audio side (web/audio: the synthesizer, the player's
// sequencer and engine, in one bundle whose text the page keeps in <script type="text/plain"
// id="audio-source">). A player sends it timed MIDI messages; it plays them at their exact frame in
// the audio thread, or renders them offline into a WAV file.
//
//   soundStart(options)  in a user gesture (a click): makes or resumes the AudioContext and loads the
//                        audio side as an AudioWorklet from a data: URL; where that fails (or when
//                        options.worklet === false) runs it on the main thread in a ScriptProcessorNode.
//                        Resolves with { way: 'worklet' | 'script-processor' }.
//   soundSend(events)    an array of { time, bytes } (time in soundNow() seconds; bytes: 1 to 3 MIDI
//                        bytes, status first), or, faster, a Float64Array of pairs [time, status |
//                        data1 << 8 | data2 << 16]. A time already past plays at once; system messages
//                        (0xF0 and up) are ignored.
//   soundClear()         drops what is queued and not yet played
//   soundSilence()       ends every voice at once (stop, seek, loop); controllers stay as they are
//   soundNow()           the context's time in seconds
//   soundLatency()       seconds from a context time to its sound at the speakers
//   soundStats()         resolves with the audio thread's figures: { way } and the synthesizer's
//                        stats (render time per 128 frames against its budget, voices, late events,
//                        peak, queued)
//   soundZones(zones)    sampled instruments for every synthesizer from now on (audio/synth.js,
//                        synthZones: zone objects, or a table of them sharing one sample array, which each
//                        processor gets a copy of, a piece at a time); [] gives back the built-in
//                        sound. Resolves once the synthesizer playing has them. Once the live worklet
//                        has a table's samples the page lets its own copy go, and a worklet rendering
//                        offline borrows the live one's, a piece at a time.
//   soundRender(events, seconds, onProgress)  renders offline with the same synthesizer in a worklet,
//                        faster than real time; resolves with { buffer (AudioBuffer), stats, ms }
//   renderWav(events, seconds, onProgress)    the same as a Blob 'audio/wav', 16-bit stereo, 44,100 Hz
//                        onProgress(share) is called with 0 to 1 as the rendering goes.
// The player's sequencer and engine run in the same audio thread as the synthesizer, in the processor
// 'smfdump-player', which also takes all of the above; the player talks to it through:
//   soundPlayerPost(message, transfer)  a message for the player's engine (see audio/engine.js)
//   soundPlayerListen(listener)         the engine's messages to the page go to listener
//   soundRenderPlayer(setup, onProgress)  renders the engine's playing offline into a WAV Blob; setup:
//                        { data, tracks, muted, speed, transpose, from, to } (to: null for the end)
import { packMessage } from '../shared/packing.js';
import { playerProcessor } from '../shared/protocol.js';

const soundRate = 44100;                // frames per second of rendered WAV files
const soundScriptFrames = 1024;         // the ScriptProcessorNode's buffer, in frames
let soundContext = null;                // the AudioContext, made by the first soundStart
let soundNode = null;                   // what plays: an AudioWorkletNode or a ScriptProcessorNode
let soundWay = '';                      // 'worklet' or 'script-processor', once started
let soundEngine = null;                 // the synthesizer on the main thread (the ScriptProcessor way)
let soundEffectsOn = true;              // reverb and chorus mixed in (off: the dry sound, for comparing with another synthesizer's)
let soundAudio = null;                  // the audio side's functions on the main thread, once imported
let soundStarting = null;               // the promise of the first start
let soundAsked = 0;                     // the id of the last question to a processor
const soundAnswers = new Map();         // answers awaited from processors, by question id
let soundZoneList = [];                 // the sampled zones given by soundZones: zone objects, or a table of them
                                        // (its sample null, and `frames` long, once only the live worklet holds it)
const soundZonesWanted = new WeakMap(); // each processor's port: the zones last meant for it
const soundZonesTaken = new WeakMap();  // each worklet node: the promise of its zones handed over
let soundPlayer = null;                 // the player's engine on the main thread (the ScriptProcessor way)
let soundPlayerListener = () => {};     // told of the player engine's messages
const soundTail = 2;                    // seconds rendered after the last note ends: its release and the reverb
const soundWavPiece = 1 << 20;          // frames handed to the WAV worker at a time: 4 MB a channel

// The audio side's bundle as a data: URL, the one way to load a worklet that every browser takes
// from a page opened from file:// (Chromium refuses blob: and sibling files there).
function soundSourceUrl() {
  return `data:text/javascript;charset=utf-8,${encodeURIComponent(document.getElementById('audio-source').textContent)}`;
}

// The audio side's functions on the main thread (the ScriptProcessor way): its bundle run once as a
// script, which leaves them in its one global, smfdumpAudio (a bundle has no other way to hand them to
// a script of another bundle: a module worker, or a module imported, can't be loaded from a blob where
// the page is opened from file://).
function soundLoadMainThread() {
  if (soundAudio) return Promise.resolve(soundAudio);
  return new Promise((resolve, reject) => {
    const script = document.createElement('script');
    const url = URL.createObjectURL(new Blob([document.getElementById('audio-source').textContent], { type: 'text/javascript' }));
    script.src = url;
    script.onload = () => {
      URL.revokeObjectURL(url);
      soundAudio = globalThis.smfdumpAudio;
      resolve(soundAudio);
    };
    script.onerror = () => reject(new Error('the synthesizer could not be loaded'));
    document.head.append(script);
  });
}

// Sends a question to a worklet node's processor, after its zones; resolves with its answer.
function soundAsk(node, message) {
  soundAsked += 1;
  const id = soundAsked;
  // asked once the node's zones are handed over: an answer means they are taken too
  return (soundZonesTaken.get(node) || Promise.resolve()).then(() => new Promise((resolve) => {
    soundAnswers.set(id, resolve);
    node.port.postMessage({ ...message, id });
  }));
}

// Takes a message from a processor: an answer to a question, else hands it to other.
function soundHeard(message, other) {
  const resolve = soundAnswers.get(message.id);
  if ((message.type === 'stats' || message.type === 'lent') && resolve) {
    soundAnswers.delete(message.id);
    resolve(message.type === 'stats' ? message.stats : message);
  } else if (other) {
    other(message);
  }
}

// A worklet node playing the synthesizer with the player's engine in context, its port listening; the
// module must be loaded. A live one spreads a start's reading over quanta; one rendering offline
// starts where it is asked to, at once.
function soundWorkletNode(context, other, live = false) {
  const node = new AudioWorkletNode(context, playerProcessor, { numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2], processorOptions: { live } });
  node.port.onmessage = (event) => soundHeard(event.data, other);
  if (!soundEffectsOn) node.port.postMessage({ type: 'effects', on: false });
  const none = Array.isArray(soundZoneList) && soundZoneList.length === 0;
  soundZonesTaken.set(node, none ? Promise.resolve() : soundPostZones(node.port, soundZoneList));
  node.connect(context.destination);
  return node;
}

// Connects the synthesizer to the context: in a worklet if asked and possible, else on the main thread.
async function soundConnect(context, worklet) {
  if (worklet && context.audioWorklet) {
    try {
      await context.audioWorklet.addModule(soundSourceUrl());
      const given = soundZoneList;  // the zones the node starts with
      soundNode = soundWorkletNode(context, (message) => soundPlayerListener(message), true);
      soundWay = 'worklet';
      await soundZonesTaken.get(soundNode);
      soundLetSamplesGo(given);
      return;
    } catch (error) {
      // a Content-Security-Policy without data: scripts, or a browser without data: worklets
      console.info(`The synthesizer runs on the main thread: ${error.message}`);
    }
  }
  // A ScriptProcessorNode renders silence inside a Firefox OfflineAudioContext, so this way is for
  // playing only; offline rendering always uses the worklet.
  const audio = await soundLoadMainThread();
  soundEngine = audio.newSynth(context.sampleRate);
  soundEngine.effects = soundEffectsOn;
  audio.synthZones(soundEngine, soundZoneList);
  // the player's engine beside it, rendering through it
  soundPlayer = audio.engineOnMainThread(soundEngine, context.sampleRate, (message) => soundPlayerListener(message));
  const render = soundPlayer.render;
  const node = context.createScriptProcessor(soundScriptFrames, 0, 2);
  node.onaudioprocess = (event) => {
    const left = event.outputBuffer.getChannelData(0), right = event.outputBuffer.getChannelData(1);
    const first = Math.round(event.playbackTime * context.sampleRate);
    for (let at = 0; at < left.length; at += 128) {
      const n = Math.min(128, left.length - at);
      render(left.subarray(at, at + n), right.subarray(at, at + n), n, first + at);
    }
  };
  node.connect(context.destination);
  soundNode = node;
  soundWay = 'script-processor';
}

// Makes or resumes the AudioContext (inside a user gesture) and starts the synthesizer once.
export function soundStart(options = {}) {
  if (!soundContext) soundContext = new AudioContext({ latencyHint: 'interactive' });
  if (soundContext.state !== 'running') {
    soundContext.resume().catch(() => {});  // not awaited: without an output device it may never resolve
    // iOS lets sound out only after a source has started inside the gesture
    const unlock = soundContext.createBufferSource();
    unlock.buffer = soundContext.createBuffer(1, 1, soundContext.sampleRate);
    unlock.connect(soundContext.destination);
    unlock.start();
  }
  if (!soundStarting) {
    soundStarting = soundConnect(soundContext, options.worklet !== false).catch((error) => {
      soundStarting = null;  // a later click tries again
      throw error;
    });
  }
  return soundStarting.then(() => ({ way: soundWay }));
}

// Packs events given as { time, bytes } into pairs [time, status | data1 << 8 | data2 << 16].
function soundPack(events) {
  if (events instanceof Float64Array) return events;
  const data = new Float64Array(events.length * 2);
  events.forEach((event, i) => {
    const b = event.bytes;
    data[2 * i] = event.time;
    data[2 * i + 1] = packMessage(b[0] & 0xff, b.length > 1 ? b[1] & 0x7f : 0, b.length > 2 ? b[2] & 0x7f : 0);
  });
  return data;
}

// Throws unless soundStart has connected the synthesizer.
function soundStarted() {
  if (!soundNode) throw new Error('the sound is not started: call soundStart() in a click first');
}

// Queues timed messages for the synthesizer.
export function soundSend(events) {
  soundStarted();
  const data = soundPack(events);
  if (soundEngine) soundAudio.synthQueue(soundEngine, data);
  else soundNode.port.postMessage({ type: 'events', data });
}

// Drops what is queued and not yet played.
export function soundClear() {
  soundStarted();
  if (soundEngine) soundAudio.synthClear(soundEngine);
  else soundNode.port.postMessage({ type: 'clear' });
}

// Ends every voice at once.
export function soundSilence() {
  soundStarted();
  if (soundEngine) soundAudio.synthSilence(soundEngine);
  else soundNode.port.postMessage({ type: 'silence' });
}

// The context's time in seconds (0 before the first soundStart).
export function soundNow() {
  return soundContext ? soundContext.currentTime : 0;
}

// Seconds from a context time to its sound at the speakers: the context's latencies, and the
// ScriptProcessorNode's buffer when it plays.
export function soundLatency() {
  if (!soundContext) return 0;
  const buffered = soundWay === 'script-processor' ? soundScriptFrames / soundContext.sampleRate : 0;
  return (soundContext.baseLatency || 0) + (soundContext.outputLatency || 0) + buffered;
}

// Resolves with the audio thread's figures (see the top of this file).
export async function soundStats() {
  soundStarted();
  const stats = soundEngine ? soundAudio.synthStats(soundEngine) : await soundAsk(soundNode, { type: 'stats' });
  return { way: soundWay, ...stats };
}

// Gives sampled zones to the synthesizer playing now and to every one made later; resolves once the
// one playing has them.
export function soundZones(zones) {
  soundZoneList = zones;
  if (soundEngine) {
    soundAudio.synthZones(soundEngine, zones);
  } else if (soundNode) {
    const taken = soundPostZones(soundNode.port, zones).then(() => soundLetSamplesGo(zones));
    soundZonesTaken.set(soundNode, taken);
    return taken;
  }
  return Promise.resolve();
}

// Lets the page's copy of the samples of zones go, when they are still the zones in use and the live
// worklet has them: from then on the live worklet holds the one copy, and lends it (soundPostZones).
function soundLetSamplesGo(zones) {
  if (zones !== soundZoneList || soundWay !== 'worklet' || Array.isArray(zones) || !zones.sample) return;
  soundZoneList = { ...zones, sample: null, frames: zones.sample.length };
  soundZonesWanted.set(soundNode.port, soundZoneList);  // which held the samples too
}

// Posts zones to a processor; resolves once posted. A sample array they share goes over in pieces,
// each a small copy handed over, a few between other tasks, before the table that plays it: neither
// thread copies a SoundFont's tens of megabytes at once (Firefox copies what a port hands over). The
// pieces are the page's own while it holds the array, else borrowed from the live worklet. Zones meant
// for the port after these, while the pieces go, are posted instead.
async function soundPostZones(port, zones) {
  soundZonesWanted.set(port, zones);
  if (Array.isArray(zones)) {
    const copies = new Map();
    const given = zones.map((z) => {
      if (!copies.has(z.sample)) copies.set(z.sample, z.sample.slice());
      return { ...z, sample: copies.get(z.sample) };
    });
    port.postMessage({ type: 'zones', zones: given }, [...copies.values()].map((a) => a.buffer));
    return;
  }
  const sample = zones.sample, length = sample ? sample.length : zones.frames, piece = 1 << 19;  // frames a piece: a megabyte of 16-bit samples
  for (let at = 0; at < length; at += piece) {
    if (sample && at > 0 && at % (2 * piece) === 0) await soundYield();
    if (soundZonesWanted.get(port) !== zones) return;
    const part = sample ? sample.slice(at, at + piece) : (await soundAsk(soundNode, { type: 'lend', at, frames: piece })).part;
    // the live worklet's zones changed meanwhile: these are no longer to be had, nor wanted
    if (part === null || soundZonesWanted.get(port) !== zones || (!sample && soundZoneList !== zones)) return;
    port.postMessage({ type: 'samples', length, at, part }, [part.buffer]);
  }
  const rows = zones.rows.slice();
  port.postMessage({ type: 'zones', zones: { ...zones, sample: null, rows } }, [rows.buffer]);
}

// Resolves once the tasks waiting, and a frame when one is due, have had their turn: a timer while the
// page is shown (Firefox draws no frame between messages), a message while it is hidden (a hidden
// tab's timers wait a second).
function soundYield() {
  if (!document.hidden) return new Promise((resolve) => setTimeout(resolve, 0));
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => resolve();
    channel.port2.postMessage(0);
  });
}

// Mixes reverb and chorus in (on) or leaves the sound dry, in every synthesizer from now on; the
// zones' own sends and the channels' CC 91 and 93 then go nowhere.
export function soundEffects(on) {
  soundEffectsOn = on;
  if (soundEngine) soundEngine.effects = on;
  else if (soundNode && soundWay === 'worklet') soundNode.port.postMessage({ type: 'effects', on });
}

// Renders events offline for `seconds` with the synthesizer in a worklet; resolves with
// { buffer, stats, ms }. The events go over before the rendering starts (Firefox's
// OfflineAudioContext has no suspend() to feed them in pieces); progress comes from the processor.
export async function soundRender(events, seconds, onProgress) {
  const frames = Math.max(128, Math.ceil(seconds * soundRate));
  const context = new OfflineAudioContext(2, frames, soundRate);
  if (!context.audioWorklet) throw new Error('this browser has no AudioWorklet to render with');
  await context.audioWorklet.addModule(soundSourceUrl());
  let stats = null, ended = null;
  const done = new Promise((resolve) => { ended = resolve; });
  const node = soundWorkletNode(context, (message) => {
    if (message.type !== 'progress') return;
    stats = message.stats;
    if (onProgress) onProgress(Math.min(1, message.frame / frames));
    if (message.frame + 128 >= frames) ended();
  });
  await soundZonesTaken.get(node);
  const data = soundPack(events);
  const piece = 1 << 17;  // numbers in one message: 65,536 events
  for (let at = 0; at < data.length; at += piece) node.port.postMessage({ type: 'events', data: data.slice(at, at + piece) });
  node.port.postMessage({ type: 'report', every: context.sampleRate, end: frames });
  stats = await soundAsk(node, { type: 'stats' });  // answered once every event is queued
  const started = performance.now();
  const buffer = await context.startRendering();
  const ms = performance.now() - started;
  // the processor's last report may still be on its way
  await Promise.race([done, new Promise((resolve) => setTimeout(resolve, 1000))]);
  node.port.onmessage = null;
  return { buffer, stats, ms };
}

// An AudioBuffer as a WAV file (a Blob 'audio/wav'): 16-bit PCM, its own channel count and frame rate,
// written by a worker of its own (wav_worker/main.js). The samples go over a piece at a time, each
// copied out of the buffer once the worker has written the last, so that the page's thread is never
// held long, however long the sound.
async function soundWavBlob(buffer) {
  const url = URL.createObjectURL(new Blob([document.getElementById('wav-worker-source').textContent], { type: 'text/javascript' }));
  const worker = new Worker(url);
  URL.revokeObjectURL(url);
  let answer = null;  // the answer awaited: { resolve, reject }
  worker.onmessage = (event) => answer.resolve(event.data);
  worker.onerror = (event) => answer.reject(new Error(event.message || 'the WAV file could not be written'));
  const ask = (message, transfer = []) => new Promise((resolve, reject) => {
    answer = { resolve, reject };
    worker.postMessage(message, transfer);
  });
  try {
    const channels = buffer.numberOfChannels, frames = buffer.length;
    await ask({ type: 'start', channels, frames, rate: buffer.sampleRate });
    for (let at = 0; at < frames; at += soundWavPiece) {
      const parts = [];
      for (let c = 0; c < channels; c++) {
        const part = new Float32Array(Math.min(soundWavPiece, frames - at));
        buffer.copyFromChannel(part, c, at);
        parts.push(part);
      }
      await ask({ type: 'samples', at, parts }, parts.map((p) => p.buffer));
    }
    return (await ask({ type: 'end' })).blob;
  } finally {
    worker.terminate();
  }
}

// Renders events offline into a WAV file (a Blob 'audio/wav').
export async function renderWav(events, seconds, onProgress) {
  const { buffer } = await soundRender(events, seconds, onProgress);
  return soundWavBlob(buffer);
}

// ---- the player's engine ------------------------------------------------------------------------

// Gives the player's engine a message (see audio/engine.js); nothing before soundStart.
export function soundPlayerPost(message, transfer = []) {
  if (soundPlayer) soundPlayer.message(message);
  else if (soundNode && soundWay === 'worklet') soundNode.port.postMessage(message, transfer);
}

// Hands the player engine's messages to listener.
export function soundPlayerListen(listener) {
  soundPlayerListener = listener;
}

// Renders what the player's engine plays, offline in a worklet, into a WAV file (a Blob 'audio/wav'):
// the tracks, muted tracks, speed and transpose of setup, from tick setup.from to tick setup.to (null:
// the end) and soundTail seconds after. A first, short context tells how long that is; the second
// renders it. Each gets the events (setup.data, transferred) in turn.
export async function soundRenderPlayer(setup, onProgress) {
  const node = async (context, other) => {
    if (!context.audioWorklet) throw new Error('this browser has no AudioWorklet to render with');
    await context.audioWorklet.addModule(soundSourceUrl());
    return soundWorkletNode(context, other);
  };
  // how long: the probe measures and gives the events back
  let measured = null;
  const probe = new OfflineAudioContext(2, 128, soundRate);
  const heard = new Promise((resolve) => { measured = resolve; });
  const first = await node(probe, (m) => { if (m.type === 'measured') measured(m); });
  first.port.postMessage({ type: 'load', data: setup.data }, [setup.data]);
  first.port.postMessage({ type: 'select', tracks: setup.tracks });
  first.port.postMessage({ type: 'measure', from: setup.from, to: setup.to });
  const { seconds, data } = await heard;
  first.port.onmessage = null;
  // the rendering
  const frames = Math.max(128, Math.ceil((seconds / setup.speed + soundTail) * soundRate));
  const context = new OfflineAudioContext(2, frames, soundRate);
  const player = await node(context, (m) => {
    if (m.type === 'progress' && onProgress) onProgress(Math.min(1, m.frame / frames));
  });
  player.port.postMessage({ type: 'load', data }, [data]);
  player.port.postMessage({ type: 'select', tracks: setup.tracks });
  player.port.postMessage({ type: 'mute', flags: setup.muted });
  player.port.postMessage({ type: 'speed', speed: setup.speed });
  player.port.postMessage({ type: 'transpose', semitones: setup.transpose });
  player.port.postMessage({ type: 'play', tick: setup.from, end: setup.to ?? undefined });
  player.port.postMessage({ type: 'report', every: context.sampleRate, end: frames });
  await soundAsk(player, { type: 'stats' });  // answered once the messages before it are taken
  const buffer = await context.startRendering();
  player.port.onmessage = null;
  return soundWavBlob(buffer);
}

// The AudioContext the page plays in, once soundStart made it (null before).
export function soundContextNow() {
  return soundContext;
}
