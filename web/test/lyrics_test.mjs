// The lyrics panel in real browsers (browsers.mjs: Chromium and Firefox, headless): a karaoke file and
// a file of lyric events, made here, show the line sung and the next, the syllable sung marked, as they
// play (to the page's sound, or to a stand-in MIDI output) and after a seek; a file that sings nothing
// shows no panel. Pictures of the panel (light, dark, a phone's width) go to bench/out/ for a person
// to look at.
//
//   node --test web/test/lyrics_test.mjs    (SMFDUMP_PAGE names the page, SMFDUMP_BROWSERS the browsers)
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { browserKinds, browsersToTest, closePage, launch, openPage, pickFiles, waitFor } from './browsers.mjs';
import { endOfTrack, event, file, tempo, vlq } from './smf.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pagePath = path.resolve(root, process.env.SMFDUMP_PAGE ?? 'build-web/smfdump.html');
const pictures = path.join(root, 'bench/out');
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-lyrics-'));
after(() => fs.rmSync(scratch, { recursive: true, force: true }));

// A meta event of a text's type (1 text, 5 lyric) holding the text's UTF-8 bytes.
function text(delta, type, words) {
  const bytes = [...Buffer.from(words, 'utf8')];
  return event(delta, [0xff, type, ...vlq(bytes.length), ...bytes]);
}

// A note on and its off on channel 3 (key, velocity 70 and 0) for each of ticks, every one 40 ticks long.
function notes(ticks, key) {
  const out = [];
  let at = 0;
  for (const tick of ticks) {
    out.push(event(tick - at, [0x92, key, 70]), event(40, [0x82, key, 0]));
    at = tick + 40;
  }
  return out;
}

// A karaoke file: 96 ticks a quarter at 120 beats a minute (192 ticks a second, the song 4 s long);
// the words in track 2 with their headers, the notes in track 3, and a remark in track 1 (not sung).
// Lines: "Row, row, row your" (ticks 96-240), "boat gently" (288-384), then a verse "Down the stream"
// (480-576).
const karaokeTicks = [96, 144, 192, 240, 288, 336, 384, 480, 528, 576];
const karaoke = file(1, 96, [
  [tempo(0, 500000), text(0, 1, '@KMIDI KARAOKE FILE'), text(0, 1, 'Sequenced here'), endOfTrack(768)],
  [
    text(0, 1, '@LENGL'),
    text(0, 1, '@TRow the Boat'),
    text(0, 1, '@TTraditional'),
    ...['\\Row,', ' row,', ' row', ' your', '/boat', ' gent', 'ly', '\\Down', ' the', ' stream'].map((words, i) => (
      text(karaokeTicks[i] - (i > 0 ? karaokeTicks[i - 1] : 0), 1, words))),
    endOfTrack(),
  ],
  [...notes(karaokeTicks, 67), endOfTrack()],
]);

// A file of lyric events (format 0, 96 ticks a quarter at 150 beats a minute: 240 ticks a second),
// lines ended by "\r" at a syllable's end and "/" at one's start: "Twinkle twinkle" (ticks 48-192),
// "little star" (240-384), "How I wonder" (480-624).
const lyricTicks = [48, 96, 144, 192, 240, 288, 384, 480, 528, 576, 624];
const lyricWords = ['Twin', 'kle ', 'twin', 'kle\r', 'lit', 'tle ', 'star', '/How ', 'I ', 'won', 'der'];
const lyricSong = file(0, 96, [[
  tempo(0, 400000),
  ...lyricTicks.flatMap((tick, i) => {
    const at = i > 0 ? lyricTicks[i - 1] + 40 : 0;
    return [text(tick - at, 5, lyricWords[i]), event(0, [0x92, 60 + i, 80]), event(40, [0x82, 60 + i, 0])];
  }),
  endOfTrack(96),
]]);

