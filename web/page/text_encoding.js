// How the file's texts read on the page: its meta events' texts (names, lyrics, markers, ...) are bytes
// in whatever encoding the file's author used, and the listing keeps them as bytes. The page shows them
// decoded in the encoding the user chose under "Text", or with Auto in the one the file's texts make
// likeliest (likeliestEncoding says how), and Find looks for typed text written in that encoding.
//
// The encodings are the browser's own (TextDecoder knows them all); writing text in one of them
// (TextEncoder writes UTF-8 only) takes a table made, the first time it is needed, by decoding every
// character's byte sequence of that encoding once.

// The choices under "Text": Auto, then the encodings by their names for TextDecoder.
export const textChoices = [
  ['auto', 'Auto'], ['utf-8', 'UTF-8'], ['shift_jis', 'Shift_JIS'], ['euc-jp', 'EUC-JP'], ['windows-1252', 'windows-1252'],
  ['iso-8859-2', 'ISO-8859-2'], ['gb18030', 'GB18030'], ['big5', 'Big5'], ['euc-kr', 'EUC-KR'],
];

const text = {
  choice: 'auto',           // the user's choice: 'auto' or an encoding of textChoices
  likeliest: 'utf-8',       // what Auto picked for the file listed (UTF-8 until its texts are known)
  decoders: new Map(),      // a TextDecoder for each encoding used, made once
  writers: new Map(),       // for each encoding written in so far, its table: character → its bytes
  listeners: [],            // told when the encoding in use changes
};

// The encoding the file's texts are read in: the user's choice, or Auto's pick.
export function textEncodingInUse() {
  return text.choice === 'auto' ? text.likeliest : text.choice;
}

// What Auto picked for the file listed (UTF-8 until its texts are known).
export function likeliestInUse() {
  return text.likeliest;
}

// The name shown for a choice or an encoding ('auto', 'shift_jis', ...).
export function choiceLabel(value) {
  return textChoices.find(([v]) => v === value)[1];
}

// The user's choice under "Text": 'auto' or an encoding's name.
export function textChoice() {
  return text.choice;
}

// Takes the user's choice ('auto' or one of textChoices; anything else is Auto) and tells the listeners.
export function chooseTextEncoding(choice) {
  text.choice = textChoices.some(([value]) => value === choice) ? choice : 'auto';
  tellListeners();
}

// Takes what Auto picked for the file listed and tells the listeners.
export function settleLikeliestEncoding(encoding) {
  text.likeliest = encoding;
  tellListeners();
}

// Calls listener() whenever the encoding in use may have changed (a choice, or a new file's texts).
export function whenTextEncodingChanges(listener) {
  text.listeners.push(listener);
}

// Tells every listener that the encoding in use may have changed.
function tellListeners() {
  for (const listener of text.listeners) listener();
}

// The TextDecoder of an encoding (replacing what can't be read with U+FFFD), made once.
function decoderFor(encoding) {
  let decoder = text.decoders.get(encoding);
  if (!decoder) {
    decoder = new TextDecoder(encoding);
    text.decoders.set(encoding, decoder);
  }
  return decoder;
}

// A text of the file (bytes as the file holds them) as characters, in the encoding in use.
export function decodeFileText(bytes) {
  return decoderFor(textEncodingInUse()).decode(bytes);
}

// A program name of the names file in use: UTF-8 when it reads as UTF-8, else as the file's texts do
// (a names file is the user's, and may be written as the MIDI files they list are).
export function decodeNameText(bytes) {
  return isUtf8(bytes) ? decoderFor('utf-8').decode(bytes) : decodeFileText(bytes);
}

// Whether bytes are well-formed UTF-8.
function isUtf8(bytes) {
  try {
    new TextDecoder('utf-8', { fatal: true }).decode(bytes);
    return true;
  } catch {
    return false;
  }
}

// Whether any byte is outside ASCII (where the encodings differ).
function hasHighByte(bytes) {
  return bytes.some((b) => b >= 0x80);
}

