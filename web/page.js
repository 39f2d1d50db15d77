// The page: files in, the piano roll and the listing out. All listing work is done by the worker (the
// console program's listing code, compiled to WebAssembly); this script keeps the page responsive, asks
// the worker for what is on screen, and links the roll and the listing.
'use strict';

const lineHeight = 18;          // CSS pixels of one listing line, as page.css sets it
const bytesPerLine = 36;        // a listing line's usual length, for the scroll bar's scale
const tallestSpacer = 8000000;  // CSS pixels: a taller scroll area is scaled down to this
const namesKey = 'smfdump.names';
const $ = (id) => document.getElementById(id);

let worker = null;            // the worker, made anew when a listing in progress is given up
let lastId = 0;               // the id of the last request to the worker
const waiting = new Map();    // answers awaited from the worker, by request id
let files = [];               // the files dropped or picked, in order
let current = -1;             // the file whose listing is shown
let listed = null;            // what the worker told of that listing
let listingId = 0;            // the request id of the listing in progress, 0 when none
let namesFile = null;         // the user's names file: { name, bytes }, or null for the built-in names

// ---- the worker ----------------------------------------------------------------------------------

// Starts a worker from the source in the page, hands it the roll's canvas and the names in use.
function startWorker() {
  if (worker) worker.terminate();
  for (const [, entry] of waiting) entry.reject(new Error('the listing was given up'));
  waiting.clear();
  const source = $('worker-source').textContent;
  worker = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
  worker.onmessage = (event) => answered(event.data);
  worker.onerror = (event) => showNotice(`The listing stopped: ${event.message}`);
  // a canvas goes to one worker only: a new worker gets a new canvas
  const old = $('roll');
  const canvas = old.cloneNode(false);
  old.replaceWith(canvas);
  connectRoll(canvas);
  const offscreen = canvas.transferControlToOffscreen();
  worker.postMessage({ type: 'canvas', canvas: offscreen }, [offscreen]);
  worker.postMessage({ type: 'names', bytes: namesFile ? namesFile.bytes : null });
  roll.busy = false;
}

// Sends a request to the worker; resolves with its answer.
function ask(message, transfer = []) {
  lastId += 1;
  const id = lastId;
  return new Promise((resolve, reject) => {
    waiting.set(id, { resolve, reject });
    worker.postMessage({ ...message, id }, transfer);
  });
}

// Takes an answer or a progress report from the worker.
function answered(message) {
  if (message.type === 'progress') {
    showProgress(message.task, message.share);
    return;
  }
  const entry = waiting.get(message.id);
  if (!entry) return;
  waiting.delete(message.id);
  if (message.type === 'error') entry.reject(new Error(`${message.request}: ${message.message}`));
  else if (message.type === 'none') entry.reject(new Error('nothing is listed'));
  else entry.resolve(message);
}

// ---- files, names and saving ---------------------------------------------------------------------

let pickedAt = 0;  // when the user last gave files (performance.now()), for the time to a shown listing

// Adds files to the list and lists the first of them.
function addFiles(list) {
  pickedAt = performance.now();
  const added = [...list];
  if (added.length === 0) return;
  const first = files.length;
  files = files.concat(added);
  showFileList();
  listFile(first);
}

// Shows the list of files when there is more than one.
function showFileList() {
  const nav = $('files');
  nav.hidden = files.length < 2;
  const ul = nav.querySelector('ul');
  ul.replaceChildren(...files.map((file, i) => {
    const li = document.createElement('li');
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = file.name;
    button.setAttribute('aria-current', String(i === current));
    button.onclick = () => listFile(i);
    li.append(button);
    return li;
  }));
}

