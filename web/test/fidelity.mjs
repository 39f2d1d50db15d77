// How close the page's sound with a SoundFont comes to FluidSynth's with the same SoundFont, for the
// fidelity test (fidelity_test.mjs) and its report (bench/fidelity.mjs): short MIDI files made here,
// each rendered by the page's "Save as WAV" in a browser and by Debian's fluidsynth, reverb and chorus
// off in both; the two sounds aligned by their onsets and compared note by note: when each note starts,
// how loud it is stretch by stretch (attack, body, release), and its third-octave spectrum.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { closePage, newContext, openPage, pickFiles, saveByClick, waitFor } from './browsers.mjs';
import { endOfTrack, event, file, tempo } from './smf.mjs';

export const fluidsynth = '/usr/bin/fluidsynth';
export const fidelityRate = 44100;     // frames a second of both renders (the page's WAV files are at this rate)
export const fluidGain = 0.4;          // FluidSynth's master gain: near the page's level for General MIDI sets
export const limits = { onsetMs: 5, loudnessDb: 3, bandDb: 6 };  // how far the page may stray from FluidSynth

const floorDb = 60;        // levels this far below a file's loudest stretch count as silence
const loudDb = 40;         // a stretch this close to its file's loudest is loud enough to compare its spectrum
const bandSpanDb = 30;     // a band holds energy when it is this close to the loudest band of the stretch
const bandFloorDb = 40;    // band levels this far below the loudest band of the stretch count as nothing
const attackSeconds = 0.05;
const pieceSeconds = 0.5;  // a held note is compared in pieces this long
const releaseSeconds = 0.5;
const tailSeconds = 1;
const fftSize = 8192;
// third-octave bands from 40 Hz to 16 kHz: centres 1000 * 2^(k/3)
const bands = Array.from({ length: 27 }, (_, i) => 1000 * 2 ** ((i - 14) / 3));

// ---- the files ----------------------------------------------------------------------------------

// A Standard MIDI File of one track, 500 ticks a quarter at 120 a minute, so a tick is a millisecond:
// each channel used has its reverb and chorus sends set to 0 and its program at tick 0, then the notes
// ({ on, off (ms), channel, key, velocity }); the track ends two seconds after the last note-off, so
// that a renderer that stops at the track's end still plays every release.
function notesFile(programs, notes) {
  const timed = [];
  for (const n of notes) {
    timed.push({ tick: n.on, order: 1, bytes: [0x90 | n.channel, n.key, n.velocity] });
    timed.push({ tick: n.off, order: 0, bytes: [0x80 | n.channel, n.key, 64] });  // an off before an on at the same tick
  }
  timed.sort((a, b) => a.tick - b.tick || a.order - b.order);
  const events = [tempo(0, 500000)];
  for (const [channel, number] of programs) {
    events.push(event(0, [0xb0 | channel, 91, 0]));   // reverb send off
    events.push(event(0, [0xb0 | channel, 93, 0]));   // chorus send off
    if (number !== null) events.push(event(0, [0xc0 | channel, number]));
  }
  let last = 0;
  for (const t of timed) {
    events.push(event(t.tick - last, t.bytes));
    last = t.tick;
  }
  events.push(endOfTrack(2000));
  return file(0, 500, [events]);
}

// A note on channel (0-15) from on to off ms.
const note = (channel, key, velocity, on, off) => ({ channel, key, velocity, on, off });

