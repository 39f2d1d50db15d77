// The piano roll, drawn in the worker: the notes the listing gathered (roll_lists.js), as bars on the
// page's canvas.
// Few notes in view are drawn one by one; when a pixel holds more than one bin of the finest overview,
// the overview (a pyramid of bins by note value, each holding the topmost track that sounds in it) is
// drawn instead, so that a full window of millions of notes costs no more than a few notes.
import { noteFacts, noteName, positionIn, positionText, views } from './roll_lists.js';
import { noteKeyValueMask, rollBounds } from '../shared/layouts.js';
import { rollKey, rollRowHeight, rollTick, rollX, rollY } from '../shared/roll_geometry.js';

export const palettes = {
  // sixteen, so that a file with a track for each channel has a colour for each track
  light: ['#1f77b4', '#d95f02', '#2ca02c', '#d62728', '#7b4fb0', '#8c564b', '#d4449a', '#5f6b6d', '#9a9a00', '#0f9db5',
    '#e6a100', '#1b3f8f', '#66a61e', '#a50f15', '#00876c', '#f781bf'],
  dark: ['#5aa9e6', '#ff9f43', '#5fd35f', '#ff6b6b', '#b48cf2', '#c99a85', '#ff8ad0', '#b6c2c4', '#d8d84a', '#4fd6ea',
    '#ffcf4a', '#7fa0ff', '#a6e22e', '#e8575a', '#3ddc97', '#f2b8e6'],
};

let canvas = null;       // the page's canvas, handed over to the worker
let canvasContext = null;  // its 2D context, taken once: Firefox gives a handed-over canvas's context once only
let notesCanvas = null;  // the notes alone, drawn pixel by pixel, then laid over the grid
let pixels = null;       // the pixels of notesCanvas

// Takes the canvas the page handed over.
export function takeCanvas(offscreen) {
  canvas = offscreen;
  canvasContext = offscreen.getContext('2d');
}

// The measure lines in view for the track whose reckoning the grid follows: the tick where each shown
// measure starts and its number, at most about one every 48 pixels. Each reckoning rules from the
// first line listed under it; where a new one comes into force at a tick, the measure starting there
// is numbered as the new reckoning's lines show it, or else as the latest line listed at that tick
// under an earlier reckoning (the one that changed the time signature, say) shows it.
export function measureLines(listed, view) {
  const v = views(listed);
  const track = view.gridTrack;
  const segments = [];
  for (let r = 0; r < v.reckoningTracks.length; r += 1) {
    if (v.reckoningTracks[r] === track) segments.push(r);
  }
  if (segments.length === 0) return [];
  const measure = (r, tick) => positionIn(listed, r, tick).measure;
  const startsMeasure = (r, tick) => {
    const p = positionIn(listed, r, tick);
    return p.beat === 0 && p.tick === 0;
  };
  const lines = [];
  const span = view.t1 - view.t0;
  const most = Math.max(2, Math.floor(view.width / (48 * view.scale)));
  for (let k = 0; k < segments.length; k += 1) {
    const r = segments[k];
    const from = k === 0 ? 0 : v.reckoningTotals[r];
    const to = k + 1 < segments.length ? v.reckoningTotals[segments[k + 1]] : 0x100000000;
    const low = Math.max(from, Math.floor(view.t0));
    const high = Math.min(to, Math.ceil(view.t1) + 1);
    if (low >= high) continue;  // none of it in view, or its totals wrapped past 2^32
    const first = measure(r, low);
    const last = measure(r, high - 1);
    // a round step between the measures shown, so that they are never crowded
    const share = (high - low) / span;
    let step = 1;
    const steps = [1, 2, 5];
    for (let e = 1; (last - first) / step > most * share + 1; e *= 10) {
      for (const m of steps) {
        step = m * e;
        if ((last - first) / step <= most * share + 1) break;
      }
    }
    let m = Math.ceil(first / step) * step;
    if (m === first && low !== 0) {
      if (low !== from) {
        if (measure(r, low - 1) >= first) m += step;  // measure `first` began before the view
      } else if (!startsMeasure(r, low)) {
        m += step;  // measure `first` began before this reckoning did
        // the latest line at this tick that starts a measure, under an earlier reckoning
        for (let j = k - 1; j >= 0 && v.reckoningTotalsBefore[segments[j + 1]] === low; j -= 1) {
          if (startsMeasure(segments[j], low)) {
            lines.push({ tick: low, number: measure(segments[j], low) });
            break;
          }
        }
      }
    }
    for (; m <= last; m += step) {
      // the first tick of measure m: the least tick in view whose measure is m or more
      let a = low;
      let b = high - 1;
      if (measure(r, a) >= m) {
        lines.push({ tick: a, number: m });
        continue;
      }
      while (a + 1 < b) {
        const mid = Math.floor((a + b) / 2);
        if (measure(r, mid) >= m) b = mid;
        else a = mid;
      }
      lines.push({ tick: b, number: m });
    }
  }
  return lines;
}

