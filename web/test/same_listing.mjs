// The listing in the browser is the console program's: under Node, the WebAssembly build lists every
// file given (the samples, the kept fuzz corpus, a generated set) and each listing must equal the
// native program's default.txt byte for byte. For each file it also checks what the page builds on:
// the listing made again from resume points equals the same part of the whole listing, every event
// line the listing reports starts where a line of the listing starts, and the roll holds one note for
// each note-on line whose velocity is above 0. Names files (one with a byte-order mark) are listed
// with both programs the same way.
//
//   node web/test/same_listing.mjs --module build-web/smfdump_web.js --native build/smfdump \
//        --generator build/bench/make_big_smf samples fuzz/corpus/listing
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';

const args = process.argv.slice(2);
const option = (name) => {
  const at = args.indexOf(name);
  if (at < 0) return undefined;
  const [value] = args.splice(at, 2).slice(1);
  return value;
};
const modulePath = path.resolve(option('--module') ?? 'build-web/smfdump_web.js');
const nativePath = path.resolve(option('--native') ?? 'build/smfdump');
const generatorPath = option('--generator');
const folders = args;

const createSmfdump = createRequire(import.meta.url)(modulePath);
const M = await createSmfdump();
const STOP = { stop: true };  // thrown from a piece hand-over to end a listing made again
let onPiece = () => {};
let onEventLine = () => {};
let onNote = () => {};
M.takeListingPiece = (at, n, offset, listed) => onPiece(M.HEAPU8.subarray(at, at + n), offset, listed);
M.takeEventLine = (offset, total, track) => onEventLine(offset, total, track);
M.takeNote = (status, note, velocity) => onNote(status, note, velocity);

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'smfdump-same-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));
let failures = 0;
const fail = (what) => {
  failures += 1;
  if (failures <= 20) console.error(`FAIL ${what}`);
};

// The native program's listings of many files at once (one shell loop, each file in a folder of its
// own, named as given): a list of listings in the order of the files.
function nativeListings(files, program = nativePath) {
  const batch = fs.mkdtempSync(path.join(scratch, 'batch-'));
  files.forEach(([name, bytes], i) => {
    fs.mkdirSync(path.join(batch, String(i)));
    fs.writeFileSync(path.join(batch, String(i), name), bytes);
  });
  // two runs at a time, each typing the one file name of its folder at the prompt
  const script = 'seq 0 $(($1 - 1)) | xargs -P 2 -I{} sh -c \'cd {} && ls | "$0" >/dev/null\' "$2"';
  execFileSync('bash', ['-c', script, 'native', String(files.length), program], { cwd: batch, stdio: ['ignore', 'ignore', 'inherit'] });
  const listings = files.map((_, i) => fs.readFileSync(path.join(batch, String(i), 'default.txt')));
  fs.rmSync(batch, { recursive: true, force: true });
  return listings;
}

// Puts bytes where the module asks for them.
function putBytes(place, bytes) {
  const at = place(bytes.length);
  M.HEAPU8.set(bytes, at);
}

// The WebAssembly listing of bytes under name, whole, with what was gathered on the way.
function webListing(name, bytes) {
  putBytes((n) => M._web_input(n), bytes);
  putBytes((n) => M._web_name(n), new TextEncoder().encode(name));
  const pieces = [];
  let expected = 0;
  onPiece = (piece, offset) => {
    if (offset !== expected) fail(`${name}: a piece at ${offset} where ${expected} was due`);
    expected = offset + piece.length;
    pieces.push(Buffer.from(piece));
  };
  const size = M._web_list();
  onPiece = () => {};
  const listing = Buffer.concat(pieces);
  if (size !== listing.length) fail(`${name}: web_list told ${size} bytes, handed over ${listing.length}`);
  const lists = M._web_gathered() / 4;
  const noteCount = M.HEAPU32[lists + 1];
  return { listing, noteCount, cutShort: M._web_roll_cut_short() !== 0 };
}

// Lists again from resume point (or the start, -1) with watch set, until stop() says so; returns the
// bytes from the point's offset on.
function listAgain(point, watch, stop) {
  const pieces = [];
  let start = -1;
  onPiece = (piece, offset) => {
    if (start < 0) start = offset;
    pieces.push(Buffer.from(piece));
    if (stop(pieces)) throw STOP;
  };
  const stack = M.stackSave();
  try {
    M._web_list_again(point, watch);
  } catch (e) {
    if (e !== STOP) throw e;
    M.stackRestore(stack);
  } finally {
    onPiece = () => {};
    onEventLine = () => {};
    onNote = () => {};
  }
  return { start: Math.max(start, 0), bytes: Buffer.concat(pieces) };
}

