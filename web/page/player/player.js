// The player on the page: the transport (play, pause, stop, seek), the place playing shown as time and
// as the listing's measure:beat:tick, the playhead and the notes sounding drawn over the roll, the roll
// and the listing following the music, practice settings (speed, transpose, loop, muted and solo
// tracks), the choice of output ("This page" or a Web MIDI output) and saving as WAV. What is played
// comes from the listing worker (a compact copy of the events its listing pass gathered); the engine
// that plays it (play_engine.js) runs in the audio thread or in a worker of its own, and tells the
// page where it is.
'use strict';

const followLookup = 250;  // ms between two questions for the listing line played (while playing)

const player = {
  data: null,          // the compact copy of what is played (the one there is), while no engine holds it
  dataTurn: -1,        // the listing (listingTurn) that copy is of
  dataAsked: null,     // the copy asked of the listing worker (a promise), once for each listing
  answers: new Map(),  // the engine's answers awaited, by their type ('returned', 'lent'): resolve
  target: 'page',      // where it plays: 'page' (the built-in sound) or 'midi:' and an output's id
  engineTurn: -1,      // the listing whose events the engine in use holds
  sent: '',            // the settings the engine was last given (tracks and the rest), to send only changes
  playing: false,      // whether the music goes on
  tick: 0,             // where playing stands when stopped, and where it started
  endTick: 0,          // the sequence's last tick
  seconds: 0,          // the sequence's length, as written (0 while not known)
  placeSeconds: 0,     // the time, as written, where playing stands when stopped (told by the worker)
  last: null,          // the last place told by the engine: { tick, time, rate, seconds }
  sounding: new Float64Array(0),  // the notes sounding then: start, end, key, track of each
  follow: true,        // whether the roll and the listing follow the music
  loop: null,          // the loop: { a, b } in ticks, kept until cleared
  speed: 1,            // 1 plays as written
  transpose: 0,        // semitones (channel 10 never)
  markerUsed: null,    // the marker last played from, so that a marker is played from once
  played: null,        // the dump offset of the listing line played last
  asked: false,        // whether a question for the line played is with the worker
  askedAt: 0,          // when it was asked (performance.now())
  ruler: null,         // a gesture on the ruler: { x, tick, moved, playhead }
  frame: 0,            // the animation frame requested, 0 when none
  unplayable: '',      // why the file can't be played, '' when it can
  saving: false,       // whether a WAV file is being made
  seekAt: 0,           // when the last seek while playing was asked (performance.now()), until it is heard
  starts: 0,           // the plays asked for, each numbered (the places told of older plays are stale)
};

// ---- what is played ----------------------------------------------------------------------------------

// Why the listed file can't be played, in words; '' when it can.
function unplayableReason(answer) {
  if (answer.format < 0 || answer.format > 2) return 'its format has no tracks to play';
  if (answer.division === 0) return 'its division is 0 ticks per quarter note';
  if (answer.division > 32768 && (answer.division & 0xff) === 0) return 'its time code has 0 ticks per frame';
  if (answer.notes === 0) return 'it has no notes';
  return '';
}

// The track indexes that sound together: every track, or in format 2 the track of the chosen line or
// note (at first the first track with notes).
function playedTracks() {
  if (!listed) return [];
  if (listed.format === 2) return [roll.gridTrack];
  return listed.tracks.map((t) => t.index);
}

// The compact copy of what is played, for an engine to take (transferred): from the listing worker,
// which makes it once for each listing, or given back by the engine that held it.
async function playData() {
  const turn = listingTurn;
  if (player.dataTurn !== turn) {
    await askPlayData();
    if (turn !== listingTurn) throw new Error('the file changed');
  }
  if (!player.data) throw new Error('the events to play are held elsewhere');
  const data = player.data;
  player.data = null;
  return data;
}

