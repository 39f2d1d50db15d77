// The user's SoundFont: "Load SoundFont…" takes a .sf2 or .sf3 file, a worker of its own reads it with
// the C++ reader (the SoundFont worker), the page decodes the Ogg Vorbis samples of an .sf3 file, and
// the synthesizer plays the zones made of it (soundfont_zones.js) instead of its built-in sound, live
// and in saved WAV files alike. The file is kept in this browser's IndexedDB (SoundFonts are tens of
// megabytes, too big for local storage) and loaded again on the next visit, until "Use built-in
// sound". A file that can't be played gets the reader's sentence, and the sound in use stays.
import { $ } from './dom.js';
import { soundZones } from './sound.js';
import { soundFontZones } from './soundfont_zones.js';
import { sfOggStream, sfSample } from '../shared/layouts.js';

const soundFontDbName = 'smfdump';   // the page's IndexedDB database
const soundFontStoreName = 'soundfont';  // its store of SoundFonts; the one in use is under soundFontKey
const soundFontKey = 'in use';
const soundFontDecoders = 4;         // Ogg Vorbis streams being decoded at once
let soundFontWorker = null;          // the worker reading a SoundFont, while it reads
let soundFontPlaying = null;         // the SoundFont the synthesizer plays: { file, name, title, presets, zones, remark }; null: the built-in sound
let soundFontLoads = 0;              // loads begun so far: a load finding a later one begun gives way to it

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
// visit when options.keep. Resolves with whether it plays.
async function loadSoundFont(file, { keep = false, name = file.name } = {}) {
  soundFontLoads += 1;
  const load = soundFontLoads;
  const stale = () => load !== soundFontLoads;
  showSoundFontProgress(0, `Reading ${name}…`);
  let sentence = null;
  try {
    const read = await readSoundFontInWorker(file, (share) => {
      if (!stale()) showSoundFontProgress(0.6 * share, `Reading ${name}…`);
    });
    if (stale()) return false;
    if (read.sentence) {
      sentence = read.sentence;
    } else {
      const font = read.font;
      const decoded = await decodeSoundFontSamples(font, (share) => {
        if (!stale()) showSoundFontProgress(0.6 + 0.4 * share, `Decoding the samples of ${name}…`);
      });
      if (stale()) return false;
      const { zones, count, dropped } = soundFontZones(font, font.pcm, decoded.frames, decoded.rates);
      if (count === 0) {
        sentence = decoded.sentence || 'The SoundFont has no sample that can be played here.';
      } else {
        const remark = [font.remark, decoded.sentence, dropped > 0 && !decoded.sentence ? `${dropped} regions whose samples could not be had are left out.` : '']
          .filter((s) => s).join(' ');
        // what the synthesizer plays from here on, whatever comes while the samples go over to it
        soundFontPlaying = { file, name, title: font.name, presets: font.presetNames.length, zones, remark };
        await soundZones(zones);
      }
    }
  } catch (error) {
    sentence = `It could not be read here: ${error.message}.`;
  }
  if (stale()) return false;
  showSoundFontProgress(null);
  if (sentence !== null) {
    const stays = soundFontPlaying ? `${soundFontPlaying.name} plays on.` : 'The built-in sound plays on.';
    showSoundState(`${name} can't be played: ${sentence} ${stays}`);
    return false;
  }
  let kept = '';
  if (keep) {
    try {
      await keepSoundFont({ name, blob: file });
      kept = 'It is kept in this browser for your next visit.';
    } catch (error) {
      kept = `This browser would not keep it for your next visit (${error && error.message ? error.message : error}).`;
    }
  }
  if (!stale()) showSoundState([soundFontPlaying.remark, kept].filter((s) => s).join(' '));
  return true;
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
    worker.postMessage({ type: 'soundfont', id: 1, file });
  });
}

