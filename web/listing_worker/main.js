// The listing worker: it holds the listing module (the console program's listing code, compiled to
// WebAssembly; its factory createSmfdump comes first in the worker's text), lists the file the page
// hands it, and answers the page's questions about the listing and the roll. The listing itself is
// never kept: any part of it is made again from the resume point before it, so a listing of any size
// costs the memory of its MIDI file and its notes.
//
// Every address and unsigned 32-bit number the module returns reaches JavaScript as a signed number
// (the module's memory may reach 4 GiB): each is taken with `>>> 0`.
//
// The page's messages, taken one at a time in their order (each with an id, answered with the same id):
//   { type: 'canvas', canvas }                the roll's OffscreenCanvas, to draw on (no answer)
//   { type: 'names', bytes }                  the names file to list with (null: the built-in names)
//   { type: 'list', file, name }              lists the file: { type: 'listed', size, tracks, notes, ... }
//   { type: 'lines', anchor, before, after }  the lines around a dump offset: { type: 'lines', lines, ... }
//   { type: 'note', index, withOff }          a roll note's lines and facts: { type: 'note', on, off, ... }
//   { type: 'search', bytes, exact } or { text }  the listing searched for bytes (or text in UTF-8),
//                                             ASCII letters in either case unless exact:
//                                             { type: 'found', count, length, offsets }
//   { type: 'texts' }                         the file's texts: { type: 'texts', texts, trackNames, programNames }
//   { type: 'save' }                          the whole listing: { type: 'saved', blob, name }
//   { type: 'play data' }                     the compact copy of what is played: { type: 'play data', data }
//   { type: 'played', track, tick, tracks }   the line played at a place: { type: 'played', offset, position, seconds, length }
//   { type: 'positions', track, ticks }       places as the listing writes them, in the track's measures:
//                                             { type: 'positions', texts } ("measure:beat:tick" each)
//   { type: 'roll', view }, { type: 'hit', view, x, y }, { type: 'step', view, from, direction }
//                                             draws the roll, finds the note at a point, the next note
// and, while a long request goes on, { type: 'progress', id, task, share }. A request with nothing
// listed to answer from is answered { type: 'none', id }; one that failed { type: 'error', id,
// request, message } (with tooLarge and size for a file the module can't hold).
import { measureLines, nextNote, noteAt, paintRoll, palettes, takeCanvas } from './roll_draw.js';
import { noteFacts, noteName, notePositionText, positionText, prepareRoll, rollFromModule, trackOfNote } from './roll_lists.js';
import { largestInput } from '../shared/layouts.js';
import { playDataEvents, playDataEventBytes, readPlayData } from '../shared/play_data.js';
import { progressReporter } from '../shared/progress.js';
import { makeTempoMap, secondsAt, sequenceOf, unplayableTiming } from '../shared/tempo_map.js';

const STOP = { stop: true };  // thrown from a hand-over to end a listing made again early
const shownLineBytes = 4000;  // bytes of a line shown; a longer line is cut, with its length told
export let wasm = null;       // the listing module (the WebAssembly build), once it has started; null again after it failed
let lastListing = null;       // what the last full listing told: its size, tracks, notes and more
let namesBytes = null;        // the user's names file, or null for the built-in names: put in each module started
const jobs = [];              // the page's requests, taken one at a time in their order
let working = false;          // whether a request is being answered

// The hand-over hooks of the module, set for each listing.
let onPiece = () => {};
let onEventLine = () => {};
let onNote = () => {};

// An error of the module's memory: a request it could not make room for.
class NoRoom extends Error {}

// Starts the listing module, connects its hand-overs and puts the names in use in it.
async function startModule() {
  wasm = await createSmfdump();
  wasm.takeListingPiece = (at, n, offset, share) => onPiece(wasm.HEAPU8.subarray(at, at + n), offset, share);
  wasm.takeEventLine = (offset, total, track) => onEventLine(offset, total, track);
  wasm.takeNote = (status, note, velocity) => onNote(status, note, velocity);
  warmUp();
  useNames();
}