// Lists file i: the worker lists it whole, then the roll and the top of the listing are shown.
async function listFile(i) {
  if (listingId !== 0) startWorker();  // give up the listing in progress
  current = i;
  showFileList();
  const file = files[i];
  document.body.dataset.state = 'listing';
  $('welcome').hidden = true;
  $('save').disabled = true;
  showNotice('');
  showProgress('listing', 0);
  const asked = performance.now();
  const request = ask({ type: 'list', file, name: file.name });
  listingId = lastId;
  let answer;
  try {
    answer = await request;
  } catch (e) {
    if (listingId === 0 || current !== i) return;  // given up for another file
    listingId = 0;
    showProgress(null);
    startWorker();  // a module that failed (out of memory, say) is not used again
    listed = null;
    for (const part of ['listing', 'roll-box', 'finder']) $(part).hidden = true;
    showNotice(`${file.name} could not be listed: ${e.message}`);
    document.body.dataset.state = 'failed';
    return;
  }
  listingId = 0;
  listed = answer;
  window.lastTimes = answer.times;
  showProgress(null);
  showSummaryNotice(answer);
  $('save').disabled = false;
  $('finder').hidden = false;
  $('listing').hidden = false;
  $('roll-box').hidden = false;
  resetFind();
  const drawn = new Promise((resolve) => { roll.onDrawn = resolve; });
  startRoll(answer);
  await Promise.all([jumpTo(0, 0), drawn]);
  document.body.dataset.state = 'ready';
  document.body.dataset.listMs = answer.ms.toFixed(1);
  // from the files given (or this one chosen) to its listing and roll on screen
  document.body.dataset.readyMs = (performance.now() - Math.max(pickedAt, asked)).toFixed(1);
}

// Says above the listing what a reader should know before reading it.
function showSummaryNotice(answer) {
  const notes = [];
  if (!answer.startsLikeMidi) {
    notes.push(`${answer.name} does not start like a MIDI file (its first bytes are not “MThd”). The listing below shows how its bytes read as one, as the smfdump program lists any file.`);
  } else if (answer.format < 0 || answer.format > 2) {
    notes.push(`The header gives format ${answer.format >>> 0}; only formats 0, 1 and 2 have tracks to list, so the listing ends after the header.`);
  }
  if (answer.cutShort) notes.push('This file holds more notes than the roll can keep: the roll shows the first 100,000,000 of them. The listing is whole.');
  showNotice(notes.join(' '));
}

// Shows a plain note above the listing, or hides it when text is empty.
function showNotice(text) {
  $('notice').textContent = text;
  $('notice').hidden = text === '';
}

// Shows how far the worker has come, or hides the bar when task is null.
function showProgress(task, share) {
  $('progress-box').hidden = task === null;
  if (task === null) return;
  $('progress').value = share;
  const name = current >= 0 ? files[current].name : '';
  const doing = { listing: `Listing ${name}`, finding: 'Finding', saving: 'Making the listing to save' }[task] || task;
  $('progress-text').textContent = `${doing}… ${Math.floor(share * 100)}%`;
}

// Reads a names file picked by the user, keeps it for the next visit and lists the file again with it.
async function loadNamesFile(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  namesFile = { name: file.name, bytes };
  let kept = true;
  try {
    localStorage.setItem(namesKey, JSON.stringify({ name: file.name, bytes: toBase64(bytes) }));
  } catch {
    kept = false;  // too large for the browser's storage, or storage is off
  }
  namesChanged(kept);
}

// Goes back to the built-in General MIDI names, forgetting the user's file.
function resetNames() {
  namesFile = null;
  try {
    localStorage.removeItem(namesKey);
  } catch {
    // nothing kept
  }
  namesChanged(true);
}

// Tells the worker of the names in use and the user of them, and lists the file again.
function namesChanged(kept) {
  worker.postMessage({ type: 'names', bytes: namesFile ? namesFile.bytes : null });
  $('names-reset').hidden = namesFile === null;
  $('names-state').textContent = namesFile
    ? `Program names: ${namesFile.name}${kept ? ', kept in this browser until you choose the built-in names.' : ' (too large to keep for the next visit).'}`
    : 'Program names: General MIDI, built in.';
  if (current >= 0) listFile(current);
}

// The names file kept from an earlier visit, if any.
function restoreNames() {
  try {
    const kept = JSON.parse(localStorage.getItem(namesKey) || 'null');
    if (kept) {
      namesFile = { name: kept.name, bytes: fromBase64(kept.bytes) };
      $('names-reset').hidden = false;
      $('names-state').textContent = `Program names: ${kept.name}, kept in this browser until you choose the built-in names.`;
    }
  } catch {
    namesFile = null;
  }
}

// Bytes as base64, a piece at a time.
function toBase64(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(text);
}

// Base64 back to bytes.
function fromBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i += 1) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// The name a saved listing gets: the file's name with .txt for its last extension (song.mid: song.txt).
function savedName(name) {
  const dot = name.lastIndexOf('.');
  return `${dot > 0 ? name.slice(0, dot) : name}.txt`;
}

