// The page's speed and size against the native program, in one run: the WebAssembly listing under
// Node, then the page in headless Chromium and Firefox side by side, each round of each beside a run of
// the native program on the same file (medians of interleaved rounds, the browsers taking turns to go
// first): the first listing of the big file by the page's own time and by the driver's, a small file
// likewise, and a search of the big file's listing; the heaps, the roll's redrawing of the big file at
// every zoom, and the size of smfdump.html. Run by bench/web.sh, which builds what it needs and makes
// the files.
//
//   node bench/web_bench.mjs BIG_MIDI_FILE SMALL_MIDI_FILE NATIVE_SMFDUMP BUILD_WEB_DIR ROUNDS
//   (SMFDUMP_BROWSERS="chromium,firefox" picks the browsers; else those installed)
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';
import {
  browserKinds, browsersToTest, closePage, launch, openPage, pagesPeakKb, pickFiles, textOf, waitFor,
} from '../web/test/browsers.mjs';

const [bigFile, smallFile, nativeGiven, webDir, roundsText] = process.argv.slice(2);
const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const nativePath = path.resolve(nativeGiven);
const pagePath = path.resolve(webDir, 'smfdump.html');
const rounds = Number(roundsText ?? 5);
const require = createRequire(path.join(root, 'web/test/package.json'));
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-web-bench-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));
for (const file of [bigFile, smallFile]) fs.symlinkSync(path.resolve(file), path.join(scratch, path.basename(file)));
const searched = 'end of track';  // what the find box looks for in the big file's listing

const median = (values) => {
  const v = [...values].sort((a, b) => a - b);
  return v.length % 2 ? v[(v.length - 1) / 2] : (v[v.length / 2 - 1] + v[v.length / 2]) / 2;
};
const ms = (start) => Number(process.hrtime.bigint() - start) / 1e6;
const verdict = (ok) => (ok === null ? '' : ok ? 'met' : 'NOT met');

// One run of the native program on file as a user starts it, writing default.txt; its wall time in ms.
function native(file) {
  const start = process.hrtime.bigint();
  const run = spawnSync(nativePath, [], { cwd: scratch, input: `${path.basename(file)}\n`, stdio: ['pipe', 'ignore', 'inherit'] });
  if (run.status !== 0) throw new Error(`smfdump ended with status ${run.status} (${run.signal ?? ''} ${run.error?.message ?? ''})`);
  return ms(start);
}

// ---- the WebAssembly listing under Node, in memory --------------------------------------------------
const nodeRows = [];
const nodeRow = (what, value, target, ok) => nodeRows.push(`${what.padEnd(78)} ${value.padStart(10)}   ${target.padEnd(8)} ${verdict(ok)}`);
const createSmfdump = require(path.resolve(webDir, 'smfdump_web.js'));
const M = await createSmfdump();
let handed = 0;
M.takeListingPiece = (at, n) => { handed += n; };
M.takeEventLine = () => {};
M.takeNote = () => {};
M._web_builtin_names();
const bytes = fs.readFileSync(bigFile);
const inputAt = M._web_input(bytes.length) >>> 0;  // first: making room may move the module's memory
M.HEAPU8.set(bytes, inputAt);
const nameBytes = new TextEncoder().encode(path.basename(bigFile));
const nameAt = M._web_name(nameBytes.length);
M.HEAPU8.set(nameBytes, nameAt);
const listingSize = M._web_list();  // the first listing, which also gathers the roll's notes
console.log(`== ${path.basename(bigFile)}: ${bytes.length} bytes, a listing of ${listingSize} bytes; ${path.basename(smallFile)}: ${fs.statSync(smallFile).size} bytes`);
const times = { native: [], wasm: [], gathering: [] };
for (let round = 0; round < rounds; round += 1) {
  times.native.push(native(bigFile));
  let start = process.hrtime.bigint();
  handed = 0;
  M._web_list_again(-1, 0);  // the listing alone, handed over in pieces
  times.wasm.push(ms(start));
  if (handed !== listingSize) throw new Error(`listed ${handed} bytes, not ${listingSize}`);
  start = process.hrtime.bigint();
  M._web_list();  // the listing with the roll's notes and the resume points gathered
  times.gathering.push(ms(start));
  console.log(`   Node round ${round + 1}: native ${times.native[round].toFixed(0)} ms, WebAssembly ${times.wasm[round].toFixed(0)} ms, with the roll's notes ${times.gathering[round].toFixed(0)} ms`);
}
const nativeNode = median(times.native);
nodeRow('native program, whole run (median, ms)', nativeNode.toFixed(0), '', null);
nodeRow('WebAssembly listing in memory under Node (median, ms)', median(times.wasm).toFixed(0), '', null);
nodeRow('  ... / native program', (median(times.wasm) / nativeNode).toFixed(3), '<= 2', median(times.wasm) / nativeNode <= 2);
nodeRow('  the same, gathering the roll and resume points (ms)', median(times.gathering).toFixed(0), '', null);
const size = fs.statSync(pagePath).size;
nodeRow('smfdump.html (KB)', (size / 1024).toFixed(1), '<= 400', size <= 400 * 1024);

