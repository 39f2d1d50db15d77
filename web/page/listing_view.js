// The listing view: a window of lines over a listing that is never held whole. The view keeps a few
// thousand lines around what is on screen and asks the worker for more as it moves. Its place is a
// dump offset; the scroll bar stands for the listing's bytes.
import { $ } from './dom.js';
import { listed } from './files.js';
import { ask } from './lister.js';
import { userMovedView } from './player/follow.js';
import { trackShownChanged } from './player/settings.js';
import { markTick, showTick } from './roll.js';
import { decodeFileText, decodeNameText, textEncodingInUse } from './text_encoding.js';

const lineHeight = 18;          // CSS pixels of one listing line, as page.css sets it
const bytesPerLine = 36;        // a listing line's usual length, for the scroll bar's scale
const tallestSpacer = 8000000;  // CSS pixels: a taller scroll area is scaled down to this

export const view = {
  lines: [],          // lines held: { offset, length, text, bytes, field, event, track, total } (as the worker tells them)
  top: 0,             // index in lines of the line at the top of the screen
  atStart: true,      // whether lines[0] is the listing's first line
  atEnd: true,        // whether the last line held is the listing's last
  generation: 0,      // counts jumps, so that an answer to an older one is dropped
  extending: { before: false, after: false },
  selected: null,     // dump offset of the chosen line
  linked: new Set(),  // dump offsets of the lines of the note chosen in the roll
  played: null,       // dump offset of the line played last (by the player), marked
  match: null,        // the match of the search shown: { offset, length }
  scrollSet: -1,      // the scroll position this script set last (a scroll there is its own echo)
  wheelLines: 0,      // a wheel's movement not yet a whole line
};

// How many lines the screen shows.
export function rowCount() {
  return Math.max(1, Math.ceil($('listing-scroll').clientHeight / lineHeight));
}

// Shows the lines around dump offset `offset` (its own line placed `place` rows from the top).
export async function jumpTo(offset, place) {
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

// Draws the lines on screen and puts the scroll bar where they are; after a scroll of the user's
// (`scrolled`), the scroll bar stays where the user put it.
export function renderListing(scrolled = false) {
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
    row.classList.toggle('played', line.offset === view.played);
    row.setAttribute('aria-selected', String(line.offset === view.selected));
    const m = view.match;
    if (m && m.offset >= line.offset && m.offset < line.offset + line.length) {
      const text = lineText(line);
      const from = textIndex(line, m.offset - line.offset);
      const to = textIndex(line, m.offset - line.offset + m.length);
      const mark = document.createElement('mark');
      mark.textContent = text.slice(from, to);
      row.replaceChildren(text.slice(0, from), mark, text.slice(to));
    } else {
      row.textContent = lineText(line);
    }
  }
  const { height, bytesPerPixel } = scrollScale();
  $('listing-spacer').style.height = `${Math.max(0, height - scroller.clientHeight)}px`;
  // the scroll bar stays anywhere within the top line (a slow swipe moves it a pixel at a time), and
  // is put at the line's start otherwise; what it reads then (the browser may have clamped it to a
  // shorter scroll area) is remembered, so that the scroll event this causes is known for an echo
  const topLine = view.lines[view.top];
  if (topLine && !scrolled) {
    const at = scroller.scrollTop * bytesPerPixel;
    if (at < topLine.offset || at > topLine.offset + topLine.length) scroller.scrollTop = Math.round(topLine.offset / bytesPerPixel);
  }
  view.scrollSet = scroller.scrollTop;
  extendIfNeeded();
}

// A line's first `at` bytes as characters: the file's text in it (line.field) in the encoding in use
// (a program's name as names are read), the rest as the listing writes it, UTF-8. The text alone is
// decoded, so that a lead byte at its end can't take the slash after it.
function decodeLine(line, at) {
  const bytes = line.bytes.subarray(0, Math.min(at, line.bytes.length));
  const utf8 = (from, to) => new TextDecoder().decode(bytes.subarray(from, to));
  const field = line.field;
  if (!field || field.start >= bytes.length) return utf8(0, bytes.length);
  const text = bytes.subarray(field.start, Math.min(field.end, bytes.length));
  return utf8(0, field.start) + (field.name ? decodeNameText(text) : decodeFileText(text)) + utf8(Math.min(field.end, bytes.length), bytes.length);
}