// The files compared: { name, bytes, notes }.
export function fidelityFiles() {
  const made = [];
  const add = (name, programs, notes) => made.push({ name, bytes: notesFile(programs, notes), notes });

  // an acoustic grand: keys and velocities apart, some overlapping, A2 held under three later notes
  add('piano', [[0, 0]], [
    note(0, 60, 100, 200, 600), note(0, 64, 70, 500, 1000), note(0, 67, 45, 900, 1200), note(0, 72, 120, 1300, 1550),
    note(0, 45, 90, 1700, 4200), note(0, 77, 60, 2200, 2600), note(0, 59, 110, 2800, 3100), note(0, 84, 80, 3400, 3800),
  ]);

  // the General MIDI drum kit on channel 10, keys 35 to 81, each at its own velocity (127 down to 35)
  const drums = [];
  for (let key = 35; key <= 81; key++) drums.push(note(9, key, 127 - 2 * (key - 35), 200 + 400 * (key - 35), 350 + 400 * (key - 35)));
  add('drums', [[9, null]], drums);

  // one long note each, held 2.5 s and released, for the envelopes: strings, church organ, flute,
  // brass section, warm pad
  const held = [[48, 60], [19, 55], [73, 72], [61, 62], [89, 57]];
  add('envelopes', held.map(([p], ch) => [ch, p]), held.map(([, key], ch) => note(ch, key, 100, 200 + 4000 * ch, 2700 + 4000 * ch)));

  // keys the sets have no sample for: the contrabass above its range (after one note inside it), the
  // piano above the keyboard (after middle C)
  const outside = [note(0, 40, 100, 200, 500)];
  for (let key = 58; key <= 64; key++) outside.push(note(0, key, 100, 800 + 600 * (key - 58), 1100 + 600 * (key - 58)));
  outside.push(note(1, 60, 100, 5200, 5500));
  [109, 115, 121, 127].forEach((key, i) => outside.push(note(1, key, 100, 5800 + 600 * i, 6100 + 600 * i)));
  add('outside', [[0, 43], [1, 0]], outside);

  // 64 notes struck at once across the keyboard (A0 to C8, every other key or so) on the string
  // ensemble, held 2 s, velocities 40 to 75
  const chord = [];
  for (let i = 0; i < 64; i++) chord.push(note(0, 21 + Math.round((i * 87) / 63), 40 + (i % 36), 200, 2200));
  add('chord', [[0, 48]], chord);
  return made;
}

// ---- rendering ----------------------------------------------------------------------------------

// Whether FluidSynth is there to render with.
export function haveFluidsynth() {
  return fs.existsSync(fluidsynth);
}

// Renders the MIDI file midiPath with FluidSynth and font into wavPath: reverb and chorus off, at
// fidelityRate, at fluidGain, in 32-bit float (no dither, nothing clipped).
export function renderFluid(font, midiPath, wavPath) {
  execFileSync(fluidsynth, ['-ni', '-q', '-F', wavPath, '-O', 'float', '-r', String(fidelityRate), '-o', 'synth.reverb.active=0',
    '-o', 'synth.chorus.active=0', '-g', String(fluidGain), font, midiPath], { stdio: ['ignore', 'ignore', 'pipe'] });
}

// Renders each of files ({ name, path }) with the page in session's browser, the SoundFont font loaded
// through "Load SoundFont…", through the page's "Save as WAV", into outDir as
// fidelity-NAME-SOUNDFONT-BROWSER.wav; returns their paths by name.
export async function renderInPage(session, pagePath, font, files, outDir) {
  const fontName = path.basename(font, path.extname(font));
  const { context, downloads } = await newContext(session);
  const page = await openPage(session, pagePath, { context: { context, downloads } });
  try {
    // the page's reverb and chorus off, as FluidSynth's are: a zone's own sends (a kick's 3%, a
    // piano's 7%) would otherwise still be heard, which CC 91 and 93 at 0 do not take away
    await page.evaluate(() => window.smfdumpPage.soundEffects(false));
    await pickFiles(page, '#soundfont-input', font);
    await waitFor(page, (name) => document.getElementById('sound-state').textContent.startsWith(`Sound: the SoundFont ${name}`),
      path.basename(font), { timeout: 600000, polling: 200 });
    await pickFiles(page, '#open-input', files.map((f) => f.path));
    const saved = {};
    for (let i = 0; i < files.length; i++) {
      if (i > 0) await page.click(`#files li:nth-child(${i + 1}) button`);
      await waitFor(page, (n) => document.body.dataset.state === 'ready'
        && document.getElementById('save-wav').getAttribute('aria-disabled') !== 'true'
        && (document.getElementById('files').hidden || document.querySelector(`#files li:nth-child(${n + 1}) button`).getAttribute('aria-current') === 'true'),
      i, { timeout: 60000, polling: 50 });
      const where = path.join(outDir, `fidelity-${files[i].name}-${fontName}-${session.kind}.wav`);
      fs.renameSync((await saveByClick(page, '#save-wav', { timeout: 600000 })).saved, where);
      saved[files[i].name] = where;
    }
    return saved;
  } finally {
    await closePage(page);
    await context.close();
  }
}

// ---- reading and measuring ----------------------------------------------------------------------