// Has the worker make the whole listing again, in pieces, and saves it.
async function saveListing() {
  if (!listed) return;
  $('save').disabled = true;
  try {
    const answer = await ask({ type: 'save' });
    const url = URL.createObjectURL(answer.blob);
    const a = document.createElement('a');
    a.href = url;
    a.download = savedName(answer.name);
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  } finally {
    showProgress(null);
    $('save').disabled = false;
  }
}

// ---- the listing view ----------------------------------------------------------------------------
// The listing is never held whole: the view keeps a few thousand lines around what is on screen and
// asks the worker for more as it moves. Its place is a dump offset; the scroll bar stands for the
// listing's bytes.

const view = {
  lines: [],          // lines held: { offset, length, text, event, track, total }
  top: 0,             // index in lines of the line at the top of the screen
  atStart: true,      // whether lines[0] is the listing's first line
  atEnd: true,        // whether the last line held is the listing's last
  generation: 0,      // counts jumps, so that an answer to an older one is dropped
  extending: { before: false, after: false },
  selected: null,     // dump offset of the chosen line
  linked: new Set(),  // dump offsets of the lines of the note chosen in the roll
  match: null,        // the match of the search shown: { offset, length }
  scrollSet: -1,      // the scroll position this script set last (a scroll there is its own echo)
  wheelLines: 0,      // a wheel's movement not yet a whole line
};

// How many lines the screen shows.
function rowCount() {
  return Math.max(1, Math.ceil($('listing-scroll').clientHeight / lineHeight));
}

// Shows the lines around dump offset `offset` (its own line placed `place` rows from the top).
async function jumpTo(offset, place) {
  view.generation += 1;
  const generation = view.generation;
  const rows = rowCount();
  const answer = await ask({ type: 'lines', anchor: offset, before: Math.max(place, 100), after: rows + 200 });
  if (generation !== view.generation) return;
  view.lines = answer.lines;
  view.atStart = answer.atStart;
  view.atEnd = answer.atEnd;
  view.top = Math.max(0, answer.anchorIndex - place);
  view.extending = { before: false, after: false };
  renderListing();
}

// Moves the view by n lines (negative: up), asking for more lines near either end of those held.
function moveBy(n) {
  const rows = rowCount();
  const last = Math.max(0, view.lines.length - (view.atEnd ? rows : 1));
  view.top = Math.max(0, Math.min(view.top + n, last));
  renderListing();
}

// Asks for more lines when the screen comes near the end of those held.
function extendIfNeeded() {
  const rows = rowCount();
  const generation = view.generation;
  if (!view.atEnd && !view.extending.after && view.lines.length - view.top - rows < 150 && view.lines.length > 0) {
    view.extending.after = true;
    const last = view.lines[view.lines.length - 1];
    ask({ type: 'lines', anchor: last.offset, before: 0, after: 600 }).then((answer) => {
      view.extending.after = false;
      if (generation !== view.generation) return;
      view.lines = view.lines.concat(answer.lines.slice(answer.anchorIndex + 1));
      view.atEnd = answer.atEnd;
      trimLines();
      renderListing();
    }, () => { view.extending.after = false; });
  }
  if (!view.atStart && !view.extending.before && view.top < 150 && view.lines.length > 0) {
    view.extending.before = true;
    const first = view.lines[0];
    ask({ type: 'lines', anchor: first.offset, before: 600, after: 1 }).then((answer) => {
      view.extending.before = false;
      if (generation !== view.generation) return;
      const earlier = answer.lines.slice(0, answer.anchorIndex);
      view.lines = earlier.concat(view.lines);
      view.top += earlier.length;
      view.atStart = answer.atStart;
      trimLines();
      renderListing();
    }, () => { view.extending.before = false; });
  }
}

// Lets go of lines far from the screen.
function trimLines() {
  const keep = 6000;
  if (view.lines.length <= keep) return;
  if (view.top > view.lines.length / 2) {
    const drop = view.lines.length - keep;
    view.lines = view.lines.slice(drop);
    view.top -= drop;
    view.atStart = false;
  } else {
    view.lines = view.lines.slice(0, keep);
    view.atEnd = false;
  }
}