// A file of 400,000 lyric events a tick apart ("la " each, a line ended every eighth), then a note:
// far more words than a song has, which the page must not take all at once as the file opens.
const manyWords = file(0, 96, [[
  ...Array.from({ length: 400000 }, (_, i) => text(1, 5, i % 8 === 7 ? 'la\r' : 'la ')),
  event(0, [0x92, 64, 90]),
  event(96, [0x82, 64, 0]),
  endOfTrack(),
]]);

// A file with notes and a text event but no words to sing.
const plain = file(0, 96, [[text(0, 1, 'Just a remark'), ...notes([0, 96, 192], 60), endOfTrack()]]);

for (const [name, bytes] of [['row.kar', karaoke], ['twinkle.mid', lyricSong], ['plain.mid', plain], ['many.mid', manyWords]]) fs.writeFileSync(path.join(scratch, name), bytes);

// Installed before the page's script: a MIDI access with one output, "Test synth", that takes every
// message and keeps none.
function standInMidi() {
  const output = { id: 'test', name: 'Test synth', type: 'output', send: () => {} };
  navigator.requestMIDIAccess = () => Promise.resolve({ outputs: new Map([['test', output]]), inputs: new Map(), onstatechange: null });
}

// Opens the page (with the stand-in MIDI output when `midi`, chosen to play to) and lists a file made here.
async function openWith(session, name, { midi = false, viewport } = {}) {
  const page = await openPage(session, pagePath, { initScript: midi ? `(${standInMidi})()` : null, viewport });
  await pickFiles(page, '#open-input', path.join(scratch, name));
  await waitFor(page, () => document.body.dataset.state === 'ready', null, { timeout: 60000 });
  if (midi) {
    await page.focus('#play-to');
    await waitFor(page, () => document.querySelector('#play-to option[value="midi:test"]') !== null);
    await page.select('#play-to', 'midi:test');
  }
  return page;
}

// What the panel shows: whether it is shown, its heading, the line sung (its words, the syllables
// marked sung and the one marked now), the next line.
function panel(page) {
  return page.evaluate(() => {
    const now = document.getElementById('lyrics-now');
    return {
      shown: !document.getElementById('lyrics').hidden,
      heading: document.getElementById('lyrics-heading').textContent,
      line: now.textContent,
      sung: [...now.querySelectorAll('.sung')].map((s) => s.textContent),
      now: [...now.querySelectorAll('[aria-current]')].map((s) => `${s.className}:${s.textContent}`),
      next: document.getElementById('lyrics-next').textContent,
    };
  });
}

// Waits until the panel marks `syllable` as sung now in a line reading `line`.
async function untilSung(page, line, syllable, timeout = 10000) {
  await waitFor(page, (want) => document.getElementById('lyrics-now').textContent === want.line
    && document.querySelector('#lyrics-now [aria-current]')?.textContent === want.syllable, { line, syllable }, { timeout }).catch(() => {});
}