// A WAV file as one channel (its channels averaged): { sound (Float32Array), rate }. Takes 16-, 24- and
// 32-bit PCM and 32-bit float.
export function readWav(where) {
  const bytes = fs.readFileSync(where);
  if (bytes.toString('latin1', 0, 4) !== 'RIFF' || bytes.toString('latin1', 8, 12) !== 'WAVE') throw new Error(`${where} is not a WAV file`);
  let format = null;
  for (let at = 12; at + 8 <= bytes.length;) {
    const id = bytes.toString('latin1', at, at + 4), size = bytes.readUInt32LE(at + 4), body = at + 8;
    if (id === 'fmt ') {
      format = { tag: bytes.readUInt16LE(body), channels: bytes.readUInt16LE(body + 2), rate: bytes.readUInt32LE(body + 4), bits: bytes.readUInt16LE(body + 14) };
      if (format.tag === 0xfffe) format.tag = bytes.readUInt16LE(body + 24);  // the extensible format's own tag
    } else if (id === 'data' && format) {
      const width = format.bits / 8, frameBytes = width * format.channels;
      const frames = Math.floor(Math.min(size, bytes.length - body) / frameBytes);
      const read = format.tag === 3 ? (o) => bytes.readFloatLE(o)
        : format.bits === 16 ? (o) => bytes.readInt16LE(o) / 32768
          : format.bits === 24 ? (o) => bytes.readIntLE(o, 3) / 8388608 : (o) => bytes.readInt32LE(o) / 2147483648;
      const sound = new Float32Array(frames);
      for (let i = 0; i < frames; i++) {
        let sum = 0;
        for (let c = 0; c < format.channels; c++) sum += read(body + i * frameBytes + c * width);
        sound[i] = sum / format.channels;
      }
      return { sound, rate: format.rate };
    }
    at = body + size + (size & 1);
  }
  throw new Error(`${where} has no sound`);
}

// The RMS of sound from frame a to frame b (frames outside it count as silence).
function rms(sound, a, b) {
  let sum = 0;
  for (let i = Math.max(0, a); i < Math.min(sound.length, b); i++) sum += sound[i] * sound[i];
  return Math.sqrt(sum / Math.max(1, b - a));
}

// x (an RMS) in dB, a silence as -200 dB.
const db = (x) => 20 * Math.log10(Math.max(x, 1e-10));

// The onset of a sound near time t (seconds): { time, rise }, time the end of the first 5 ms window,
// moved 0.5 ms at a time from 10 ms before t, whose RMS passes the loudest window of the 25 ms before
// that by a tenth of the rise to the loudest window of the next `within` seconds, rise that rise as
// a ratio of RMS (the loudest window before, not the mean, so that a note still ringing and wavering
// does not cross the line before the new one starts); null when the sound does not rise there by 3 dB.
function onsetNear(sound, rate, t, within) {
  const f = (s) => Math.round(s * rate), w = f(0.005), step = Math.round(rate * 0.0005);
  let before = 0, peak = 0;
  for (let a = f(t - 0.035); a + w <= f(t - 0.01); a += step) before = Math.max(before, rms(sound, a, a + w));
  for (let a = f(t - 0.01); a + w <= f(t + within); a += step) peak = Math.max(peak, rms(sound, a, a + w));
  if (peak < before * 1.41 || peak < 1e-6) return null;
  const level = before + 0.1 * (peak - before);
  for (let a = f(t - 0.01); a + w <= f(t + within); a += step) {
    if (rms(sound, a, a + w) > level) return { time: (a + w) / rate, rise: peak / Math.max(before, 1e-9) };
  }
  return null;
}

// In-place radix-2 FFT of re, im (their length a power of two).
function fft(re, im) {
  const n = re.length;
  for (let i = 1, j = 0; i < n; i++) {
    let bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      [re[i], re[j]] = [re[j], re[i]];
      [im[i], im[j]] = [im[j], im[i]];
    }
  }
  for (let size = 2; size <= n; size <<= 1) {
    const step = (-2 * Math.PI) / size;
    for (let start = 0; start < n; start += size) {
      for (let k = 0; k < size / 2; k++) {
        const c = Math.cos(step * k), s = Math.sin(step * k);
        const a = start + k, b = a + size / 2;
        const tr = re[b] * c - im[b] * s, ti = re[b] * s + im[b] * c;
        re[b] = re[a] - tr; im[b] = im[a] - ti;
        re[a] += tr; im[a] += ti;
      }
    }
  }
}