// The colour of each track as a pixel (alpha, blue, green, red from the high byte down).
function trackPixels(theme) {
  return palettes[theme].map((hex) => {
    const n = parseInt(hex.slice(1), 16);
    return (0xff000000 | ((n & 0xff) << 16) | (n & 0xff00) | (n >> 16)) >>> 0;
  });
}

// An empty finest level of the overview: overview_bins bins across the roll (each 2^shift ticks), one
// row for each note value in the roll; a cell holds 1 + the index of the topmost track that sounds in
// it (0: none). Notes longer than long_note_bins bins are drawn one by one instead.
function startOverview(listed) {
  let shift = 0;
  while (listed.maxTick / 2 ** shift >= rollBounds.overview_bins) shift += 1;
  const rows = listed.keyHigh - listed.keyLow + 1;
  const bins = (listed.maxTick >>> shift) + 1;
  return { shift, bins, rows, cells: new Uint16Array(rows * bins), long: [] };
}

// Marks the short notes of a track in the finest level and keeps its long ones aside.
function markTrack(listed, overview, track) {
  const { starts, ends, keys } = views(listed);
  const { shift, bins, cells } = overview;
  const mark = track.index + 1;
  const top = listed.keyHigh + 1;  // a key field holds the note value + 1
  const long = [];
  for (let i = track.first, end = track.first + track.count; i < end; i += 1) {
    const b0 = starts[i] >>> shift;
    const b1 = ends[i] >>> shift;
    if (b1 - b0 > rollBounds.long_note_bins || b1 < b0) {
      long.push(i);
      continue;
    }
    const base = (top - (keys[i] & noteKeyValueMask)) * bins;
    cells.fill(mark, base + b0, base + b1 + 1);
  }
  if (long.length > 0) overview.long.push({ track, notes: Uint32Array.from(long) });
}

// Makes the coarser levels of the overview from its finest, each with half as many bins.
export function finishOverview(overview, hidden) {
  const { rows } = overview;
  const levels = [{ shift: overview.shift, bins: overview.bins, cells: overview.cells }];
  while (levels[levels.length - 1].bins > 64) {
    const below = levels[levels.length - 1];
    const count = Math.ceil(below.bins / 2);
    const cells = new Uint16Array(rows * count);
    for (let row = 0; row < rows; row += 1) {
      const from = row * below.bins;
      const to = row * count;
      for (let b = 0; b < count; b += 1) {
        const left = below.cells[from + 2 * b];
        const right = 2 * b + 1 < below.bins ? below.cells[from + 2 * b + 1] : 0;
        cells[to + b] = left > right ? left : right;
      }
    }
    levels.push({ shift: below.shift + 1, bins: count, cells });
  }
  return { hidden, levels, long: overview.long };
}

// The overview anew for the tracks not hidden.
function buildOverview(listed, hidden) {
  const overview = startOverview(listed);
  for (const track of listed.tracks) if (!hidden.has(track.index) && track.count > 0) markTrack(listed, overview, track);
  return finishOverview(overview, [...hidden].sort().join(','));
}

