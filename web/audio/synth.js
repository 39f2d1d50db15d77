// The page's synthesizer: General MIDI sound made by synthesis alone (oscillators, noise, two-operator
// FM, plucked strings, drum models), no samples. No DOM: the audio side's entry (main.js) runs it in
// the audio thread as the AudioWorkletProcessor 'smfdump-synth' (and inside 'smfdump-player', beside
// the player's engine), or, where no worklet can be loaded, on the main thread in a ScriptProcessorNode.
//
// Port messages, and the same calls on the main thread (s = newSynth(rate)):
//   { type: 'events', data }  synthQueue(s, data)  a Float64Array of pairs [time (the context's seconds),
//                                                  status | data1 << 8 | data2 << 16]; system exclusive
//                                                  (0xf0 | i << 8, the bytes of message i of a list)
//                                                  comes only from the player's engine
//   { type: 'clear' }         synthClear(s)        drops the queued events
//   { type: 'silence' }       synthSilence(s)      ends every voice at once (a 3 ms fade)
//   { type: 'zones', zones }  synthZones(s, zones) sampled instruments (see synthZones): zone objects, or
//                                                  a table of them sharing one sample array
//   { type: 'samples', length, at, part }           a piece of the sample array of the next table whose
//                             synthSamples(s, ...)  sample is null: `part` goes at frame `at` of `length`
//   { type: 'stats', id }     synthStats(s)        answered { type: 'stats', id, stats }
//   { type: 'report', every, end }  offline: { type: 'progress', frame, stats } every `every` frames
//                                   and at frame `end`
//                             synthRender(s, left, right, frames, firstFrame)  fills both channels
// stats: { quanta, meanMs, maxMs, maxFrame, slow, budgetMs, clock, voices, voicesPeak, voiceCap, late,
// peak, nonFinite, dropped, refused, queued, slowFrames }: render time per 128 frames (by `clock`:
// where an audio thread has only Date.now(), single times are whole milliseconds; the mean of many is
// finer), the first frame of the longest and the quanta that took longer than their budget, voices
// now and at most (not counting those fading out), events played after their frame, the output's peak
// before the limit, values that were not numbers, voices dropped for holding up a quantum, notes
// refused or stolen for want of voices, events queued, and the first frames of the first 32 quanta
// over their budget.
//
// A voice: a source (oscillators, FM, plucked string, noise, drum model, or a sampled zone) -> optional
// filter (low-, band- or high-pass; cutoff, resonance) -> envelope (delay, attack, hold, decay, sustain,
// release) -> pan -> the dry mix and a send to the one shared reverb. Each event plays at its own
// frame: a 128-frame quantum is split at event frames.
import { packMessage, packedFirst, packedSecond, packedStatus } from '../shared/packing.js';

const voiceCap = 256;        // voices sounding at once, at most (besides those fading out)
const voicePool = 384;       // voices kept: the cap, and room for stolen ones to fade
const blockMax = 64;         // frames between two updates of pitch, filter, gains and LFOs
const silentLevel = 1e-4;    // an envelope below this (-80 dB) has ended
const fadeSeconds = 0.003;   // how fast a stolen, cut or silenced voice fades
const slowStrikes = 8;       // timed quanta in a row a voice must hold up before it is dropped
const masterGain = 0.3;      // the mix's level before the soft limit
const tableBits = 12;
const tableSize = 1 << tableBits;
const sineTable = new Float32Array(tableSize + 1);  // one cycle of a sine, its first value again at the end
for (let i = 0; i <= tableSize; i++) sineTable[i] = Math.sin((2 * Math.PI * i) / tableSize);

// Waves of the oscillators, shapes of the LFO and modes of the filter.
const SINE = 0, TRI = 1, SAW = 2, SQUARE = 3, PULSE = 4;
const RANDOM = 1;
const LP = 0, BP = 1, HP = 2;

// ---- timbres ----------------------------------------------------------------------------------

// Every field a timbre (and a sampled zone) may set, and its value when not set.
const timbreDefaults = {
  src: 'osc',                       // source: osc, add, fm, pluck, noise, drum, sample
  w1: SAW, w2: SAW, mix: 0,         // osc: first and second wave, the second's level (fm: a second carrier)
  det: 0, iv: 0, pw: 0.5,           // second oscillator's detune (cents) and interval (semitones); pulse width
  pr: [1], pl: [1], pd: 0,          // add: partial ratios and levels; upper partials' damping (1/s per ratio above 1)
  mr: 1, mi: 0, mk: 0, md: 1,       // fm: modulator ratio, index, its lasting share, its decay (s)
  br: 0.5, sd: 3,                   // pluck: brightness (0 dark, 1 bright), string decay to -60 dB (s)
  nz: 0, nk: 1, nd: 0.05,           // added noise: level, its lasting share, the decay of the rest (s)
  ft: LP, fc: 0, fa: 0, q: 0.7,     // filter: mode, cutoff (0 none; times the note's frequency, or Hz if fa), resonance
  fe: 0, fp: 0, fd: 0.2, vf: 0.4,   // cutoff raised by the envelope (fe), by a peak decaying in fd s (fp), by velocity
  dl: 0, a: 0.005, h: 0, d: 1, s: 1, r: 0.2, ks: 0,  // envelope: delay, attack, hold, decay (to -60 dB), sustain, release (s); key scaling
  lr: 5, ls: SINE, lp: 0, la: 0, lf: 0, ld: 0,  // LFO: rate, shape; depth on pitch (cents), amplitude, cutoff (octaves); fade-in (s)
  pe: 0, pt: 0.05,                  // pitch envelope: start offset (semitones), its decay (s)
  dr: 0, g: 1, tr: 0, pan: 0, rv: 1, x: 0,  // drive, level, transpose, pan (-1..1), reverb share, exclusive class
  f0: 100, f1: 100, ts: 0.05, td: 0.2, tl: 0, tw: SINE, t2: 0, t2l: 0,  // drum tone: sweep f0->f1 Hz in ts, decay, level, wave, second tone (ratio, level)
  nt: HP, nf: 5000, nq: 0.7, nl: 0, ndk: 0.1,  // drum noise: filter mode, Hz, resonance, level, decay
  ml: 0, mf: 1, mdk: 0.3, nb: 0, bg: 0.01,     // drum metal: level, pitch scale, decay; bursts and their gap (s)
  sample: null, sampleRate: 44100, start: 0, end: 0, loopStart: 0, loopEnd: 0, loop: 0, root: 60, tune: 0,  // sampled zone
  st: 100, unit: 1,                 // sampled zone: cents per key away from the root; the sample's full scale (1/32768 for Int16Array)
  dk: 0, kh: 0,                     // envelope: the decay falls in dB and stops at the sustain level (1, as SoundFonts'); hold's cents per key below 60
  // sampled zone, as SoundFonts give it (the times in seconds, the depths in cents at full level):
  qd: 0,                            // the low-pass filter's resonance in dB (fc in Hz; 0: open)
  med: 0, mea: 0, meh: 0, mdc: 0, mes: 1, mer: 0, mkh: 0, mkd: 0, mep: 0, mef: 0,  // modulation envelope: delay, attack, hold, decay, sustain (0-1), release; hold's and decay's cents per key below 60; to pitch and to cutoff
  mld: 0, mlf: 8.176, mlp: 0, mlc: 0, mlv: 0,  // modulation LFO: delay, Hz; to pitch and cutoff (cents), to volume (dB, quieter at its top)
  vld: 0, vlf: 8.176, vlp: 0,       // vibrato LFO: delay, Hz, to pitch (cents)
  rs: 0, cs: 0,                     // reverb and chorus sends (0-1)
  mw: null, ma: null, m0: 0, mn: 0, // modulators: the table's words (4 each: source, destination, amount source, transform) and amounts; this zone's first and count
};

// A timbre with every field: the defaults, then what is given.
function timbre(fields) {
  return Object.assign({}, timbreDefaults, fields);
}

// Settings shared by the programs of a family, which vary them.
const piano = { src: 'fm', a: 0.002, s: 0, ks: 1 };
const struck = { src: 'add', s: 0 };
const pluck = { src: 'pluck', r: 0.2, ks: 0.3 };
const bowed = { mix: 0.5, det: 4, fe: 1, a: 0.06, r: 0.15, ld: 0.25 };
const brass = { a: 0.03, d: 0.4, s: 0.85, r: 0.1 };
const reed = { w2: PULSE, pw: 0.35, mix: 0.5, fe: 3, q: 1.5, nz: 0.03, a: 0.03, r: 0.08, ld: 0.25 };
const pipe = { w1: SINE, w2: TRI, a: 0.03, r: 0.08 };
const pad = { mix: 1, det: 10, a: 0.3, r: 1, rv: 1.5 };

