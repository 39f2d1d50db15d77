// SoundFont bytes for the page's tests, from readable records: one record a line, numbers in decimal,
// chunk lengths and terminal records filled in (as tests/web/soundfont_builder.h does for the reader's
// own tests).

// v as `width` little-endian bytes (a negative v as its two's complement).
export function le(v, width) {
  const out = Buffer.alloc(width);
  for (let i = 0; i < width; i++) out[i] = Number((BigInt(v) >> BigInt(8 * i)) & 0xffn);
  return out;
}

const text = (s) => Buffer.from(s, 'latin1');
// A chunk with its length filled in, and the zero byte that pads an odd length.
export const chunk = (id, body) => Buffer.concat([text(id), le(body.length, 4), body, Buffer.alloc(body.length % 2)]);
// A LIST chunk of the given type holding the given chunks.
const list = (type, chunks) => chunk('LIST', Buffer.concat([text(type), ...chunks]));
// A name field of 20 bytes, zero-padded.
const name20 = (name) => Buffer.concat([text(name), Buffer.alloc(20)]).subarray(0, 20);

// ---- records ----
// Preset header: name, program, bank, its first zone (library, genre, morphology 0).
export const preset = (name, program, bank, firstZone) => Buffer.concat([name20(name), le(program, 2), le(bank, 2), le(firstZone, 2), le(0, 12)]);
// Zone: its first generator and first modulator.
export const zone = (firstGenerator, firstModulator) => Buffer.concat([le(firstGenerator, 2), le(firstModulator, 2)]);
// Generator with a 16-bit amount.
export const gen = (generator, amount) => Buffer.concat([le(generator, 2), le(amount, 2)]);
// Instrument: name, its first zone.
export const instrument = (name, firstZone) => Buffer.concat([name20(name), le(firstZone, 2)]);
// Sample header: name, start, end, loop start, loop end (frames in the sample data), rate, original
// pitch, pitch correction, linked sample, type (1 mono).
export const sample = (name, start, end, loopStart, loopEnd, rate, pitch, correction, link, type) => Buffer.concat([
  name20(name), le(start, 4), le(end, 4), le(loopStart, 4), le(loopEnd, 4), le(rate, 4), le(pitch, 1), le(correction, 1), le(link, 2), le(type, 2)]);
const emptyModulator = Buffer.alloc(10);

// Generator numbers.
export const G = { decay: 36, sustain: 37, release: 38, instrument: 41, keyRange: 43, attenuation: 48, sampleId: 53, sampleModes: 54, rootKey: 58 };

// The whole file from its parts (each a list of records; the terminal records are added):
// { name, sampleData, presets, presetZones, presetGenerators, instruments, instrumentZones,
// instrumentGenerators, samples }; the chunks' offsets are returned too, for damaged copies.
export function soundfont(p) {
  const joined = (records, terminal) => Buffer.concat([...records, terminal]);
  const info = list('INFO', [chunk('ifil', Buffer.concat([le(2, 2), le(1, 2)])), chunk('INAM', Buffer.concat([text(p.name), Buffer.alloc(1)]))]);
  const sdta = list('sdta', [chunk('smpl', p.sampleData)]);
  const pdta = list('pdta', [
    chunk('phdr', joined(p.presets, preset('EOP', 0, 0, p.presetZones.length))),
    chunk('pbag', joined(p.presetZones, zone(p.presetGenerators.length, 0))),
    chunk('pmod', emptyModulator),
    chunk('pgen', joined(p.presetGenerators, gen(0, 0))),
    chunk('inst', joined(p.instruments, instrument('EOI', p.instrumentZones.length))),
    chunk('ibag', joined(p.instrumentZones, zone(p.instrumentGenerators.length, 0))),
    chunk('imod', emptyModulator),
    chunk('igen', joined(p.instrumentGenerators, gen(0, 0))),
    chunk('shdr', joined(p.samples, sample('EOS', 0, 0, 0, 0, 0, 0, 0, 0, 0))),
  ]);
  const file = chunk('RIFF', Buffer.concat([text('sfbk'), info, sdta, pdta]));
  return { file, sdtaAt: 12 + info.length };
}

