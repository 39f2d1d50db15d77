// The page's speed and size against the native program, in one run: the WebAssembly listing under
// Node and the page in headless Chromium, each round beside a run of the native program on the same
// file (medians of interleaved rounds); the roll's redrawing of the big file at every zoom; the size of
// smfdump.html. Run by bench/web.sh, which builds what it needs and makes the file.
//
//   node bench/web_bench.mjs MIDI_FILE NATIVE_SMFDUMP BUILD_WEB_DIR ROUNDS
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { pathToFileURL } from 'node:url';

const [midiFile, nativeGiven, webDir, roundsText] = process.argv.slice(2);
const nativePath = path.resolve(nativeGiven);
const rounds = Number(roundsText ?? 5);
const require = createRequire(path.resolve('web/test/package.json'));
const { chromium } = require('playwright-core');
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-web-bench-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));
const name = path.basename(midiFile);
fs.symlinkSync(path.resolve(midiFile), path.join(scratch, name));

const median = (values) => {
  const v = [...values].sort((a, b) => a - b);
  return v.length % 2 ? v[(v.length - 1) / 2] : (v[v.length / 2 - 1] + v[v.length / 2]) / 2;
};
const ms = (start) => Number(process.hrtime.bigint() - start) / 1e6;
const results = [];
const report = (what, value, target, ok) => {
  results.push(`${what.padEnd(82)} ${value.padStart(10)}   ${target.padEnd(10)} ${ok === null ? '' : ok ? 'met' : 'NOT met'}`);
};

// One run of the native program as a user starts it, writing default.txt; its wall time in ms.
function native() {
  const start = process.hrtime.bigint();
  const run = spawnSync(nativePath, [], { cwd: scratch, input: `${name}\n`, stdio: ['pipe', 'ignore', 'inherit'] });
  if (run.status !== 0) throw new Error(`smfdump ended with status ${run.status} (${run.signal ?? ""} ${run.error?.message ?? ""})`);
  return ms(start);
}