// The 128 General MIDI programs, eight to a family.
const programs = [
  // piano
  { ...piano, mi: 1.8, mk: 0.15, md: 0.6, fc: 6, fe: 2, d: 5, r: 0.35, nz: 0.15, nk: 0, nd: 0.01, g: 1.17 },
  { ...piano, mi: 2.8, mk: 0.2, md: 0.5, fc: 10, fe: 2, d: 4.5, r: 0.3, nz: 0.2, nk: 0, nd: 0.01, g: 0.89 },
  { ...piano, mi: 2.2, mk: 0.3, md: 0.4, mix: 0.5, det: 6, fc: 8, d: 3.5, r: 0.3, g: 0.74 },
  { ...piano, mi: 1.8, mk: 0.2, md: 0.5, mix: 1, det: 18, fc: 7, d: 3.5, r: 0.3, g: 0.59 },
  { ...piano, mi: 1.1, mk: 0.1, md: 0.25, d: 3.5, r: 0.25, ks: 0.7, la: 0.15, lr: 4.5, g: 1.16 },
  { ...piano, mr: 14, mi: 1.6, md: 0.06, mix: 0.7, det: 7, d: 3, r: 0.3, ks: 0.7, g: 0.51 },
  { src: 'pluck', br: 0.95, sd: 2.5, r: 0.12, ks: 0.5, g: 2.57 },
  { src: 'osc', w1: PULSE, pw: 0.25, fc: 2, fp: 8, fd: 0.12, q: 2.5, d: 1.5, s: 0, r: 0.04, ks: 0.5, g: 0.71 },
  // chromatic percussion
  { ...struck, pr: [1, 4], pl: [1, 0.3], pd: 1, d: 1.4, r: 0.3, ks: 0.5, tr: 12, g: 0.88 },
  { ...struck, pr: [1, 2.76, 5.4], pl: [1, 0.5, 0.3], pd: 0.6, d: 2.2, r: 0.4, ks: 0.4, tr: 12, g: 0.77 },
  { src: 'fm', mr: 4, mi: 1.2, md: 0.2, mk: 0.1, d: 1.6, s: 0, r: 0.4, ks: 0.5, tr: 12, g: 0.9 },
  { ...struck, pr: [1, 4, 10], pl: [1, 0.25, 0.1], pd: 1, d: 4, r: 0.5, la: 0.35, lr: 5.5, g: 1 },
  { ...struck, pr: [1, 4], pl: [1, 0.35], pd: 4, d: 0.8, r: 0.1, ks: 0.6, nz: 0.2, nk: 0, nd: 0.005, g: 0.95 },
  { ...struck, pr: [1, 3, 6], pl: [1, 0.4, 0.2], pd: 6, d: 0.45, r: 0.08, ks: 0.6, tr: 12, nz: 0.3, nk: 0, nd: 0.004, g: 1.04 },
  { src: 'fm', mr: 3.5, mi: 2.5, mk: 0.2, md: 1.5, d: 6, s: 0, r: 1.2, ks: 0.3, g: 0.85 },
  { src: 'pluck', br: 0.8, sd: 2.5, r: 0.3, ks: 0.5, la: 0.08, lr: 6, g: 2.65 },
  // organ
  { src: 'add', pr: [1, 2, 3, 4], pl: [1, 0.8, 0.5, 0.4], a: 0.006, r: 0.06, g: 0.55 },
  { src: 'add', pr: [1, 2, 3], pl: [1, 0.6, 0.9], pd: 2, a: 0.003, r: 0.05, g: 0.58 },
  { src: 'add', pr: [0.5, 1, 2, 3, 4, 6], pl: [0.6, 1, 0.8, 0.5, 0.5, 0.3], a: 0.005, r: 0.06, la: 0.15, lr: 6.5, lp: 8, dr: 1.5, g: 1.03 },
  { src: 'add', pr: [0.5, 1, 2, 4, 8], pl: [0.7, 1, 0.6, 0.4, 0.25], a: 0.08, r: 0.6, rv: 1.6, g: 0.55 },
  { w1: SQUARE, mix: 0.5, fc: 4, a: 0.03, r: 0.1, g: 0.58 },
  { mix: 1, det: 14, fc: 5, q: 1, a: 0.02, r: 0.08, g: 0.5 },
  { w1: PULSE, pw: 0.3, nz: 0.05, fc: 4, fe: 1, lp: 15, ld: 0.3, a: 0.04, r: 0.08, g: 0.63 },
  { w2: PULSE, pw: 0.4, mix: 0.8, det: -10, fc: 7, a: 0.015, r: 0.08, g: 0.45 },
  // guitar
  { ...pluck, br: 0.35, sd: 3, g: 1.86 },
  { ...pluck, br: 0.65, sd: 4, g: 2.26 },
  { ...pluck, br: 0.2, sd: 3.5, fc: 4, r: 0.15, g: 2.43 },
  { ...pluck, br: 0.5, sd: 3.5, lp: 6, lr: 3.5, g: 1.98 },
  { src: 'pluck', br: 0.3, sd: 0.3, r: 0.05, g: 2.8 },
  { mix: 1, det: 8, fc: 6, fe: 1, dr: 4, d: 3, s: 0.5, r: 0.1, g: 0.94 },
  { w2: SQUARE, iv: 12, mix: 0.6, det: 10, fc: 5, dr: 10, d: 4, s: 0.7, r: 0.1, g: 0.71 },
  { ...struck, pr: [2, 4], pl: [1, 0.2], pd: 1, d: 2, r: 0.3, g: 0.9 },
  // bass
  { src: 'pluck', br: 0.15, sd: 2.5, fc: 4, r: 0.1, g: 2.28 },
  { w1: TRI, mix: 0.3, fc: 3, fe: 2, d: 2, s: 0.2, r: 0.08, g: 1.35 },
  { src: 'pluck', br: 0.5, sd: 2, r: 0.08, g: 2.15 },
  { w2: SINE, mix: 1, fc: 2.5, fe: 1, a: 0.03, d: 3, s: 0.6, r: 0.1, lp: 8, ld: 0.4, g: 0.67 },
  { src: 'fm', mi: 5, mk: 0.1, md: 0.06, fc: 8, d: 1.5, s: 0.2, r: 0.06, g: 0.85 },
  { src: 'fm', mr: 2, mi: 4, mk: 0.1, md: 0.05, fc: 9, d: 1.2, s: 0.15, r: 0.06, g: 0.9 },
  { fc: 1.5, fp: 12, fd: 0.15, q: 4, d: 1, s: 0.5, r: 0.05, g: 0.99 },
  { w1: SQUARE, mix: 0.7, det: 10, fc: 2, fp: 6, fd: 0.25, q: 2, d: 1, s: 0.6, r: 0.05, g: 0.53 },
  // strings
  { ...bowed, fc: 7, q: 1.2, lp: 18, lr: 5.5, g: 0.65 },
  { ...bowed, fc: 5, q: 1.2, a: 0.07, lp: 16, lr: 5.2, g: 0.64 },
  { ...bowed, fc: 4, q: 1.5, a: 0.08, r: 0.2, lp: 14, lr: 5, ld: 0.3, g: 0.63 },
  { ...bowed, fc: 3, q: 1.5, a: 0.09, r: 0.2, lp: 10, lr: 4.5, ld: 0.3, g: 0.62 },
  { mix: 1, det: 12, fc: 6, a: 0.05, r: 0.25, la: 0.6, lr: 9, g: 0.58 },
  { src: 'pluck', br: 0.3, sd: 0.6, fc: 4, r: 0.1, rv: 1.4, g: 3.61 },
  { ...pluck, br: 0.45, sd: 3, r: 0.6, rv: 1.6, g: 2.02 },
  { src: 'add', pr: [1, 1.5, 1.99, 2.44], pl: [1, 0.5, 0.35, 0.2], pd: 0.8, nz: 0.3, nk: 0, nd: 0.03, d: 2.5, s: 0, r: 0.5, tr: -12, g: 0.74 },
  // ensemble
  { mix: 1, det: 12, fc: 6, a: 0.12, r: 0.35, lp: 6, lr: 5.5, ld: 0.3, rv: 1.4, g: 0.53 },
  { mix: 1, det: 9, fc: 5, a: 0.35, r: 0.5, lp: 6, lr: 5, ld: 0.4, rv: 1.4, g: 0.53 },
  { mix: 1, det: 18, fc: 4, fe: 2, q: 1.5, a: 0.08, r: 0.3, g: 0.5 },
  { w2: PULSE, pw: 0.3, mix: 1, det: 22, fc: 3, a: 0.25, r: 0.5, lf: 0.3, lr: 0.3, g: 0.44 },
  { mix: 1, det: 9, ft: BP, fa: 1, fc: 850, q: 1.4, nz: 0.02, a: 0.18, r: 0.35, lp: 12, ld: 0.2, rv: 1.4, g: 0.79 },
  { w1: TRI, w2: SINE, mix: 1, det: 7, fa: 1, fc: 700, a: 0.15, r: 0.3, lp: 12, ld: 0.2, rv: 1.4, g: 0.44 },
  { w2: PULSE, mix: 0.6, ft: BP, fa: 1, fc: 1300, q: 2, a: 0.06, r: 0.3, lp: 10, g: 1.2 },
  { mix: 0.8, iv: 12, det: 15, nz: 0.4, nk: 0, nd: 0.05, fc: 10, fp: 4, fd: 0.1, d: 0.5, s: 0, r: 0.1, pe: -2, pt: 0.1, g: 1.14 },
  // brass
  { ...brass, fc: 1.5, fe: 8, d: 0.3, r: 0.08, lp: 10, ld: 0.35, pe: -1, pt: 0.03, g: 1.11 },
  { ...brass, fc: 1.2, fe: 5, a: 0.05, lp: 8, ld: 0.4, pe: -1, pt: 0.04, g: 1.08 },
  { ...brass, w2: SQUARE, mix: 0.3, fc: 1, fe: 3, a: 0.06, d: 0.5, g: 0.99 },
  { ...brass, ft: BP, fa: 1, fc: 1800, q: 3, fe: 0.5, d: 0.3, r: 0.08, lp: 10, ld: 0.35, g: 2.07 },
  { ...brass, w2: TRI, mix: 0.6, fc: 1, fe: 3, a: 0.08, d: 0.5, s: 0.9, r: 0.2, rv: 1.3, g: 0.71 },
  { ...brass, mix: 1, det: 10, fc: 1.5, fe: 6, a: 0.04, r: 0.12, g: 0.61 },
  { ...brass, mix: 1, det: 6, fc: 1.2, fp: 10, fd: 0.35, q: 2.5, a: 0.02, d: 0.6, s: 0.7, g: 0.43 },
  { ...brass, w1: SQUARE, mix: 1, det: 12, fc: 1, fp: 6, fd: 0.6, a: 0.08, d: 0.8, s: 0.7, r: 0.15, g: 0.43 },
  // reed
  { ...reed, fc: 3, lp: 14, lr: 5.2, g: 0.63 },
  { ...reed, fc: 2.5, lp: 12, lr: 5.2, g: 0.63 },
  { ...reed, pw: 0.4, fc: 2, nz: 0.04, a: 0.035, lp: 12, lr: 5, ld: 0.3, g: 0.65 },
  { ...reed, pw: 0.4, fc: 1.6, fe: 2, nz: 0.04, a: 0.04, r: 0.1, lp: 10, lr: 4.8, ld: 0.3, g: 0.65 },
  { w1: PULSE, pw: 0.15, fc: 5, q: 2, a: 0.04, r: 0.08, lp: 10, ld: 0.3, g: 0.63 },
  { w1: PULSE, pw: 0.2, fc: 3.5, q: 2, a: 0.05, r: 0.1, lp: 9, ld: 0.3, g: 0.55 },
  { w1: PULSE, pw: 0.25, fc: 2.5, q: 1.5, a: 0.05, r: 0.1, lp: 6, ld: 0.4, g: 0.54 },
  { w1: SQUARE, fc: 4, fe: 1, a: 0.03, r: 0.08, lp: 6, ld: 0.5, g: 0.58 },
  // pipe
  { ...pipe, mix: 0.2, nz: 0.08, lp: 15, lr: 5.5, ld: 0.2, g: 0.94 },
  { ...pipe, mix: 0.3, nz: 0.1, a: 0.06, r: 0.1, lp: 14, lr: 5, ld: 0.25, g: 1.04 },
  { w1: TRI, w2: SINE, mix: 0.5, nz: 0.05, a: 0.03, r: 0.06, g: 0.6 },
  { w1: SINE, nz: 0.3, nk: 0.3, nd: 0.1, a: 0.05, r: 0.15, lp: 10, ld: 0.3, rv: 1.4, g: 0.79 },
  { src: 'noise', ft: BP, fc: 1, q: 12, nz: 0, a: 0.08, r: 0.15, g: 1.33 },
  { ...pipe, mix: 0.15, nz: 0.35, nk: 0.4, nd: 0.15, a: 0.08, r: 0.15, lp: 25, lr: 5, ld: 0.3, g: 0.88 },
  { w1: SINE, a: 0.03, r: 0.06, lp: 20, lr: 6, ld: 0.1, tr: 12, g: 0.8 },
  { ...pipe, mix: 0.1, nz: 0.03, lp: 8, ld: 0.3, g: 0.86 },
  // synth lead
  { w1: SQUARE, fc: 8, r: 0.05, g: 0.58 },
  { mix: 1, det: 5, fc: 10, r: 0.05, g: 0.51 },
  { w1: TRI, w2: SINE, iv: 12, mix: 0.4, nz: 0.12, a: 0.02, r: 0.08, lp: 10, g: 0.86 },
  { w1: SQUARE, nz: 0.6, nk: 0, nd: 0.04, fc: 5, r: 0.08, g: 0.59 },
  { mix: 1, det: 7, fc: 5, dr: 6, d: 2, s: 0.6, r: 0.08, g: 0.86 },
  { w2: TRI, mix: 0.7, ft: BP, fa: 1, fc: 1000, q: 1.5, a: 0.05, r: 0.15, lp: 12, ld: 0.2, g: 1.45 },
  { mix: 0.8, iv: 7, fc: 6, r: 0.06, g: 0.76 },
  { w2: SQUARE, iv: -12, mix: 0.8, fc: 4, fp: 4, fd: 0.2, r: 0.06, g: 0.57 },
  // synth pad
  { src: 'fm', mr: 2, mi: 1.2, mk: 0.3, md: 1, mix: 0.6, det: 6, a: 0.05, d: 3, s: 0.5, r: 1, rv: 1.5, g: 0.42 },
  { ...pad, det: 8, fc: 2, a: 0.4, r: 0.8, lp: 5, lr: 0.5, g: 0.6 },
  { ...pad, det: 15, fc: 2, fp: 5, fd: 0.4, a: 0.01, d: 1, s: 0.6, r: 0.5, g: 0.82, rv: 1 },
  { ...pad, ft: BP, fa: 1, fc: 750, q: 1.2, a: 0.6, lp: 8, rv: 1.6, g: 0.83 },
  { ...pad, w2: TRI, det: 4, fc: 1.5, fe: 3, a: 0.5, r: 0.6, g: 0.53 },
  { src: 'fm', mr: 1.41, mi: 2.5, mk: 0.5, md: 2, a: 0.2, r: 1, rv: 1.5, g: 0.79 },
  { src: 'add', pr: [1, 2, 3, 5], pl: [1, 0.5, 0.3, 0.2], a: 0.5, r: 1.2, la: 0.3, lr: 3, lp: 6, rv: 1.8, g: 0.68 },
  { ...pad, fc: 1.5, q: 3, lf: 2, lr: 0.2, g: 0.38 },
  // synth effects
  { src: 'fm', mr: 3.7, mi: 1.5, md: 0.2, d: 1.5, s: 0, r: 0.8, nz: 0.2, nk: 0, nd: 0.05, ls: RANDOM, la: 0.5, lr: 12, rv: 1.6, g: 1.21 },
  { ...pad, fc: 1.5, fe: 3, a: 0.8, r: 1.5, lf: 0.5, lr: 0.15, rv: 1.6, g: 0.52 },
  { src: 'fm', mr: 5, mi: 2, mk: 0.05, md: 0.4, d: 3, s: 0, r: 1.5, lp: 5, rv: 1.8, g: 0.87 },
  { src: 'pluck', br: 0.5, sd: 3, r: 1.5, lp: 6, lr: 4, rv: 1.8, g: 1.99 },
  { mix: 1, iv: 12, det: 8, fc: 8, a: 0.2, r: 1, rv: 1.6, g: 0.62 },
  { w2: SQUARE, mix: 1, det: 20, fc: 1.5, q: 4, lf: 1.5, lr: 0.4, lp: 30, a: 0.8, r: 1.2, g: 0.12 },
  { src: 'fm', mr: 2, mi: 1, mk: 0.3, md: 0.3, la: 0.8, lr: 3.5, a: 0.1, r: 1.2, rv: 1.8, g: 0.68 },
  { w1: SINE, w2: TRI, mix: 0.3, lp: 300, lr: 4, a: 0.1, r: 1, rv: 1.5, g: 1.05 },
  // ethnic
  { ...pluck, br: 0.85, sd: 3, dr: 2, lp: 10, lr: 5, ld: 0.5, r: 0.3, g: 2.07 },
  { ...pluck, br: 0.9, sd: 1, ft: HP, fa: 1, fc: 200, r: 0.1, g: 2.85 },
  { ...pluck, br: 0.8, sd: 0.7, ft: HP, fa: 1, fc: 300, r: 0.08, g: 2.98 },
  { ...pluck, br: 0.6, sd: 2.5, r: 0.3, lp: 8, lr: 5, ld: 0.3, g: 2.24 },
  { ...struck, pr: [1, 5.4], pl: [1, 0.3], pd: 2, d: 0.9, r: 0.2, ks: 0.5, g: 0.94 },
  { iv: -12, mix: 0.7, fc: 5, q: 3, a: 0.02, r: 0.05, g: 0.74 },
  { ...bowed, det: 3, fc: 9, q: 1.2, a: 0.04, r: 0.12, lp: 20, lr: 6, ld: 0.15, g: 0.66 },
  { w1: PULSE, pw: 0.2, fc: 6, q: 3, a: 0.03, r: 0.08, lp: 20, lr: 6, ld: 0.2, g: 0.6 },
  // percussive
  { ...struck, pr: [1, 2.76, 5.4, 8.9], pl: [1, 0.6, 0.4, 0.2], pd: 0.4, d: 1.5, r: 0.4, tr: 12, g: 0.74 },
  { ...struck, pr: [1, 2.7], pl: [1, 0.4], pd: 1.5, d: 0.6, r: 0.2, g: 0.97 },
  { ...struck, pr: [1, 2, 3, 4.2], pl: [1, 0.6, 0.4, 0.2], pd: 1.5, d: 1.2, r: 0.2, g: 0.76 },
  { src: 'fm', mr: 2.4, mi: 2, md: 0.02, d: 0.15, s: 0, r: 0.05, g: 1.62 },
  { ...struck, pr: [1, 1.6], pl: [1, 0.3], pe: 5, pt: 0.04, nz: 0.4, nk: 0, nd: 0.05, d: 0.9, r: 0.3, tr: -12, g: 0.91 },
  { ...struck, pr: [1, 1.5], pl: [1, 0.2], pe: 4, pt: 0.06, nz: 0.2, nk: 0, nd: 0.03, d: 0.7, r: 0.2, g: 0.98 },
  { w1: SINE, pe: 12, pt: 0.08, d: 0.6, s: 0, r: 0.2, g: 1.04 },
  { src: 'noise', ft: HP, fa: 1, fc: 5000, a: 1.5, r: 0.05, g: 1.11 },
  // sound effects
  { src: 'noise', ft: BP, fa: 1, fc: 2500, q: 4, d: 0.2, s: 0, r: 0.05, lf: 2, lr: 15, g: 1.52 },
  { src: 'noise', ft: BP, fa: 1, fc: 1500, q: 1, a: 0.08, r: 0.15, la: 0.2, lr: 3, g: 2.88 },
  { src: 'noise', ft: LP, fa: 1, fc: 700, a: 1.5, r: 2, lf: 1.5, lr: 0.12, la: 0.6, rv: 1.5, g: 6.98 },
  { w1: SINE, tr: 24, lp: 900, lr: 9, la: 0.7, a: 0.02, r: 0.1, g: 0.89 },
  { w1: SQUARE, w2: SQUARE, iv: 4, mix: 1, fc: 4, la: 1, lr: 16, r: 0.05, g: 0.63 },
  { src: 'noise', ft: LP, fa: 1, fc: 400, q: 2, la: 0.95, lr: 11, a: 0.5, r: 0.5, g: 4.13 },
  { src: 'noise', ft: BP, fa: 1, fc: 1800, q: 0.8, ls: RANDOM, la: 0.8, lr: 30, a: 0.4, r: 1, rv: 1.5, g: 3.48 },
  { src: 'noise', ft: LP, fa: 1, fc: 1200, fp: 6, fd: 0.08, d: 0.5, s: 0, r: 0.1, g: 2.37 },
].map(timbre);

