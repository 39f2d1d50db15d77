// The player's transport: play, pause, stop and seek, the place playing (told by the engine while it
// plays, kept here while it stands) shown as time, on the seek bar and as the listing's
// measure:beat:tick, and what the engine tells the page. What is played comes from the listing worker
// (a compact copy of the events its listing pass gathered); the engine that plays it (audio/engine.js)
// runs where the output in use has it (outputs.js).
import { $, setUsable, usable } from '../dom.js';
import { listed, showNotice } from '../files.js';
import { askPlayed, followRoll, following, resetFollow } from './follow.js';
import { forgetLyrics, showLyricsAt } from './lyrics.js';
import { engineAnswered, output, outputOf, readyEngine, resetOutput, toEngine } from './outputs.js';
import { drawOverlay, requestOverlay } from './overlay.js';
import { forgetLoop, settings } from './settings.js';
import { roll } from '../roll.js';

export const player = {
  playing: false,      // whether the music goes on
  tick: 0,             // where playing stands when stopped, and where it started
  endTick: 0,          // the sequence's last tick
  seconds: 0,          // the sequence's length, as written (0 while not known)
  placeSeconds: 0,     // the time, as written, at player.tick (told by the worker)
  last: null,          // the last place told by the engine: { tick, time, rate, seconds }
  sounding: new Float64Array(0),  // the notes sounding then: start, end, key, track of each
  markerUsed: 0,       // the choice of the marker (roll.markings) played from or passed by last: a
                       // marker chosen is played from once
  unplayable: '',      // why the file can't be played, '' when it can
  seekAt: 0,           // when the last seek while playing was asked (performance.now()), until it is heard
  starts: 0,           // the plays asked for, each numbered (the places told of older plays are stale)
};

// Why the listed file can't be played, in words; '' when it can.
function unplayableReason(answer) {
  if (answer.format < 0 || answer.format > 2) return 'its format has no tracks to play';
  if (answer.division === 0) return 'its division is 0 ticks per quarter note';
  if (answer.division > 32768 && (answer.division & 0xff) === 0) return 'its time code has 0 ticks per frame';
  if (answer.notes === 0) return 'it has no notes';
  return '';
}

// Starts the player for a new listing: nothing plays, the place is the start, the settings stay.
export function startPlayer(answer) {
  playerHalt();
  resetOutput();
  player.tick = 0;
  player.endTick = answer.maxTick;
  player.seconds = 0;
  player.placeSeconds = 0;
  player.last = null;
  player.sounding = new Float64Array(0);
  forgetLoop();
  player.markerUsed = roll.markings;
  resetFollow();
  forgetLyrics();
  player.unplayable = unplayableReason(answer);
  $('player').hidden = false;
  setUsable($('play'), player.unplayable === '');
  setUsable($('stop'), player.unplayable === '');
  setUsable($('save-wav'), player.unplayable === '');
  $('play-seek').max = String(Math.max(1, answer.maxTick));
  $('play-seek').step = String(answer.division > 32768 ? 1 : Math.max(1, answer.division));
  showPlayerNote();
  showPlace();
  drawOverlay();
}

// Says what is played when that is not plain: the track of a format-2 file, or why nothing can be.
export function showPlayerNote() {
  let text = '';
  if (player.unplayable) text = `This file can't be played: ${player.unplayable}.`;
  else if (listed && listed.format === 2) {
    const track = listed.tracks[roll.gridTrack];
    text = `Format 2: each track is a piece of its own; Play plays track ${track ? track.number : '?'}, the track of the line or note chosen.`;
  }
  $('player-note').textContent = text;
  $('player-note').hidden = text === '';
}

// Takes a message of the engine.
export function fromEngine(m) {
  if (m.type === 'position') {
    if (!player.playing || m.start !== player.starts) return;
    if (player.seekAt && !player.last) {
      // for the benchmark: from the seek to the sound of its first moment leaving the engine
      const out = outputOf();
      const ahead = ((m.time - out.now()) * 1000) / out.unit;
      $('roll').dataset.seekMs = (performance.now() - player.seekAt + Math.max(0, ahead)).toFixed(1);
      player.seekAt = 0;
    }
    player.last = { tick: m.tick, seconds: m.seconds, time: m.time, rate: m.rate };
    player.sounding = m.sounding;
    requestOverlay();
  } else if (m.type === 'selected') {
    player.endTick = m.endTick;
    player.seconds = m.seconds;
    $('play-seek').max = String(Math.max(1, m.endTick));
    showPlace();
  } else if (m.type === 'ended') {
    if (m.start !== player.starts) return;  // an older play's end: a seek went on meanwhile
    player.playing = false;
    player.tick = m.tick;
    player.placeSeconds = player.seconds;
    player.last = null;
    player.sounding = new Float64Array(0);
    showTransport();
    showPlace();
    drawOverlay();
    askPlayed(true);
  } else {
    engineAnswered(m);
  }
}

// The tick heard now: from the last place told, at its pace, a quarter of a second ahead at most.
export function tickNow() {
  if (!player.playing || !player.last) return player.tick;
  const { tick, time, rate } = player.last;
  const out = outputOf();
  const elapsed = Math.max(0, Math.min(out.heardNow() - time, 0.25 * out.unit));
  return Math.min(player.endTick, tick + elapsed * rate);
}