// Fills the rows of the roll from the overview level whose bins are no wider than a pixel.
function drawFromOverview(listed, view, level, colours) {
  const { width } = view;
  const rowHeight = rollRowHeight(view);
  const binTicks = 2 ** level.shift;
  const perPixel = (view.t1 - view.t0) / width;
  const rows = listed.keyHigh - listed.keyLow + 1;
  const firstBins = new Int32Array(width + 1);
  for (let x = 0; x <= width; x += 1) firstBins[x] = Math.floor((view.t0 + x * perPixel) / binTicks);
  let drawn = 0;
  for (let row = 0; row < rows; row += 1) {
    const key = listed.keyHigh - row;
    if (key < view.keyLow || key > view.keyHigh) continue;
    const top = Math.round(rollY(view, key));
    const bottom = Math.max(top + 1, Math.round(rollY(view, key - 1)) - (rowHeight >= 4 ? 1 : 0));
    const base = row * level.bins;
    for (let x = 0; x < width; x += 1) {
      let b = Math.max(0, firstBins[x]);
      const last = Math.min(level.bins - 1, Math.max(firstBins[x + 1] - 1, firstBins[x]));
      let mark = 0;
      for (; b <= last; b += 1) if (level.cells[base + b] > mark) mark = level.cells[base + b];
      if (mark === 0) continue;
      drawn += 1;
      const colour = colours[listed.tracks[mark - 1].colour];
      for (let y = top; y < bottom; y += 1) pixels[y * width + x] = colour;
    }
  }
  return drawn;
}

// Calls visit(i) for each note of the track that sounds within [from, to].
function notesWithin(listed, track, from, to, visit) {
  const v = views(listed);
  const end = track.first + track.count;
  if (!track.ordered) {
    for (let i = track.first; i < end; i += 1) if (v.starts[i] <= to && v.ends[i] >= from) visit(i);
    return;
  }
  // the notes that start after `to` are out; of the others, only blocks with a late enough end count
  let low = track.first;
  let high = end;
  while (low < high) {
    const mid = (low + high) >> 1;
    if (v.starts[mid] <= to) low = mid + 1;
    else high = mid;
  }
  const stop = low;
  for (let b = 0; b * rollBounds.notes_per_block + track.first < stop; b += 1) {
    if (v.blockEnds[track.firstBlock + b] < from) continue;
    const last = Math.min(track.first + (b + 1) * rollBounds.notes_per_block, stop);
    for (let i = track.first + b * rollBounds.notes_per_block; i < last; i += 1) if (v.ends[i] >= from) visit(i);
  }
}

// Where each note value's bar is drawn, top and bottom pixel rows, for the view.
function barRows(view) {
  const count = view.keyHigh - view.keyLow + 1;
  const rowHeight = rollRowHeight(view);
  const tops = new Int32Array(count);
  const bottoms = new Int32Array(count);
  for (let r = 0; r < count; r += 1) {
    const key = view.keyHigh - r;
    tops[r] = Math.max(view.band, Math.round(rollY(view, key)));
    bottoms[r] = Math.min(view.height, Math.max(tops[r] + 1, Math.round(rollY(view, key - 1)) - (rowHeight >= 4 ? 1 : 0)));
  }
  return { tops, bottoms };
}

// Draws the given notes as bars of their track's colour; returns how many were in view.
function drawBars(listed, view, notes, colour, bars) {
  const { starts, ends, keys } = views(listed);
  const { width, t0, t1, keyHigh, keyLow } = view;
  const scale = width / (t1 - t0);
  let drawn = 0;
  notes((i) => {
    const key = (keys[i] & noteKeyValueMask) - 1;
    if (key < keyLow || key > keyHigh || ends[i] < t0 || starts[i] > t1) return;
    let x0 = Math.floor((starts[i] - t0) * scale);
    let x1 = Math.floor((ends[i] - t0) * scale);
    if (x0 < 0) x0 = 0;
    if (x1 > width) x1 = width;
    if (x1 <= x0) x1 = Math.min(width, x0 + 1);
    const r = keyHigh - key;
    for (let y = bars.tops[r], bottom = bars.bottoms[r]; y < bottom; y += 1) {
      const row = y * width;
      if (x1 - x0 > 16) pixels.fill(colour, row + x0, row + x1);
      else for (let x = row + x0; x < row + x1; x += 1) pixels[x] = colour;
    }
    drawn += 1;
  });
  return drawn;
}

// Draws the notes in view one by one, later tracks over earlier ones.
function drawNotes(listed, view, hidden, colours, bars) {
  let drawn = 0;
  for (const track of listed.tracks) {
    if (hidden.has(track.index) || track.count === 0) continue;
    drawn += drawBars(listed, view, (visit) => notesWithin(listed, track, view.t0, view.t1, visit), colours[track.colour], bars);
  }
  return drawn;
}

