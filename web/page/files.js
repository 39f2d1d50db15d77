// The files the user gives, each listed by the listing worker (the console program's listing code,
// compiled to WebAssembly) and shown: the list of files, the listing in progress and what it told, and
// the notices and progress above the listing.
import { $, setUsable } from './dom.js';
import { resetFind } from './find.js';
import { ask, lastRequest, startWorker } from './lister.js';
import { jumpTo } from './listing_view.js';
import { learnFileTexts } from './names.js';
import { askPlayData } from './player/outputs.js';
import { playerHalt, startPlayer } from './player/transport.js';
import { startRoll, whenRollDrawn } from './roll.js';

let files = [];               // the files dropped or picked, in order
let current = -1;             // the file whose listing is shown
export let listed = null;     // what the worker told of that listing
let listingId = 0;            // the request id of the listing in progress, 0 when none
export let listingTurn = 0;   // counts the listings started, so that one given up for a later one stays quiet
let lastTimes = null;         // how long the last listing took, step by step (read, list, roll), for the benchmark

let pickedAt = 0;  // when the user last gave files (performance.now()), for the time to a shown listing

// Adds files to the list and lists the first of them.
export function addFiles(list) {
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
  listingId = lastRequest();
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
  lastTimes = answer.times;
  showProgress(null);
  showSummaryNotice(answer);
  setUsable($('save'), true);
  $('finder').hidden = false;
  $('listing').hidden = false;
  $('roll-box').hidden = false;
  resetFind();
  const drawn = whenRollDrawn();
  startRoll(answer);
  startPlayer(answer);
  await Promise.all([jumpTo(0, 0), drawn]);
  if (turn !== listingTurn) return;
  document.body.dataset.state = 'ready';
  document.body.dataset.listMs = answer.ms.toFixed(1);
  // from the files given (or this one chosen) to its listing and roll on screen
  document.body.dataset.readyMs = (performance.now() - Math.max(pickedAt, asked)).toFixed(1);
  learnFileTexts();  // the file's track names and its texts' encoding, once its first lines are on screen
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
export function showNotice(text) {
  $('notice').textContent = text;
  $('notice').hidden = text === '';
}

// Shows how far the worker has come, or hides the bar when task is null.
export function showProgress(task, share) {
  $('progress-box').hidden = task === null;
  if (task === null) return;
  $('progress').value = share;
  const name = current >= 0 ? files[current].name : '';
  const doing = { listing: `Listing ${name}`, finding: 'Finding', saving: 'Making the listing to save', rendering: 'Making the WAV file' }[task] || task;
  $('progress-text').textContent = `${doing}… ${Math.floor(share * 100)}%`;
}

// The file whose listing is shown, or being made (a File), or null.
export function currentFile() {
  return current >= 0 ? files[current] : null;
}

// Whether no listing is in progress.
export function listingDone() {
  return listingId === 0;
}

// Lists the file shown again (the names changed).
export function relistCurrent() {
  if (current >= 0) listFile(current, true);
}

// How long the last listing took, step by step: { read, list, roll } in ms (null before the first).
export function listingTimes() {
  return lastTimes;
}
