// The player's controls and keys: the buttons, the seek bar and the settings wired to the player, and
// its keys anywhere on the page.
import { $ } from '../dom.js';
import { listed } from '../files.js';
import { following, setFollow } from './follow.js';
import { startOutputs } from './outputs.js';
import { clearLoop, setLoop, settings, speedChanged, transposeChanged } from './settings.js';
import { playOrPause, player, seek, stopPlaying, tickNow } from './transport.js';
import { saveWav } from './wav.js';

// Whether a key press goes to a place that takes typing or its own keys (a text box, a choice).
function typingIn(target) {
  return target instanceof HTMLInputElement || target instanceof HTMLSelectElement || target instanceof HTMLTextAreaElement
    || target.isContentEditable;
}

// Whether Space does something of its own where it is pressed: it presses a button, ticks a checkbox,
// types in a text box, opens a choice; a range slider and a number box have no use for it.
function takesSpace(target) {
  if (target instanceof HTMLInputElement) return target.type !== 'range' && target.type !== 'number';
  return target instanceof HTMLButtonElement || typingIn(target);
}

// The player's keys anywhere on the page: Space plays or pauses (where it has no use of its own), F
// follows again, Home and End go to the start and the end, [ and ] set the loop's start and end at
// the place playing.
function playerKey(event) {
  if (!listed || event.ctrlKey || event.metaKey || event.altKey) return;
  if (event.key === ' ') {
    if (takesSpace(event.target)) return;
    event.preventDefault();
    if (event.target === $('play-transpose')) transposeChanged();  // the number typed is taken first, as Enter takes it
    playOrPause();
    return;
  }
  if (typingIn(event.target)) return;
  const ownKeys = event.target === $('roll') || event.target === $('listing');  // their own Home and End
  const keys = {
    f: () => setFollow(true),
    F: () => setFollow(true),
    Home: () => !ownKeys && seek(settings.loop ? settings.loop.a : 0),
    End: () => !ownKeys && seek(player.endTick),
    '[': () => setLoop(tickNow(), settings.loop ? settings.loop.b : player.endTick),
    ']': () => setLoop(settings.loop ? settings.loop.a : 0, tickNow()),
  };
  const act = keys[event.key];
  if (!act) return;
  if (act() !== false) event.preventDefault();
}

// Connects the player's controls.
export function startPlayerControls() {
  $('play').onclick = playOrPause;
  $('stop').onclick = stopPlaying;
  $('follow').onclick = () => setFollow(!following.on);
  $('loop-clear').onclick = clearLoop;
  $('save-wav').onclick = saveWav;
  $('play-seek').addEventListener('input', () => seek(Number($('play-seek').value)));
  $('play-speed').addEventListener('input', speedChanged);
  $('play-transpose').addEventListener('change', transposeChanged);
  startOutputs();
  document.addEventListener('keydown', playerKey);
}