// ---- the page in each browser -----------------------------------------------------------------------
const kinds = browsersToTest();
const sessions = [];
for (const kind of kinds) {
  sessions.push(await launch(kind, { extraArgs: ['--enable-precise-memory-info'] }));
  console.log(`   ${sessions.at(-1).title}: ${sessions.at(-1).version}`);
}

// The JavaScript heaps (MB) of the page and of its worker, where the browser tells them (Chromium,
// over the DevTools protocol; WebDriver BiDi has no such figure, so NaN for Firefox).
async function heaps(session, tab) {
  if (session.kind !== 'chromium') return { page: NaN, worker: NaN };
  const cdp = await tab.createCDPSession();
  const page = (await cdp.send('Runtime.getHeapUsage')).usedSize / 1048576;
  await cdp.detach();
  let worker = NaN;
  try {
    const [first] = tab.workers();
    if (first) worker = (await first.client.send('Runtime.getHeapUsage')).usedSize / 1048576;
  } catch {
    worker = NaN;
  }
  return { page, worker };
}

// Opens a fresh page and gives it file, as a user picks it a moment after opening the page; returns
// the tab and the times to listing and roll shown: the page's own (readyMs) and the driver's.
async function firstListing(session, file) {
  const tab = await openPage(session, pagePath, { viewport: { width: 1200, height: 900 } });
  await new Promise((resolve) => setTimeout(resolve, 300));  // the worker's module compiled meanwhile
  const start = process.hrtime.bigint();
  await pickFiles(tab, '#open-input', file);
  await waitFor(tab, () => document.body.dataset.state === 'ready' && document.querySelector('#roll').dataset.drawMs !== undefined,
    null, { timeout: 600000, polling: 10 });
  const driver = ms(start);
  const inPage = Number(await tab.evaluate(() => document.body.dataset.readyMs));
  return { tab, driver, inPage };
}

// Searches the listing shown with the find box; the time from Enter to the count of matches shown.
async function search(tab, text) {
  await tab.locator('#find').fill(text);
  await tab.focus('#find');
  const start = process.hrtime.bigint();
  await tab.keyboard.press('Enter');
  await waitFor(tab, () => / of |No match/.test(document.querySelector('#find-count').textContent), null, { timeout: 600000, polling: 10 });
  const took = ms(start);
  const count = await textOf(tab, '#find-count');
  if (!/ of 16$/.test(count)) throw new Error(`the find box says "${count}" for "${text}", not 16 matches`);
  return took;
}

const figures = Object.fromEntries(kinds.map((kind) => [kind, {
  big: [], bigDriver: [], again: [], search: [], small: [], smallDriver: [], heap: [], workerHeap: [], rss: [],
}]));
const natives = { big: [], small: [] };
const lastTabs = new Map();  // each browser's page of the last round, the big file listed, for the roll
for (let round = 0; round < rounds; round += 1) {
  const order = round % 2 === 0 ? sessions : [...sessions].reverse();
  natives.big.push(native(bigFile));
  for (const session of order) {
    const f = figures[session.kind];
    const { tab, driver, inPage } = await firstListing(session, bigFile);
    f.bigDriver.push(driver);
    f.big.push(inPage);
    const heap = await heaps(session, tab);
    f.heap.push(heap.page);
    f.workerHeap.push(heap.worker);
    f.rss.push(pagesPeakKb(session) / 1024);
    const firstTimes = await tab.evaluate(() => JSON.stringify(window.smfdumpPage.lastTimes));
    f.search.push(await search(tab, searched));
    // the same file once more in the same page, whose memory the first listing has already touched
    const again = process.hrtime.bigint();
    await pickFiles(tab, '#open-input', bigFile);
    await waitFor(tab, () => document.body.dataset.state === 'ready' && document.querySelectorAll('#files li').length === 2,
      null, { timeout: 600000, polling: 10 });
    f.again.push(ms(again));
    console.log(`   ${session.title} round ${round + 1}, big file: native ${natives.big[round].toFixed(0)} ms, page ready ${inPage.toFixed(0)} ms by its own time (${driver.toFixed(0)} ms by the driver; the worker: ${firstTimes}), search ${f.search[round].toFixed(0)} ms, the same file again ${f.again[round].toFixed(0)} ms, page heap ${heap.page.toFixed(1)} MB, worker heap ${heap.worker.toFixed(1)} MB, pages' peak ${f.rss[round].toFixed(0)} MB`);
    if (round < rounds - 1) await closePage(tab);
    else lastTabs.set(session.kind, tab);
  }
  natives.small.push(native(smallFile));
  for (const session of order) {
    const f = figures[session.kind];
    const { tab, driver, inPage } = await firstListing(session, smallFile);
    f.smallDriver.push(driver);
    f.small.push(inPage);
    console.log(`   ${session.title} round ${round + 1}, small file: native ${natives.small[round].toFixed(0)} ms, page ready ${inPage.toFixed(0)} ms by its own time (${driver.toFixed(0)} ms by the driver)`);
    await closePage(tab);
  }
}

