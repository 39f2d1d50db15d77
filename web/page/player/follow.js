// Following the music: the roll pages on with the place playing, and the listing marks the line played
// last in the track shown (asked of the listing worker a few times a second) and keeps it in view,
// until the user moves either by hand.
import { $ } from '../dom.js';
import { listed, listingTurn } from '../files.js';
import { ask } from '../lister.js';
import { jumpTo, markPlayed, rowCount, view } from '../listing_view.js';
import { playedTracks } from './outputs.js';
import { placeTold, player, showPlace, tickNow } from './transport.js';
import { roll, scrollRollTo } from '../roll.js';

const followLookup = 250;  // ms between two questions for the listing line played (while playing)

export const following = {
  on: true,            // whether the roll and the listing follow the music
  played: null,        // the dump offset of the listing line played last
  asked: false,        // whether a question for the line played is with the worker
  askedAt: 0,          // when it was asked (performance.now())
  again: null,         // a question that could not be asked while one was with the worker, asked once
                       // that one is answered: { reveal }
};

// Forgets the line played, for a new listing.
export function resetFollow() {
  following.played = null;
  markPlayed(null);
}

// Turns following on or off.
export function setFollow(on) {
  following.on = on;
  $('follow').setAttribute('aria-pressed', String(on));
  if (on) {
    followRoll(tickNow(), true);
    askPlayed(true, true);
  }
}

// Turns following off when the user moves the roll or the listing by hand.
export function userMovedView() {
  if (player.playing && following.on) setFollow(false);
}

// Keeps tick in the roll's view: a page on when it nears the right edge (`always`: only when it is out
// of view), and back when it is left of the view.
export function followRoll(tick, always = false) {
  const span = roll.t1 - roll.t0;
  if (tick >= roll.t0 && tick <= roll.t0 + (always ? 1 : 0.9) * span) return;
  const t0 = Math.max(0, tick - 0.05 * span);
  if (t0 === roll.t0) return;
  scrollRollTo(t0);
}

// Asks the worker (one question at a time, a few times a second at most unless `now`) for the
// listing line played last in the track shown, and the place as the listing writes it; marks the
// line and, while following, keeps it in view as it plays (or when `reveal`: the user moved the place).
// A question `now` while one is with the worker is asked once that one is answered: the place moved.
export function askPlayed(now = false, reveal = false) {
  if (!listed || (!now && performance.now() - following.askedAt < followLookup)) return;
  if (following.asked) {
    if (now) following.again = { reveal: reveal || Boolean(following.again?.reveal) };
    return;
  }
  const trackIndex = roll.gridTrack;
  if (!listed.tracks[trackIndex]) return;
  following.asked = true;
  following.askedAt = performance.now();
  const turn = listingTurn;
  const tick = Math.floor(tickNow());
  ask({ type: 'played', track: trackIndex, tick, tracks: playedTracks() }).then((answer) => {
    if (turn !== listingTurn) return;
    // an answer for where playing stands (stopped) or started: its time is kept for the place; one
    // for a place left since, while stopped, is not shown (the place's own question follows it)
    const here = tick === Math.floor(player.tick);
    if (!player.playing && !here) return;
    placeTold(answer.length, here ? answer.seconds : null);
    if ($('play-position').textContent !== answer.position) {
      $('play-position').textContent = answer.position;
      $('play-position').setAttribute('aria-label', `Measure, beat and tick: ${answer.position}`);
    }
    if (!player.playing) showPlace();
    if (answer.offset === following.played && !reveal) return;
    following.played = answer.offset;
    markPlayed(answer.offset);
    $('listing').dataset.played = answer.offset === null ? '' : String(answer.offset);
    const onScreen = view.lines.slice(view.top, view.top + rowCount()).some((l) => l.offset === answer.offset);
    if (following.on && answer.offset !== null && !onScreen && (player.playing || reveal)) {
      jumpTo(answer.offset, Math.floor(rowCount() / 3));
    } else {
      // the mark moved on screen: only the rows' marks change, the listing is not drawn again
      for (const row of $('listing-lines').children) row.classList.toggle('played', row.dataset.offset === String(answer.offset));
    }
  }, () => {}).finally(() => {
    following.asked = false;
    const again = following.again;
    following.again = null;
    if (again) askPlayed(true, again.reveal);
  });
}
