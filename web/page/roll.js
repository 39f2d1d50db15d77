// The piano roll on the page: the listing worker draws; this part keeps what is in view and turns
// pointer, wheel, touch and keys into it, and links the notes with their lines in the listing.
import { $ } from './dom.js';
import { listed } from './files.js';
import { ask } from './lister.js';
import { chooseLine, jumpTo, linkLines, rowCount } from './listing_view.js';
import { trackNaming } from './names.js';
import { userMovedView } from './player/follow.js';
import { connectRuler, drawOverlay, rulerDown } from './player/overlay.js';
import { trackShownChanged, tracksShownChanged } from './player/settings.js';
import { rollRowHeight, rollX, rollY } from '../shared/roll_geometry.js';

export const roll = {
  t0: 0,              // the tick at the left edge
  t1: 1,              // the tick at the right edge
  hidden: new Set(),  // indexes of the tracks whose notes are hidden
  marker: null,       // the tick of the chosen listing line, marked by a line
  markings: 0,        // the lines chosen so far: each choice is new, of a moment chosen before too
  chosen: null,       // the roll note chosen, outlined
  gridTrack: 0,       // the track whose time signatures the measure lines follow
  busy: false,        // whether a drawing is being made
  again: false,       // whether the view changed while it was
  pointers: new Map(),  // pointers down on the roll: id → { x, y }
  drag: null,         // the drag under way: { x, t0, t1, moved }
  hover: -1,          // the note under the pointer, asked of the worker
  onDrawn: null,      // told when the next drawing is done
};

// Starts the roll for a new listing: the whole file in view.
export function startRoll(answer) {
  roll.hidden = new Set();
  roll.marker = null;
  roll.chosen = null;
  const first = answer.tracks.find((t) => t.notes > 0);
  roll.gridTrack = first ? first.index : 0;
  fitRoll();
  showLegend(answer);
  $('chosen').textContent = '';
  const canvas = $('roll');
  canvas.dataset.notes = String(answer.notes);
  delete canvas.dataset.markerTick;
  delete canvas.dataset.chosen;
}

// The ticks across the roll with the whole file in view.
function wholeSpan() {
  return Math.max(1, listed.maxTick * 1.02);
}

// A span of ticks the roll can show: from 4 ticks (zoomed fully in) to the whole file (fully out).
function spanWithin(span) {
  return Math.min(Math.max(span, 4), Math.max(4, wholeSpan()));
}

// The whole file in view.
export function fitRoll() {
  if (!listed) return;
  roll.t0 = 0;
  roll.t1 = wholeSpan();
  drawRoll();
}

// The view as the worker draws it: in device pixels, with what is hidden, marked and chosen.
export function rollView() {
  const canvas = $('roll');
  const scale = window.devicePixelRatio || 1;
  const rect = canvas.getBoundingClientRect();
  return {
    t0: roll.t0,
    t1: roll.t1,
    keyLow: listed.keyLow,
    keyHigh: listed.keyHigh,
    width: Math.max(1, Math.round(rect.width * scale)),
    height: Math.max(1, Math.round(rect.height * scale)),
    band: Math.round(16 * scale),
    scale,
    hidden: [...roll.hidden],
    marker: roll.marker,
    chosen: roll.chosen,
    gridTrack: roll.gridTrack,
    dark: matchMedia('(prefers-color-scheme: dark)').matches,
  };
}

// Has the worker draw the roll, at most one drawing at a time and always the latest view.
export function drawRoll() {
  if (!listed || $('roll-box').hidden) return;
  if (roll.busy) {
    roll.again = true;
    return;
  }
  roll.busy = true;
  roll.again = false;
  const canvas = $('roll');
  ask({ type: 'roll', view: rollView() }).then((answer) => {
    canvas.dataset.drawMs = answer.ms.toFixed(1);
    canvas.dataset.drawn = `${answer.drawn} ${answer.how}`;
  }, () => {}).finally(() => {
    drawOverlay();  // the playhead and the loop over the roll as it now is
    const drawn = roll.onDrawn;
    roll.onDrawn = null;
    if (drawn) drawn();
    roll.busy = false;
    if (roll.again) drawRoll();
  });
}

// Zooms by factor (above 1: in) around the tick at the canvas's CSS x.
export function zoomRoll(factor, x) {
  const canvas = $('roll');
  const width = canvas.clientWidth || 1;
  const at = roll.t0 + ((x ?? width / 2) / width) * (roll.t1 - roll.t0);
  const span = spanWithin((roll.t1 - roll.t0) / factor);
  const share = (at - roll.t0) / (roll.t1 - roll.t0);
  roll.t0 = at - share * span;
  roll.t1 = roll.t0 + span;
  keepRollInside();
  drawRoll();
}

