// Files and the worker: the files the user gives, the worker that lists them (the console program's
// listing code, compiled to WebAssembly), the names file in use, and saving the listing. The page's
// scripts are put together into one script, in the order web/make_page.cmake gives; this one is first.
'use strict';

const namesKey = 'smfdump.names';
const $ = (id) => document.getElementById(id);

let worker = null;            // the worker, made anew when a listing in progress is given up
let lastId = 0;               // the id of the last request to the worker
const waiting = new Map();    // answers awaited from the worker, by request id
let files = [];               // the files dropped or picked, in order
let current = -1;             // the file whose listing is shown
let listed = null;            // what the worker told of that listing
let listingId = 0;            // the request id of the listing in progress, 0 when none
let listingTurn = 0;          // counts the listings started, so that one given up for a later one stays quiet
let namesFile = null;         // the user's names file: { name, bytes }, or null for the built-in names

// ---- the worker ----------------------------------------------------------------------------------

// Starts a worker from the source in the page, hands it the roll's canvas and the names in use.
function startWorker() {
  if (worker) worker.terminate();
  for (const [, entry] of waiting) entry.reject(new Error('the listing was given up'));
  waiting.clear();
  // the listing module and the roll, and the player's sequencer for the time at a place
  const source = `${$('worker-source').textContent}\n${$('sequencer-source').textContent}`;
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
  if (message.type === 'error') {
    const error = new Error(`${message.request}: ${message.message}`);
    error.tooLarge = message.tooLarge === true;
    error.size = message.size;
    entry.reject(error);
  } else if (message.type === 'none') entry.reject(new Error('nothing is listed'));
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

// Shows the list of files when there is more than one, the one listed marked and scrolled into view.
// Buttons are only ever added, never made anew, so that the one pressed keeps the keyboard focus.
function showFileList() {
  const nav = $('files');
  nav.hidden = files.length < 2;
  const ul = nav.querySelector('ul');
  while (ul.children.length < files.length) {
    const i = ul.children.length;
    const li = document.createElement('li');
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = files[i].name;
    button.onclick = () => listFile(i);
    li.append(button);
    ul.append(li);
  }
  [...ul.children].forEach((li, i) => li.firstChild.setAttribute('aria-current', String(i === current)));
  if (!nav.hidden && ul.children[current]) ul.children[current].scrollIntoView({ block: 'nearest', inline: 'nearest' });
}

// Makes a button usable or not without taking the keyboard focus from it (a disabled button loses it).
function setUsable(button, usable) {
  button.setAttribute('aria-disabled', String(!usable));
}

// Whether a button made unusable by setUsable is usable again.
function usable(button) {
  return button.getAttribute('aria-disabled') !== 'true';
}

// Lists file i: the worker lists it whole, then the roll and the top of the listing are shown. The
// file being listed, chosen again, goes on being listed; the file shown, chosen again, stays as it is;
// `anew` lists it again all the same (the names changed).
async function listFile(i, anew = false) {
  if (i === current && !anew && (listingId !== 0 || listed)) return;
  if (listingId !== 0) startWorker();  // give up the listing in progress for this one
  playerHalt();  // a new file stops what plays
  listingTurn += 1;
  const turn = listingTurn;
  current = i;
  showFileList();
  const file = files[i];
  document.body.dataset.state = 'listing';
  $('welcome').hidden = true;
  setUsable($('save'), false);
  showNotice('');
  showProgress('listing', 0);
  const asked = performance.now();
  const request = ask({ type: 'list', file, name: file.name });
  listingId = lastId;
  let answer;
  try {
    answer = await request;
  } catch (e) {
    if (turn !== listingTurn) return;  // given up for a later listing, which goes on
    listingId = 0;
    showProgress(null);
    startWorker();  // a module that failed (out of memory, say) is not used again
    listed = null;
    for (const part of ['listing', 'roll-box', 'finder']) $(part).hidden = true;
    showNotice(e.tooLarge
      ? `${file.name} is too large for this page to list (${file.size.toLocaleString()} bytes). The smfdump console program lists files of any size.`
      : `${file.name} could not be listed: ${e.message}`);
    document.body.dataset.state = 'failed';
    return;
  }
  if (turn !== listingTurn) return;
  listingId = 0;
  listed = answer;
  window.lastTimes = answer.times;
  showProgress(null);
  showSummaryNotice(answer);
  setUsable($('save'), true);
  $('finder').hidden = false;
  $('listing').hidden = false;
  $('roll-box').hidden = false;
  resetFind();
  const drawn = new Promise((resolve) => { roll.onDrawn = resolve; });
  startRoll(answer);
  startPlayer(answer);
  await Promise.all([jumpTo(0, 0), drawn]);
  if (turn !== listingTurn) return;
  document.body.dataset.state = 'ready';
  document.body.dataset.listMs = answer.ms.toFixed(1);
  // from the files given (or this one chosen) to its listing and roll on screen
  document.body.dataset.readyMs = (performance.now() - Math.max(pickedAt, asked)).toFixed(1);
  askPlayData();  // what the player needs, once what is read is on screen
}

// Says above the listing what a reader should know before reading it.
function showSummaryNotice(answer) {
  const notes = [];
  if (!answer.startsLikeMidi) {
    notes.push(`${answer.name} does not start like a MIDI file (its first bytes are not “MThd”). The listing below shows how its bytes read as one, as the smfdump program lists any file.`);
  } else if (answer.format < 0 || answer.format > 2) {
    notes.push(`The header gives format ${answer.format >>> 0}; only formats 0, 1 and 2 have tracks to list, so the listing ends after the header.`);
  }
  if (answer.cutShort) notes.push(`This file holds more notes than the roll can keep: the roll shows the first ${answer.notes.toLocaleString()} of them. The listing is whole.`);
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
  const doing = { listing: `Listing ${name}`, finding: 'Finding', saving: 'Making the listing to save', rendering: 'Making the WAV file' }[task] || task;
  $('progress-text').textContent = `${doing}… ${Math.floor(share * 100)}%`;
}

// Reads a names file picked by the user, keeps it for the next visit and lists the file again with it.
// The browser keeps the names in use or none: a file too large to keep puts away the one kept before.
async function loadNamesFile(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  namesFile = { name: file.name, bytes };
  let kept = true;
  try {
    localStorage.setItem(namesKey, JSON.stringify({ name: file.name, bytes: toBase64(bytes) }));
  } catch {
    kept = false;  // too large for the browser's storage, or storage is off
    try {
      localStorage.removeItem(namesKey);
    } catch {
      // storage is off: nothing was kept
    }
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
    ? `Program names: ${namesFile.name}${kept ? ', kept in this browser until you choose the built-in names.'
      : ' (too large for this browser to keep: the next visit starts with the built-in names).'}`
    : 'Program names: General MIDI, built in.';
  if (current >= 0) listFile(current, true);
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

// Has the worker make the whole listing again, in pieces, and saves it; says so when the browser
// can't hold the listing to save (a private window keeps little).
async function saveListing() {
  if (!listed || !usable($('save'))) return;
  setUsable($('save'), false);
  const size = listed.size;
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
  } catch (e) {
    if (e.message !== 'the listing was given up') {
      showNotice(`The browser refused to save the listing (${Math.round(size).toLocaleString()} bytes): ${e.message.replace(/^save: /, '')}.`
        + ' A private window keeps little; the smfdump console program writes listings of any size.');
    }
  } finally {
    showProgress(null);
    if (listed && listingId === 0) setUsable($('save'), true);
  }
}

