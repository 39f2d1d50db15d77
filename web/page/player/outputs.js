// Where the player plays: "This page" (the built-in sound, or the SoundFont loaded) or a Web MIDI
// output, each behind the same few calls, and the link to the engine that plays there: its copy of
// the events to play, the settings it was given, its answers. The player reaches an output only
// through outputOf() and these calls:
//   start()        readies the output, inside the user's gesture; resolves when it can take messages
//   post(m, list)  gives its engine a message (see audio/engine.js), with what it transfers
//   halt()         ends what sounds (pause, stop, seek, another output or file): true when the
//                  output did it itself, and the engine's own stop is then not sent. A Web MIDI
//                  output always does: every note sent so far ends within the look-ahead, whatever
//                  was queued, and what the engine posted before the halt is dropped (midi_out.js)
//   stop()         lets the output go (another is chosen)
//   now()          the time in the engine's clock for it; heardNow(): the same as heard
//   unit           that clock's units a second: 1 (the audio context's seconds) or 1000 (the page's
//                  milliseconds, for Web MIDI)
import { $, setUsable } from '../dom.js';
import { listed, listingTurn, showNotice } from '../files.js';
import { ask } from '../lister.js';
import { askPlayed } from './follow.js';
import { takeLyrics } from './lyrics.js';
import { midiAsk, midiAskSysex, midiHalt, midiOutputOf, midiPost, midiStart, midiStarted, midiStop } from './midi_out.js';
import { playDataEvents } from '../../shared/play_data.js';
import { settings } from './settings.js';
import { fromEngine, pausePlaying, player, startPlaying } from './transport.js';
import { roll } from '../roll.js';
import { soundLatency, soundNow, soundPlayerListen, soundPlayerPost, soundStart } from '../sound.js';

export const output = {
  target: 'page',      // where it plays: 'page' (the page's own sound) or 'midi:' and an output's id
  data: null,          // the compact copy of what is played (the one there is), while no engine holds it
  dataTurn: -1,        // the listing (listingTurn) that copy is of
  dataAsked: null,     // the copy asked of the listing worker (a promise), once for each listing
  answers: new Map(),  // the engine's answers awaited, by their type ('returned', 'lent'): resolve
  engineTurn: -1,      // the listing whose events the engine in use holds
  sent: '',            // the settings the engine was last given (tracks and the rest), to send only changes
  sysex: 0,            // the file's system exclusive events (F0 and F7), once its copy is here
};

// The page's own sound.
const pageOutput = {
  start: () => soundStart(),
  post: soundPlayerPost,
  halt: () => false,
  stop: () => {},
  now: soundNow,
  heardNow: () => soundNow() - soundLatency(),
  unit: 1,
};

// The Web MIDI output chosen in "Play to": the engine runs in a timer worker of its own, and the page
// sends what it makes with timestamps.
const midiOutput = {
  start: async () => {
    // a file with system exclusive asks leave to send it, the first time; refused, the rest plays
    await askPlayData();
    if (output.sysex > 0 && !(await midiAskSysex())) {
      showNotice('System exclusive is not sent: the browser did not allow it to be sent to MIDI outputs; the rest plays.');
    }
    if (midiStarted()) return;
    const chosen = midiOutputOf(output.target);
    if (!chosen) throw new Error('the MIDI output is gone');
    midiStart(chosen, fromEngine, midiFailed);
  },
  post: midiPost,
  halt: midiHalt,
  stop: midiStop,
  now: () => performance.now(),
  heardNow: () => performance.now(),
  unit: 1000,
};

// The Web MIDI output's send() threw: playing stops, and the page says why.
function midiFailed(name, why) {
  pausePlaying();
  showNotice(`Playing stopped: the MIDI output “${name}” did not take a message (${why}).`);
}

// The output in use.
export function outputOf() {
  return output.target === 'page' ? pageOutput : midiOutput;
}

// Forgets the last file's events for a new listing; the output stays.
export function resetOutput() {
  if (output.engineTurn !== -1) toEngine({ type: 'unload' });  // the last file's events are let go
  output.engineTurn = -1;
  output.sent = '';
  output.data = null;
  output.dataAsked = null;
  output.sysex = 0;
}

// Gives the engine in use a message (see audio/engine.js).
export function toEngine(message, transfer = []) {
  outputOf().post(message, transfer);
}

// Takes an answer of the engine that was asked for (see engineAnswer); false when none was.
export function engineAnswered(m) {
  if (!output.answers.has(m.type)) return false;
  const resolve = output.answers.get(m.type);
  output.answers.delete(m.type);
  resolve(m);
  return true;
}

// Asks the engine in use for an answer of the type given (to a message sent with it).
function engineAnswer(type, message) {
  return new Promise((resolve) => {
    output.answers.set(type, resolve);
    toEngine(message);
  });
}

// The track indexes that sound together: every track, or in format 2 the track of the chosen line or
// note (at first the first track with notes).
export function playedTracks() {
  if (!listed) return [];
  if (listed.format === 2) return [roll.gridTrack];
  return listed.tracks.map((t) => t.index);
}

