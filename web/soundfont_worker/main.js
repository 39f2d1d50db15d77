// The SoundFont worker: the page starts one for each SoundFont it reads (so that a listing goes on
// meanwhile, and the module's memory, grown to the SoundFont's size, goes back when the page ends the
// worker) and asks it { type: 'soundfont', id, file, size (its bytes, as the page saw it) }. The worker
// reads the file's bytes into the listing module (its factory createSmfdump comes first in the worker's
// text; only its SoundFont reader is used), has the C++ reader read them (sf_read), and answers
//   { type: 'progress', id, task: 'soundfont', share }   while the bytes come in and the samples go out
//   { type: 'soundfont', id, sentence }                  the reader's sentence for a file it can't play
//   { type: 'soundfont', id, unreadable: true }          when the browser could not give the file's bytes
//   { type: 'soundfont', id, font }                      else what it read (see soundFontTables), the
//                                                        samples' buffers handed over, not copied
//   { type: 'error', id, request, message }              when the reading failed
// The tables' layout is in shared/layouts.js.
import { largestInput, sfOggStream, sfPresetNameSize, sfSample, sfTable } from '../shared/layouts.js';
import { progressReporter } from '../shared/progress.js';

const sfFramesMost = 2 ** 30;  // frames of all samples together, decoded: 2 GB, more than a page can hold

// Whether this machine keeps numbers with their low byte first, as the file and WebAssembly do.
const sfLittleEndian = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;

// Reads the SoundFont file (a File or Blob) of `size` bytes, as the page saw it, into the module wasm
// and answers the page (see the top).
function readSoundFont(wasm, id, file, size) {
  const report = progressReporter(postMessage, id, 'soundfont');
  if (file.size !== size) {
    // Chromium hands over a file gone since it was chosen as an empty one
    postMessage({ type: 'soundfont', id, unreadable: true });
    return;
  }
  const at = file.size <= largestInput ? wasm._sf_input(file.size) >>> 0 : 0;
  if (at === 0) {
    postMessage({ type: 'soundfont', id, sentence: `There is not memory enough to read a SoundFont of ${Math.round(file.size / 1e6)} MB.` });
    return;
  }
  const reader = new FileReaderSync();
  const step = 16 << 20;
  for (let pos = 0; pos < file.size; pos += step) {
    const end = Math.min(file.size, pos + step);
    let piece = null;
    try {
      piece = new Uint8Array(reader.readAsArrayBuffer(file.slice(pos, end)));
    } catch {
      piece = null;
    }
    if (piece === null || piece.length !== end - pos) {
      // the file moved, changed or gone since it was chosen (Chromium may give nothing of it rather than
      // fail), or a kept copy the browser lost
      postMessage({ type: 'soundfont', id, unreadable: true });
      wasm._sf_drop_input();
      return;
    }
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
    postMessage({ type: 'soundfont', id, sentence: 'Its samples would take more than 2 GB, more than the page can hold.' });
    return;
  }
  const transfer = [font.presets.buffer, font.regionWords.buffer, font.regionValues.buffer, font.samples.buffer,
    font.modulatorWords.buffer, font.modulatorAmounts.buffer, font.pcm.buffer, font.starts.buffer, font.oggBytes.buffer];
  postMessage({ type: 'soundfont', id, font }, transfer);
}