// The General MIDI drum kit, notes 35 to 81 (channel 10). Tones in Hz; pan -1 left to 1 right.
const drumFields = {
  35: { f0: 120, f1: 48, ts: 0.06, td: 0.5, tl: 1.1, nt: LP, nf: 900, nl: 0.3, ndk: 0.015, g: 0.96 },  // acoustic bass drum
  36: { f0: 150, f1: 55, ts: 0.045, td: 0.4, tl: 1.1, nt: LP, nf: 3000, nl: 0.4, ndk: 0.01, g: 1.03 },  // bass drum 1
  37: { f0: 500, f1: 420, td: 0.03, tl: 0.6, nt: BP, nf: 2500, nq: 2, nl: 0.7, ndk: 0.025, g: 2.64 },  // side stick
  38: { f0: 230, f1: 180, ts: 0.03, td: 0.12, tl: 0.6, nt: HP, nf: 1500, nl: 0.8, ndk: 0.2, g: 1.49 },  // acoustic snare
  39: { nt: BP, nf: 1200, nq: 1.5, nl: 1.2, ndk: 0.12, nb: 3, bg: 0.011, pan: -0.1, g: 2.66 },  // hand clap
  40: { f0: 260, f1: 200, ts: 0.02, td: 0.08, tl: 0.6, nt: HP, nf: 2500, nl: 0.9, ndk: 0.15, g: 1.64 },  // electric snare
  41: { f0: 95, f1: 72, ts: 0.1, td: 0.55, tl: 1, t2: 1.6, t2l: 0.2, nt: LP, nf: 600, nl: 0.2, ndk: 0.05, pan: -0.5, g: 0.87 },  // low floor tom
  42: { ml: 0.5, mdk: 0.05, nl: 0.5, nf: 8000, ndk: 0.045, x: 1, pan: 0.35, g: 3.65 },  // closed hi-hat
  43: { f0: 110, f1: 85, ts: 0.1, td: 0.5, tl: 1, t2: 1.6, t2l: 0.2, nt: LP, nf: 700, nl: 0.2, ndk: 0.05, pan: -0.35, g: 0.85 },  // high floor tom
  44: { ml: 0.45, mdk: 0.08, nl: 0.35, nf: 7000, ndk: 0.06, x: 1, pan: 0.35, g: 4.17 },  // pedal hi-hat
  45: { f0: 130, f1: 102, ts: 0.09, td: 0.45, tl: 1, t2: 1.6, t2l: 0.2, nt: LP, nf: 800, nl: 0.2, ndk: 0.05, pan: -0.2, g: 0.86 },  // low tom
  46: { ml: 0.5, mdk: 1.1, nl: 0.45, nf: 7000, ndk: 0.9, x: 1, pan: 0.35, g: 1.26 },  // open hi-hat
  47: { f0: 150, f1: 118, ts: 0.08, td: 0.4, tl: 1, t2: 1.6, t2l: 0.2, nt: LP, nf: 900, nl: 0.2, ndk: 0.05, pan: -0.05, g: 0.88 },  // low-mid tom
  48: { f0: 175, f1: 138, ts: 0.08, td: 0.38, tl: 1, t2: 1.6, t2l: 0.2, nt: LP, nf: 1000, nl: 0.2, ndk: 0.05, pan: 0.1, g: 0.89 },  // hi-mid tom
  49: { ml: 0.45, mf: 0.8, mdk: 1.6, nl: 0.55, nf: 4000, ndk: 1.8, pan: -0.4, g: 1.12 },  // crash cymbal 1
  50: { f0: 205, f1: 165, ts: 0.07, td: 0.35, tl: 1, t2: 1.6, t2l: 0.2, nt: LP, nf: 1100, nl: 0.2, ndk: 0.05, pan: 0.25, g: 0.93 },  // high tom
  51: { ml: 0.35, mf: 1.2, mdk: 1.4, f0: 3100, f1: 3100, td: 1.2, tl: 0.1, nt: BP, nf: 6500, nq: 1, nl: 0.25, ndk: 1.2, pan: 0.45, g: 2.09 },  // ride cymbal 1
  52: { ml: 0.55, mf: 0.6, mdk: 1.2, nt: BP, nf: 3000, nq: 0.8, nl: 0.6, ndk: 1.1, dr: 3, pan: -0.5, g: 1.3 },  // Chinese cymbal
  53: { ml: 0.4, mf: 1.1, mdk: 1.1, f0: 1580, f1: 1580, td: 1.1, tl: 0.35, t2: 1.52, t2l: 0.5, nt: BP, nf: 6000, nl: 0.1, ndk: 0.5, pan: 0.45, g: 1.09 },  // ride bell
  54: { ml: 0.4, mf: 1.6, mdk: 0.15, nl: 0.7, nf: 7500, ndk: 0.2, nb: 3, bg: 0.03, pan: 0.5, g: 1.2 },  // tambourine
  55: { ml: 0.45, mf: 1, mdk: 0.6, nl: 0.55, nf: 5000, ndk: 0.6, pan: -0.2, g: 1.32 },  // splash cymbal
  56: { f0: 560, f1: 560, td: 0.3, tl: 0.6, tw: SQUARE, t2: 1.5, t2l: 0.8, ft: BP, fa: 1, fc: 900, q: 1.2, pan: 0.3, g: 0.69 },  // cowbell
  57: { ml: 0.45, mf: 0.9, mdk: 2.2, nl: 0.55, nf: 3500, ndk: 2.2, pan: 0.4, g: 1.09 },  // crash cymbal 2
  58: { nt: BP, nf: 3200, nq: 3, nl: 1, ndk: 0.035, nb: 24, bg: 0.03, pan: 0.3, g: 1.47 },  // vibraslap
  59: { ml: 0.3, mf: 1.3, mdk: 1.6, f0: 3400, f1: 3400, td: 1.4, tl: 0.08, nt: BP, nf: 7500, nq: 1, nl: 0.25, ndk: 1.4, pan: 0.5, g: 2.23 },  // ride cymbal 2
  60: { f0: 420, f1: 390, ts: 0.02, td: 0.12, tl: 1, t2: 1.5, t2l: 0.15, nt: BP, nf: 2000, nl: 0.1, ndk: 0.01, pan: 0.3, g: 1.19 },  // hi bongo
  61: { f0: 310, f1: 285, ts: 0.02, td: 0.16, tl: 1, t2: 1.5, t2l: 0.15, nt: BP, nf: 1800, nl: 0.1, ndk: 0.01, pan: 0.2, g: 1.02 },  // low bongo
  62: { f0: 340, f1: 330, ts: 0.01, td: 0.05, tl: 1, nt: BP, nf: 1500, nl: 0.35, ndk: 0.015, pan: -0.3, g: 1.85 },  // mute hi conga
  63: { f0: 345, f1: 320, ts: 0.03, td: 0.26, tl: 1, t2: 1.5, t2l: 0.1, nt: BP, nf: 1500, nl: 0.15, ndk: 0.01, pan: -0.3, g: 0.83 },  // open hi conga
  64: { f0: 235, f1: 215, ts: 0.03, td: 0.3, tl: 1, t2: 1.5, t2l: 0.1, nt: BP, nf: 1200, nl: 0.15, ndk: 0.01, pan: -0.4, g: 0.81 },  // low conga
  65: { f0: 520, f1: 480, ts: 0.01, td: 0.25, tl: 0.8, tw: TRI, t2: 2.1, t2l: 0.3, nt: BP, nf: 4000, nl: 0.4, ndk: 0.12, pan: 0.4, g: 1.15 },  // high timbale
  66: { f0: 360, f1: 330, ts: 0.01, td: 0.3, tl: 0.8, tw: TRI, t2: 2.1, t2l: 0.3, nt: BP, nf: 3500, nl: 0.4, ndk: 0.12, pan: 0.3, g: 1.06 },  // low timbale
  67: { f0: 920, f1: 920, td: 0.3, tl: 0.8, t2: 1.55, t2l: 0.5, pan: 0.2, g: 0.71 },  // high agogo
  68: { f0: 640, f1: 640, td: 0.35, tl: 0.8, t2: 1.55, t2l: 0.5, pan: 0.2, g: 0.68 },  // low agogo
  69: { nl: 0.7, nf: 5000, ndk: 0.07, a: 0.01, pan: -0.4, g: 2.62 },  // cabasa
  70: { nl: 0.6, nf: 7000, ndk: 0.045, a: 0.005, pan: 0.4, g: 3.66 },  // maracas
  71: { f0: 2450, f1: 2500, ts: 0.02, td: 0.3, tl: 0.5, a: 0.01, r: 0.02, lp: 30, lr: 12, x: 2, pan: 0.5, g: 1.25 },  // short whistle
  72: { f0: 2450, f1: 2500, ts: 0.02, td: 2, tl: 0.5, a: 0.01, r: 0.02, lp: 30, lr: 12, x: 2, pan: 0.5, g: 0.78 },  // long whistle
  73: { nt: BP, nf: 3000, nq: 2, nl: 0.8, ndk: 0.015, nb: 4, bg: 0.025, x: 3, pan: -0.5, g: 4.51 },  // short guiro
  74: { nt: BP, nf: 3000, nq: 2, nl: 0.8, ndk: 0.015, nb: 14, bg: 0.028, x: 3, pan: -0.5, g: 3.32 },  // long guiro
  75: { f0: 2500, f1: 2500, td: 0.045, tl: 1, pan: 0.3, g: 1.46 },  // claves
  76: { f0: 1250, f1: 1200, ts: 0.005, td: 0.05, tl: 1, tw: TRI, t2: 2.7, t2l: 0.2, pan: 0.4, g: 1.69 },  // hi wood block
  77: { f0: 850, f1: 820, ts: 0.005, td: 0.06, tl: 1, tw: TRI, t2: 2.7, t2l: 0.2, pan: 0.4, g: 1.53 },  // low wood block
  78: { f0: 700, f1: 480, ts: 0.04, td: 0.08, tl: 0.8, x: 4, pan: -0.3, g: 1.51 },  // mute cuica
  79: { f0: 260, f1: 600, ts: 0.12, td: 0.3, tl: 0.8, x: 4, pan: -0.3, g: 0.8 },  // open cuica
  80: { f0: 4600, f1: 4600, td: 0.08, tl: 0.5, t2: 1.73, t2l: 0.4, x: 5, pan: 0.6, g: 1.64 },  // mute triangle
  81: { f0: 4600, f1: 4600, td: 1.2, tl: 0.5, t2: 1.73, t2l: 0.4, x: 5, pan: 0.6, g: 0.62 },  // open triangle
};
const drums = [];  // timbres of the drum kit by note, undefined outside 35 to 81
for (const key in drumFields) drums[key] = timbre(Object.assign({ src: 'drum', a: 0.0005, r: 30, rv: 0.6 }, drumFields[key]));

// ---- the engine's state -------------------------------------------------------------------------

// A voice with every field, silent.
function newVoice() {
  return {
    on: false,          // sounding
    ch: 0, key: 0,      // the channel (0-15) and key that started it
    vel: 0,             // its velocity, 1-127
    order: 0,           // its note, counted in note-ons (a note's layers share it)
    born: 0,            // the frame it started at
    fading: false,      // stolen, cut or silenced: it fades out and no longer counts against the cap
    held: false,        // its key is down
    pedal: false,       // its key is up, the sustain pedal holds it
    released: false,    // its release has begun (or it is a drum, which ignores the note-off)
    t: null,            // its timbre or zone
    source: null,       // the source that makes its signal (one of sources)
    frames: 0,          // frames played since it started
    stage: 0, level: 0, countdown: 0, step: 0,  // envelope: stage (0 delay .. 4 release, 5 ended), level, frames left in the stage, release factor
    decay: 1, attack: 1,  // per-frame decay factor and attack step
    gl: 0, gr: 0, gs: 0,  // gains to left, right and reverb of the last block
    p1: 0, p2: 0, p3: 0,  // oscillator phases (fm: carrier, modulator, second carrier)
    partials: new Float64Array(8),  // add: the partials' phases; drum: the metal oscillators' phases
    f1: 0, f2: 0,       // filter state
    d1: 0, d2: 0,       // drum noise filter state
    ta: 0, na: 0, ma: 0,  // drum: tone, noise and metal levels
    bursts: 0, burstLeft: 0,  // drum: bursts still to come, frames to the next
    lfoPhase: 0, lfoValue: 0, // LFO
    string: null, stringMask: 0, write: 0, last: 0, loss: 1,  // pluck: delay line, its mask, write index, last value, loss per pass
    excite: 0, lowpass: 0,  // pluck: frames of the pluck still to come, its smoothing filter
    pos: 0,             // sample: position in the sample, in the sample's frames
    hz: 0, age: 0, pitch: 0, cutoff: 0, q: 0.7,  // this block's frequency, seconds since the start, fractional key, filter cutoff (Hz) and resonance
    hold: 0, sustain: 1,  // envelope: the hold's frames, the sustain level
    // a sampled zone's voice:
    gen: new Float64Array(61),  // what its modulators add to each generator, in the generator's own units
    serial: -1,         // the channel's serial when gen was summed
    pace: 0,            // frames of the sample a frame
    me: 0, meStage: 0, meCount: 0, meHold: 0, meAttack: 0, meDecay: 0, meSustain: 0, meRelease: 0,  // modulation envelope: level, stage (0 delay .. 5 release), frames of delay and hold left, steps a frame, sustain level
    ml: 0, mlPhase: 0, mlWait: 0, vl: 0, vlPhase: 0, vlWait: 0,  // the LFOs: value, phase (cycles), frames of delay left
    gc: 0,              // chorus gain of the last block
    nl: 0, nr: 0, ns: 0, nc: 0,  // this block's gains to left, right, reverb and chorus
    rate: 48000,        // the synthesizer's frames a second
    cents: 0, pace0: 0, vlPitch: 0, mlPitch: 0, mePitch: 0, vlStep: 0, mlStep: 0,  // from the modulators: pitch (cents from the sample's own), the sample's frames a frame there, the LFOs' and envelope's depths, the LFOs' phase a frame
    cutoff0: 0, meCutoff: 0, mlCutoff: 0, mlVolume: 0,  // the cutoff (cents) and its depths; the LFO's tremolo (cB)
    filtered: false,    // the filter runs
    toLeft: 0, toRight: 0, toReverb: 0, toChorus: 0,  // gains
    strikes: 0,         // timed quanta in a row it took too long in
    mv: 0,              // what the modulator source read last gives
    cost: 0,            // milliseconds it took in a timed quantum
  };
}

