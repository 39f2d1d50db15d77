// The user's SoundFont: "Load SoundFont…" takes a .sf2 or .sf3 file, a worker of its own reads it with
// the C++ reader (the SoundFont worker), the page decodes the Ogg Vorbis samples of an .sf3 file, and
// the synthesizer plays the zones made of it (soundfont_zones.js) instead of its built-in sound, live
// and in saved WAV files alike. The file is kept in this browser's IndexedDB (SoundFonts are tens of
// megabytes, too big for local storage) and loaded again on the next visit, until "Use built-in
// sound". A file that can't be played gets the reader's sentence, and the sound in use stays.
import { $ } from './dom.js';
import { soundZones } from './sound.js';
import { soundFontZones } from './soundfont_zones.js';
import { sfOggStream, sfRegionWord, sfSample } from '../shared/layouts.js';

const soundFontDbName = 'smfdump';   // the page's IndexedDB database
const soundFontStoreName = 'soundfont';  // its store of SoundFonts; the one in use is under soundFontKey
const soundFontKey = 'in use';
const soundFontDecoders = 4;         // Ogg Vorbis streams being decoded at once
let soundFontWorker = null;          // the worker reading a SoundFont, while it reads
let soundFontPlaying = null;         // the SoundFont the synthesizer plays: { file, name, title, presets, remark }; null: the built-in sound
let soundFontLoads = 0;              // loads begun so far: a load finding a later one begun gives way to it
let soundFontFrames = 0;             // frames of samples the page made for the last SoundFont it took: its 16-bit ones and those decoded

// Connects the buttons and loads the SoundFont kept from the last visit, if any.
export function startSoundFont() {
  $('soundfont').onclick = () => $('soundfont-input').click();
  $('soundfont-input').onchange = (event) => {
    const file = event.target.files[0];
    event.target.value = '';
    if (file) loadSoundFont(file, { keep: true });
  };
  $('soundfont-reset').onclick = useBuiltInSound;
  restoreSoundFont();
}

// Says what plays, and a remark after it (a sentence on the last load, or ''). The line is hidden
// while the built-in sound plays and there is nothing to say: the header keeps to one row.
function showSoundState(remark = '') {
  const f = soundFontPlaying;
  const what = f
    ? `Sound: the SoundFont ${f.name}${f.title && f.title !== f.name ? ` (“${f.title}”)` : ''}, ${f.presets} presets.`
    : 'Sound: the built-in General MIDI synthesizer.';
  $('sound-state').textContent = remark ? `${what} ${remark}` : what;
  $('soundfont-reset').hidden = f === null;
  $('sound-line').hidden = f === null && remark === '' && $('soundfont-progress-box').hidden;
}

// Shows how far a load has come (0 to 1), or hides the bar (null).
function showSoundFontProgress(share, text = '') {
  $('soundfont-progress-box').hidden = share === null;
  if (share !== null) $('sound-line').hidden = false;
  if (share === null) return;
  $('soundfont-progress').value = share;
  $('soundfont-progress-text').textContent = text;
}