// The scroll area's height and how many listing bytes a pixel of it stands for.
function scrollScale() {
  const scroller = $('listing-scroll');
  const size = listed ? listed.size : 0;
  const height = Math.max(scroller.clientHeight + 1, Math.min(tallestSpacer, (size / bytesPerLine) * lineHeight));
  return { height, bytesPerPixel: size / Math.max(1, height - scroller.clientHeight) };
}

// Draws the lines on screen and puts the scroll bar where they are.
function renderListing() {
  const rows = rowCount() + 1;
  const box = $('listing-lines');
  const scroller = $('listing-scroll');
  while (box.children.length < rows) {
    const row = document.createElement('div');
    row.addEventListener('click', () => chooseLine(Number(row.dataset.offset)));
    box.append(row);
  }
  while (box.children.length > rows) box.lastChild.remove();
  box.style.height = `${scroller.clientHeight}px`;
  for (let r = 0; r < rows; r += 1) {
    const row = box.children[r];
    const line = view.lines[view.top + r];
    if (!line) {
      row.textContent = '';
      row.removeAttribute('data-offset');
      row.className = '';
      continue;
    }
    row.dataset.offset = String(line.offset);
    row.classList.toggle('selected', line.offset === view.selected);
    row.classList.toggle('linked', view.linked.has(line.offset));
    row.setAttribute('aria-selected', String(line.offset === view.selected));
    const m = view.match;
    if (m && m.offset >= line.offset && m.offset < line.offset + line.length) {
      const at = m.offset - line.offset;  // bytes; the text is the same for ASCII, as listings mostly are
      const mark = document.createElement('mark');
      mark.textContent = line.text.slice(at, at + m.length);
      row.replaceChildren(line.text.slice(0, at), mark, line.text.slice(at + m.length));
    } else {
      row.textContent = line.text;
    }
  }
  const { height, bytesPerPixel } = scrollScale();
  $('listing-spacer').style.height = `${Math.max(0, height - scroller.clientHeight)}px`;
  const topLine = view.lines[view.top];
  if (topLine) {
    const wanted = Math.round(topLine.offset / bytesPerPixel);
    if (Math.abs(scroller.scrollTop - wanted) > 1) {
      view.scrollSet = wanted;
      scroller.scrollTop = wanted;
    }
  }
  extendIfNeeded();
}

// Chooses the line at dump offset `offset`: it is marked, and so is its moment in the roll.
function chooseLine(offset) {
  view.selected = offset;
  const line = view.lines.find((l) => l.offset === offset);
  renderListing();
  if (line && line.total !== null && listed) {
    const index = listed.tracks.findIndex((t) => t.number === line.track);
    roll.marker = line.total;
    if (index >= 0) roll.gridTrack = index;
    showTick(line.total);
    $('roll').dataset.markerTick = String(line.total);
  }
}

// Moves the chosen line by n lines, keeping it on screen.
function moveChoice(n) {
  let at = view.lines.findIndex((l) => l.offset === view.selected);
  if (at < 0) at = view.top;
  else at = Math.max(0, Math.min(view.lines.length - 1, at + n));
  const rows = rowCount();
  if (at < view.top) view.top = at;
  if (at >= view.top + rows - 1) view.top = Math.max(0, at - rows + 2);
  chooseLine(view.lines[at].offset);
}

// Keys of the listing: arrows move the chosen line, Page Up and Down a screen, Home and End to the ends.
function listingKey(event) {
  const rows = rowCount();
  const keys = {
    ArrowDown: () => moveChoice(1),
    ArrowUp: () => moveChoice(-1),
    PageDown: () => moveChoice(rows - 1),
    PageUp: () => moveChoice(-(rows - 1)),
    Home: () => jumpTo(0, 0).then(() => chooseLine(view.lines[view.top].offset)),
    End: () => jumpTo(listed.size - 1, rows - 2).then(() => chooseLine(view.lines[view.lines.length - 1].offset)),
  };
  if (!keys[event.key] || !listed) return;
  event.preventDefault();
  keys[event.key]();
}

// The wheel moves the view by lines, however tall the scroll area is scaled.
function listingWheel(event) {
  if (!listed || Math.abs(event.deltaY) < Math.abs(event.deltaX)) return;
  event.preventDefault();
  const unit = event.deltaMode === 1 ? 1 : event.deltaMode === 2 ? rowCount() : 1 / lineHeight;
  view.wheelLines += event.deltaY * unit;
  const whole = Math.trunc(view.wheelLines);
  view.wheelLines -= whole;
  if (whole !== 0) moveBy(whole);
}

