// The page's synthesizer (web/audio/synth.js) and its host (web/page/sound.js) in real browsers: Debian's Chromium and
// Firefox, headless, driven by puppeteer-core (launched as browsers.mjs does for every page test), with
// the built smfdump.html open from file://. Each test renders MIDI messages offline with the page's own
// soundRender and measures the sound in the page; one plays live through soundStart. Render times are
// printed, never asserted.
//
//   node --test web/test/sound_test.mjs     (SMFDUMP_PAGE names the page, build-web/smfdump.html if not;
//                                           SMFDUMP_BROWSERS=chromium,firefox, else those installed)
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { browserKinds, browsersToTest, closePage, launch, openPage } from './browsers.mjs';
import { installMeasures, unlike } from './sound_measures.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pagePath = path.resolve(root, process.env.SMFDUMP_PAGE ?? 'build-web/smfdump.html');

const rate = 44100;
const long = { timeout: 300000 };

// MIDI messages as [time in seconds, status (hex), data bytes (decimal)].
const noteOn = (time, channel, key, velocity) => [time, 0x90 | channel, key, velocity];
const noteOff = (time, channel, key) => [time, 0x80 | channel, key, 64];
const control = (time, channel, number, value) => [time, 0xb0 | channel, number, value];
const program = (time, channel, number) => [time, 0xc0 | channel, number];
const bend = (time, channel, lsb, msb) => [time, 0xe0 | channel, lsb, msb];

