// The words a file sings, made into lines: a karaoke file's text events and a file's lyric events,
// their marks, and which track is sung.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { lyricLines } from './karaoke.js';

// A text event (kind 1) and a lyric event (kind 5): [tick, track, text].
const text = (tick, track, words) => ({ tick, track, kind: 1, text: words });
const lyric = (tick, track, words) => ({ tick, track, kind: 5, text: words });

// Each line as the page shows it: its words whole, the ticks of its syllables, and whether a verse
// begins there.
const shown = (lines) => lines.map((l) => ({ words: l.syllables.map((s) => s.text).join(''), ticks: l.syllables.map((s) => s.tick), verse: l.verse }));

test('a karaoke file sings its text events: "\\" begins a verse, "/" a line; its @ headers and other tracks are not sung', () => {
  const { title, lines } = lyricLines([
    text(0, 0, '@KMIDI KARAOKE FILE'),
    text(0, 0, 'Sequenced by hand'),            // a remark in another track than the words
    text(0, 1, '@V0100'),
    text(0, 1, '@LENGL'),
    text(0, 1, '@TRow the Boat'),               // the first @T is the title
    text(0, 1, '@TTraditional'),
    text(0, 1, '@IA round in four parts'),
    text(96, 1, '\\Row,'),
    text(192, 1, ' row,'),
    text(288, 1, ' row'),
    text(384, 1, ' your'),
    text(480, 1, '/boat'),
    text(576, 1, ' gent'),
    text(672, 1, 'ly'),
    text(768, 1, '\\Mer'),
    text(864, 1, 'ri'),
    text(960, 1, 'ly'),
    lyric(100, 2, 'ignored'),                   // lyric events of a karaoke file are not its words
  ]);
  assert.equal(title, 'Row the Boat');
  assert.deepEqual(shown(lines), [
    { words: 'Row, row, row your', ticks: [96, 192, 288, 384], verse: false },
    { words: 'boat gently', ticks: [480, 576, 672], verse: false },
    { words: 'Merrily', ticks: [768, 864, 960], verse: true },
  ]);
});

test('lyric events: a line ends at "\\r", "\\n", "/" or "\\" at a syllable\'s start and after "\\r" or "\\n" at its end; the track with the most words is sung', () => {
  const { title, lines } = lyricLines([
    text(0, 0, '@TNot karaoke'),                // no @K header: text events are not sung, no title
    lyric(10, 1, 'Twin'),
    lyric(20, 1, 'kle '),
    lyric(30, 1, 'twin'),
    lyric(40, 1, 'kle\r'),                      // ends the line after it
    lyric(50, 1, 'lit'),
    lyric(60, 1, 'tle '),
    lyric(70, 1, '\n'),                         // a mark alone: the next syllable begins a line
    lyric(80, 1, 'star\x07'),                   // a bell in the text is dropped
    lyric(90, 1, '/how '),
    lyric(100, 1, '\\I '),
    lyric(110, 1, '\r\nwon'),
    lyric(120, 1, 'der'),
    lyric(15, 2, 'Echo'),                       // a second voice, with fewer words: not sung
    lyric(25, 2, 'echo'),
  ]);
  assert.equal(title, '');
  assert.deepEqual(shown(lines), [
    { words: 'Twinkle twinkle', ticks: [10, 20, 30, 40], verse: false },
    { words: 'little ', ticks: [50, 60], verse: false },
    { words: 'star', ticks: [80], verse: false },
    { words: 'how ', ticks: [90], verse: false },
    { words: 'I ', ticks: [100], verse: true },
    { words: 'wonder', ticks: [110, 120], verse: false },
  ]);
});

test('words never marked still come a line at a time: a long line ends before a word, or before any syllable when it has no spaces', () => {
  // forty words of five letters and a space: 6 characters each, 8 to a line of at most 48
  const words = Array.from({ length: 40 }, (_, i) => lyric(i * 7, 3, 'la-la '));
  const lines = lyricLines(words).lines;
  assert.deepEqual(lines.map((l) => l.syllables.length), [8, 8, 8, 8, 8]);
  assert.equal(lines[1].tick, 8 * 7);
  // syllables of ten letters with no space between: a line of at most 96 characters
  const unbroken = lyricLines(Array.from({ length: 25 }, (_, i) => lyric(i, 3, 'abcdefghij'))).lines;
  assert.deepEqual(unbroken.map((l) => l.length), [90, 90, 70]);
});

test('a file sings nothing without lyric events or a karaoke header; a karaoke file without words sings its lyric events', () => {
  assert.deepEqual(lyricLines([text(0, 0, 'Just a remark'), { tick: 0, track: 0, kind: 3, text: 'Piano' }]).lines, []);
  assert.deepEqual(lyricLines([]).lines, []);
  const { title, lines } = lyricLines([text(0, 0, '@KMIDI KARAOKE FILE'), text(0, 0, '@TSung in lyrics'), lyric(5, 1, 'Hey')]);
  assert.equal(title, 'Sung in lyrics');
  assert.deepEqual(shown(lines), [{ words: 'Hey', ticks: [5], verse: false }]);
});