const eventLine = /^ *\d+[TF]:\d+:\d+:\d+\t/;
const noteOnLine = /^ *\d+[TF]:\d+:\d+:\d+\t o: c:\d+ \t[^ ]* \.\.\.(\d+)/;

// Checks the listing made again from resume points against the whole one, the event line offsets,
// and the roll's note count.
function checkGathered(name, whole) {
  const { listing, noteCount, cutShort } = whole;
  // the event lines and notes told in a listing made again from the start, the notes paired again
  // here as the roll pairs them: a note on with a velocity starts a note, any other note on or off of
  // its channel and note ends all that sound, and a track's end ends the rest
  const lineStarts = [];
  let notesOn = 0;
  let line = null;
  const paired = [];  // [start, end] of each note, in the order of their note on
  let sounding = new Map();
  const endTrack = () => {
    for (const notes of sounding.values()) for (const n of notes) paired[n][1] = line.total;
    sounding = new Map();
  };
  onEventLine = (offset, total, track) => {
    if (line && track !== line.track) endTrack();
    lineStarts.push(offset);
    line = { offset, total, track };
  };
  onNote = (status, note, velocity) => {
    if (!line) fail(`${name}: a note before any event line`);
    const slot = `${status & 0x0f} ${note}`;
    if ((status & 0xf0) === 0x90 && velocity !== 0) {
      notesOn += 1;
      if (!sounding.has(slot)) sounding.set(slot, []);
      sounding.get(slot).push(paired.length);
      paired.push([line.total, line.total]);
    } else {
      for (const n of sounding.get(slot) ?? []) paired[n][1] = line.total;
      sounding.delete(slot);
    }
  };
  listAgain(-1, 2, () => false);
  if (line) endTrack();
  let linesOn = 0;
  const lists = M._web_gathered() / 4;
  const list = (i) => new Uint32Array(M.HEAPU8.buffer, M.HEAPU32[lists + 2 * i], M.HEAPU32[lists + 2 * i + 1]);
  const [starts, ends] = [list(0), list(1)];
  if (!cutShort) {
    const wrong = paired.findIndex(([start, end], i) => starts[i] !== start >>> 0 || ends[i] !== end >>> 0);
    if (wrong >= 0) fail(`${name}: roll note ${wrong} runs ${starts[wrong]}..${ends[wrong]}, paired again ${paired[wrong].join('..')}`);
  }
  for (const offset of lineStarts) {
    const text = listing.subarray(offset, offset + 60).toString('latin1');
    if ((offset > 0 && listing[offset - 1] !== 10) || !eventLine.test(text)) {
      fail(`${name}: an event line told at ${offset}, where the listing has ${JSON.stringify(text.slice(0, 30))}`);
      break;
    }
    const end = listing.indexOf(10, offset);
    const lineText = listing.subarray(offset, end < 0 ? listing.length : end).toString('latin1');
    const on = noteOnLine.exec(lineText);
    if (on && Number(on[1]) > 0) linesOn += 1;
  }
  if (!cutShort && (noteCount !== linesOn || notesOn !== linesOn)) {
    fail(`${name}: ${noteCount} roll notes and ${notesOn} notes told for ${linesOn} note-on lines with a velocity`);
  }
  // every resume point (at most 24 of them, spread over the file) gives the same bytes as the whole
  const last = M._web_resume_point_before(listing.length);
  const step = Math.max(1, Math.floor((last + 1) / 24));
  const points = [-1];
  for (let p = 0; p <= last; p += step) points.push(p);
  for (const point of points) {
    const again = listAgain(point, 0, (pieces) => pieces.reduce((n, b) => n + b.length, 0) > 70000);
    const expected = listing.subarray(again.start, again.start + again.bytes.length);
    if (!again.bytes.equals(expected)) {
      fail(`${name}: listed again from resume point ${point} (offset ${again.start}), the bytes differ from the whole listing`);
      break;
    }
  }
}

