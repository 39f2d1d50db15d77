// The WAV worker: writes a sound the page rendered as a WAV file (RIFF, 16-bit PCM), so that the page's
// thread is not held while minutes of sound are turned into bytes. The page starts one for each file,
// from a blob of this bundle, and ends it after. Its messages, each answered in turn:
//   { type: 'start', channels, frames, rate }  a file of that many channels, frames and frames a
//                                              second, its header written: { type: 'taken' }
//   { type: 'samples', at, parts }             each channel's samples from frame `at` on (a Float32Array
//                                              a channel, all of one length): { type: 'taken' }
//   { type: 'end' }                            the file: { type: 'wav', blob } (a Blob 'audio/wav')

const wavFile = {
  bytes: null,   // the file's bytes (an ArrayBuffer), once started
  view: null,    // a DataView of them
  channels: 0,   // channels a frame, their samples interleaved
};

// Starts a file of `channels` channels of `frames` frames at `rate` frames a second, and writes its
// header: RIFF, a format chunk of 16-bit PCM, and the data chunk's head.
function wavStart(channels, frames, rate) {
  const dataBytes = frames * channels * 2;
  wavFile.bytes = new ArrayBuffer(44 + dataBytes);
  wavFile.view = new DataView(wavFile.bytes);
  wavFile.channels = channels;
  const view = wavFile.view;
  const text = (at, s) => { for (let i = 0; i < s.length; i++) view.setUint8(at + i, s.charCodeAt(i)); };
  text(0, 'RIFF');
  view.setUint32(4, 36 + dataBytes, true);
  text(8, 'WAVE');
  text(12, 'fmt ');
  view.setUint32(16, 16, true);                 // the format chunk's length
  view.setUint16(20, 1, true);                  // PCM
  view.setUint16(22, channels, true);
  view.setUint32(24, rate, true);
  view.setUint32(28, rate * channels * 2, true);  // bytes a second
  view.setUint16(32, channels * 2, true);       // bytes a frame
  view.setUint16(34, 16, true);                 // bits a sample
  text(36, 'data');
  view.setUint32(40, dataBytes, true);
}

// Writes each channel's samples from frame `at` on as 16-bit numbers, little end first: a sample is
// held to -1..1 (one that is not a number is 0) and rounded to the nearest 32767th.
function wavSamples(at, parts) {
  const view = wavFile.view, channels = wavFile.channels;
  parts.forEach((data, c) => {
    for (let i = 0, to = 44 + 2 * (at * channels + c); i < data.length; i++, to += 2 * channels) {
      const x = Math.max(-1, Math.min(1, data[i] || 0));
      view.setInt16(to, Math.round(x * 32767), true);
    }
  });
}

self.onmessage = (event) => {
  const m = event.data;
  if (m.type === 'start') {
    wavStart(m.channels, m.frames, m.rate);
    postMessage({ type: 'taken' });
  } else if (m.type === 'samples') {
    wavSamples(m.at, m.parts);
    postMessage({ type: 'taken' });
  } else if (m.type === 'end') {
    const blob = new Blob([wavFile.bytes], { type: 'audio/wav' });
    wavFile.bytes = null;
    wavFile.view = null;
    postMessage({ type: 'wav', blob });
  }
};