// Asks the engine in use for an answer of the type given (to a message sent with it).
function engineAnswer(type, message) {
  return new Promise((resolve) => {
    player.answers.set(type, resolve);
    toEngine(message);
  });
}

// A copy of the compact copy for a rendering of its own: of the page's, or lent by the engine holding it.
async function copyOfPlayData() {
  if (player.dataTurn !== listingTurn) await askPlayData();
  if (player.data) return player.data.slice(0);
  const { data } = await engineAnswer('lent', { type: 'lend' });
  if (!data) throw new Error('the events to play are not at hand');
  return data;
}

// Starts the player for a new listing: nothing plays, the place is the start, the settings stay.
function startPlayer(answer) {
  playerHalt();
  if (player.engineTurn !== -1) toEngine({ type: 'unload' });  // the last file's events are let go
  player.engineTurn = -1;
  player.sent = '';
  player.tick = 0;
  player.endTick = answer.maxTick;
  player.seconds = 0;
  player.placeSeconds = 0;
  player.last = null;
  player.sounding = new Float64Array(0);
  player.loop = null;
  player.markerUsed = null;
  player.played = null;
  view.played = null;
  player.unplayable = unplayableReason(answer);
  player.data = null;
  player.dataAsked = null;
  $('player').hidden = false;
  setUsable($('play'), player.unplayable === '');
  setUsable($('stop'), player.unplayable === '');
  setUsable($('save-wav'), player.unplayable === '');
  $('play-seek').max = String(Math.max(1, answer.maxTick));
  $('play-seek').step = String(answer.division > 32768 ? 1 : Math.max(1, answer.division));
  showPlayerNote();
  showPlace();
  drawOverlay();
}

// Asks the listing worker for the compact copy of the listing shown, once: when the listing and the
// roll are on screen (the worker answers in turn, and the first lines come first), or at the first
// Play, whichever is sooner. Resolves when it is here (or can't be had).
function askPlayData() {
  if (player.unplayable !== '' || !listed) return Promise.resolve();
  if (player.dataAsked) return player.dataAsked;
  const turn = listingTurn;
  player.dataAsked = ask({ type: 'play data' }).then((data) => {
    if (turn !== listingTurn) return;
    player.data = data.data;
    player.dataTurn = turn;
    askPlayed(true);  // the place's time and the length, now that the worker has the tempo map
  }, () => {});
  return player.dataAsked;
}

// Says what is played when that is not plain: the track of a format-2 file, or why nothing can be.
function showPlayerNote() {
  let text = '';
  if (player.unplayable) text = `This file can't be played: ${player.unplayable}.`;
  else if (listed && listed.format === 2) {
    const track = listed.tracks[roll.gridTrack];
    text = `Format 2: each track is a piece of its own; Play plays track ${track ? track.number : '?'}, the track of the line or note chosen.`;
  }
  $('player-note').textContent = text;
  $('player-note').hidden = text === '';
}

// ---- the engine ------------------------------------------------------------------------------------

// Gives the engine in use a message (see play_engine.js).
function toEngine(message, transfer = []) {
  if (player.target === 'page') soundPlayerPost(message, transfer);
  else midiPost(message, transfer);
}

// Makes sure the engine in use holds this file's events and the settings in force.
async function readyEngine() {
  if (player.target !== 'page' && !midiOut.worker) {
    const output = midiOutputOf(player.target);
    if (!output) throw new Error('the MIDI output is gone');
    midiStart(output, fromEngine);
  }
  if (player.engineTurn !== listingTurn) {
    const turn = listingTurn;
    const data = await playData();
    if (turn !== listingTurn) throw new Error('the file changed');
    toEngine({ type: 'load', data }, [data]);
    player.engineTurn = turn;
    player.sent = '';
  }
  sendSettings();
}