// Draws the roll for the view: the background, octave and measure lines, the notes, the highlighted
// note, the marker and the labels. Returns how long it took and what it drew.
export function paintRoll(listed, view) {
  const started = performance.now();
  if (!canvas) return { ms: 0 };
  const { width, height } = view;
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  if (!notesCanvas || notesCanvas.width !== width || notesCanvas.height !== height) {
    notesCanvas = new OffscreenCanvas(width, height);
    pixels = null;
  }
  const theme = view.dark ? 'dark' : 'light';
  const ink = view.dark ? { back: '#15181c', band: '#1e2228', grid: '#2c323a', octave: '#3b434d', text: '#c8ced6', marker: '#ffd400', mark: '#ffffff' }
    : { back: '#ffffff', band: '#f1f3f5', grid: '#e3e6ea', octave: '#c6ccd3', text: '#39424c', marker: '#d9006c', mark: '#000000' };
  const ctx = canvasContext;
  ctx.fillStyle = ink.back;
  ctx.fillRect(0, 0, width, height);
  ctx.fillStyle = ink.band;
  ctx.fillRect(0, 0, width, view.band);
  const rowHeight = rollRowHeight(view);
  // rows of the black keys, shaded, and a line under each C
  ctx.fillStyle = ink.grid;
  for (let key = view.keyLow; key <= view.keyHigh; key += 1) {
    if (key >= 0 && [1, 3, 6, 8, 10].includes(key % 12) && rowHeight >= 3) ctx.fillRect(0, rollY(view, key), width, rowHeight);
  }
  ctx.fillStyle = ink.octave;
  for (let key = view.keyLow; key <= view.keyHigh; key += 1) {
    if (key >= 0 && key % 12 === 0) ctx.fillRect(0, Math.round(rollY(view, key - 1)) - 1, width, Math.max(1, view.scale));
  }
  const measures = measureLines(listed, view);
  ctx.font = `${Math.round(11 * view.scale)}px system-ui, sans-serif`;
  ctx.textBaseline = 'middle';
  for (const m of measures) {
    const x = Math.round(rollX(view, m.tick));
    ctx.fillStyle = ink.octave;
    ctx.fillRect(x, 0, Math.max(1, view.scale), height);
    // the number right of its line, or left of it where it would run off the canvas
    const label = String(m.number);
    const room = ctx.measureText(label).width + 3 * view.scale;
    ctx.fillStyle = ink.text;
    ctx.fillText(label, x + room > width ? x - room : x + 3 * view.scale, view.band / 2);
  }
  // zoomed in within a measure: the position of the left edge instead, as the listing writes it
  let position = null;
  if (measures.length === 0 && listed.tracks.length > 0) {
    position = positionText(listed, view.gridTrack, Math.max(0, Math.ceil(view.t0)));
    ctx.fillStyle = ink.text;
    ctx.fillText(position, 3 * view.scale, view.band / 2);
  }
  // the notes, pixel by pixel, laid over the grid
  const hidden = new Set(view.hidden);
  if (!pixels) pixels = new Uint32Array(width * height);
  else pixels.fill(0);
  const colours = trackPixels(theme);
  const perPixel = (view.t1 - view.t0) / width;
  let drawn = 0;
  let how = 'notes';
  const hiddenKey = [...hidden].sort().join(',');
  const bars = barRows(view);
  // the overview when its finest bins are at most two pixels wide
  if (listed.overview && 2 ** listed.overview.levels[0].shift <= 2 * perPixel) {
    if (listed.overview.hidden !== hiddenKey) listed.overview = buildOverview(listed, hidden);
    const { levels, long } = listed.overview;
    let level = levels[0];
    for (const l of levels) if (2 ** l.shift <= perPixel) level = l;
    drawn = drawFromOverview(listed, view, level, colours);
    for (const { track, notes } of long) {
      drawn += drawBars(listed, view, (visit) => notes.forEach((i) => visit(i)), colours[track.colour], bars);
    }
    how = `overview ${level.bins}`;
  } else {
    drawn = drawNotes(listed, view, hidden, colours, bars);
  }
  const image = new ImageData(new Uint8ClampedArray(pixels.buffer), width, height);
  notesCanvas.getContext('2d').putImageData(image, 0, 0);
  ctx.drawImage(notesCanvas, 0, 0);
  // the chosen note, outlined, and the marked moment
  if (view.chosen !== null && view.chosen !== undefined && view.chosen < listed.noteCount) {
    const n = noteFacts(listed, view.chosen);
    const x0 = rollX(view, n.start);
    const x1 = Math.max(x0 + 2, rollX(view, n.end));
    ctx.strokeStyle = ink.mark;
    ctx.lineWidth = 2 * view.scale;
    ctx.strokeRect(x0 - view.scale, rollY(view, n.key) - view.scale, x1 - x0 + 2 * view.scale, rowHeight + 2 * view.scale);
  }
  if (view.marker !== null && view.marker !== undefined) {
    const x = Math.round(rollX(view, view.marker));
    ctx.fillStyle = ink.marker;
    ctx.fillRect(x - view.scale, 0, 2 * view.scale, height);
  }
  // octave names at the left, each on a patch of the band's colour so that notes don't hide it
  for (let key = view.keyLow; key <= view.keyHigh; key += 1) {
    if (key >= 0 && key % 12 === 0 && rowHeight * 12 >= 14 * view.scale) {
      const name = noteName(key);
      const middle = rollY(view, key) + rowHeight / 2;
      const tall = 13 * view.scale;
      ctx.fillStyle = ink.band;
      ctx.fillRect(view.scale, middle - tall / 2, ctx.measureText(name).width + 4 * view.scale, tall);
      ctx.fillStyle = ink.text;
      ctx.fillText(name, 3 * view.scale, middle);
    }
  }
  if (listed.noteCount === 0) {
    ctx.textAlign = 'center';
    ctx.fillText('No notes in this file.', width / 2, (height + view.band) / 2);
    ctx.textAlign = 'start';
  }
  return { ms: performance.now() - started, drawn, how, measures: measures.length, position };
}

