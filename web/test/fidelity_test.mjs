// The page's sound with Debian's TimGM6mb (timgm6mb-soundfont, GPL: read where Debian puts it, never
// copied) against Debian's FluidSynth with the same SoundFont, reverb and chorus off in both: a piano
// phrase, the drum kit, long notes of five programs, keys outside the set's ranges and a chord of 64
// notes, each saved as WAV by the page in Chromium and Firefox and rendered by fluidsynth, then
// compared note by note (fidelity.mjs): every onset within 5 ms of FluidSynth's, every stretch's level
// within 3 dB once the file's own level offset is taken out, every third-octave band that holds energy
// within 6 dB. It runs only when SMFDUMP_FIDELITY=1 (.ci/web sets it);
// without fluidsynth or TimGM6mb it says so and is skipped. bench/fidelity.sh prints the same
// comparison as a table, for FluidR3 too, and draws it.
//
//   SMFDUMP_FIDELITY=1 node --test web/test/fidelity_test.mjs   (SMFDUMP_PAGE names the page,
//                           build-web/smfdump.html if not; SMFDUMP_BROWSERS=chromium,firefox, else those installed)
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { browserKinds, browsersToTest, launch } from './browsers.mjs';
import { compareRenders, fidelityFiles, fluidsynth, haveFluidsynth, outsideLimits, readWav, renderFluid, renderInPage } from './fidelity.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pagePath = path.resolve(root, process.env.SMFDUMP_PAGE ?? 'build-web/smfdump.html');
const timgm = '/usr/share/sounds/sf2/TimGM6mb.sf2';
const long = { timeout: 600000 };

// Why the comparison can't run here, or null.
function whySkipped() {
  if (process.env.SMFDUMP_FIDELITY !== '1') return 'the comparison with FluidSynth runs with SMFDUMP_FIDELITY=1';
  if (!haveFluidsynth()) return `${fluidsynth} is not there (Debian: fluidsynth)`;
  if (!fs.existsSync(timgm)) return `${timgm} is not there (Debian: timgm6mb-soundfont)`;
  return null;
}
const skip = whySkipped();

// Differences still heard and not yet explained, by file: the test runs and prints them, marked to do,
// without failing the run. In TimGM6mb's strings (key 60) the left zone of the pair sounds 3-4 dB
// quieter in FluidSynth than its generators say while its right partner matches, and the organ's
// quiet 85-frame looped zone (key 55) fades by about 4 dB over two seconds there but holds here.
const notYetExplained = {
  envelopes: 'strings key 60: left zone 3-4 dB quieter in FluidSynth; organ key 55: its short looped zone fades there',
};

const files = fidelityFiles();
let scratch = null;
const fluid = {};  // FluidSynth's render of each file, by name

before(() => {
  if (skip) return;
  scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-fidelity-'));
  for (const f of files) {
    f.path = path.join(scratch, `${f.name}.mid`);
    fs.writeFileSync(f.path, f.bytes);
    renderFluid(timgm, f.path, path.join(scratch, `${f.name}-fluidsynth.wav`));
    fluid[f.name] = readWav(path.join(scratch, `${f.name}-fluidsynth.wav`));
  }
});

after(() => {
  if (scratch) fs.rmSync(scratch, { recursive: true, force: true });
});

for (const kind of browsersToTest()) {
  const name = browserKinds[kind].title;
  describe(`${name}: TimGM6mb as FluidSynth plays it`, { skip: skip ?? false }, () => {
    const saved = {};

    before(async () => {
      const session = await launch(kind);
      try {
        Object.assign(saved, await renderInPage(session, pagePath, timgm, files, scratch));
      } finally {
        await session.close();
      }
    }, long);

    for (const f of files) {
      test(`the ${f.name}: onsets, levels and bands note by note`, { ...long, todo: notYetExplained[f.name] ?? false }, () => {
        const page = readWav(saved[f.name]);
        const c = compareRenders(f.notes, page, fluid[f.name]);
        assert.ok(c.peaks.page < 0.99 && c.peaks.fluid < 0.99, `a render clipped (peaks: the page ${c.peaks.page}, FluidSynth ${c.peaks.fluid})`);
        assert.deepEqual(outsideLimits(c), [], `the page lags FluidSynth by ${c.lagMs.toFixed(1)} ms and is ${c.offsetDb.toFixed(1)} dB over it`);
      });
    }
  });
}
