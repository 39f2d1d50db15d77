// The page in real browsers: Debian's Chromium and Firefox ESR, headless, driven by puppeteer-core
// (browsers.mjs), opening the built smfdump.html from file://. Every test runs in each browser there
// is (or those named in SMFDUMP_BROWSERS), its name saying which. Each listing the page shows or
// saves is compared with the native program's default.txt for the same file.
//
//   node --test web/test/page_test.mjs      (SMFDUMP_PAGE, SMFDUMP_NATIVE, SMFDUMP_GENERATOR name the
//                                           page, the native program and the big-file generator)
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import {
  attributeOf, browserKinds, browsersToTest, closePage, launch, newContext, openPage, pickFiles, requestsSeen,
  saveByClick, textOf, waitFor,
} from './browsers.mjs';
import * as smfBytes from './smf.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pagePath = path.resolve(root, process.env.SMFDUMP_PAGE ?? 'build-web/smfdump.html');
const nativePath = path.resolve(root, process.env.SMFDUMP_NATIVE ?? 'build/smfdump');
const generatorPath = path.resolve(root, process.env.SMFDUMP_GENERATOR ?? 'build/bench/make_big_smf');
const demo = path.join(root, 'samples/demo.mid');
const screenshot = path.join(root, 'web/page/smfdump-page.png');  // the README's picture, made in Chromium

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-page-'));
after(() => fs.rmSync(scratch, { recursive: true, force: true }));

// Picks files with the page's own file button and waits until the first is listed.
async function pick(page, files) {
  await pickFiles(page, '#open-input', files);
  await waitFor(page, () => document.body.dataset.state === 'ready', null, { timeout: 300000 });
  await waitFor(page, () => document.querySelector('#roll').dataset.drawMs !== undefined);
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
  return saveByClick(page, '#save', { timeout: 300000 });
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
  await box.dispose();
}

// Finds text in the listing with the find box; returns what the count beside it says.
async function find(page, text) {
  await page.locator('#find').fill(text);
  await page.focus('#find');
  await page.keyboard.press('Enter');
  await waitFor(page, () => / of |No match/.test(document.querySelector('#find-count').textContent), null, { timeout: 120000 });
  return textOf(page, '#find-count');
}

// The text of the rows the listing shows, those with a line.
async function shownRows(page) {
  return page.$$eval('#listing-lines div[data-offset]', (rows) => rows.map((r) => r.textContent));
}

// The 20 MB file and its native listing, made once for every browser.
let bigFile = null;
function big20() {
  if (!bigFile) {
    const file = path.join(scratch, 'big20.mid');
    execFileSync(generatorPath, [file, '20'], { stdio: 'ignore' });
    const native = nativeListing(file);
    bigFile = { file, native, notes: noteOnLines(native) };
  }
  return bigFile;
}

// A variable-length quantity, as delta times are written.
function vlq(n) {
  const bytes = [n & 0x7f];
  for (let rest = n >>> 7; rest > 0; rest >>>= 7) bytes.unshift(0x80 | (rest & 0x7f));
  return bytes;
}

// A Standard MIDI File from readable parts: format, division and tracks, each track a list of events
// written as [delta time, ...bytes]; the header's track count and each track's length are filled in.
function smf(format, division, tracks) {
  const chunks = [Buffer.from([0x4d, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, format, tracks.length >> 8, tracks.length & 0xff, division >> 8, division & 0xff])];
  for (const events of tracks) {
    const body = Buffer.from(events.flatMap(([delta, ...bytes]) => [...vlq(delta), ...bytes]));
    const head = Buffer.from([0x4d, 0x54, 0x72, 0x6b, 0, 0, 0, 0]);
    head.writeUInt32BE(body.length, 4);
    chunks.push(head, body);
  }
  return Buffer.concat(chunks);
}

// A file of n MIDI files made from the demo, named NAME-0.mid and on, in a folder of their own.
function demoCopies(n, name) {
  const folder = fs.mkdtempSync(path.join(scratch, 'copies-'));
  return Array.from({ length: n }, (_, i) => {
    const file = path.join(folder, `${name}-${i}.mid`);
    fs.copyFileSync(demo, file);
    return file;
  });
}

