// Where the piano roll puts things, the same for the page (which turns pointer positions into times and
// notes) and for the worker (which draws). A view is { t0, t1 } in ticks across, { keyLow, keyHigh } in
// note values up, drawn on a canvas of width by height device pixels whose top `band` pixels hold the
// measure numbers.

// The height of one note row, in device pixels.
export function rollRowHeight(view) {
  return (view.height - view.band) / (view.keyHigh - view.keyLow + 1);
}

// The x of a tick.
export function rollX(view, tick) {
  return ((tick - view.t0) / (view.t1 - view.t0)) * view.width;
}

// The tick at an x.
export function rollTick(view, x) {
  return view.t0 + (x / view.width) * (view.t1 - view.t0);
}

// The top of a note value's row.
export function rollY(view, key) {
  return view.band + (view.keyHigh - key) * rollRowHeight(view);
}

// The note value whose row holds y; may fall outside keyLow..keyHigh.
export function rollKey(view, y) {
  return view.keyHigh - Math.floor((y - view.band) / rollRowHeight(view));
}