// Scrolls by a share of the view's width.
function panRoll(share) {
  const span = roll.t1 - roll.t0;
  roll.t0 += share * span;
  roll.t1 += share * span;
  keepRollInside();
  drawRoll();
}

// Keeps the view over the file: not before its start, not wholly past its end.
function keepRollInside() {
  const span = roll.t1 - roll.t0;
  const end = Math.max(wholeSpan(), span);
  if (roll.t1 > end) {
    roll.t1 = end;
    roll.t0 = end - span;
  }
  if (roll.t0 < 0) {
    roll.t0 = 0;
    roll.t1 = span;
  }
}

// Brings a tick into view (centred when it was out of view) and redraws.
export function showTick(tick) {
  const span = roll.t1 - roll.t0;
  if (tick < roll.t0 || tick > roll.t1) {
    roll.t0 = tick - span / 2;
    roll.t1 = tick + span / 2;
    keepRollInside();
  }
  drawRoll();
}

// Shows the tracks with notes as buttons that hide or show them, in their colours, each named by
// nameLegend.
export function showLegend(answer) {
  const legend = $('legend');
  const dark = matchMedia('(prefers-color-scheme: dark)').matches;
  const palette = dark ? answer.palettes.dark : answer.palettes.light;
  legend.replaceChildren(...answer.tracks.filter((t) => t.notes > 0).map((track) => {
    const button = document.createElement('button');
    button.type = 'button';
    button.setAttribute('aria-pressed', String(!roll.hidden.has(track.index)));
    const swatch = document.createElement('span');
    swatch.className = 'swatch';
    swatch.style.background = palette[track.colour];
    const label = document.createElement('span');  // nameLegend writes in it
    button.append(swatch, label);
    button.onclick = (event) => {
      if (button.dataset.held === 'true') {  // a long press soloed it: the click that ends it (if any) does nothing more
        button.dataset.held = 'false';
        return;
      }
      if (event.altKey) {
        soloTrack(track.index);
        return;
      }
      const shown = roll.hidden.has(track.index);
      if (shown) roll.hidden.delete(track.index);
      else roll.hidden.add(track.index);
      showLegendState();
    };
    // a long press of a finger solos the track, as Alt-click does (a mouse held down is a slow click);
    // the next press or key starts anew, where the long press gave no click to end it
    let timer = 0;
    button.addEventListener('pointerdown', (event) => {
      button.dataset.held = 'false';
      if (event.pointerType !== 'touch') return;
      timer = setTimeout(() => {
        button.dataset.held = 'true';
        soloTrack(track.index);
      }, 500);
    });
    for (const end of ['pointerup', 'pointerleave', 'pointercancel']) button.addEventListener(end, () => clearTimeout(timer));
    button.addEventListener('contextmenu', (event) => {
      if (button.dataset.held === 'true') event.preventDefault();
    });
    button.addEventListener('keydown', (event) => {
      button.dataset.held = 'false';
      if (event.key !== 's' && event.key !== 'S') return;  // S, as Alt-click
      event.preventDefault();
      soloTrack(track.index);
    });
    button.dataset.track = String(track.index);
    return button;
  }));
  nameLegend();
}

// Writes on each legend button what the file calls its track: its name and its first program's name,
// or "Track N" when it has neither; its hover text and accessible name say the track's number, the
// names and the notes. Called again when the names are known, or read in another encoding.
export function nameLegend() {
  if (!listed) return;
  for (const button of $('legend').children) {
    const track = listed.tracks[Number(button.dataset.track)];
    const { name, program } = trackNaming(track.index);
    const called = [name, program].filter((part) => part !== '');
    button.lastChild.textContent = called.length > 0 ? called.join(' · ') : `Track ${track.number}`;
    button.title = [`Track ${track.number}`, ...called, `${track.notes.toLocaleString()} notes`].join(', ');
    button.setAttribute('aria-label', button.title);
  }
}

// Shows the one track alone (the others hidden, and muted); the track already alone shows all again.
function soloTrack(index) {
  const withNotes = listed.tracks.filter((t) => t.notes > 0).map((t) => t.index);
  const alone = !roll.hidden.has(index) && withNotes.every((t) => t === index || roll.hidden.has(t));
  roll.hidden = new Set(alone ? [] : withNotes.filter((t) => t !== index));
  showLegendState();
}

// Marks the legend's buttons shown or hidden, redraws, and tells the player (hidden tracks are muted).
function showLegendState() {
  for (const button of $('legend').children) button.setAttribute('aria-pressed', String(!roll.hidden.has(Number(button.dataset.track))));
  drawRoll();
  tracksShownChanged();
}

