// The page's sound with a SoundFont against FluidSynth's, as a report (bench/fidelity.sh installs and
// builds what it needs): the fidelity test's files (web/test/fidelity.mjs) rendered by the page's "Save
// as WAV" in each browser and by Debian's fluidsynth, reverb and chorus off, for each SoundFont given;
// a table of the worst onset gap, level difference and band difference of each file, and where each
// is; and pictures of the piano phrase and the drum kit (PNG: the level in dB over time and a
// spectrogram, the page's above FluidSynth's) in OUT_DIR.
//
//   node bench/fidelity.mjs BUILD_WEB_DIR OUT_DIR SOUNDFONT...   (SMFDUMP_BROWSERS as for the page's tests;
//                                   FIDELITY_PICTURES names the files drawn, piano,drums if not)
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { browserKinds, browsersToTest, launch } from '../web/test/browsers.mjs';
import { compareRenders, fidelityFiles, haveFluidsynth, limits, powerSpectrum, readWav, renderFluid, renderInPage } from '../web/test/fidelity.mjs';

const [webDir = 'build-web', outDir = 'bench/out', ...fonts] = process.argv.slice(2);
const pagePath = path.resolve(webDir, 'smfdump.html');
const pictured = (process.env.FIDELITY_PICTURES ?? 'piano,drums').split(',');

// ---- PNG ----------------------------------------------------------------------------------------

// The CRC-32 of bytes, as PNG chunks carry it.
function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) {
    c ^= b;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  }
  return (c ^ 0xffffffff) >>> 0;
}

// One PNG chunk: length, type, data, CRC of type and data.
function pngChunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'latin1');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, crc]);
}

// An RGB image (width x height, rgb: 3 bytes a pixel, row by row) as PNG file bytes: 8 bits a
// channel, no interlace, each row unfiltered.
function png(width, height, rgb) {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 2, 0, 0, 0], 8);  // bit depth, colour type RGB, deflate, filter set 0, no interlace
  const raw = Buffer.alloc((width * 3 + 1) * height);
  for (let y = 0; y < height; y++) rgb.copy(raw, y * (width * 3 + 1) + 1, y * width * 3, (y + 1) * width * 3);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    pngChunk('IHDR', header), pngChunk('IDAT', zlib.deflateSync(raw)), pngChunk('IEND', Buffer.alloc(0))]);
}

// ---- pictures -----------------------------------------------------------------------------------

const width = 1400, levelHeight = 110, spectrumHeight = 220, gap = 6;
const rangeDb = 60, spectrumRangeDb = 90, lowHz = 40, highHz = 16000;

// A colour for v from 0 (black) through blue, red and yellow to 1 (white).
function heat(v) {
  const stops = [[0, 0, 0], [30, 20, 110], [150, 30, 120], [230, 70, 30], [250, 200, 40], [255, 255, 255]];
  const x = Math.max(0, Math.min(1, v)) * (stops.length - 1), i = Math.min(stops.length - 2, Math.floor(x)), t = x - i;
  return stops[i].map((c, k) => Math.round(c + (stops[i + 1][k] - c) * t));
}

// Draws one render into rgb from row y0: its level (RMS in dB over each column's time, 0 dB at top the
// loudest of both renders, grid lines each second) and its spectrogram (40 Hz to 16 kHz on a log scale,
// 90 dB of range under the loudest bin of both).
function drawRender(rgb, y0, wav, seconds, topRms, topPower) {
  const set = (x, y, [r, g, b]) => rgb.set([r, g, b], ((y0 + y) * width + x) * 3);
  const perColumn = (seconds * wav.rate) / width;
  for (let x = 0; x < width; x++) {
    const a = Math.floor(x * perColumn), b = Math.floor((x + 1) * perColumn);
    let sum = 0;
    for (let i = a; i < b && i < wav.sound.length; i++) sum += wav.sound[i] ** 2;
    const level = 20 * Math.log10(Math.max(1e-10, Math.sqrt(sum / Math.max(1, b - a))) / topRms);
    const bar = Math.round(Math.max(0, Math.min(1, 1 + level / rangeDb)) * levelHeight);
    const second = Math.floor((x * seconds) / width) !== Math.floor(((x + 1) * seconds) / width);
    for (let y = 0; y < levelHeight; y++) set(x, y, y >= levelHeight - bar ? [60, 170, 90] : second || y % 22 === 0 ? [60, 60, 60] : [20, 20, 20]);
    const middle = Math.floor((a + b) / 2), power = powerSpectrum(wav.sound, middle - 1024, middle + 1024, 2048);
    for (let y = 0; y < spectrumHeight; y++) {
      const hz = lowHz * (highHz / lowHz) ** ((spectrumHeight - 1 - y) / (spectrumHeight - 1));
      const bin = Math.round((hz * 2048) / wav.rate);
      const d = 10 * Math.log10(Math.max(1e-30, power[bin] / topPower));
      set(x, levelHeight + y, heat(1 + d / spectrumRangeDb));
    }
  }
}