// Tells the engine the settings that changed since it was last told: tracks played, muted tracks,
// speed, transpose and loop.
function sendSettings() {
  if (player.engineTurn !== listingTurn) return;
  const tracks = playedTracks();
  const muted = listed.tracks.map((t) => (roll.hidden.has(t.index) ? 1 : 0));
  const loop = player.loop ?? { a: 0, b: 0 };
  const settings = { tracks, muted, speed: player.speed, transpose: player.transpose, loop };
  const was = player.sent ? JSON.parse(player.sent) : {};
  if (JSON.stringify(was.tracks) !== JSON.stringify(tracks)) toEngine({ type: 'select', tracks });
  if (JSON.stringify(was.muted) !== JSON.stringify(muted)) toEngine({ type: 'mute', flags: muted });
  if (was.speed !== player.speed) toEngine({ type: 'speed', speed: player.speed });
  if (was.transpose !== player.transpose) toEngine({ type: 'transpose', semitones: player.transpose });
  if (JSON.stringify(was.loop) !== JSON.stringify(loop)) toEngine({ type: 'loop', a: loop.a, b: loop.b });
  player.sent = JSON.stringify(settings);
}

// Takes a message of the engine.
function fromEngine(m) {
  if (m.type === 'position') {
    if (!player.playing || m.start !== player.starts) return;
    if (player.seekAt && !player.last) {
      // for the benchmark: from the seek to the sound of its first moment leaving the engine
      const ahead = player.target === 'page' ? (m.time - soundNow()) * 1000 : m.time - performance.now();
      $('roll').dataset.seekMs = (performance.now() - player.seekAt + Math.max(0, ahead)).toFixed(1);
      player.seekAt = 0;
    }
    player.last = { tick: m.tick, seconds: m.seconds, time: m.time, rate: m.rate };
    player.sounding = m.sounding;
    requestOverlay();
  } else if (m.type === 'selected') {
    player.endTick = m.endTick;
    player.seconds = m.seconds;
    $('play-seek').max = String(Math.max(1, m.endTick));
    showPlace();
  } else if (m.type === 'ended') {
    if (m.start !== player.starts) return;  // an older play's end: a seek went on meanwhile
    player.playing = false;
    player.tick = m.tick;
    player.placeSeconds = player.seconds;
    player.last = null;
    player.sounding = new Float64Array(0);
    showTransport();
    showPlace();
    drawOverlay();
    askPlayed(true);
  } else if (m.type === 'paused') {
    midiOut.touched.fill(0);
  } else if (player.answers.has(m.type)) {
    const resolve = player.answers.get(m.type);
    player.answers.delete(m.type);
    resolve(m);
  }
}

// The time now in the clock of the engine's positions, as heard: the audio context's time less the
// output's latency, or the page's milliseconds for Web MIDI (sent with timestamps, heard on time).
function heardNow() {
  return player.target === 'page' ? soundNow() - soundLatency() : performance.now();
}

// The tick heard now: from the last place told, at its pace, a quarter of a second ahead at most.
function tickNow() {
  if (!player.playing || !player.last) return player.tick;
  const { tick, time, rate } = player.last;
  const elapsed = Math.max(0, Math.min(heardNow() - time, player.target === 'page' ? 0.25 : 250));
  return Math.min(player.endTick, tick + elapsed * rate);
}

// ---- the transport ------------------------------------------------------------------------------------

// Plays from the marker when one was chosen since the last play, else from where playing stands.
// Called inside the click or key press, where the audio context may be made or resumed.
async function startPlaying() {
  if (!listed || player.playing || player.unplayable || !usable($('play'))) return;
  const starting = player.target === 'page' ? soundStart() : null;  // first, inside the user's gesture
  if (roll.marker !== null && roll.marker !== player.markerUsed) {
    player.tick = roll.marker;
    player.markerUsed = roll.marker;
  }
  if (player.tick >= player.endTick) player.tick = player.loop ? player.loop.a : 0;
  player.playing = true;
  player.last = null;
  showTransport();
  try {
    if (starting) await starting;
    await readyEngine();
  } catch (e) {
    player.playing = false;
    showTransport();
    showNotice(`The file could not be played: ${e.message}.`);
    return;
  }
  if (!player.playing) return;  // stopped meanwhile
  player.starts += 1;
  toEngine({ type: 'play', tick: player.tick, start: player.starts });
  $('roll').dataset.playFrom = String(player.tick);
  requestOverlay();
}

