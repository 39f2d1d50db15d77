// Builds Standard MIDI File bytes for the page's tests from readable pieces, as tests/support/smf_builder.h
// does for the native tests: status bytes in hex, data in decimal, chunk lengths filled in.

// v as a variable-length quantity: 7 bits a byte, most significant first, bit 7 set on all but the last.
export function vlq(v) {
  const out = [v & 0x7f];
  for (v = Math.floor(v / 128); v > 0; v = Math.floor(v / 128)) out.unshift(0x80 | (v & 0x7f));
  return out;
}

// v as `width` big-endian bytes.
export function be(v, width) {
  const out = [];
  for (let shift = 8 * (width - 1); shift >= 0; shift -= 8) out.push(Math.floor(v / 2 ** shift) & 0xff);
  return out;
}

// One event: its delta time, then its bytes.
export function event(delta, bytes) {
  return [...vlq(delta), ...bytes];
}

// A tempo meta event: microseconds per quarter note.
export function tempo(delta, microseconds) {
  return event(delta, [0xff, 0x51, 3, ...be(microseconds, 3)]);
}

// The end-of-track meta event.
export function endOfTrack(delta = 0) {
  return event(delta, [0xff, 0x2f, 0]);
}

// A header chunk of the standard six bytes.
export function header(format, tracks, division) {
  return [...Buffer.from('MThd'), ...be(6, 4), ...be(format, 2), ...be(tracks, 2), ...be(division, 2)];
}

// A track chunk whose length is that of its events (a list of events, each a list of bytes).
export function track(events) {
  const body = events.flat();
  return [...Buffer.from('MTrk'), ...be(body.length, 4), ...body];
}

// A whole file: its header, then its tracks.
export function file(format, division, tracks) {
  return Uint8Array.from([...header(format, tracks.length, division), ...tracks.flatMap((t) => track(t))]);
}