// Lists a made-up file once, so that the browser has compiled the listing's busiest code for speed
// before the user's first file comes (it compiles a function's fast form only once it has run a while;
// 2 MB takes some 30 to 80 ms and spares the first big listing more than that, where 256 KB was too
// little). The made-up file: two tracks, the second 2 MB of notes under running status, with now and
// then a controller, made in the module's memory.
const warmUpBytes = 2 << 20;
function warmUp() {
  const period = [];  // 600 notes: the patterns below repeat after as many
  for (let n = 0; n < 600; n += 1) {
    period.push(n % 3 === 0 ? 10 : 0, 60 + (n % 24), n % 2 ? 0 : 90);
    if (n % 50 === 0) period.push(0, 0xb0, 7, 100, 0, 0x90, 60, 64);
  }
  const repeats = Math.ceil(warmUpBytes / period.length);
  const length = 4 + repeats * period.length + 4;  // the first note's status, the notes, the track's end
  const head = [
    0x4d, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 1, 0, 2, 0x01, 0xe0,  // MThd, format 1, 2 tracks, 480 a quarter
    0x4d, 0x54, 0x72, 0x6b, 0, 0, 0, 4, 0, 0xff, 0x2f, 0,        // track 1: its end alone
    0x4d, 0x54, 0x72, 0x6b, length >>> 24, (length >>> 16) & 0xff, (length >>> 8) & 0xff, length & 0xff,
    0, 0x90, 60, 100];
  const size = head.length + length - 4;
  const at = wasm._web_input(size) >>> 0;
  if (at === 0) return;  // no room: no warm-up
  const bytes = wasm.HEAPU8.subarray(at, at + size);
  bytes.set(head);
  bytes.set(period, head.length);
  for (let done = 1; done < repeats; done *= 2) {  // the period doubled each time
    const from = head.length;
    const n = Math.min(done, repeats - done) * period.length;
    bytes.copyWithin(from + done * period.length, from, from + n);
  }
  bytes.set([0, 0xff, 0x2f, 0], size - 4);
  wasm._web_list();
  wasm._web_input(0);  // nothing of it kept
}

// Puts the names file in use into the module: the user's, or the built-in one.
function useNames() {
  if (namesBytes) putBytes((n) => wasm._web_names_file(n), namesBytes);
  else wasm._web_builtin_names();
}

// Copies bytes into the module where place(size) says; throws NoRoom when the module had no room.
function putBytes(place, bytes) {
  const at = place(bytes.length) >>> 0;
  if (at === 0) throw new NoRoom(`no room for ${bytes.length} bytes`);
  wasm.HEAPU8.set(bytes, at);
}

// Runs a listing made again from resume point `point` (-1: the start) with the watch level given,
// until a hand-over throws STOP; restores the module's stack when it does.
function listAgain(point, watch) {
  const stack = wasm.stackSave();
  try {
    wasm._web_list_again(point, watch);
    return true;
  } catch (e) {
    if (e !== STOP) throw e;
    wasm.stackRestore(stack);
    return false;
  } finally {
    onPiece = () => {};
    onEventLine = () => {};
    onNote = () => {};
  }
}

// Reads the dropped or picked file into the module, 16 MB at a time, four pieces asked of the browser
// at once (it reads them side by side, faster than one after another; no more are held at a time);
// throws NoRoom when the module can't hold it.
async function readFile(file) {
  const at = file.size <= largestInput ? wasm._web_input(file.size) >>> 0 : 0;
  if (at === 0) throw new NoRoom(`no room for a file of ${file.size} bytes`);
  const step = 16 << 20;
  const inFlight = 4;
  let next = 0;  // where the next piece to ask for starts
  const readOn = async () => {
    while (next < file.size) {
      const pos = next;
      next = Math.min(file.size, pos + step);
      const piece = new Uint8Array(await file.slice(pos, next).arrayBuffer());
      wasm.HEAPU8.set(piece, at + pos);
    }
  };
  await Promise.all(Array.from({ length: inFlight }, readOn));
}