// Pauses: what sounds ends, and playing stands where it was heard.
function pausePlaying() {
  if (!player.playing) return;
  player.tick = Math.floor(tickNow());
  player.playing = false;
  player.last = null;
  player.sounding = new Float64Array(0);
  halt();
  showTransport();
  showPlace();
  drawOverlay();
}

// Ends what sounds in the engine in use.
function halt() {
  if (player.target !== 'page' && midiHalt()) toEngine({ type: 'pause', quiet: true });
  else toEngine({ type: 'pause' });
}

// Stops and goes back to the start, or to the loop's start.
function stopPlaying() {
  if (player.playing) pausePlaying();
  player.tick = player.loop ? player.loop.a : 0;
  player.markerUsed = roll.marker;
  showPlace();
  drawOverlay();
  askPlayed(true);
}

// Stops playing (a new file is listed).
function playerHalt() {
  if (player.playing) pausePlaying();
  player.playing = false;
  showTransport();
}

// Plays or pauses.
function playOrPause() {
  if (player.playing) pausePlaying();
  else startPlaying();
}

// Goes to tick; playing goes on from there (after the state the events before it leave).
function seek(tick) {
  if (!listed) return;
  tick = Math.max(0, Math.min(Math.floor(tick), player.endTick));
  player.tick = tick;
  player.markerUsed = roll.marker;
  if (player.playing) {
    player.last = null;
    player.seekAt = performance.now();
    player.sounding = new Float64Array(0);
    if (player.target !== 'page' && midiHalt()) toEngine({ type: 'pause', quiet: true });
    player.starts += 1;
    toEngine({ type: 'play', tick, start: player.starts });
  }
  if (player.follow) followRoll(tick, true);
  showPlace();
  drawOverlay();
  askPlayed(true, true);
}

// Shows Play or Pause on the button.
function showTransport() {
  const button = $('play');
  button.textContent = player.playing ? 'Pause' : 'Play';
  button.setAttribute('aria-label', player.playing ? 'Pause' : 'Play');
  document.body.dataset.playing = String(player.playing);
}

// m:ss of a number of seconds.
function clockText(seconds) {
  const s = Math.max(0, Math.floor(seconds));
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
}

// The time heard now, as written (at the speed of the file): from the engine's last place while
// playing, else as the worker told it for the place where playing stands.
function secondsNow() {
  if (!player.playing || !player.last) return player.placeSeconds;
  const unit = player.target === 'page' ? 1 : 1000;  // the engine's clock: seconds, or milliseconds for Web MIDI
  const elapsed = Math.max(0, Math.min(heardNow() - player.last.time, 0.25 * unit));
  return player.last.seconds + (elapsed / unit) * player.speed;
}

// Shows the place: the time and the length, the seek bar, and the listing's measure:beat:tick (asked
// of the worker, see askPlayed).
function showPlace() {
  const tick = tickNow();
  const length = player.seconds;
  const time = length > 0 ? `${clockText(secondsNow())} / ${clockText(length)}` : '';
  // only what changed is written: each write costs the page a layout
  const set = (element, value) => {
    if (element.textContent !== value) element.textContent = value;
  };
  set($('play-time'), time);
  const seekBar = $('play-seek');
  const value = String(Math.round(tick));
  if ((document.activeElement !== seekBar || !player.playing) && seekBar.value !== value) seekBar.value = value;
  const spoken = `${time} ${$('play-position').textContent}`.trim();
  if (seekBar.getAttribute('aria-valuetext') !== spoken) seekBar.setAttribute('aria-valuetext', spoken);
  $('roll').dataset.playTick = value;
}