// A scroll the user made (the bar dragged, a touch): jumps to the part of the listing it stands for.
let scrollPending = false;
function listingScrolled() {
  const scroller = $('listing-scroll');
  if (!listed || Math.abs(scroller.scrollTop - view.scrollSet) <= 1 || scrollPending) return;
  scrollPending = true;
  requestAnimationFrame(() => {
    scrollPending = false;
    view.scrollSet = scroller.scrollTop;
    const { bytesPerPixel } = scrollScale();
    const offset = Math.min(listed.size - 1, scroller.scrollTop * bytesPerPixel);
    // nearby: move through the lines held; far: ask for the lines there
    const top = view.lines[view.top];
    const held = view.lines.findIndex((l) => l.offset + l.length >= offset);
    if (top && held >= 0 && Math.abs(held - view.top) < 2000 && (held > 0 || view.atStart)) {
      view.top = held;
      renderListing();
    } else {
      jumpTo(offset, 0);
    }
  });
}

// ---- find ----------------------------------------------------------------------------------------

const found = { text: '', count: 0, offsets: new Float64Array(0), length: 0, at: -1 };

// Forgets the last search.
function resetFind() {
  found.text = '';
  found.count = 0;
  found.offsets = new Float64Array(0);
  found.at = -1;
  view.match = null;
  $('find-count').textContent = '';
}

// Goes to the next (1) or previous (-1) match of the text in the find box, searching the whole
// listing first when the text is new.
async function findNext(direction) {
  const text = $('find').value;
  if (!listed || text === '') {
    resetFind();
    renderListing();
    return;
  }
  if (text !== found.text) {
    $('find-count').textContent = 'Finding…';
    const answer = await ask({ type: 'search', text });
    showProgress(null);
    Object.assign(found, { text, count: answer.count, offsets: answer.offsets, length: answer.length, at: -1 });
    // the first match at or after the top of the screen
    const from = view.lines[view.top] ? view.lines[view.top].offset : 0;
    let i = 0;
    while (i < found.offsets.length && found.offsets[i] < from) i += 1;
    found.at = (direction > 0 ? i : i - 1) - direction;
  }
  if (found.offsets.length === 0) {
    $('find-count').textContent = 'No match';
    view.match = null;
    renderListing();
    return;
  }
  found.at = (found.at + direction + found.offsets.length) % found.offsets.length;
  const offset = found.offsets[found.at];
  view.match = { offset, length: found.length };
  const more = found.count > found.offsets.length ? ` (the first ${found.offsets.length.toLocaleString()} can be visited)` : '';
  $('find-count').textContent = `${(found.at + 1).toLocaleString()} of ${found.count.toLocaleString()}${more}`;
  await jumpTo(offset, Math.floor(rowCount() / 3));
  const line = view.lines.find((l) => offset >= l.offset && offset <= l.offset + l.length);
  if (line) chooseLine(line.offset);
}

// ---- the piano roll ------------------------------------------------------------------------------
// The worker draws; this part keeps what is in view and turns pointer, wheel, touch and keys into it.

const roll = {
  t0: 0,              // the tick at the left edge
  t1: 1,              // the tick at the right edge
  hidden: new Set(),  // indexes of the tracks whose notes are hidden
  marker: null,       // the tick of the chosen listing line, marked by a line
  chosen: null,       // the roll note chosen, outlined
  gridTrack: 0,       // the track whose time signatures the measure lines follow
  busy: false,        // whether a drawing is being made
  again: false,       // whether the view changed while it was
  pointers: new Map(),  // pointers down on the roll: id → { x, y }
  drag: null,         // the drag under way: { x, t0, t1, moved }
  hover: -1,          // the note under the pointer, asked of the worker
  onDrawn: null,      // told when the next drawing is done
};

// Starts the roll for a new listing: the whole file in view.
function startRoll(answer) {
  roll.hidden = new Set();
  roll.marker = null;
  roll.chosen = null;
  const first = answer.tracks.find((t) => t.notes > 0);
  roll.gridTrack = first ? first.index : 0;
  fitRoll();
  showLegend(answer);
  $('chosen').textContent = '';
  const canvas = $('roll');
  canvas.dataset.notes = String(answer.notes);
  delete canvas.dataset.markerTick;
  delete canvas.dataset.chosen;
}

