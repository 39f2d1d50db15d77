// SoundFonts that claim more than they hold (web/test/sf2.mjs, hostileSoundFonts) loaded by the page
// in headless Chromium and Firefox, each in a browser of its own: from the file picked to the page
// saying what it made of it, and the resident memory of the browser's page processes (Chromium's
// renderers, Firefox's content processes: the page, its workers and its audio thread) before the pick,
// at their peak, and once loaded. bench/soundfont_page.sh runs it.
//
//   node bench/soundfont_page_hostile.mjs BUILD_WEB_DIR
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { browserKinds, browserProcesses, browsersToTest, closePage, launch, openPage, pickFiles, waitFor } from '../web/test/browsers.mjs';
import { hostileSoundFonts } from '../web/test/sf2.mjs';

const [webDir = 'build-web'] = process.argv.slice(2);
const pagePath = path.resolve(webDir, 'smfdump.html');
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-hostile-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));

// The page processes' resident memory in MB: { now (summed), peak (the largest peak of one) }.
function pagesMb(session) {
  const mark = session.kind === 'chromium' ? '--type=renderer' : '-contentproc';
  let now = 0, peak = 0;
  for (const pid of browserProcesses(session)) {
    try {
      if (!fs.readFileSync(`/proc/${pid}/cmdline`, 'latin1').includes(mark)) continue;
      const status = fs.readFileSync(`/proc/${pid}/status`, 'latin1');
      now += Number(/VmRSS:\s+(\d+)/.exec(status)?.[1] ?? 0);
      peak = Math.max(peak, Number(/VmHWM:\s+(\d+)/.exec(status)?.[1] ?? 0));
    } catch {
      // a process gone meanwhile
    }
  }
  return { now: now / 1024, peak: peak / 1024 };
}

// Resolves after ms milliseconds.
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

let vorbis = null;
try {
  const made = path.join(scratch, 'a4.ogg');
  execFileSync('sox', ['-n', '-r', '22050', '-c', '1', made, 'synth', '0.5', 'sine', '440'], { stdio: 'ignore' });
  vorbis = fs.readFileSync(made);
} catch {
  console.log('sox is not there: the Vorbis stream with a lying length is left out');
}
const hostile = hostileSoundFonts(vorbis);
for (const h of hostile) fs.writeFileSync(path.join(scratch, h.name), h.file);

for (const kind of browsersToTest()) {
  for (const h of hostile) {
    const session = await launch(kind);
    const page = await openPage(session, pagePath);
    await pause(1000);
    const before = pagesMb(session);
    const started = Date.now();
    await pickFiles(page, '#soundfont-input', path.join(scratch, h.name));
    let state = '';
    try {
      await waitFor(page, () => document.getElementById('soundfont-progress-box').hidden
        && document.getElementById('sound-state').textContent.includes('.sf'), null, { timeout: 120000, polling: 20 });
      state = await page.evaluate(() => document.getElementById('sound-state').textContent);
    } catch (error) {
      state = `no answer: ${error.message}`;
    }
    const ms = Date.now() - started;
    const peak = pagesMb(session).peak;
    await pause(2000);
    const after = pagesMb(session);
    console.log(`${browserKinds[kind].title}: ${h.name} (${h.file.length} bytes): ${ms} ms; page processes ${before.now.toFixed(0)} MB before, `
      + `one at most ${peak.toFixed(0)} MB, ${after.now.toFixed(0)} MB after\n  ${state.slice(0, 240)}`);
    await closePage(page).catch(() => {});
    await session.close();
  }
}
console.log('(the machine is shared: figures vary from run to run)');