// A line as shown: its text as the worker made it when it is all ASCII, else decoded (decodeLine),
// kept with the encoding it was decoded in, and with the note of a line cut short.
export function lineText(line) {
  if (!line.bytes) return line.text;
  const encoding = textEncodingInUse();
  if (line.shown === undefined || line.shownIn !== encoding) {
    line.shown = decodeLine(line, line.bytes.length) + (line.length > line.bytes.length ? ` … (${line.length} bytes in all)` : '');
    line.shownIn = encoding;
  }
  return line.shown;
}

// The index in a line's text of the character that starts at byte `at` of the line: the same for a
// line of ASCII, as listings mostly are; else the characters its first `at` bytes decode to.
function textIndex(line, at) {
  if (!line.bytes) return at;
  return decodeLine(line, at).length;
}

// Chooses the line at dump offset `offset`: it is marked, and so is its moment in the roll.
export function chooseLine(offset) {
  view.selected = offset;
  const line = view.lines.find((l) => l.offset === offset);
  renderListing();
  if (line && line.total !== null && listed) {
    const index = listed.tracks.findIndex((t) => t.number === line.track);
    markTick(line.total, index);
    trackShownChanged();
    showTick(line.total);
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
export function listingKey(event) {
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
  userMovedView();
  keys[event.key]();
}

// The wheel moves the view by lines, however tall the scroll area is scaled.
export function listingWheel(event) {
  if (!listed || Math.abs(event.deltaY) < Math.abs(event.deltaX)) return;
  event.preventDefault();
  userMovedView();
  const unit = event.deltaMode === 1 ? 1 : event.deltaMode === 2 ? rowCount() : 1 / lineHeight;
  view.wheelLines += event.deltaY * unit;
  const whole = Math.trunc(view.wheelLines);
  view.wheelLines -= whole;
  if (whole !== 0) moveBy(whole);
}

// Whether a scroll of the listing can be the user's: not while a file is being listed, when the lines
// shown are the last file's and the scroll area changes under them (the browser's clamping of it
// then raises scroll events too).
function listingScrollable() {
  return listed !== null && document.body.dataset.state === 'ready';
}

// A scroll the user made (the bar dragged, a touch): moves to the part of the listing it stands for.
let scrollPending = false;
export function listingScrolled() {
  const scroller = $('listing-scroll');
  if (!listingScrollable() || scroller.scrollTop === view.scrollSet || scrollPending) return;
  scrollPending = true;
  requestAnimationFrame(() => {
    scrollPending = false;
    if (!listingScrollable() || scroller.scrollTop === view.scrollSet) return;  // back where this script put it
    userMovedView();
    const rows = rowCount();
    const range = scroller.scrollHeight - scroller.clientHeight;
    if (view.atStart && view.atEnd) {
      // every line is held: the scroll bar stands for the lines (a listing of a screen or less has
      // a scroll range of a pixel, which would otherwise stand for its last byte)
      const share = range > 0 ? scroller.scrollTop / range : 0;
      view.top = Math.round(share * Math.max(0, view.lines.length - rows));
      renderListing(true);
      return;
    }
    const { bytesPerPixel } = scrollScale();
    const offset = Math.min(listed.size - 1, scroller.scrollTop * bytesPerPixel);
    // nearby: move through the lines held; far: ask for the lines there
    const top = view.lines[view.top];
    const held = view.lines.findIndex((l) => l.offset + l.length >= offset);
    if (top && held >= 0 && Math.abs(held - view.top) < 2000 && (held > 0 || view.atStart)) {
      view.top = held;
      renderListing(true);
    } else {
      jumpTo(offset, 0);
    }
  });
}

// Highlights a match of the search (null: none): { offset, length } in dump bytes.
export function showMatch(match) {
  view.match = match;
}

// Marks the lines at these dump offsets as those of the note chosen in the roll.
export function linkLines(offsets) {
  view.linked = new Set(offsets);
}

// Marks the line at this dump offset as the one played last (null: none); drawn at the next render.
export function markPlayed(offset) {
  view.played = offset;
}
