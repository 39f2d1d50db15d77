// A SoundFont's regions, as the C++ reader gives them (the SoundFont worker hands them over; their
// layout is in shared/layouts.js), made into the synthesizer's sampled zones (audio/synth.js,
// synthZones): one zone a region, all playing from the one Int16Array that holds every sample, with
// the units the synthesizer takes and the readings of the format that General MIDI SoundFonts are
// made for.
import { sfPreset, sfRegionValue, sfRegionWord, sfSample } from '../shared/layouts.js';

const sfLevel = 2;                // a SoundFont's level against the built-in sound's: General MIDI sets sound about half as loud
const sfAttenuationShare = 0.4;   // of each dB of initial attenuation the file gives, as the hardware the format came from (and every player since) applies it
// a decay or release time is the time to fall this many dB: FluidSynth's envelope spans 96 dB, and
// its releases fall at 96 dB over the release time (TimGM6mb's flute, key 72, release 0.62 s: 61.8 dB
// in 0.4 s, where 100 dB over the time fell 64.8)
const sfDecayDb = 96;
const sfReleaseLeast = 0.0156;    // seconds: a shorter release clicks (FluidSynth's floor, -7200 timecents)
const sfFilterOpen = 19900;       // Hz: a cutoff this high (13500 cents, the format's top) is no filter

// The fields of each zone's row, in the table the synthesizer takes (audio/synth.js, synthZones), and those
// the same for every zone.
const sfZoneFields = ['bank', 'program', 'keyLo', 'keyHi', 'velLo', 'velHi', 'sampleRate', 'start', 'end', 'loopStart', 'loopEnd',
  'loop', 'root', 'tune', 'st', 'x', 'pan', 'g', 'dl', 'a', 'h', 'kh', 'd', 'ks', 's', 'r', 'fc', 'qd',
  'med', 'mea', 'meh', 'mdc', 'mes', 'mer', 'mkh', 'mkd', 'mep', 'mef', 'mld', 'mlf', 'mlp', 'mlc', 'mlv', 'vld', 'vlf', 'vlp',
  'rs', 'cs', 'm0', 'mn'];
const sfZoneCommon = {
  dk: 1,                               // the decay falls in dB and stops at the sustain level
  ft: 0,                               // the filter is a low-pass one
};

// The zones of font (from soundFontTables) playing from pcm, as a table for the synthesizer: one row a
// region. frames[i]: how many frames of sample i pcm holds (0: none, its regions are left out);
// rates[i]: the rate they are at (an Ogg Vorbis stream decoded at another rate than the file's has its
// frames counted at that rate). Returns { zones, count (rows), dropped (regions left out) }.
export function soundFontZones(font, pcm, frames, rates) {
  const P = font.presetFields, width = sfZoneFields.length;
  const rows = new Float64Array((font.regionWords.length / font.regionWordFields) * width);
  let count = 0, dropped = 0;
  for (let p = 0; p < font.presets.length / P; p++) {
    const first = font.presets[p * P + sfPreset.first_region], regions = font.presets[p * P + sfPreset.region_count];
    for (let r = first; r < first + regions; r++) {
      if (sfZoneRow(rows, count * width, font, p, r, frames, rates)) count++;
      else dropped++;
    }
  }
  // each region's modulators: the reader's table, which every region's m0 and mn point into
  const modulators = { words: font.modulatorWords, amounts: font.modulatorAmounts };
  return { zones: { sample: pcm, fields: sfZoneFields, rows: rows.slice(0, count * width), common: sfZoneCommon, modulators }, count, dropped };
}

// Writes region r of preset p as a zone's row (sfZoneFields) at rows[at]; false when nothing of it can
// be played. Its sample starts at frame font.starts[sample] of pcm, which holds frames[sample] frames of
// it at rates[sample] a second.
function sfZoneRow(rows, at, font, p, r, frames, rates) {
  const w = font.regionWords.subarray(r * font.regionWordFields), v = font.regionValues.subarray(r * font.regionValueFields);
  const sample = w[sfRegionWord.sample], base = font.starts[sample], have = frames[sample];
  const scale = rates[sample] / font.samples[sample * font.sampleFields + sfSample.rate];  // frames as pcm has them to the file's
  const frame = (f) => Math.min(have, Math.round(f * scale));
  const start = frame(w[sfRegionWord.start]), end = frame(w[sfRegionWord.end]);
  if (end - start < 2) return false;
  const loopStart = Math.max(start, frame(w[sfRegionWord.loop_start])), loopEnd = Math.min(end, frame(w[sfRegionWord.loop_end]));
  const cutoff = v[sfRegionValue.filter_cutoff], filtered = cutoff < sfFilterOpen, qDb = v[sfRegionValue.filter_q], sustainDb = v[sfRegionValue.sustain];
  rows.set([
    font.presets[p * font.presetFields + sfPreset.bank], font.presets[p * font.presetFields + sfPreset.program],
    w[sfRegionWord.key_low], w[sfRegionWord.key_high], w[sfRegionWord.velocity_low], w[sfRegionWord.velocity_high],
    rates[sample], base + start, base + end, base + loopStart, base + loopEnd,
    loopEnd - loopStart < 1 ? 0 : w[sfRegionWord.loop_mode],  // a loop in frames the decoder did not give is none
    w[sfRegionWord.root_key], v[sfRegionValue.coarse_tune] * 100 + v[sfRegionValue.fine_tune] + v[sfRegionValue.pitch_correction], v[sfRegionValue.scale_tuning],
    w[sfRegionWord.exclusive_class], v[sfRegionValue.pan],
    // g: the file's attenuation (the modulators' is the synthesizer's)
    sfLevel * Math.pow(10, (-sfAttenuationShare * v[sfRegionValue.attenuation]) / 20),
    // the volume envelope (the synthesizer's decay and release times are to -60 dB)
    v[sfRegionValue.delay], v[sfRegionValue.attack], v[sfRegionValue.hold], v[sfRegionValue.key_to_hold],
    (v[sfRegionValue.decay] * 60) / sfDecayDb, v[sfRegionValue.key_to_decay] / 50,
    sustainDb >= 96 ? 0 : Math.pow(10, -sustainDb / 20),
    (Math.max(sfReleaseLeast, v[sfRegionValue.release]) * 60) / sfDecayDb,
    // the low-pass filter: its cutoff (0: open) and resonance in dB
    filtered ? cutoff : 0, qDb,
    // the modulation envelope: times in seconds, sustain as a share of full level
    v[sfRegionValue.mod_env_delay], v[sfRegionValue.mod_env_attack], v[sfRegionValue.mod_env_hold], v[sfRegionValue.mod_env_decay],
    v[sfRegionValue.mod_env_sustain], v[sfRegionValue.mod_env_release],
    v[sfRegionValue.key_to_mod_env_hold], v[sfRegionValue.key_to_mod_env_decay], v[sfRegionValue.mod_env_to_pitch], v[sfRegionValue.mod_env_to_filter],
    // the LFOs
    v[sfRegionValue.mod_lfo_delay], v[sfRegionValue.mod_lfo_frequency], v[sfRegionValue.mod_lfo_to_pitch],
    v[sfRegionValue.mod_lfo_to_filter], v[sfRegionValue.mod_lfo_to_volume],
    v[sfRegionValue.vib_lfo_delay], v[sfRegionValue.vib_lfo_frequency], v[sfRegionValue.vib_lfo_to_pitch],
    v[sfRegionValue.reverb_send], v[sfRegionValue.chorus_send],
    // the region's modulators in the table
    w[sfRegionWord.first_modulator], w[sfRegionWord.modulator_count],
  ], at);
  return true;
}
