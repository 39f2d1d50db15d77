// The page with a SoundFont, in one run (bench/soundfont_page.sh builds what it needs and finds the
// SoundFont):
//  - loading it through "Load SoundFont…" in headless Chromium and Firefox, the browsers taking turns
//    round by round (medians of the rounds): from the file picked to the page saying it plays it, the
//    main thread's longest gap between frames meanwhile, and, with the sound already playing (so that
//    the samples also go to the audio thread), the audio thread's longest render of a quantum, and the
//    resident memory of the browser's page processes (Chromium's renderers, Firefox's content
//    processes: the page, its workers and its audio thread) before the pick and once loaded (in
//    Chromium after the page's garbage is collected, which its audio thread's and workers' is not);
//  - playing with it in Chromium, live: a dense passage (a note every 5 ms, 0.2 s each, on sixteen
//    channels of different families: 128 voices at once), the audio thread's render time per 128
//    frames against the 2.9 ms a quantum lasts at 44.1 kHz, and the same passage offline in both;
//  - the 20 MB benchmark file (BIG20) played 20 s by the page's player in Chromium with the SoundFont:
//    the render time per quantum (the player's sequencer and the synthesizer), late events, and the
//    page's longest gap between frames while the roll and the listing follow.
//
//   node bench/soundfont_page_bench.mjs SOUNDFONT BUILD_WEB_DIR ROUNDS BIG20
import path from 'node:path';
import fs from 'node:fs';
import { browserKinds, browserProcesses, browsersToTest, closePage, launch, openPage, pickFiles, waitFor } from '../web/test/browsers.mjs';

const [font, webDir = 'build-web', roundsText = '5', big20 = null] = process.argv.slice(2);
const rounds = Number(roundsText);
const pagePath = path.resolve(webDir, 'smfdump.html');
const median = (values) => {
  const v = [...values].sort((a, b) => a - b);
  return v.length % 2 ? v[(v.length - 1) / 2] : (v[v.length / 2 - 1] + v[v.length / 2]) / 2;
};
const report = (what, value, target = '', ok = null) =>
  console.log(`${what.padEnd(86)} ${value.padStart(9)}   ${target.padEnd(9)} ${ok === null ? '' : ok ? 'met' : 'NOT met'}`);

// The passage: packed pairs [time, status | data1 << 8 | data2 << 16] over `seconds`.
function passage(seconds) {
  const programs = [0, 24, 48, 56, 73, 80, 88, 40, 33, 0, 19, 65, 104, 112, 11, 90];
  const data = [];
  programs.forEach((p, ch) => data.push(0, 0xc0 | ch | (p << 8)));
  for (let i = 0; i * 0.005 < seconds; i++) {
    const t = 0.01 + i * 0.005, ch = i % 16, key = 36 + ((i * 13) % 60);
    data.push(t, 0x90 | ch | (key << 8) | (90 << 16), t + 0.2, 0x80 | ch | (key << 8));
  }
  return data;
}

// In the page: notes the longest gap between animation frames in window.gaps until stopped.
function watchFrames() {
  window.gaps = { longest: 0, last: 0, stop: false };
  const frame = (now) => {
    if (window.gaps.last) window.gaps.longest = Math.max(window.gaps.longest, now - window.gaps.last);
    window.gaps.last = now;
    if (!window.gaps.stop) requestAnimationFrame(frame);
  };
  requestAnimationFrame(frame);
}

// The resident memory (MB) of the browser's processes that run pages, workers and audio threads, now.
function pagesResidentMb(session) {
  const mark = session.kind === 'chromium' ? '--type=renderer' : '-contentproc';
  let kb = 0;
  for (const pid of browserProcesses(session)) {
    try {
      if (!fs.readFileSync(`/proc/${pid}/cmdline`, 'latin1').includes(mark)) continue;
      const rss = /VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'latin1'));
      if (rss) kb += Number(rss[1]);
    } catch {
      // a process gone meanwhile
    }
  }
  return kb / 1024;
}

// Resolves after ms milliseconds.
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

const name = path.basename(font);
const open = [];
for (const kind of browsersToTest()) {
  // a live AudioContext starts without a click only when Chromium is told so
  // Chromium lets the page collect its garbage when asked (window.gc), so that memory let go is not counted
  const session = await launch(kind, { extraArgs: ['--autoplay-policy=no-user-gesture-required', ...(kind === 'chromium' ? ['--js-flags=--expose-gc'] : [])] });
  open.push({ kind, title: browserKinds[kind].title, session, load: [], gap: [], audioMax: [], before: [], after: [], running: false });
}