// Lists the file in full (the roll's notes and the resume points are gathered on the way) and tells
// the page what it needs: the size, the tracks, the roll's extent and whether this is a MIDI file.
async function listInput(id, file, name) {
  const started = performance.now();
  lastListing = null;  // the module forgets the last file as this one goes in
  await readFile(file);
  const read = performance.now();
  putBytes((n) => wasm._web_name(n), new TextEncoder().encode(name));
  const report = progressReporter(postMessage, id, 'listing');
  onPiece = (piece, offset, share) => report(share);
  const size = wasm._web_list();
  onPiece = () => {};
  const done = performance.now();
  lastListing = { size, name, ...rollFromModule() };
  prepareRoll(lastListing);
  const times = { read: read - started, list: done - read, roll: performance.now() - done };
  postMessage({
    type: 'listed',
    id,
    name,
    size,
    startsLikeMidi: wasm._web_starts_like_midi() !== 0,
    format: wasm._web_format() >>> 0,
    division: wasm._web_division() >>> 0,
    tracks: lastListing.tracks.map((t) => ({ index: t.index, number: t.number, notes: t.count, colour: t.colour })),
    notes: lastListing.noteCount,
    maxTick: lastListing.maxTick,
    keyLow: lastListing.keyLow,
    keyHigh: lastListing.keyHigh,
    cutShort: wasm._web_roll_cut_short() !== 0,
    palettes,
    ms: performance.now() - started,
    times,
  });
}

// Splits the listing made again into lines: those before the line that holds `anchor` (the last
// `before` of them) and from it on (`after` of them), each with its offset, its text (cut at
// shownLineBytes) and its length. Returns whether the listing's end was reached.
function collectLines(point, anchor, before, after, watch, onEvents) {
  const start = wasm._web_resume_point_offset(point);
  const earlier = [];
  const later = [];
  let lineStart = point < 0 ? 0 : -1;  // a resume point is not always a line's start: skip to the next
  let kept = [];
  let keptBytes = 0;
  let length = 0;
  const finish = () => {
    const bytes = new Uint8Array(keptBytes);
    let at = 0;
    for (const part of kept) {
      bytes.set(part, at);
      at += part.length;
    }
    const line = { offset: lineStart, length, bytes };
    if (lineStart + length < anchor) {
      earlier.push(line);
      if (earlier.length > before) earlier.shift();
    } else {
      later.push(line);
    }
    kept = [];
    keptBytes = 0;
    length = 0;
  };
  onPiece = (piece, offset) => {
    let i = 0;
    while (i < piece.length) {
      let end = piece.indexOf(10, i);
      const complete = end >= 0;
      if (!complete) end = piece.length;
      if (lineStart >= 0) {
        const room = shownLineBytes - keptBytes;
        if (room > 0) {
          const part = piece.slice(i, Math.min(end, i + room));
          kept.push(part);
          keptBytes += part.length;
        }
        length += end - i;
      }
      if (!complete) break;
      if (lineStart >= 0) finish();
      lineStart = offset + end + 1;
      i = end + 1;
      if (later.length >= after) throw STOP;
    }
  };
  if (onEvents) onEvents();
  const ended = listAgain(point, watch);
  if (ended && lineStart >= 0 && length > 0) finish();  // a last line without a line end
  return { start, lines: [...earlier, ...later], ended };
}

// Where ASCII text `word` stands in bytes (from `from` on), or -1.
function indexOfText(bytes, word, from = 0) {
  const codes = [...word].map((c) => c.charCodeAt(0));
  for (let at = bytes.indexOf(codes[0], from); at >= 0 && at + codes.length <= bytes.length; at = bytes.indexOf(codes[0], at + 1)) {
    if (codes.every((c, i) => bytes[at + i] === c)) return at;
  }
  return -1;
}

