// The page in a real browser: Debian's Chromium, headless, driven by playwright-core, opening the built
// smfdump.html from file://. Each listing the page shows or saves is compared with the native
// program's default.txt for the same file.
//
//   node --test web/test/page_test.mjs      (SMFDUMP_PAGE, SMFDUMP_NATIVE, SMFDUMP_GENERATOR name the
//                                           page, the native program and the big-file generator)
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pagePath = path.resolve(root, process.env.SMFDUMP_PAGE ?? 'build-web/smfdump.html');
const nativePath = path.resolve(root, process.env.SMFDUMP_NATIVE ?? 'build/smfdump');
const generatorPath = path.resolve(root, process.env.SMFDUMP_GENERATOR ?? 'build/bench/make_big_smf');
const demo = path.join(root, 'samples/demo.mid');
const screenshot = path.join(root, 'web/smfdump-page.png');  // the README's picture

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-page-'));
let browser;
const offline = [];  // every request the pages made that left the machine

before(async () => {
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--no-first-run', '--disable-sync', '--disable-quic'],
  });
});

after(async () => {
  await browser?.close();
  fs.rmSync(scratch, { recursive: true, force: true });
});

// A fresh page with the built smfdump.html open, its requests watched.
async function openPage(context) {
  const page = await (context ?? browser).newPage({ viewport: { width: 1100, height: 860 }, acceptDownloads: true });
  page.on('request', (request) => {
    if (!/^(file|data|blob):/.test(request.url())) offline.push(request.url());
  });
  page.on('pageerror', (error) => assert.fail(`the page threw: ${error.message}`));
  await page.goto(pathToFileURL(pagePath).href);
  return page;
}

// Picks files with the page's own file button and waits until the first is listed.
async function pick(page, files) {
  await page.setInputFiles('#open-input', files);
  await page.waitForFunction(() => document.body.dataset.state === 'ready', null, { timeout: 300000 });
  await page.waitForFunction(() => document.querySelector('#roll').dataset.drawMs !== undefined);
}

// The native program's listing of file, as default.txt (with the names file beside the program).
function nativeListing(file, program = nativePath) {
  const folder = fs.mkdtempSync(path.join(scratch, 'native-'));
  const name = path.basename(file);
  fs.symlinkSync(path.resolve(file), path.join(folder, name));
  const run = spawnSync(program, [], { cwd: folder, input: `${name}\n` });
  assert.equal(run.status, 0, `the native program ended with ${run.status}`);
  return fs.readFileSync(path.join(folder, 'default.txt'));
}

// Saves the listing with the page's button; returns the file the browser saved, and its name.
async function saveListing(page) {
  const [download] = await Promise.all([page.waitForEvent('download', { timeout: 300000 }), page.click('#save')]);
  const saved = path.join(scratch, `saved-${Date.now()}.txt`);
  await download.saveAs(saved);
  return { saved, name: download.suggestedFilename() };
}

// The note-on lines of a listing whose velocity is above 0.
function noteOnLines(listing) {
  let count = 0;
  for (const line of listing.toString('latin1').split('\n')) {
    const on = /^ *\d+[TF]:\d+:\d+:\d+\t o: c:\d+ \t[^ ]* \.\.\.(\d+)/.exec(line);
    if (on && Number(on[1]) > 0) count += 1;
  }
  return count;
}

// Clicks the listing row whose text is exactly text.
async function clickRow(page, text) {
  const box = await page.evaluateHandle((wanted) => [...document.querySelectorAll('#listing-lines div')].find((r) => r.textContent === wanted), text);
  assert.ok(await box.evaluate((row) => row !== undefined), `no row shows ${JSON.stringify(text)}`);
  await box.asElement().click();
}

// Finds text in the listing with the find box; returns what the count beside it says.
async function find(page, text) {
  await page.fill('#find', text);
  await page.press('#find', 'Enter');
  await page.waitForFunction(() => / of |No match/.test(document.querySelector('#find-count').textContent), null, { timeout: 120000 });
  return page.textContent('#find-count');
}

// The text of the rows the listing shows, those with a line.
async function shownRows(page) {
  return page.$$eval('#listing-lines div[data-offset]', (rows) => rows.map((r) => r.textContent));
}

test('picking the demo file shows its listing, and the saved listing is default.txt', async () => {
  const page = await openPage();
  await pick(page, demo);
  const native = nativeListing(demo);
  const lines = native.toString('latin1').split('\n');
  const rows = await shownRows(page);
  assert.ok(rows.length >= 20, `only ${rows.length} lines shown`);
  assert.deepEqual(rows, lines.slice(0, rows.length), 'the lines shown are not the listing\'s first lines');
  const { saved, name } = await saveListing(page);
  assert.equal(name, 'demo.txt');
  assert.ok(fs.readFileSync(saved).equals(native), 'the saved listing differs from default.txt');
  await page.close();
});

