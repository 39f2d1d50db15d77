// The player's speed and size, in one run (bench/play.sh builds what it needs and makes the files):
//  - under Node: what playing keeps of the events (the compact copy: every channel event, notes on and
//    off among them) against the roll's notes (10 bytes a note), and the
//    sequencer's start at places across the 50 MB file (the state before the place read, the first
//    second's messages made), medians of interleaved rounds;
//  - in Chromium: the page's size; the 20 MB file played in real time with the roll and the listing
//    following (the audio thread's render time per 128 frames against its budget, late events, the
//    main thread's longest gap between frames); seeking while the 50 MB file plays (from the click on
//    the ruler to the first moment's sound leaving the engine); Save as WAV of a three-minute file
//    made here (a band of six tracks, about 18 notes a second) against real time; in Firefox too for
//    the WAV file (its AudioContext does not run headless here, so it plays nothing live).
//
//   node bench/play_bench.mjs BIG20 BIG50 BUILD_WEB_DIR ROUNDS
import * as sequencer from '../web/audio/sequencer.js';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { browserKinds, browsersToTest, closePage, launch, openPage, pickFiles, saveByClick, waitFor } from '../web/test/browsers.mjs';
import { endOfTrack, event, file, tempo } from '../web/test/smf.mjs';

const [big20, big50, webDir, roundsText] = process.argv.slice(2);
const rounds = Number(roundsText ?? 5);
const require = createRequire(import.meta.url);
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-play-bench-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));
const median = (values) => {
  const v = [...values].sort((a, b) => a - b);
  return v.length % 2 ? v[(v.length - 1) / 2] : (v[v.length / 2 - 1] + v[v.length / 2]) / 2;
};
const lines = [];
const report = (what, value, target, ok) => {
  const line = `${what.padEnd(78)} ${value.padStart(12)}   ${target.padEnd(12)} ${ok === null ? '' : ok ? 'met' : 'NOT met'}`;
  lines.push(line);
  console.log(line);
};

// ---- under Node: the compact copy and the sequencer's start ------------------------------------------

const createSmfdump = require(path.resolve(webDir, 'smfdump_web.js'));

// Lists a file with the module and returns its compact copy and the roll's note count.
async function copyOf(midi) {
  const M = await createSmfdump();
  M.takeListingPiece = () => {};
  M.takeEventLine = () => {};
  M.takeNote = () => {};
  M._web_builtin_names();
  const bytes = fs.readFileSync(midi);
  const at = M._web_input(bytes.length) >>> 0;
  M.HEAPU8.set(bytes, at);
  M._web_list();
  const lists = M._web_gathered() >>> 2;
  const notes = M.HEAPU32[lists + 1];
  const started = performance.now();
  const where = (M._web_play_data() >>> 0) / 4;
  const data = M.HEAPU32.slice(where, where + (M._web_play_data_words() >>> 0));
  M._web_play_data_release();
  return { data, notes, ms: performance.now() - started };
}

for (const [name, midi] of [['20 MB', big20], ['50 MB', big50]]) {
  const { data, notes, ms } = await copyOf(midi);
  const rollBytes = notes * 10;
  // the copy holds every note on and off, 8 bytes each: 16 bytes a note against the roll's 10
  report(`${name} file: what playing keeps (${(data.byteLength / 1e6).toFixed(1)} MB) / the roll's notes (${(rollBytes / 1e6).toFixed(1)} MB)`,
    (data.byteLength / rollBytes).toFixed(2), '<= 1.75', data.byteLength <= 1.75 * rollBytes);
  report(`${name} file: making the compact copy, ms`, ms.toFixed(0), '', null);
  if (midi !== big50) continue;
  const { seq, seqLoad, seqSelect, seqStart, seqRun } = sequencer;
  const info = seqLoad(data.buffer);
  seqSelect(info.tracks.map((t) => t.index));
  const places = [0.1, 0.3, 0.5, 0.7, 0.9, 0.99];
  const times = places.map(() => []);
  for (let round = 0; round < rounds; round += 1) {
    places.forEach((share, i) => {
      const started = performance.now();
      seqStart(seq.endTick * share, 0, () => {});
      seqRun(1, () => {});
      times[i].push(performance.now() - started);
    });
  }
  const worst = Math.max(...times.map(median));
  report('50 MB file: the sequencer\'s start anywhere (state before it, first second), worst median ms', worst.toFixed(1), '', null);
}

// ---- in the browsers ----------------------------------------------------------------------------------

const pagePath = path.resolve(webDir, 'smfdump.html');
const size = fs.statSync(pagePath).size;
report('smfdump.html, bytes', String(size), '<= 409600', size <= 400 * 1024);