// The contrast ratio of two CSS colours given as rgb(r, g, b), as WCAG reckons it.
function contrast(a, b) {
  const luminance = (colour) => {
    const [r, g, bl] = colour.match(/\d+(\.\d+)?/g).slice(0, 3).map((c) => {
      const v = Number(c) / 255;
      return v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4;
    });
    return 0.2126 * r + 0.7152 * g + 0.0722 * bl;
  };
  const [high, low] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return (high + 0.05) / (low + 0.05);
}

// Three files whose texts are in three encodings, each text beside the words it says: { files, texts },
// texts as [bytes, words] for each file. Format 1, 384 ticks a quarter; a conductor track, a named
// track of notes with a program, a lyric and more text, and a track of notes with no name.
function filesOfTexts() {
  const { event, endOfTrack, file, tempo } = smfBytes;
  const meta = (type, bytes) => event(0, [0xff, type, bytes.length, ...bytes]);
  const japanese = {
    piano: [0x83, 0x73, 0x83, 0x41, 0x83, 0x6d],         // ピアノ in Shift_JIS
    sakura: [0x82, 0xb3, 0x82, 0xad, 0x82, 0xe7],        // さくら in Shift_JIS
    cut: [0x83, 0x73, 0x83],                             // ピ and the lead byte of the next character, cut off
    di: [0x83, 0x61],                                    // ヂ in Shift_JIS: its second byte is "a", ア's is "A"
  };
  const western = {
    cafe: [0x43, 0x61, 0x66, 0xe9, 0x20, 0x4d, 0xfc, 0x6c, 0x6c, 0x65, 0x72],  // Café Müller in windows-1252
    elise: [0x46, 0xfc, 0x72, 0x20, 0x45, 0x6c, 0x69, 0x73, 0x65],           // Für Elise in windows-1252
    copyright: [...Buffer.from('Copyright '), 0xa9, ...Buffer.from(' 2004')],  // Copyright © 2004 in windows-1252
  };
  const unicode = {
    greeting: [0x47, 0x72, 0xc3, 0xbc, 0xc3, 0x9f, 0x65],  // Grüße in UTF-8
    japan: [0xe6, 0x97, 0xa5, 0xe6, 0x9c, 0xac],           // 日本 in UTF-8
  };
  // the notes: track 2 on channel 1, track 3 on channel 4
  const notes = (channel, key) => [event(96, [0x90 | channel, key, 100 - key]), event(192, [0x80 | channel, key, 40])];
  const unnamed = [...notes(3, 67), endOfTrack(0)];
  const folder = fs.mkdtempSync(path.join(scratch, 'texts-'));
  const write = (name, tracks) => {
    const where = path.join(folder, name);
    fs.writeFileSync(where, file(1, 384, tracks));
    return where;
  };
  return {
    files: {
      japanese: write('さくら.mid', [  // its name in UTF-8 on the listing's first and last lines, beside texts in Shift_JIS
        [tempo(0, 600000), endOfTrack(0)],
        [meta(0x03, japanese.piano), event(0, [0xc0, 0]), meta(0x05, japanese.sakura), ...notes(0, 60), meta(0x06, japanese.cut), meta(0x01, japanese.di), endOfTrack(0)],
        unnamed]),
      western: write('western.mid', [
        [meta(0x02, western.copyright), endOfTrack(0)],
        [meta(0x03, western.cafe), meta(0x05, western.elise), ...notes(0, 62), endOfTrack(0)],
        unnamed]),
      unicode: write('unicode.mid', [
        [tempo(0, 500000), endOfTrack(0)],
        [meta(0x03, unicode.greeting), meta(0x05, unicode.japan), ...notes(0, 64), endOfTrack(0)],
        unnamed]),
    },
    texts: {
      japanese: [[japanese.piano, 'ピアノ'], [japanese.sakura, 'さくら'], [japanese.cut, 'ピ\ufffd'], [japanese.di, 'ヂ'], [[...Buffer.from('さくら.mid')], 'さくら.mid']],
      western: [[western.cafe, 'Café Müller'], [western.elise, 'Für Elise'], [western.copyright, 'Copyright © 2004']],
      unicode: [[unicode.greeting, 'Grüße'], [unicode.japan, '日本']],
    },
  };
}