// The power spectrum (fftSize / 2 bins) of sound from frame a to b: Hann windows of up to fftSize
// frames, half overlapping, averaged (a shorter stretch is one window, padded with silence).
export function powerSpectrum(sound, a, b, size = fftSize) {
  const length = Math.min(size, b - a), power = new Float64Array(size / 2);
  let windows = 0;
  for (let from = a; from + length <= b; from += Math.max(1, length >> 1)) {
    const re = new Float64Array(size), im = new Float64Array(size);
    for (let i = 0; i < length; i++) re[i] = (sound[from + i] ?? 0) * (0.5 - 0.5 * Math.cos((2 * Math.PI * i) / length));
    fft(re, im);
    for (let k = 0; k < size / 2; k++) power[k] += re[k] * re[k] + im[k] * im[k];
    windows++;
  }
  return power.map((p) => p / Math.max(1, windows));
}

// The third-octave band levels (dB) of sound from frame a to b, each relative to the stretch's total.
function bandLevels(sound, rate, a, b) {
  const power = powerSpectrum(sound, a, b);
  const binHz = rate / fftSize;
  const levels = bands.map((centre) => {
    let sum = 0;
    const lo = Math.ceil((centre * 2 ** (-1 / 6)) / binHz), hi = Math.min(power.length - 1, Math.floor((centre * 2 ** (1 / 6)) / binHz));
    for (let k = lo; k <= hi; k++) sum += power[k];
    return sum;
  });
  const total = levels.reduce((s, x) => s + x, 0);
  return levels.map((x) => 10 * Math.log10(Math.max(x, 1e-20) / Math.max(total, 1e-20)));
}

// A band's name: its nominal centre.
const bandName = (i) => (bands[i] >= 1000 ? `${(bands[i] / 1000).toPrecision(2)} kHz` : `${Math.round(bands[i] / (bands[i] < 100 ? 1 : 10)) * (bands[i] < 100 ? 1 : 10)} Hz`);

// The onset groups of a file's notes (notes starting together are one group), each with the stretches
// it is compared over: its attack, its body in pieces, its release, each cut where the next group
// starts; the last group also a second after its release. [{ t, label, notes, stretches: [{ from, to,
// label }] }] in seconds.
function noteGroups(notes) {
  const byOn = new Map();
  for (const n of notes) byOn.set(n.on, [...(byOn.get(n.on) ?? []), n]);
  const starts = [...byOn.keys()].sort((a, b) => a - b);
  return starts.map((on, g) => {
    const group = byOn.get(on), t = on / 1000, next = g + 1 < starts.length ? starts[g + 1] / 1000 : Infinity;
    const end = Math.max(...group.map((n) => n.off)) / 1000;
    const first = group[0];
    const label = `ch ${first.channel + 1} key ${first.key} vel ${first.velocity} at ${t.toFixed(2)} s${group.length > 1 ? ` (+${group.length - 1} notes)` : ''}`;
    const stretches = [];
    const push = (from, to, what) => { if (to - from >= 0.02) stretches.push({ from, to, label: what }); };
    push(t, Math.min(t + attackSeconds, next), 'attack');
    for (let from = t + attackSeconds; from < Math.min(end, next); from += pieceSeconds) {
      const to = Math.min(from + pieceSeconds, end, next);
      push(from, to, `held ${(from - t).toFixed(2)}-${(to - t).toFixed(2)} s`);
    }
    if (end < next) push(end, Math.min(end + releaseSeconds, next), 'release');
    // after the last release: silence in both, unless a reverb or chorus send is heard where none is asked for
    if (next === Infinity) push(end + releaseSeconds, end + releaseSeconds + tailSeconds, 'after the last release');
    return { t, label, notes: group, stretches };
  });
}

// The median of values, 0 for none.
const median = (values) => {
  const v = [...values].sort((a, b) => a - b);
  return v.length === 0 ? 0 : v.length % 2 ? v[(v.length - 1) / 2] : (v[v.length / 2 - 1] + v[v.length / 2]) / 2;
};

