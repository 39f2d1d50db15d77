// The words a file sings, made into lines of syllables from its texts, with no DOM and nothing of the
// page: what the lyrics panel (lyrics.js) shows.
//
// Where the words are:
// - a karaoke file (.kar) says so in a text event beginning "@K" ("@KMIDI KARAOKE FILE"); its words
//   are its text events that don't begin with "@" (those are its headers: @T the title and then more
//   about the song, @I information, @L the language, @V the version, @K the kind of file);
// - any other file sings in its lyric events.
// Of the tracks holding such words, the one holding the most is sung (a second voice in a track of
// its own would mingle with the first), the first of several holding as many.
//
// Marks at a syllable's start: "\" begins a new verse (a new line, with room above it), and "/", a
// carriage return or a line feed a new line. A carriage return or line feed at a syllable's end ends
// the line after it. Other control characters are dropped. A line never marked grows no longer than
// `lineRoom` characters: past that, the next word (a syllable after a space) starts a new one, so a
// file of lyric events without marks still shows a line at a time; and past `lineMost`, the next
// syllable, word or not.

const lineRoom = 48;  // characters in a line without marks before the next word starts another
const lineMost = 96;  // characters in a line before the next syllable starts another

// The lines of the words in texts ({ tick, track, kind (1 text, 5 lyric), text } in file order within
// each track): { title (from the first @T header, '' if none), lines: [{ tick (its first
// syllable's), verse (true when a verse begins with it), syllables: [{ tick, text }], length (its
// characters) }] }; no lines
// when the file sings nothing.
export function lyricLines(texts) {
  const karaoke = texts.some((t) => t.kind === 1 && t.text.startsWith('@K'));
  const headers = karaoke ? texts.filter((t) => t.kind === 1 && t.text.startsWith('@')) : [];
  const title = headers.find((t) => t.text.startsWith('@T'));
  let words = karaoke ? texts.filter((t) => t.kind === 1 && !t.text.startsWith('@')) : [];
  if (words.length === 0) words = texts.filter((t) => t.kind === 5);
  return { title: title ? cleanText(title.text.slice(2)).trim() : '', lines: linesOf(wordsOfOneTrack(words)) };
}

// The words of the track holding the most of them (the first of several holding as many).
function wordsOfOneTrack(words) {
  const counts = new Map();
  for (const w of words) counts.set(w.track, (counts.get(w.track) ?? 0) + 1);
  let sung = -1;
  for (const [track, count] of counts) {
    if (sung === -1 || count > counts.get(sung) || (count === counts.get(sung) && track < sung)) sung = track;
  }
  return words.filter((w) => w.track === sung);
}

// text without control characters (line marks included).
function cleanText(text) {
  let out = '';
  for (const c of text) if (c >= ' ' && c !== '\u007f') out += c;
  return out;
}

// The words, syllable after syllable, made into lines by their marks (and by length where unmarked).
function linesOf(words) {
  const lines = [];
  let line = null;
  let breakNext = false;  // the next syllable begins a line
  let verseNext = false;  // ... and a verse
  for (const w of words) {
    let text = w.text;
    let at = 0;
    while (at < text.length && '\\/\r\n'.includes(text[at])) {
      if (text[at] === '\\') verseNext = true;
      breakNext = true;
      at += 1;
    }
    let end = text.length;
    let endsLine = false;
    while (end > at && '\r\n'.includes(text[end - 1])) {
      endsLine = true;
      end -= 1;
    }
    text = cleanText(text.slice(at, end));
    if (text !== '') {
      const wordStarts = text.startsWith(' ') || (line !== null && line.syllables[line.syllables.length - 1].text.endsWith(' '));
      const full = line !== null && (line.length + text.length > lineMost || (line.length + text.length > lineRoom && wordStarts));
      if (!line || breakNext || full) {
        line = { tick: w.tick, verse: verseNext && lines.length > 0, syllables: [], length: 0 };
        lines.push(line);
        breakNext = false;
        verseNext = false;
      }
      line.syllables.push({ tick: w.tick, text });
      line.length += text.length;
    }
    if (endsLine) breakNext = true;
  }
  return lines;
}