// The whole file in view.
function fitRoll() {
  if (!listed) return;
  roll.t0 = 0;
  roll.t1 = Math.max(1, listed.maxTick * 1.02);
  drawRoll();
}

// The view as the worker draws it: in device pixels, with what is hidden, marked and chosen.
function rollView() {
  const canvas = $('roll');
  const scale = window.devicePixelRatio || 1;
  const rect = canvas.getBoundingClientRect();
  return {
    t0: roll.t0,
    t1: roll.t1,
    keyLow: listed.keyLow,
    keyHigh: listed.keyHigh,
    width: Math.max(1, Math.round(rect.width * scale)),
    height: Math.max(1, Math.round(rect.height * scale)),
    band: Math.round(16 * scale),
    scale,
    hidden: [...roll.hidden],
    marker: roll.marker,
    chosen: roll.chosen,
    gridTrack: roll.gridTrack,
    dark: matchMedia('(prefers-color-scheme: dark)').matches,
  };
}

// Has the worker draw the roll, at most one drawing at a time and always the latest view.
function drawRoll() {
  if (!listed || $('roll-box').hidden) return;
  if (roll.busy) {
    roll.again = true;
    return;
  }
  roll.busy = true;
  roll.again = false;
  const canvas = $('roll');
  ask({ type: 'roll', view: rollView() }).then((answer) => {
    canvas.dataset.drawMs = answer.ms.toFixed(1);
    canvas.dataset.drawn = `${answer.drawn} ${answer.how}`;
  }, () => {}).finally(() => {
    if (roll.onDrawn) roll.onDrawn();
    roll.onDrawn = null;
    roll.busy = false;
    if (roll.again) drawRoll();
  });
}

// Zooms by factor (above 1: in) around the tick at the canvas's CSS x.
function zoomRoll(factor, x) {
  const canvas = $('roll');
  const width = canvas.clientWidth || 1;
  const at = roll.t0 + ((x ?? width / 2) / width) * (roll.t1 - roll.t0);
  const span = Math.min(Math.max((roll.t1 - roll.t0) / factor, 4), listed.maxTick * 4 + 100);
  const share = (at - roll.t0) / (roll.t1 - roll.t0);
  roll.t0 = at - share * span;
  roll.t1 = roll.t0 + span;
  keepRollInside();
  drawRoll();
}

// Scrolls by a share of the view's width.
function panRoll(share) {
  const span = roll.t1 - roll.t0;
  roll.t0 += share * span;
  roll.t1 += share * span;
  keepRollInside();
  drawRoll();
}

// Keeps the view over the file: not before its start, not wholly past its end.
function keepRollInside() {
  const span = roll.t1 - roll.t0;
  const end = Math.max(listed.maxTick * 1.02, span);
  if (roll.t1 > end) {
    roll.t1 = end;
    roll.t0 = end - span;
  }
  if (roll.t0 < 0) {
    roll.t0 = 0;
    roll.t1 = span;
  }
}

// Brings a tick into view (centred when it was out of view) and redraws.
function showTick(tick) {
  const span = roll.t1 - roll.t0;
  if (tick < roll.t0 || tick > roll.t1) {
    roll.t0 = tick - span / 2;
    roll.t1 = tick + span / 2;
    keepRollInside();
  }
  drawRoll();
}

// Shows the tracks with notes as buttons that hide or show them, in their colours.
function showLegend(answer) {
  const legend = $('legend');
  const dark = matchMedia('(prefers-color-scheme: dark)').matches;
  const palette = dark ? answer.palettes.dark : answer.palettes.light;
  legend.replaceChildren(...answer.tracks.filter((t) => t.notes > 0).map((track) => {
    const button = document.createElement('button');
    button.type = 'button';
    button.setAttribute('aria-pressed', 'true');
    const swatch = document.createElement('span');
    swatch.className = 'swatch';
    swatch.style.background = palette[track.colour];
    const notes = `${track.notes.toLocaleString()} notes`;
    button.append(swatch, `Track ${track.number}`);
    button.title = notes;
    button.setAttribute('aria-label', `Track ${track.number}, ${notes}`);
    button.onclick = () => {
      const shown = roll.hidden.has(track.index);
      if (shown) roll.hidden.delete(track.index);
      else roll.hidden.add(track.index);
      button.setAttribute('aria-pressed', String(shown));
      drawRoll();
    };
    return button;
  }));
}