// The encoding the file's texts (a list of byte arrays, each one text) most likely are in. The rule:
//  - texts all in ASCII read the same in every encoding: UTF-8;
//  - texts with other bytes, every one of them well-formed UTF-8: UTF-8;
//  - otherwise Shift_JIS or windows-1252, whichever scores more over the texts (windows-1252 when
//    they score the same). Each text is read in both:
//    Shift_JIS: each kana, kanji, Japanese punctuation mark or full-width letter scores 2, each
//      half-width katakana 1 when another stands beside it or it is the whole text (a lyric's
//      syllable); each byte sequence that is no character (a lead byte without its second byte, an
//      unassigned pair) costs 4;
//    windows-1252: each accented letter scores 2 beside an ASCII letter ("Müller"), 1 beside another
//      accented letter or as the whole text; each sign such as © ° £ “ ” – … scores 2 between two
//      ASCII letters ("Man’s"), 1 among ASCII ("Copyright © 2004") but not as the whole text; each
//      of the five bytes that windows-1252 leaves unassigned costs 4.
//    Japanese text read as windows-1252 comes out as lone signs and letters between other such
//    characters ("ƒsƒAƒm" for ピアノ), which score nothing; Western text read as Shift_JIS breaks
//    into byte sequences that are no character, or into lone half-width katakana, which score nothing.
export function likeliestEncoding(texts) {
  const marked = texts.filter(hasHighByte);
  if (marked.every(isUtf8)) return 'utf-8';
  let japanese = 0;
  let western = 0;
  for (const bytes of marked) {
    japanese += japaneseScore([...decoderFor('shift_jis').decode(bytes)]);
    western += westernScore(bytes);
  }
  return japanese > western ? 'shift_jis' : 'windows-1252';
}

// Whether a character (a string of one code point) is a half-width katakana.
function halfWidthKana(c) {
  return c !== undefined && c >= '\uff61' && c <= '\uff9f';
}

// The Shift_JIS score of a text's characters (see likeliestEncoding).
function japaneseScore(chars) {
  let score = 0;
  chars.forEach((c, i) => {
    if (c === '\ufffd') score -= 4;
    else if ((c >= '\u3000' && c <= '\u30ff') || (c >= '\u4e00' && c <= '\u9fff') || (c >= '\uff01' && c <= '\uff5e')) score += 2;  // punctuation, kana, kanji, full-width forms
    else if (halfWidthKana(c) && (halfWidthKana(chars[i - 1]) || halfWidthKana(chars[i + 1]) || chars.length === 1)) score += 1;
  });
  return score;
}

// Whether a byte is a letter in windows-1252 beyond ASCII: À to ÿ but × and ÷, and Š Œ Ž š œ ž Ÿ.
function accentedLetter(b) {
  return (b >= 0xc0 && b !== 0xd7 && b !== 0xf7) || [0x8a, 0x8c, 0x8e, 0x9a, 0x9c, 0x9e, 0x9f].includes(b);
}

// Whether a byte is an ASCII letter.
function asciiLetter(b) {
  return (b >= 0x41 && b <= 0x5a) || (b >= 0x61 && b <= 0x7a);
}

// The windows-1252 score of a text (see likeliestEncoding), from its bytes: one a character there.
// (The bytes are looked at rather than a decoder's reading: some decoders outside browsers read
// windows-1252 as ISO-8859-1, whose 0x80 to 0x9F are control codes.)
function westernScore(bytes) {
  const unassigned = [0x81, 0x8d, 0x8f, 0x90, 0x9d];
  const signs = [0x80, 0x82, 0x84, 0x85, 0x86, 0x87, 0x89, 0x8b, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9b];  // € ‚ „ … † ‡ ‰ ‹ ‘ ’ “ ” • – — ˜ ™ ›
  const ascii = (b) => b === undefined || b < 0x80;
  let score = 0;
  bytes.forEach((b, i) => {
    const before = bytes[i - 1];
    const after = bytes[i + 1];
    const alone = bytes.length === 1;
    if (unassigned.includes(b)) score -= 4;
    else if (accentedLetter(b)) score += asciiLetter(before) || asciiLetter(after) ? 2 : accentedLetter(before) || accentedLetter(after) || alone ? 1 : 0;
    else if ((b >= 0xa0 && b <= 0xbf) || signs.includes(b)) score += asciiLetter(before) && asciiLetter(after) ? 2 : ascii(before) && ascii(after) && !alone ? 1 : 0;
  });
  return score;
}

