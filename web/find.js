// Find: the whole listing searched in the worker, the matches visited one by one in the listing view.
'use strict';

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

