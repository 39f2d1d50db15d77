// The page's entry: sets up the buttons, the drop target, the listing's scrolling and the theme, then
// the listing worker, and gives tests, benchmarks and scripts outside the project their one way in:
// window.smfdumpPage.
import { $ } from './dom.js';
import { addFiles, listed, listingTimes } from './files.js';
import { clearFind, findNext } from './find.js';
import { startWorker } from './lister.js';
import { listingKey, listingScrolled, listingWheel, renderListing } from './listing_view.js';
import { loadNamesFile, resetNames, restoreNames } from './names.js';
import { startPlayerControls } from './player/controls.js';
import { drawOverlay } from './player/overlay.js';
import { fromEngine, playerState, seek } from './player/transport.js';
import { drawRoll, drawView, fitRoll, notePoint, rollShown, rollView, showLegend, zoomRoll } from './roll.js';
import { saveListing } from './save.js';
import { renderWav, soundClear, soundEffects, soundContextNow, soundLatency, soundNow, soundPlayerListen, soundPlayerPost, soundRender, soundSend, soundSilence, soundStart, soundStats, soundZones } from './sound.js';
import { keptSoundFont, soundFontFramesMade, startSoundFont } from './soundfont.js';
import { rollRowHeight, rollX, rollY } from '../shared/roll_geometry.js';

// Sets up the buttons, the drop target, the listing's scrolling and the theme, then the worker.
function start() {
  restoreNames();
  startWorker();
  startSoundFont();
  $('open').onclick = () => $('open-input').click();
  $('open-input').onchange = (event) => {
    addFiles(event.target.files);
    event.target.value = '';
  };
  $('names').onclick = () => $('names-input').click();
  $('names-input').onchange = (event) => {
    if (event.target.files[0]) loadNamesFile(event.target.files[0]);
    event.target.value = '';
  };
  $('names-reset').onclick = resetNames;
  startPlayerControls();
  $('save').onclick = saveListing;
  $('zoom-in').onclick = () => zoomRoll(1.5);
  $('zoom-out').onclick = () => zoomRoll(1 / 1.5);
  $('zoom-fit').onclick = fitRoll;
  $('find').addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
      event.preventDefault();
      findNext(event.shiftKey ? -1 : 1);
    } else if (event.key === 'Escape') {
      event.preventDefault();
      clearFind();
    }
  });
  $('find').addEventListener('input', () => {
    if ($('find').value === '') clearFind();  // the box's own clear button
  });
  $('find-next').onclick = () => findNext(1);
  $('find-previous').onclick = () => findNext(-1);
  const listing = $('listing');
  listing.addEventListener('keydown', listingKey);
  listing.addEventListener('wheel', listingWheel, { passive: false });
  $('listing-scroll').addEventListener('scroll', listingScrolled);
  document.addEventListener('keydown', (event) => {
    if ((event.ctrlKey || event.metaKey) && event.key === 'f' && listed) {
      event.preventDefault();  // the browser's own find can't see the lines not drawn
      $('find').focus();
      $('find').select();
    }
  });
  // files dropped anywhere on the page
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dropping');
  });
  document.addEventListener('dragleave', (event) => {
    if (event.relatedTarget === null) document.body.classList.remove('dropping');
  });
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dropping');
    addFiles(event.dataTransfer.files);
  });
  new ResizeObserver(() => {
    if (listed) renderListing();
    drawRoll();
    drawOverlay();
  }).observe(document.body);
  matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => {
    if (listed) showLegend(listed);
    drawRoll();
  });
  window.smfdumpPage = pageDoor();
}

// What tests, benchmarks and scripts outside the project reach the page by: the roll's geometry and
// views, the player's state and transport, and the page's sound, under the names they have here.
function pageDoor() {
  return {
    notePoint,
    drawView,
    extent: () => (listed ? listed.maxTick : 0),
    get lastTimes() { return listingTimes(); },  // the last listing's times: { read, list, roll } in ms
    shown: rollShown,  // the ticks the roll shows: { t0, t1 }
    fitRoll,
    rollView,
    rollX,
    rollY,
    rollRowHeight,
    seek,
    get player() { return playerState(); },  // a copy of the player's state: playing, tick, loop, speed, ...
    fromEngine,
    soundStart,
    soundEffects,
    soundSend,
    soundClear,
    soundSilence,
    soundNow,
    soundLatency,
    soundStats,
    soundZones,
    soundRender,
    renderWav,
    soundPlayerPost,
    soundPlayerListen,
    get soundContext() { return soundContextNow(); },
    keptSoundFont,
    soundFontFramesMade,
  };
}

start();
