// The names and texts the page shows: the program names the listing uses (the built-in General MIDI
// names, or a names file the user loads), the file's own track names, and the encoding its texts are
// read in (the "Text" choice); the names file and the choice are kept in the browser's local storage
// for the next visit.
import { $ } from './dom.js';
import { listed, listingTurn, relistCurrent } from './files.js';
import { resetFind } from './find.js';
import { ask, tellNames } from './lister.js';
import { renderListing } from './listing_view.js';
import { nameLegend } from './roll.js';
import {
  chooseTextEncoding, choiceLabel, decodeFileText, decodeNameText, likeliestEncoding, likeliestInUse, settleLikeliestEncoding,
  textChoice, textChoices, textEncodingInUse, whenTextEncodingChanges,
} from './text_encoding.js';

const namesKey = 'smfdump.names';  // the local storage key of the names file kept
const textKey = 'smfdump.text';    // the local storage key of the "Text" choice
let namesFile = null;              // the user's names file: { name, bytes }, or null for the built-in names
let fileNames = null;              // the listed file's names: { turn, trackNames, programNames } (bytes or null by track index)
let readIn = '';                   // the encoding the page shows the file's texts in

// The user's names file in use ({ name, bytes }), or null for the built-in names.
export function namesInUse() {
  return namesFile;
}

// Reads a names file picked by the user, keeps it for the next visit and lists the file again with it.
// The browser keeps the names in use or none: a file too large to keep puts away the one kept before.
export async function loadNamesFile(file) {
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
export function resetNames() {
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
  tellNames();
  $('names-reset').hidden = namesFile === null;
  $('names-state').textContent = namesFile
    ? `Program names: ${namesFile.name}${kept ? ', kept in this browser until you choose the built-in names.'
      : ' (too large for this browser to keep: the next visit starts with the built-in names).'}`
    : 'Program names: General MIDI, built in.';
  relistCurrent();
}

// The names file and the "Text" choice kept from an earlier visit, if any; the choice's control set up.
export function restoreNames() {
  restoreTextChoice();
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

// Fills the "Text" choice, puts in it what was kept, and has a change taken and kept.
function restoreTextChoice() {
  const select = $('text-encoding');
  select.replaceChildren(...textChoices.map(([value, label]) => new Option(label, value)));
  let kept = null;
  try {
    kept = localStorage.getItem(textKey);
  } catch {
    // storage is off: Auto
  }
  whenTextEncodingChanges(textsChanged);
  chooseTextEncoding(kept || 'auto');
  select.value = textChoice();
  select.onchange = () => {
    chooseTextEncoding(select.value);
    try {
      localStorage.setItem(textKey, textChoice());
    } catch {
      // storage is off: the choice holds for this visit
    }
  };
}

// Shows what the file's texts read as: the legend's names and, when the encoding changed, the
// listing's lines, and a search made anew (the typed text is written in the encoding in use). The
// page's body tells the encoding.
function textsChanged() {
  const encoding = textEncodingInUse();
  const changed = encoding !== readIn;
  readIn = encoding;
  document.body.dataset.textEncoding = encoding;
  $('text-encoding').title = `Reading the file's texts as ${choiceLabel(encoding)}`;
  $('text-encoding').options[0].textContent = `Auto (${choiceLabel(likeliestInUse())})`;  // what Auto picks
  if (!listed) return;
  nameLegend();
  if (!changed) return;
  resetFind();
  renderListing();
}

// Asks the worker for the listed file's texts, once its first lines are on screen: Auto picks their
// encoding from them, and the legend names the tracks.
export async function learnFileTexts() {
  const turn = listingTurn;
  fileNames = null;
  delete document.body.dataset.textEncoding;  // told again once the file's texts are known
  let answer;
  try {
    answer = await ask({ type: 'texts' });
  } catch {
    // the texts can't be had: the tracks go by their numbers, Auto reads UTF-8
    if (turn === listingTurn) settleLikeliestEncoding('utf-8');
    return;
  }
  if (turn !== listingTurn) return;
  fileNames = { turn, trackNames: answer.trackNames, programNames: answer.programNames };
  settleLikeliestEncoding(likeliestEncoding(answer.texts));
}

// What the file calls the track at index i: { name, program } (each a string, or '' for none).
export function trackNaming(i) {
  if (!fileNames || fileNames.turn !== listingTurn) return { name: '', program: '' };
  const name = fileNames.trackNames[i];
  const program = fileNames.programNames[i];
  return { name: name ? decodeFileText(name).trim() : '', program: program ? decodeNameText(program).trim() : '' };
}
