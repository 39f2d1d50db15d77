// The program names the listing uses: the built-in General MIDI names, or a names file the user
// loads, kept in the browser's local storage for the next visit.
import { $ } from './dom.js';
import { relistCurrent } from './files.js';
import { tellNames } from './lister.js';

const namesKey = 'smfdump.names';  // the local storage key of the names file kept
let namesFile = null;              // the user's names file: { name, bytes }, or null for the built-in names

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

// The names file kept from an earlier visit, if any.
export function restoreNames() {
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
