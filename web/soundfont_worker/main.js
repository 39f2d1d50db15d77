// The SoundFont worker: the page starts one for each SoundFont it reads (so that a listing goes on
// meanwhile, and the module's memory, grown to the SoundFont's size, goes back when the page ends the
// worker) and asks it { type: 'soundfont', id, file }. The worker reads the file's bytes into the
// listing module (its factory createSmfdump comes first in the worker's text; only its SoundFont reader
// is used), has the C++ reader read them (sf_read), and answers
//   { type: 'progress', id, task: 'soundfont', share }   while the bytes come in and the samples go out
//   { type: 'soundfont', id, sentence }                  the reader's sentence for a file it can't play
//   { type: 'soundfont', id, font }                      else what it read (see soundFontTables), the
//                                                        samples' buffers handed over, not copied
//   { type: 'error', id, request, message }              when the reading failed
// The tables' layout is in shared/layouts.js.
import { largestInput, sfOggStream, sfPresetNameSize, sfSample, sfTable } from '../shared/layouts.js';
import { progressReporter } from '../shared/progress.js';

const sfFramesMost = 2 ** 30;  // frames of all samples together, decoded: 2 GB, more than a page can hold

// Whether this machine keeps numbers with their low byte first, as the file and WebAssembly do.
const sfLittleEndian = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;

// Reads the SoundFont file (a File or Blob) into the module wasm and answers the page (see the top).
function readSoundFont(wasm, id, file) {
  const report = progressReporter(postMessage, id, 'soundfont');
  const at = file.size <= largestInput ? wasm._sf_input(file.size) >>> 0 : 0;
  if (at === 0) {
    postMessage({ type: 'soundfont', id, sentence: `There is not memory enough to read a SoundFont of ${Math.round(file.size / 1e6)} MB.` });
    return;
  }
  const reader = new FileReaderSync();
  const step = 16 << 20;
  for (let pos = 0; pos < file.size; pos += step) {
    const piece = new Uint8Array(reader.readAsArrayBuffer(file.slice(pos, Math.min(file.size, pos + step))));
    wasm.HEAPU8.set(piece, at + pos);
    report((0.8 * (pos + piece.length)) / file.size);
  }
  const sentence = wasm._sf_read() >>> 0;
  if (sentence !== 0) {
    postMessage({ type: 'soundfont', id, sentence: wasm.UTF8ToString(sentence) });
    wasm._sf_drop_input();
    return;
  }
  const font = soundFontTables(wasm, report);
  wasm._sf_drop_input();
  if (font === null) {
    postMessage({ type: 'soundfont', id, sentence: 'The SoundFont\'s samples would take more than 2 GB once decoded, more than the page can hold.' });
    return;
  }
  const transfer = [font.presets.buffer, font.regionWords.buffer, font.regionValues.buffer, font.samples.buffer,
    font.pcm.buffer, font.starts.buffer, ...font.ogg.map((o) => o.bytes.buffer)];
  postMessage({ type: 'soundfont', id, font }, transfer);
}

// What the last good read gave, taken out of the module M: { name, version, remark, presetFields,
// regionWordFields, regionValueFields, sampleFields, presets, presetNames, regionWords, regionValues,
// samples (the tables, as soundfont.h lays them out), pcm (every 16-bit sample one after another, in
// one Int16Array), starts (each sample's first frame in pcm; an Ogg Vorbis one's is where its decoded
// frames are to go), ogg ([{ sample, bytes }]: the Ogg Vorbis streams, for the page to decode) }; null
// when the samples would take more than sfFramesMost frames (an Ogg Vorbis stream's count is what its
// last page claims).
function soundFontTables(M, report) {
  const tablesAt = (M._sf_tables() >>> 0) >>> 2;
  const t = (entry) => M.HEAPU32[tablesAt + entry] >>> 0;
  const words = (address, count) => M.HEAPU32.slice(address >>> 2, (address >>> 2) + count);
  const presetFields = t(sfTable.preset_fields), sampleFields = t(sfTable.sample_fields);
  const regionWordFields = t(sfTable.region_word_fields), regionValueFields = t(sfTable.region_value_fields);
  const presetCount = t(sfTable.preset_count), regionCount = t(sfTable.region_count), sampleCount = t(sfTable.sample_count);
  const decoder = new TextDecoder('latin1');
  const presetNames = [];
  for (let p = 0; p < presetCount; p++) {
    const name = M.HEAPU8.subarray(t(sfTable.preset_names) + p * sfPresetNameSize, t(sfTable.preset_names) + (p + 1) * sfPresetNameSize);
    presetNames.push(decoder.decode(name.subarray(0, Math.max(0, name.indexOf(0)))));
  }
  const samples = words(t(sfTable.samples), sampleCount * sampleFields);
  const regionValuesAt = t(sfTable.region_values) >>> 2;
  const font = {
    name: M.UTF8ToString(t(sfTable.name)),
    version: `${t(sfTable.version_major)}.${t(sfTable.version_minor)}`,
    remark: t(sfTable.remark) !== 0 ? M.UTF8ToString(t(sfTable.remark)) : '',
    presetFields, regionWordFields, regionValueFields, sampleFields,
    presets: words(t(sfTable.presets), presetCount * presetFields),
    presetNames,
    regionWords: words(t(sfTable.region_words), regionCount * regionWordFields),
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
    const from = input + samples[s + sfSample.byte_offset], length = samples[s + sfSample.byte_length];
    if (length === 0) continue;
    if (samples[s + sfSample.type] & sfOggStream) {
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

// Answers the page's one request: a module is started for it, and the worker is ended after.
self.onmessage = async (event) => {
  const { type, id, file } = event.data;
  if (type !== 'soundfont') return;
  try {
    readSoundFont(await createSmfdump(), id, file);
  } catch (e) {
    postMessage({ type: 'error', id, request: type, message: String(e && e.message ? e.message : e) });
  }
};