// A SoundFont of two presets playing one sample, a sine of 11 cycles in 800 frames at 32,000 Hz: 440 Hz
// at its root key, A4 (69), over the whole keyboard. Played at the context's rate it must be resampled;
// played at the file's it would sound 606 Hz. "Test Sine" (bank 0, program 20) loops it at full level;
// "Test Envelope" (program 21) has 10 dB of attenuation, a decay of 1 s (to fall 100 dB) to a sustain
// 25 dB down, and a release of 0.5 s.
export function sineSoundFont() {
  const frames = 800;
  const pcm = Buffer.alloc(2 * (frames + 46));  // the sample, then the 46 zero frames the standard asks for
  for (let i = 0; i < frames; i++) pcm.writeInt16LE(Math.round(16000 * Math.sin((2 * Math.PI * 11 * i) / frames)), 2 * i);
  return soundfont({
    name: 'Sine Test Set',
    sampleData: pcm,
    presets: [preset('Test Sine', 20, 0, 0), preset('Test Envelope', 21, 0, 1)],
    presetZones: [zone(0, 0), zone(1, 0)],
    presetGenerators: [gen(G.instrument, 0), gen(G.instrument, 1)],
    instruments: [instrument('Sine', 0), instrument('Sine Envelope', 1)],
    instrumentZones: [zone(0, 0), zone(4, 0)],
    instrumentGenerators: [
      gen(G.release, -3986),      // Sine: 0.1 s
      gen(G.sampleModes, 1),      //   loops
      gen(G.rootKey, 69),
      gen(G.sampleId, 0),
      gen(G.attenuation, 100),    // Sine Envelope: 10 dB, of which 4 are applied
      gen(G.decay, 0),            //   1 s
      gen(G.sustain, 250),        //   25 dB
      gen(G.release, -1200),      //   0.5 s
      gen(G.sampleModes, 1),
      gen(G.rootKey, 69),
      gen(G.sampleId, 0),
    ],
    samples: [sample('Sine A4', 0, frames, 0, frames, 32000, 69, 0, 0, 1)],
  });
}

// ---- Ogg pages, for .sf3 samples (Ogg Vorbis streams) ----

// The Ogg checksum of bytes: CRC-32 with the polynomial 0x04C11DB7, most significant bit first, from 0.
export function oggCrc(bytes) {
  let crc = 0;
  for (const byte of bytes) {
    crc ^= byte << 24;
    for (let bit = 0; bit < 8; bit++) crc = crc & 0x80000000 ? (crc << 1) ^ 0x04c11db7 : crc << 1;
  }
  return crc >>> 0;
}

// One Ogg page holding one packet of bytes (under 255 bytes: one lacing value), its checksum filled in.
export function oggPage({ granule, serial = 0x5eed, sequence = 0, type = 0, packet }) {
  const header = Buffer.concat([
    text('OggS'),                // the capture pattern
    le(0, 1),                    // version
    le(type, 1),                 // 2: the stream's first page, 4: its last
    le(granule, 8),              // the frames decoded by the end of this page: what a reader takes as the stream's length
    le(serial, 4), le(sequence, 4),
    le(0, 4),                    // the checksum, filled in below
    le(1, 1), le(packet.length, 1),  // one segment, its lacing value
  ]);
  const page = Buffer.concat([header, packet]);
  page.writeUInt32LE(oggCrc(page), 22);
  return page;
}

// The Ogg stream `stream` with the granule position of its last page made `granule`, the page's
// checksum mended: a stream that claims to be that many frames long.
export function withGranule(stream, granule) {
  const out = Buffer.from(stream);
  const last = out.lastIndexOf('OggS');
  out.writeBigUInt64LE(BigInt(granule), last + 6);
  out.writeUInt32LE(0, last + 22);
  const segments = out[last + 26];
  let end = last + 27 + segments;
  for (let i = 0; i < segments; i++) end += out[last + 27 + i];
  out.writeUInt32LE(oggCrc(out.subarray(last, end)), last + 22);
  return out;
}