// A three-minute file of a band, made here: tempo 120, 4/4, 90 bars; drums (channel 10), bass, piano
// chords, a string pad and a flute tune, each a track.
function threeMinutes() {
  const bars = 90;
  const q = 480;
  const notes = (list) => {
    // list: [tick, channel, key, length, velocity], made into events of one track in order of time
    const all = [];
    for (const [tick, ch, key, length, velocity] of list) all.push([tick, [0x90 | ch, key, velocity]], [tick + length, [0x80 | ch, key, 64]]);
    all.sort((a, b) => a[0] - b[0]);
    let last = 0;
    return all.map(([tick, bytes]) => {
      const e = event(tick - last, bytes);
      last = tick;
      return e;
    });
  };
  const chords = [[48, 52, 55], [45, 48, 52], [41, 45, 48], [43, 47, 50]];
  const drums = [];
  const bass = [];
  const piano = [];
  const pad = [];
  const tune = [];
  const scale = [72, 74, 76, 77, 79, 81, 83, 84];
  for (let bar = 0; bar < bars; bar += 1) {
    const chord = chords[bar % 4];
    for (let beat = 0; beat < 4; beat += 1) {
      const t = (bar * 4 + beat) * q;
      drums.push([t, 9, beat % 2 ? 38 : 36, 120, 100]);
      drums.push([t, 9, 42, 60, 70], [t + q / 2, 9, 42, 60, 60]);
      bass.push([t, 0, chord[0] - 12 + (beat === 2 ? 7 : 0), q - 40, 90]);
      for (const key of chord) piano.push([t, 1, key + 12, q - 20, 70 + beat * 5]);
      for (let e = 0; e < 2; e += 1) tune.push([t + e * (q / 2), 3, scale[(bar * 3 + beat * 2 + e) % 8], q / 2 - 30, 85]);
    }
    if (bar % 2 === 0) for (const key of chord) pad.push([bar * 4 * q, 2, key, 8 * q - 60, 60]);
  }
  return file(1, q, [
    [tempo(0, 500000), event(0, [0xff, 0x58, 4, 4, 2, 24, 8]), endOfTrack(bars * 4 * q)],
    [...notes(drums), endOfTrack()],
    [event(0, [0xc0, 33]), ...notes(bass), endOfTrack()],
    [event(0, [0xc1, 0]), ...notes(piano), endOfTrack()],
    [event(0, [0xc2, 48]), event(0, [0xb2, 91, 60]), ...notes(pad), endOfTrack()],
    [event(0, [0xc3, 73]), ...notes(tune), endOfTrack()],
  ]);
}
const band = path.join(scratch, 'band.mid');
fs.writeFileSync(band, threeMinutes());

// Opens the page with a file listed.
async function opened(session, midi) {
  const page = await openPage(session, pagePath);
  await pickFiles(page, '#open-input', midi);
  await waitFor(page, () => document.body.dataset.state === 'ready', null, { timeout: 600000 });
  return page;
}

