// The page's entry: sets up the buttons, the drop target, the listing's scrolling and the theme, then
// the worker, and gives tests and the benchmark a small way in (window.smfdumpPage).
'use strict';

// For tests: where on screen (CSS pixels of the window) the middle of roll note `index` is drawn, and
// the left and right ends of its bar.
async function notePoint(index) {
  const note = await ask({ type: 'note', index, withOff: false });
  const v = rollView();
  const x0 = Math.max(0, rollX(v, note.start));  // eslint-disable-line no-undef
  const x1 = Math.min(v.width, Math.max(x0 + 1, rollX(v, note.end)));  // eslint-disable-line no-undef
  const y = rollY(v, note.key) + rollRowHeight(v) / 2;  // eslint-disable-line no-undef
  const rect = $('roll').getBoundingClientRect();
  return { x: rect.left + (x0 + x1) / 2 / v.scale, y: rect.top + y / v.scale, left: rect.left + x0 / v.scale, right: rect.left + x1 / v.scale };
}

// For tests and the benchmark: shows ticks t0 to t1 in the roll; resolves with the drawing's time
// and what was drawn, as the worker tells them.
async function drawView(t0, t1) {
  while (roll.busy) await new Promise((resolve) => setTimeout(resolve, 5));
  roll.t0 = t0;
  roll.t1 = t1;
  keepRollInside();
  roll.busy = true;
  try {
    return await ask({ type: 'roll', view: rollView() });
  } finally {
    roll.busy = false;
  }
}

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
  window.smfdumpPage = {
    notePoint,
    drawView,
    extent: () => (listed ? listed.maxTick : 0),
    shown: () => ({ t0: roll.t0, t1: roll.t1 }),  // the ticks the roll shows
  };
}

start();