// Loads a SoundFont file (a File, or a Blob with a name) and plays it from now on; kept for the next
// visit when options.keep; options.kept: the file is the copy this browser kept. Resolves with whether
// it plays. What it says names the file: the user's by its name, the kept copy as this browser's.
async function loadSoundFont(file, { keep = false, name = file.name, kept = false } = {}) {
  soundFontLoads += 1;
  const load = soundFontLoads;
  const stale = () => load !== soundFontLoads;
  const who = kept ? `The copy of ${name} kept in this browser` : name;
  showSoundFontProgress(0, `Reading ${name}…`);
  let sentence = null;
  try {
    const read = await readSoundFontInWorker(file, (share) => {
      if (!stale()) showSoundFontProgress(0.6 * share, `Reading ${name}…`);
    });
    if (stale()) return false;
    if (read.unreadable) {
      sentence = kept ? 'This browser could not give back its bytes.' : 'This browser could not read the file; it may have been moved or changed since it was chosen.';
    } else if (read.sentence) {
      sentence = read.sentence;
    } else {
      const font = read.font;
      const decoded = await decodeSoundFontSamples(font, (share) => {
        if (!stale()) showSoundFontProgress(0.6 + 0.4 * share, `Decoding the samples of ${name}…`);
      });
      if (stale()) return false;
      soundFontFrames = decoded.pcm.length;
      const { zones, count, dropped } = soundFontZones(font, decoded.pcm, decoded.frames, decoded.rates);
      if (count === 0) {
        sentence = decoded.sentence || 'The SoundFont has no sample that can be played here.';
      } else {
        const remark = [font.remark, decoded.sentence, dropped > 0 && !decoded.sentence ? `${dropped} regions whose samples could not be had are left out.` : '']
          .filter((s) => s).join(' ');
        // what the synthesizer plays from here on, whatever comes while the samples go over to it
        soundFontPlaying = { file, name, title: font.name, presets: font.presetNames.length, remark };
        await soundZones(zones);
      }
    }
  } catch {
    // a worker that stopped, or memory the page could not have: never the browser's own words
    sentence = 'The page could not finish reading it; it may be short of memory.';
  }
  if (stale()) return false;
  showSoundFontProgress(null);
  if (sentence !== null) {
    const stays = soundFontPlaying ? `${soundFontPlaying.name} plays on.` : 'The built-in sound plays on.';
    showSoundState(`${who} can't be played: ${sentence} ${stays}`);
    return false;
  }
  let keeping = '';
  if (keep) {
    try {
      await keepSoundFont({ name, blob: file });
      keeping = 'It is kept in this browser for your next visit.';
    } catch (error) {
      // nothing older comes back on the next visit in its place
      await keepSoundFont(null).catch(() => {});
      keeping = error && error.name === 'QuotaExceededError'
        ? 'It plays now, but this browser has no room to keep it for your next visit.'
        : 'It plays now, but this browser would not keep it for your next visit.';
    }
  }
  if (!stale()) showSoundState([soundFontPlaying.remark, keeping].filter((s) => s).join(' '));
  return true;
}

// Frames of samples the page made for the last SoundFont it took (the 16-bit ones and those decoded).
export function soundFontFramesMade() {
  return soundFontFrames;
}

// Reads file in a worker of its own (the SoundFont worker, with the module whose reader reads it):
// the listing is not held up, and the memory the reading took goes back when the worker ends. Resolves
// with the worker's answer: { sentence } or { font } (see soundfont_worker/main.js).
function readSoundFontInWorker(file, onProgress) {
  if (soundFontWorker) soundFontWorker.terminate();  // a read no longer wanted
  const url = URL.createObjectURL(new Blob([$('module-source').textContent, '\n', $('soundfont-worker-source').textContent], { type: 'text/javascript' }));
  const worker = new Worker(url);
  soundFontWorker = worker;
  const ended = () => {
    worker.terminate();
    URL.revokeObjectURL(url);
    if (soundFontWorker === worker) soundFontWorker = null;
  };
  return new Promise((resolve, reject) => {
    worker.onmessage = (event) => {
      const m = event.data;
      if (m.type === 'progress') {
        onProgress(m.share);
      } else if (m.type === 'soundfont') {
        ended();
        resolve(m);
      } else if (m.type === 'error') {
        ended();
        reject(new Error(m.message));
      }
    };
    worker.onerror = (event) => {
      ended();
      reject(new Error(event.message || 'the reading stopped'));
    };
    worker.postMessage({ type: 'soundfont', id: 1, file, size: file.size });
  });
}

