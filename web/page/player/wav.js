// Save as WAV: what is played (the loop when there is one) rendered offline with the page's own sound,
// the tracks, speed and transpose in force, and handed to the browser as NAME.wav.
import { $, saveBlob, savedName, setUsable, usable } from '../dom.js';
import { currentFile, listed, showNotice, showProgress } from '../files.js';
import { copyOfPlayData, playedTracks } from './outputs.js';
import { settings } from './settings.js';
import { player } from './transport.js';
import { roll } from '../roll.js';
import { soundRenderPlayer } from '../sound.js';

let saving = false;  // whether a WAV file is being made

// Renders what is played (the loop when there is one) with the page's own sound, offline, and saves
// it as NAME.wav.
export async function saveWav() {
  if (!listed || saving || player.unplayable || !usable($('save-wav'))) return;
  saving = true;
  setUsable($('save-wav'), false);
  const name = currentFile().name;
  try {
    const data = await copyOfPlayData();  // for as long as the rendering takes
    const muted = listed.tracks.map((t) => (roll.hidden.has(t.index) ? 1 : 0));
    const loop = settings.loop;
    const blob = await soundRenderPlayer({
      data, tracks: playedTracks(), muted, speed: settings.speed, transpose: settings.transpose,
      from: loop ? loop.a : 0, to: loop ? loop.b : null,
    }, (share) => showProgress('rendering', share));
    saveBlob(blob, savedName(name, '.wav'));
  } catch (e) {
    showNotice(`The WAV file could not be made: ${e.message}.`);
  } finally {
    showProgress(null);
    saving = false;
    setUsable($('save-wav'), true);
  }
}