// What the last good read gave, taken out of the module M: { name, version, remark, presetFields,
// regionWordFields, regionValueFields, sampleFields, presets, presetNames, regionWords, regionValues,
// samples, modulatorWords, modulatorAmounts (the tables, as soundfont.h lays them out), pcm (the 16-bit samples in one Int16Array),
// starts (each 16-bit sample's first frame in pcm), oggBytes (the Ogg Vorbis samples' bytes in one
// Uint8Array), ogg ([{ samples, at, length }]: each distinct Ogg Vorbis stream once, its place in
// oggBytes and the samples that play it, for the page to decode) }; null when the 16-bit samples would
// take more than sfFramesMost frames. pcm and oggBytes hold the bytes the samples cover, each byte
// once: samples whose bytes overlap share them, so that neither is ever larger than the file.
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
  const modulatorCount = t(sfTable.modulator_total), modulatorAmountsAt = t(sfTable.modulator_amounts) >>> 2;
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
    // each region's modulators: modulatorWords holds sfModulator.fields words each, modulatorAmounts one float each
    modulatorWords: words(t(sfTable.modulator_words), modulatorCount * t(sfTable.modulator_word_fields)),
    modulatorAmounts: new Float32Array(M.HEAPU32.buffer.slice(modulatorAmountsAt * 4, (modulatorAmountsAt + modulatorCount) * 4)),
    starts: new Float64Array(sampleCount),
    pcm: null,
    oggBytes: null,
    ogg: [],
  };
  const input = t(sfTable.input);
  const pcm = sfSpans(samples, sampleFields, false);
  if (pcm.bytes / 2 > sfFramesMost) return null;
  font.pcm = new Int16Array(pcm.bytes / 2);
  // byte by byte: a span may start at an odd offset in the file
  sfCopySpans(M, input, pcm.spans, new Uint8Array(font.pcm.buffer), (share) => report(0.8 + 0.2 * share));
  for (const [i, at] of pcm.places) font.starts[i] = at / 2;
  if (!sfLittleEndian) {
    const view = new DataView(font.pcm.buffer);
    for (let i = 0; i < font.pcm.length; i++) font.pcm[i] = view.getInt16(2 * i, true);
  }
  const ogg = sfSpans(samples, sampleFields, true);
  font.oggBytes = new Uint8Array(ogg.bytes);
  sfCopySpans(M, input, ogg.spans, font.oggBytes, () => {});
  // each distinct stream once: samples that name the same bytes decode them once
  const streams = new Map();
  for (const [i, at] of ogg.places) {
    const length = samples[i * sampleFields + sfSample.byte_length], key = `${at} ${length}`;
    if (!streams.has(key)) {
      streams.set(key, { samples: [], at, length });
      font.ogg.push(streams.get(key));
    }
    streams.get(key).samples.push(i);
  }
  return font;
}

// The spans of the file's bytes that its 16-bit samples (ogg false) or its Ogg Vorbis streams (ogg
// true) cover, in file order, overlapping ones joined (16-bit samples only where they agree on which
// bytes begin a frame, as every sample of a well-made file does): { spans ([{ from, to (bytes of the
// file), at (their place in the joined bytes) }]), bytes (joined), places ([sample, its place in the
// joined bytes]) }.
function sfSpans(samples, F, ogg) {
  const order = [];
  for (let i = 0; i < samples.length / F; i++) {
    if (samples[i * F + sfSample.byte_length] > 0 && Boolean(samples[i * F + sfSample.type] & sfOggStream) === ogg) order.push(i);
  }
  order.sort((a, b) => samples[a * F + sfSample.byte_offset] - samples[b * F + sfSample.byte_offset]);
  const spans = [], open = [null, null];  // the last span of samples starting at even and at odd bytes
  const owners = [];  // [sample, its span]
  for (const i of order) {
    const from = samples[i * F + sfSample.byte_offset], to = from + samples[i * F + sfSample.byte_length];
    const parity = ogg ? 0 : from % 2;
    let span = open[parity];
    if (span === null || from > span.to) {
      span = { from, to, at: 0 };
      open[parity] = span;
      spans.push(span);
    }
    span.to = Math.max(span.to, to);
    owners.push([i, span]);
  }
  let bytes = 0;
  for (const span of spans) {
    span.at = bytes;
    bytes += span.to - span.from;
  }
  return { spans, bytes, places: owners.map(([i, span]) => [i, span.at + samples[i * F + sfSample.byte_offset] - span.from]) };
}

// Copies the spans of the file (at `input` in M's memory) into `into`, each at its place; onShare(0 to 1) as it goes.
function sfCopySpans(M, input, spans, into, onShare) {
  spans.forEach((span, k) => {
    into.set(M.HEAPU8.subarray(input + span.from, input + span.to), span.at);
    if (k % 16 === 0) onShare(span.at / Math.max(1, into.length));
  });
}

// Answers the page's one request: a module is started for it, and the worker is ended after.
self.onmessage = async (event) => {
  const { type, id, file, size } = event.data;
  if (type !== 'soundfont') return;
  try {
    readSoundFont(await createSmfdump(), id, file, size);
  } catch (e) {
    postMessage({ type: 'error', id, request: type, message: String(e && e.message ? e.message : e) });
  }
};