// ---- the WebAssembly listing under Node, in memory --------------------------------------------------
const createSmfdump = require(path.resolve(webDir, 'smfdump_web.js'));
const M = await createSmfdump();
let handed = 0;
M.takeListingPiece = (at, n) => { handed += n; };
M.takeEventLine = () => {};
M.takeNote = () => {};
M._web_builtin_names();
const bytes = fs.readFileSync(midiFile);
const inputAt = M._web_input(bytes.length);  // first: making room may move the module's memory
M.HEAPU8.set(bytes, inputAt);
const nameBytes = new TextEncoder().encode(name);
const nameAt = M._web_name(nameBytes.length);
M.HEAPU8.set(nameBytes, nameAt);
const listingSize = M._web_list();  // the first listing, which also gathers the roll's notes
console.log(`== ${name}: ${bytes.length} bytes, a listing of ${listingSize} bytes`);
const times = { native: [], wasm: [], gathering: [] };
for (let round = 0; round < rounds; round += 1) {
  times.native.push(native());
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
report('native program, whole run (median, ms)', nativeNode.toFixed(0), '', null);
report('WebAssembly listing in memory under Node (median, ms)', median(times.wasm).toFixed(0), '', null);
report('  ... / native program', (median(times.wasm) / nativeNode).toFixed(3), '<= 2', median(times.wasm) / nativeNode <= 2);
report('  the same, gathering the roll and resume points (ms)', median(times.gathering).toFixed(0), '', null);

// ---- the page in Chromium ---------------------------------------------------------------------------
const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update', '--no-first-run',
    '--disable-sync', '--disable-quic', '--enable-precise-memory-info'],
});
// The peak resident memory (KB) of the browser's renderer processes, the page's and its worker's.
// (A page's first listing also pays for the memory it touches first: on this kind of machine that
// costs about 4 ms a megabyte, so the same file listed again in the same page is timed too.)
function rendererPeakKb() {
  let peak = 0;
  for (const pid of fs.readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      const cmdline = fs.readFileSync(`/proc/${pid}/cmdline`, 'latin1');
      if (!cmdline.includes('--type=renderer')) continue;
      const hwm = /VmHWM:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'latin1'));
      if (hwm) peak = Math.max(peak, Number(hwm[1]));
    } catch {
      // a process gone meanwhile
    }
  }
  return peak;
}
const page = { ready: [], inPage: [], again: [], native: [], heap: [], workerHeap: [], rss: [] };
let lastPage = null;
for (let round = 0; round < rounds; round += 1) {
  page.native.push(native());
  const context = await browser.newContext({ viewport: { width: 1200, height: 900 } });
  const tab = await context.newPage();
  await tab.goto(pathToFileURL(path.resolve(webDir, 'smfdump.html')).href);
  await tab.waitForTimeout(300);  // the worker's module compiled, as on a page opened a moment before
  const start = process.hrtime.bigint();
  await tab.setInputFiles('#open-input', midiFile);
  await tab.waitForFunction(() => document.body.dataset.state === 'ready' && document.querySelector('#roll').dataset.drawMs !== undefined, null, { timeout: 600000, polling: 10 });
  page.ready.push(ms(start));
  page.inPage.push(Number(await tab.evaluate(() => document.body.dataset.readyMs)));
  const cdp = await context.newCDPSession(tab);
  page.heap.push((await cdp.send('Runtime.getHeapUsage')).usedSize / 1048576);
  // the worker's heap, through its own debugging session where the browser gives one
  let workerHeap = NaN;
  try {
    const { targetInfos } = await cdp.send('Target.getTargets');
    const target = targetInfos.find((t) => t.type === 'worker');
    if (target) {
      const browserSession = await browser.newBrowserCDPSession();
      const { sessionId } = await browserSession.send('Target.attachToTarget', { targetId: target.targetId, flatten: false });
      const answer = new Promise((resolve) => browserSession.on('Target.receivedMessageFromTarget', (m) => {
        const message = JSON.parse(m.message);
        if (message.id === 1) resolve(message.result.usedSize);
      }));
      await browserSession.send('Target.sendMessageToTarget', { sessionId, message: JSON.stringify({ id: 1, method: 'Runtime.getHeapUsage' }) });
      workerHeap = (await Promise.race([answer, new Promise((resolve) => setTimeout(() => resolve(NaN), 5000))])) / 1048576;
      await browserSession.detach();
    }
  } catch {
    workerHeap = NaN;
  }
  page.workerHeap.push(workerHeap);
  page.rss.push(rendererPeakKb() / 1024);
  const firstTimes = await tab.evaluate(() => JSON.stringify(window.lastTimes));
  // the same file once more in the same page, whose memory the first listing has already touched
  const again = process.hrtime.bigint();
  await tab.setInputFiles('#open-input', midiFile);
  await tab.waitForFunction(() => document.body.dataset.state === 'ready' && document.querySelectorAll('#files li').length === 2, null, { timeout: 600000, polling: 10 });
  page.again.push(ms(again));
  console.log(`   Chromium round ${round + 1}: native ${page.native[round].toFixed(0)} ms, page ready ${page.ready[round].toFixed(0)} ms (${page.inPage[round].toFixed(0)} ms from the file given; the worker: ${firstTimes}), the same file again ${page.again[round].toFixed(0)} ms, page heap ${page.heap[round].toFixed(1)} MB, worker heap ${workerHeap.toFixed(1)} MB, renderers' peak ${page.rss[round].toFixed(0)} MB`);
  if (round < rounds - 1) await context.close();
  else lastPage = tab;
}
const nativePage = median(page.native);
report('native program, whole run (median, ms)', nativePage.toFixed(0), '', null);
report('page in Chromium: from the file given to listing, roll and view ready (median, ms)', median(page.inPage).toFixed(0), '', null);
report('  ... / native program', (median(page.inPage) / nativePage).toFixed(3), '<= 3', median(page.inPage) / nativePage <= 3);
report('  the same, timed from the test driver\'s pick (median, ms)', median(page.ready).toFixed(0), '', null);
report('  ... / native program', (median(page.ready) / nativePage).toFixed(3), '', null);
report('  the same file listed again in the same page (median, ms)', median(page.again).toFixed(0), '', null);
report('  ... / native program', (median(page.again) / nativePage).toFixed(3), '', null);
const heaps = page.heap.map((h, i) => h + (Number.isNaN(page.workerHeap[i]) ? 0 : page.workerHeap[i]));
report('JavaScript heap, page + worker (largest, MB)', Math.max(...heaps).toFixed(1), '< 512', Math.max(...heaps) < 512);
report('  renderer processes\' peak resident memory (largest, MB)', Math.max(...page.rss).toFixed(0), '', null);

// ---- the roll redrawn at every zoom -----------------------------------------------------------------
const extent = await lastPage.evaluate(() => window.smfdumpPage.extent());
const draws = [];
for (let span = extent * 1.02; span >= 200; span /= 4) {
  for (const at of [0, 0.5, 1]) {
    const t0 = Math.max(0, at * (extent - span));
    const answer = await lastPage.evaluate(([a, b]) => window.smfdumpPage.drawView(a, b), [t0, t0 + span]);
    draws.push({ span, t0, ms: answer.ms, how: answer.how, drawn: answer.drawn });
  }
}
for (const d of draws) console.log(`   roll: ${Math.round(d.span)} ticks from ${Math.round(d.t0)}: ${d.ms.toFixed(1)} ms (${d.drawn} ${d.how})`);
const slowest = Math.max(...draws.map((d) => d.ms));
report(`roll redraw of a full window, any zoom (slowest of ${draws.length}, ms)`, slowest.toFixed(1), '<= 50', slowest <= 50);
await browser.close();

// ---- the page's size ----------------------------------------------------------------------------------
const size = fs.statSync(path.resolve(webDir, 'smfdump.html')).size;
report('smfdump.html (KB)', (size / 1024).toFixed(1), '<= 400', size <= 400 * 1024);

console.log('\n== results');
console.log(results.join('\n'));