// A channel's controllers as General MIDI sets them at reset.
function resetChannel(c) {
  c.mod = 0;                       // CC 1, vibrato depth
  c.expression = 127;              // CC 11
  c.pedal = false;                 // CC 64
  c.bend = 0;                      // -8192 .. 8191
  c.rpn = 0x3fff;                  // the registered parameter chosen by CC 101/100; 0x3fff none
  c.cc[1] = 0; c.cc[11] = 127; c.cc[64] = 0;
  c.pressure = 0;                  // channel pressure
  c.keyPressure.fill(0);           // each key's pressure
}

// A channel with every field, as at power-on.
function newChannel(ch) {
  const c = {
    rhythm: ch === 9,              // a rhythm part: channel 10, or another made one by GS system exclusive
    drums: ch === 9,               // plays a drum kit: a rhythm part whatever its bank, or an XG kit bank
    program: 0, bankMsb: 0, bankLsb: 0,
    volume: 100, pan: 64, reverb: 40,
    bendRange: 2,                  // semitones, set by RPN 0
    mod: 0, expression: 127, pedal: false, bend: 0, rpn: 0x3fff,
    cc: new Uint8Array(128),       // every controller's last value, for the modulators
    pressure: 0, keyPressure: new Uint8Array(128),
    serial: 0,                     // the synthesizer's count of changes at this channel's last one the modulators read
  };
  c.cc[7] = 100; c.cc[10] = 64; c.cc[91] = 40;
  resetChannel(c);
  return c;
}

// The reverb's comb and all-pass delay lengths at 44.1 kHz (the right side's are 23 frames longer).
const combLengths = [1116, 1188, 1277, 1356];
const allpassLengths = [556, 441];

// A synthesizer rendering at `rate` frames per second, silent, with nothing queued.
export function newSynth(rate) {
  const scale = rate / 44100;
  const chorusSize = 1 << Math.max(6, Math.ceil(Math.log2(0.04 * rate)));  // 40 ms at least, a power of two
  const delays = (lengths, spread) => lengths.map((n) => ({ buf: new Float32Array(Math.round((n + spread) * scale)), i: 0, f: 0 }));
  const s = {
    rate,                          // frames per second
    frame: 0,                      // the frame number of the next frame to render
    effects: true,                 // reverb and chorus mixed in (false: the dry sound alone)
    qFrame: new Float64Array(1024),  // queued events: their frames
    qMsg: new Int32Array(1024),    // and messages (status | data1 << 8 | data2 << 16)
    qHead: 0, qTail: 0,            // the queue's first and one past its last event
    qSysex: [],                    // the system exclusive messages queued (Uint8Array each), by index
    mode: '',                      // the last reset's: 'gm', 'gm2', 'gs', 'xg' ('' before any)
    masterVolume: 1,               // set by system exclusive (universal, or GS), 0 to 1
    qSorted: true,                 // the queue is in frame order
    channels: Array.from({ length: 16 }, (_, ch) => newChannel(ch)),
    voices: Array.from({ length: voicePool }, newVoice),
    notes: 0,                      // note-ons so far (the voices' order)
    now: 0,                        // the frame the events being played are at
    changes: 0,                    // changes the modulators read, counted over every channel (each channel's serial is one)
    crowded: 0,                    // note-ons still to skip in this quantum, more than the voices
    seed: 0x1234567,               // the noise generator's state
    sampled: null,                 // sampled zones, chosen before the built-in timbres (see synthZones), or null
    incoming: null,                // the sample array of the next table of zones, while its pieces come
    chosen: [],                    // the timbres chosen for the note being started
    buf: new Float32Array(blockMax),   // one voice's block
    env: new Float32Array(blockMax),   // its envelope
    noise: new Float32Array(blockMax), // noise for its block
    send: new Float32Array(128),   // the reverb's input for the quantum
    chorusSend: new Float32Array(128),  // the chorus's input
    chorus: { left: new Float32Array(chorusSize), right: new Float32Array(chorusSize), i: 0, phase: 0 },  // its delay lines, where it writes, its sway's phase
    wave: { p: 0, dt: 0, pw: 0, level: 0 },  // the wave addWave adds next (see setWave)
    combs: [delays(combLengths, 0), delays(combLengths, 23)],
    allpasses: [delays(allpassLengths, 0), delays(allpassLengths, 23)],
    quanta: 0, msSum: 0, msMax: 0, msMaxFrame: 0, slow: 0, slowFrames: new Float64Array(32), voicesPeak: 0, late: 0, peak: 0, nonFinite: 0,  // statistics
    probe: false,                  // the last quantum ran over its budget: time each voice in the next
    dropped: 0,                    // voices dropped for holding up a quantum
    refused: 0,                    // notes refused or stolen for want of voices
    every: 0, end: 0, nextReport: 0,   // progress reports while rendering offline
  };
  return s;
}

// ---- the event queue ----------------------------------------------------------------------------

// Queues packed events: pairs of [time in seconds, message]; one without a time to play is dropped.
export function synthQueue(s, data, sysex) {
  const n = data.length >> 1;
  if (s.qHead === s.qTail) s.qSysex.length = 0;  // those queued before were all played
  if (s.qTail + n > s.qFrame.length) {
    const live = s.qTail - s.qHead;
    let size = s.qFrame.length;
    while (live + n > size) size *= 2;
    const frames = size === s.qFrame.length ? s.qFrame : new Float64Array(size);
    const msgs = size === s.qMsg.length ? s.qMsg : new Int32Array(size);
    frames.set(s.qFrame.subarray(s.qHead, s.qTail));
    msgs.set(s.qMsg.subarray(s.qHead, s.qTail));
    s.qFrame = frames;
    s.qMsg = msgs;
    s.qHead = 0;
    s.qTail = live;
  }
  for (let i = 0; i < n; i++) {
    const frame = Math.round(data[2 * i] * s.rate);
    if (!Number.isFinite(frame)) continue;
    if (s.qTail > s.qHead && frame < s.qFrame[s.qTail - 1]) s.qSorted = false;
    let msg = data[2 * i + 1];
    if (packedStatus(msg) === 0xf0) {  // its bytes are kept aside, the message points at them
      if (!sysex?.[msg >>> 8]) continue;
      s.qSysex.push(sysex[msg >>> 8]);
      msg = 0xf0 | ((s.qSysex.length - 1) << 8);
    }
    s.qFrame[s.qTail] = frame;
    s.qMsg[s.qTail] = msg;
    s.qTail++;
  }
}

// Puts the queue in frame order, events of the same frame in the order they came.
function sortQueue(s) {
  const order = [];
  for (let i = s.qHead; i < s.qTail; i++) order.push(i);
  order.sort((a, b) => s.qFrame[a] - s.qFrame[b] || a - b);
  const frames = order.map((i) => s.qFrame[i]);
  const msgs = order.map((i) => s.qMsg[i]);
  s.qFrame.set(frames, s.qHead);
  s.qMsg.set(msgs, s.qHead);
  s.qSorted = true;
}

// Drops every queued event.
export function synthClear(s) {
  s.qHead = 0;
  s.qTail = 0;
  s.qSysex.length = 0;
  s.qSorted = true;
}

// ---- MIDI messages ------------------------------------------------------------------------------

// Acts on one channel message.
function midi(s, msg) {
  const status = packedStatus(msg), d1 = packedFirst(msg), d2 = packedSecond(msg);
  if (status === 0xf0) systemExclusive(s, s.qSysex[msg >>> 8]);
  if (status < 0x80 || status >= 0xf0) return;  // data without status, system messages
  const ch = status & 15, c = s.channels[ch];
  switch (status >> 4) {
    case 0x8: noteOff(s, ch, d1); break;
    case 0x9: if (d2 === 0) noteOff(s, ch, d1); else noteOn(s, ch, d1, d2); break;
    case 0xa: c.keyPressure[d1] = d2; c.serial = ++s.changes; break;
    case 0xb: controller(s, ch, c, d1, d2); break;
    case 0xc: c.program = d1; break;
    case 0xd: c.pressure = d1; c.serial = ++s.changes; break;
    case 0xe: c.bend = ((d2 << 7) | d1) - 8192; c.serial = ++s.changes; break;
    default: break;
  }
}

// Acts on a control change.
function controller(s, ch, c, cc, value) {
  c.cc[cc] = value;
  c.serial = ++s.changes;  // never a number a voice saw before, even after a channel is made anew
  switch (cc) {
    case 0: c.bankMsb = value; c.drums = playsKit(s, c); break;
    case 32: c.bankLsb = value; break;
    case 1: c.mod = value; break;
    case 7: c.volume = value; break;
    case 10: c.pan = value; break;
    case 11: c.expression = value; break;
    case 91: c.reverb = value; break;
    case 64:
      c.pedal = value >= 64;
      if (!c.pedal) for (const v of s.voices) if (v.on && v.ch === ch && v.pedal) release(s, v);
      break;
    case 101: c.rpn = (value << 7) | (c.rpn & 0x7f); break;
    case 100: c.rpn = (c.rpn & 0x3f80) | value; break;
    case 98: case 99: c.rpn = 0x3fff; break;  // an NRPN: data entry no longer meant for an RPN
    case 6: if (c.rpn === 0) c.bendRange = value + (Math.round((c.bendRange % 1) * 100) / 100); break;
    case 38: if (c.rpn === 0) c.bendRange = Math.floor(c.bendRange) + value / 100; break;
    case 120: for (const v of s.voices) if (v.on && v.ch === ch) fade(s, v); break;
    case 121: resetChannel(c); break;
    case 123: case 124: case 125: case 126: case 127:  // all notes off, and the mode messages that imply it
      for (const v of s.voices) if (v.on && v.ch === ch && v.held) noteOffVoice(s, c, v);
      break;
    default: break;
  }
}

// Whether channel c plays a drum kit: a rhythm part does, whatever its bank; after XG System On bank
// MSB 127 is a drum kit and 126 the SFX kit (the built-in sound has one kit; a SoundFont's is its bank
// 128 preset of the channel's program); after General MIDI 2 On, MSB 120. (Elsewhere those banks are
// melodic: GS's 127 is its MT-32 set, which falls back to the capital tones.)
function playsKit(s, c) {
  if (c.rhythm) return true;
  if (s.mode === 'gm2') return c.bankMsb === 120;
  return s.mode === 'xg' && (c.bankMsb === 127 || c.bankMsb === 126);
}

// Puts every channel as a reset of General MIDI, GS or XG does (mode: which): controllers, programs,
// banks, volume, pan, reverb send, bend range, channel 10 alone a rhythm part; and the master volume.
function resetModule(s, mode) {
  s.mode = mode;
  s.masterVolume = 1;
  s.channels.forEach((c, ch) => Object.assign(c, newChannel(ch)));
}

// Acts on a system exclusive message (its bytes, F0 to F7), or on a message a file's escape event
// sends as it is (a channel message is played; the rest is ignored). Honoured: General MIDI System On
// and Off, General MIDI 2 On, the GS reset and XG System On (see resetModule); the universal master
// volume and GS's; GS's "use for rhythm part" (a part's channel plays the drum kit, or not). Anything
// else is ignored. A GS message is taken whatever its checksum: modules differ in what they do with a
// wrong one, and a file's author heard it on one that took it.
function systemExclusive(s, m) {
  if (!m || m.length === 0) return;
  if (m[0] !== 0xf0) {
    if (m[0] >= 0x80 && m[0] < 0xf0) midi(s, packMessage(m[0], m[1] ?? 0, m[2] ?? 0));
    return;
  }
  // universal non-real-time (7E) General MIDI messages, any device: 09 01 on, 09 02 off, 09 03 GM2 on
  if (m.length >= 6 && m[1] === 0x7e && m[3] === 0x09 && m[4] >= 1 && m[4] <= 3) {
    resetModule(s, ['gm', 'gm', 'gm2'][m[4] - 1]);
    return;
  }
  // universal real-time (7F) master volume: 04 01, then 14 bits, low seven first
  if (m.length >= 8 && m[1] === 0x7f && m[3] === 0x04 && m[4] === 0x01) {
    s.masterVolume = (m[5] | (m[6] << 7)) / 16383;
    return;
  }
  // XG System On: 43 1n 4C 00 00 7E 00
  if (m.length >= 8 && m[1] === 0x43 && (m[2] & 0xf0) === 0x10 && m[3] === 0x4c && m[4] === 0 && m[5] === 0 && m[6] === 0x7e) {
    resetModule(s, 'xg');
    return;
  }
  // GS data set: 41 dev 42 12, an address of three bytes, data, checksum
  if (m.length < 11 || m[1] !== 0x41 || m[3] !== 0x42 || m[4] !== 0x12) return;
  const address = (m[5] << 16) | (m[6] << 8) | m[7];
  const value = m[8];
  if (address === 0x40007f) {
    resetModule(s, 'gs');
  } else if (address === 0x400004) {
    s.masterVolume = Math.min(127, value) / 127;
  } else if ((address & 0xfff0ff) === 0x401015) {
    // parts by the address's middle nibble: 1 to 9 are channels 1 to 9, 0 channel 10, A to F 11 to 16
    const part = (address >> 8) & 0x0f;
    const c = s.channels[part === 0 ? 9 : part <= 9 ? part - 1 : part];
    c.rhythm = value !== 0;
    c.drums = playsKit(s, c);
  }
}

// Ends a key's note: releases its voices, or leaves them to the sustain pedal.
function noteOff(s, ch, key) {
  const c = s.channels[ch];
  for (const v of s.voices) if (v.on && v.ch === ch && v.key === key && v.held) noteOffVoice(s, c, v);
}

// A voice's key is up.
function noteOffVoice(s, c, v) {
  v.held = false;
  if (c.pedal) v.pedal = true;
  else release(s, v);
}

// Starts a note: a voice for each timbre or zone chosen for it.
function noteOn(s, ch, key, vel) {
  if (s.crowded > 0) {  // more note-ons in this quantum than voices: this one would be stolen at once
    s.crowded--;
    return;
  }
  const c = s.channels[ch];
  const count = choose(s, c, key, vel);
  if (count === 0) return;
  for (const v of s.voices) {
    if (!v.on || v.ch !== ch || v.fading) continue;
    // a key struck again ends its previous sound; a drum's exclusive class cuts its mates (the
    // closed hi-hat the open one), whichever of the note's zones names it
    if (v.key === key && !v.released) { if (c.drums) fade(s, v); else release(s, v); }
    for (let i = 0; i < count; i++) {
      if (s.chosen[i].x && v.t.x === s.chosen[i].x) { fade(s, v); break; }
    }
  }
  if (!makeRoom(s, count, key)) { s.refused++; return; }
  s.notes++;
  for (let i = 0; i < count; i++) startVoice(s, takeVoice(s), ch, key, vel, s.chosen[i]);
}