// Decodes the Ogg Vorbis streams of an .sf3 file with the browser's decodeAudioData (in an
// OfflineAudioContext at the sample's rate, so that the frames are the ones the regions count), each
// distinct stream once, and keeps of each what it decodes to and the regions can use: never what the
// file claims, nor more than soundFontFramesMost frames in all. Streams that overlap others are decoded
// only while all decoded come to no more than twice the bytes the streams cover together. Resolves with { pcm (font.pcm, the
// decoded frames after it), frames, rates (of each sample, as pcm has it), sentence (on what could not
// be had, or '') }; font.starts tells where each sample's frames are.
async function decodeSoundFontSamples(font, onProgress) {
  const count = font.starts.length, F = font.sampleFields;
  const frames = new Float64Array(count), rates = new Float64Array(count);
  let oggSamples = 0;
  for (let i = 0; i < count; i++) {
    const ogg = (font.samples[i * F + sfSample.type] & sfOggStream) !== 0;
    rates[i] = font.samples[i * F + sfSample.rate];
    frames[i] = ogg ? 0 : font.samples[i * F + sfSample.frames];
    if (ogg && font.samples[i * F + sfSample.byte_length] > 0) oggSamples += 1;
  }
  if (font.ogg.length === 0) return { pcm: font.pcm, frames, rates, sentence: '' };
  const used = soundFontFramesUsed(font);
  const contexts = new Map();  // an OfflineAudioContext for each rate
  const contextAt = (rate) => {
    if (!contexts.has(rate)) {
      try {
        contexts.set(rate, new OfflineAudioContext(1, 1, rate));
      } catch {
        // a rate this browser's contexts can't have: decoded at another, which the regions are scaled to
        contexts.set(rate, rate === soundFontDecodeRate ? null : contextAt(soundFontDecodeRate));
      }
    }
    return contexts.get(rate);
  };
  const decoded = new Array(font.ogg.length).fill(null);  // each stream's frames kept: { samples, pcm, rate }
  let next = 0, done = 0, kept = 0, bytesLeft = 2 * font.oggBytes.length;
  const faults = { damaged: 0, short: 0, lengths: 0, over: 0, overlaps: 0 };  // samples of each kind of fault
  const decodeNext = async () => {
    while (next < font.ogg.length) {
      const k = next++;
      const stream = font.ogg[k];
      font.ogg[k] = null;
      const first = stream.samples[0], claimed = font.samples[first * F + sfSample.frames];
      let buffer = null;
      if (stream.samples.every((s) => used[s] === 0)) {
        // no region plays it: not decoded
      } else if ((bytesLeft -= stream.length) < 0) {
        faults.overlaps += stream.samples.length;
      } else {
        try {
          // a copy of its own: the decoder takes the bytes it is given
          buffer = await contextAt(rates[first]).decodeAudioData(font.oggBytes.slice(stream.at, stream.at + stream.length).buffer);
        } catch {
          // Chromium refuses streams of a few dozen frames; longer ones that fail are damaged
          if (claimed < soundFontShortest) faults.short += stream.samples.length;
          else faults.damaged += stream.samples.length;
        }
      }
      if (buffer !== null) {
        const rate = buffer.sampleRate;
        let want = 0;  // the frames the regions play, at the rate decoded
        for (const s of stream.samples) want = Math.max(want, Math.ceil((used[s] * rate) / font.samples[s * F + sfSample.rate]));
        const n = Math.min(buffer.length, want);
        if (Math.abs(buffer.length - (claimed * rate) / rates[first]) > soundFontLengthSlack) faults.lengths += stream.samples.length;
        if (kept + n > soundFontFramesMost) {
          faults.over += stream.samples.length;
        } else {
          decoded[k] = { samples: stream.samples, pcm: soundFontInt16(buffer.getChannelData(0), n), rate };
          kept += n;
        }
      }
      done += 1;
      onProgress(done / font.ogg.length);
    }
  };
  await Promise.all(Array.from({ length: soundFontDecoders }, decodeNext));
  // the 16-bit samples, then each stream's frames
  const pcm = new Int16Array(font.pcm.length + kept);
  pcm.set(font.pcm);
  let at = font.pcm.length;
  decoded.forEach((d, k) => {
    if (d === null) return;
    pcm.set(d.pcm, at);
    for (const s of d.samples) {
      font.starts[s] = at;
      frames[s] = d.pcm.length;
      rates[s] = d.rate;
    }
    at += d.pcm.length;
    decoded[k] = null;
  });
  font.pcm = null;
  font.oggBytes = null;
  return { pcm, frames, rates, sentence: soundFontDecodeSentence(faults, oggSamples) };
}

const soundFontDecodeRate = 48000;   // frames a second of a stream whose own rate no context here takes
const soundFontShortest = 1024;      // frames: a stream claiming fewer that won't decode is too short for the browser
const soundFontLengthSlack = 4096;   // frames a stream may decode to beyond its claim (a Vorbis block) and not be said
const soundFontFramesMost = 2 ** 30; // frames the page keeps of all samples: 2 GB

// What the faults found while decoding tell ({ damaged, short, lengths, over, overlaps }: samples of each), in
// the page's words, of a file with `all` Ogg Vorbis samples; '' for none.
function soundFontDecodeSentence(faults, all) {
  const sentences = [];
  if (faults.damaged === all) sentences.push('None of its Ogg Vorbis samples can be decoded; they are damaged.');
  else if (faults.damaged > 0) sentences.push(`${faults.damaged} of its ${all} Ogg Vorbis samples are damaged and can't be decoded; the notes that use them are left out.`);
  if (faults.short > 0) sentences.push(`${faults.short} of its ${all} Ogg Vorbis samples are too short for this browser to decode; the notes that use them are left out.`);
  if (faults.lengths > 0) sentences.push(`${faults.lengths} of its ${all} Ogg Vorbis samples decode to another length than the file claims; each plays what it holds.`);
  if (faults.overlaps > 0) sentences.push(`${faults.overlaps} of its ${all} Ogg Vorbis samples are left out: their streams overlap others more than the file holds.`);
  if (faults.over > 0) sentences.push(`${faults.over} of its Ogg Vorbis samples are left out: with them its samples would take more than 2 GB.`);
  return sentences.join(' ');
}