for (const kind of browsersToTest()) {
  const title = browserKinds[kind].title;
  describe(`in ${title}`, () => {
    let session;
    before(async () => {
      session = await launch(kind, { extraArgs: ['--autoplay-policy=no-user-gesture-required'] });
    });
    after(async () => {
      await session?.close();
    });

    // headless Firefox here has no sound output: there the karaoke file plays to the stand-in MIDI output
    const output = kind === 'firefox' ? 'a MIDI output' : 'the page\'s sound';
    test(`${title}: a karaoke file shows its title, the line sung and the next, follows a seek standing and playing to ${output} and a loop; a file that sings nothing has no panel`, async () => {
      const page = await openWith(session, 'row.kar', { midi: kind === 'firefox' });
      await waitFor(page, () => !document.getElementById('lyrics').hidden, null, { timeout: 10000 }).catch(() => {});
      assert.deepEqual(await panel(page), {
        shown: true, heading: 'Lyrics: Row the Boat', line: 'Row, row, row your', sung: [], now: [], next: 'boat gently',
      }, 'before the first syllable: the first line, nothing sung');
      await page.evaluate(() => window.smfdumpPage.seek(340));  // in " gent" (336), before "ly" (384)
      await untilSung(page, 'boat gently', 'gent');
      assert.deepEqual(await panel(page), {
        shown: true, heading: 'Lyrics: Row the Boat', line: 'boat gently', sung: ['boat'], now: ['now:gent'], next: 'Down the stream',
      }, 'a seek standing');
      assert.equal(await page.$eval('#lyrics-next-line', (p) => p.classList.contains('verse')), true, 'the next line begins a verse');
      await page.evaluate(() => window.smfdumpPage.seek(0));
      await page.click('#play');
      await untilSung(page, 'Row, row, row your', 'your');
      assert.deepEqual((await panel(page)).now, ['now:your'], 'playing on from the start');
      await page.evaluate(() => window.smfdumpPage.seek(530));  // " the" (528), playing on
      await untilSung(page, 'Down the stream', 'stream');
      const last = await panel(page);
      assert.deepEqual({ line: last.line, sung: last.sung, now: last.now, next: last.next },
        { line: 'Down the stream', sung: ['Down', 'the'], now: ['now:stream'], next: '' }, 'a seek while playing');
      // a loop over "gently" (ticks 300 to 400, half a second) played twice round: the mark goes back
      // from "ly" to "boat", and the verse after it never comes
      await page.click('#stop');
      await page.evaluate(() => window.smfdumpPage.seek(300));
      await page.keyboard.press('[');
      await page.evaluate(() => window.smfdumpPage.seek(400));
      await page.keyboard.press(']');
      await page.evaluate(() => {
        window.marks = [];
        const look = () => {
          const seen = `${document.getElementById('lyrics-now').textContent}|${document.querySelector('#lyrics-now [aria-current]')?.textContent}`;
          if (window.marks[window.marks.length - 1] !== seen) window.marks.push(seen);
          if (!window.marksDone) requestAnimationFrame(look);
        };
        requestAnimationFrame(look);
      });
      await page.click('#play');
      await new Promise((resolve) => setTimeout(resolve, 1300));
      const looped = await page.evaluate(() => {
        window.marksDone = true;
        return window.marks;
      });
      await page.click('#play');
      const round = looped.indexOf('boat gently|ly');
      assert.ok(round >= 0 && looped.slice(round).includes('boat gently|boat'), `the marks did not go round the loop: ${looped.join(', ')}`);
      assert.deepEqual(looped.filter((m) => !m.startsWith('boat gently|')), [], 'a mark outside the loop');
      await pickFiles(page, '#open-input', path.join(scratch, 'plain.mid'));
      await waitFor(page, () => document.body.dataset.state === 'ready' && document.getElementById('lyrics').hidden, null, { timeout: 30000 }).catch(() => {});
      assert.equal((await panel(page)).shown, false, 'the panel stays for a file without words');
      await closePage(page);
    });

    test(`${title}: lyric events played to a MIDI output: each line in turn, written once, one syllable marked at a time`, async () => {
      const page = await openWith(session, 'twinkle.mid', { midi: true });
      await waitFor(page, () => !document.getElementById('lyrics').hidden, null, { timeout: 10000 }).catch(() => {});
      assert.equal((await panel(page)).heading, 'Lyrics', 'a file without a title');
      // the marks seen on every frame while it plays: the line, the syllable marked, how many are
      await page.evaluate(() => {
        window.marks = [];
        const look = () => {
          const now = document.getElementById('lyrics-now');
          const marked = now.querySelectorAll('[aria-current="true"]');
          const seen = `${now.textContent}|${marked.length === 1 ? marked[0].textContent : marked.length}|${document.getElementById('lyrics-next').textContent}`;
          if (window.marks[window.marks.length - 1] !== seen) window.marks.push(seen);
          if (document.body.dataset.playing !== 'false' || window.marks.length < 2) requestAnimationFrame(look);
        };
        requestAnimationFrame(look);
        // the words of the line sung as written (the live region is read again at each writing)
        window.written = [];
        new MutationObserver(() => window.written.push(document.getElementById('lyrics-now').textContent))
          .observe(document.getElementById('lyrics-now'), { childList: true, characterData: true, subtree: true });
      });
      await page.click('#play');
      await waitFor(page, () => document.body.dataset.playing === 'false' && window.marks.length > 1, null, { timeout: 15000 });
      const marks = await page.evaluate(() => window.marks);
      // every syllable marked in its turn (a frame may fall between two close ones), never two at once
      const expected = [
        'Twinkle twinkle|0|little star',
        ...['Twin', 'kle', 'twin', 'kle'].map((s) => `Twinkle twinkle|${s}|little star`),
        ...['lit', 'tle', 'star'].map((s) => `little star|${s}|How I wonder`),
        ...['How', 'I', 'won', 'der'].map((s) => `How I wonder|${s}|`),
      ];
      assert.deepEqual(marks.filter((m) => !expected.includes(m)), [], 'marks not of the song');
      assert.deepEqual(marks, expected.filter((m) => marks.includes(m)), 'marks out of order');
      assert.ok(marks.length >= expected.length - 2, `only ${marks.length} of ${expected.length} marks seen: ${marks.join(', ')}`);
      assert.deepEqual(await page.evaluate(() => window.written), ['little star', 'How I wonder'], 'each line is written once, for a screen reader to read once');
      assert.equal(await page.$eval('#lyrics-now', (p) => p.getAttribute('aria-live')), 'polite');
      await closePage(page);
    });

    test(`${title}: a file of 400,000 lyric events opens without holding up the page (no gap of half a second between frames)`, async () => {
      const page = await openPage(session, pagePath);
      // the longest gap between animation frames from the listing on screen to the words shown
      await page.evaluate(() => {
        window.frames = { longest: 0, last: 0 };
        const frame = (now) => {
          if (document.body.dataset.state === 'ready' && window.frames.last) window.frames.longest = Math.max(window.frames.longest, now - window.frames.last);
          window.frames.last = now;
          requestAnimationFrame(frame);
        };
        requestAnimationFrame(frame);
      });
      await pickFiles(page, '#open-input', path.join(scratch, 'many.mid'));
      await waitFor(page, () => document.body.dataset.state === 'ready' && !document.getElementById('lyrics').hidden, null, { timeout: 60000 });
      await new Promise((resolve) => setTimeout(resolve, 300));
      const longest = await page.evaluate(() => window.frames.longest);
      assert.equal(await page.$eval('#lyrics-now', (p) => p.textContent), 'la la la la la la la la');
      assert.ok(longest < 500, `the page froze for ${longest.toFixed(0)} ms as the words were read`);
      console.log(`# ${title}: 400,000 lyric events, the longest gap between frames ${longest.toFixed(0)} ms`);
      await closePage(page);
    });

    if (kind === 'chromium') {
      test(`${title}: pictures of the panel, light, dark and at a phone's width, in bench/out/`, async () => {
        fs.mkdirSync(pictures, { recursive: true });
        for (const [name, viewport, scheme] of [['light', undefined, 'light'], ['dark', undefined, 'dark'], ['phone', { width: 360, height: 740 }, 'light']]) {
          const page = await openWith(session, 'row.kar', { viewport });
          await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
          await page.evaluate(() => window.smfdumpPage.seek(340));
          await untilSung(page, 'boat gently', 'gent');
          const where = path.join(pictures, `lyrics-${name}.png`);
          await page.screenshot({ path: where, clip: await page.$eval('#roll-box', (box) => {
            const r = box.getBoundingClientRect();
            return { x: 0, y: 0, width: Math.ceil(r.right + 16), height: Math.ceil(r.bottom + 8) };
          }) });
          console.log(`# ${where}`);
          await closePage(page);
        }
      });
    }
  });
}