// The canvas's CSS position of a pointer event, and the same in device pixels.
function pointerAt(event) {
  const rect = $('roll').getBoundingClientRect();
  const scale = window.devicePixelRatio || 1;
  const x = event.clientX - rect.left;
  const y = event.clientY - rect.top;
  return { x, y, dx: x * scale, dy: y * scale };
}

// Chooses roll note `index`: it is outlined, and the listing shows its note on line (and its note
// off line), the note on line chosen.
async function chooseNote(index) {
  if (index < 0) return;
  roll.chosen = index;
  const canvas = $('roll');
  canvas.dataset.chosen = String(index);
  drawRoll();
  const note = await ask({ type: 'note', index, withOff: true });
  if (roll.chosen !== index) return;
  $('chosen').textContent = `Chosen: ${describe(note)}.`;
  view.linked = new Set([note.on, note.off].filter((o) => o !== null));
  roll.gridTrack = note.trackIndex;
  if (note.on !== null) {
    await jumpTo(note.on, Math.floor(rowCount() / 3));
    chooseLine(note.on);
  }
}

// A note in words: its name, channel, velocity, track and position.
function describe(note) {
  const velocity = note.velocity === null ? '' : `, velocity ${note.velocity >>> 0}`;
  return `${note.name}, channel ${note.channel}${velocity}, track ${note.track}, from ${note.from} to ${note.to}`;
}

// Shows what the note under the pointer is, beside it.
async function hoverNote(event) {
  const at = pointerAt(event);
  const view = rollView();
  const { index } = await ask({ type: 'hit', view, x: at.dx, y: at.dy });
  const tip = $('tip');
  if (index < 0) {
    roll.hover = -1;
    tip.hidden = true;
    return;
  }
  if (index === roll.hover && !tip.hidden) return;
  roll.hover = index;
  const note = await ask({ type: 'note', index, withOff: false });
  if (roll.hover !== index) return;
  tip.textContent = describe(note);
  tip.hidden = false;
  const stage = tip.parentElement.getBoundingClientRect();
  tip.style.left = `${Math.min(at.x + 12, stage.width - tip.offsetWidth - 4)}px`;
  tip.style.top = `${at.y + 16 > stage.height - 40 ? at.y - 40 : at.y + 16}px`;
}

let hovering = false;  // whether a hover question is with the worker
// Asks about the note under a moving pointer, one question at a time.
function pointerHover(event) {
  if (hovering || !listed) return;
  hovering = true;
  hoverNote(event).catch(() => {}).finally(() => { hovering = false; });
}