// For each sample of font, the frames its regions play from its first (their furthest end): what a
// decoded stream need keep.
function soundFontFramesUsed(font) {
  const used = new Float64Array(font.starts.length), W = font.regionWordFields;
  for (let r = 0; r < font.regionWords.length / W; r++) {
    const sample = font.regionWords[r * W + sfRegionWord.sample];
    if (sample < used.length) used[sample] = Math.max(used[sample], font.regionWords[r * W + sfRegionWord.end]);
  }
  return used;
}

// The first n decoded values (Float32Array, -1 to 1) as 16-bit samples.
function soundFontInt16(values, n) {
  const out = new Int16Array(n);
  for (let i = 0; i < n; i++) {
    const x = values[i];
    out[i] = x >= 1 ? 32767 : x <= -1 ? -32768 : Math.round(x * 32767);
  }
  return out;
}

// Gives back the built-in sound, and forgets the kept SoundFont.
async function useBuiltInSound() {
  soundFontLoads += 1;  // a load going on gives way
  if (soundFontWorker) soundFontWorker.terminate();
  soundFontWorker = null;
  showSoundFontProgress(null);
  soundFontPlaying = null;
  soundZones([]);
  showSoundState();
  try {
    await keepSoundFont(null);
  } catch {
    // nothing was kept, or the browser keeps nothing
  }
}

// Loads the SoundFont kept from the last visit, if there is one; one that no longer plays is forgotten,
// and what this browser kept that is not a SoundFont kept by this page is forgotten with a sentence.
async function restoreSoundFont() {
  showSoundState();
  let db = null;
  try {
    db = await soundFontDatabase();
  } catch {
    return;  // no IndexedDB here (a private window may have none): the built-in sound
  }
  let kept = null, whole = true;
  try {
    kept = await keptSoundFont(db);
    whole = kept === null || (typeof kept === 'object' && typeof kept.name === 'string' && kept.blob instanceof Blob);
  } catch {
    whole = false;  // the store could not be read
  } finally {
    db.close();
  }
  if (soundFontLoads > 0) return;  // a file chosen meanwhile comes first
  if (!whole) {
    await keepSoundFont(null).catch(() => {});
    showSoundState('What this browser kept of your last SoundFont is damaged, so the built-in sound plays; load the SoundFont again to use it.');
    return;
  }
  if (kept === null) return;
  const plays = await loadSoundFont(kept.blob, { name: kept.name, kept: true });
  if (plays) {
    showSoundState([soundFontPlaying.remark, 'It was kept from your last visit.'].filter((s) => s).join(' '));
  } else if (soundFontPlaying === null) {
    await keepSoundFont(null).catch(() => {});
  }
}

// Opens the page's IndexedDB database; resolves with it.
function soundFontDatabase() {
  return new Promise((resolve, reject) => {
    const request = indexedDB.open(soundFontDbName, 1);
    request.onupgradeneeded = () => request.result.createObjectStore(soundFontStoreName);
    request.onsuccess = () => resolve(request.result);
    request.onerror = () => reject(request.error);
  });
}

// Keeps { name, blob } as the SoundFont in use (the browser stores the file's bytes), or forgets it
// (null); resolves once stored.
async function keepSoundFont(entry) {
  const db = await soundFontDatabase();
  try {
    await new Promise((resolve, reject) => {
      const change = db.transaction(soundFontStoreName, 'readwrite');
      const store = change.objectStore(soundFontStoreName);
      if (entry) store.put(entry, soundFontKey);
      else store.delete(soundFontKey);
      change.oncomplete = () => resolve();
      change.onerror = () => reject(change.error);
      change.onabort = () => reject(change.error || new Error('the storing was given up'));
    });
  } finally {
    db.close();
  }
}

// Resolves with what is kept as the SoundFont in use ({ name, blob } as this page keeps it), or null;
// in the database db when given, else in its own connection.
export async function keptSoundFont(db = null) {
  const open = db || await soundFontDatabase();
  try {
    return await new Promise((resolve, reject) => {
      const request = open.transaction(soundFontStoreName).objectStore(soundFontStoreName).get(soundFontKey);
      request.onsuccess = () => resolve(request.result ?? null);
      request.onerror = () => reject(request.error);
    });
  } finally {
    if (!db) open.close();
  }
}
