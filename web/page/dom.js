// Small helpers every part of the page uses: elements by id, buttons made usable or not, and a file
// handed to the user to save.

// The element with this id.
export const $ = (id) => document.getElementById(id);

// Makes a button usable or not without taking the keyboard focus from it (a disabled button loses it).
export function setUsable(button, usable) {
  button.setAttribute('aria-disabled', String(!usable));
}

// Whether a button made unusable by setUsable is usable again.
export function usable(button) {
  return button.getAttribute('aria-disabled') !== 'true';
}

// Hands blob to the browser to save as name, as a download link clicked.
export function saveBlob(blob, name) {
  const url = URL.createObjectURL(blob);
  const a = document.createElement('a');
  a.href = url;
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// The name a saved file gets: the file's name with `extension` for its last extension (song.mid:
// song.txt).
export function savedName(name, extension) {
  const dot = name.lastIndexOf('.');
  return `${dot > 0 ? name.slice(0, dot) : name}${extension}`;
}