// The part of a listing line's bytes that is text of the file, as the listing writes it between
// slashes: a meta event's text, or (`name` true) a program's name from the names file. Returns
// { start, end, name } or null. Bytes beyond ASCII stand only there, or in the file's own name on the
// listing's first and last lines. An event's line holds its text from its first slash to its last;
// a text with a line end in it goes on in lines of no event, up to their last slash (the slash itself
// is never part of a character in the encodings the page reads, so a text's last byte can't take it).
function textField(bytes, ownEvent) {
  const first = bytes.indexOf(0x2f);
  const last = bytes.lastIndexOf(0x2f);
  if (ownEvent) {
    if (first < 0) return null;
    const pc = indexOfText(bytes, ' pc: ');
    return { start: first + 1, end: last > first ? last : bytes.length, name: pc >= 0 && pc < first };
  }
  if (first < 0 && (indexOfText(bytes, 'dump of ') === 0 || indexOfText(bytes, 'end of ') === 0)) return null;
  return { start: 0, end: last >= 0 ? last : bytes.length, name: false };
}

// The lines around dump offset `anchor`: up to `before` lines before the one that holds it and
// `after` from it on, each with the event it belongs to (its track and running total), if any.
function linesAround(id, anchor, before, after) {
  anchor = Math.max(0, Math.min(anchor, lastListing.size - 1));
  let point = wasm._web_resume_point_before(Math.max(0, anchor - 1));
  // far enough back for `before` lines of up to 200 bytes, and before the anchor's own line
  while (point >= 0 && anchor - wasm._web_resume_point_offset(point) < 200 * before + 1) point -= 1;
  const events = [];
  const watchEvents = () => {
    onEventLine = (offset, total, track) => events.push({ offset, total, track });
  };
  const { lines, ended } = collectLines(point, anchor, before, after, 1, watchEvents);
  const decoder = new TextDecoder();
  const byOffset = new Map(events.map((e, i) => [e.offset, i]));
  let next = 0;  // the first event at or after the line in hand
  const result = lines.map((line) => {
    while (next < events.length && events[next].offset < line.offset) next += 1;
    const at = byOffset.get(line.offset);
    const own = at !== undefined ? events[at] : null;
    // a line of no event of its own has the moment of the event it belongs to: the next one when that
    // begins a track (the track's heading lines), else the one before it (more lines of one event)
    let moment = own;
    if (!moment) {
      const previous = next > 0 ? events[next - 1] : null;
      const following = next < events.length ? events[next] : null;
      moment = !previous || (following && following.track !== previous.track) ? following : previous;
    }
    const ascii = line.bytes.every((b) => b < 0x80);
    return {
      offset: line.offset,
      length: line.length,
      text: decoder.decode(line.bytes) + (line.length > line.bytes.length ? ` … (${line.length} bytes in all)` : ''),
      // the bytes of a line that is not all ASCII, where a byte's offset is not its character's, and
      // where in them the file's text is, for the page to read in the file's encoding
      bytes: ascii ? null : line.bytes,
      field: ascii ? null : textField(line.bytes, own !== null),
      event: own !== null,
      track: moment ? moment.track : null,
      total: moment ? moment.total : null,
    };
  });
  const anchorIndex = result.findIndex((line) => line.offset + line.length >= anchor);
  postMessage({
    type: 'lines',
    id,
    anchor,
    lines: result,
    anchorIndex: Math.max(0, anchorIndex),
    atStart: result.length > 0 && result[0].offset === 0,
    atEnd: ended,
  });
}

// Finds the note on line of roll note `index` and, when `withOff`, the note off line that ended it,
// by listing again from the resume point before it.
function noteLines(index, withOff) {
  const trackIndex = trackOfNote(lastListing, index);
  const track = lastListing.tracks[trackIndex];
  const point = wasm._web_resume_point_for_note(index, trackIndex);
  let counted = wasm._web_notes_before(point) >>> 0;
  let line = null;
  let on = null;
  let off = null;
  onEventLine = (offset, total, number) => {
    line = { offset, total, track: number };
    if (on && number !== on.track) throw STOP;  // the track ended the note
  };
  onNote = (status, note, velocity) => {
    if ((status & 0xf0) === 0x90 && velocity !== 0) {
      if (counted === index) {
        on = { ...line, channel: status & 0x0f, note, velocity };
        if (!withOff) throw STOP;
      }
      counted += 1;
    } else if (on && line.track === on.track && (status & 0x0f) === on.channel && note === on.note && line.offset !== on.offset) {
      off = { ...line };
      throw STOP;
    }
  };
  listAgain(point, 2);
  return { on, off, track };
}