// Plays from the marker when one was chosen since the last play, else from where playing stands.
// Called inside the click or key press, where the output may be readied (an audio context made or
// resumed).
export async function startPlaying() {
  if (!listed || player.playing || player.unplayable || !usable($('play'))) return;
  const starting = outputOf().start();  // first, inside the user's gesture
  if (roll.marker !== null && roll.markings !== player.markerUsed) {
    player.tick = roll.marker;
    player.markerUsed = roll.markings;
  }
  if (player.tick >= player.endTick) player.tick = settings.loop ? settings.loop.a : 0;
  player.playing = true;
  player.last = null;
  showTransport();
  try {
    await starting;
    await readyEngine();
  } catch (e) {
    player.playing = false;
    showTransport();
    showNotice(`The file could not be played: ${e.message}.`);
    return;
  }
  if (!player.playing) return;  // stopped meanwhile
  player.starts += 1;
  toEngine({ type: 'play', tick: player.tick, start: player.starts });
  $('roll').dataset.playFrom = String(player.tick);
  requestOverlay();
}

// Pauses: what sounds ends, and playing stands where it was heard: its time shows at once (as heard,
// until the worker tells the tick's own), the listing's place there once the worker tells it.
export function pausePlaying() {
  if (!player.playing) return;
  player.tick = Math.floor(tickNow());
  player.placeSeconds = secondsNow();
  player.playing = false;
  player.last = null;
  player.sounding = new Float64Array(0);
  halt();
  showTransport();
  showPlace();
  drawOverlay();
  askPlayed(true);
}

// Ends what sounds at the output in use.
function halt() {
  if (outputOf().halt()) toEngine({ type: 'pause', quiet: true });
  else toEngine({ type: 'pause' });
}

// Stops and goes back to the start, or to the loop's start.
export function stopPlaying() {
  if (player.playing) pausePlaying();
  player.tick = settings.loop ? settings.loop.a : 0;
  player.markerUsed = roll.markings;
  showPlace();
  drawOverlay();
  askPlayed(true);
}

// Stops playing (a new file is listed).
export function playerHalt() {
  if (player.playing) pausePlaying();
  player.playing = false;
  showTransport();
}

// Plays or pauses.
export function playOrPause() {
  if (player.playing) pausePlaying();
  else startPlaying();
}

// Goes to tick; playing goes on from there (after the state the events before it leave).
export function seek(tick) {
  if (!listed) return;
  tick = Math.max(0, Math.min(Math.floor(tick), player.endTick));
  player.tick = tick;
  player.markerUsed = roll.markings;
  if (player.playing) {
    player.last = null;
    player.seekAt = performance.now();
    player.sounding = new Float64Array(0);
    if (outputOf().halt()) toEngine({ type: 'pause', quiet: true });
    player.starts += 1;
    toEngine({ type: 'play', tick, start: player.starts });
  }
  if (following.on) followRoll(tick, true);
  showPlace();
  drawOverlay();
  askPlayed(true, true);
}

// Moves the place where playing stands while it stands (the playhead dragged), to at most the end.
export function setPlaceTick(tick) {
  player.tick = Math.min(tick, player.endTick);
  if (!player.playing) showPlace();
}

// Takes what the listing worker told of the place: the length as written (null: not known) and the
// time at player.tick, where playing stands or started (null: not known).
export function placeTold(length, seconds) {
  if (length !== null) player.seconds = length;
  if (seconds !== null) player.placeSeconds = seconds;
}

// Shows Play or Pause on the button.
function showTransport() {
  const button = $('play');
  button.textContent = player.playing ? 'Pause' : 'Play';
  button.setAttribute('aria-label', player.playing ? 'Pause' : 'Play');
  document.body.dataset.playing = String(player.playing);
}

// m:ss of a number of seconds.
function clockText(seconds) {
  const s = Math.max(0, Math.floor(seconds));
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
}

// The time heard now, as written (at the speed of the file): from the engine's last place while
// playing, else as the worker told it for the place where playing stands.
function secondsNow() {
  if (!player.playing || !player.last) return player.placeSeconds;
  const out = outputOf();
  const elapsed = Math.max(0, Math.min(out.heardNow() - player.last.time, 0.25 * out.unit));
  return player.last.seconds + (elapsed / out.unit) * settings.speed;
}

// Shows the place: the time and the length, the seek bar, and the listing's measure:beat:tick (asked
// of the worker, see askPlayed).
export function showPlace() {
  const tick = tickNow();
  const length = player.seconds;
  const time = length > 0 ? `${clockText(secondsNow())} / ${clockText(length)}` : '';
  // only what changed is written: each write costs the page a layout
  const set = (element, value) => {
    if (element.textContent !== value) element.textContent = value;
  };
  set($('play-time'), time);
  const seekBar = $('play-seek');
  const value = String(Math.round(tick));
  if ((document.activeElement !== seekBar || !player.playing) && seekBar.value !== value) seekBar.value = value;
  const spoken = `${time} ${$('play-position').textContent}`.trim();
  if (seekBar.getAttribute('aria-valuetext') !== spoken) seekBar.setAttribute('aria-valuetext', spoken);
  $('roll').dataset.playTick = value;
  showLyricsAt(tick);
}

// A copy of the player's state, for tests and scripts outside the project: the transport's, the
// settings' (loop, speed, transpose), following and the output played to.
export function playerState() {
  return { ...player, ...settings, follow: following.on, played: following.played, target: output.target };
}
