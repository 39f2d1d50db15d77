// The roll's notes as the listing gathered them in the module: the lists read in place from the
// module's memory (their layout in shared/layouts.js), and what the page asks of a note or a place:
// its track, facts, name and the measure:beat:tick the listing writes for it.
import { wasm } from './main.js';
import { finishOverview, palettes } from './roll_draw.js';
import { gatheredLists, noteKeyChannelMask, noteKeyValueMask, noteKeyWord, position, rollBounds, signature } from '../shared/layouts.js';


// The gathered lists, read in place from the module's memory by the names layouts.js gives them; made
// anew when the memory has grown. (Addresses and counts are read from HEAPU32, so unsigned.)
export function views(listed) {
  const heap = wasm.HEAPU8.buffer;
  if (listed.views && listed.views.heap === heap) return listed.views;
  const pairs = (wasm._web_gathered() >>> 0) / 4;
  const u32 = wasm.HEAPU32;
  listed.views = { heap };
  gatheredLists.forEach(([, name, Type], i) => {
    listed.views[name] = new Type(heap, u32[pairs + 2 * i], u32[pairs + 2 * i + 1]);
  });
  return listed.views;
}

// What the roll needs of the last full listing: its tracks with their notes and colours, the extent in
// time and in note values.
export function rollFromModule() {
  const listed = {};
  const v = views(listed);
  const noteCount = v.starts.length;
  const tracks = [];
  for (let i = 0; i < v.trackNumbers.length; i += 1) {
    const first = v.trackFirstNotes[i];
    const end = i + 1 < v.trackNumbers.length ? v.trackFirstNotes[i + 1] : noteCount;
    tracks.push({ index: i, number: v.trackNumbers[i], first, count: end - first, colour: i % palettes.light.length });
  }
  let keyLow = wasm._web_roll_note_range(1);
  let keyHigh = wasm._web_roll_note_range(0);
  if (keyHigh < keyLow) {
    keyLow = 48;
    keyHigh = 83;
  }
  // at least two octaves, and a little room above and below
  keyLow = Math.max(-1, keyLow - 2);
  keyHigh = Math.min(255, keyHigh + 2);
  while (keyHigh - keyLow < 23) {
    if (keyLow > -1) keyLow -= 1;
    if (keyHigh < 255 && keyHigh - keyLow < 23) keyHigh += 1;
  }
  const maxTick = Math.max(1, wasm._web_roll_last_end() >>> 0);
  return { views: listed.views, noteCount, tracks, maxTick, keyLow, keyHigh };
}

// Readies the roll: each track's blocks and whether its notes start in order (not when a running total
// wrapped: such a track is searched whole), and the overview the listing gathered, when there are notes
// enough to need it.
export function prepareRoll(listed) {
  const v = views(listed);
  for (const track of listed.tracks) {
    track.firstBlock = v.trackFirstBlocks[track.index];
    track.ordered = v.inOrder[track.index] === 1;
  }
  listed.overview = listed.noteCount > rollBounds.overview_from_notes ? gatheredOverview(listed) : null;
}

// The overview as the listing gathered it, for all tracks: its finest level copied from the module's
// rows, and the coarser levels made from it.
function gatheredOverview(listed) {
  const v = views(listed);
  const shift = wasm._web_overview_shift() >>> 0;
  const rows = listed.keyHigh - listed.keyLow + 1;
  const bins = (listed.maxTick >>> shift) + 1;
  const cells = new Uint16Array(rows * bins);
  for (let key = listed.keyLow; key <= listed.keyHigh; key += 1) {
    const at = wasm._web_overview_row(key + 1) >>> 0;
    if (at !== 0) cells.set(new Uint16Array(wasm.HEAPU8.buffer, at, bins), (listed.keyHigh - key) * bins);
  }
  const byTrack = new Map();
  for (const i of v.longNotes) {
    const track = listed.tracks[trackOfNote(listed, i)];
    if (!byTrack.has(track)) byTrack.set(track, []);
    byTrack.get(track).push(i);
  }
  const long = [...byTrack].sort(([a], [b]) => a.index - b.index).map(([track, notes]) => ({ track, notes: Uint32Array.from(notes) }));
  return finishOverview({ shift, bins, rows, cells, long }, '');
}

// The index of the track that holds note i.
export function trackOfNote(listed, i) {
  let low = 0;
  let high = listed.tracks.length - 1;
  while (low < high) {
    const mid = (low + high + 1) >> 1;
    if (listed.tracks[mid].first <= i) low = mid;
    else high = mid - 1;
  }
  return low;
}

// Note i's start, end, value and channel.
export function noteFacts(listed, i) {
  const v = views(listed);
  const word = v.keys[i];
  return { start: v.starts[i], end: v.ends[i], key: (word & noteKeyValueMask) - 1, channel: (word >> noteKeyWord.channel_shift) & noteKeyChannelMask };
}

// A note value's name as the listing writes it, with its octave: "G5" for 67 ("?" for a missing one).
export function noteName(key) {
  if (key < 0) return '?';
  return `${wasm.UTF8ToString(wasm._web_note_name(key) >>> 0)}${Math.floor(key / 12)}`;
}

// The measure, beat and tick the listing shows for tick, reckoned with reckoning r.
export function positionIn(listed, r, tick) {
  const s = views(listed).reckoningSignatures;
  const f = signature.fields * r;
  const at = (wasm._web_position(tick >>> 0, s[f + signature.numerator], s[f + signature.denominator], s[f + signature.seen]) >>> 0) / 4;
  const u32 = wasm.HEAPU32;
  return { measure: u32[at + position.measure], beat: u32[at + position.beat], tick: u32[at + position.tick] };
}

// The reckoning the grid of a track follows at tick: its last that begins at or before tick (or its
// first, before any), as the measure lines follow it.
function reckoningAt(listed, trackIndex, tick) {
  const v = views(listed);
  let found = -1;
  for (let r = 0; r < v.reckoningTracks.length; r += 1) {
    if (v.reckoningTracks[r] !== trackIndex) continue;
    if (found < 0 || v.reckoningTotals[r] <= tick) found = r;
  }
  return found;
}

// "measure:beat:tick" of a tick of the grid of the track at trackIndex (not of an event: an event's
// line may be reckoned otherwise where a time signature comes at its tick; see notePositionText).
export function positionText(listed, trackIndex, tick) {
  const r = reckoningAt(listed, trackIndex, tick);
  if (r < 0) return '';
  const p = positionIn(listed, r, tick);
  return `${p.measure}:${p.beat}:${p.tick}`;
}

// "measure:beat:tick" as the listing line of note i's note on (atEnd false) or of what ended it shows
// it: reckoned with the time signature the listing used on that very line, even where a new one comes
// into force at the same tick later in the track.
export function notePositionText(i, atEnd) {
  const at = (wasm._web_note_position(i, atEnd ? 1 : 0) >>> 0) / 4;
  if (at === 0) return '?';  // not a note of the roll
  const u32 = wasm.HEAPU32;
  return `${u32[at + position.measure]}:${u32[at + position.beat]}:${u32[at + position.tick]}`;
}