// Tells the page where the note on and note off lines of a roll note are, and how to describe it.
function describeNote(id, index, withOff) {
  if (index < 0 || index >= lastListing.noteCount) {
    postMessage({ type: 'none', id });  // no such note
    return;
  }
  const { on, off, track } = noteLines(index, withOff);
  const note = noteFacts(lastListing, index);
  postMessage({
    type: 'note',
    id,
    index,
    on: on ? on.offset : null,
    off: off ? off.offset : null,
    start: note.start,
    end: note.end,
    key: note.key,
    channel: note.channel + 1,
    velocity: on ? on.velocity : null,
    track: track.number,
    trackIndex: track.index,
    name: noteName(note.key),
    from: notePositionText(index, false),
    to: notePositionText(index, true),
  });
}

// Searches the whole listing for bytes (the page writes what was typed in the file's encoding), ASCII
// letters in either case unless `exact`, and tells the page how many matches there are and where the
// first million are.
function search(id, bytes, exact) {
  wasm._web_search_ignore_case(exact ? 0 : 1);
  const at = wasm._malloc(bytes.length + 1) >>> 0;
  if (at === 0) throw new NoRoom(`no room for ${bytes.length} bytes to look for`);
  wasm.HEAPU8.set(bytes, at);
  const report = progressReporter(postMessage, id, 'finding');
  onPiece = (piece, offset, share) => report(share);
  const count = wasm._web_search(at, bytes.length);
  onPiece = () => {};
  wasm._free(at);
  const kept = wasm._web_found_kept() >>> 0;
  const first = (wasm._web_found_offsets() >>> 0) / 8;
  const offsets = wasm.HEAPF64.slice(first, first + kept);
  postMessage({ type: 'found', id, count, length: bytes.length, offsets }, [offsets.buffer]);
}

// Makes the whole listing again, in pieces, and hands it to the page as one file to save.
function save(id) {
  const parts = [];
  const report = progressReporter(postMessage, id, 'saving');
  onPiece = (piece, offset, share) => {
    parts.push(piece.slice());
    report(share);
  };
  listAgain(-1, 0);
  const blob = new Blob(parts, { type: 'text/plain' });
  postMessage({ type: 'saved', id, blob, name: lastListing.name });
}

// Keeps what the time at a place needs of the compact copy `data` (see playedLine): its format and
// division, each track's last tick and the tempo events, copied out of it.
function keepTempoMap(data) {
  const { head, lists } = readPlayData(data.buffer);
  lastListing.timing = {
    format: head.format,
    division: head.division,
    lastTicks: lists.track_last_ticks.slice(),
    tempos: { ticks: lists.tempo_ticks.slice(), values: lists.tempo_values.slice(), tracks: lists.tempo_tracks.slice() },
    unplayable: unplayableTiming(head.format, head.division),
    tracks: null,  // the tracks of the map made last, joined
    map: null,
  };
}

// The compact copy of what is played, made once for each full listing (when the page first asks for
// the file's texts or for the copy): all it was made from is let go in the module then, and only its
// tempo map (keepTempoMap) and the file's texts (gatherTexts) are kept out of it. Held here until the
// page takes it.
function playCopy() {
  if (lastListing.texts) {
    if (!lastListing.copy) throw new Error('the events to play were handed over already');
    return lastListing.copy;
  }
  const at = (wasm._web_play_data() >>> 0) / 4;
  lastListing.copy = wasm.HEAPU32.slice(at, at + (wasm._web_play_data_words() >>> 0));
  wasm._web_play_data_release();
  keepTempoMap(lastListing.copy);
  lastListing.texts = gatherTexts(lastListing.copy);
  return lastListing.copy;
}