// The native listing of a file as lines, each of the file's texts in it read as the words it says.
function listingRead(file, texts) {
  let listing = nativeListing(file).toString('latin1');
  for (const [bytes, words] of texts) listing = listing.split(Buffer.from(bytes).toString('latin1')).join(words);
  return listing.split('\n');
}

// Waits until the page has read the texts of the file listed, and tells the encoding it reads them in.
async function textsRead(page) {
  await waitFor(page, () => document.body.dataset.state === 'ready' && document.body.dataset.textEncoding !== undefined);
  return page.evaluate(() => document.body.dataset.textEncoding);
}

// Counts in window.searches the searches the page asks of its worker (an init script).
function countSearches() {
  window.searches = 0;
  const post = Worker.prototype.postMessage;
  Worker.prototype.postMessage = function counted(message, transfer) {
    if (message && message.type === 'search') window.searches += 1;
    return post.call(this, message, transfer);
  };
}

for (const kind of browsersToTest()) {
  const title = browserKinds[kind].title;
  describe(`in ${title}`, () => {
    let session;
    before(async () => {
      session = await launch(kind);
      console.log(`# ${title}: ${session.version}`);
    });
    after(async () => {
      if (session) console.log(`# ${title}: saved listings ${session.saveWay === 'download' ? 'through the browser\'s downloads' : `from the page (${session.saveWayWhy ?? 'asked for'})`}`);
      await session?.close();
    });

    test(`${title}: picking the demo file shows its listing, and the saved listing is default.txt`, async () => {
      const page = await openPage(session, pagePath);
      await pick(page, demo);
      const native = nativeListing(demo);
      const lines = native.toString('latin1').split('\n');
      const rows = await shownRows(page);
      assert.ok(rows.length >= 20, `only ${rows.length} lines shown`);
      assert.deepEqual(rows, lines.slice(0, rows.length), 'the lines shown are not the listing\'s first lines');
      const { saved, name } = await saveListing(page);
      assert.equal(name, 'demo.txt');
      assert.ok(fs.readFileSync(saved).equals(native), 'the saved listing differs from default.txt');
      await closePage(page);
    });

    test(`${title}: the roll holds a note for each note-on line, and roll and listing choose each other`, async () => {
      const page = await openPage(session, pagePath);
      await pick(page, demo);
      const native = nativeListing(demo);
      assert.equal(Number(await attributeOf(page, '#roll', 'data-notes')), noteOnLines(native));

      // the third note, D6 on channel 1 of track 2: its note-on line is chosen, its note-off line linked
      const point = await page.evaluate(() => window.smfdumpPage.notePoint(2));
      await page.mouse.click(point.x, point.y);
      await waitFor(page, () => document.querySelector('#listing-lines div.selected') !== null);
      assert.equal(await attributeOf(page, '#roll', 'data-chosen'), '2');
      assert.equal(await textOf(page, '#listing-lines div.selected'), '  2T:0:2:0\t o: c:1 \tD_6 ...85');
      await waitFor(page, () => document.querySelectorAll('#listing-lines div.linked').length === 2);
      const linked = await page.$$eval('#listing-lines div.linked', (rows) => rows.map((r) => r.textContent));
      assert.deepEqual(linked, ['  2T:0:2:0\t o: c:1 \tD_6 ...85', '  2T:1:0:0\t x: c:1 \tD_6 ...64']);
      // the README's picture: the demo file's roll above its listing, a note chosen in it
      if (kind === 'chromium') await page.screenshot({ path: screenshot });

      // choosing the pitch bend line marks its moment: measure 0, beat 2 of 3/4, tick 240 at 480 a beat
      await clickRow(page, '  2T:0:2:240\t pitch bend: c:1   0H  48H ');
      await waitFor(page, () => document.querySelector('#roll').dataset.markerTick === '1200');
      // and the keyboard moves the choice to the next line, and the marker with it
      await page.keyboard.press('ArrowDown');
      await waitFor(page, () => document.querySelector('#roll').dataset.markerTick === '1440');
      assert.equal(await textOf(page, '#listing-lines div.selected'), '  2T:1:0:0\t x: c:1 \tD_6 ...64');

      await closePage(page);
    });

    // Firefox (ESR 153) lets a worker take the 2D context of a canvas handed over to it once only: a roll
    // that asked for it at every drawing showed its first drawing only
    test(`${title}: the roll is drawn again for each view, the first measure alone holding three notes`, async () => {
      const page = await openPage(session, pagePath);
      await pick(page, demo);
      // G5, B5 and D6 start in measure 0 (ticks 0 to 1440 of 3/4 at 480 a beat); G3 starts at 1440
      const whole = await page.evaluate(() => window.smfdumpPage.drawView(0, 2 * 1440));
      assert.equal(whole.drawn, 4);
      const first = await page.evaluate(() => window.smfdumpPage.drawView(0, 1200));
      assert.equal(first.drawn, 3);
      await closePage(page);
    });

    test(`${title}: a names file of the user's changes the program names, and is kept for the next visit`, async () => {
      const context = await newContext(session);
      const page = await openPage(session, pagePath, { context });
      const names = path.join(scratch, 'initial.txt');
      // a byte-order mark, a heading, CR LF: the page reads it as the program reads initial.txt
      fs.writeFileSync(names, Buffer.concat([Buffer.from([0xef, 0xbb, 0xbf]), Buffer.from('[mine]\r\nMy Own Piano\r\nBright\r\n')]));
      await pickFiles(page, '#names-input', names);
      await pick(page, demo);
      assert.equal(await find(page, '/My Own Piano/'), '1 of 1');
      assert.match(await textOf(page, '#listing-lines div.selected'), /pc: c:1 {3}0H \/My Own Piano\/$/);
      // the same names file beside the native program gives the same listing
      const folder = fs.mkdtempSync(path.join(scratch, 'names-'));
      fs.copyFileSync(nativePath, path.join(folder, 'smfdump'));
      fs.chmodSync(path.join(folder, 'smfdump'), 0o755);
      fs.copyFileSync(names, path.join(folder, 'initial.txt'));
      const { saved } = await saveListing(page);
      assert.ok(fs.readFileSync(saved).equals(nativeListing(demo, path.join(folder, 'smfdump'))));
      await closePage(page);

      // a later visit in the same browser still has them, until the built-in names are chosen again
      const again = await openPage(session, pagePath, { context });
      assert.match(await textOf(again, '#names-state'), /initial\.txt, kept in this browser/);
      await pick(again, demo);
      assert.equal(await find(again, '/My Own Piano/'), '1 of 1');
      await again.click('#names-reset');
      await waitFor(again, () => document.body.dataset.state === 'ready' && !document.querySelector('#names-state').textContent.includes('initial.txt'));
      assert.equal(await find(again, '/Acoustic Grand Piano/'), '1 of 1');
      await closePage(again);
      await context.context.close();
    });

    test(`${title}: a file that does not start like a MIDI file is listed, with a note saying so`, async () => {
      const page = await openPage(session, pagePath);
      const text = path.join(scratch, 'letter.mid');
      fs.writeFileSync(text, 'Dear friend,\nthis is not music.\n');
      await pick(page, text);
      assert.match(await textOf(page, '#notice'), /does not start like a MIDI file/);
      assert.equal((await shownRows(page))[0], 'dump of letter.mid');
      const { saved } = await saveListing(page);
      assert.ok(fs.readFileSync(saved).equals(nativeListing(text)));
      await closePage(page);
    });

    test(`${title}: a file of 20 MB lists to the end, saves whole, and the page stays responsive`, async () => {
      // the native listing and its count first, so that they do not take the processor from the page
      const { file, native, notes } = big20();
      const page = await openPage(session, pagePath);
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
      await pick(page, file);
      assert.equal(Number(await attributeOf(page, '#roll', 'data-notes')), notes);
      // the end of the listing, by the keyboard
      await page.focus('#listing');
      await page.keyboard.press('End');
      await waitFor(page, () => document.querySelector('#listing-lines div.selected')?.textContent === 'end of big20.mid');
      // find counts every match in the whole listing
      assert.match(await find(page, 'end of track'), / of 16$/);
      const { saved } = await saveListing(page);
      const longest = await page.evaluate(() => {
        window.frames.stop = true;
        return window.frames.longest;
      });
      assert.ok(fs.readFileSync(saved).equals(native), 'the saved listing differs from default.txt');
      assert.ok(longest < 200, `the page froze for ${longest.toFixed(0)} ms`);
      console.log(`# ${title}, 20 MB file: listed in ${await page.evaluate(() => document.body.dataset.listMs)} ms, longest frame gap ${longest.toFixed(0)} ms`);
      await closePage(page);
    });

    test(`${title}: the file being listed, chosen again or given new names meanwhile, ends listed; a short listing after a long one opens at its first line`, async () => {
      const { file } = big20();
      const page = await openPage(session, pagePath);
      await pick(page, [demo, file]);
      // the big file's button pressed twice while it lists (once more as it starts): it goes on
      await page.click('#files li:nth-child(2) button');
      await waitFor(page, () => document.body.dataset.state === 'listing');
      await page.click('#files li:nth-child(2) button', { count: 2 });
      await waitFor(page, () => ['ready', 'failed'].includes(document.body.dataset.state), null, { timeout: 300000 });
      assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready', await textOf(page, '#notice'));
      assert.equal((await shownRows(page))[0], 'dump of big20.mid');
      // new names while it lists again: it is listed anew with them
      const names = path.join(scratch, 'names-while-listing.txt');
      fs.writeFileSync(names, 'Piano Of Mine\n');
      await page.click('#files li:nth-child(1) button');
      await waitFor(page, () => document.body.dataset.state === 'ready', null, { timeout: 300000 });
      await page.click('#files li:nth-child(2) button');
      await waitFor(page, () => document.body.dataset.state === 'listing');
      await pickFiles(page, '#names-input', names);
      await waitFor(page, () => ['ready', 'failed'].includes(document.body.dataset.state) && document.querySelector('#names-state').textContent.includes('names-while-listing'), null, { timeout: 300000 });
      assert.equal(await page.evaluate(() => document.body.dataset.state), 'ready', await textOf(page, '#notice'));
      // read to its end, then a file whose listing is a dozen lines: it opens at its first line
      await page.focus('#listing');
      await page.keyboard.press('End');
      await waitFor(page, () => document.querySelector('#listing-lines div.selected')?.textContent === 'end of big20.mid');
      const empty = path.join(scratch, 'empty.mid');
      fs.writeFileSync(empty, 'MThd');
      await pick(page, empty);
      await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
      assert.equal((await shownRows(page))[0], 'dump of empty.mid');
      await closePage(page);
    });

    test(`${title}: find highlights the match after non-ASCII text, runs one search however often Enter is pressed, and Escape clears it`, async () => {
      const page = await openPage(session, pagePath, { initScript: countSearches });
      const named = path.join(fs.mkdtempSync(path.join(scratch, 'named-')), 'Grüße–日本 example.mid');
      fs.copyFileSync(demo, named);
      await pick(page, named);
      assert.equal(await find(page, 'amp'), '1 of 2');
      assert.deepEqual(await page.$$eval('#listing-lines mark', (marks) => marks.map((m) => m.textContent)), ['amp']);
      assert.equal(await textOf(page, '#listing-lines div.selected'), 'dump of Grüße–日本 example.mid');
      // a search of a big listing takes a while: Enter pressed again meanwhile starts no other
      await pick(page, big20().file);
      const before = await page.evaluate(() => window.searches);
      await page.locator('#find').fill('o: c:');
      await page.focus('#find');
      for (let i = 0; i < 3; i += 1) await page.keyboard.press('Enter');
      await waitFor(page, () => / of /.test(document.querySelector('#find-count').textContent), null, { timeout: 120000 });
      assert.equal(await page.evaluate(() => window.searches) - before, 1);
      await page.keyboard.press('Escape');
      assert.equal(await textOf(page, '#find-count'), '');
      assert.equal(await page.$$eval('#listing-lines mark', (marks) => marks.length), 0);
      await closePage(page);
    });

    test(`${title}: the listing scrolls a pixel at a time, buttons keep the focus, and a click chooses the note drawn under it`, async () => {
      const page = await openPage(session, pagePath);
      // a listing of a few megabytes, where a line is taller than a pixel of the scroll bar
      const medium = path.join(scratch, 'medium.mid');
      if (!fs.existsSync(medium)) execFileSync(generatorPath, [medium, '1'], { stdio: 'ignore' });
      await pick(page, [medium, ...demoCopies(3, 'copy')]);
      const topLine = () => page.evaluate(() => Number(document.querySelector('#listing-lines div').dataset.offset));
      for (let i = 0; i < 60; i += 1) {  // a slow swipe: a pixel a frame
        await page.evaluate(() => { document.querySelector('#listing-scroll').scrollTop += 1; });
        await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
      }
      assert.ok(await topLine() > 0, 'a slow swipe left the listing at its first line');
      // a file chosen from the file bar by the keyboard, and the listing saved: each button keeps the focus
      await page.focus('#files li:nth-child(3) button');
      await page.keyboard.press('Enter');
      await waitFor(page, () => document.body.dataset.state === 'ready' && document.querySelector('#roll').dataset.notes !== undefined);
      assert.equal(await page.evaluate(() => document.activeElement.textContent), 'copy-1.mid');
      await saveListing(page);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'save');
      // a long note of track 2 and, on the same key, a short one of track 3 (drawn over it) whose end
      // is two pixels left of the click: the long note is under the pointer, and it is chosen
      const keys = path.join(scratch, 'over-and-under.mid');
      fs.writeFileSync(keys, smf(1, 96, [
        [[0, 0xff, 0x2f, 0]],                                  // track 1: nothing but its end
        [[0, 0x90, 60, 100], [1920, 0x80, 60, 64], [0, 0xff, 0x2f, 0]],  // C5, channel 1, 20 beats
        [[1000, 0x91, 60, 90], [10, 0x81, 60, 0], [0, 0xff, 0x2f, 0]],   // C5, channel 2, 10 ticks
      ]));
      await pick(page, keys);
      const short = await page.evaluate(() => window.smfdumpPage.notePoint(1));
      await page.mouse.click(short.right + 2, short.y);
      await waitFor(page, () => document.querySelector('#listing-lines div.selected') !== null);
      assert.equal(await attributeOf(page, '#roll', 'data-chosen'), '0');
      await closePage(page);
    });

    test(`${title}: names too large to keep put away the ones kept before; zoom stops at the whole file and still shows a position fully in; the file bar is one row; a refused save says so`, async () => {
      const context = await newContext(session);
      const refuseSaves = () => {
        const make = URL.createObjectURL;
        URL.createObjectURL = (object) => {
          if (window.refuseSaves && object instanceof Blob) throw new DOMException('The blob is too large', 'QuotaExceededError');
          return make.call(URL, object);
        };
      };
      const page = await openPage(session, pagePath, { context, initScript: refuseSaves });
      const small = path.join(scratch, 'small-names.txt');
      fs.writeFileSync(small, 'Small Piano\n');
      await pickFiles(page, '#names-input', small);
      await waitFor(page, () => document.querySelector('#names-state').textContent.includes('small-names.txt, kept'));
      const large = path.join(scratch, 'large-names.txt');  // more than any browser keeps for a page
      fs.writeFileSync(large, `${'Large Piano\n'.repeat(128)}${'['.padEnd(99, 'x')}\n`.repeat(120000));
      await pickFiles(page, '#names-input', large);
      await waitFor(page, () => document.querySelector('#names-state').textContent.includes('large-names.txt'));
      assert.match(await textOf(page, '#names-state'), /too large for this browser to keep/);
      const files = demoCopies(40, 'a-rather-long-name-for-a-file');
      await pick(page, files);
      // forty names on one row that scrolls
      const bar = await page.evaluate(() => {
        const nav = document.querySelector('#files');
        return { scrolls: nav.scrollWidth > nav.clientWidth, rows: new Set([...nav.querySelectorAll('button')].map((b) => b.getBoundingClientRect().top)).size };
      });
      assert.deepEqual(bar, { scrolls: true, rows: 1 });
      // zoomed fully out: the whole file; fully in: a position is still shown
      for (let i = 0; i < 20; i += 1) await page.click('#zoom-out');
      const whole = await page.evaluate(() => ({ ...window.smfdumpPage.shown(), extent: window.smfdumpPage.extent() }));
      assert.deepEqual([whole.t0, whole.t1], [0, whole.extent * 1.02]);
      for (let i = 0; i < 40; i += 1) await page.click('#zoom-in');
      const inside = await page.evaluate(() => window.smfdumpPage.drawView(1000, 1000));
      assert.ok(inside.measures > 0 || /^\d+:\d+:\d+$/.test(inside.position), JSON.stringify(inside));
      // a save the browser refuses says so
      await page.evaluate(() => { window.refuseSaves = true; });
      await page.click('#save');
      await waitFor(page, () => /refused to save/.test(document.querySelector('#notice').textContent));
      await closePage(page);
      // the next visit starts with the built-in names, not the small file kept before
      const again = await openPage(session, pagePath, { context });
      assert.equal(await textOf(again, '#names-state'), 'Program names: General MIDI, built in.');
      await closePage(again);
      await context.context.close();
    });

    test(`${title}: the find highlight stands out at least 4.5:1 in the light and the dark theme`, async () => {
      const page = await openPage(session, pagePath);
      await pick(page, demo);
      await find(page, 'track');
      for (const scheme of ['light', 'dark']) {
        try {
          await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
        } catch (error) {
          console.log(`# ${title}: the ${scheme} theme can't be chosen here (${error.message})`);
          continue;
        }
        const { fore, back } = await page.$eval('#listing-lines mark', (m) => ({ fore: getComputedStyle(m).color, back: getComputedStyle(m).backgroundColor }));
        assert.ok(contrast(fore, back) >= 4.5, `${scheme}: ${fore} on ${back} is ${contrast(fore, back).toFixed(2)}:1`);
      }
      await closePage(page);
    });

    test(`${title}: a legend button held down with the mouse is a click, a finger's long press solos, and a quick click after it is a click; on a phone no control is less than 24 px high`, async () => {
      // three tracks of notes
      const three = path.join(scratch, 'three.mid');
      fs.writeFileSync(three, smf(1, 96, [0, 1, 2].map((c) => [[0, 0x90 | c, 60 + c, 80], [96, 0x80 | c, 60 + c, 0], [0, 0xff, 0x2f, 0]])));
      const page = await openPage(session, pagePath);
      await pick(page, three);
      const shown = () => page.$$eval('#legend button', (buttons) => buttons.map((b) => b.getAttribute('aria-pressed') === 'true'));
      const middle = (n) => page.$eval(`#legend button:nth-child(${n})`, (b) => {
        const r = b.getBoundingClientRect();
        return { x: r.left + r.width / 2, y: r.top + r.height / 2 };
      });
      const first = await middle(1);
      await page.mouse.move(first.x, first.y);
      await page.mouse.down();
      await new Promise((resolve) => setTimeout(resolve, 700));
      await page.mouse.up();
      assert.deepEqual(await shown(), [false, true, true], 'the mouse held down on track 1');
      await page.mouse.click(first.x, first.y);
      // a finger held on track 2, which a phone ends with no click
      await page.$eval('#legend button:nth-child(2)', (b) => b.dispatchEvent(new PointerEvent('pointerdown', { pointerType: 'touch', bubbles: true })));
      await new Promise((resolve) => setTimeout(resolve, 700));
      await page.$eval('#legend button:nth-child(2)', (b) => b.dispatchEvent(new PointerEvent('pointerup', { pointerType: 'touch', bubbles: true })));
      assert.deepEqual(await shown(), [false, true, false], 'a long press on track 2');
      const second = await middle(2);
      await page.mouse.click(second.x, second.y);
      assert.deepEqual(await shown(), [false, false, false], 'a click on track 2 after its long press');
      // a phone's width
      await page.setViewport({ width: 390, height: 844 });
      await waitFor(page, () => window.innerWidth === 390);
      const small = await page.evaluate(() => [...document.querySelectorAll('button, input, select')]
        .filter((e) => e.getClientRects().length > 0 && e.getBoundingClientRect().height < 24)
        .map((e) => `${e.id || e.textContent} ${e.getBoundingClientRect().height.toFixed(1)} px`));
      assert.deepEqual(small, [], 'controls less than 24 px high at 390 px wide');
      await closePage(page);
    });

    test(`${title}: a file's texts show in their own encoding (Shift_JIS, windows-1252, UTF-8), Find finds typed words in it, the legend names the tracks, and the Text choice changes the reading and is kept`, async () => {
      const { files, texts } = filesOfTexts();
      const context = await newContext(session);
      const page = await openPage(session, pagePath, { context });
      await pick(page, [files.japanese, files.western, files.unicode]);
      const program = /pc: c:1 +0H \/([^/]*)\//.exec(nativeListing(files.japanese).toString('latin1'))[1];
      for (const [i, which, encoding] of [[1, 'japanese', 'shift_jis'], [2, 'western', 'windows-1252'], [3, 'unicode', 'utf-8']]) {
        if (i > 1) await page.click(`#files li:nth-child(${i}) button`);
        assert.equal(await textsRead(page), encoding, `Auto's reading of ${which}.mid`);
        const rows = await shownRows(page);
        assert.deepEqual(rows, listingRead(files[which], texts[which]).slice(0, rows.length), `${which}.mid as shown`);
        const legend = await page.$$eval('#legend button', (buttons) => buttons.map((b) => ({ text: b.textContent, label: b.getAttribute('aria-label') })));
        assert.equal(legend.length, 2);
        assert.ok(legend[0].text.includes(texts[which][0][1]) && legend[0].label.startsWith('Track 2, '), JSON.stringify(legend[0]));
        assert.equal(legend[1].text, 'Track 3', 'a track the file names nothing');
        if (which === 'japanese') assert.ok(legend[0].text.includes(program), `the legend names the program: ${legend[0].text}`);
      }
      // typed words found as the file holds them
      await page.click('#files li:nth-child(2) button');
      await textsRead(page);
      assert.equal(await find(page, 'Müller'), '1 of 1');
      assert.deepEqual(await page.$$eval('#listing-lines mark', (marks) => marks.map((m) => m.textContent)), ['Müller']);
      await page.click('#files li:nth-child(1) button');
      await textsRead(page);
      assert.equal(await find(page, 'さくら'), '1 of 1');
      assert.deepEqual(await page.$$eval('#listing-lines mark', (marks) => marks.map((m) => m.textContent)), ['さくら']);
      assert.equal(await find(page, 'ア'), '1 of 1', 'ア found in ヂ, whose second byte is the small letter of its');
      // the bytes of ピアノ read as windows-1252 when it is chosen, and still after a reload
      const pianoIn1252 = '\u0192s\u0192A\u0192m';  // 83 73 83 41 83 6D: ƒ s ƒ A ƒ m
      await page.select('#text-encoding', 'windows-1252');
      await waitFor(page, (words) => [...document.querySelectorAll('#listing-lines div')].some((r) => r.textContent.endsWith(`/${words}/`)), pianoIn1252);
      assert.match((await page.$$eval('#legend button', (buttons) => buttons.map((b) => b.textContent)))[0], new RegExp(pianoIn1252));
      await closePage(page);
      const again = await openPage(session, pagePath, { context });
      assert.equal(await again.$eval('#text-encoding', (select) => select.value), 'windows-1252');
      await pick(again, files.japanese);
      assert.equal(await textsRead(again), 'windows-1252');
      // the listing's end on screen: track 2's last texts among the last lines (its marker: ピ and a
      // lead byte cut off, 83 73 83, which windows-1252 reads as ƒ s ƒ)
      await again.focus('#listing');
      await again.keyboard.press('End');
      const trackRow = (words) => [...document.querySelectorAll('#listing-lines div')].some((r) => r.textContent.endsWith(`/${words}/`));
      await waitFor(again, trackRow, '\u0192s\u0192');
      await again.select('#text-encoding', 'auto');
      assert.equal(await textsRead(again), 'shift_jis');
      await waitFor(again, trackRow, 'ピ\ufffd');
      await closePage(again);
      await context.context.close();
    });

    test(`${title}: the pages made no network request`, () => {
      const { pages, own } = requestsSeen(session);
      if (own.length > 0) console.log(`# ${title} itself called ${own.join(', ')} (refused)`);
      assert.deepEqual(pages, []);
    });
  });
}