// Writes the picture of a page render over a FluidSynth render to where.
function picture(where, page, fluid) {
  const seconds = Math.max(page.sound.length, fluid.sound.length) / fluid.rate;
  const top = Math.max(...[page, fluid].map((w) => {
    let peak = 0;
    for (let i = 0; i + 2048 <= w.sound.length; i += 1024) {
      let sum = 0;
      for (let k = i; k < i + 2048; k++) sum += w.sound[k] ** 2;
      peak = Math.max(peak, Math.sqrt(sum / 2048));
    }
    return peak;
  }));
  let topPower = 0;
  for (const w of [page, fluid]) {
    for (let i = 0; i + 2048 <= w.sound.length; i += 2048) topPower = Math.max(topPower, ...powerSpectrum(w.sound, i, i + 2048, 2048));
  }
  const one = levelHeight + spectrumHeight, height = 2 * one + gap;
  const rgb = Buffer.alloc(width * height * 3, 128);
  drawRender(rgb, 0, page, seconds, top, topPower);
  drawRender(rgb, one + gap, fluid, seconds, top, topPower);
  fs.writeFileSync(where, png(width, height, rgb));
}

// ---- the report ---------------------------------------------------------------------------------

if (!haveFluidsynth()) {
  console.log('fidelity: /usr/bin/fluidsynth is not there (Debian: fluidsynth): nothing compared');
  process.exit(0);
}
fs.mkdirSync(outDir, { recursive: true });
const files = fidelityFiles().map((f) => {
  const where = path.join(outDir, `fidelity-${f.name}.mid`);
  fs.writeFileSync(where, f.bytes);
  return { ...f, path: where };
});
const kinds = browsersToTest();
console.log(`limits: onset ${limits.onsetMs} ms, level ${limits.loudnessDb} dB (after the file's offset), band ${limits.bandDb} dB`);
const rows = [];
for (const font of fonts) {
  const fontName = path.basename(font, path.extname(font));
  const fluid = {};
  for (const f of files) {
    const where = path.join(outDir, `fidelity-${f.name}-${fontName}-fluidsynth.wav`);
    renderFluid(font, f.path, where);
    fluid[f.name] = readWav(where);
  }
  for (const kind of kinds) {
    const session = await launch(kind);
    const started = Date.now();
    let saved;
    try {
      saved = await renderInPage(session, pagePath, font, files, outDir);
    } finally {
      await session.close();
    }
    console.log(`${fontName} in ${browserKinds[kind].title}: loaded and ${files.length} files saved as WAV in ${((Date.now() - started) / 1000).toFixed(1)} s`);
    for (const f of files) {
      const page = readWav(saved[f.name]);
      rows.push({ file: f.name, font: fontName, browser: browserKinds[kind].title, c: compareRenders(f.notes, page, fluid[f.name]) });
      if (pictured.includes(f.name)) picture(path.join(outDir, `fidelity-${f.name}-${fontName}-${kind}.png`), page, fluid[f.name]);
    }
  }
}

// A worst as the table shows it: none for a note heard in one render only, * when over its limit.
const cell = (v, limit) => `${Number.isFinite(v) ? v.toFixed(1) : 'none'}${v > limit ? '*' : ' '}`;
console.log('\nworst per file (* over the limit; lag: the page behind FluidSynth; offset: the page\'s level over FluidSynth\'s;'
  + ' tail: the page\'s level over FluidSynth\'s in the second after the last release, 60 dB under the loudest counted as silence)');
console.log(`${'file'.padEnd(10)} ${'SoundFont'.padEnd(12)} ${'browser'.padEnd(9)} ${'lag ms'.padStart(7)} ${'offset dB'.padStart(9)} ${'peak'.padStart(11)} ${'onset ms'.padStart(9)} ${'level dB'.padStart(9)} ${'band dB'.padStart(8)} ${'tail dB'.padStart(8)}`);
for (const { file, font, browser, c } of rows) {
  console.log(`${file.padEnd(10)} ${font.padEnd(12)} ${browser.padEnd(9)} ${c.lagMs.toFixed(1).padStart(7)} ${c.offsetDb.toFixed(1).padStart(9)} `
    + `${`${c.peaks.page.toFixed(2)}/${c.peaks.fluid.toFixed(2)}`.padStart(11)} ${cell(c.onset.worst, limits.onsetMs).padStart(9)} `
    + `${cell(c.loudness.worst, limits.loudnessDb).padStart(9)} ${cell(c.band.worst, limits.bandDb).padStart(8)} ${c.tailDb.toFixed(1).padStart(8)}`);
}
console.log('\nwhere (level and band signed: the page\'s over FluidSynth\'s)');
for (const { file, font, browser, c } of rows) {
  console.log(`${file} ${font} ${browser}`);
  console.log(`  onset ${cell(c.onset.worst, limits.onsetMs)} ms   ${c.onset.where || '-'}`);
  console.log(`  level ${c.loudness.signed.toFixed(1)} dB   ${c.loudness.where || '-'}`);
  console.log(`  band  ${c.band.signed.toFixed(1)} dB   ${c.band.where || '-'}`);
}
