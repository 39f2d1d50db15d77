// Reads the compact copy of what is played (an ArrayBuffer of 32-bit words, made by the listing's own
// pass in the module: its layout is in layouts.js): the head's counts and a view of each list, taken in
// place. The sequencer plays from these views; the listing worker keeps the tempo map's part.
import { playHead, playLists } from './layouts.js';

// The copy's head (by the names in layouts.js: format, division, tracks, ...) and its lists, each a
// Uint32Array over the buffer named as in layouts.js (track_first_events, event_bytes, ...).
export function readPlayData(buffer) {
  const words = new Uint32Array(buffer);
  const head = {};
  playHead.forEach((name, i) => { head[name] = words[i]; });
  const lists = {};
  let at = playHead.length;
  for (const [name, count] of playLists) {
    const n = count === 'tracks+1' ? head.tracks + 1 : head[count];
    lists[name] = words.subarray(at, at + n);
    at += n;
  }
  return { head, lists };
}

// The data events of a copy (its buffer, or what readPlayData made of it: system exclusive and text
// events, in listing order):
// their ticks, tracks, kinds (0xf0 or 0xf7, or the meta event's type), and offsets and lengths into
// `bytes`, a byte view of the copy's byte area.
export function playDataEvents(copy) {
  const { lists } = copy instanceof ArrayBuffer ? readPlayData(copy) : copy;
  const area = lists.data_event_bytes;
  return {
    ticks: lists.data_event_ticks, tracks: lists.data_event_tracks, kinds: lists.data_event_kinds,
    offsets: lists.data_event_offsets, lengths: lists.data_event_lengths,
    bytes: new Uint8Array(area.buffer, area.byteOffset, area.byteLength),
  };
}

// The bytes of data event i of playDataEvents' `events`, a view in place.
export function playDataEventBytes(events, i) {
  return events.bytes.subarray(events.offsets[i], events.offsets[i] + events.lengths[i]);
}