// ---- the roll redrawn at every zoom, in each browser ----------------------------------------------------
const slowest = {};
for (const session of sessions) {
  const tab = lastTabs.get(session.kind);
  try {
    const extent = await tab.evaluate(() => window.smfdumpPage.extent());
    const draws = [];
    for (let span = extent * 1.02; span >= 200; span /= 4) {
      for (const at of [0, 0.5, 1]) {
        const t0 = Math.max(0, at * (extent - span));
        const answer = await tab.evaluate(([a, b]) => window.smfdumpPage.drawView(a, b), [t0, t0 + span]);
        draws.push({ span, t0, ms: answer.ms, how: answer.how, drawn: answer.drawn });
      }
    }
    for (const d of draws) console.log(`   ${session.title} roll: ${Math.round(d.span)} ticks from ${Math.round(d.t0)}: ${d.ms.toFixed(1)} ms (${d.drawn} ${d.how})`);
    slowest[session.kind] = { ms: Math.max(...draws.map((d) => d.ms)), count: draws.length };
  } catch (error) {
    console.log(`   ${session.title} roll: the roll could not be drawn again: ${error.message.split('\n')[0]}`);
    slowest[session.kind] = { ms: NaN, count: 0 };
  }
  await closePage(tab).catch((error) => console.log(`   ${session.title}: ${error.message}`));
}
for (const session of sessions) await session.close();

// ---- the table ----------------------------------------------------------------------------------------
const titles = kinds.map((kind) => browserKinds[kind].title);
const rows = [`${''.padEnd(70)} ${titles.map((t) => t.padStart(10)).join(' ')}   target`];
// A row of the table: each browser's figure (NaN: none), the target, and whether each meets it.
const row = (what, values, digits, target = '', meets = null) => {
  const shown = kinds.map((kind) => (Number.isNaN(values[kind]) ? 'n/a' : values[kind].toFixed(digits)).padStart(10));
  const met = meets === null ? '' : kinds.map((kind) => (Number.isNaN(values[kind]) ? 'n/a' : verdict(meets(values[kind])))).join(' / ');
  rows.push(`${what.padEnd(70)} ${shown.join(' ')}   ${target.padEnd(8)} ${met}`);
};
const each = (fn) => Object.fromEntries(kinds.map((kind) => [kind, fn(figures[kind], kind)]));
const nativeBig = median(natives.big);
const nativeSmall = median(natives.small);
row('native program, big file, whole run (median, ms; the same runs)', each(() => nativeBig), 0);
row('first listing of the big file, by the page\'s own time (median, ms)', each((f) => median(f.big)), 0);
row('  ... / native program', each((f) => median(f.big) / nativeBig), 3, '<= 1.6', (v) => v <= 1.6);
row('  the same, timed by the driver from the file handed over (median, ms)', each((f) => median(f.bigDriver)), 0);
row('  ... / native program', each((f) => median(f.bigDriver) / nativeBig), 3, '<= 2', (v) => v <= 2);
row('  the same file listed again in the same page (median, ms)', each((f) => median(f.again)), 0);
row('  ... / native program', each((f) => median(f.again) / nativeBig), 3);
row(`search of the big file's listing, "${searched}" (median, ms)`, each((f) => median(f.search)), 0);
row('  ... / native program\'s listing of it', each((f) => median(f.search) / nativeBig), 3, '<= 1.5', (v) => v <= 1.5);
row('native program, small file, whole run (median, ms; the same runs)', each(() => nativeSmall), 0);
row('first listing of the small file, by the page\'s own time (median, ms)', each((f) => median(f.small)), 0);
row('  ... / native program', each((f) => median(f.small) / nativeSmall), 3, '<= 3', (v) => v <= 3);
row('  the same, timed by the driver (median, ms)', each((f) => median(f.smallDriver)), 0);
row('  ... / native program', each((f) => median(f.smallDriver) / nativeSmall), 3, '<= 3', (v) => v <= 3);
row('JavaScript heap, page + worker (largest, MB)', each((f) => Math.max(...f.heap.map((h, i) => h + (Number.isNaN(f.workerHeap[i]) ? 0 : f.workerHeap[i])))), 1, '< 512', (v) => v < 512);
row('processes running the pages: peak resident memory (largest, MB)', each((f) => Math.max(...f.rss)), 0);
row('roll redraw of a full window, any zoom (slowest, ms)', each((f, kind) => slowest[kind].ms), 1, '<= 50', (v) => v <= 50);

console.log(`\n== results: ${path.basename(bigFile)} under Node, and the page's size`);
console.log(nodeRows.join('\n'));
console.log(`\n== results: the page, ${path.basename(bigFile)} (big) and ${path.basename(smallFile)} (small), ${rounds} rounds`);
console.log(rows.join('\n'));
