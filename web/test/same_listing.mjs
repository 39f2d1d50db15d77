// The listing in the browser is the console program's: under Node, the WebAssembly build lists every
// file given (the samples, the kept fuzz corpus, a generated set) and each listing must equal the
// native program's default.txt byte for byte. For each file it also checks what the page builds on:
// the listing made again from resume points equals the same part of the whole listing, every event
// line the listing reports starts where a line of the listing starts, and the roll holds one note for
// each note-on line whose velocity is above 0. Names files (one with a byte-order mark) are listed
// with both programs the same way. Then the page's listing worker itself (its bundle,
// page_bundles/listing_worker.js beside the module) answers the page's requests under Node: with its module's memory past 2 GiB,
// for files too large for it, and for notes and measures where a time signature changes.
//
//   node web/test/same_listing.mjs --module build-web/smfdump_web.js --native build/smfdump \
//        --generator build/bench/make_big_smf samples fuzz/corpus/listing
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import vm from 'node:vm';
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

// Puts bytes where the module asks for them (addresses cross as signed numbers: >>> 0).
function putBytes(place, bytes) {
  const at = place(bytes.length) >>> 0;
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
  const lists = (M._web_gathered() >>> 0) / 4;
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
  const lists = (M._web_gathered() >>> 0) / 4;
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

// ---- files built for the tests below, from readable bytes --------------------------------------------

// A variable-length quantity.
function vlq(n) {
  const bytes = [n & 0x7f];
  for (let rest = Math.floor(n / 128); rest > 0; rest = Math.floor(rest / 128)) bytes.unshift(0x80 | (rest & 0x7f));
  return bytes;
}
// One event: its delta time, then its bytes as given.
const event = (delta, bytes) => [...vlq(delta), ...bytes];
// A big-endian number of n bytes.
const be = (v, n) => Array.from({ length: n }, (_, i) => Math.floor(v / 256 ** (n - 1 - i)) & 0xff);
// The header chunk.
const header = (format, tracks, division) => [...Buffer.from('MThd'), ...be(6, 4), ...be(format, 2), ...be(tracks, 2), ...be(division, 2)];
// A track chunk of the events given (a list of them), its length filled in.
const track = (events) => {
  const body = events.flat();
  return [...Buffer.from('MTrk'), ...be(body.length, 4)].concat(body);
};
// A time signature meta event: n / 2^power.
const timeSignature = (delta, n, power) => event(delta, [0xff, 0x58, 4, n, power, 24, 8]);
const endOfTrack = (delta = 0) => event(delta, [0xff, 0x2f, 0]);
const biggestDelta = 0x0fffffff;  // the largest delta time of four bytes

// Time signatures at the ticks of notes' ons and offs, listed before and after them, a note sounding
// through eight signatures, and a track whose running total wraps past 2^32 with signatures on the
// way. Format 1, division 480, notes on channel 3.
function signatureSong() {
  const conductor = track([
    timeSignature(0, 4, 2),                // 4/4
    endOfTrack(7680)]);
  const notes = track([
    event(0, [0x92, 60, 100]),             // C 5 on
    event(1920, [0x82, 60, 64]),           // C 5 off at 1920: listed before the 3/4 at the same tick
    timeSignature(0, 3, 2),                // 3/4 at 1920
    event(0, [0x92, 62, 90]),              // D 5 on at 1920, under 3/4
    event(0, [64, 80]),                    // running status: E 5 on at 1920
    timeSignature(0, 6, 3),                // 6/8 at 1920
    event(0, [0x82, 64, 0]),               // E 5 off at 1920, under 6/8
    event(0, [0x92, 65, 70]),              // F 5 on at 1920: sounds through eight signatures
    timeSignature(480, 2, 2),              // 2/4
    timeSignature(480, 5, 2),              // 5/4
    timeSignature(480, 2, 2),
    timeSignature(480, 5, 2),
    timeSignature(480, 2, 2),
    timeSignature(480, 5, 2),
    timeSignature(480, 2, 2),
    timeSignature(480, 7, 2),              // 7/4 at 5760
    event(0, [0x82, 65, 40]),              // F 5 off at 5760, under 7/4
    event(0, [0x82, 62, 41]),              // D 5 off at 5760
    timeSignature(960, 4, 2),              // 4/4 at 6720
    event(0, [0x92, 67, 60]),              // G 5 on at 6720, never turned off: the track's end ends it
    endOfTrack(960)]);
  const wrapping = [event(0, [0x92, 48, 50])];  // C 4 on, channel 3
  for (let i = 0; i < 17; i += 1) wrapping.push(event(biggestDelta, i % 2 ? [0xa2, 48, 10] : [0xd2, 11]));  // pressure
  wrapping.push(
    event(0, [0x82, 48, 0]),               // C 4 off after the total wrapped
    timeSignature(0, 3, 3),                // 3/8 at the same total
    event(0, [0x92, 50, 51]),              // D 4 on
    event(1000, [0x82, 50, 0]),            // D 4 off
    endOfTrack());
  return Buffer.from([...header(1, 3, 480), ...conductor, ...notes, ...track(wrapping)]);
}

// A time-code file whose running total passes 2^31 and wraps past 2^32, a note sounding across each.
function bigTotalSong() {
  const events = [event(0, [0x90, 72, 100])];  // C 6 on
  for (let i = 0; i < 9; i += 1) events.push(event(biggestDelta, [0xb0, 7, 100 + i]));  // volume: past 2^31
  events.push(event(0, [0x80, 72, 64]), event(0, [0x90, 74, 90]));  // C 6 off, D 6 on
  for (let i = 0; i < 9; i += 1) events.push(event(biggestDelta, [0xb0, 10, 60 + i]));  // pan: past 2^32
  events.push(event(0, [0x80, 74, 64]), endOfTrack());
  return Buffer.from([...header(0, 1, 0xe728), ...track(events)]);
}

// One key struck again and again and never turned off: 320,000 note ons of C 5, the first with its
// status byte, the others under running status (a file of 960 KB).
function oneKeySong() {
  const events = [event(0, [0x90, 60, 100])];
  for (let i = 1; i < 320000; i += 1) events.push(event(0, [60, 100]));
  return Buffer.from(header(0, 1, 96).concat(track(events)));
}

// ---- the module's state and ranges ---------------------------------------------------------------

// "measure:beat:tick" of the event line at offset in a listing.
function linePosition(listing, offset) {
  const text = listing.subarray(offset, offset + 60).toString('latin1');
  const found = /^ *\d+[TF]:(\d+):(\d+):(\d+)\t/.exec(text);
  return found ? `${found[1]}:${found[2]}:${found[3]}` : null;
}

// The pathological note ending: one key struck 320,000 times lists in well under ten seconds (it took
// minutes when each ending note was erased from a list of all those still sounding). Returns the file
// and its native listing.
function checkOneKeyStruckOften() {
  const bytes = oneKeySong();
  const [native] = nativeListings([['one-key.mid', bytes]]);
  const started = Date.now();
  const whole = webListing('one-key.mid', bytes);
  const seconds = (Date.now() - started) / 1000;
  if (seconds > 10) fail(`one key struck 320,000 times: listed in ${seconds.toFixed(1)} s`);
  if (!whole.listing.equals(native)) fail('one key struck 320,000 times: the listings differ');
  else checkGathered('one-key.mid', whole);
  return { bytes, native };
}

// A new input forgets the last one's resume points, notes and matches; every number taken as a resume
// point or a note is checked against what there is.
function checkNewInputForgets(bigBytes, small) {
  const big = webListing('big.mid', bigBytes);
  const last = M._web_resume_point_before(big.listing.length);
  if (last < 2) fail(`the big file kept ${last + 1} resume points`);
  putBytes((n) => M._web_input(n), small.bytes);
  putBytes((n) => M._web_name(n), new TextEncoder().encode('demo.mid'));
  if (M._web_resume_point_offset(last) !== 0 || M._web_notes_before(last) !== 0) fail('a new input kept the resume points of the last');
  if ((M._web_note_position(big.noteCount - 1, 1) >>> 0) !== 0) fail('a new input kept the notes of the last');
  try {
    const again = listAgain(last, 2, () => false);
    if (!again.bytes.equals(small.native)) fail('listed again from a resume point of the file before, the listing is not the new file\'s');
  } catch (e) {
    fail(`listed again from a resume point of the file before: ${e.message}`);
    return;  // the module can't be trusted after a fault
  }
  webListing('demo.mid', small.bytes);
  const lists = (M._web_gathered() >>> 0) / 4;
  const notes = M.HEAPU32[lists + 1];
  const wrong = [[M._web_resume_point_offset(1 << 30), 0], [M._web_notes_before(-7), 0], [M._web_note_position(notes, 0) >>> 0, 0],
    [M._web_note_position(0xffffffff, 1) >>> 0, 0], [M._web_overview_row(257) >>> 0, 0]].findIndex(([got, due]) => got !== due);
  if (wrong >= 0) fail(`a number out of range (case ${wrong}) was taken as a resume point, note or row`);
}

// ---- the page's worker under Node ------------------------------------------------------------------

// the listing worker's bundle, made beside the module by the page's build
const workerBundle = path.join(path.dirname(modulePath), 'page_bundles', 'listing_worker.js');

// A file as the page hands it to the worker, read as a Blob's slices are (arrayBuffer()), or through
// the worker's FileReaderSync below; its bytes made by bytesAt(start, end) when asked for.
function pageFile(name, size, bytesAt) {
  return { name, size, slice: (start, end) => ({ read: () => bytesAt(start, end), arrayBuffer: async () => bytesAt(start, end) }) };
}
const fileOf = (name, bytes) => pageFile(name, bytes.length, (start, end) => {
  const part = bytes.subarray(start, end);
  return part.buffer.slice(part.byteOffset, part.byteOffset + part.length);
});

// The listing worker (its bundle, as the page starts it after the module's text), whose module comes
// from makeModule. Returns ask(message), which resolves with the worker's answer, and run(code), which
// runs code in the worker's scope (where smfdumpListingWorker holds what the bundle exports).
function startWorker(makeModule) {
  const answers = [];
  let wake = () => {};
  const context = vm.createContext({
    self: {},
    console,
    performance,
    TextEncoder,
    TextDecoder,
    Blob,
    createSmfdump: makeModule,
    postMessage: (message) => {
      if (message.type === 'progress') return;
      answers.push(message);
      wake();
    },
    FileReaderSync: class {
      readAsArrayBuffer(slice) { return slice.read(); }
    },
  });
  vm.runInContext(fs.readFileSync(workerBundle, 'utf8'), context, { filename: workerBundle });
  let lastId = 0;
  const ask = async (message) => {
    lastId += 1;
    const id = lastId;
    context.self.onmessage({ data: { ...message, id } });
    for (;;) {
      const at = answers.findIndex((a) => a.id === id);
      if (at >= 0) return answers.splice(at, 1)[0];
      await new Promise((resolve) => {
        wake = resolve;
        setTimeout(resolve, 20);
      });
    }
  };
  return { ask, run: (code) => vm.runInContext(code, context) };
}

// The worker answers for file as the native listing says: its size, lines, a note's lines, a search
// and the saved listing.
async function checkWorkerAnswers(what, worker, name, bytes, native) {
  const listed = await worker.ask({ type: 'list', file: fileOf(name, bytes), name });
  if (listed.type !== 'listed' || listed.size !== native.length) {
    fail(`${what}: the list request was answered ${JSON.stringify(listed).slice(0, 200)}`);
    return;
  }
  const lines = await worker.ask({ type: 'lines', anchor: 0, before: 0, after: 100000 });
  const text = (lines.lines ?? []).map((line) => `${line.text}\n`).join('');
  if (text !== native.toString('utf8') && `${text.slice(0, -1)}` !== native.toString('utf8')) fail(`${what}: the lines differ from the listing`);
  const note = await worker.ask({ type: 'note', index: 0, withOff: true });
  if (listed.notes > 0 && !/\t o: c:/.test(native.subarray(note.on, note.on + 40).toString('latin1'))) fail(`${what}: note 0 is told on a line without its note on`);
  const found = await worker.ask({ type: 'search', text: 'O: c:' });
  const due = [];
  for (let at = native.indexOf('o: c:'); at >= 0; at = native.indexOf('o: c:', at + 1)) due.push(at);
  if (found.count !== due.length || due.some((at, i) => found.offsets[i] !== at)) fail(`${what}: the search found ${found.count} where the listing has ${due.length}`);
  const saved = await worker.ask({ type: 'save' });
  if (!Buffer.from(await saved.blob.arrayBuffer()).equals(native)) fail(`${what}: the saved listing differs`);
}

// Values past 2^31 reach JavaScript unsigned: a module whose allocations all lie above 2 GiB answers
// as one with its memory low, and running totals past 2^31 are told as the listing shows them.
async function checkUnsignedValues(demo, demoNative) {
  const createSmfdump = createRequire(import.meta.url)(modulePath);
  const low = startWorker(() => createSmfdump());
  await checkWorkerAnswers('a module in low memory', low, 'demo.mid', demo, demoNative);
  const high = startWorker(async () => {
    const module = await createSmfdump();
    // two blocks of 1.1 GB (the heap grows by less than 2 GiB at a time), never touched
    for (let i = 0; i < 2; i += 1) if ((module._malloc(1100 << 20) >>> 0) === 0) fail('no room for 1.1 GB in a fresh module');
    return module;
  });
  await checkWorkerAnswers('a module whose memory is taken past 2 GiB', high, 'demo.mid', demo, demoNative);
  // a time code shows the running total itself as the tick of every line
  const bytes = bigTotalSong();
  await low.ask({ type: 'list', file: fileOf('totals.mid', bytes), name: 'totals.mid' });
  const answer = await low.ask({ type: 'lines', anchor: 0, before: 0, after: 1000 });
  const told = (answer.lines ?? []).filter((line) => line.event);
  const wrong = told.find((line) => `0:0:${line.total}` !== /^ *\d+F:(\d+:\d+:\d+)/.exec(line.text)[1]);
  if (told.length !== 23 || wrong) fail(`running totals past 2^31: a line told at total ${wrong?.total}: ${wrong?.text}`);
}

// A file too large for the module is answered as such, in plain words, and the worker lists the next
// file: one larger than any size the module takes, and one larger than the memory left.
async function checkTooLarge(demo, demoNative) {
  const createSmfdump = createRequire(import.meta.url)(modulePath);
  const blocks = [];
  let module = null;
  const worker = startWorker(async () => {
    module = await createSmfdump();
    return module;
  });
  const zeros = (start, end) => new ArrayBuffer(end - start);
  const cases = [['five gigabytes', 5e9, () => {}],
    ['more than the memory left', 700 << 20, () => {
      for (let i = 0; i < 3; i += 1) blocks.push(module._malloc(1200 << 20) >>> 0);  // 3.6 GB of the 4 GiB
    }]];
  await worker.ask({ type: 'list', file: fileOf('demo.mid', demo), name: 'demo.mid' });  // the module starts
  for (const [what, size, prepare] of cases) {
    prepare();
    const answer = await worker.ask({ type: 'list', file: pageFile('big.mid', size, zeros), name: 'big.mid' });
    if (answer.type !== 'error' || answer.request !== 'list' || answer.tooLarge !== true || answer.size !== size || /abort/i.test(answer.message)) {
      fail(`a file of ${what}: answered ${JSON.stringify(answer)}`);
    }
    for (const at of blocks.splice(0)) module._free(at);
    const next = await worker.ask({ type: 'list', file: fileOf('demo.mid', demo), name: 'demo.mid' });
    if (next.type !== 'listed' || next.size !== demoNative.length) fail(`after a file of ${what}, the next was answered ${JSON.stringify(next).slice(0, 200)}`);
  }
}

// With little of the module's memory left, a file is listed (its roll shorter, or none) or declined as
// too large, never with the module ending; and once the memory is free again, the next file lists.
// The file of many notes must be listed with its roll cut short at least once.
async function checkLittleMemoryLeft(demo, demoNative, many, manyNative) {
  const manyName = 'one-key.mid';
  const createSmfdump = createRequire(import.meta.url)(modulePath);
  let module = null;
  const worker = startWorker(async () => {
    module = await createSmfdump();
    return module;
  });
  await worker.ask({ type: 'list', file: fileOf('demo.mid', demo), name: 'demo.mid' });  // the module starts
  const cases = [[0, demo, demoNative], [64 << 10, demo, demoNative], [1 << 20, demo, demoNative], [16 << 20, demo, demoNative]];
  for (let left = 1 << 20; left <= 6 << 20; left += 512 << 10) cases.push([left, many, manyNative]);
  let cutShort = 0;
  for (const [left, bytes, native] of cases) {
    // fill the memory, largest blocks first, then give back the last taken (at the heap's top) until
    // `left` bytes are free there
    const blocks = [];
    for (let size = 1 << 30; size >= 4096; size /= 2) {
      for (let at = module._malloc(size) >>> 0; at !== 0; at = module._malloc(size) >>> 0) blocks.push({ at, size });
    }
    for (let freed = 0; freed < left && blocks.length > 0;) {
      const { at, size } = blocks.pop();
      module._free(at);
      freed += size;
    }
    const name = bytes === demo ? 'demo.mid' : manyName;
    const answer = await worker.ask({ type: 'list', file: fileOf(name, bytes), name });
    if (answer.type === 'listed') {
      const lines = await worker.ask({ type: 'lines', anchor: native.length - 1, before: 3, after: 3 });
      const text = (lines.lines ?? []).map((line) => `${line.text}\n`).join('');
      if (answer.size !== native.length || !native.toString('utf8').endsWith(text)) fail(`${name} with ${left} bytes left: the listing differs`);
      if (answer.cutShort) cutShort += 1;
    } else if (answer.type !== 'error' || answer.tooLarge !== true) {
      fail(`${name} with ${left} bytes left: answered ${JSON.stringify(answer).slice(0, 200)}`);
    }
    for (const { at } of blocks) module._free(at);
    const next = await worker.ask({ type: 'list', file: fileOf(name, bytes), name });
    if (next.type !== 'listed' || next.size !== native.length || next.cutShort) {
      fail(`${name} with ${left} bytes left, then all given back: answered ${JSON.stringify(next).slice(0, 200)}`);
    }
  }
  if (cutShort === 0) fail('with little memory left, no roll was cut short');
}

// Where a time signature changes at the tick of a note's on or off, the note is described with the
// positions its own lines show, and the roll's measure lines number the measures as the lines do.
async function checkSignaturePositions() {
  const createSmfdump = createRequire(import.meta.url)(modulePath);
  const worker = startWorker(() => createSmfdump());
  const bytes = signatureSong();
  const [native] = nativeListings([['signatures.mid', bytes]]);
  checkFile('signatures.mid', bytes, native);
  const listed = await worker.ask({ type: 'list', file: fileOf('signatures.mid', bytes), name: 'signatures.mid' });
  // every event line: offset, total, track; from the listing made again in this module
  webListing('signatures.mid', bytes);
  const events = [];
  onEventLine = (offset, total, track) => events.push({ offset, total, track, text: native.subarray(offset, native.indexOf(10, offset)).toString('latin1') });
  listAgain(-1, 1, () => false);
  for (let index = 0; index < listed.notes; index += 1) {
    const note = await worker.ask({ type: 'note', index, withOff: true });
    const end = note.off ?? events.filter((e) => e.track === note.track).at(-1).offset;  // ended by its track's end
    const due = `${linePosition(native, note.on)} to ${linePosition(native, end)}`;
    if (`${note.from} to ${note.to}` !== due) fail(`signatures.mid: note ${index} (${note.name}) described from ${note.from} to ${note.to}, its lines show ${due}`);
  }
  // measure lines of each track, every measure shown (a view wide enough for all): at each tick of its
  // event lines, the measure that the last line listed there starts, or else the latest line there
  // that starts one (a line before a time signature at the same tick), or else none
  for (const t of listed.tracks) {
    const own = events.filter((e) => e.track === t.number).map((e) => {
      const [measure, beat, tick] = linePosition(native, e.offset).split(':').map(Number);
      return { ...e, measure, starts: beat === 0 && tick === 0 };
    });
    const due = new Map();
    for (const e of own) {
      const there = own.filter((o) => o.total === e.total);
      const starting = there.filter((o) => o.starts).at(-1);
      due.set(e.total, there.at(-1).starts ? there.at(-1).measure : starting?.measure);
    }
    const inOrder = own.every((e, i) => i === 0 || e.total >= own[i - 1].total);
    const view = { t0: 0, t1: Math.max(...own.map((e) => e.total)) + 1, width: 48 * 100000, scale: 1, gridTrack: t.index };
    const drawn = new Map(worker.run(`smfdumpListingWorker.measuredLines(${JSON.stringify(view)})`).map((m) => [m.tick, m.number]));
    for (const [tick, number] of due) {
      if (inOrder && drawn.get(tick) !== number) fail(`signatures.mid track ${t.number}: the measure line at ${tick} reads ${drawn.get(tick)}, the listing ${number}`);
    }
  }
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
const demoAt = all.findIndex(([name]) => name === 'demo.mid');
if (demoAt < 0) fail('samples/demo.mid is needed for the checks of names files and of the worker');
const [demo, demoNative] = [all[demoAt]?.[1], natives[demoAt]];
if (demo) checkNamesFiles(demo);
const oneKey = checkOneKeyStruckOften();
if (demo) {
  // a file of 40,000 notes (320 KB): many resume points
  const notes = [];
  for (let i = 0; i < 40000; i += 1) notes.push(event(0, [0x90, 60, 100]), event(16, [0x80, 60, 64]));  // C 5 on, off
  checkNewInputForgets(Buffer.from(header(0, 1, 480).concat(track(notes))), { bytes: demo, native: demoNative });
  await checkUnsignedValues(demo, demoNative);
  await checkTooLarge(demo, demoNative);
  await checkLittleMemoryLeft(demo, demoNative, oneKey.bytes, oneKey.native);
}
await checkSignaturePositions();
console.log(`${all.length} files listed by both programs, names files and the worker's answers checked, in ${((Date.now() - started) / 1000).toFixed(1)} s: ${failures} failures`);
process.exit(failures === 0 ? 0 : 1);