// Fills s.chosen with the timbres for a note and says how many: the zones of the channel's sampled
// preset that hold its key and velocity (none: the note is silent), or the built-in timbre when the
// SoundFont has no such preset.
function choose(s, c, key, vel) {
  let count = 0;
  const set = s.sampled;
  const preset = set ? sampledPreset(set, c) : noZones;
  if (preset !== noZones) {
    const rows = set.rows, width = set.width;
    for (const r of preset) {
      const at = r * width;  // bank, program, keyLo, keyHi, velLo, velHi
      if (key >= rows[at + 2] && key <= rows[at + 3] && vel >= rows[at + 4] && vel <= rows[at + 5]) s.chosen[count++] = sampledZone(set, r);
    }
    return count;
  }
  const t = c.drums ? drums[key] : programs[c.program];
  if (t) s.chosen[count++] = t;
  return count;
}

const noZones = [];

// The rows of the sampled zones a channel plays: its bank and program (bank 128 on the drum channel,
// the program choosing the kit), else the same program in bank 0 (a variation missing plays its
// capital tone), or the standard kit 0; none when the set has neither.
function sampledPreset(set, c) {
  const bank = c.drums ? 128 : c.bankMsb;
  return set.presets.get(bank * 128 + c.program) || set.presets.get(c.drums ? 128 * 128 : c.program) || noZones;
}

// Zone r of a set as a timbre, made from its row the first time a note plays it.
function sampledZone(set, r) {
  let z = set.made[r];
  if (!z) {
    const fields = Object.assign({ src: 'sample', sample: set.sample, end: set.sample.length, unit: set.unit }, set.common);
    for (let k = 0; k < set.width; k++) fields[set.fields[k]] = set.rows[r * set.width + k];
    if (set.modWords && fields.mn >= 0) { fields.mw = set.modWords; fields.ma = set.modAmounts; }
    else Object.assign(fields, defaultModulators);
    z = set.made[r] = timbre(fields);
  }
  return z;
}

// Whether voice a is to be stolen before voice b: released before held, then the older note, then
// the quieter, then the higher key (a chord struck at once keeps its bass).
function stealsFirst(a, b) {
  if (a.released !== b.released) return a.released;
  if (a.born !== b.born) return a.born < b.born;
  const la = a.level * Math.max(0, a.gl + a.gr), lb = b.level * Math.max(0, b.gl + b.gr);
  if (la !== lb) return la < lb;
  return a.key > b.key;
}

// Makes room under the cap for a note of `need` voices at key: steals whole notes (every voice of
// the note fades); false when the note itself is the one to go (every note it would steal began at
// this same frame, on a key no higher).
function makeRoom(s, need, key) {
  let active = 0;
  for (const v of s.voices) if (v.on && !v.fading) active++;
  while (active + need > voiceCap) {
    let victim = null;
    for (const v of s.voices) if (v.on && !v.fading && (!victim || stealsFirst(v, victim))) victim = v;
    if (!victim || (victim.born === s.now && !victim.released && victim.key <= key)) return false;
    const order = victim.order, ch = victim.ch;
    for (const v of s.voices) if (v.on && !v.fading && v.order === order && v.ch === ch) { fade(s, v); active--; }
    s.refused++;
  }
  return true;
}

// A voice to play: a silent one, else (every voice still fading) the quietest fading one, cut.
function takeVoice(s) {
  let quietest = s.voices[0];
  for (const v of s.voices) {
    if (!v.on) return v;
    if (v.fading && (!quietest.fading || v.level < quietest.level)) quietest = v;
  }
  return quietest;
}

// Seconds scaled by how high the key is: higher notes of plucked and struck sounds die sooner.
function keyScaled(t, key, seconds) {
  return seconds * Math.pow(2, (-(key - 60) / 24) * t.ks);
}

// Starts voice v for a note with timbre t.
function startVoice(s, v, ch, key, vel, t) {
  const rate = s.rate;
  v.on = true;
  v.ch = ch; v.key = key; v.vel = vel;
  v.order = s.notes;
  v.born = s.now;
  v.held = true; v.pedal = false; v.released = false; v.fading = false;
  v.t = t;
  v.source = sources[t.src] || sources.osc;
  v.frames = 0;
  v.stage = 0; v.level = 0;
  v.countdown = Math.round(t.dl * rate);
  v.attack = 1 / Math.max(1, t.a * rate);
  v.decay = Math.pow(0.001, 1 / Math.max(1, keyScaled(t, key, t.d) * rate));
  v.step = Math.pow(0.001, 1 / Math.max(1, t.r * rate));
  v.hold = Math.round(t.h * (t.kh ? Math.pow(2, (t.kh * (60 - key)) / 1200) : 1) * rate);
  v.sustain = t.s;
  v.q = t.q;
  v.gl = v.gr = v.gs = v.gc = -1;  // no gains yet: the first block starts at its own
  v.p1 = v.p2 = v.p3 = 0;
  v.partials.fill(0);
  v.f1 = v.f2 = v.d1 = v.d2 = 0;
  v.lfoPhase = 0; v.lfoValue = 0;
  v.source.start(s, v, t);
}

// Begins a voice's release.
function release(s, v) {
  v.held = false;
  v.pedal = false;
  v.released = true;
  if (v.t.src === 'drum') return;  // drums play out; only a struck key again or a class mate cuts them
  if (v.stage < 4) v.stage = 4;
  if (v.t.src === 'sample') sampledRelease(s, v);
}

// Fades a voice out within a few milliseconds.
function fade(s, v) {
  v.held = false;
  v.pedal = false;
  v.released = true;
  v.fading = true;
  v.stage = 4;
  v.step = Math.pow(0.001, 1 / (fadeSeconds * s.rate));
}

// Ends every voice at once.
export function synthSilence(s) {
  for (const v of s.voices) if (v.on) fade(s, v);
}

// ---- sources ------------------------------------------------------------------------------------

// The next value of the noise generator, -1 to 1.
function noise(s) {
  let x = s.seed;
  x ^= x << 13; x ^= x >>> 17; x ^= x << 5;
  s.seed = x;
  return x / 2147483648;
}

// Fills n frames of out with the noise generator's values.
function noiseFill(s, out, n) {
  let x = s.seed;
  for (let i = 0; i < n; i++) {
    x ^= x << 13; x ^= x >>> 17; x ^= x << 5;
    out[i] = x / 2147483648;
  }
  s.seed = x;
}

// A sine of phase p (in cycles, 0 to 1).
function sine(p) {
  const x = p * tableSize, i = x | 0;
  return sineTable[i] + (sineTable[i + 1] - sineTable[i]) * (x - i);
}

// The correction that smooths a step at phase t of a wave advancing dt a frame (PolyBLEP).
function blep(t, dt) {
  if (t < dt) { t /= dt; return t + t - t * t - 1; }
  if (t > 1 - dt) { t = (t - 1) / dt; return t * t + t + t + 1; }
  return 0;
}

// Sets up the wave that addWave adds next: from phase p, advancing dt a frame, pulse width pw, of the
// given level (kept in s.wave rather than passed, so that no number is boxed in the audio thread).
function setWave(s, p, dt, pw, level) {
  const w = s.wave;
  w.p = p; w.dt = dt; w.pw = pw; w.level = level;
}

// Adds n frames of the wave set up by setWave to out; its phase goes on in s.wave.p.
function addWave(s, out, n, wave) {
  const w = s.wave;
  const dt = w.dt, pw = w.pw, level = w.level;
  let p = w.p;
  if (dt >= 0.5 || dt <= 0) return;  // above half the frame rate: nothing
  switch (wave) {
    case SINE:
      for (let i = 0; i < n; i++) { out[i] += level * sine(p); p += dt; if (p >= 1) p -= 1; }
      break;
    case TRI:
      for (let i = 0; i < n; i++) { out[i] += level * (4 * Math.abs(p - 0.5) - 1); p += dt; if (p >= 1) p -= 1; }
      break;
    case SAW:
      for (let i = 0; i < n; i++) { out[i] += level * (2 * p - 1 - blep(p, dt)); p += dt; if (p >= 1) p -= 1; }
      break;
    default: {
      const w = wave === SQUARE ? 0.5 : pw, dc = 2 * w - 1;
      for (let i = 0; i < n; i++) {
        let q = p - w; if (q < 0) q += 1;
        out[i] += level * ((p < w ? 1 : -1) - dc + blep(p, dt) - blep(q, dt));
        p += dt; if (p >= 1) p -= 1;
      }
    }
  }
  w.p = p;
}

const ln1000 = Math.log(1000);

// Each source: start(s, v, t) at the note-on; render(s, v, out, n) writes n frames at the voice's
// frequency v.hz (Hz; v.pitch: the same as a fractional key) for a voice v.age seconds old, and says
// whether the source still sounds.
const sources = {
  osc: {
    // two band-limited waves, the second detuned or at an interval and starting a quarter on
    start(s, v) { v.p2 = 0.25; },
    render(s, v, out, n) {
      const t = v.t, dt = v.hz / s.rate;
      out.fill(0, 0, n);
      setWave(s, v.p1, dt, t.pw, 1);
      addWave(s, out, n, t.w1);
      v.p1 = s.wave.p;
      if (t.mix) {
        setWave(s, v.p2, dt * Math.pow(2, (t.iv + t.det / 100) / 12), t.pw, t.mix);
        addWave(s, out, n, t.w2);
        v.p2 = s.wave.p;
      }
      return true;
    },
  },
  add: {
    // sine partials at the timbre's ratios, the upper ones dying sooner (bells, organs, mallets)
    start() {},
    render(s, v, out, n) {
      const t = v.t, dt = v.hz / s.rate, seconds = v.age;
      out.fill(0, 0, n);
      for (let k = 0; k < t.pr.length && k < 8; k++) {
        const level = t.pl[k] * Math.exp(-seconds * t.pd * Math.max(0, t.pr[k] - 1));
        setWave(s, v.partials[k], dt * t.pr[k], 0, level);
        addWave(s, out, n, SINE);
        v.partials[k] = s.wave.p;
      }
      return true;
    },
  },
  fm: {
    // a sine carrier whose phase a sine modulator moves by an index that decays to its lasting share
    start() {},
    render(s, v, out, n) {
      const t = v.t, dt = v.hz / s.rate, dm = dt * t.mr, seconds = v.age;
      const index = t.mi * (t.mk + (1 - t.mk) * Math.exp(-seconds / t.md)) * (0.5 + v.vel / 254) / (2 * Math.PI);
      const dt2 = t.mix ? dt * Math.pow(2, t.det / 1200) : 0;
      let pc = v.p1, pm = v.p2, p2 = v.p3;
      if (dm >= 0.5 || dt >= 0.5) { out.fill(0, 0, n); return true; }
      for (let i = 0; i < n; i++) {
        const m = index * sine(pm);
        let c = pc + m; c -= Math.floor(c);
        let y = sine(c);
        if (dt2) { let c2 = p2 + m; c2 -= Math.floor(c2); y += t.mix * sine(c2); p2 += dt2; if (p2 >= 1) p2 -= 1; }
        out[i] = y;
        pc += dt; if (pc >= 1) pc -= 1;
        pm += dm; if (pm >= 1) pm -= 1;
      }
      v.p1 = pc; v.p2 = pm; v.p3 = p2;
      return true;
    },
  },
  pluck: {
    // a Karplus-Strong string: a delay line one period long, filled with noise during the first
    // period, fed back through a two-point average (its share `damp` darkens the tone) and a loss
    // that sets the decay time
    start(s, v, t) {
      const freq = Math.max(noteHz(v.key + t.tr), s.rate / 16000);
      const period = s.rate / freq;
      let size = 64;
      while (size < period + 4) size *= 2;
      if (!v.string || v.string.length < size) v.string = new Float32Array(size);
      v.stringMask = v.string.length - 1;
      v.write = 0;
      v.excite = Math.ceil(period);
      v.last = 0;
      v.lowpass = 0;
      v.loss = Math.pow(0.001, 1 / (keyScaled(t, v.key, t.sd) * freq));
    },
    render(s, v, out, n) {
      const t = v.t, buf = v.string, mask = v.stringMask, damp = 0.5 * (1 - t.br);
      const delay = Math.min(mask - 2, Math.max(2, s.rate / v.hz - damp));
      let w = v.write, last = v.last, i = 0;
      if (v.excite > 0) {
        // the pluck: noise smoothed by the brightness, always of RMS 0.5
        const a = 0.1 + 0.9 * t.br, gain = 0.5 / Math.sqrt(a / (2 - a) / 3);
        const m = Math.min(n, v.excite), white = s.noise;
        noiseFill(s, white, m);
        let y = v.lowpass;
        for (; i < m; i++) { y += a * (white[i] - y); buf[w & mask] = out[i] = gain * y; w++; }
        v.lowpass = y;
        v.excite -= m;
      }
      for (; i < n; i++) {
        const r = w - delay, ri = Math.floor(r), f = r - ri;
        const a = buf[ri & mask], x = a + (buf[(ri + 1) & mask] - a) * f;
        const y = v.loss * ((1 - damp) * x + damp * last);
        last = x;
        buf[w & mask] = y;
        w++;
        out[i] = y;
      }
      v.write = w & 0x3fffffff;
      v.last = last;
      return true;
    },
  },
  noise: {
    // white noise, for the filter to shape (wind, waves, breath, applause)
    start() {},
    render(s, v, out, n) {
      noiseFill(s, out, n);
      return true;
    },
  },
  drum: {
    // a tone sweeping from f0 to f1 (with a second at t2 times it), noise through its own filter,
    // and six square waves at inharmonic ratios (the metal of cymbals and hi-hats), each decaying
    start(s, v, t) {
      v.ta = t.tl;
      v.na = t.nl;
      v.ma = t.ml;
      v.bursts = t.nb;
      v.burstLeft = Math.round(t.bg * s.rate);
      v.p2 = 0.25;
    },
    render(s, v, out, n) {
      const t = v.t, rate = s.rate;
      const f = t.f1 + (t.f0 - t.f1) * Math.exp(-v.age / t.ts);
      const dt = Math.min(f / rate, 0.49);
      const toneDecay = Math.exp(-ln1000 / (t.td * rate)), noiseDecay = Math.exp(-ln1000 / (t.ndk * rate));
      const metalDecay = Math.exp(-ln1000 / (t.mdk * rate));
      out.fill(0, 0, n);
      if (v.ta > silentLevel) {
        const ta = v.ta;
        setWave(s, v.p1, dt, 0.5, ta);
        addWave(s, out, n, t.tw);
        v.p1 = s.wave.p;
        if (t.t2l) {
          setWave(s, v.p2, Math.min(dt * t.t2, 0.49), 0.5, ta * t.t2l);
          addWave(s, out, n, t.tw);
          v.p2 = s.wave.p;
        }
        v.ta = ta * Math.pow(toneDecay, n);
        // the tone decays within the block too
        let g = 1;
        const k = toneDecay;
        for (let i = 0; i < n; i++) { out[i] *= g; g *= k; }
      }
      if (v.na > silentLevel || v.ma > silentLevel || v.bursts > 0) {
        const g = Math.tan(Math.PI * Math.min(t.nf / rate, 0.45)), kq = 1 / t.nq;
        const a1 = 1 / (1 + g * (g + kq)), a2 = g * a1, a3 = g * a2;
        const ph = v.partials, mscale = t.mf / rate;
        let ic1 = v.d1, ic2 = v.d2, na = v.na, ma = v.ma;
        const white = s.noise;
        noiseFill(s, white, n);
        for (let i = 0; i < n; i++) {
          let x = na * white[i];
          if (ma > silentLevel) {
            let m = 0;
            for (let k = 0; k < 6; k++) {
              let p = ph[k] + metalRatios[k] * mscale; if (p >= 1) p -= 1;
              ph[k] = p;
              m += p < 0.5 ? 1 : -1;
            }
            x += ma * m / 6;
            ma *= metalDecay;
          }
          const v3 = x - ic2, v1 = a1 * ic1 + a2 * v3, v2 = ic2 + a2 * ic1 + a3 * v3;
          ic1 = 2 * v1 - ic1; ic2 = 2 * v2 - ic2;
          out[i] += t.nt === LP ? v2 : t.nt === BP ? v1 : x - kq * v1 - v2;
          na *= noiseDecay;
          if (v.bursts > 0 && --v.burstLeft <= 0) {
            v.bursts--;
            v.burstLeft = Math.round(t.bg * rate);
            na = t.nl * (v.bursts + 1) / (t.nb + 1);  // each burst a little softer than the last
          }
        }
        v.d1 = ic1; v.d2 = ic2; v.na = na; v.ma = ma;
      }
      return v.ta > silentLevel || v.na > silentLevel || v.ma > silentLevel || v.bursts > 0;
    },
  },
  sample: {
    // a sampled zone (see renderSampled, which plays it)
    start: sampledStart,
    render: sampleFill,
  },
};