// Connects a (new) roll canvas to the pointer, wheel, touch and keys.
function connectRoll(canvas) {
  canvas.addEventListener('wheel', (event) => {
    if (!listed) return;
    event.preventDefault();
    const at = pointerAt(event);
    const unit = event.deltaMode === 1 ? 20 : event.deltaMode === 2 ? 400 : 1;
    if (event.ctrlKey || event.metaKey) {
      zoomRoll(Math.exp(-event.deltaY * unit * 0.01), at.x);
    } else {
      const delta = Math.abs(event.deltaX) > Math.abs(event.deltaY) ? event.deltaX : event.deltaY;
      panRoll((delta * unit) / (canvas.clientWidth || 1));
    }
  }, { passive: false });
  canvas.addEventListener('pointerdown', (event) => {
    if (!listed) return;
    canvas.setPointerCapture(event.pointerId);
    const at = pointerAt(event);
    roll.pointers.set(event.pointerId, at);
    roll.drag = { x: at.x, t0: roll.t0, t1: roll.t1, moved: false, pinch: roll.pointers.size === 2 ? pinchSpan() : null };
  });
  canvas.addEventListener('pointermove', (event) => {
    if (!listed) return;
    const at = pointerAt(event);
    if (!roll.pointers.has(event.pointerId)) {
      if (event.pointerType === 'mouse') pointerHover(event);
      return;
    }
    roll.pointers.set(event.pointerId, at);
    const drag = roll.drag;
    if (!drag) return;
    const width = canvas.clientWidth || 1;
    if (roll.pointers.size === 2 && drag.pinch) {
      const now = pinchSpan();
      const span = Math.max(4, (drag.t1 - drag.t0) * (drag.pinch.width / Math.max(8, now.width)));
      const middle = drag.t0 + (drag.pinch.middle / width) * (drag.t1 - drag.t0);
      roll.t0 = middle - (now.middle / width) * span;
      roll.t1 = roll.t0 + span;
      drag.moved = true;
    } else {
      if (Math.abs(at.x - drag.x) > 3) drag.moved = true;
      const shift = ((drag.x - at.x) / width) * (drag.t1 - drag.t0);
      roll.t0 = drag.t0 + shift;
      roll.t1 = drag.t1 + shift;
    }
    keepRollInside();
    drawRoll();
  });
  const up = (event) => {
    if (!roll.pointers.has(event.pointerId)) return;
    roll.pointers.delete(event.pointerId);
    const drag = roll.drag;
    if (roll.pointers.size === 0) roll.drag = null;
    if (drag && !drag.moved && event.type === 'pointerup') {
      const at = pointerAt(event);
      ask({ type: 'hit', view: rollView(), x: at.dx, y: at.dy }).then(({ index }) => chooseNote(index));
    }
  };
  canvas.addEventListener('pointerup', up);
  canvas.addEventListener('pointercancel', up);
  canvas.addEventListener('pointerleave', () => {
    roll.hover = -1;
    $('tip').hidden = true;
  });
  canvas.addEventListener('keydown', (event) => {
    if (!listed) return;
    const keys = {
      ArrowLeft: () => panRoll(event.shiftKey ? -0.5 : -0.1),
      ArrowRight: () => panRoll(event.shiftKey ? 0.5 : 0.1),
      '+': () => zoomRoll(1.5),
      '=': () => zoomRoll(1.5),
      '-': () => zoomRoll(1 / 1.5),
      0: () => fitRoll(),
      Home: () => panRoll(-roll.t0 / (roll.t1 - roll.t0)),
      End: () => panRoll(1e9),
      n: () => stepNote(1),
      N: () => stepNote(1),
      p: () => stepNote(-1),
      P: () => stepNote(-1),
    };
    if (!keys[event.key]) return;
    event.preventDefault();
    keys[event.key]();
  });
}

// The middle and the width between the two pointers of a pinch, in CSS pixels.
function pinchSpan() {
  const [a, b] = [...roll.pointers.values()];
  return { middle: (a.x + b.x) / 2, width: Math.abs(a.x - b.x) };
}

// Chooses the next (1) or previous (-1) note in time, bringing it into view.
async function stepNote(direction) {
  const { index } = await ask({ type: 'step', view: rollView(), from: roll.chosen ?? -1, direction });
  if (index < 0) return;
  const note = await ask({ type: 'note', index, withOff: false });
  showTick(note.start);
  chooseNote(index);
}

// ---- the page's own wiring -----------------------------------------------------------------------

// For tests: where on screen (CSS pixels of the window) the middle of roll note `index` is drawn.
async function notePoint(index) {
  const note = await ask({ type: 'note', index, withOff: false });
  const v = rollView();
  const x0 = Math.max(0, rollX(v, note.start));  // eslint-disable-line no-undef
  const x1 = Math.min(v.width, Math.max(x0 + 1, rollX(v, note.end)));  // eslint-disable-line no-undef
  const y = rollY(v, note.key) + rollRowHeight(v) / 2;  // eslint-disable-line no-undef
  const rect = $('roll').getBoundingClientRect();
  return { x: rect.left + (x0 + x1) / 2 / v.scale, y: rect.top + y / v.scale };
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
  $('save').onclick = saveListing;
  $('zoom-in').onclick = () => zoomRoll(1.5);
  $('zoom-out').onclick = () => zoomRoll(1 / 1.5);
  $('zoom-fit').onclick = fitRoll;
  $('find').addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
      event.preventDefault();
      findNext(event.shiftKey ? -1 : 1);
    }
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
  }).observe(document.body);
  matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => {
    if (listed) showLegend(listed);
    drawRoll();
  });
  window.smfdumpPage = { notePoint, drawView, extent: () => (listed ? listed.maxTick : 0) };
}

start();