// One load in a fresh page (an empty IndexedDB), the sound playing when the browser's context runs.
async function loadOnce(b) {
  const page = await openPage(b.session, pagePath);
  b.running = await page.evaluate(async () => {
    window.smfdumpPage.soundStart();
    for (let i = 0; i < 20 && window.smfdumpPage.soundNow() === 0; i++) await new Promise((resolve) => setTimeout(resolve, 50));
    return window.smfdumpPage.soundNow() > 0;
  });
  await page.evaluate((n) => {
    // from the input's change to the state saying the SoundFont plays
    const input = document.getElementById('soundfont-input'), state = document.getElementById('sound-state');
    input.addEventListener('change', () => { window.picked = performance.now(); }, { capture: true, once: true });
    new MutationObserver(() => {
      if (!window.loaded && state.textContent.includes(`SoundFont ${n}`)) {
        window.loaded = performance.now();
        window.gaps.stop = true;
      }
    }).observe(state, { childList: true, characterData: true, subtree: true });
  }, name);
  await page.evaluate(watchFrames);
  await pause(1000);  // the worklet's start settled
  await page.evaluate(() => window.gc?.());
  b.before.push(pagesResidentMb(b.session));
  await pickFiles(page, '#soundfont-input', font);
  await waitFor(page, () => window.loaded !== undefined, null, { timeout: 120000, polling: 100 });
  const r = await page.evaluate(async (running) => ({
    ms: window.loaded - window.picked, gap: window.gaps.longest, state: document.getElementById('sound-state').textContent,
    stats: running ? await window.smfdumpPage.soundStats() : null,
  }), b.running);
  if (!r.state.includes('kept in this browser')) console.log(`${b.title}: ${r.state}`);
  await pause(1000);
  await page.evaluate(() => window.gc?.());
  await pause(2000);  // what the load let go of, collected
  b.after.push(pagesResidentMb(b.session));
  b.load.push(r.ms);
  b.gap.push(r.gap);
  if (r.stats) b.audioMax.push(r.stats.maxMs);
  return page;
}

for (let round = 0; round < rounds; round++) {
  for (const b of open) await closePage(await loadOnce(b));
}
for (const b of open) {
  const chromium = b.kind === 'chromium';
  report(`${b.title}: loading ${name}, ms from the pick to the page playing it (median of ${rounds})`, median(b.load).toFixed(0),
    chromium ? '<= 2000' : '', chromium ? median(b.load) <= 2000 : null);
  report(`${b.title}: loading ${name}, the main thread's longest gap between frames, ms (median)`, median(b.gap).toFixed(0));
  report(`${b.title}: loading ${name}, the page processes' resident MB before the pick, and 3 s after it plays (medians)`,
    `${median(b.before).toFixed(0)}, ${median(b.after).toFixed(0)}`);
  if (b.audioMax.length > 0) {
    report(`${b.title}: loading ${name} while the sound runs, the audio thread's longest quantum, ms (median)`, median(b.audioMax).toFixed(0), '< 2.90', median(b.audioMax) < 2.9);
  } else {
    report(`${b.title}: the AudioContext does not run here, so the audio thread's share is not measured`, '-');
  }
}

