// The SoundFont reader in the WebAssembly module reads as the native one does: under Node, each file
// given (or each file in a folder given) is put into the module through sf_input, read with sf_read,
// and its tables found through sf_tables; the sentence, or the counts and a digest of the tables,
// must equal what the native soundfont_bench prints for the same file. Also checks that a second
// file drops the first one's tables and that sf_drop_input gives the bytes back.
//
//   node tests/web/soundfont_module.mjs --module build-web/smfdump_web.js --native build/bench/soundfont_bench \
//        build-fuzz/seeds/soundfont /usr/share/sounds/sf2/TimGM6mb.sf2
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { sfPresetNameSize, sfTable } from '../../web/shared/layouts.js';

const args = process.argv.slice(2);
const option = (name) => {
  const at = args.indexOf(name);
  if (at < 0) return undefined;
  const [value] = args.splice(at, 2).slice(1);
  return value;
};
const modulePath = path.resolve(option('--module') ?? 'build-web/smfdump_web.js');
const nativePath = path.resolve(option('--native') ?? 'build/bench/soundfont_bench');
const files = args.flatMap((given) =>
  fs.statSync(given).isDirectory() ? fs.readdirSync(given).sort().map((name) => path.join(given, name)) : [given]);

const createSmfdump = createRequire(import.meta.url)(modulePath);
const M = await createSmfdump();

// FNV-1a (32 bits) of bytes, going on from hash.
function fnv1a(hash, bytes) {
  for (const b of bytes) hash = Math.imul(hash ^ b, 16777619) >>> 0;
  return hash;
}

// Puts bytes into the module and reads them; the sentence, or what was read as soundfont_bench says it.
function readInModule(bytes) {
  const at = M._sf_input(bytes.length) >>> 0;
  if (at === 0) throw new Error('sf_input could not have the memory');
  M.HEAPU8.set(bytes, at);
  const sentence = M._sf_read() >>> 0;
  if (sentence !== 0) return { sentence: M.UTF8ToString(sentence) };
  const tablesAt = M._sf_tables() >>> 0;
  const t = (entry) => M.HEAPU32[(tablesAt >>> 2) + entry] >>> 0;
  const span = (address, length) => M.HEAPU8.subarray(address, address + length);
  let hash = 2166136261;
  hash = fnv1a(hash, span(t(sfTable.presets), t(sfTable.preset_count) * t(sfTable.preset_fields) * 4));
  hash = fnv1a(hash, span(t(sfTable.preset_names), t(sfTable.preset_count) * sfPresetNameSize));
  hash = fnv1a(hash, span(t(sfTable.region_words), t(sfTable.region_count) * t(sfTable.region_word_fields) * 4));
  hash = fnv1a(hash, span(t(sfTable.region_values), t(sfTable.region_count) * t(sfTable.region_value_fields) * 4));
  hash = fnv1a(hash, span(t(sfTable.samples), t(sfTable.sample_count) * t(sfTable.sample_fields) * 4));
  if (t(sfTable.input) !== at || t(sfTable.input_size) !== bytes.length) throw new Error('sf_tables does not give the input back');
  return {
    read: `${t(sfTable.preset_count)} presets, ${t(sfTable.region_count)} regions, ${t(sfTable.sample_count)} samples, ` +
      `${t(sfTable.modulator_count)} modulators of its own, ${t(sfTable.regions_dropped)} regions dropped, ${t(sfTable.loops_mended)} loops mended`,
    tables: hash.toString(16).padStart(8, '0'),
    remark: t(sfTable.remark) !== 0 ? M.UTF8ToString(t(sfTable.remark)) : undefined,
    presetCount: t(sfTable.preset_count),
  };
}

// What the native reader prints for the file.
function readNatively(file) {
  const run = spawnSync(nativePath, [file, '1'], { encoding: 'utf8' });
  const line = (label) => run.stdout.split('\n').find((l) => l.startsWith(`${label}: `))?.slice(label.length + 2);
  if (run.status !== 0) return { sentence: line('read') };
  return { read: line('read'), tables: line('tables'), remark: line('remark') };
}

let failures = 0;
for (const file of files) {
  const wasm = readInModule(fs.readFileSync(file));
  const native = readNatively(file);
  const same = ['sentence', 'read', 'tables', 'remark'].every((key) => wasm[key] === native[key]);
  if (!same) failures += 1;
  console.log(`${same ? 'same' : 'DIFFERENT'}  ${file}: ${wasm.sentence ?? `${wasm.read}; tables ${wasm.tables}`}`);
  if (!same) console.log(`  native: ${native.sentence ?? `${native.read}; tables ${native.tables}`}`);
}

// a new file drops the old one's tables; dropping the input keeps the tables
if (files.length > 0) {
  readInModule(fs.readFileSync(files[files.length - 1]));
  const after = readInModule(Buffer.from('not a SoundFont'));
  const tablesAt = M._sf_tables() >>> 0;
  if (after.sentence === undefined || (M.HEAPU32[(tablesAt >>> 2) + sfTable.preset_count] >>> 0) !== 0) {
    failures += 1;
    console.log('DIFFERENT  a second file did not drop the first one\'s tables');
  }
  const good = files.map((f) => fs.readFileSync(f)).find((bytes) => readInModule(bytes).sentence === undefined);
  if (good !== undefined) {
    const kept = readInModule(good).presetCount;
    M._sf_drop_input();
    const t = (entry) => M.HEAPU32[((M._sf_tables() >>> 0) >>> 2) + entry] >>> 0;
    if (t(sfTable.input) !== 0 || t(sfTable.input_size) !== 0 || t(sfTable.preset_count) !== kept) {
      failures += 1;
      console.log('DIFFERENT  sf_drop_input did not drop only the bytes');
    }
  }
}
console.log(failures === 0 ? `all ${files.length} read the same` : `${failures} differ`);
process.exit(failures === 0 ? 0 : 1);