// The most frames of its sample a sampled zone moves on in a frame: 10 octaves above its own rate.
const sampleStepMost = 1024;

// The metal oscillators' frequencies (Hz) at pitch scale 1, as in a classic analogue drum machine.
const metalRatios = [205.3, 304.4, 369.6, 522.7, 540, 800];

// The frequency of a key (69 = A 440 Hz), fractions of a key allowed.
function noteHz(key) {
  return 440 * Math.pow(2, (key - 69) / 12);
}

// ---- voices --------------------------------------------------------------------------------------

// Fills s.env with n frames of voice v's envelope; false once it has ended.
function envelope(s, v, n) {
  const env = s.env, t = v.t;
  let level = v.level, stage = v.stage, i = 0;
  while (i < n) {
    if (stage === 3) {  // decay, then sustain
      const sustain = v.sustain, k = v.decay;
      if (t.dk) {  // falls at a steady rate in dB, and stays at the sustain level once there
        for (; i < n; i++) { if (level > sustain) level = Math.max(sustain, level * k); env[i] = level; }
        if (level < silentLevel) stage = 5;
      } else {
        for (; i < n; i++) { level = sustain + (level - sustain) * k; env[i] = level; }
        if (sustain === 0 && level < silentLevel) stage = 5;
      }
    } else if (stage === 4) {  // release
      const k = v.step;
      for (; i < n; i++) { level *= k; env[i] = level; }
      if (level < silentLevel) stage = 5;
    } else if (stage === 1) {  // attack
      const step = v.attack;
      for (; i < n && level < 1; i++) { level += step; env[i] = level < 1 ? level : 1; }
      if (level >= 1) { level = 1; stage = 2; v.countdown = v.hold; }
    } else if (stage === 0 || stage === 2) {  // delay, hold
      const m = Math.min(n - i, v.countdown);
      env.fill(level, i, i + m);
      i += m;
      v.countdown -= m;
      if (v.countdown <= 0) stage++;
    } else {  // ended
      env.fill(0, i, n);
      i = n;
    }
  }
  v.level = level;
  v.stage = stage;
  return stage !== 5;
}

// Runs a state-variable filter (the timbre's mode and resonance, the cutoff v.cutoff in Hz) over n
// frames of s.buf for voice v.
function filter(s, v, n) {
  const buf = s.buf, mode = v.t.ft, cutoff = v.cutoff, q = v.q;
  const g = Math.tan(Math.PI * Math.min(Math.max(cutoff, 10) / s.rate, 0.45)), k = 1 / q;
  const a1 = 1 / (1 + g * (g + k)), a2 = g * a1, a3 = g * a2;
  let ic1 = v.f1, ic2 = v.f2;
  for (let i = 0; i < n; i++) {
    const x = buf[i], v3 = x - ic2, v1 = a1 * ic1 + a2 * v3, v2 = ic2 + a2 * ic1 + a3 * v3;
    ic1 = 2 * v1 - ic1; ic2 = 2 * v2 - ic2;
    buf[i] = mode === LP ? v2 : mode === BP ? v1 : x - k * v1 - v2;
  }
  v.f1 = ic1; v.f2 = ic2;
}

// Adds n frames of voice v to left and right (from frame `at`) and to the reverb's input.
function renderVoice(s, v, left, right, at, n) {
  const t = v.t, c = s.channels[v.ch], rate = s.rate;
  if (t.src === 'sample') { renderSampled(s, v, left, right, at, n); return; }
  const seconds = v.frames / rate;
  // the LFO, its depth faded in over ld seconds
  v.lfoPhase += (t.lr * n) / rate;
  if (v.lfoPhase >= 1) { v.lfoPhase -= Math.floor(v.lfoPhase); if (t.ls === RANDOM) v.lfoValue = noise(s); }
  const lfo = t.ls === RANDOM ? v.lfoValue : sine(v.lfoPhase);
  const fadeIn = t.ld > 0 ? Math.min(1, seconds / t.ld) : 1;
  // pitch: key, transpose, bend, pitch envelope, vibrato (the timbre's and the mod wheel's)
  let key = v.key + t.tr;
  if (t.src !== 'drum') key += (c.bend / 8192) * c.bendRange;
  if (t.pe) key += t.pe * Math.exp(-seconds / t.pt);
  const vibrato = t.lp * fadeIn + (c.mod / 127) * 50;
  if (vibrato) key += ((t.ls === RANDOM ? sine(v.lfoPhase) : lfo) * vibrato) / 100;
  const freq = noteHz(key);
  const buf = s.buf;
  v.hz = freq; v.age = seconds; v.pitch = key;  // for the source, in the voice: no number is boxed
  const sounding = v.source.render(s, v, buf, n);
  // noise added to the source: breath, hammer, mallet
  if (t.nz && t.src !== 'noise' && t.src !== 'drum') {
    const level = t.nz * (t.nk + (1 - t.nk) * Math.exp(-seconds / t.nd));
    if (level > silentLevel) {
      const white = s.noise;
      noiseFill(s, white, n);
      for (let i = 0; i < n; i++) buf[i] += level * white[i];
    }
  }
  if (t.fc > 0) {
    let cutoff = t.fa ? t.fc : t.fc * freq;
    cutoff *= 1 + t.fe * v.level + (t.fp ? t.fp * Math.exp(-seconds / t.fd) : 0);
    cutoff *= 1 - t.vf + (t.vf * v.vel) / 100;
    if (t.lf) cutoff *= Math.pow(2, t.lf * lfo * fadeIn);
    v.cutoff = cutoff;
    filter(s, v, n);
  }
  if (t.dr) for (let i = 0; i < n; i++) { const x = buf[i] * t.dr; buf[i] = x / (1 + Math.abs(x)); }
  // a voice gone wrong (not a number) is ended before it reaches the reverb, and counted
  if (!Number.isFinite(buf[n - 1])) { s.nonFinite++; v.on = false; return; }
  const alive = envelope(s, v, n) && sounding;
  // gains: velocity, volume and expression (squared, as General MIDI asks), tremolo, pan
  const vel = v.vel / 127, volume = c.volume / 127, expression = c.expression / 127;
  let gain = t.g * vel * vel * volume * volume * expression * expression;
  if (t.la) gain *= 1 - t.la * fadeIn * (0.5 + 0.5 * lfo);
  const pan = Math.min(1, Math.max(-1, (c.pan - 64) / 63 + t.pan));
  const angle = ((pan + 1) * Math.PI) / 4;
  v.nl = gain * Math.cos(angle); v.nr = gain * Math.sin(angle); v.ns = (gain * t.rv * c.reverb) / 127; v.nc = (gain * c.cc[93]) / 127;
  mixVoice(s, v, left, right, at, n);
  if (!alive) v.on = false;
}

// ---- sampled zones: modulators, envelopes and LFOs as SoundFonts describe them ---------------------

// The modulators every zone has unless its table gives its own list (each: source, destination,
// amount source, transform, as the file's words; and the amount in the destination's units): note-on
// velocity to attenuation (concave, 96 dB), channel pressure and the mod wheel to the vibrato's depth,
// volume and expression to attenuation, pan, the reverb and chorus sends, and the pitch wheel, times
// its sensitivity, to the fine tune. As FluidSynth 2.3 renders them: velocity leaves the cutoff alone
// (notes at velocities 127, 64, 63 and 40 have the same spectrum there), and CC 10 spans the whole
// field once (at 32 a note sounds a quarter of the way from the left), an amount of 500, not 1000.
export const defaultModulatorWords = Uint32Array.from([
  0x0502, 48, 0, 0,        // velocity, negative concave: attenuation
  0x000d, 6, 0, 0,         // channel pressure: vibrato LFO to pitch
  0x0081, 6, 0, 0,         // CC 1 (mod wheel): vibrato LFO to pitch
  0x0587, 48, 0, 0,        // CC 7 (volume), negative concave: attenuation
  0x028a, 17, 0, 0,        // CC 10 (pan), bipolar: pan
  0x058b, 48, 0, 0,        // CC 11 (expression), negative concave: attenuation
  0x00db, 16, 0, 0,        // CC 91: reverb send
  0x00dd, 15, 0, 0,        // CC 93: chorus send
  0x020e, 52, 0x0010, 0,   // pitch wheel, bipolar, times its sensitivity: fine tune
]);
export const defaultModulatorAmounts = Float32Array.from([960, 50, 50, 960, 500, 960, 200, 200, 12700]);
// The default list as a zone's fields.
const defaultModulators = { mw: defaultModulatorWords, ma: defaultModulatorAmounts, m0: 0, mn: defaultModulatorAmounts.length };

// Generators a modulator may move (their numbers in the format).
const G_MOD_LFO_PITCH = 5, G_VIB_LFO_PITCH = 6, G_MOD_ENV_PITCH = 7, G_CUTOFF = 8, G_Q = 9, G_MOD_LFO_CUTOFF = 10,
  G_MOD_ENV_CUTOFF = 11, G_MOD_LFO_VOLUME = 13, G_CHORUS = 15, G_REVERB = 16, G_PAN = 17, G_MOD_LFO_DELAY = 21,
  G_MOD_LFO_HZ = 22, G_VIB_LFO_DELAY = 23, G_VIB_LFO_HZ = 24, G_MOD_ENV_DELAY = 25, G_MOD_ENV_ATTACK = 26,
  G_MOD_ENV_HOLD = 27, G_MOD_ENV_DECAY = 28, G_MOD_ENV_SUSTAIN = 29, G_MOD_ENV_RELEASE = 30, G_KEY_MOD_HOLD = 31,
  G_KEY_MOD_DECAY = 32, G_DELAY = 33, G_ATTACK = 34, G_HOLD = 35, G_DECAY = 36, G_SUSTAIN = 37, G_RELEASE = 38,
  G_KEY_HOLD = 39, G_KEY_DECAY = 40, G_ATTENUATION = 48, G_COARSE = 51, G_FINE = 52, G_SCALE = 56;
const holdMost = 5000, decayMost = 8000;  // timecents: the longest key-scaled hold and decay (18 s and 102 s)
const cutoffOpen = 13500;                 // cents: a cutoff this high is no filter
const reverbUnit = 5;                     // a send of 1 against the built-in sound's (whose full send is CC 91 at 127)
// a chorus send of 1 against the built-in sound's full CC 93: FluidSynth's chorus at a zone's full send
// comes out 14.7 dB over the dry sound in each side (TimGM6mb's strings, key 60, held 2.5 s), this
// chorus's at 5 was 7.9 dB over it
const chorusUnit = 11;

// Puts in v.mv what a modulator's source (its word) gives for voice v of channel c: -1 to 1, through
// the source's curve (linear, concave, convex or switch), direction and polarity; a source of no
// controller gives `none`.
function modSource(v, c, word, none) {
  const index = word & 127;
  let x;
  if (word & 128) x = c.cc[index] / 128;
  else if (index === 2) x = v.vel / 128;
  else if (index === 3) x = v.key / 128;
  else if (index === 10) x = c.keyPressure[v.key] / 128;
  else if (index === 13) x = c.pressure / 128;
  else if (index === 14) x = (c.bend + 8192) / 16384;
  else if (index === 16) x = Math.min(1, c.bendRange / 127);
  else { v.mv = index === 0 ? none : 0; return; }
  if (word & 256) x = 1 - x;               // from the top down
  const type = word >> 10, bipolar = (word & 512) !== 0;
  if (type === 3) { v.mv = x >= 0.5 ? 1 : bipolar ? -1 : 0; return; }  // switch
  const sign = bipolar && x < 0.5 ? -1 : 1;
  if (bipolar) x = Math.abs(2 * x - 1);    // a bipolar curve: the unipolar one both ways from the middle
  if (type === 1) x = x >= 1 ? 1 : Math.min(1, -(5 / 12) * Math.log10(1 - x));       // concave
  else if (type === 2) x = x <= 0 ? 0 : Math.max(0, 1 + (5 / 12) * Math.log10(x));  // convex
  v.mv = sign * x;
}

