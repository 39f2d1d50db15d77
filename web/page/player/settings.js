// The player's practice settings: speed, transpose and the loop (kept until cleared, or a new file),
// and the tracks muted (those hidden in the roll's legend) or played (in format 2, the track shown).
import { $ } from '../dom.js';
import { listed, listingTurn } from '../files.js';
import { ask } from '../lister.js';
import { sendSettings, tracksSent } from './outputs.js';
import { drawOverlay } from './overlay.js';
import { pausePlaying, player, seek, showPlayerNote, startPlaying, tickNow } from './transport.js';
import { roll } from '../roll.js';

export const settings = {
  loop: null,          // the loop: { a, b } in ticks, kept until cleared
  speed: 1,            // 1 plays as written
  transpose: 0,        // semitones (channel 10 never)
};

// Loops from tick a back at tick b; a loop behind the place playing starts playing at a.
export function setLoop(a, b) {
  a = Math.max(0, Math.floor(a));
  b = Math.min(Math.floor(b), player.endTick);
  if (b <= a) return;
  settings.loop = { a, b };
  $('loop-clear').hidden = false;
  showLoop();
  sendSettings();
  const tick = tickNow();
  if (tick < a || tick >= b) seek(a);
  drawOverlay();
}

// Says where the loop is, as the listing writes places (measure:beat:tick in the track shown), once
// the listing worker has told it.
function showLoop() {
  const loop = settings.loop;
  const turn = listingTurn;
  ask({ type: 'positions', track: roll.gridTrack, ticks: [loop.a, loop.b] }).then(({ texts }) => {
    if (turn !== listingTurn || settings.loop !== loop) return;
    const [a, b] = texts.map((text, i) => text || `tick ${i === 0 ? loop.a : loop.b}`);
    $('loop-state').textContent = `Loop: ${a} to ${b}`;
  }, () => {});
}

// Clears the loop.
export function clearLoop() {
  settings.loop = null;
  $('loop-clear').hidden = true;
  $('loop-state').textContent = '';
  sendSettings();
  drawOverlay();
}

// Forgets the loop for a new file (what shows it is left as it is).
export function forgetLoop() {
  settings.loop = null;
}

// The speed from the slider (percent).
export function speedChanged() {
  settings.speed = Number($('play-speed').value) / 100;
  $('play-speed-shown').textContent = `${$('play-speed').value}%`;
  sendSettings();
}

// The transposition from its box, a whole number of semitones within -12..12, which the box then
// shows: it holds what plays.
export function transposeChanged() {
  const value = Math.max(-12, Math.min(12, Math.round(Number($('play-transpose').value) || 0)));
  settings.transpose = value;
  $('play-transpose').value = String(value);
  sendSettings();
}

// The tracks hidden in the legend changed: they are muted.
export function tracksShownChanged() {
  sendSettings();
  drawOverlay();
}

// The track shown (of the line or note chosen) changed: in format 2 it is the track played, and
// playing goes on in it from the marker.
export function trackShownChanged() {
  if (!listed || listed.format !== 2) return;
  showPlayerNote();
  if (settings.loop) showLoop();
  if (player.playing && tracksSent()?.[0] !== roll.gridTrack) {
    pausePlaying();
    startPlaying();
  }
}