// Decodes the Ogg Vorbis streams of an .sf3 file into font.pcm, each at its own rate, with the
// browser's decodeAudioData (in an OfflineAudioContext at the sample's rate, so that the frames are
// the ones the regions count). Resolves with { frames, rates (of each sample, as pcm has it), sentence
// (on what could not be decoded, or '') }.
async function decodeSoundFontSamples(font, onProgress) {
  const count = font.starts.length, F = font.sampleFields;
  const frames = new Float64Array(count), rates = new Float64Array(count);
  for (let i = 0; i < count; i++) {
    rates[i] = font.samples[i * F + sfSample.rate];
    frames[i] = font.samples[i * F + sfSample.type] & sfOggStream ? 0 : font.samples[i * F + sfSample.frames];
  }
  if (font.ogg.length === 0) return { frames, rates, sentence: '' };
  const contexts = new Map();  // an OfflineAudioContext for each rate, or the error making one gave
  const contextAt = (rate) => {
    if (!contexts.has(rate)) {
      try {
        contexts.set(rate, new OfflineAudioContext(1, 1, rate));
      } catch (error) {
        contexts.set(rate, error);
      }
    }
    return contexts.get(rate);
  };
  let next = 0, done = 0, failed = 0, odd = 0;
  const decodeNext = async () => {
    while (next < font.ogg.length) {
      const { sample, bytes } = font.ogg[next++];
      const context = contextAt(rates[sample]);
      if (context instanceof Error) {
        odd += 1;  // a rate the browser's contexts can't have
      } else {
        try {
          const buffer = await context.decodeAudioData(bytes.buffer);
          frames[sample] = soundFontPutSamples(font, sample, buffer.getChannelData(0));
        } catch {
          failed += 1;  // Chromium refuses streams of a few dozen frames
        }
      }
      font.ogg[next - 1] = null;  // its bytes can go
      done += 1;
      onProgress(done / font.ogg.length);
    }
  };
  await Promise.all(Array.from({ length: soundFontDecoders }, decodeNext));
  let sentence = '';
  if (failed === font.ogg.length) {
    sentence = 'This browser can\'t decode the Ogg Vorbis samples of an .sf3 SoundFont; its .sf2 version plays here.';
  } else if (failed + odd > 0) {
    sentence = `${failed + odd} of its ${font.ogg.length} Ogg Vorbis samples could not be decoded here${odd ? ' (rates this browser can\'t decode at)' : ''}; the notes that use them are left out.`;
  }
  return { frames, rates, sentence };
}

// Puts decoded values (Float32Array, -1 to 1) into font.pcm where sample goes, at most as many frames
// as the file counts for it; returns how many went.
function soundFontPutSamples(font, sample, values) {
  const room = font.samples[sample * font.sampleFields + sfSample.frames];
  const n = Math.min(room, values.length), pcm = font.pcm, at = font.starts[sample];
  for (let i = 0; i < n; i++) {
    const x = values[i];
    pcm[at + i] = x >= 1 ? 32767 : x <= -1 ? -32768 : Math.round(x * 32767);
  }
  return n;
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

// Loads the SoundFont kept from the last visit, if there is one; one that no longer plays is forgotten.
async function restoreSoundFont() {
  showSoundState();
  let kept = null;
  try {
    kept = await keptSoundFont();
  } catch {
    return;  // no IndexedDB here (a private window may have none): the built-in sound
  }
  if (!kept || soundFontLoads > 0) return;  // a file chosen meanwhile comes first
  const plays = await loadSoundFont(kept.blob, { name: kept.name });
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

// Resolves with the SoundFont kept in use ({ name, blob }), or null.
export async function keptSoundFont() {
  const db = await soundFontDatabase();
  try {
    return await new Promise((resolve, reject) => {
      const request = db.transaction(soundFontStoreName).objectStore(soundFontStoreName).get(soundFontKey);
      request.onsuccess = () => resolve(request.result || null);
      request.onerror = () => reject(request.error);
    });
  } finally {
    db.close();
  }
}
