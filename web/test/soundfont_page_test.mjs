// The page with the user's SoundFont, in Debian's Chromium and Firefox (headless, driven as
// browsers.mjs does for every page test): "Load SoundFont…" reads the file in a worker and the
// synthesizer plays it; a damaged file leaves the sound in use; the file is kept for the next visit;
// and Debian's TimGM6mb (timgm6mb-soundfont, GPL: read from where Debian puts it, never copied) plays
// a passage made here at the built-in sound's times, but with its own sound, its own pitches and its
// own drums; and Debian's FluidR3Mono, an .sf3 file, plays once the browser has decoded its samples.
// Without those SoundFonts, the tests that play them say so and are skipped.
//
//   node --test web/test/soundfont_page_test.mjs   (SMFDUMP_PAGE names the page, build-web/smfdump.html
//                                                  if not; SMFDUMP_BROWSERS=chromium,firefox, else those installed)
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { browserKinds, browsersToTest, closePage, launch, openPage, pickFiles, textOf, waitFor } from './browsers.mjs';
import { execFileSync } from 'node:child_process';
import { hostileSoundFonts, sineSoundFont } from './sf2.mjs';
import { installMeasures } from './sound_measures.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pagePath = path.resolve(root, process.env.SMFDUMP_PAGE ?? 'build-web/smfdump.html');
const timgm = '/usr/share/sounds/sf2/TimGM6mb.sf2';
const fluidMono = '/usr/share/sounds/sf3/FluidR3Mono_GM.sf3';  // fluidr3mono-gm-soundfont (MIT)
const long = { timeout: 300000 };

// MIDI messages as [time in seconds, status (hex), data bytes (decimal)].
const noteOn = (time, channel, key, velocity) => [time, 0x90 | channel, key, velocity];
const noteOff = (time, channel, key) => [time, 0x80 | channel, key, 64];
const control = (time, channel, number, value) => [time, 0xb0 | channel, number, value];
const program = (time, channel, number) => [time, 0xc0 | channel, number];

// The test's SoundFonts, written where the browsers can be given them.
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-soundfont-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));
const sine = sineSoundFont();
const sinePath = path.join(scratch, 'sine.sf2');
fs.writeFileSync(sinePath, sine.file);
// its sample data's length made to lie, as a file damaged on the way would
const damaged = Buffer.from(sine.file);
damaged.writeUInt32LE(5000000, sine.sdtaAt + 4);
const damagedPath = path.join(scratch, 'damaged.sf2');
fs.writeFileSync(damagedPath, damaged);
const otherPath = path.join(scratch, 'other.sf2');  // the same, by another name
fs.writeFileSync(otherPath, sine.file);
const damagedSentence = `The SoundFont is damaged: its sample data claims 5,000,000 bytes and only ${(damaged.length - sine.sdtaAt - 8).toLocaleString('en-US')} are left.`;

// Hostile files (see hostileSoundFonts), with what the page says of each.
let vorbis = null;  // half a second of A4 at 22,050 Hz as Ogg Vorbis, from sox when the machine has it
try {
  const made = path.join(scratch, 'a4.ogg');
  execFileSync('sox', ['-n', '-r', '22050', '-c', '1', made, 'synth', '0.5', 'sine', '440'], { stdio: 'ignore' });
  vorbis = fs.readFileSync(made);
} catch {
  // no sox: the lying stream is left out, and said so
}
const hostile = hostileSoundFonts(vorbis);
const hostileSays = {
  'damaged-ogg.sf3': /^Sound: the SoundFont sine\.sf2 .*damaged-ogg\.sf3 can't be played: None of its Ogg Vorbis samples can be decoded; they are damaged\. sine\.sf2 plays on\.$/,
  'overlapping.sf2': /^Sound: the SoundFont overlapping\.sf2 /,
  'many-overlapping.sf2': /^Sound: the SoundFont many-overlapping\.sf2 /,
  'overlapping-ogg.sf3': /^Sound: the SoundFont overlapping-ogg\.sf3 .* \d+ of its \d+ Ogg Vorbis samples are left out: their streams overlap others more than the file holds\./,
  'lying-granule.sf3': /^Sound: the SoundFont lying-granule\.sf3 .* 1 of its 1 Ogg Vorbis samples decode to another length than the file claims; each plays what it holds\. It is kept/,
};
for (const h of hostile) fs.writeFileSync(path.join(scratch, h.name), h.file);