// Hands the page the compact copy of what is played, once for each full listing: transferred.
function handOverPlayData(id) {
  const data = playCopy();
  lastListing.copy = null;
  postMessage({ type: 'play data', id, data: data.buffer }, [data.buffer]);
}

// Tells the page the file's texts (see gatherTexts), from the compact copy made for them or earlier.
function fileTexts(id) {
  if (!lastListing.texts) playCopy();
  postMessage({ type: 'texts', id, ...lastListing.texts });
}

const textsKept = 4096;           // texts beyond ASCII handed to the page to tell their encoding by, at most
const textBytesKept = 64 << 10;   // and bytes of them
const nameBytesKept = 256;        // bytes of a track's name handed to the page

// The file's texts, from the compact copy's data events (meta events of types 1 to 15): those with
// bytes beyond ASCII (the first 4096 of them, or 64 KB: the page tells their encoding from them, on
// its own thread, where more would hold it up), each track's
// name (its first track name event; null for none), and the name of each track's first program (its
// first program change; null for none) as the names file in use gives it; all as bytes.
function gatherTexts(copy) {
  const { head, lists } = readPlayData(copy.buffer);
  const events = playDataEvents({ head, lists });
  const texts = [];
  let kept = 0;
  const trackNames = new Array(head.tracks).fill(null);
  for (let i = 0; i < events.kinds.length; i += 1) {
    const kind = events.kinds[i];
    if (kind < 1 || kind > 15) continue;  // system exclusive
    const bytes = playDataEventBytes(events, i);
    const track = events.tracks[i];
    if (kind === 3 && track < head.tracks && trackNames[track] === null) trackNames[track] = bytes.slice(0, nameBytesKept);
    if (kept < textBytesKept && texts.length < textsKept && bytes.some((b) => b >= 0x80)) {
      texts.push(bytes.slice(0, textBytesKept - kept));
      kept += texts[texts.length - 1].length;
    }
  }
  const programNames = new Array(head.tracks).fill(null);
  const controls = lists.control_bytes;
  for (let t = 0; t < head.tracks; t += 1) {
    const end = Math.min(lists.track_first_controls[t + 1], controls.length);
    for (let c = lists.track_first_controls[t]; c < end; c += 1) {
      if ((controls[c] & 0xf0) !== 0xc0) continue;
      programNames[t] = programName((controls[c] >>> 8) & 0x7f);
      break;
    }
  }
  return { texts, trackNames, programNames };
}

// The name of program p (0-127) in the names file in use, as bytes; null when it has none.
function programName(p) {
  const at = wasm._web_program_name(p) >>> 0;
  let end = at;
  while (end < at + 64 && wasm.HEAPU8[end] !== 0) end += 1;
  return end > at ? wasm.HEAPU8.slice(at, end) : null;
}

// Tells the page, for the place playing (tick, in the track at trackIndex), the listing's position
// text there and the offset of the track's event line played last (its total at tick or less; null
// before the track's first line), and the time there and in all, as written, of the tracks played
// (when the tempo map is known). The line is found by listing again from a resume point before it.
function playedLine(id, trackIndex, tick, tracks) {
  let seconds = null;
  let length = null;
  const timing = lastListing.timing;
  if (timing && !timing.unplayable) {
    const sequence = sequenceOf(tracks, timing.lastTicks);
    if (timing.tracks !== tracks.join()) timing.map = makeTempoMap(timing.format, timing.division, timing.tempos, sequence.tracks);
    timing.tracks = tracks.join();
    seconds = secondsAt(timing.map, tick);
    length = secondsAt(timing.map, sequence.endTick);
  }
  const track = lastListing.tracks[trackIndex];
  let point = wasm._web_resume_point_for_tick(trackIndex, Math.min(tick, 0xffffffff) >>> 0);
  if (point >= 0) point -= 1;  // the line played may be the last before that point
  let played = null;
  onEventLine = (offset, total, number) => {
    if (number !== track.number) {
      if (played !== null || number > track.number) throw STOP;  // past the track
      return;
    }
    if (total > tick) throw STOP;
    played = offset;
  };
  listAgain(point, 1);
  postMessage({ type: 'played', id, offset: played, position: positionText(lastListing, trackIndex, Math.floor(tick)), seconds, length });
}