// The byte sequences that may each be one character of an encoding (ASCII aside, the same in all of
// them): every lead byte with every byte that may follow it, as the encoding's decoder reads them.
function sequencesOf(encoding) {
  const range = (from, to) => Array.from({ length: to - from + 1 }, (_, i) => from + i);
  const pairs = (leads, trails) => leads.flatMap((l) => trails.map((t) => [l, t]));
  const high = range(0xa1, 0xfe);
  switch (encoding) {
    case 'shift_jis':
      return [...range(0xa1, 0xdf).map((b) => [b]), ...pairs([...range(0x81, 0x9f), ...range(0xe0, 0xfc)], [...range(0x40, 0x7e), ...range(0x80, 0xfc)])];
    case 'euc-jp':
      return [...range(0xa1, 0xdf).map((b) => [0x8e, b]), ...pairs(high, high), ...pairs(high, high).map((p) => [0x8f, ...p])];
    case 'euc-kr':
      return pairs(range(0x81, 0xfe), range(0x41, 0xfe));
    case 'big5':
      return pairs(range(0x81, 0xfe), [...range(0x40, 0x7e), ...high]);
    case 'gb18030': {
      const two = pairs(range(0x81, 0xfe), [...range(0x40, 0x7e), ...range(0x80, 0xfe)]);
      const digits = range(0x30, 0x39);
      const four = pairs(range(0x81, 0x84), digits).flatMap((p) => pairs(range(0x81, 0xfe), digits).map((q) => [...p, ...q]));
      return [...two, ...four];
    }
    default:  // the encodings of one byte a character
      return range(0x80, 0xff).map((b) => [b]);
  }
}

// The table that writes characters in an encoding (character → its bytes), made the first time it is
// needed by decoding each of the encoding's byte sequences once (some 75,000 for GB18030, the most),
// all in one text with a line end after each: a line end is never part of a character in these
// encodings, and their decoders hand back a byte they could not use, so each line is one sequence's
// reading. A character two sequences read as keeps the first.
function writerFor(encoding) {
  let table = text.writers.get(encoding);
  if (table) return table;
  const sequences = sequencesOf(encoding);
  const all = new Uint8Array(sequences.reduce((n, s) => n + s.length + 1, 0));
  let at = 0;
  for (const s of sequences) {
    all.set(s, at);
    all[at + s.length] = 0x0a;
    at += s.length + 1;
  }
  const readings = new TextDecoder(encoding).decode(all).split('\n');
  table = new Map();
  if (readings.length === sequences.length + 1) {
    readings.forEach((reading, i) => {
      const one = reading.length === 1 || (reading.length === 2 && reading.codePointAt(0) > 0xffff);
      if (one && reading !== '\ufffd' && !table.has(reading)) table.set(reading, sequences[i]);
    });
  }
  text.writers.set(encoding, table);
  return table;
}

// GB18030's four bytes for a code point beyond U+FFFF: they follow the code points in order from
// 90 30 81 30, ten by 126 by ten.
function gb18030Beyond(codePoint) {
  let n = codePoint - 0x10000;
  const d = n % 10;
  n = Math.floor(n / 10);
  const c = n % 126;
  n = Math.floor(n / 126);
  return [0x90 + Math.floor(n / 10), 0x30 + (n % 10), 0x81 + c, 0x30 + d];
}

// Whether bytes written in the encoding in use may hold, within a character of several bytes, the
// bytes of ASCII letters (Shift_JIS, Big5, GB18030 and EUC-KR may): a search for such bytes takes them
// as they are, not ASCII letters in either case.
export function lettersWithinCharacters(bytes) {
  return ['shift_jis', 'big5', 'gb18030', 'euc-kr'].includes(textEncodingInUse()) && bytes.some((b) => b >= 0x80);
}

// Typed text written in the encoding in use, as the file would hold it; null when a character of it
// has no bytes in that encoding (the file can't hold it so).
export function encodeFileText(typed) {
  const encoding = textEncodingInUse();
  if (encoding === 'utf-8') return new TextEncoder().encode(typed);
  const table = writerFor(encoding);
  const out = [];
  for (const c of typed) {
    const code = c.codePointAt(0);
    if (code < 0x80) out.push(code);
    else if (table.has(c)) out.push(...table.get(c));
    else if (encoding === 'gb18030' && code > 0xffff) out.push(...gb18030Beyond(code));
    else return null;
  }
  return Uint8Array.from(out);
}
