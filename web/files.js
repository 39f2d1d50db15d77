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