// The page's render of a file against FluidSynth's (each { sound, rate }), note group by note group:
// the page's lag behind FluidSynth (the median onset gap: the page's stretches are taken that much
// later) and level offset (the median level difference over stretches loud in both), then the worst
// onset gap (both renderers play at the file's times, so the gap is taken as it is, lag and all), the
// worst level difference after the offset, the worst band difference; each worst with the note,
// stretch or band where it is. Also the level difference after the last release (tailDb: a reverb or
// chorus heard in one render only) and the peaks of both (a peak at full scale has clipped).
export function compareRenders(notes, page, fluid) {
  const rate = fluid.rate;
  if (page.rate !== rate) throw new Error(`the page renders at ${page.rate} Hz and FluidSynth at ${rate} Hz`);
  const groups = noteGroups(notes);
  const f = (s) => Math.round(s * rate);
  // onsets, and the lag: a note that stands out in FluidSynth's render (its level rises 6 dB) must start in the
  // page's within the limit, and a note that stands out in the page's must start in FluidSynth's; a
  // note buried under others in both is left to the level checks
  const clear = (o) => o !== null && o.rise >= 2;
  const onsets = groups.map((g, i) => {
    const within = Math.min(0.1, (i + 1 < groups.length ? groups[i + 1].t : Infinity) - g.t);
    return { page: onsetNear(page.sound, rate, g.t, within), fluid: onsetNear(fluid.sound, rate, g.t, within) };
  });
  const lag = median(onsets.filter((o) => clear(o.fluid) && o.page !== null).map((o) => o.page.time - o.fluid.time));
  const onset = { worst: 0, where: 'no note stands out in either render' };
  let counted = 0;
  onsets.forEach((o, i) => {
    let gap = 0, where = groups[i].label;
    if (clear(o.fluid) && o.page === null) [gap, where] = [Infinity, `${where}: no onset in the page's render`];
    else if (clear(o.page) && o.fluid === null) [gap, where] = [Infinity, `${where}: no onset in FluidSynth's render`];
    else if (clear(o.fluid)) gap = Math.abs(o.page.time - o.fluid.time) * 1000;
    else return;
    if (counted++ === 0 || gap > onset.worst) Object.assign(onset, { worst: gap, where });
  });
  // levels stretch by stretch, the page's taken `lag` later
  const shift = f(lag);
  const stretches = groups.flatMap((g) => g.stretches.map((s) => ({ ...s, group: g,
    page: db(rms(page.sound, f(s.from) + shift, f(s.to) + shift)), fluid: db(rms(fluid.sound, f(s.from), f(s.to))) })));
  const topPage = Math.max(...stretches.map((s) => s.page)), topFluid = Math.max(...stretches.map((s) => s.fluid));
  const loud = stretches.filter((s) => s.page > topPage - loudDb && s.fluid > topFluid - loudDb);
  const offset = median(loud.map((s) => s.page - s.fluid));
  const floor = Math.max(topPage, topFluid + offset) - floorDb;
  const loudLine = floor + floorDb - loudDb;  // a stretch over it in both has its bands compared
  const loudness = { worst: 0, signed: 0, where: '' };
  const band = { worst: 0, signed: 0, where: '' };
  let tail = 0;  // the page's level over FluidSynth's after the last release
  for (const s of stretches) {
    const d = Math.max(s.page, floor) - Math.max(s.fluid + offset, floor);
    if (Math.abs(d) > loudness.worst) Object.assign(loudness, { worst: Math.abs(d), signed: d, where: `${s.group.label}, ${s.label}` });
    if (s.label === 'after the last release') tail = d;
    if (s.to - s.from < 0.08 || !(s.page > loudLine && s.fluid + offset > loudLine)) continue;
    const p = bandLevels(page.sound, rate, f(s.from) + shift, f(s.to) + shift), q = bandLevels(fluid.sound, rate, f(s.from), f(s.to));
    const top = Math.max(...p, ...q);
    for (let i = 0; i < bands.length; i++) {
      if (p[i] < top - bandSpanDb && q[i] < top - bandSpanDb) continue;
      const bd = Math.max(p[i], top - bandFloorDb) - Math.max(q[i], top - bandFloorDb);
      if (Math.abs(bd) > band.worst) Object.assign(band, { worst: Math.abs(bd), signed: bd, where: `${s.group.label}, ${s.label}, ${bandName(i)}` });
    }
  }
  const peak = (x) => x.reduce((m, v) => Math.max(m, Math.abs(v)), 0);
  return { lagMs: lag * 1000, offsetDb: offset, onset, loudness, band, tailDb: tail, peaks: { page: peak(page.sound), fluid: peak(fluid.sound) } };
}

// Whether a comparison is within the limits, and if not, a sentence for each check that is not.
export function outsideLimits(c) {
  const out = [];
  if (c.onset.worst === Infinity) out.push(`a note starts in one render only (${c.onset.where})`);
  else if (c.onset.worst > limits.onsetMs) out.push(`an onset ${c.onset.worst.toFixed(1)} ms apart (${c.onset.where})`);
  if (c.loudness.worst > limits.loudnessDb) out.push(`a level ${c.loudness.signed.toFixed(1)} dB off (${c.loudness.where})`);
  if (c.band.worst > limits.bandDb) out.push(`a band ${c.band.signed.toFixed(1)} dB off (${c.band.where})`);
  return out;
}