for (const kind of browsersToTest()) {
  const name = browserKinds[kind].title;
  describe(name, () => {
    let session = null;
    let page = null;

    before(async () => {
      // a live AudioContext starts without a click only when Chromium is told so
      session = await launch(kind, { extraArgs: ['--autoplay-policy=no-user-gesture-required'] });
      page = await openSoundPage();
    });

    after(async () => {
      if (page) await closePage(page);
      await session?.close();
    });

    // A fresh page with the built smfdump.html open and the measures installed; initScript runs first.
    async function openSoundPage(initScript = null) {
      const opened = await openPage(session, pagePath, { initScript });
      await opened.evaluate(installMeasures);
      return opened;
    }

    // Renders events for seconds in the page; what soundTest.render tells.
    const render = (events, seconds, packed = false) => page.evaluate((e, s, p) => window.soundTest.render(e, s, p), events, seconds, packed);
    const measure = (name, ...args) => page.evaluate((n, a) => window.soundTest[n](...a), name, args);

    test('notes start at their own frames, between quanta, and end in silence after their release', long, async () => {
      // a square lead (5 ms attack, 50 ms release), reverb off; the note-ons fall inside 128-frame quanta
      const times = [0.5, 1.2503, 2.0001];
      const events = [program(0, 2, 80), control(0, 2, 91, 0)];
      for (const t of times) events.push(noteOn(t, 2, 69, 100), noteOff(t + 0.25, 2, 69));
      const { stats, reports } = await render(events, 3);
      assert.equal(stats.nonFinite, 0);
      assert.ok(reports > 0, 'no progress was reported');
      const top = await measure('rms', 0.5, 0.75);
      assert.ok(top > 0.01, `the note is too quiet: RMS ${top}`);
      for (const t of times) {
        const onset = await measure('onset', t - 0.1, t + 0.1, top * 0.05);
        assert.ok(Math.abs(onset - t) <= 0.003, `a note at ${t} s starts at ${onset} s`);
        // sample-exact: the first frame the note sounds (a square wave starts at 0, so the next)
        const first = await measure('firstSound', t - 0.2);
        const frame = Math.round(t * rate);
        assert.ok(first >= frame && first <= frame + 1, `a note at frame ${frame} first sounds at ${first}`);
        assert.equal(await measure('rms', t + 0.25 + 0.1, t + 0.6), 0, `the note at ${t} s still sounds after its release`);
      }
    });

    test('the reverb dies away after the last release', long, async () => {
      const events = [program(0, 0, 48), control(0, 0, 91, 127), noteOn(0.1, 0, 60, 127), noteOn(0.1, 0, 64, 127), noteOff(0.6, 0, 60), noteOff(0.6, 0, 64)];
      const { stats } = await render(events, 5);
      assert.equal(stats.nonFinite, 0);
      const held = await measure('rms', 0.3, 0.6);
      const tail = await measure('rms', 1.2, 1.4);
      const end = await measure('rms', 4.5, 5);
      assert.ok(tail > held * 1e-3, `no reverb tail: ${tail} after ${held}`);
      assert.ok(end < held * 1e-4, `the reverb still sounds 4 s after the release: ${end} after ${held}`);
    });

    test('every program and every drum note sounds, no number goes wrong, and the families differ', long, async () => {
      // each program for 0.2 s of a 0.3 s slot on its own channel, cut by all sound off (CC 120) at
      // the slot's end; then the drum notes 35 to 81 the same way on channel 10; reverb off
      const slot = 0.3;
      const events = [];
      for (let ch = 0; ch < 16; ch++) events.push(control(0, ch, 91, 0));
      for (let p = 0; p < 128; p++) {
        const ch = [0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15][p % 15];
        const t = 0.01 + p * slot;
        events.push(program(t - 0.005, ch, p), noteOn(t, ch, 60, 100), noteOff(t + 0.2, ch, 60), control(t + slot - 0.02, ch, 120, 0));
      }
      const drumStart = 0.01 + 128 * slot;
      for (let key = 35; key <= 81; key++) {
        const t = drumStart + (key - 35) * slot;
        events.push(noteOn(t, 9, key, 100), noteOff(t + 0.2, 9, key), control(t + slot - 0.02, 9, 120, 0));
      }
      const seconds = drumStart + 47 * slot;
      const { stats, ms } = await render(events, seconds, true);
      console.log(`${name}: ${seconds.toFixed(1)} s of every program and drum rendered in ${ms.toFixed(0)} ms`);
      assert.equal(stats.nonFinite, 0, 'values that were not numbers');
      const silent = [];
      for (let p = 0; p < 128; p++) {
        const t = 0.01 + p * slot;
        if (!((await measure('rms', t, t + 0.25)) > 0.002)) silent.push(`program ${p}`);
        if ((await measure('rms', t + slot - 0.01, t + slot - 0.001)) !== 0) silent.push(`program ${p} not cut by all sound off`);
      }
      for (let key = 35; key <= 81; key++) {
        const t = drumStart + (key - 35) * slot;
        if (!((await measure('rms', t, t + 0.25)) > 0.002)) silent.push(`drum ${key}`);
      }
      assert.deepEqual(silent, []);
      // one program of each family against every other
      const characters = [];
      for (let p = 0; p < 128; p += 8) characters.push(await measure('character', 0.01 + p * slot));
      for (let i = 0; i < 16; i++) {
        for (let j = i + 1; j < 16; j++) {
          const d = unlike(characters[i], characters[j]);
          assert.ok(d > 0.05, `programs ${i * 8} and ${j * 8} sound alike (${d.toFixed(3)})`);
        }
      }
    });

    test('the closed and the pedal hi-hat cut the open one', long, async () => {
      const events = [control(0, 9, 91, 0),
        noteOn(0.1, 9, 46, 100),                             // open hi-hat alone
        noteOn(1.1, 9, 46, 100), noteOn(1.2, 9, 42, 100),    // open, cut by closed
        noteOn(2.1, 9, 46, 100), noteOn(2.2, 9, 44, 100),    // open, cut by pedal
        noteOn(3.1, 9, 46, 100), noteOn(3.2, 9, 49, 100)];   // open, a crash does not cut it
      await render(events, 4);
      const alone = await measure('rms', 0.35, 0.5);
      assert.ok(alone > 0.001, `the open hi-hat is too short: ${alone}`);
      assert.ok((await measure('rms', 1.35, 1.5)) < alone * 0.1, 'the closed hi-hat does not cut the open one');
      assert.ok((await measure('rms', 2.35, 2.5)) < alone * 0.1, 'the pedal hi-hat does not cut the open one');
      assert.ok((await measure('rms', 3.35, 3.5)) > alone, 'a crash cymbal cuts the open hi-hat');
    });

    test('the sustain pedal holds a note past its note-off until the pedal is up', long, async () => {
      // an organ (it sustains at full level) on channel 4 with the pedal, on channel 5 without
      const events = [program(0, 4, 16), program(0, 5, 16), control(0, 4, 91, 0), control(0, 5, 91, 0),
        control(0.05, 4, 64, 127), noteOn(0.1, 4, 60, 100), noteOff(0.3, 4, 60), control(1.0, 4, 64, 0),
        noteOn(1.5, 5, 60, 100), noteOff(1.7, 5, 60)];
      await render(events, 2.5);
      const played = await measure('rms', 0.15, 0.3);
      const pedalled = await measure('rms', 0.5, 0.95);
      assert.ok(pedalled > played * 0.8, `the pedal did not hold the note: ${pedalled} after ${played}`);
      assert.equal(await measure('rms', 1.2, 1.45), 0, 'the note outlived the pedal');
      assert.equal(await measure('rms', 1.9, 2.4), 0, 'without the pedal the note outlived its note-off');
    });

    test('pitch bend over a 12-semitone range set by RPN 0 moves an octave; a null RPN takes no data', long, async () => {
      const events = [program(0, 3, 80), control(0, 3, 91, 0),
        control(0.01, 3, 101, 0), control(0.01, 3, 100, 0), control(0.01, 3, 6, 12), control(0.01, 3, 38, 0),
        control(0.02, 3, 101, 127), control(0.02, 3, 100, 127), control(0.02, 3, 6, 2),  // null RPN: ignored
        noteOn(0.1, 3, 57, 100),
        bend(0.5, 3, 127, 127),   // the top: +8191/8192 of 12 semitones
        bend(1.0, 3, 0, 0),       // the bottom: -12 semitones
        bend(1.5, 3, 0, 64)];     // the middle
      await render(events, 2);
      const rest = await measure('frequency', 0.2, 0.5);
      const up = await measure('frequency', 0.6, 1.0);
      const down = await measure('frequency', 1.1, 1.5);
      const back = await measure('frequency', 1.6, 2.0);
      assert.ok(Math.abs(rest / 220 - 1) < 0.01, `A3 plays at ${rest} Hz`);
      assert.ok(Math.abs(up / rest - 2) < 0.02, `bent up to ${up} Hz from ${rest} Hz`);
      assert.ok(Math.abs(down / rest - 0.5) < 0.01, `bent down to ${down} Hz from ${rest} Hz`);
      assert.ok(Math.abs(back / rest - 1) < 0.01, `back at ${back} Hz, not ${rest} Hz`);
    });

    test('a sampled zone plays at its key\'s pitch from its loop, and one without a loop ends with its sample', long, async () => {
      await page.evaluate(() => {
        // one cycle of a sine in 100 frames at 44,000 Hz: 440 Hz at its root key, A4
        const cycle = Float32Array.from({ length: 100 }, (_, i) => Math.sin((2 * Math.PI * i) / 100));
        const once = Float32Array.from({ length: 4400 }, (_, i) => Math.sin((2 * Math.PI * i) / 100));
        window.smfdumpPage.soundZones([
          { bank: 0, program: 5, sample: cycle, sampleRate: 44000, end: 100, loopStart: 0, loopEnd: 100, loop: 1, root: 69, r: 0.05 },
          { bank: 0, program: 6, sample: once, sampleRate: 44000, end: 4400, root: 69, r: 0.05 },
        ]);
      });
      const events = [program(0, 0, 5), program(0, 1, 6), control(0, 0, 91, 0), control(0, 1, 91, 0),
        noteOn(0.1, 0, 81, 100), noteOff(0.6, 0, 81),   // an octave above the root: 880 Hz
        noteOn(1.0, 1, 69, 100)];                       // 0.1 s of sample, at the root key
      await render(events, 1.6);
      await page.evaluate(() => window.smfdumpPage.soundZones([]));
      const looped = await measure('frequency', 0.15, 0.55);
      assert.ok(Math.abs(looped / 880 - 1) < 0.005, `the looped zone plays ${looped} Hz at A5`);
      assert.ok((await measure('rms', 1.02, 1.09)) > 0.01, 'the zone without a loop does not sound');
      assert.equal(await measure('rms', 1.11, 1.5), 0, 'the zone without a loop plays past its sample\'s end');
    });

    test('2000 notes at once stay within the voice cap; a dense passage renders faster than real time', long, async () => {
      const events = [];
      for (let ch = 0; ch < 16; ch++) events.push(program(0, ch, ch * 8));
      for (let i = 0; i < 2000; i++) events.push(noteOn(0.1, i % 16, Math.floor(i / 16), 40 + (i % 80)));
      for (let i = 0; i < 2000; i++) events.push(noteOff(1.1, i % 16, Math.floor(i / 16)));
      const crowd = await render(events, 6, true);
      const s = crowd.stats;
      console.log(`${name}: 2000 notes at once, 6 s rendered in ${crowd.ms.toFixed(0)} ms; per 128 frames `
        + `mean ${s.meanMs.toFixed(3)} ms, max ${s.maxMs} ms (budget ${s.budgetMs.toFixed(2)} ms); voices at most ${s.voicesPeak}`);
      assert.ok(s.voicesPeak <= s.voiceCap, `${s.voicesPeak} voices at once, over the cap of ${s.voiceCap}`);
      assert.equal(s.voicesPeak, s.voiceCap);
      assert.equal(s.nonFinite, 0);
      assert.ok((await measure('rms', 0.2, 1.0)) > 0.01, 'the crowd is silent');
      assert.equal(s.voices, 0, 'voices still sound 5 s after the last note-off');
      // a dense passage: a note every 5 ms, 0.2 s each, on sixteen channels of different families
      const dense = [];
      for (let ch = 0; ch < 16; ch++) dense.push(program(0, ch, [0, 24, 48, 56, 73, 80, 88, 40, 33, 0, 19, 65, 104, 112, 11, 90][ch]));
      for (let i = 0; i * 0.005 < 20; i++) {
        const t = 0.01 + i * 0.005, ch = i % 16, key = 36 + ((i * 13) % 60);
        dense.push(noteOn(t, ch, key, 90), noteOff(t + 0.2, ch, key));
      }
      const passage = await render(dense, 20, true);
      const p = passage.stats;
      console.log(`${name}: dense passage (200 notes a second, ${p.voicesPeak} voices at most), 20 s rendered in `
        + `${passage.ms.toFixed(0)} ms: ${(20000 / passage.ms).toFixed(1)} s of audio a second; per 128 frames mean ${p.meanMs.toFixed(3)} ms`);
      assert.equal(p.nonFinite, 0);
    });

    test('renderWav writes a RIFF WAVE file, 16-bit stereo at 44,100 Hz, of the same sound', long, async () => {
      const events = [program(0, 0, 0), noteOn(0.05, 0, 60, 110), noteOff(0.3, 0, 60)];
      const file = await page.evaluate(async (given) => {
        const list = given.map(([time, ...bytes]) => ({ time, bytes }));
        const wav = await window.smfdumpPage.renderWav(list, 0.5);
        const { buffer } = await window.smfdumpPage.soundRender(list, 0.5);
        const bytes = new Uint8Array(await wav.arrayBuffer());
        // the float render at a few frames, as the file should hold them
        const frames = [0, 2205, 4000, 8000, 12345, 22049];
        const expected = frames.flatMap((i) => [0, 1].map((c) => Math.round(Math.max(-1, Math.min(1, buffer.getChannelData(c)[i])) * 32767)));
        return { type: wav.type, bytes: Array.from(bytes.subarray(0, 44)), size: bytes.length, frames, expected,
          samples: frames.flatMap((i) => [0, 1].map((c) => new DataView(bytes.buffer).getInt16(44 + 4 * i + 2 * c, true))) };
      }, events);
      const header = Buffer.from(file.bytes);
      const frames = Math.ceil(0.5 * rate);
      assert.equal(file.type, 'audio/wav');
      assert.equal(header.toString('latin1', 0, 4), 'RIFF');
      assert.equal(header.readUInt32LE(4), file.size - 8);
      assert.equal(header.toString('latin1', 8, 16), 'WAVEfmt ');
      assert.equal(header.readUInt32LE(16), 16);       // the format chunk's length
      assert.equal(header.readUInt16LE(20), 1);        // PCM
      assert.equal(header.readUInt16LE(22), 2);        // channels
      assert.equal(header.readUInt32LE(24), 44100);    // frames a second
      assert.equal(header.readUInt32LE(28), 176400);   // bytes a second
      assert.equal(header.readUInt16LE(32), 4);        // bytes a frame
      assert.equal(header.readUInt16LE(34), 16);       // bits a sample
      assert.equal(header.toString('latin1', 36, 40), 'data');
      assert.equal(header.readUInt32LE(40), frames * 4);
      assert.equal(file.size, 44 + frames * 4);
      assert.deepEqual(file.samples, file.expected);
      assert.ok(file.samples.some((x) => x !== 0), 'the file is silent');
    });

    test('played live: soundStart, soundSend, soundClear and soundSilence, in a worklet and on the main thread', long, async (t) => {
      // a browser that refuses the worklet (as a stricter Content-Security-Policy would) gets the main thread
      const refuseWorklets = () => {
        const refusing = { addModule: () => Promise.reject(new Error('refused')) };
        Object.defineProperty(BaseAudioContext.prototype, 'audioWorklet', { get: () => refusing });
      };
      const ways = [{ worklet: true, expected: 'worklet' }, { worklet: false, expected: 'script-processor' },
        { worklet: true, refuse: refuseWorklets, expected: 'script-processor' }];
      for (const { worklet, refuse, expected } of ways) {
        const live = await openSoundPage(refuse ?? null);
        const way = await live.evaluate((w) => window.smfdumpPage.soundStart({ worklet: w }).then((r) => r.way), worklet);
        assert.equal(way, expected, `asked for the worklet: ${worklet}; refused: ${Boolean(refuse)}`);
        const running = await live.evaluate(async () => {
          for (let i = 0; i < 20 && window.smfdumpPage.soundNow() === 0; i++) await new Promise((resolve) => setTimeout(resolve, 50));
          return window.smfdumpPage.soundNow() > 0;
        });
        if (!running) {
          // headless Firefox here has no output device, and its AudioContext never starts
          t.diagnostic(`${name}: the AudioContext did not run; the ${way} way was started but not heard`);
          await closePage(live);
          continue;
        }
        const heard = await live.evaluate(async () => {
          const wait = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
          const now = window.smfdumpPage.soundNow();
          window.smfdumpPage.soundSend([{ time: now + 0.05, bytes: [0xc0, 80] }, { time: now + 0.05, bytes: [0x90, 69, 100] }]);
          window.smfdumpPage.soundSend([{ time: now + 60, bytes: [0x90, 72, 100] }]);  // far off: window.smfdumpPage.soundClear drops it
          await wait(400);
          const playing = await window.smfdumpPage.soundStats();
          window.smfdumpPage.soundClear();
          window.smfdumpPage.soundSilence();
          await wait(200);
          const after = await window.smfdumpPage.soundStats();
          return { playing, after, latency: window.smfdumpPage.soundLatency() };
        });
        assert.ok(heard.playing.peak > 0.01, `${way}: nothing was heard (peak ${heard.playing.peak})`);
        assert.equal(heard.playing.voices, 1, `${way}: the note did not play`);
        assert.equal(heard.playing.queued, 1, `${way}: the far note is not queued`);
        assert.equal(heard.after.queued, 0, `${way}: soundClear left events queued`);
        assert.equal(heard.after.voices, 0, `${way}: soundSilence left voices sounding`);
        assert.ok(heard.latency >= 0 && heard.latency < 1, `${way}: latency ${heard.latency}`);
        await closePage(live);
      }
    });
  });
}
