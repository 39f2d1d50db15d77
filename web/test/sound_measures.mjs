// Measures of sound rendered in the page, for the page's sound tests: installMeasures runs inside the
// page (page.evaluate(installMeasures)) and leaves window.soundTest, which renders MIDI messages with
// the page's soundRender and measures the last render; unlike compares two of its characters.

// Measures of the last render, run inside the page: window.soundTest.
export function installMeasures() {
  const mono = (b) => { const l = b.getChannelData(0), r = b.getChannelData(1); return l.map((x, i) => (x + r[i]) / 2); };
  let sound = null;  // the last render, both channels averaged
  let kept = null;   // a render kept to compare others with
  let rateNow = 0;
  const at = (seconds) => Math.round(seconds * rateNow);
  const rms = (from, to) => {
    let sum = 0;
    const a = at(from), b = Math.min(sound.length, at(to));
    for (let i = a; i < b; i++) sum += sound[i] * sound[i];
    return Math.sqrt(sum / Math.max(1, b - a));
  };
  window.soundTest = {
    // renders [[time, ...bytes]] for seconds; packed into a Float64Array when asked
    async render(events, seconds, packed) {
      const given = packed ? new Float64Array(events.flatMap(([time, s, d1 = 0, d2 = 0]) => [time, s | (d1 << 8) | (d2 << 16)]))
        : events.map(([time, ...bytes]) => ({ time, bytes }));
      let reports = 0;
      const result = await window.smfdumpPage.soundRender(given, seconds, () => { reports += 1; });
      sound = mono(result.buffer);
      rateNow = result.buffer.sampleRate;
      window.soundTest.last = result;
      return { stats: result.stats, ms: result.ms, frames: result.buffer.length, rate: rateNow, reports };
    },
    rms,
    // the end of the first 5 ms window (moved 0.5 ms at a time) from `from` whose RMS passes level
    onset(from, to, level) {
      for (let t = from; t + 0.005 <= to; t += 0.0005) if (rms(t, t + 0.005) > level) return t + 0.005;
      return null;
    },
    // the first frame from `from` not exactly zero
    firstSound(from) {
      for (let i = at(from); i < sound.length; i++) if (sound[i] !== 0) return i;
      return null;
    },
    // the frequency from zero crossings (upward) between from and to
    frequency(from, to) {
      let first = null, last = null, count = 0;
      for (let i = at(from) + 1; i < at(to); i++) {
        if (sound[i - 1] < 0 && sound[i] >= 0) {
          const t = i - 1 + sound[i - 1] / (sound[i - 1] - sound[i]);
          if (first === null) first = t; else count += 1;
          last = t;
        }
      }
      return (count * rateNow) / (last - first);
    },
    // the frequency from the autocorrelation between from and to: its first strong peak gives the
    // period roughly, the peak nearest as many periods as half the window holds gives it finely (for
    // sounds with overtones, whose zero crossings mislead)
    pitch(from, to) {
      const a = at(from), n = at(to) - a;
      const r = (lag) => {
        let sum = 0;
        for (let i = a; i + lag < a + n; i++) sum += sound[i] * sound[i + lag];
        return sum / (n - lag);
      };
      const lags = [];
      for (let lag = 0; lag < rateNow / 40; lag++) lags.push(r(lag));
      const top = Math.max(...lags.slice(rateNow / 2000));
      let rough = 0;
      for (let lag = Math.round(rateNow / 2000); lag < lags.length - 1 && !rough; lag++) {
        if (lags[lag] > 0.9 * top && lags[lag] >= lags[lag - 1] && lags[lag] >= lags[lag + 1]) rough = lag;
      }
      const periods = Math.floor(n / 2 / rough);
      let best = 0, bestValue = -Infinity;
      for (let lag = Math.round((periods - 0.3) * rough); lag <= Math.round((periods + 0.3) * rough); lag++) {
        const value = r(lag);
        if (value > bestValue) { bestValue = value; best = lag; }
      }
      const before = r(best - 1), after = r(best + 1);
      const peak = best + (before - after) / (2 * (before - 2 * bestValue + after));
      return (rateNow * periods) / peak;
    },
    // keeps the last render, to compare the next ones with
    keep() { kept = sound; },
    // how alike the kept render and the last are between from and to: their correlation, 1 the same
    likeness(from, to) {
      let both = 0, k = 0, s = 0;
      for (let i = at(from); i < at(to); i++) { both += kept[i] * sound[i]; k += kept[i] ** 2; s += sound[i] ** 2; }
      return both / Math.sqrt(k * s);
    },
    // how alike two stretches of the last render are, `seconds` long from a and from b: their correlation
    alike(a, b, seconds) {
      let both = 0, x = 0, y = 0;
      for (let i = 0, ia = at(a), ib = at(b); i < at(seconds); i++) {
        both += sound[ia + i] * sound[ib + i]; x += sound[ia + i] ** 2; y += sound[ib + i] ** 2;
      }
      return both / Math.sqrt(x * y);
    },
    // a note's character: its RMS envelope in six 40 ms windows (scaled to its loudest), its
    // brightness (RMS of the first difference over RMS) and its zero crossings a second
    character(from) {
      const envelope = [];
      for (let w = 0; w < 6; w++) envelope.push(rms(from + w * 0.04, from + (w + 1) * 0.04));
      const loudest = Math.max(...envelope);
      let d = 0, q = 0, crossings = 0;
      for (let i = at(from + 0.02) + 1; i < at(from + 0.2); i++) {
        d += (sound[i] - sound[i - 1]) ** 2;
        q += sound[i] ** 2;
        if ((sound[i] >= 0) !== (sound[i - 1] >= 0)) crossings += 1;
      }
      return { envelope: envelope.map((e) => e / loudest), brightness: Math.sqrt(d / q), crossings: crossings / 0.18 };
    },
  };
}

// How far apart two characters are: 0 for the same sound.
export function unlike(a, b) {
  let e = 0;
  for (let i = 0; i < 6; i++) e += Math.abs(a.envelope[i] - b.envelope[i]);
  return e / 6 + Math.abs(Math.log(a.brightness / b.brightness)) + Math.abs(Math.log(a.crossings / b.crossings));
}