// The compact copy of what is played, for an engine to take (transferred): from the listing worker,
// which makes it once for each listing, or given back by the engine that held it.
async function playData() {
  const turn = listingTurn;
  if (output.dataTurn !== turn) {
    await askPlayData();
    if (turn !== listingTurn) throw new Error('the file changed');
  }
  if (!output.data) throw new Error('the events to play are held elsewhere');
  const data = output.data;
  output.data = null;
  return data;
}

// A copy of the compact copy for a rendering of its own: of the page's, or lent by the engine holding it.
export async function copyOfPlayData() {
  if (output.dataTurn !== listingTurn) await askPlayData();
  if (output.data) return output.data.slice(0);
  const { data } = await engineAnswer('lent', { type: 'lend' });
  if (!data) throw new Error('the events to play are not at hand');
  return data;
}

// Asks the listing worker for the compact copy of the listing shown, once: when the listing and the
// roll are on screen (the worker answers in turn, and the first lines come first), or at the first
// Play, whichever is sooner. Resolves when it is here (or can't be had).
export function askPlayData() {
  if (player.unplayable !== '' || !listed) return Promise.resolve();
  if (output.dataAsked) return output.dataAsked;
  const turn = listingTurn;
  output.dataAsked = ask({ type: 'play data' }).then((data) => {
    if (turn !== listingTurn) return;
    output.data = data.data;
    output.dataTurn = turn;
    const kinds = data.data ? playDataEvents(data.data).kinds : [];
    output.sysex = kinds.reduce((n, kind) => n + (kind === 0xf0 || kind === 0xf7 ? 1 : 0), 0);
    takeLyrics(output.data, player.tick);
    askPlayed(true);  // the place's time and the length, now that the worker has the tempo map
  }, () => {});
  return output.dataAsked;
}

// Makes sure the engine in use holds this file's events and the settings in force.
export async function readyEngine() {
  if (output.engineTurn !== listingTurn) {
    const turn = listingTurn;
    const data = await playData();
    if (turn !== listingTurn) throw new Error('the file changed');
    toEngine({ type: 'load', data }, [data]);
    output.engineTurn = turn;
    output.sent = '';
  }
  sendSettings();
}

// Tells the engine the settings that changed since it was last told: tracks played, muted tracks,
// speed, transpose and loop.
export function sendSettings() {
  if (output.engineTurn !== listingTurn) return;
  const tracks = playedTracks();
  const muted = listed.tracks.map((t) => (roll.hidden.has(t.index) ? 1 : 0));
  const loop = settings.loop ?? { a: 0, b: 0 };
  const sent = { tracks, muted, speed: settings.speed, transpose: settings.transpose, loop };
  const was = output.sent ? JSON.parse(output.sent) : {};
  if (JSON.stringify(was.tracks) !== JSON.stringify(tracks)) toEngine({ type: 'select', tracks });
  if (JSON.stringify(was.muted) !== JSON.stringify(muted)) toEngine({ type: 'mute', flags: muted });
  if (was.speed !== settings.speed) toEngine({ type: 'speed', speed: settings.speed });
  if (was.transpose !== settings.transpose) toEngine({ type: 'transpose', semitones: settings.transpose });
  if (JSON.stringify(was.loop) !== JSON.stringify(loop)) toEngine({ type: 'loop', a: loop.a, b: loop.b });
  output.sent = JSON.stringify(sent);
}

// The tracks the engine was last told to play (see sendSettings), or undefined.
export function tracksSent() {
  return JSON.parse(output.sent || '{}').tracks;
}

// Chooses the "Play to" output: what plays stops, and plays on the new one from the same place.
async function chooseOutput() {
  const value = $('play-to').value;
  if (value === output.target) return;
  const was = player.playing;
  if (was) pausePlaying();
  setUsable($('play'), false);
  $('play-to').disabled = true;  // one change at a time: the events pass from one engine to the next
  // the engine that held the events gives them back, for the next to take
  if (output.engineTurn === listingTurn) {
    const { data } = await engineAnswer('returned', { type: 'unload', give: true });
    if (data && output.engineTurn === listingTurn) {
      output.data = data;
      output.dataTurn = listingTurn;
    }
  }
  outputOf().stop();
  output.target = value;
  output.engineTurn = -1;
  output.sent = '';
  setUsable($('play'), player.unplayable === '');
  $('play-to').disabled = false;
  if (was) startPlaying();
}

// Connects the "Play to" choice; the page's sound tells the player of its engine's messages.
export function startOutputs() {
  $('play-to').addEventListener('change', chooseOutput);
  // the browser's MIDI outputs are asked for when the choice is first opened (the question may ask
  // the user's permission), or at once where the permission was given before
  const askOnce = () => midiAsk();
  $('play-to').addEventListener('pointerdown', askOnce, { once: true });
  $('play-to').addEventListener('focus', askOnce, { once: true });
  if (navigator.permissions && typeof navigator.requestMIDIAccess === 'function') {
    navigator.permissions.query({ name: 'midi' }).then((state) => { if (state.state === 'granted') midiAsk(); }, () => {});
  }
  soundPlayerListen(fromEngine);
  // a page going away, or frozen in a background tab, gets no later turn to end what sounds
  window.addEventListener('pagehide', pausePlaying);
  document.addEventListener('freeze', pausePlaying);
}