for (const kind of browsersToTest()) {
  const title = browserKinds[kind].title;
  const session = await launch(kind, { extraArgs: ['--autoplay-policy=no-user-gesture-required'] });
  try {
    // Save as WAV of three minutes: from the click to the file saved
    const page = await opened(session, band);
    const wavTimes = [];
    for (let round = 0; round < Math.min(rounds, 3); round += 1) {
      const started = performance.now();
      await saveByClick(page, '#save-wav', { timeout: 600000 });
      wavTimes.push(performance.now() - started);
    }
    const faster = 180 / (median(wavTimes) / 1000);
    report(`${title}: Save as WAV of a three-minute file, times faster than real time`, faster.toFixed(1), kind === 'chromium' ? '>= 20' : '', kind === 'chromium' ? faster >= 20 : null);
    await closePage(page);
    if (kind !== 'chromium') continue;

    // the 20 MB file played for 20 s with following on
    const live = await opened(session, big20);
    await live.evaluate(() => {
      window.gaps = { longest: 0, stop: false, last: 0 };
      const frame = (now) => {
        if (window.gaps.last) window.gaps.longest = Math.max(window.gaps.longest, now - window.gaps.last);
        window.gaps.last = now;
        if (!window.gaps.stop) requestAnimationFrame(frame);
      };
      requestAnimationFrame(frame);
    });
    await live.click('#play');
    await waitFor(live, () => Number(document.getElementById('roll').dataset.playTick) > 0, null, { timeout: 60000 });
    // from the sound's start; the context's frame then
    const soundFrom = await live.evaluate(() => { window.gaps.longest = 0; return Math.round(window.smfdumpPage.soundContext.currentTime * window.smfdumpPage.soundContext.sampleRate); });
    await new Promise((resolve) => setTimeout(resolve, 2000));
    const early = await live.evaluate(() => window.smfdumpPage.soundStats());
    await new Promise((resolve) => setTimeout(resolve, 18000));
    const played = await live.evaluate(async () => {
      window.gaps.stop = true;
      // the whole quantum's time (the sequencer's and the synthesizer's), from the player's processor
      const timing = await new Promise((resolve) => {
        window.smfdumpPage.soundPlayerListen((m) => { if (m.type === 'timing') resolve(m); else window.smfdumpPage.fromEngine(m); });
        window.smfdumpPage.soundPlayerPost({ type: 'timing' });
      });
      return { longest: window.gaps.longest, stats: await window.smfdumpPage.soundStats(), timing, tick: Number(document.getElementById('roll').dataset.playTick) };
    });
    const s = played.stats;
    report(`Chromium: 20 MB file played 20 s (${s.way}), render ms per quantum: mean`, s.meanMs.toFixed(3), `< ${s.budgetMs.toFixed(2)}`, s.meanMs < s.budgetMs);
    report(`Chromium: 20 MB file played 20 s, render ms per quantum: longest (by ${s.clock}())`, s.maxMs.toFixed(s.clock === 'Date.now' ? 0 : 2), `< ${s.budgetMs.toFixed(2)}`, s.maxMs < s.budgetMs);
    const at = (s.maxFrame - soundFrom) / (128000 / s.budgetMs);  // seconds: the budget is 128 frames'
    report(`Chromium: 20 MB file played 20 s, quanta over their budget (of ${s.quanta}; the longest ${at >= 0 ? `${at.toFixed(2)} s after` : `${(-at).toFixed(2)} s before`} the sound's start)`, String(s.slow), '0', s.slow === 0);
    report('Chromium: 20 MB file played 20 s, of them in its first two seconds (and before)', String(early.slow), '', null);
    const when = (s.slowFrames ?? []).map((f) => ((f - soundFrom) / (128000 / s.budgetMs)).toFixed(2)).join(' ');
    report(`Chromium: 20 MB file played 20 s, the quanta over their budget, seconds after the sound's start: ${when || 'none'}`, '', '', null);
    report('Chromium: 20 MB file played 20 s, events played after their frame', String(s.late), '0', s.late === 0);
    const t = played.timing;
    report('Chromium: 20 MB file played 20 s, sequencer and synthesizer per quantum: mean ms', t.meanMs.toFixed(3), `< ${s.budgetMs.toFixed(2)}`, t.meanMs < s.budgetMs);
    const longestAt = (t.maxFrame - soundFrom) / (128000 / s.budgetMs);
    report(`Chromium: 20 MB file played 20 s, sequencer and synthesizer per quantum: longest (whole ms; ${longestAt >= 0 ? `${longestAt.toFixed(2)} s after` : `${(-longestAt).toFixed(2)} s before`} the sound's start)`, String(t.maxMs), `< ${s.budgetMs.toFixed(2)}`, t.maxMs < s.budgetMs);
    report('Chromium: the live player\'s warm-up (a made-up passage rendered before its first quantum), ms', t.warmUpMs.toFixed(0), '', null);
    report(`Chromium: 20 MB file played 20 s following (to tick ${played.tick}), longest gap between frames, ms`, played.longest.toFixed(0), '< 50', played.longest < 50);
    await closePage(live);

    // seeking while the 50 MB file plays: clicks on the ruler spread over the file
    const seeking = await opened(session, big50);
    await seeking.click('#play');
    await waitFor(seeking, () => Number(document.getElementById('roll').dataset.playTick) > 0, null, { timeout: 60000 });
    await seeking.click('#follow');  // following off: the whole file stays in view
    await seeking.evaluate(() => window.smfdumpPage.fitRoll());
    const seeks = [];
    for (const share of [0.9, 0.2, 0.6, 0.99, 0.4, 0.75, 0.1]) {
      const point = await seeking.evaluate((s) => {
        const rect = document.getElementById('roll').getBoundingClientRect();
        return { x: rect.left + (rect.width * s) / 1.02, y: rect.top + 3 };  // the whole file is 1.02 views
      }, share);
      await seeking.evaluate(() => { delete document.getElementById('roll').dataset.seekMs; });
      await seeking.mouse.click(point.x, point.y);
      await waitFor(seeking, () => document.getElementById('roll').dataset.seekMs !== undefined, null, { timeout: 10000 });
      seeks.push(Number(await seeking.evaluate(() => document.getElementById('roll').dataset.seekMs)));
      await new Promise((resolve) => setTimeout(resolve, 500));
    }
    report(`Chromium: seeking in the 50 MB file while it plays, to the sound, ms: median of ${seeks.length}`, median(seeks).toFixed(0), '<= 100', median(seeks) <= 100);
    report('Chromium: seeking in the 50 MB file while it plays, to the sound, ms: longest', Math.max(...seeks).toFixed(0), '<= 100', Math.max(...seeks) <= 100);
    await closePage(seeking);
  } finally {
    await session.close();
  }
}
console.log('(the machine is shared: figures vary from run to run)');
