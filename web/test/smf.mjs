// Builds Standard MIDI File bytes for the page's tests from readable pieces, as tests/support/smf_builder.h
// does for the native tests: status bytes in hex, data in decimal, chunk lengths filled in; and reads
// the events of such a file back, for tests to reckon what the page is to make of it.

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

// A variable-length quantity of bytes at `at`: [its value, the place after it].
function readVlq(bytes, at) {
  let value = 0;
  for (;;) {
    const b = bytes[at++];
    value = value * 128 + (b & 0x7f);
    if (b < 0x80) return [value, at];
  }
}

// The tracks of a well-formed file as the tests read it: per track its channel events { tick, bytes }
// (status written out, running status followed, the second data byte 0 for the kinds of one), its
// tempo events { tick, micro } and its end's tick.
export function readTracks(bytes) {
  const view = Buffer.from(bytes);
  const tracks = [];
  let at = 14;
  while (at < view.length) {
    const end = at + 8 + view.readUInt32BE(at + 4);
    at += 8;
    const t = { events: [], tempos: [], end: 0 };
    let tick = 0;
    let status = 0;
    while (at < end) {
      let delta;
      [delta, at] = readVlq(view, at);
      tick += delta;
      const first = view[at];
      if (first === 0xff || first === 0xf0 || first === 0xf7) {  // a meta event or system exclusive
        if (first === 0xff && view[at + 1] === 0x51) t.tempos.push({ tick, micro: view.readUIntBE(at + 3, 3) });
        let length;
        [length, at] = readVlq(view, at + (first === 0xff ? 2 : 1));
        at += length;
        continue;
      }
      if (first >= 0x80) status = view[at++];
      const size = (status & 0xf0) === 0xc0 || (status & 0xf0) === 0xd0 ? 1 : 2;
      t.events.push({ tick, bytes: [status, view[at], size === 2 ? view[at + 1] : 0] });
      at += size;
    }
    t.end = tick;
    tracks.push(t);
  }
  return tracks;
}