// The canvas's CSS position of a pointer event, and the same in device pixels.
export function pointerAt(event) {
  const rect = $('roll').getBoundingClientRect();
  const scale = window.devicePixelRatio || 1;
  const x = event.clientX - rect.left;
  const y = event.clientY - rect.top;
  return { x, y, dx: x * scale, dy: y * scale };
}

// Chooses roll note `index`: it is outlined, and the listing shows its note on line (and its note
// off line), the note on line chosen.
async function chooseNote(index) {
  if (index < 0) return;
  roll.chosen = index;
  const canvas = $('roll');
  canvas.dataset.chosen = String(index);
  drawRoll();
  const note = await ask({ type: 'note', index, withOff: true });
  if (roll.chosen !== index) return;
  $('chosen').textContent = `Chosen: ${describe(note)}.`;
  linkLines([note.on, note.off].filter((o) => o !== null));
  roll.gridTrack = note.trackIndex;
  trackShownChanged();
  if (note.on !== null) {
    await jumpTo(note.on, Math.floor(rowCount() / 3));
    chooseLine(note.on);
  }
}

// A note in words: its name, channel, velocity, track (and the track's name) and position.
function describe(note) {
  const velocity = note.velocity === null ? '' : `, velocity ${note.velocity >>> 0}`;
  const { name } = trackNaming(note.trackIndex);
  return `${note.name}, channel ${note.channel}${velocity}, track ${note.track}${name ? ` (${name})` : ''}, from ${note.from} to ${note.to}`;
}

// Shows what the note under the pointer is, beside it.
async function hoverNote(event) {
  const at = pointerAt(event);
  const view = rollView();
  const { index } = await ask({ type: 'hit', view, x: at.dx, y: at.dy });
  const tip = $('tip');
  if (index < 0) {
    roll.hover = -1;
    tip.hidden = true;
    return;
  }
  if (index === roll.hover && !tip.hidden) return;
  roll.hover = index;
  const note = await ask({ type: 'note', index, withOff: false });
  if (roll.hover !== index) return;
  tip.textContent = describe(note);
  tip.hidden = false;
  const stage = tip.parentElement.getBoundingClientRect();
  tip.style.left = `${Math.min(at.x + 12, stage.width - tip.offsetWidth - 4)}px`;
  tip.style.top = `${at.y + 16 > stage.height - 40 ? at.y - 40 : at.y + 16}px`;
}

let hovering = false;  // whether a hover question is with the worker
// Asks about the note under a moving pointer, one question at a time.
function pointerHover(event) {
  if (hovering || !listed) return;
  hovering = true;
  hoverNote(event).catch(() => {}).finally(() => { hovering = false; });
}

// Connects a (new) roll canvas to the pointer, wheel, touch and keys.
export function connectRoll(canvas) {
  canvas.addEventListener('wheel', (event) => {
    if (!listed) return;
    event.preventDefault();
    const at = pointerAt(event);
    const unit = event.deltaMode === 1 ? 20 : event.deltaMode === 2 ? 400 : 1;
    if (event.ctrlKey || event.metaKey) {
      zoomRoll(Math.exp(-event.deltaY * unit * 0.01), at.x);
    } else {
      userMovedView();
      const delta = Math.abs(event.deltaX) > Math.abs(event.deltaY) ? event.deltaX : event.deltaY;
      panRoll((delta * unit) / (canvas.clientWidth || 1));
    }
  }, { passive: false });
  connectRuler(canvas);
  canvas.addEventListener('pointerdown', (event) => {
    if (!listed || rulerDown(event, canvas)) return;
    canvas.setPointerCapture(event.pointerId);
    const at = pointerAt(event);
    roll.pointers.set(event.pointerId, at);
    roll.drag = { x: at.x, t0: roll.t0, t1: roll.t1, moved: false, pinch: roll.pointers.size === 2 ? pinchSpan() : null };
  });
  canvas.addEventListener('pointermove', (event) => {
    if (!listed) return;
    const at = pointerAt(event);
    if (!roll.pointers.has(event.pointerId)) {
      if (event.pointerType === 'mouse') pointerHover(event);
      return;
    }
    roll.pointers.set(event.pointerId, at);
    const drag = roll.drag;
    if (!drag) return;
    const width = canvas.clientWidth || 1;
    if (roll.pointers.size === 2 && drag.pinch) {
      const now = pinchSpan();
      const span = spanWithin((drag.t1 - drag.t0) * (drag.pinch.width / Math.max(8, now.width)));
      const middle = drag.t0 + (drag.pinch.middle / width) * (drag.t1 - drag.t0);
      roll.t0 = middle - (now.middle / width) * span;
      roll.t1 = roll.t0 + span;
      drag.moved = true;
    } else {
      if (Math.abs(at.x - drag.x) > 3) {
        drag.moved = true;
        userMovedView();
      }
      const shift = ((drag.x - at.x) / width) * (drag.t1 - drag.t0);
      roll.t0 = drag.t0 + shift;
      roll.t1 = drag.t1 + shift;
    }
    keepRollInside();
    drawRoll();
  });
  const up = (event) => {
    if (!roll.pointers.has(event.pointerId)) return;
    roll.pointers.delete(event.pointerId);
    const drag = roll.drag;
    if (roll.pointers.size === 0) roll.drag = null;
    if (drag && !drag.moved && event.type === 'pointerup') {
      const at = pointerAt(event);
      ask({ type: 'hit', view: rollView(), x: at.dx, y: at.dy }).then(({ index }) => chooseNote(index));
    }
  };
  canvas.addEventListener('pointerup', up);
  canvas.addEventListener('pointercancel', up);
  canvas.addEventListener('pointerleave', () => {
    roll.hover = -1;
    $('tip').hidden = true;
  });
  canvas.addEventListener('keydown', (event) => {
    if (!listed) return;
    const keys = {
      ArrowLeft: () => panRoll(event.shiftKey ? -0.5 : -0.1),
      ArrowRight: () => panRoll(event.shiftKey ? 0.5 : 0.1),
      '+': () => zoomRoll(1.5),
      '=': () => zoomRoll(1.5),
      '-': () => zoomRoll(1 / 1.5),
      0: () => fitRoll(),
      Home: () => panRoll(-roll.t0 / (roll.t1 - roll.t0)),
      End: () => panRoll(1e9),
      n: () => stepNote(1),
      N: () => stepNote(1),
      p: () => stepNote(-1),
      P: () => stepNote(-1),
    };
    if (!keys[event.key]) return;
    event.preventDefault();
    if (['ArrowLeft', 'ArrowRight', 'Home', 'End'].includes(event.key)) userMovedView();
    keys[event.key]();
  });
}