// playing: offline in each browser, live in Chromium
const seconds = 20;
for (const b of open) {
  const page = await loadOnce(b);
  const speeds = [], means = [];
  for (let round = 0; round < rounds; round++) {
    const r = await page.evaluate(async (data, s) => {
      const { stats, ms } = await window.smfdumpPage.soundRender(new Float64Array(data), s);
      return { ms, mean: stats.meanMs, voices: stats.voicesPeak };
    }, passage(seconds), seconds);
    speeds.push((seconds * 1000) / r.ms);
    means.push(r.mean);
  }
  report(`${b.title}: offline with ${name}, ${seconds} s dense passage, seconds of audio a second (median)`, median(speeds).toFixed(1));
  report(`${b.title}: offline with ${name}, render ms per 128 frames (median of the means)`, median(means).toFixed(3), '< 2.90', median(means) < 2.9);
  if (b.kind === 'chromium' && b.running) {
    const live = await page.evaluate(async (data, s) => {
      const packed = new Float64Array(data), start = window.smfdumpPage.soundNow() + 0.2;
      for (let i = 0; i < packed.length; i += 2) packed[i] += start;
      const before = await window.smfdumpPage.soundStats();
      window.smfdumpPage.soundSend(packed);
      await new Promise((resolve) => setTimeout(resolve, (s + 0.5) * 1000));
      const after = await window.smfdumpPage.soundStats();
      return { before, after };
    }, passage(10), 10);
    const a = live.after, q = a.quanta - live.before.quanta;
    const mean = (a.meanMs * a.quanta - live.before.meanMs * live.before.quanta) / q;
    report(`Chromium: live with ${name}, 10 s dense passage (${a.way}), render ms per quantum: mean`, mean.toFixed(3), `< ${a.budgetMs.toFixed(2)}`, mean < a.budgetMs);
    // the engine keeps one longest quantum since it started: the load's comes first
    report(`Chromium: live with ${name}, the longest quantum before the passage, and by its end (whole ms)`,
      `${live.before.maxMs}, ${a.maxMs}`, `< ${a.budgetMs.toFixed(2)}`, a.maxMs < a.budgetMs);
    report(`Chromium: live with ${name}, voices at most, events played late`, `${a.voicesPeak}, ${a.late}`);
  }
  await closePage(page);
}
// the 20 MB file played by the player, the SoundFont loaded first
const chromium = open.find((b) => b.kind === 'chromium');
if (chromium && chromium.running && big20) {
  const page = await loadOnce(chromium);
  if (await page.$('#play') === null) {
    console.log('this page has no player: the 20 MB file is not played');
  } else {
    await pickFiles(page, '#open-input', big20);
    await waitFor(page, () => document.body.dataset.state === 'ready', null, { timeout: 600000 });
    await page.evaluate(watchFrames);
    const before = await page.evaluate(() => window.smfdumpPage.soundStats());
    await page.click('#play');
    await waitFor(page, () => Number(document.getElementById('roll').dataset.playTick) > 0, null, { timeout: 60000 });
    // from the sound's start; the context's frame then
    const soundFrom = await page.evaluate(() => { window.gaps.longest = 0; return Math.round(window.smfdumpPage.soundContext.currentTime * window.smfdumpPage.soundContext.sampleRate); });
    await new Promise((resolve) => setTimeout(resolve, 20000));
    const played = await page.evaluate(async () => {
      window.gaps.stop = true;
      return { longest: window.gaps.longest, stats: await window.smfdumpPage.soundStats() };
    });
    const a = played.stats, q = a.quanta - before.quanta;
    const mean = (a.meanMs * a.quanta - before.meanMs * before.quanta) / q;
    report(`Chromium: the 20 MB file played 20 s with ${name} (${a.way}), render ms per quantum: mean`, mean.toFixed(3), `< ${a.budgetMs.toFixed(2)}`, mean < a.budgetMs);
    report(`Chromium: the same, the longest quantum before playing, and by the end (whole ms)`, `${before.maxMs}, ${a.maxMs}`, `< ${a.budgetMs.toFixed(2)}`, a.maxMs < a.budgetMs);
    const at = (a.maxFrame - soundFrom) / (128000 / a.budgetMs);  // seconds: the budget is 128 frames'
    report(`Chromium: the same, quanta over their budget while playing (of ${q}; the longest ${at >= 0 ? `${at.toFixed(2)} s after` : `${(-at).toFixed(2)} s before`} the sound's start)`,
      String(a.slow - before.slow), '0', a.slow === before.slow);
    const when = (a.slowFrames ?? []).slice(before.slow).map((f) => ((f - soundFrom) / (128000 / a.budgetMs)).toFixed(2)).join(' ');
    report(`Chromium: the same, the quanta over their budget, seconds after the sound's start: ${when || 'none'}`, '', '', null);
    report('Chromium: the same, voices at most, events played after their frame', `${a.voicesPeak}, ${a.late}`, '0 late', a.late === 0);
    report('Chromium: the same, following, the longest gap between frames, ms', played.longest.toFixed(0), '< 50', played.longest < 50);
  }
  await closePage(page);
} else if (!big20) {
  console.log('no 20 MB file given: not played');
}
for (const b of open) await b.session.close();
console.log('(the machine is shared: figures vary from run to run)');
