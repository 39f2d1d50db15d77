// The compact copy's reader and the packing of messages, against copies laid out word by word here.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { playHead, playLists } from './layouts.js';
import { packMessage, packedFirst, packedSecond, packedStatus } from './packing.js';
import { playDataEventBytes, playDataEvents, readPlayData } from './play_data.js';

test('each list of the compact copy is read from its own place, as long as its count says', () => {
  // format 1, division 384, 2 tracks, 4 events, 1 long event, 3 controls, 2 tempos, 5 left out,
  // 3 data events of 7 bytes in 2 words, 6 data events dropped
  const head = [1, 384, 2, 4, 1, 3, 2, 5, 3, 2, 6];
  const lists = {
    track_first_events: [0, 1, 4], track_numbers: [1, 2], track_last_ticks: [700, 900], track_channels: [1, 6], track_first_controls: [0, 1, 3],
    event_ticks: [11, 21, 31, 41], event_bytes: [201, 202, 203, 204], long_event_indexes: [2], long_event_durations: [99999],
    control_ticks: [11, 21, 41], control_bytes: [201, 202, 204], tempo_ticks: [0, 480], tempo_values: [500000, 400000], tempo_tracks: [0, 0],
    // a track name "Hi" (meta type 3) on track 0 at 0; on track 1 at 12 a system exclusive F0 7E 7F 09 01 F7
    // (its F0 not among its bytes), and at 13 an empty F7 event
    data_event_ticks: [0, 12, 13], data_event_tracks: [0, 1, 1], data_event_kinds: [3, 0xf0, 0xf7], data_event_offsets: [0, 2, 7],
    data_event_lengths: [2, 5, 0],
    // the bytes 'H' 'i' 0x7e 0x7f | 0x09 0x01 0xf7, four to a word, the first lowest
    data_event_bytes: [0x48 | (0x69 << 8) | (0x7e << 16) | (0x7f << 24), 0x09 | (0x01 << 8) | (0xf7 << 16)],
  };
  const words = Uint32Array.from([...head, ...playLists.flatMap(([name]) => lists[name])]);
  const read = readPlayData(words.buffer);
  assert.deepEqual(Object.keys(read.head), playHead);
  assert.deepEqual(Object.values(read.head), head);
  for (const [name] of playLists) assert.deepEqual([...read.lists[name]], lists[name], name);
  for (const events of [playDataEvents(read), playDataEvents(words.buffer)]) {
    assert.deepEqual([...events.kinds], [3, 0xf0, 0xf7]);
    assert.deepEqual([0, 1, 2].map((i) => [...playDataEventBytes(events, i)]), [[0x48, 0x69], [0x7e, 0x7f, 0x09, 0x01, 0xf7], []]);
  }
});

test('a packed message keeps its three bytes apart', () => {
  const word = packMessage(0xb3, 91, 127);
  assert.equal(word, 0xb3 | (91 << 8) | (127 << 16));
  assert.deepEqual([packedStatus(word), packedFirst(word), packedSecond(word)], [0xb3, 91, 127]);
  assert.deepEqual([packedStatus(packMessage(0xc9, 5, 0)), packedFirst(packMessage(0xc9, 5, 0)), packedSecond(packMessage(0xc9, 5, 0))], [0xc9, 5, 0]);
});