// Sums the modulators of voice v's zone into v.gen, from channel c's controllers now, and reckons
// what a block of the voice takes from them.
function modulate(v, c) {
  const t = v.t, gen = v.gen, words = t.mw, amounts = t.ma;
  gen.fill(0);
  v.serial = c.serial;
  const last = words ? Math.min(t.m0 + t.mn, amounts.length, words.length >> 2) : 0;
  for (let m = t.m0; m < last; m++) {
    const dest = words[4 * m + 1];
    if (dest > 60 || (words[4 * m] & 0xff) === 0) continue;  // no generator, or no primary source
    modSource(v, c, words[4 * m], 0);
    const primary = v.mv;
    modSource(v, c, words[4 * m + 2], 1);
    let value = amounts[m] * primary * v.mv;
    if (words[4 * m + 3] === 2) value = Math.abs(value);
    if (Number.isFinite(value)) gen[dest] += value;
  }
  const g = gen, rate = v.rate;
  // pitch: the key's distance from the root and the tunings (cents); the depths of the LFOs and the envelope
  v.cents = (v.key - t.root) * (t.st + g[G_SCALE]) + t.tune + 100 * g[G_COARSE] + g[G_FINE];
  v.pace0 = t.sampleRate / rate;
  v.vlPitch = t.vlp + g[G_VIB_LFO_PITCH]; v.mlPitch = t.mlp + g[G_MOD_LFO_PITCH]; v.mePitch = t.mep + g[G_MOD_ENV_PITCH];
  // the LFOs' rates: moved by cents, at most 100 Hz (the format's highest), never below 0
  const vibHz = t.vlf * Math.pow(2, Math.min(4500, g[G_VIB_LFO_HZ]) / 1200), modHz = t.mlf * Math.pow(2, Math.min(4500, g[G_MOD_LFO_HZ]) / 1200);
  v.vlStep = (vibHz >= 0 ? Math.min(100, vibHz) : 0) / rate;
  v.mlStep = (modHz >= 0 ? Math.min(100, modHz) : 0) / rate;
  // the filter (its resonance peak taken back down by half its height)
  v.cutoff0 = (t.fc > 0 ? 1200 * Math.log2(t.fc / 8.176) : cutoffOpen) + g[G_CUTOFF];
  v.meCutoff = t.mef + g[G_MOD_ENV_CUTOFF]; v.mlCutoff = t.mlc + g[G_MOD_LFO_CUTOFF];
  const qDb = Math.min(96, Math.max(0, t.qd + g[G_Q]));
  v.q = Math.pow(10, (qDb - 3.01) / 20);
  // (a resonance at the open cutoff still peaks there and takes the level down, as in FluidSynth: a
  // closed hi-hat of FluidR3 with 10 dB of it sounds 5 dB softer there than without)
  const filtered = v.filtered = v.cutoff0 < cutoffOpen || v.meCutoff !== 0 || v.mlCutoff !== 0 || qDb > 0;
  // gains: the attenuation in centibels (the file's share is in t.g), pan, sends; the LFO's tremolo
  const gain = t.g * Math.pow(10, -Math.min(1440, Math.max(-1440, g[G_ATTENUATION])) / 200 - (filtered ? qDb / 40 : 0));
  const pan = Math.min(1, Math.max(-1, t.pan + g[G_PAN] / 500)), angle = ((pan + 1) * Math.PI) / 4;
  v.toLeft = gain * Math.cos(angle); v.toRight = gain * Math.sin(angle);
  v.toReverb = gain * reverbUnit * Math.min(1, Math.max(0, t.rs + g[G_REVERB] / 1000));
  v.toChorus = gain * chorusUnit * Math.min(1, Math.max(0, t.cs + g[G_CHORUS] / 1000));
  v.mlVolume = 10 * t.mlv + g[G_MOD_LFO_VOLUME];
}

// A time of `seconds` lengthened by `added` timecents (a modulator's sum, a key's scaling), in seconds,
// at most `most` timecents.
function timecents(seconds, added, most) {
  return Math.pow(2, Math.min(most, 1200 * Math.log2(Math.max(seconds, 1e-6)) + added) / 1200);
}

// The frames in a time of `seconds`, at least one and at most 2^31.
function framesOf(s, seconds) {
  return Math.min(2147483647, Math.max(1, Math.round(seconds * s.rate)));
}

// A sampled zone's voice at its note-on: its modulators summed and the times they move reckoned.
function sampledStart(s, v, t) {
  const c = s.channels[v.ch], g = v.gen, key = v.key;
  v.rate = s.rate;
  modulate(v, c);
  const below60 = 60 - key;
  // the start of the sample, moved by the offsets
  v.pos = Math.min(Math.max(t.start, t.start + g[0] + 32768 * g[4]), Math.max(t.start, t.end - 2));
  // volume envelope (decay and release to -60 dB in the synthesizer's own terms)
  v.countdown = Math.round(timecents(t.dl, g[G_DELAY], 8000) * s.rate);
  v.attack = 1 / framesOf(s, timecents(t.a, g[G_ATTACK], 8000));
  v.hold = Math.round(timecents(t.h, g[G_HOLD] + (t.kh + g[G_KEY_HOLD]) * below60, holdMost) * s.rate);
  const decay = 0.6 * timecents(t.d / 0.6, g[G_DECAY] + (50 * t.ks + g[G_KEY_DECAY]) * below60, decayMost);
  v.decay = Math.pow(0.001, 1 / framesOf(s, decay));
  v.sustain = Math.min(1, t.s * Math.pow(10, -Math.max(0, g[G_SUSTAIN]) / 200));
  // modulation envelope: linear in level, its decay and release the time to fall all the way
  v.me = 0; v.meStage = 0;
  v.meCount = Math.round(timecents(t.med, g[G_MOD_ENV_DELAY], 8000) * s.rate);
  v.meAttack = 1 / framesOf(s, timecents(t.mea, g[G_MOD_ENV_ATTACK], 8000));
  v.meDecay = 1 / framesOf(s, timecents(t.mdc, g[G_MOD_ENV_DECAY] + (t.mkd + g[G_KEY_MOD_DECAY]) * below60, decayMost));
  v.meHold = Math.round(timecents(t.meh, g[G_MOD_ENV_HOLD] + (t.mkh + g[G_KEY_MOD_HOLD]) * below60, holdMost) * s.rate);
  v.meSustain = Math.min(1, Math.max(0, t.mes - g[G_MOD_ENV_SUSTAIN] / 1000));
  // LFOs: silent through their delays, then triangles from 0 upwards
  v.ml = v.vl = 0; v.mlPhase = v.vlPhase = 0;
  v.mlWait = Math.round(timecents(t.mld, g[G_MOD_LFO_DELAY], 8000) * s.rate);
  v.vlWait = Math.round(timecents(t.vld, g[G_VIB_LFO_DELAY], 8000) * s.rate);
  v.f1 = v.f2 = 0;
}

// A sampled zone's voice at its release: the release times, as its modulators have them now.
function sampledRelease(s, v) {
  const t = v.t, g = v.gen;
  if (!v.fading) v.step = Math.pow(0.001, 1 / framesOf(s, 0.6 * timecents(t.r / 0.6, g[G_RELEASE], 8000)));
  v.meStage = 5;
  v.meRelease = 1 / framesOf(s, timecents(t.mer, g[G_MOD_ENV_RELEASE], 8000));
}

// Moves voice v's modulation envelope on by n frames (its level in v.me).
function modEnvelope(v, n) {
  let left = n;
  while (left > 0) {
    const stage = v.meStage;
    if (stage === 0 || stage === 2) {  // delay, hold
      const count = stage === 0 ? v.meCount : v.meHold, m = Math.min(left, count);
      left -= m;
      if (stage === 0) v.meCount -= m; else v.meHold -= m;
      if (m === count) v.meStage++;
    } else if (stage === 1) {  // attack
      const m = Math.min(left, Math.ceil((1 - v.me) / v.meAttack));
      v.me = Math.min(1, v.me + m * v.meAttack);
      left -= m;
      if (v.me >= 1) v.meStage = 2;
    } else if (stage === 3) {  // decay, then sustain
      v.me = Math.max(v.meSustain, v.me - left * v.meDecay);
      left = 0;
    } else {  // release
      v.me = Math.max(0, v.me - left * v.meRelease);
      left = 0;
    }
  }
}

// A triangle LFO's value at phase p (cycles): 0, up to 1 at a quarter, down to -1 at three quarters.
function triangle(p) {
  return p < 0.25 ? 4 * p : p < 0.75 ? 2 - 4 * p : 4 * p - 4;
}

// Adds n frames of sampled voice v to left and right (from frame `at`) and to the effects' inputs.
function renderSampled(s, v, left, right, at, n) {
  const c = s.channels[v.ch];
  if (v.serial !== c.serial) modulate(v, c);
  // the LFOs and the modulation envelope as the block starts, then on by n frames
  if (v.vlWait > 0) v.vlWait -= n;
  else { v.vl = triangle(v.vlPhase); v.vlPhase += v.vlStep * n; v.vlPhase -= Math.floor(v.vlPhase); }
  if (v.mlWait > 0) v.mlWait -= n;
  else { v.ml = triangle(v.mlPhase); v.mlPhase += v.mlStep * n; v.mlPhase -= Math.floor(v.mlPhase); }
  const me = v.me, ml = v.ml, vl = v.vl;
  modEnvelope(v, n);
  // pitch: the tunings, the LFOs and the envelope
  const cents = v.cents + vl * v.vlPitch + ml * v.mlPitch + me * v.mePitch;
  v.pace = cents === 0 ? v.pace0 : Math.min(Math.pow(2, cents / 1200) * v.pace0, sampleStepMost);
  const buf = s.buf;
  const sounding = sampleFill(s, v, buf, n);
  // the low-pass filter
  if (v.filtered) {
    const cutoff = v.cutoff0 + me * v.meCutoff + ml * v.mlCutoff;
    v.cutoff = 8.176 * Math.pow(2, Math.min(cutoffOpen, Math.max(1500, cutoff)) / 1200);
    filter(s, v, n);
  }
  if (!Number.isFinite(buf[n - 1])) { s.nonFinite++; v.on = false; return; }
  const alive = envelope(s, v, n) && sounding;
  // the gains reckoned by modulate, and the LFO's tremolo: a positive depth makes the LFO's upward
  // swing louder, as the format has it (and FluidSynth plays it: TimGM6mb's key 90 of program 64 swells
  // by 4 dB in its LFO's first quarter cycle)
  const gain = ml === 0 || v.mlVolume === 0 ? 1 : Math.pow(10, Math.min(1440, Math.max(-1440, ml * v.mlVolume)) / 200);
  v.nl = gain * v.toLeft; v.nr = gain * v.toRight; v.ns = gain * v.toReverb; v.nc = gain * v.toChorus;
  mixVoice(s, v, left, right, at, n);
  if (!alive) v.on = false;
}

// Adds n frames of s.buf times the envelope s.env to left, right and the effects' inputs, the gains
// gliding from the last block's to the new ones (v.nl, v.nr, v.ns, v.nc), which it keeps.
function mixVoice(s, v, left, right, at, n) {
  const gl = v.nl, gr = v.nr, gs = v.ns, gc = v.nc;
  const first = v.gl < 0;
  const l0 = first ? gl : v.gl, r0 = first ? gr : v.gr, s0 = first ? gs : v.gs, c0 = first ? gc : v.gc;
  const dl = (gl - l0) / n, dr = (gr - r0) / n, ds = (gs - s0) / n, dc = (gc - c0) / n;
  const buf = s.buf, env = s.env, send = s.send, chorus = s.chorusSend;
  if (c0 === 0 && gc === 0) {  // most voices send nothing to the chorus
    for (let i = 0; i < n; i++) {
      const x = buf[i] * env[i];
      left[at + i] += x * (l0 + dl * i);
      right[at + i] += x * (r0 + dr * i);
      send[at + i] += x * (s0 + ds * i);
    }
  } else {
    for (let i = 0; i < n; i++) {
      const x = buf[i] * env[i];
      left[at + i] += x * (l0 + dl * i);
      right[at + i] += x * (r0 + dr * i);
      send[at + i] += x * (s0 + ds * i);
      chorus[at + i] += x * (c0 + dc * i);
    }
  }
  v.gl = gl; v.gr = gr; v.gs = gs; v.gc = gc;
  v.frames += n;
}

// Fills n frames of out with sampled voice v's sample at v.pace frames a frame, by 4-point (cubic)
// interpolation, looping between its loop points (the points around the loop's end taken from its
// start); false once it has played past its end.
function sampleFill(s, v, out, n) {
  const t = v.t, data = t.sample, unit = t.unit, step = v.pace, first = t.start;
  if (!(step >= 0)) { out.fill(0, 0, n); return false; }  // a step not a number ends the voice
  const looping = t.loop && t.loopEnd > t.loopStart && !(t.loop === 3 && v.released);
  const loopStart = t.loopStart, loopEnd = t.loopEnd, loopLength = loopEnd - loopStart;
  const last = looping ? loopEnd : t.end;  // indices from here wrap (looping) or stay at the end
  let pos = v.pos, i = 0;
  while (i < n) {
    // past the loop's end it goes back a loop's length; past more than that, where it falls in the
    // loop is reckoned, never stepped to
    if (looping) {
      if (pos >= loopEnd) {
        pos -= loopLength;
        if (pos >= loopEnd) pos = loopStart + ((pos - loopStart) % loopLength);
      }
    } else if (pos >= t.end - 1) { out.fill(0, i, n); v.pos = pos; return false; }
    // the frames whose four points all lie inside, played without a look at the edges
    const clear = pos >= first + 1 && pos < last - 2 ? Math.min(n - i, Math.ceil((last - 2 - pos) / step)) : 0;
    for (const stop = i + clear; i < stop; i++) {
      const j = pos | 0, f = pos - j;
      const a = data[j - 1], b = data[j], c = data[j + 1], d = data[j + 2];
      out[i] = (b + 0.5 * f * (c - a + f * (2 * a - 5 * b + 4 * c - d + f * (3 * (b - c) + d - a)))) * unit;
      pos += step;
    }
    if (clear > 0 || i >= n) continue;
    // a frame near an edge: points before the start stay at it, points past the end at the last, or
    // (looping) come from the loop's start
    const j = Math.floor(pos), f = pos - j;
    const a = data[j > first ? j - 1 : first], b = data[j];
    const c = data[j + 1 < last ? j + 1 : looping ? j + 1 - loopLength : last - 1];
    const d = data[j + 2 < last ? j + 2 : looping ? j + 2 - loopLength : last - 1];
    out[i++] = (b + 0.5 * f * (c - a + f * (2 * a - 5 * b + 4 * c - d + f * (3 * (b - c) + d - a)))) * unit;
    pos += step;
  }
  v.pos = pos;
  return true;
}

// Adds the chorus of s.chorusSend (n frames) to left and right: three taps a side, 7 to 13 ms late,
// their delays swaying slowly and apart. With a SoundFont the right side is the left's turned over, as
// FluidSynth's chorus comes out (its two sides' wet sound correlates at -0.95 to -0.98): heard in
// stereo, it leaves a mono mix of the two nearly dry.
function chorus(s, left, right, n) {
  const ch = s.chorus, send = s.chorusSend, size = ch.left.length, mask = size - 1, rate = s.rate;
  const opposed = s.sampled !== null;
  let w = ch.i, phase = ch.phase;
  const base = 0.010 * rate, depth = 0.003 * rate, dp = 0.6 / rate;
  for (let i = 0; i < n; i++) {
    const x = send[i] * 0.3;
    ch.left[w] = x; ch.right[w] = x;
    let l = 0, r = 0;
    for (let k = 0; k < 3; k++) {
      let p = phase + k / 3; if (p >= 1) p -= 1;
      const dl = base + depth * sine(p), dr = base + depth * sine(p < 0.5 ? p + 0.5 : p - 0.5);
      const il = w - dl, jl = Math.floor(il), fl = il - jl, a = ch.left[jl & mask];
      const ir = w - dr, jr = Math.floor(ir), fr = ir - jr, b = ch.right[jr & mask];
      l += a + (ch.left[(jl + 1) & mask] - a) * fl;
      r += b + (ch.right[(jr + 1) & mask] - b) * fr;
    }
    left[i] += l; right[i] += opposed ? -l : r;
    w = (w + 1) & mask;
    phase += dp; if (phase >= 1) phase -= 1;
  }
  ch.i = w; ch.phase = phase;
}

