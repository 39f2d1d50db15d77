// A SoundFont's regions, as the C++ reader gives them (soundfont_worker.js hands them over), made into
// the synthesizer's sampled zones (synth.js, synthZones): one zone a region, all playing from the one
// Int16Array that holds every sample, with the units the synthesizer takes and the readings of the
// format that General MIDI SoundFonts are made for.
'use strict';

// Region_word and Region_value in soundfont.h: where each field of a region lies.
const sfWord = { keyLo: 0, keyHi: 1, velLo: 2, velHi: 3, sample: 4, start: 5, end: 6, loopStart: 7, loopEnd: 8, loopMode: 9, root: 10, exclusive: 11 };
const sfValue = {
  coarse: 0, fine: 1, correction: 2, scaleTuning: 3, attenuation: 4, pan: 5,
  delay: 6, attack: 7, hold: 8, decay: 9, sustain: 10, release: 11, keyToHold: 12, keyToDecay: 13, cutoff: 14, q: 15,
};
const sfPresetField = { bank: 0, program: 1, first: 2, count: 3 };
const sfSampleField = { frames: 2, rate: 3, type: 4 };  // Sample_field: the fields the page reads
const sfOggStream = 0x10;  // the sample type bit of an Ogg Vorbis stream

const sfLevel = 2;                // a SoundFont's level against the built-in sound's: General MIDI sets sound about half as loud
const sfAttenuationShare = 0.4;   // of each dB of initial attenuation the file gives, as the hardware the format came from (and every player since) applies it
const sfDecayDb = 100;            // a decay or release time is the time to fall this many dB
const sfReleaseLeast = 0.0156;    // seconds: a shorter release clicks (FluidSynth's floor, -7200 timecents)
const sfFilterOpen = 19900;       // Hz: a cutoff this high (13500 cents, the format's top) is no filter
const sfVibratoHz = 8.176;        // the vibrato LFO's rate when a zone leaves it (0 cents), which the mod wheel deepens

// The zones of font (from soundFontTables) playing from pcm. frames[i]: how many frames of sample i
// pcm holds (0: none, its regions are left out); rates[i]: the rate they are at (an Ogg Vorbis stream
// decoded at another rate than the file's has its frames counted at that rate). Returns
// { zones, dropped (regions left out) }.
function soundFontZones(font, pcm, frames, rates) {
  const zones = [];
  let dropped = 0;
  const W = font.regionWordFields, V = font.regionValueFields, P = font.presetFields;
  for (let p = 0; p < font.presets.length / P; p++) {
    const bank = font.presets[p * P + sfPresetField.bank], program = font.presets[p * P + sfPresetField.program];
    const first = font.presets[p * P + sfPresetField.first], count = font.presets[p * P + sfPresetField.count];
    for (let r = first; r < first + count; r++) {
      const w = (field) => font.regionWords[r * W + field];
      const v = (field) => font.regionValues[r * V + field];
      const sample = w(sfWord.sample);
      const zone = sampledZone(w, v, font.starts[sample], font.samples[sample * font.sampleFields + sfSampleField.rate], frames[sample], rates[sample]);
      if (zone === null) {
        dropped++;
        continue;
      }
      zone.bank = bank;
      zone.program = program;
      zone.sample = pcm;
      zones.push(zone);
    }
  }
  return { zones, dropped };
}

// One region as a zone (all but its preset and sample array), its sample starting at frame `base` of
// the array, `rate` frames a second as the file has it, `have` frames there at `haveRate` a second;
// null when nothing of it can be played.
function sampledZone(w, v, base, rate, have, haveRate) {
  const scale = haveRate / rate;  // frames of the decoded sample to one of the file's
  const at = (frame) => Math.min(have, Math.round(frame * scale));
  const start = at(w(sfWord.start)), end = at(w(sfWord.end));
  if (end - start < 2) return null;
  let loop = w(sfWord.loopMode);
  const loopStart = Math.max(start, at(w(sfWord.loopStart))), loopEnd = Math.min(end, at(w(sfWord.loopEnd)));
  if (loopEnd - loopStart < 1) loop = 0;  // the loop lay in frames the decoder did not give
  const cutoff = v(sfValue.cutoff), filtered = cutoff < sfFilterOpen, qDb = v(sfValue.q);
  const sustainDb = v(sfValue.sustain);
  return {
    keyLo: w(sfWord.keyLo), keyHi: w(sfWord.keyHi), velLo: w(sfWord.velLo), velHi: w(sfWord.velHi),
    sampleRate: haveRate,
    start: base + start, end: base + end, loopStart: base + loopStart, loopEnd: base + loopEnd, loop,
    root: w(sfWord.root),
    tune: v(sfValue.coarse) * 100 + v(sfValue.fine) + v(sfValue.correction),
    st: v(sfValue.scaleTuning),
    x: w(sfWord.exclusive),
    pan: v(sfValue.pan),
    // attenuation, and the filter's resonance peak taken back down by half its height in dB
    g: sfLevel * Math.pow(10, (-sfAttenuationShare * v(sfValue.attenuation) - (filtered ? qDb / 2 : 0)) / 20),
    // the volume envelope: the synthesizer's decay and release times are to -60 dB
    dk: 1,
    dl: v(sfValue.delay), a: v(sfValue.attack), h: v(sfValue.hold), kh: v(sfValue.keyToHold),
    d: (v(sfValue.decay) * 60) / sfDecayDb, ks: v(sfValue.keyToDecay) / 50,
    s: sustainDb >= 96 ? 0 : Math.pow(10, -sustainDb / 20),
    r: (Math.max(sfReleaseLeast, v(sfValue.release)) * 60) / sfDecayDb,
    // the low-pass filter: 0 dB of resonance is a flat response (Q 0.707)
    ft: 0, fa: 1, fc: filtered ? cutoff : 0, q: Math.pow(10, (qDb - 3.01) / 20), fe: 0, fp: 0, vf: 0,
    lr: sfVibratoHz, rv: 1,
  };
}