// Compares the WebAssembly listing of a file with the native one, then checks what was gathered.
function checkFile(name, bytes, native) {
  const whole = webListing(name, bytes);
  if (!whole.listing.equals(native)) {
    let at = 0;
    while (at < native.length && whole.listing[at] === native[at]) at += 1;
    fail(`${name}: the WebAssembly listing differs from default.txt at byte ${at}`);
    return;
  }
  checkGathered(name, whole);
}

// A small xorshift generator, so that the generated set is the same on every run.
function random(seed) {
  let state = seed >>> 0 || 1;
  return (bound) => {
    state ^= state << 13;
    state >>>= 0;
    state ^= state >>> 17;
    state ^= state << 5;
    state >>>= 0;
    return state % bound;
  };
}

// The generated set: valid files of 1 to 64 KB from the benchmark's generator, and damaged copies
// of them and of the samples (cut short, bytes changed, bytes put in).
function generatedSet(samples) {
  const files = [];
  if (generatorPath) {
    for (let i = 0; i < 120; i += 1) {
      const out = path.join(scratch, `gen${i}.mid`);
      execFileSync(generatorPath, [out, `${1 + ((i * 7) % 64)}K`, String(i + 1)], { stdio: 'ignore' });
      files.push([`gen${i}.mid`, fs.readFileSync(out)]);
    }
  }
  const pick = random(20261209);
  const originals = [...samples, ...files];
  for (let i = 0; i < 240 && originals.length > 0; i += 1) {
    const [, source] = originals[pick(originals.length)];
    let bytes = Buffer.from(source);
    const kind = i % 3;
    if (kind === 0) {
      bytes = bytes.subarray(0, pick(bytes.length + 1));
    } else if (kind === 1) {
      for (let k = 0; k < 1 + pick(4); k += 1) bytes[pick(bytes.length)] = pick(256);
    } else {
      const at = pick(bytes.length + 1);
      const extra = Buffer.from(Array.from({ length: 1 + pick(6) }, () => pick(256)));
      bytes = Buffer.concat([bytes.subarray(0, at), extra, bytes.subarray(at)]);
    }
    files.push([`damaged${i}.mid`, bytes]);
  }
  return files;
}

// Names files: the web page's own must read as the program reads initial.txt beside itself.
function checkNamesFiles(song) {
  const plain = fs.readFileSync(path.join(path.dirname(nativePath), 'initial.txt'));
  const cases = [
    ['with a byte-order mark', Buffer.concat([Buffer.from([0xef, 0xbb, 0xbf]), plain])],
    ['with CR LF, headings, empty lines and long lines',
      Buffer.from('[General MIDI]\r\nGrand Piano of the Concert Hall, Long\r\n\r\nBright\r\n[drums]\r\nhonky\x1atonk\n')],
    ['empty', Buffer.alloc(0)],
  ];
  for (const [what, names] of cases) {
    const folder = fs.mkdtempSync(path.join(scratch, 'names-'));
    fs.copyFileSync(nativePath, path.join(folder, 'smfdump'));
    fs.chmodSync(path.join(folder, 'smfdump'), 0o755);
    fs.writeFileSync(path.join(folder, 'initial.txt'), names);
    const [native] = nativeListings([['names.mid', song]], path.join(folder, 'smfdump'));
    putBytes((n) => M._web_names_file(n), names);
    const { listing } = webListing('names.mid', song);
    if (!listing.equals(native)) fail(`a names file ${what}: the listings differ`);
  }
  M._web_builtin_names();
}

M._web_builtin_names();
const started = Date.now();
const samples = [];
for (const folder of folders) {
  for (const entry of fs.readdirSync(folder).sort()) {
    const file = path.join(folder, entry);
    if (fs.statSync(file).isFile() && !entry.endsWith('.cpp')) samples.push([entry, fs.readFileSync(file)]);
  }
}
const all = [...samples, ...generatedSet(samples.filter(([name]) => name.endsWith('.mid')))];
const natives = nativeListings(all);
all.forEach(([name, bytes], i) => checkFile(name, bytes, natives[i]));
const demo = samples.find(([name]) => name === 'demo.mid');
if (demo) checkNamesFiles(demo[1]);
console.log(`${all.length} files listed by both programs, names files checked, in ${((Date.now() - started) / 1000).toFixed(1)} s: ${failures} failures`);
process.exit(failures === 0 ? 0 : 1);