test('the roll holds a note for each note-on line, and roll and listing choose each other', async () => {
  const page = await openPage();
  await pick(page, demo);
  const native = nativeListing(demo);
  assert.equal(Number(await page.getAttribute('#roll', 'data-notes')), noteOnLines(native));

  // the third note, D6 on channel 1 of track 2: its note-on line is chosen, its note-off line linked
  const point = await page.evaluate(() => window.smfdumpPage.notePoint(2));
  await page.mouse.click(point.x, point.y);
  await page.waitForFunction(() => document.querySelector('#listing-lines div.selected') !== null);
  assert.equal(await page.getAttribute('#roll', 'data-chosen'), '2');
  assert.equal(await page.textContent('#listing-lines div.selected'), '  2T:0:2:0\t o: c:1 \tD_6 ...85');
  await page.waitForFunction(() => document.querySelectorAll('#listing-lines div.linked').length === 2);
  const linked = await page.$$eval('#listing-lines div.linked', (rows) => rows.map((r) => r.textContent));
  assert.deepEqual(linked, ['  2T:0:2:0\t o: c:1 \tD_6 ...85', '  2T:1:0:0\t x: c:1 \tD_6 ...64']);
  // the README's picture: the demo file's roll above its listing, a note chosen in it
  await page.screenshot({ path: screenshot });

  // choosing the pitch bend line marks its moment: measure 0, beat 2 of 3/4, tick 240 at 480 a beat
  await clickRow(page, '  2T:0:2:240\t pitch bend: c:1   0H  48H ');
  await page.waitForFunction(() => document.querySelector('#roll').dataset.markerTick === '1200');
  // and the keyboard moves the choice to the next line, and the marker with it
  await page.keyboard.press('ArrowDown');
  await page.waitForFunction(() => document.querySelector('#roll').dataset.markerTick === '1440');
  assert.equal(await page.textContent('#listing-lines div.selected'), '  2T:1:0:0\t x: c:1 \tD_6 ...64');

  await page.close();
});

test('a names file of the user\'s changes the program names, and is kept for the next visit', async () => {
  const context = await browser.newContext();
  const page = await openPage(context);
  const names = path.join(scratch, 'initial.txt');
  // a byte-order mark, a heading, CR LF: the page reads it as the program reads initial.txt
  fs.writeFileSync(names, Buffer.concat([Buffer.from([0xef, 0xbb, 0xbf]), Buffer.from('[mine]\r\nMy Own Piano\r\nBright\r\n')]));
  await page.setInputFiles('#names-input', names);
  await pick(page, demo);
  assert.equal(await find(page, '/My Own Piano/'), '1 of 1');
  assert.match(await page.textContent('#listing-lines div.selected'), /pc: c:1 {3}0H \/My Own Piano\/$/);
  // the same names file beside the native program gives the same listing
  const folder = fs.mkdtempSync(path.join(scratch, 'names-'));
  fs.copyFileSync(nativePath, path.join(folder, 'smfdump'));
  fs.chmodSync(path.join(folder, 'smfdump'), 0o755);
  fs.copyFileSync(names, path.join(folder, 'initial.txt'));
  const { saved } = await saveListing(page);
  assert.ok(fs.readFileSync(saved).equals(nativeListing(demo, path.join(folder, 'smfdump'))));
  await page.close();

  // a later visit in the same browser still has them, until the built-in names are chosen again
  const again = await openPage(context);
  assert.match(await again.textContent('#names-state'), /initial\.txt, kept in this browser/);
  await pick(again, demo);
  assert.equal(await find(again, '/My Own Piano/'), '1 of 1');
  await again.click('#names-reset');
  await again.waitForFunction(() => document.body.dataset.state === 'ready' && !document.querySelector('#names-state').textContent.includes('initial.txt'));
  assert.equal(await find(again, '/Acoustic Grand Piano/'), '1 of 1');
  await context.close();
});

test('a file that does not start like a MIDI file is listed, with a note saying so', async () => {
  const page = await openPage();
  const text = path.join(scratch, 'letter.mid');
  fs.writeFileSync(text, 'Dear friend,\nthis is not music.\n');
  await pick(page, text);
  assert.match(await page.textContent('#notice'), /does not start like a MIDI file/);
  assert.equal((await shownRows(page))[0], 'dump of letter.mid');
  const { saved } = await saveListing(page);
  assert.ok(fs.readFileSync(saved).equals(nativeListing(text)));
  await page.close();
});

test('a file of 20 MB lists to the end, saves whole, and the page stays responsive', async () => {
  const big = path.join(scratch, 'big20.mid');
  execFileSync(generatorPath, [big, '20'], { stdio: 'ignore' });
  // the native listing and its count first, so that they do not take the processor from the page
  const native = nativeListing(big);
  const notes = noteOnLines(native);
  const page = await openPage();
  // the longest gap between animation frames while the file is listed, searched and saved
  await page.evaluate(() => {
    window.frames = { longest: 0, stop: false };
    let last = performance.now();
    const frame = (now) => {
      window.frames.longest = Math.max(window.frames.longest, now - last);
      last = now;
      if (!window.frames.stop) requestAnimationFrame(frame);
    };
    requestAnimationFrame(frame);
  });
  await pick(page, big);
  assert.equal(Number(await page.getAttribute('#roll', 'data-notes')), notes);
  // the end of the listing, by the keyboard
  await page.focus('#listing');
  await page.keyboard.press('End');
  await page.waitForFunction(() => document.querySelector('#listing-lines div.selected')?.textContent === 'end of big20.mid');
  // find counts every match in the whole listing
  assert.match(await find(page, 'end of track'), / of 16$/);
  const { saved } = await saveListing(page);
  const longest = await page.evaluate(() => {
    window.frames.stop = true;
    return window.frames.longest;
  });
  assert.ok(fs.readFileSync(saved).equals(native), 'the saved listing differs from default.txt');
  assert.ok(longest < 200, `the page froze for ${longest.toFixed(0)} ms`);
  console.log(`# 20 MB file: listed in ${await page.evaluate(() => document.body.dataset.listMs)} ms, longest frame gap ${longest.toFixed(0)} ms`);
  await page.close();
});

test('the pages made no network request', () => {
  assert.deepEqual(offline, []);
});