// ---- following -----------------------------------------------------------------------------------------

// Turns following on or off.
function setFollow(on) {
  player.follow = on;
  $('follow').setAttribute('aria-pressed', String(on));
  if (on) {
    followRoll(tickNow(), true);
    askPlayed(true, true);
  }
}

// Turns following off when the user moves the roll or the listing by hand.
function userMovedView() {
  if (player.playing && player.follow) setFollow(false);
}

// Keeps tick in the roll's view: a page on when it nears the right edge (`always`: only when it is out
// of view), and back when it is left of the view.
function followRoll(tick, always = false) {
  const span = roll.t1 - roll.t0;
  if (tick >= roll.t0 && tick <= roll.t0 + (always ? 1 : 0.9) * span) return;
  const t0 = Math.max(0, tick - 0.05 * span);
  if (t0 === roll.t0) return;
  roll.t0 = t0;
  roll.t1 = t0 + span;
  keepRollInside();
  drawRoll();
}

// Asks the worker (one question at a time, a few times a second at most unless `now`) for the
// listing line played last in the track shown, and the place as the listing writes it; marks the
// line and, while following, keeps it in view as it plays (or when `reveal`: the user moved the place).
function askPlayed(now = false, reveal = false) {
  if (!listed || player.asked || (!now && performance.now() - player.askedAt < followLookup)) return;
  const trackIndex = roll.gridTrack;
  if (!listed.tracks[trackIndex]) return;
  player.asked = true;
  player.askedAt = performance.now();
  const turn = listingTurn;
  const tick = Math.floor(tickNow());
  ask({ type: 'played', track: trackIndex, tick, tracks: playedTracks() }).then((answer) => {
    if (turn !== listingTurn) return;
    if (answer.length !== null) player.seconds = answer.length;
    if (!player.playing && answer.seconds !== null) player.placeSeconds = answer.seconds;
    if ($('play-position').textContent !== answer.position) {
      $('play-position').textContent = answer.position;
      $('play-position').setAttribute('aria-label', `Measure, beat and tick: ${answer.position}`);
    }
    if (!player.playing) showPlace();
    if (answer.offset === player.played && !reveal) return;
    player.played = answer.offset;
    view.played = answer.offset;
    $('listing').dataset.played = answer.offset === null ? '' : String(answer.offset);
    const onScreen = view.lines.slice(view.top, view.top + rowCount()).some((l) => l.offset === answer.offset);
    if (player.follow && answer.offset !== null && !onScreen && (player.playing || reveal)) {
      jumpTo(answer.offset, Math.floor(rowCount() / 3));
    } else {
      // the mark moved on screen: only the rows' marks change, the listing is not drawn again
      for (const row of $('listing-lines').children) row.classList.toggle('played', row.dataset.offset === String(answer.offset));
    }
  }, () => {}).finally(() => {
    player.asked = false;
  });
}

// ---- drawing over the roll ----------------------------------------------------------------------------

// Asks for the overlay to be drawn at the next animation frame, and every frame while playing.
function requestOverlay() {
  if (player.frame) return;
  player.frame = requestAnimationFrame(() => {
    player.frame = 0;
    drawOverlay();
    if (player.playing) {
      const tick = tickNow();
      if (player.follow) followRoll(tick);
      showPlace();
      askPlayed();
      requestOverlay();
    }
  });
}

