// The page's synthesizer against its time budget, in one run: a dense passage (a note every 5 ms, 0.2 s
// each, on sixteen channels of different families) rendered offline in headless Chromium and Firefox,
// the browsers taking turns round by round (medians of the rounds); then the same passage played live in
// Chromium, whose audio thread reports its render time per 128 frames against the 2.9 ms a quantum
// lasts at 44.1 kHz.
//
//   node bench/sound_bench.mjs BUILD_WEB_DIR ROUNDS      (smfdump.html built in BUILD_WEB_DIR; SMFDUMP_BROWSERS
//                                                        as for the page's tests)
import path from 'node:path';
import { browserKinds, browsersToTest, closePage, launch, openPage } from '../web/test/browsers.mjs';

const [webDir = 'build-web', roundsText = '5'] = process.argv.slice(2);
const rounds = Number(roundsText);
const pagePath = path.resolve(webDir, 'smfdump.html');

const median = (values) => {
  const v = [...values].sort((a, b) => a - b);
  return v.length % 2 ? v[(v.length - 1) / 2] : (v[v.length / 2 - 1] + v[v.length / 2]) / 2;
};

// The passage: packed pairs [time, status | data1 << 8 | data2 << 16] over `seconds`, from `start`.
function passage(seconds, start) {
  const programs = [0, 24, 48, 56, 73, 80, 88, 40, 33, 0, 19, 65, 104, 112, 11, 90];
  const data = [];
  programs.forEach((p, ch) => data.push(start, 0xc0 | ch | (p << 8)));
  for (let i = 0; i * 0.005 < seconds; i++) {
    const t = start + 0.01 + i * 0.005, ch = i % 16, key = 36 + ((i * 13) % 60);
    data.push(t, 0x90 | ch | (key << 8) | (90 << 16), t + 0.2, 0x80 | ch | (key << 8));
  }
  return data;
}

const open = [];
for (const kind of browsersToTest()) {
  // a live AudioContext starts without a click only when Chromium is told so
  const session = await launch(kind, { extraArgs: ['--autoplay-policy=no-user-gesture-required'] });
  open.push({ name: browserKinds[kind].title, session, page: await openPage(session, pagePath), speed: [], mean: [] });
}

const seconds = 20;
for (let round = 0; round < rounds; round++) {
  for (const b of open) {
    const r = await b.page.evaluate(async (data, s) => {
      const { stats, ms } = await window.smfdumpPage.soundRender(new Float64Array(data), s);
      return { ms, mean: stats.meanMs, voices: stats.voicesPeak };
    }, passage(seconds, 0), seconds);
    b.speed.push((seconds * 1000) / r.ms);
    b.mean.push(r.mean);
  }
}
for (const b of open) {
  console.log(`${b.name.padEnd(9)} offline, ${seconds} s dense passage: ${median(b.speed).toFixed(1)} s of audio a second, `
    + `${median(b.mean).toFixed(3)} ms per 128 frames (medians of ${rounds} rounds)`);
}

const chromium = open.find((b) => b.name === 'Chromium');
if (chromium) {
  const live = await chromium.page.evaluate(async (data, s) => {
    await window.smfdumpPage.soundStart();
    const packed = new Float64Array(data), start = window.smfdumpPage.soundNow() + 0.2;
    for (let i = 0; i < packed.length; i += 2) packed[i] += start;
    window.smfdumpPage.soundSend(packed);
    await new Promise((resolve) => setTimeout(resolve, (s + 0.5) * 1000));
    return window.smfdumpPage.soundStats();
  }, passage(10, 0), 10);
  console.log(`Chromium  live, 10 s dense passage (${live.way}): ${live.meanMs.toFixed(3)} ms per 128 frames on average, `
    + `${live.maxMs} ms at most, budget ${live.budgetMs.toFixed(2)} ms; ${live.voicesPeak} voices at most, ${live.late} events late`);
}
for (const b of open) {
  await closePage(b.page);
  await b.session.close();
}