// True when an error came from the module itself (it aborted, or trapped): its state can't be trusted.
function moduleFailed(e) {
  return Boolean(e) && (e.name === 'RuntimeError' || /^Aborted\(/.test(String(e.message)));
}

// Tells the page that a request failed. A list request the module could not make room for is answered
// as too large (with the file's size in bytes), in plain words: the runtime's own message is no
// use to the reader.
function tellFailure(message, e) {
  const { type, id } = message;
  const noRoom = e instanceof NoRoom || (moduleFailed(e) && /OOM|enlarge memory|out of memory/i.test(String(e.message)));
  if (type === 'list' && noRoom) {
    const size = message.file.size;
    postMessage({ type: 'error', id, request: type, tooLarge: true, size, message: `the file (${size} bytes) is too large to list here` });
    return;
  }
  postMessage({ type: 'error', id, request: type, message: String(e && e.message ? e.message : e) });
}

// Answers one request of the page. A module that failed is not used again: the next request starts
// a new one (the names in use put in it again), with nothing listed.
async function answer(message) {
  const { type, id } = message;
  if (!lastListing && ['lines', 'note', 'search', 'save', 'roll', 'hit', 'step', 'play data', 'texts', 'played', 'positions'].includes(type)) {
    postMessage({ type: 'none', id });  // nothing is listed to answer from
    return;
  }
  try {
    if (!wasm) await startModule();
    if (type === 'names') {
      namesBytes = message.bytes || null;
      try {
        useNames();
      } catch (e) {
        namesBytes = null;  // the module went back to the built-in names
        throw e;
      }
    } else if (type === 'list') {
      await listInput(id, message.file, message.name);
    } else if (type === 'lines') {
      linesAround(id, message.anchor, message.before, message.after);
    } else if (type === 'note') {
      describeNote(id, message.index, message.withOff);
    } else if (type === 'search') {
      search(id, message.bytes || new TextEncoder().encode(message.text), Boolean(message.exact));
    } else if (type === 'save') {
      save(id);
    } else if (type === 'play data') {
      handOverPlayData(id);
    } else if (type === 'texts') {
      fileTexts(id);
    } else if (type === 'played') {
      playedLine(id, message.track, message.tick, message.tracks);
    } else if (type === 'positions') {
      postMessage({ type: 'positions', id, texts: message.ticks.map((tick) => positionText(lastListing, message.track, Math.floor(tick))) });
    } else if (type === 'canvas') {
      takeCanvas(message.canvas);
    } else if (type === 'roll') {
      if (lastListing) postMessage({ type: 'roll', id, ...paintRoll(lastListing, message.view) });
    } else if (type === 'hit') {
      if (lastListing) postMessage({ type: 'hit', id, index: noteAt(lastListing, message.view, message.x, message.y) });
    } else if (type === 'step') {
      if (lastListing) postMessage({ type: 'step', id, index: nextNote(lastListing, message.view, message.from, message.direction) });
    }
  } catch (e) {
    if (moduleFailed(e)) {
      wasm = null;
      lastListing = null;
    }
    if (e instanceof NoRoom && type === 'list') lastListing = null;  // the module forgot the last file
    tellFailure(message, e);
  }
}

// Takes the page's requests one after another, in the order they came.
async function work() {
  if (working) return;
  working = true;
  while (jobs.length > 0) await answer(jobs.shift());
  working = false;
}

self.onmessage = (event) => {
  jobs.push(event.data);
  work();
};

// For tests under Node: the measure lines the roll draws in view, for the file listed.
export function measuredLines(view) {
  return lastListing ? measureLines(lastListing, view) : [];
}