// Draws over the roll: the loop (or the one being dragged), the notes sounding, and the playhead.
function drawOverlay() {
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
  const loop = player.ruler && player.ruler.moved ? { a: Math.min(player.ruler.tick, player.ruler.to), b: Math.max(player.ruler.tick, player.ruler.to) } : player.loop;
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

// ---- the ruler: click to go to a place, drag the playhead, drag elsewhere for a loop -------------

// Takes a pointer pressed on the roll's ruler (its top band); true when it did.
function rulerDown(event, canvas) {
  if (!listed || player.unplayable) return false;
  const at = pointerAt(event);
  const v = rollView();
  if (at.dy >= v.band) return false;
  canvas.setPointerCapture(event.pointerId);
  const tick = rollTick(v, at.dx);
  const playheadX = rollX(v, tickNow()) / v.scale;
  player.ruler = { id: event.pointerId, x: at.x, tick, to: tick, moved: false, playhead: Math.abs(at.x - playheadX) <= 6 };
  return true;
}

// Connects the ruler's gestures to a (new) roll canvas.
function connectRuler(canvas) {
  canvas.addEventListener('pointermove', (event) => {
    const r = player.ruler;
    if (!r || r.id !== event.pointerId) return;
    const at = pointerAt(event);
    r.to = Math.max(0, rollTick(rollView(), at.dx));
    if (Math.abs(at.x - r.x) > 4) r.moved = true;
    if (r.playhead && r.moved) {
      player.tick = Math.min(r.to, player.endTick);
      if (!player.playing) showPlace();
    }
    drawOverlay();
  });
  const up = (event) => {
    const r = player.ruler;
    if (!r || r.id !== event.pointerId) return;
    player.ruler = null;
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

// Loops from tick a back at tick b; a loop behind the place playing starts playing at a.
function setLoop(a, b) {
  a = Math.max(0, Math.floor(a));
  b = Math.min(Math.floor(b), player.endTick);
  if (b <= a) return;
  player.loop = { a, b };
  $('loop-clear').hidden = false;
  $('loop-state').textContent = `Loop: ${Math.round(a)} to ${Math.round(b)} ticks`;
  sendSettings();
  const tick = tickNow();
  if (tick < a || tick >= b) seek(a);
  drawOverlay();
}

// Clears the loop.
function clearLoop() {
  player.loop = null;
  $('loop-clear').hidden = true;
  $('loop-state').textContent = '';
  sendSettings();
  drawOverlay();
}

// ---- practice settings and tracks -------------------------------------------------------------------

// The speed from the slider (percent).
function speedChanged() {
  player.speed = Number($('play-speed').value) / 100;
  $('play-speed-shown').textContent = `${$('play-speed').value}%`;
  sendSettings();
}

// The transposition from its box, within -12..12.
function transposeChanged() {
  const value = Math.max(-12, Math.min(12, Math.round(Number($('play-transpose').value) || 0)));
  player.transpose = value;
  sendSettings();
}

// The tracks hidden in the legend changed: they are muted.
function tracksShownChanged() {
  sendSettings();
  drawOverlay();
}

// The track shown (of the line or note chosen) changed: in format 2 it is the track played, and
// playing goes on in it from the marker.
function trackShownChanged() {
  if (!listed || listed.format !== 2) return;
  showPlayerNote();
  if (player.playing && JSON.parse(player.sent || '{}').tracks?.[0] !== roll.gridTrack) {
    pausePlaying();
    startPlaying();
  }
}

// Chooses the "Play to" output: what plays stops, and plays on the new one from the same place.
async function chooseOutput() {
  const value = $('play-to').value;
  if (value === player.target) return;
  const was = player.playing;
  if (was) pausePlaying();
  setUsable($('play'), false);
  $('play-to').disabled = true;  // one change at a time: the events pass from one engine to the next
  // the engine that held the events gives them back, for the next to take
  if (player.engineTurn === listingTurn) {
    const { data } = await engineAnswer('returned', { type: 'unload', give: true });
    if (data && player.engineTurn === listingTurn) {
      player.data = data;
      player.dataTurn = listingTurn;
    }
  }
  if (player.target !== 'page') midiStop();
  player.target = value;
  player.engineTurn = -1;
  player.sent = '';
  setUsable($('play'), player.unplayable === '');
  $('play-to').disabled = false;
  if (was) startPlaying();
}

// ---- saving as WAV ------------------------------------------------------------------------------

// The name a saved WAV file gets: the file's name with .wav for its last extension.
function wavName(name) {
  const dot = name.lastIndexOf('.');
  return `${dot > 0 ? name.slice(0, dot) : name}.wav`;
}

// Renders what is played (the loop when there is one) with the page's own sound, offline, and saves
// it as NAME.wav.
async function saveWav() {
  if (!listed || player.saving || player.unplayable || !usable($('save-wav'))) return;
  player.saving = true;
  setUsable($('save-wav'), false);
  const name = files[current].name;
  try {
    const data = await copyOfPlayData();  // for as long as the rendering takes
    const muted = listed.tracks.map((t) => (roll.hidden.has(t.index) ? 1 : 0));
    const loop = player.loop;
    const blob = await soundRenderPlayer({
      data, tracks: playedTracks(), muted, speed: player.speed, transpose: player.transpose,
      from: loop ? loop.a : 0, to: loop ? loop.b : null,
    }, (share) => showProgress('rendering', share));
    const url = URL.createObjectURL(blob);
    const a = document.createElement('a');
    a.href = url;
    a.download = wavName(name);
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  } catch (e) {
    showNotice(`The WAV file could not be made: ${e.message}.`);
  } finally {
    showProgress(null);
    player.saving = false;
    setUsable($('save-wav'), true);
  }
}

// ---- keys and wiring ---------------------------------------------------------------------------------

// Whether a key press goes to a place that takes typing or its own keys (a text box, a choice).
function typingIn(target) {
  return target instanceof HTMLInputElement || target instanceof HTMLSelectElement || target instanceof HTMLTextAreaElement
    || target.isContentEditable;
}

// The player's keys anywhere on the page: Space plays or pauses, F follows again, Home and End go to
// the start and the end, [ and ] set the loop's start and end at the place playing.
function playerKey(event) {
  if (!listed || event.ctrlKey || event.metaKey || event.altKey || typingIn(event.target)) return;
  const onButton = event.target instanceof HTMLButtonElement;
  const ownKeys = event.target === $('roll') || event.target === $('listing');  // their own Home and End
  const keys = {
    ' ': () => !onButton && playOrPause(),
    f: () => setFollow(true),
    F: () => setFollow(true),
    Home: () => !ownKeys && seek(player.loop ? player.loop.a : 0),
    End: () => !ownKeys && seek(player.endTick),
    '[': () => setLoop(tickNow(), player.loop ? player.loop.b : player.endTick),
    ']': () => setLoop(player.loop ? player.loop.a : 0, tickNow()),
  };
  const act = keys[event.key];
  if (!act) return;
  if (act() !== false) event.preventDefault();
}

// Connects the player's controls.
function startPlayerControls() {
  $('play').onclick = playOrPause;
  $('stop').onclick = stopPlaying;
  $('follow').onclick = () => setFollow(!player.follow);
  $('loop-clear').onclick = clearLoop;
  $('save-wav').onclick = saveWav;
  $('play-seek').addEventListener('input', () => seek(Number($('play-seek').value)));
  $('play-speed').addEventListener('input', speedChanged);
  $('play-transpose').addEventListener('change', transposeChanged);
  $('play-to').addEventListener('change', chooseOutput);
  // the browser's MIDI outputs are asked for when the choice is first opened (the question may ask
  // the user's permission), or at once where the permission was given before
  const askOnce = () => midiAsk();
  $('play-to').addEventListener('pointerdown', askOnce, { once: true });
  $('play-to').addEventListener('focus', askOnce, { once: true });
  if (navigator.permissions && typeof navigator.requestMIDIAccess === 'function') {
    navigator.permissions.query({ name: 'midi' }).then((state) => { if (state.state === 'granted') midiAsk(); }, () => {});
  }
  document.addEventListener('keydown', playerKey);
  soundPlayerListen(fromEngine);
}
