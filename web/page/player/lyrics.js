// The lyrics panel: the line of the words being sung and the next, the syllable sung marked, following
// the place playing (the transport tells it each place it shows: while playing, at a seek, a loop's
// wrap or a stop), whatever plays (the page's sound or a MIDI output). Shown only for a file that
// sings: lyric events, or a karaoke file's text events (karaoke.js makes the lines), read in the
// encoding the page reads the file's texts in, and again when that changes.
//
// For a screen reader the panel is a region under its heading; the line sung is a polite live region
// whose words are written once when the line becomes the one sung (so it is read once), and the
// syllables are then marked by their attributes alone (aria-current on the one sung).
import { $ } from '../dom.js';
import { decodeFileText, whenTextEncodingChanges } from '../text_encoding.js';
import { lyricLines } from './karaoke.js';
import { playDataEventBytes, playDataEvents } from '../../shared/play_data.js';

const textsKept = 20000;  // text and lyric events read at most (a song has hundreds): more would hold
                          // up the page as the file opens, and the words past them are not shown

export const lyrics = {
  texts: [],                   // the file's text and lyric events: { tick, track, kind, bytes } (bytes kept
                               // to be read again in another encoding)
  lines: [],                   // the lines sung (karaoke.js): { tick, verse, syllables: [{ tick, text }] }
  ticks: new Float64Array(0),  // each syllable's tick, line after line
  lineOf: new Uint32Array(0),  // each syllable's line
  firsts: new Uint32Array(0),  // each line's first syllable
  line: -1,                    // the line shown as sung, -1 when none is shown
  syllable: -1,                // the syllable marked as sung (-1: none yet, the place is before the first)
  tick: 0,                     // the place shown last
  listening: false,            // whether a change of the texts' encoding reads the words again
};

// Forgets the last file's words and hides the panel (a new listing).
export function forgetLyrics() {
  lyrics.texts = [];
  forgetLines();
}

// Forgets the lines made of the words, and hides the panel.
function forgetLines() {
  lyrics.lines = [];
  lyrics.ticks = new Float64Array(0);
  lyrics.lineOf = new Uint32Array(0);
  lyrics.firsts = new Uint32Array(0);
  lyrics.line = -1;
  lyrics.syllable = -1;
  $('lyrics').hidden = true;
  $('lyrics-now').replaceChildren();
  $('lyrics-next').replaceChildren();
  $('lyrics-title').textContent = '';
}

// Takes the file's text and lyric events (the first textsKept) from its compact copy (an ArrayBuffer,
// before the player hands it on), and shows the panel at tick when the file sings.
export function takeLyrics(copy, tick) {
  const events = playDataEvents(copy);
  lyrics.texts = [];
  for (let i = 0; i < events.kinds.length && lyrics.texts.length < textsKept; i += 1) {
    if (events.kinds[i] !== 1 && events.kinds[i] !== 5) continue;
    lyrics.texts.push({ tick: events.ticks[i], track: events.tracks[i], kind: events.kinds[i], bytes: playDataEventBytes(events, i).slice() });
  }
  lyrics.tick = tick;
  if (!lyrics.listening) whenTextEncodingChanges(readLyrics);
  lyrics.listening = true;
  readLyrics();
}

// Reads the words (again) in the encoding in use, and shows them at the place shown last.
function readLyrics() {
  forgetLines();
  const { title, lines } = lyricLines(lyrics.texts.map((t) => ({ ...t, text: decodeFileText(t.bytes) })));
  if (lines.length === 0) return;
  const count = lines.reduce((n, l) => n + l.syllables.length, 0);
  lyrics.lines = lines;
  lyrics.ticks = new Float64Array(count);
  lyrics.lineOf = new Uint32Array(count);
  lyrics.firsts = new Uint32Array(lines.length);
  let s = 0;
  lines.forEach((line, l) => {
    lyrics.firsts[l] = s;
    for (const syllable of line.syllables) {
      lyrics.ticks[s] = syllable.tick;
      lyrics.lineOf[s] = l;
      s += 1;
    }
  });
  $('lyrics-title').textContent = title ? `: ${title}` : '';
  $('lyrics').hidden = false;
  showLyricsAt(lyrics.tick, true);
}

// The last syllable sung at tick or before, -1 when none is.
function syllableAt(tick) {
  let low = 0;
  let high = lyrics.ticks.length;
  while (low < high) {
    const mid = (low + high) >> 1;
    if (lyrics.ticks[mid] <= tick) low = mid + 1;
    else high = mid;
  }
  return low - 1;
}

// Shows the words at tick: the line of the syllable sung then (the first line before any is) and the
// next, the syllables sung so far marked, the one sung now most. Writes only what changed (`again`:
// the whole panel anew).
export function showLyricsAt(tick, again = false) {
  lyrics.tick = tick;
  if (lyrics.lines.length === 0) return;
  const s = syllableAt(tick);
  if (s === lyrics.syllable && !again) return;
  const line = s < 0 ? 0 : lyrics.lineOf[s];
  if (line !== lyrics.line || again) {
    // a span for each syllable, the spaces around its letters left outside it (unmarked)
    $('lyrics-now').replaceChildren(...lyrics.lines[line].syllables.flatMap((syllable) => {
      const [, before, letters, after] = /^(\s*)(.*?)(\s*)$/su.exec(syllable.text);
      const span = document.createElement('span');
      span.textContent = letters;
      return [before, span, after].filter((part) => part !== '');
    }));
    const next = lyrics.lines[line + 1];
    $('lyrics-next').textContent = next ? next.syllables.map((syllable) => syllable.text).join('') : '';
    $('lyrics-next-line').classList.toggle('verse', Boolean(next?.verse));
    $('lyrics-next-said').hidden = !next;  // "Next line:" said only before one
    lyrics.line = line;
  }
  const first = lyrics.firsts[line];
  [...$('lyrics-now').children].forEach((span, k) => {
    const at = first + k;
    span.classList.toggle('sung', at < s);
    span.classList.toggle('now', at === s);
    if (at === s) span.setAttribute('aria-current', 'true');
    else span.removeAttribute('aria-current');
  });
  lyrics.syllable = s;
}