// The middle and the width between the two pointers of a pinch, in CSS pixels.
function pinchSpan() {
  const [a, b] = [...roll.pointers.values()];
  return { middle: (a.x + b.x) / 2, width: Math.abs(a.x - b.x) };
}

// Chooses the next (1) or previous (-1) note in time, bringing it into view.
async function stepNote(direction) {
  const { index } = await ask({ type: 'step', view: rollView(), from: roll.chosen ?? -1, direction });
  if (index < 0) return;
  const note = await ask({ type: 'note', index, withOff: false });
  showTick(note.start);
  chooseNote(index);
}

// Resolves when the next drawing of the roll is done.
export function whenRollDrawn() {
  return new Promise((resolve) => { roll.onDrawn = resolve; });
}

// A new listing worker took the canvas: no drawing of the old one is under way.
export function rollWorkerStarted() {
  roll.busy = false;
}

// Marks the moment of the chosen listing line: its tick, and the track (an index; -1: the same as
// before) whose time signatures the measure lines follow from then on.
export function markTick(tick, trackIndex) {
  roll.marker = tick;
  roll.markings += 1;
  if (trackIndex >= 0) roll.gridTrack = trackIndex;
  $('roll').dataset.markerTick = String(tick);
}

// Scrolls the roll to start at tick t0, its span kept, and redraws.
export function scrollRollTo(t0) {
  const span = roll.t1 - roll.t0;
  roll.t0 = t0;
  roll.t1 = t0 + span;
  keepRollInside();
  drawRoll();
}

// For tests and the benchmark: shows ticks t0 to t1 in the roll; resolves with the drawing's time
// and what was drawn, as the worker tells them.
export async function drawView(t0, t1) {
  while (roll.busy) await new Promise((resolve) => setTimeout(resolve, 5));
  roll.t0 = t0;
  roll.t1 = t1;
  keepRollInside();
  roll.busy = true;
  try {
    return await ask({ type: 'roll', view: rollView() });
  } finally {
    roll.busy = false;
  }
}

// For tests: where on screen (CSS pixels of the window) the middle of roll note `index` is drawn, and
// the left and right ends of its bar.
export async function notePoint(index) {
  const note = await ask({ type: 'note', index, withOff: false });
  const v = rollView();
  const x0 = Math.max(0, rollX(v, note.start));
  const x1 = Math.min(v.width, Math.max(x0 + 1, rollX(v, note.end)));
  const y = rollY(v, note.key) + rollRowHeight(v) / 2;
  const rect = $('roll').getBoundingClientRect();
  return { x: rect.left + (x0 + x1) / 2 / v.scale, y: rect.top + y / v.scale, left: rect.left + x0 / v.scale, right: rect.left + x1 / v.scale };
}

// The ticks the roll shows: { t0, t1 }.
export function rollShown() {
  return { t0: roll.t0, t1: roll.t1 };
}