// The note (of the tracks shown) drawn on top at the device pixel x, y; when no note is drawn there,
// the nearest within three pixels of it on its row, so that short notes can be pointed at; -1 when
// there is none.
export function noteAt(listed, view, x, y) {
  const v = views(listed);
  const key = rollKey(view, y);
  if (y < view.band || key < view.keyLow || key > view.keyHigh) return -1;
  const perPixel = (view.t1 - view.t0) / view.width;
  const scale = view.width / (view.t1 - view.t0);
  const slack = 3 * view.scale;
  const tick = rollTick(view, x);
  const hidden = new Set(view.hidden);
  let under = -1;  // the last drawn of the notes whose bar holds x: later tracks and notes are drawn over earlier
  let near = -1;
  let nearest = Infinity;
  for (const track of listed.tracks) {
    if (hidden.has(track.index)) continue;
    notesWithin(listed, track, tick - (slack + 1) * perPixel, tick + (slack + 1) * perPixel, (i) => {
      if ((v.keys[i] & noteKeyValueMask) - 1 !== key) return;
      // the bar as drawBars draws it: from x0 up to x1, a pixel at least
      const x0 = Math.floor((v.starts[i] - view.t0) * scale);
      const x1 = Math.max(x0 + 1, Math.floor((v.ends[i] - view.t0) * scale));
      const px = Math.floor(x);
      if (px >= x0 && px < x1) {
        under = i;
        return;
      }
      const distance = px < x0 ? x0 - px : px - x1 + 1;
      if (distance <= slack && distance <= nearest) {
        nearest = distance;
        near = i;
      }
    });
  }
  return under >= 0 ? under : near;
}

// The note after (direction 1) or before (-1) note `from` in order of start (then of track and index),
// among the tracks shown; from -1 gives the first or the last. -1 when there is none.
export function nextNote(listed, view, from, direction) {
  const v = views(listed);
  const hidden = new Set(view.hidden);
  const here = from >= 0 ? { start: v.starts[from], index: from } : null;
  let best = -1;
  const better = (i) => {
    if (best < 0) return true;
    const a = v.starts[i];
    const b = v.starts[best];
    return direction > 0 ? a < b || (a === b && i < best) : a > b || (a === b && i > best);
  };
  const beyond = (i) => {
    if (!here) return true;
    const a = v.starts[i];
    return direction > 0 ? a > here.start || (a === here.start && i > here.index) : a < here.start || (a === here.start && i < here.index);
  };
  for (const track of listed.tracks) {
    if (hidden.has(track.index)) continue;
    for (let i = track.first; i < track.first + track.count; i += 1) {
      if (beyond(i) && better(i)) best = i;
      if (track.ordered && direction > 0 && beyond(i)) break;  // the first after `from` in an ordered track
    }
  }
  return best;
}