// A note of the sine's program, E5 (659.26 Hz), alone, reverb off.
const sineNote = [program(0, 0, 20), control(0, 0, 91, 0), noteOn(0.1, 0, 76, 100), noteOff(0.9, 0, 76)];
const e5 = 440 * 2 ** (7 / 12);
const cents = (f, expected) => 1200 * Math.log2(f / expected);

for (const kind of browsersToTest()) {
  const name = browserKinds[kind].title;
  describe(name, () => {
    let session = null;

    before(async () => {
      session = await launch(kind);
    });

    after(async () => {
      await session?.close();
    });

    // A fresh page (its own storage) with the measures installed.
    async function soundPage() {
      const page = await openPage(session, pagePath);
      await page.evaluate(installMeasures);
      return page;
    }
    const render = (page, events, seconds) => page.evaluate((e, s) => window.soundTest.render(e, s, false), events, seconds);
    const measure = (page, what, ...args) => page.evaluate((n, a) => window.soundTest[n](...a), what, args);
    const soundState = (page) => textOf(page, '#sound-state');

    // Picks a SoundFont and waits until the page has taken it or said why not; returns what it says.
    async function pickSoundFont(page, file) {
      const before = await soundState(page);
      await pickFiles(page, '#soundfont-input', file);
      await waitFor(page, (was) => document.getElementById('soundfont-progress-box').hidden
        && document.getElementById('sound-state').textContent !== was, before, { timeout: 120000, polling: 50 });
      return soundState(page);
    }

    test('a damaged SoundFont gives the reader\'s sentence, and the sound in use plays on', long, async () => {
      const page = await soundPage();
      await render(page, sineNote, 1);
      await measure(page, 'keep');
      assert.equal(await pickSoundFont(page, damagedPath),
        `Sound: the built-in General MIDI synthesizer. damaged.sf2 can't be played: ${damagedSentence} The built-in sound plays on.`);
      await render(page, sineNote, 1);
      assert.ok(await measure(page, 'likeness', 0, 1) > 0.9999, 'the built-in sound changed');
      // a good one, then the damaged one again: the good one plays on
      assert.equal(await pickSoundFont(page, sinePath),
        'Sound: the SoundFont sine.sf2 (“Sine Test Set”), 2 presets. It is kept in this browser for your next visit.');
      await render(page, sineNote, 1);
      await measure(page, 'keep');
      assert.equal(await pickSoundFont(page, damagedPath),
        `Sound: the SoundFont sine.sf2 (“Sine Test Set”), 2 presets. damaged.sf2 can't be played: ${damagedSentence} sine.sf2 plays on.`);
      await render(page, sineNote, 1);
      assert.ok(await measure(page, 'likeness', 0, 1) > 0.9999, 'the SoundFont in use no longer plays');
      await closePage(page);
    });

    test('hostile SoundFonts that claim more than they hold load in bounded time and memory while the sound in use plays on', long, async (t) => {
      if (!vorbis) t.diagnostic('sox is not there: the Vorbis stream with a lying length is left out');
      const page = await soundPage();
      for (const { name: file, file: bytes, most } of hostile) {
        await pickSoundFont(page, sinePath);
        await render(page, sineNote, 1);
        await measure(page, 'keep');
        // the sine rendered while the file loads
        await page.evaluate((e) => { window.rendering = window.soundTest.render(e, 1, false); }, sineNote);
        const started = Date.now();
        const state = await pickSoundFont(page, path.join(scratch, file));
        const ms = Date.now() - started;
        await page.evaluate(() => window.rendering);
        assert.ok(await measure(page, 'likeness', 0, 1) > 0.9999, `${file}: the sound in use changed while it loaded`);
        assert.match(state, hostileSays[file], file);
        assert.ok(ms < 30000, `${file}: ${ms} ms to load`);
        const made = await page.evaluate(() => window.smfdumpPage.soundFontFramesMade());
        assert.ok(made <= Math.max(most, 1600), `${file} (${bytes.length} bytes): the page made ${made} frames of samples, not at most ${most}`);
        t.diagnostic(`${file}: ${bytes.length} bytes, ${ms} ms, ${made} frames made`);
      }
      await closePage(page);
    });

    test('a SoundFont loaded survives a reload, at its own pitch resampled, until "Use built-in sound"', long, async () => {
      const page = await soundPage();
      await pickSoundFont(page, sinePath);
      await page.reload();
      await page.evaluate(installMeasures);
      await waitFor(page, () => document.getElementById('sound-state').textContent.includes('sine.sf2'), null, { timeout: 60000, polling: 50 });
      assert.equal(await soundState(page), 'Sound: the SoundFont sine.sf2 (“Sine Test Set”), 2 presets. It was kept from your last visit.');
      await render(page, sineNote, 1);
      const played = await measure(page, 'frequency', 0.3, 0.8);
      assert.ok(Math.abs(cents(played, e5)) < 5, `E5 of the sine plays ${played} Hz, not ${e5.toFixed(2)} Hz`);
      await page.click('#soundfont-reset');
      assert.equal(await soundState(page), 'Sound: the built-in General MIDI synthesizer.');
      await waitFor(page, () => window.smfdumpPage.keptSoundFont().then((kept) => kept === null), null, { polling: 100 });
      await page.reload();
      assert.equal(await page.evaluate(() => window.smfdumpPage.keptSoundFont()), null);
      assert.equal(await soundState(page), 'Sound: the built-in General MIDI synthesizer.');
      await closePage(page);
    });

    test('what the page says when a file is gone once chosen, this browser has no room to keep a SoundFont, or what it kept is damaged', long, async () => {
      const page = await soundPage();
      const builtIn = 'Sound: the built-in General MIDI synthesizer.';
      // Puts value in the page's store as the SoundFont in use, in the page.
      const keepInStore = (value) => page.evaluate((v) => new Promise((resolve, reject) => {
        const open = indexedDB.open('smfdump', 1);
        open.onupgradeneeded = () => open.result.createObjectStore('soundfont');
        open.onsuccess = () => {
          const change = open.result.transaction('soundfont', 'readwrite');
          change.objectStore('soundfont').put(v.blob ? { name: v.name, blob: new Blob([v.blob]) } : v, 'in use');
          change.oncomplete = () => { open.result.close(); resolve(); };
          change.onerror = () => reject(change.error);
        };
      }), value);
      const reloaded = async () => {
        await page.reload();
        await waitFor(page, () => document.getElementById('soundfont-progress-box').hidden
          && !document.getElementById('sound-state').textContent.includes('Reading'), null, { timeout: 60000, polling: 50 });
        await waitFor(page, () => window.smfdumpPage.keptSoundFont().then((kept) => kept === null), null, { polling: 100 });
        return soundState(page);
      };
      // a file gone once chosen, before the worker has started to read it: the browser's own words stay out
      const vanishing = path.join(scratch, 'vanishing.sf2');
      fs.writeFileSync(vanishing, hostile.find((h) => h.name === 'overlapping.sf2').file);
      await page.evaluate(() => {
        // the SoundFont worker is handed the file only when the test says
        const RealWorker = window.Worker;
        window.Worker = function HeldWorker(url) {
          const worker = new RealWorker(url);
          const post = worker.postMessage.bind(worker);
          worker.postMessage = (message) => { window.handOver = () => post(message); };
          window.Worker = RealWorker;
          return worker;
        };
      });
      await pickFiles(page, '#soundfont-input', vanishing);
      await waitFor(page, () => window.handOver !== undefined, null, { polling: 20 });
      fs.rmSync(vanishing);
      await page.evaluate(() => window.handOver());
      await waitFor(page, () => document.getElementById('soundfont-progress-box').hidden
        && document.getElementById('sound-state').textContent.includes('vanishing'), null, { timeout: 60000, polling: 50 });
      assert.equal(await soundState(page), `${builtIn} vanishing.sf2 can't be played: This browser could not read the file; it may have been moved or changed since it was chosen. The built-in sound plays on.`);
      // over the quota: the new one plays, and the older one kept is not kept either
      await pickSoundFont(page, sinePath);
      await page.evaluate(() => {
        IDBObjectStore.prototype.put = () => { throw new DOMException('The quota has been exceeded.', 'QuotaExceededError'); };
      });
      assert.equal(await pickSoundFont(page, otherPath),
        'Sound: the SoundFont other.sf2 (“Sine Test Set”), 2 presets. It plays now, but this browser has no room to keep it for your next visit.');
      assert.equal(await reloaded(), builtIn);
      // a kept copy whose bytes are not a SoundFont is the browser's copy, and is forgotten
      await keepInStore({ name: 'sine.sf2', blob: 'RIFF and then nothing of a SoundFont' });
      assert.match(await reloaded(), /^Sound: the built-in General MIDI synthesizer\. The copy of sine\.sf2 kept in this browser can't be played: .+ The built-in sound plays on\.$/);
      // what is kept is not what this page keeps
      await keepInStore('junk');
      assert.equal(await reloaded(), `${builtIn} What this browser kept of your last SoundFont is damaged, so the built-in sound plays; load the SoundFont again to use it.`);
      await closePage(page);
    });

    test('the volume envelope falls in dB to its sustain level and releases at its rate, 0.4 of the attenuation applied', long, async () => {
      const page = await soundPage();
      // with the live sound started, the page lets its copy of the samples go and the render borrows the live one's
      await page.evaluate(() => window.smfdumpPage.soundStart());
      await pickSoundFont(page, sinePath);
      // the plain sine and the enveloped one, one after the other, A4 at full velocity
      await render(page, [program(0, 0, 20), program(0, 1, 21), control(0, 0, 91, 0), control(0, 1, 91, 0),
        noteOn(0.1, 0, 69, 127), noteOff(0.3, 0, 69), noteOn(0.5, 1, 69, 127), noteOff(1.5, 1, 69)], 2);
      // levels against the plain sine's over ten cycles (22.7 ms) about a moment; the decay begins after
      // the least delay and attack (1 ms each), at 0.502 s
      const around = async (t) => 20 * Math.log10((await measure(page, 'rms', t - 0.01136, t + 0.01136)) / plain);
      const plain = await measure(page, 'rms', 0.15, 0.25);
      const levels = {
        early: await around(0.52),           // -4 (0.4 of 10 dB) - 1.7 (18 ms at 96 dB a second, as FluidSynth falls)
        decaying: await around(0.6),         // -4 - 9.4
        sustained: await around(1.25),       // -4 - 25
        released: await around(1.6),         // -4 - 25 - 19.2 (0.1 s at 96 dB in 0.5 s)
      };
      const expected = { early: -5.7, decaying: -13.4, sustained: -29, released: -48.2 };
      for (const [stage, level] of Object.entries(levels)) {
        assert.ok(Math.abs(level - expected[stage]) < 0.5, `${stage}: ${level.toFixed(2)} dB, not ${expected[stage]} dB (${JSON.stringify(levels)})`);
      }
      await closePage(page);
    });

    test('TimGM6mb plays a passage at the built-in sound\'s times, with its own sound, pitch and drums', long, async (t) => {
      if (!fs.existsSync(timgm)) {
        t.skip(`${timgm} is not there (Debian: timgm6mb-soundfont)`);
        return;
      }
      // a piano, a nylon guitar and a marimba, each a note on its own channel, then a snare, each
      // 0.2 s with a second's room for its release; then a piano A4 alone for its pitch, and the
      // snare's key on the piano; reverb off
      const onsets = [0.3, 1.3, 2.3, 3.3];
      const events = [program(0, 0, 0), program(0, 1, 24), program(0, 2, 12)];
      for (const ch of [0, 1, 2, 9]) events.push(control(0, ch, 91, 0));
      [[0, 60], [1, 64], [2, 67], [9, 38]].forEach(([ch, key], i) => events.push(noteOn(onsets[i], ch, key, 100), noteOff(onsets[i] + 0.2, ch, key)));
      events.push(noteOn(4.3, 0, 69, 100), noteOff(5.3, 0, 69), noteOn(5.5, 0, 38, 100), noteOff(5.7, 0, 38));
      const page = await soundPage();
      const heard = async () => {
        const times = [];
        for (const at of onsets) {
          const top = await measure(page, 'rms', at, at + 0.3);
          times.push(await measure(page, 'onset', at - 0.1, at + 0.2, top * 0.05));
        }
        return times;
      };
      await render(page, events, 6);
      const builtIn = await heard();
      const builtInDrum = await measure(page, 'rms', 3.3, 3.5);
      await measure(page, 'keep');
      assert.match(await pickSoundFont(page, timgm), /^Sound: the SoundFont TimGM6mb\.sf2 /);
      const { stats } = await render(page, events, 6);
      assert.equal(stats.nonFinite, 0);
      const sampled = await heard();
      sampled.forEach((time, i) => {
        assert.ok(Math.abs(time - builtIn[i]) <= 0.005, `a note at ${onsets[i]} s starts at ${time} s, and at ${builtIn[i]} s with the built-in sound`);
      });
      const likeness = await measure(page, "likeness", 0.2, 3.2);
      assert.ok(likeness < 0.5, `the SoundFont sounds like the built-in sound (correlation ${likeness})`);
      const pitch = await measure(page, 'pitch', 4.6, 5.2);
      assert.ok(Math.abs(cents(pitch, 440)) < 5, `its piano plays A4 at ${pitch} Hz`);
      // the snare sounds, and is the SoundFont's own (bank 128), not the built-in one
      const drum = await measure(page, 'rms', 3.3, 3.5);
      assert.ok(drum > 0.005, `the snare on channel 10 is too quiet: ${drum}`);
      const drumLikeness = await measure(page, "likeness", 3.3, 3.5);
      const pitched = await measure(page, 'alike', 3.3, 5.5, 0.2);
      assert.ok(drumLikeness < 0.5, `the snare is the built-in one (correlation ${drumLikeness}; RMS ${drum} against ${builtInDrum})`);
      assert.ok(pitched < 0.5, `the snare is the piano's key 38 (correlation ${pitched})`);
      await closePage(page);
    });

    test('an .sf3 SoundFont plays once its Ogg Vorbis samples are decoded, each at its own rate and place', long, async (t) => {
      if (!fs.existsSync(fluidMono)) {
        t.skip(`${fluidMono} is not there (Debian: fluidr3mono-gm-soundfont)`);
        return;
      }
      const page = await soundPage();
      // Chromium refuses a few streams of a few dozen frames, and says so
      assert.match(await pickSoundFont(page, fluidMono), /^Sound: the SoundFont FluidR3Mono_GM\.sf3, 197 presets\. (\d+ of its 1037 Ogg Vorbis samples are too short for this browser to decode; the notes that use them are left out\. )?It is kept/);
      const events = [program(0, 0, 0), control(0, 0, 91, 0), noteOn(0.1, 0, 69, 100), noteOff(1.1, 0, 69), noteOn(1.3, 9, 38, 100)];
      await render(page, events, 1.6);
      const pitch = await measure(page, 'pitch', 0.4, 1.0);
      assert.ok(Math.abs(cents(pitch, 440)) < 5, `its piano plays A4 at ${pitch} Hz`);
      const drum = await measure(page, 'rms', 1.3, 1.5);
      assert.ok(drum > 0.005, `its snare is too quiet: ${drum}`);
      await closePage(page);
    });
  });
}
