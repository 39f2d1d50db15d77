// Find: the whole listing searched in the worker, the matches visited one by one in the listing view.
import { $ } from './dom.js';
import { listed, showProgress } from './files.js';
import { ask } from './lister.js';
import { chooseLine, jumpTo, renderListing, rowCount, showMatch, view } from './listing_view.js';
import { encodeFileText, lettersWithinCharacters, textEncodingInUse } from './text_encoding.js';

const found = {
  text: '',                      // what the last search looked for
  encoding: '',                  // the encoding it was written in for the search
  count: 0,                      // its matches, all of them
  offsets: new Float64Array(0),  // the dump offsets of the first million
  length: 0,                     // the length of a match in bytes
  at: -1,                        // the index of the match shown
  searching: false,              // whether a search is with the worker: Enter meanwhile starts no other
};

// Forgets the last search, its count and its highlight.
export function resetFind() {
  found.text = '';
  found.encoding = '';
  found.count = 0;
  found.offsets = new Float64Array(0);
  found.at = -1;
  showMatch(null);
  $('find-count').textContent = '';
}

// Clears the find box and what it found (Escape).
export function clearFind() {
  $('find').value = '';
  resetFind();
  if (listed) renderListing();
}

// Goes to the next (1) or previous (-1) match of the text in the find box, searching the whole
// listing first when the text is new (or the file's texts are read in another encoding now). The
// text is looked for as the file would hold it: written in the encoding its texts are read in (the
// listing's own words are ASCII, the same in all of them).
export async function findNext(direction) {
  const text = $('find').value;
  if (!listed || text === '') {
    resetFind();
    renderListing();
    return;
  }
  if (found.searching) return;  // the whole listing is being searched: its answer will come
  const encoding = textEncodingInUse();
  if (text !== found.text || encoding !== found.encoding) {
    const bytes = encodeFileText(text);
    if (bytes === null) {  // no bytes of this encoding stand for it: the file can't hold it
      resetFind();
      $('find-count').textContent = 'No match';
      renderListing();
      return;
    }
    $('find-count').textContent = 'Finding…';
    found.searching = true;
    let answer;
    try {
      answer = await ask({ type: 'search', bytes, exact: lettersWithinCharacters(bytes) });
    } finally {
      found.searching = false;
      showProgress(null);
    }
    if ($('find').value !== text) {  // cleared or changed meanwhile
      if ($('find-count').textContent === 'Finding…') $('find-count').textContent = '';
      return;
    }
    Object.assign(found, { text, encoding, count: answer.count, offsets: answer.offsets, length: answer.length, at: -1 });
    // the first match at or after the top of the screen
    const from = view.lines[view.top] ? view.lines[view.top].offset : 0;
    let i = 0;
    while (i < found.offsets.length && found.offsets[i] < from) i += 1;
    found.at = (direction > 0 ? i : i - 1) - direction;
  }
  if (found.offsets.length === 0) {
    $('find-count').textContent = 'No match';
    showMatch(null);
    renderListing();
    return;
  }
  found.at = (found.at + direction + found.offsets.length) % found.offsets.length;
  const offset = found.offsets[found.at];
  showMatch({ offset, length: found.length });
  const more = found.count > found.offsets.length ? ` (the first ${found.offsets.length.toLocaleString()} can be visited)` : '';
  $('find-count').textContent = `${(found.at + 1).toLocaleString()} of ${found.count.toLocaleString()}${more}`;
  await jumpTo(offset, Math.floor(rowCount() / 3));
  const line = view.lines.find((l) => offset >= l.offset && offset <= l.offset + l.length);
  if (line) chooseLine(line.offset);
}

