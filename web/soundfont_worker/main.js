// A SoundFont read in a worker: the page starts a worker of its own from the listing worker's text (so
// that a listing goes on meanwhile, and the module's memory, grown to the SoundFont's size, goes back
// when the page ends the worker) and asks it { type: 'soundfont', id, file }. The worker reads the
// file's bytes into the module, has the C++ reader read them (sf_read), and answers
//   { type: 'progress', id, task: 'soundfont', share }   while the bytes come in and the samples go out
//   { type: 'soundfont', id, sentence }                  the reader's sentence for a file it can't play
//   { type: 'soundfont', id, font }                      else what it read (see soundFontTables), the
//                                                        samples' buffers handed over, not copied
'use strict';

// Table_entry in soundfont.h: where sf_tables puts each count and address.
const sfTable = {
  presetCount: 0, presets: 1, presetNames: 2, regionCount: 3, regionWords: 4, regionValues: 5,
  sampleCount: 6, samples: 7, name: 8, versionMajor: 9, versionMinor: 10, remark: 14, input: 15,
  presetFields: 17, regionWordFields: 18, regionValueFields: 19, sampleFields: 20,
};
const sfPresetNameSize = 21;  // bytes of each preset's name, its zero included
const sfOgg = 0x10;           // the sample type bit of an Ogg Vorbis stream
// the fields of a sample (Sample_field in soundfont.h)
const sfSample = { offset: 0, length: 1, frames: 2, rate: 3, type: 4 };
const sfFramesMost = 2 ** 30;  // frames of all samples together, decoded: 2 GB, more than a page can hold

// Whether this machine keeps numbers with their low byte first, as the file and WebAssembly do.
const sfLittleEndian = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;

// Reads the SoundFont file (a File or Blob) into the module and answers the page (see the top).
function readSoundFont(id, file) {
  const report = progressReporter(id, 'soundfont');  // eslint-disable-line no-undef
  const at = file.size <= largestInput ? wasm._sf_input(file.size) >>> 0 : 0;  // eslint-disable-line no-undef
  if (at === 0) {
    postMessage({ type: 'soundfont', id, sentence: `There is not memory enough to read a SoundFont of ${Math.round(file.size / 1e6)} MB.` });
    return;
  }
  const reader = new FileReaderSync();
  const step = 16 << 20;
  for (let pos = 0; pos < file.size; pos += step) {
    const piece = new Uint8Array(reader.readAsArrayBuffer(file.slice(pos, Math.min(file.size, pos + step))));
    wasm.HEAPU8.set(piece, at + pos);  // eslint-disable-line no-undef
    report((0.8 * (pos + piece.length)) / file.size);
  }
  const sentence = wasm._sf_read() >>> 0;  // eslint-disable-line no-undef
  if (sentence !== 0) {
    postMessage({ type: 'soundfont', id, sentence: wasm.UTF8ToString(sentence) });  // eslint-disable-line no-undef
    wasm._sf_drop_input();  // eslint-disable-line no-undef
    return;
  }
  const font = soundFontTables(report);
  wasm._sf_drop_input();  // eslint-disable-line no-undef
  if (font === null) {
    postMessage({ type: 'soundfont', id, sentence: 'The SoundFont\'s samples would take more than 2 GB once decoded, more than the page can hold.' });
    return;
  }
  const transfer = [font.presets.buffer, font.regionWords.buffer, font.regionValues.buffer, font.samples.buffer,
    font.pcm.buffer, font.starts.buffer, ...font.ogg.map((o) => o.bytes.buffer)];
  postMessage({ type: 'soundfont', id, font }, transfer);
}

// What the last good read gave, taken out of the module: { name, version, remark, presetFields,
// regionWordFields, regionValueFields, sampleFields, presets, presetNames, regionWords, regionValues,
// samples (the tables, as soundfont.h lays them out), pcm (every 16-bit sample one after another, in
// one Int16Array), starts (each sample's first frame in pcm; an Ogg Vorbis one's is where its decoded
// frames are to go), ogg ([{ sample, bytes }]: the Ogg Vorbis streams, for the page to decode) }; null
// when the samples would take more than sfFramesMost frames (an Ogg Vorbis stream's count is what its
// last page claims).
function soundFontTables(report) {
  const M = wasm;  // eslint-disable-line no-undef
  const tablesAt = (M._sf_tables() >>> 0) >>> 2;
  const t = (entry) => M.HEAPU32[tablesAt + entry] >>> 0;
  const words = (address, count) => M.HEAPU32.slice(address >>> 2, (address >>> 2) + count);
  const presetFields = t(sfTable.presetFields), sampleFields = t(sfTable.sampleFields);
  const regionWordFields = t(sfTable.regionWordFields), regionValueFields = t(sfTable.regionValueFields);
  const presetCount = t(sfTable.presetCount), regionCount = t(sfTable.regionCount), sampleCount = t(sfTable.sampleCount);
  const decoder = new TextDecoder('latin1');
  const presetNames = [];
  for (let p = 0; p < presetCount; p++) {
    const name = M.HEAPU8.subarray(t(sfTable.presetNames) + p * sfPresetNameSize, t(sfTable.presetNames) + (p + 1) * sfPresetNameSize);
    presetNames.push(decoder.decode(name.subarray(0, Math.max(0, name.indexOf(0)))));
  }
  const samples = words(t(sfTable.samples), sampleCount * sampleFields);
  const regionValuesAt = t(sfTable.regionValues) >>> 2;
  const font = {
    name: M.UTF8ToString(t(sfTable.name)),
    version: `${t(sfTable.versionMajor)}.${t(sfTable.versionMinor)}`,
    remark: t(sfTable.remark) !== 0 ? M.UTF8ToString(t(sfTable.remark)) : '',
    presetFields, regionWordFields, regionValueFields, sampleFields,
    presets: words(t(sfTable.presets), presetCount * presetFields),
    presetNames,
    regionWords: words(t(sfTable.regionWords), regionCount * regionWordFields),
    regionValues: new Float32Array(M.HEAPU32.buffer.slice(regionValuesAt * 4, (regionValuesAt + regionCount * regionValueFields) * 4)),
    samples,
    starts: new Float64Array(sampleCount),
    pcm: null,
    ogg: [],
  };
  // every sample's place in pcm, its frames counted as the reader gives them (an Ogg stream's too)
  let frames = 0;
  for (let i = 0; i < sampleCount; i++) {
    font.starts[i] = frames;
    frames += samples[i * sampleFields + sfSample.frames];
  }
  if (frames > sfFramesMost) return null;
  font.pcm = new Int16Array(frames);
  const input = t(sfTable.input);
  const pcmBytes = new Uint8Array(font.pcm.buffer);
  let done = 0;
  for (let i = 0; i < sampleCount; i++) {
    const s = i * sampleFields;
    const from = input + samples[s + sfSample.offset], length = samples[s + sfSample.length];
    if (length === 0) continue;
    if (samples[s + sfSample.type] & sfOgg) {
      font.ogg.push({ sample: i, bytes: M.HEAPU8.slice(from, from + length) });
    } else {
      // byte by byte: the sample may start at an odd offset in the file
      pcmBytes.set(M.HEAPU8.subarray(from, from + length), font.starts[i] * 2);
    }
    done += samples[s + sfSample.frames];
    if (i % 64 === 0) report(0.8 + (0.2 * done) / Math.max(1, frames));
  }
  if (!sfLittleEndian) {
    const view = new DataView(font.pcm.buffer);
    for (let i = 0; i < font.pcm.length; i++) font.pcm[i] = view.getInt16(2 * i, true);
  }
  return font;
}
