// The compact copy's reader and the packing of messages, against copies laid out word by word here.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { playHead, playLists } from './layouts.js';
import { packMessage, packedFirst, packedSecond, packedStatus } from './packing.js';
import { readPlayData } from './play_data.js';

test('each list of the compact copy is read from its own place, as long as its count says', () => {
  // format 1, division 384, 2 tracks, 4 events, 1 long event, 3 controls, 2 tempos, 5 left out
  const head = [1, 384, 2, 4, 1, 3, 2, 5];
  const lists = {
    track_first_events: [0, 1, 4], track_numbers: [1, 2], track_last_ticks: [700, 900], track_channels: [1, 6], track_first_controls: [0, 1, 3],
    event_ticks: [11, 21, 31, 41], event_bytes: [201, 202, 203, 204], long_event_indexes: [2], long_event_durations: [99999],
    control_ticks: [11, 21, 41], control_bytes: [201, 202, 204], tempo_ticks: [0, 480], tempo_values: [500000, 400000], tempo_tracks: [0, 0],
  };
  const words = Uint32Array.from([...head, ...playLists.flatMap(([name]) => lists[name])]);
  const read = readPlayData(words.buffer);
  assert.deepEqual(Object.keys(read.head), playHead);
  assert.deepEqual(Object.values(read.head), head);
  for (const [name] of playLists) assert.deepEqual([...read.lists[name]], lists[name], name);
});

test('a packed message keeps its three bytes apart', () => {
  const word = packMessage(0xb3, 91, 127);
  assert.equal(word, 0xb3 | (91 << 8) | (127 << 16));
  assert.deepEqual([packedStatus(word), packedFirst(word), packedSecond(word)], [0xb3, 91, 127]);
  assert.deepEqual([packedStatus(packMessage(0xc9, 5, 0)), packedFirst(packMessage(0xc9, 5, 0)), packedSecond(packMessage(0xc9, 5, 0))], [0xc9, 5, 0]);
});