// Adds the reverb of s.send (n frames) to left and right: four damped combs and two all-passes a side.
function reverb(s, left, right, n) {
  const send = s.send;
  for (let side = 0; side < 2; side++) {
    const out = side === 0 ? left : right;
    const combs = s.combs[side], allpasses = s.allpasses[side];
    for (let i = 0; i < n; i++) {
      const x = send[i] * 0.015;
      let y = 0;
      for (let k = 0; k < 4; k++) {
        const d = combs[k], b = d.buf[d.i];
        d.f = b * 0.7 + d.f * 0.3;  // damping: the tail loses its highs
        d.buf[d.i] = x + d.f * 0.84;
        if (++d.i >= d.buf.length) d.i = 0;
        y += b;
      }
      for (let k = 0; k < 2; k++) {
        const d = allpasses[k], b = d.buf[d.i];
        d.buf[d.i] = y + b * 0.5;
        if (++d.i >= d.buf.length) d.i = 0;
        y = b - y;
      }
      out[i] += y;
    }
  }
}

// After a timed quantum: a voice that took more than half the quantum's budget in slowStrikes timed
// quanta in a row is dropped (it fades out), so that one voice gone slow cannot hold up the audio
// thread; fewer in a row may be code being compiled, a collection of garbage, or the thread put aside.
function dropSlowVoices(s, frames) {
  const most = (0.5 * frames * 1000) / s.rate;
  s.probe = false;
  for (const v of s.voices) {
    v.strikes = v.on && !v.fading && v.cost > most ? v.strikes + 1 : 0;
    if (v.strikes >= slowStrikes) { fade(s, v); s.dropped++; v.strikes = 0; }
    if (v.strikes > 0) s.probe = true;
    v.cost = 0;
  }
}

// Renders `frames` frames (at most 128) into left and right from frame firstFrame of the context,
// applying queued events at their frames.
function renderQuantum(s, left, right, frames, firstFrame) {
  s.frame = firstFrame;
  left.fill(0, 0, frames);
  right.fill(0, 0, frames);
  s.send.fill(0);
  s.chorusSend.fill(0);
  if (!s.qSorted) sortQueue(s);
  // note-ons beyond the voices in this quantum: the first of them would be stolen by the last (a
  // drum note without a sound takes no voice)
  let notes = 0;
  for (let i = s.qHead; i < s.qTail && s.qFrame[i] < s.frame + frames; i++) {
    const m = s.qMsg[i];
    if ((m & 0xf0) === 0x90 && (m >> 16) & 0x7f && (!s.channels[m & 15].drums || s.sampled || drums[(m >> 8) & 0x7f])) notes++;
  }
  s.crowded = Math.max(0, notes - voiceCap);
  let at = 0;
  while (at < frames) {
    // events due by this frame; one before it came late
    s.now = s.frame + at;
    while (s.qHead < s.qTail && s.qFrame[s.qHead] <= s.frame + at) {
      if (s.qFrame[s.qHead] < s.frame) s.late++;
      midi(s, s.qMsg[s.qHead]);
      s.qHead++;
    }
    if (s.qHead === s.qTail) s.qHead = s.qTail = 0;
    let end = Math.min(frames, at + blockMax);
    if (s.qHead < s.qTail) end = Math.min(end, s.qFrame[s.qHead] - s.frame);
    const n = end - at;
    let voices = 0;
    const timed = s.probe;
    for (const v of s.voices) {
      if (!v.on) continue;
      if (!v.fading) voices++;
      if (timed) {
        const started = synthClock();
        renderVoice(s, v, left, right, at, n);
        v.cost += synthClock() - started;
      } else renderVoice(s, v, left, right, at, n);
    }
    if (voices > s.voicesPeak) s.voicesPeak = voices;
    at = end;
  }
  if (s.probe) dropSlowVoices(s, frames);
  if (s.effects) {
    reverb(s, left, right, frames);
    chorus(s, left, right, frames);
  }
  // the master level and a soft limit above 0.75
  let peak = s.peak;
  for (let side = 0; side < 2; side++) {
    const out = side === 0 ? left : right;
    for (let i = 0; i < frames; i++) {
      let x = out[i] * masterGain * s.masterVolume;
      const a = Math.abs(x);
      if (a > peak) peak = a;
      if (a > 0.75) x = Math.sign(x) * (0.75 + 0.25 * Math.tanh((a - 0.75) / 0.25));
      else if (!(a <= 0.75)) { x = 0; s.nonFinite++; }  // not a number: never let it out
      out[i] = x;
    }
  }
  s.peak = peak;
  s.frame += frames;
}

// What the engine tells of itself: render time per quantum, voices, late events, output peak.
export function synthStats(s) {
  let voices = 0;
  for (const v of s.voices) if (v.on && !v.fading) voices++;
  return {
    quanta: s.quanta, meanMs: s.quanta ? s.msSum / s.quanta : 0, maxMs: s.msMax, maxFrame: s.msMaxFrame, slow: s.slow,
    budgetMs: (128 / s.rate) * 1000, clock: synthClockName, voices, voicesPeak: s.voicesPeak, voiceCap, late: s.late, peak: s.peak,
    nonFinite: s.nonFinite, dropped: s.dropped, refused: s.refused, queued: s.qTail - s.qHead, slowFrames: Array.from(s.slowFrames.subarray(0, Math.min(s.slow, s.slowFrames.length))),
  };
}

// The fields that begin every row of a table of zones, in this order: they choose the zones of a note.
const zoneKeys = ['bank', 'program', 'keyLo', 'keyHi', 'velLo', 'velHi'];

// Sampled zones, given either way:
//  - zone objects, each { bank (128 for drums), program, keyLo, keyHi, velLo, velHi, sample
//    (Float32Array, or Int16Array at full scale 32768), sampleRate, start, end, loopStart, loopEnd
//    (frames of the sample), loop (0 none, 1 loops, 3 loops until the release), root (key), tune
//    (cents added), st (cents a key) } with any timbre field besides (the volume and modulation
//    envelopes, filter, LFOs, pan, sends, x; see timbreDefaults), playing the default modulators;
//  - a table { sample (one array, as above, that every zone plays a part of), fields (names of the
//    zone fields, zoneKeys first), rows (Float64Array: one value of each field a zone), common (fields
//    the same in every zone), modulators (optional: { words, amounts }, the modulator table, four words
//    a modulator, each zone's list from its fields m0 (first) and mn (count, -1 for the defaults)) }:
//    a SoundFont's thousands of zones go over as arrays handed over, and each becomes a timbre only
//    when a note first plays it.
// A note plays every zone of its preset that matches (none: it is silent); a preset the zones lack
// entirely, the built-in sound. [] drops the zones.
export function synthZones(s, zones) {
  if (!Array.isArray(zones)) {
    const sample = zones.sample || s.incoming;
    s.sampled = sample ? sampledSet(sample, zones.fields, zones.rows, zones.common || {}) : null;
    if (s.sampled && zones.modulators) { s.sampled.modWords = zones.modulators.words; s.sampled.modAmounts = zones.modulators.amounts; }
    s.incoming = null;
    return;
  }
  const rows = new Float64Array(zones.length * zoneKeys.length);
  const whole = { keyLo: 0, keyHi: 127, velLo: 0, velHi: 127 };
  zones.forEach((z, r) => zoneKeys.forEach((f, k) => { rows[r * zoneKeys.length + k] = z[f] ?? whole[f]; }));
  s.sampled = zones.length > 0 ? sampledSet(null, zoneKeys, rows, {}) : null;
  if (s.sampled) s.sampled.made = zones.map((z) => timbre(Object.assign({ src: 'sample', end: z.sample.length, unit: z.sample instanceof Int16Array ? 1 / 32768 : 1 }, defaultModulators, z)));
}

// Puts a piece of a sample array where it goes (see the top); the piece at 0 begins a new array.
function synthSamples(s, length, at, part) {
  if (at === 0 || !s.incoming || s.incoming.length !== length) s.incoming = new part.constructor(length);
  if (at >= 0 && at + part.length <= length) s.incoming.set(part, at);
}

// A table of zones with its rows listed by bank * 128 + program.
function sampledSet(sample, fields, rows, common) {
  const width = fields.length, count = rows.length / width, presets = new Map();
  for (let r = 0; r < count; r++) {
    const at = rows[r * width] * 128 + rows[r * width + 1];
    if (!presets.has(at)) presets.set(at, []);
    presets.get(at).push(r);
  }
  return {
    sample, fields, rows, common, width, presets,
    unit: sample instanceof Int16Array ? 1 / 32768 : 1,
    made: new Array(count).fill(null),  // each zone's timbre, once made
    modWords: null, modAmounts: null,   // the modulator table, when the zones give one
  };
}

// The finest clock at hand, in milliseconds: an audio thread may have no performance.now(), and
// Date.now() gives whole milliseconds.
const synthClockName = typeof performance === 'object' && typeof performance?.now === 'function' ? 'performance.now' : 'Date.now';
const synthClock = synthClockName === 'Date.now' ? () => Date.now() : () => performance.now();

// Renders one quantum, timed, and keeps the statistics.
export function synthRender(s, left, right, frames, firstFrame) {
  const started = synthClock();
  renderQuantum(s, left, right, frames, firstFrame);
  const ms = synthClock() - started;
  s.quanta++;
  s.msSum += ms;
  if (ms > (frames / s.rate) * 1000) {
    if (s.slow < s.slowFrames.length) s.slowFrames[s.slow] = firstFrame;
    s.slow++;
    s.probe = true;
  }
  if (ms > s.msMax) {
    s.msMax = ms;
    s.msMaxFrame = firstFrame;
  }
}

// Acts on a message from the host; answers through post.
export function hostMessage(s, m, post) {
  if (m.type === 'events') synthQueue(s, m.data);
  else if (m.type === 'clear') synthClear(s);
  else if (m.type === 'silence') synthSilence(s);
  else if (m.type === 'zones') synthZones(s, m.zones);
  else if (m.type === 'samples') synthSamples(s, m.length, m.at, m.part);
  else if (m.type === 'stats') post({ type: 'stats', id: m.id, stats: synthStats(s) });
  else if (m.type === 'effects') s.effects = m.on;
  else if (m.type === 'report') { s.every = m.every; s.end = m.end; s.nextReport = m.every; }
}

// Posts progress while rendering offline, as asked by a 'report' message.
export function reportProgress(s, post) {
  if (!s.every) return;
  if (s.frame >= s.nextReport || s.frame + 128 >= s.end) {
    s.nextReport += s.every;
    post({ type: 'progress', frame: s.frame, stats: synthStats(s) });
    if (s.frame + 128 >= s.end) s.every = 0;
  }
}

// Plays a made-up passage on a synthesizer of its own and throws the sound away: a note of each
// family on each channel (one of them from sampled zones as a SoundFont's table gives them, with a
// filter, both envelopes, both LFOs, sends and modulators of the table's own, more voices than the cap),
// drums, bend, pressure, vibrato and the sustain pedal, so that the engine compiles the code of every
// voice before a live context's first notes wait on it. Returns the milliseconds.
export function synthWarmUp(rate) {
  const started = synthClock();
  const s = newSynth(rate);
  const cycle = Int16Array.from({ length: 100 }, (_, i) => Math.round(16000 * Math.sin((2 * Math.PI * i) / 100)));
  const fields = ['bank', 'program', 'keyLo', 'keyHi', 'velLo', 'velHi', 'sampleRate', 'end', 'loopEnd', 'loop', 'root', 'fc', 'qd',
    'mea', 'mdc', 'mes', 'mep', 'mef', 'mlp', 'mlc', 'mlv', 'vlp', 'rs', 'cs', 'm0', 'mn'];
  const zone = (program, m0, mn) => [0, program, 0, 127, 0, 127, rate, 100, 100, 1, 69, 4000, 3, 0.01, 0.05, 0.5, 100, 1200, 10, 300, 1, 20, 0.2, 0.3, m0, mn];
  synthZones(s, { sample: cycle, fields, rows: Float64Array.from([...zone(8, 0, 9), ...zone(8, 9, 1), ...zone(9, 0, -1)]),
    common: { dk: 1, ft: 0 }, modulators: { words: Uint32Array.from([...defaultModulatorWords, 0x00d2, 8, 0x000a, 2]), amounts: Float32Array.from([...defaultModulatorAmounts, -600]) } });
  const events = [];
  const at = (seconds, status, first, second) => events.push(seconds, packMessage(status, first, second));
  for (let c = 0; c < 16; c++) {
    at(0, 0xb0 | c, 1, 40);
    at(0, 0xb0 | c, 64, 127);
    at(0.04, 0xe0 | c, 0, 80);
    at(0.05, 0xb0 | c, 64, 0);
  }
  // every program (each timbre's own ways through the code, compiled before a file first plays it),
  // and every drum
  for (let p = 0; p < 128; p++) {
    const c = p % 15 < 9 ? p % 15 : (p % 15) + 1;
    const time = 0.0002 * p;
    at(time, 0xc0 | c, p, 0);
    at(time, 0x90 | c, 36 + ((p * 7) % 60), 40 + (p % 80));
    at(time + 0.03, 0x80 | c, 36 + ((p * 7) % 60), 64);
  }
  for (let k = 0; k < 47; k++) {
    at(0.001 * k, 0x99, 35 + k, 60 + k);
    at(0.03 + 0.001 * k, 0x89, 35 + k, 64);
  }
  // sampled zones in a chord wider than the voices, moved by every source their modulators read
  for (let k = 0; k < 70; k++) at(0.002 + 0.00002 * k, 0x90 | (k % 2 ? 10 : 11), 20 + k, 30 + k);
  for (const c of [10, 11]) {
    at(0, 0xc0 | c, c === 10 ? 8 : 9, 0);
    at(0.01, 0xb0 | c, 82, 90);
    at(0.012, 0xa0 | c, 60, 70);
    at(0.014, 0xd0 | c, 50, 0);
    at(0.06, 0xb0 | c, 123, 0);
  }
  synthQueue(s, Float64Array.from(events));
  const left = new Float32Array(128), right = new Float32Array(128);
  for (let frame = 0; frame < rate * 0.1; frame += 128) renderQuantum(s, left, right, 128, frame);
  return synthClock() - started;
}