// A SoundFont 3 file whose one preset ("Ogg", program 30) plays one Ogg Vorbis sample, `stream`, at
// 22,050 Hz, looped over its first `loopFrames` frames; with `count` above 1, that many sample headers
// name it, header i ending i bytes short of its end (each a stream of its own, all overlapping), one
// instrument zone each on key i % 128, so that every one is in use.
export function oggSoundFont(stream, loopFrames = 1000, count = 1) {
  const sampleData = Buffer.concat([stream, Buffer.alloc(stream.length % 2)]);
  const generators = [], zones = [], samples = [];
  for (let i = 0; i < count; i++) {
    zones.push(zone(generators.length, 0));
    generators.push(gen(G.keyRange, (i % 128) * 257), gen(G.sampleModes, 1), gen(G.rootKey, 69), gen(G.sampleId, i));
    // an Ogg Vorbis sample's start and end count bytes of the sample data; its loop, frames from its first
    samples.push(sample(`Ogg A4 ${i}`, 0, stream.length - i, 0, loopFrames, 22050, 69, 0, 0, 0x11));
  }
  const file = soundfont({
    name: 'Ogg Test Set', sampleData,
    presets: [preset('Ogg', 30, 0, 0)], presetZones: [zone(0, 0)], presetGenerators: [gen(G.instrument, 0)],
    instruments: [instrument('Ogg', 0)], instrumentZones: zones, instrumentGenerators: generators, samples,
  });
  file.file.writeUInt16LE(3, file.file.indexOf('ifil') + 8);  // version 3: samples may be Ogg Vorbis
  return file;
}

// A SoundFont of one 16-bit sample, `frames` of a quiet ramp, named again by `count` sample headers,
// header i covering frames i * step to i * step + length (the bytes of them all overlapping): one
// preset ("Overlaps", program 40) plays the first, and one instrument zone each plays the rest on keys
// above and below it, so that every header is in use.
export function overlappingSoundFont(frames, count, step, length) {
  const sampleData = Buffer.alloc(2 * (frames + 46));
  for (let i = 0; i < frames; i++) sampleData.writeInt16LE((i % 200) * 20 - 2000, 2 * i);
  const generators = [], zones = [], samples = [];
  for (let i = 0; i < count; i++) {
    zones.push(zone(generators.length, 0));
    generators.push(gen(G.keyRange, (i % 128) * 257), gen(G.sampleModes, 1), gen(G.sampleId, i));  // key i % 128 alone
    samples.push(sample(`Overlap ${i}`, i * step, i * step + length, i * step, i * step + length, 32000, 60, 0, 0, 1));
  }
  return soundfont({
    name: 'Overlap Test Set', sampleData,
    presets: [preset('Overlaps', 40, 0, 0)], presetZones: [zone(0, 0)], presetGenerators: [gen(G.instrument, 0)],
    instruments: [instrument('Overlaps', 0)], instrumentZones: zones, instrumentGenerators: generators, samples,
  });
}

// Files that claim far more than they hold, by which the page once allocated: each { name, file, most
// (the frames of samples the page may make of it at most) }. vorbis: a real Ogg Vorbis stream of half a
// second at 22,050 Hz, or null to leave out the one made of it.
export const claimedFrames = 0x30000000;  // 805,306,368 frames: 1.6 GB of 16-bit samples
export function hostileSoundFonts(vorbis) {
  const hostile = [
    // an Ogg page claiming that many frames, holding no Vorbis stream (under 500 bytes)
    { name: 'damaged-ogg.sf3', file: oggSoundFont(oggPage({ granule: claimedFrames, type: 2 | 4, packet: text('no Vorbis header here') })).file, most: 0 },
    // 512 headers over the same 2 MB: once 1 GB, a copy each
    { name: 'overlapping.sf2', file: overlappingSoundFont(1000000, 512, 0, 1000000).file, most: 1000046 },
    // 16,000 headers of 32,000 frames, each 2 frames on from the last: once 1 GB
    { name: 'many-overlapping.sf2', file: overlappingSoundFont(64000, 16000, 2, 32000).file, most: 64046 },
  ];
  // the real stream, its last page claiming as many frames: it holds 11,025 (a second at most)
  if (vorbis) {
    hostile.push({ name: 'lying-granule.sf3', file: oggSoundFont(withGranule(vorbis, claimedFrames)).file, most: 22050 });
    // 4,000 streams over the same bytes, each a byte shorter than the last (the reader's search for
    // their last pages, bounded, finds the first hundred or so): once a decode each
    hostile.push({ name: 'overlapping-ogg.sf3', file: oggSoundFont(vorbis, 1000, 4000).file, most: 2 * 22050 });
  }
  return hostile;
}
