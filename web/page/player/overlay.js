// Drawn over the roll while the player has a place: the loop (or the one being dragged), the notes
// sounding, and the playhead, redrawn every animation frame while playing; and the ruler's gestures
// (the roll's top band): click to go to a place, drag the playhead, drag elsewhere for a loop.
import { $ } from '../dom.js';
import { listed } from '../files.js';
import { askPlayed, followRoll, following } from './follow.js';
import { setLoop, settings } from './settings.js';
import { player, seek, setPlaceTick, showPlace, tickNow } from './transport.js';
import { pointerAt, roll, rollView } from '../roll.js';
import { rollRowHeight, rollTick, rollX, rollY } from '../../shared/roll_geometry.js';

export const overlay = {
  frame: 0,            // the animation frame requested, 0 when none
  ruler: null,         // a gesture on the ruler: { id, x, tick, to, moved, playhead }
};

// Asks for the overlay to be drawn at the next animation frame, and every frame while playing.
export function requestOverlay() {
  if (overlay.frame) return;
  overlay.frame = requestAnimationFrame(() => {
    overlay.frame = 0;
    drawOverlay();
    if (player.playing) {
      const tick = tickNow();
      if (following.on) followRoll(tick);
      showPlace();
      askPlayed();
      requestOverlay();
    }
  });
}

// Draws over the roll: the loop (or the one being dragged), the notes sounding, and the playhead.
export function drawOverlay() {
  const canvas = $('roll-overlay');
  if (!listed || $('roll-box').hidden) return;
  const v = rollView();
  if (canvas.width !== v.width || canvas.height !== v.height) {
    canvas.width = v.width;
    canvas.height = v.height;
  }
  const ctx = canvas.getContext('2d');
  ctx.clearRect(0, 0, v.width, v.height);
  const dark = v.dark;
  const loop = overlay.ruler && overlay.ruler.moved ? { a: Math.min(overlay.ruler.tick, overlay.ruler.to), b: Math.max(overlay.ruler.tick, overlay.ruler.to) } : settings.loop;
  if (loop) {
    const x0 = rollX(v, loop.a);
    const x1 = rollX(v, loop.b);
    ctx.fillStyle = dark ? 'rgba(127, 180, 255, 0.12)' : 'rgba(11, 92, 173, 0.08)';
    ctx.fillRect(x0, 0, x1 - x0, v.height);
    ctx.fillStyle = dark ? 'rgba(127, 180, 255, 0.7)' : 'rgba(11, 92, 173, 0.6)';
    ctx.fillRect(x0, 0, x1 - x0, v.band / 3);
  }
  const tick = tickNow();
  // the notes sounding, lit: a bright bar with a dark rim over each
  const s = player.sounding;
  const rowHeight = rollRowHeight(v);
  ctx.lineWidth = Math.max(1, v.scale);
  for (let i = 0; i + 3 < s.length; i += 4) {
    if (s[i] > tick || s[i + 1] <= tick || roll.hidden.has(s[i + 3])) continue;
    const key = s[i + 2];
    if (key < v.keyLow || key > v.keyHigh) continue;
    const x0 = Math.max(0, rollX(v, s[i]));
    const x1 = Math.min(v.width, Math.max(x0 + 2, rollX(v, s[i + 1])));
    const y = Math.max(v.band, rollY(v, key));
    ctx.fillStyle = dark ? 'rgba(255, 255, 255, 0.75)' : 'rgba(255, 236, 120, 0.9)';
    ctx.fillRect(x0, y, x1 - x0, Math.max(2, rowHeight - 1));
    ctx.strokeStyle = dark ? '#ffffff' : '#000000';
    ctx.strokeRect(x0, y, x1 - x0, Math.max(2, rowHeight - 1));
  }
  // the playhead, where playing is or stands
  if (player.playing || player.tick > 0 || player.last) {
    const x = Math.round(rollX(v, tick));
    ctx.fillStyle = dark ? '#ff6b6b' : '#c4001a';
    ctx.fillRect(x - v.scale, 0, 2 * v.scale, v.height);
    ctx.beginPath();
    ctx.moveTo(x - 5 * v.scale, 0);
    ctx.lineTo(x + 5 * v.scale, 0);
    ctx.lineTo(x, 7 * v.scale);
    ctx.fill();
  }
}

// Takes a pointer pressed on the roll's ruler (its top band); true when it did.
export function rulerDown(event, canvas) {
  if (!listed || player.unplayable) return false;
  const at = pointerAt(event);
  const v = rollView();
  if (at.dy >= v.band) return false;
  canvas.setPointerCapture(event.pointerId);
  const tick = rollTick(v, at.dx);
  const playheadX = rollX(v, tickNow()) / v.scale;
  overlay.ruler = { id: event.pointerId, x: at.x, tick, to: tick, moved: false, playhead: Math.abs(at.x - playheadX) <= 6 };
  return true;
}

// Connects the ruler's gestures to a (new) roll canvas.
export function connectRuler(canvas) {
  canvas.addEventListener('pointermove', (event) => {
    const r = overlay.ruler;
    if (!r || r.id !== event.pointerId) return;
    const at = pointerAt(event);
    r.to = Math.max(0, rollTick(rollView(), at.dx));
    if (Math.abs(at.x - r.x) > 4) r.moved = true;
    if (r.playhead && r.moved) setPlaceTick(r.to);
    drawOverlay();
  });
  const up = (event) => {
    const r = overlay.ruler;
    if (!r || r.id !== event.pointerId) return;
    overlay.ruler = null;
    if (event.type === 'pointercancel') {
      drawOverlay();
      return;
    }
    if (r.playhead || !r.moved) seek(r.moved ? r.to : r.tick);
    else setLoop(Math.min(r.tick, r.to), Math.max(r.tick, r.to));
    drawOverlay();
  };
  canvas.addEventListener('pointerup', up);
  canvas.addEventListener('pointercancel', up);
}
