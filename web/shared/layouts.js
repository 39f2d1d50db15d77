// The layouts the listing module hands JavaScript, each described once, here: every reader in the page,
// the listing worker, the SoundFont worker and the audio side takes its field places from these. The
// module reports its own side of them (web_layouts: `area.field=value` lines, named by the C++
// identifiers); layoutFacts() makes the same facts from these descriptions, and a test checks that the
// two agree, so that a field moved or added in C++ can't be read wrongly here.

export const largestInput = 0xffffffff;  // bytes the module takes at most: its sizes are 32 bits, and its memory 4 GiB

// The lists that web_gathered tells of, as (address, count) pairs in this order: the name in C++, the
// name the listing worker reads it by, and its element type.
export const gatheredLists = [
  ['note_starts', 'starts', Uint32Array],                        // each roll note's start tick
  ['note_ends', 'ends', Uint32Array],                            // its end tick
  ['note_keys', 'keys', Uint16Array],                            // its note value + 1 (bits 0-8) and channel (9-12)
  ['track_numbers', 'trackNumbers', Uint32Array],                // each roll track's number in the file
  ['track_first_notes', 'trackFirstNotes', Uint32Array],         // its first note
  ['reckoning_tracks', 'reckoningTracks', Uint32Array],          // the time signatures' tracks
  ['reckoning_totals', 'reckoningTotals', Uint32Array],          // their running totals
  ['reckoning_signatures', 'reckoningSignatures', Uint32Array],  // their values
  ['track_first_blocks', 'trackFirstBlocks', Uint32Array],       // each track's first block of notes
  ['block_ends', 'blockEnds', Uint32Array],                      // each block's latest end
  ['track_in_order', 'inOrder', Uint8Array],                     // 1 where a track's notes start in order
  ['long_notes', 'longNotes', Uint32Array],                      // notes too long for the overview's bins
  ['reckoning_totals_before', 'reckoningTotalsBefore', Uint32Array],  // the totals before each signature
];

// A roll note's key word (note_keys): the note value + 1 below the channel, the channel below the
// note's steps (which the roll keeps for its overview); the roll's bounds the module works by; and a
// reckoning's time signature (reckoning_signatures holds one for each reckoning).
export const noteKeyWord = { channel_shift: 9, steps_shift: 13, steps_kept: 7 };
export const noteKeyValueMask = (1 << noteKeyWord.channel_shift) - 1;  // the note value + 1
export const noteKeyChannelMask = (1 << (noteKeyWord.steps_shift - noteKeyWord.channel_shift)) - 1;  // the channel, once shifted down
export const rollBounds = {
  notes_per_block: 256,          // notes per block whose latest end is kept, to find notes still sounding
  overview_bins: 32768,          // bins across the whole roll in the finest level of the overview
  overview_from_notes: 100000,   // notes from which the overview is made and used
  long_note_bins: 64,            // finest bins a note may span and still be marked in the overview
  no_reckoning: 0xffffffff,      // a track without a reckoning of its own
};
export const signature = { numerator: 0, denominator: 1, seen: 2, fields: 3 };

// The compact copy of what is played (32-bit words): a head, then the lists in this order, each as long
// as the head's count named beside it (tracks + 1 where marked). The data events (system exclusive and
// the meta events of types 1 to 15, in listing order) each have a kind (0xf0 or 0xf7, or the meta
// type) and bytes (those after the event's length, as the file holds them) at an offset and length in
// bytes into data_event_bytes, a byte area of four bytes to a word, the first in the low eight bits.
export const playHead = [
  'format', 'division', 'tracks', 'events', 'long_events', 'controls', 'tempos', 'not_playable', 'data_events', 'data_event_byte_words',
  'data_events_dropped',
];
export const playLists = [
  ['track_first_events', 'tracks+1'], ['track_numbers', 'tracks'], ['track_last_ticks', 'tracks'], ['track_channels', 'tracks'],
  ['track_first_controls', 'tracks+1'], ['event_ticks', 'events'], ['event_bytes', 'events'], ['long_event_indexes', 'long_events'],
  ['long_event_durations', 'long_events'], ['control_ticks', 'controls'], ['control_bytes', 'controls'], ['tempo_ticks', 'tempos'],
  ['tempo_values', 'tempos'], ['tempo_tracks', 'tempos'], ['data_event_ticks', 'data_events'], ['data_event_tracks', 'data_events'],
  ['data_event_kinds', 'data_events'], ['data_event_offsets', 'data_events'], ['data_event_lengths', 'data_events'],
  ['data_event_bytes', 'data_event_byte_words'],
];
export const playLongDuration = 0x3ff;  // a note on's duration field at this value: the duration is in the long events
export const playUnknownDuration = 0xffffffff;  // a long event's duration when the roll has no note for it
// An event word's fields, as bit fields (the duration a note on's only).
export const playEventWord = { status: { shift: 0, bits: 8 }, first: { shift: 8, bits: 7 }, second: { shift: 15, bits: 7 }, duration: { shift: 22, bits: 10 } };

// Where web_position and web_note_position put a position: three words.
export const position = { measure: 0, beat: 1, tick: 2, fields: 3 };

// The SoundFont reader's tables (sf_tables gives one table of words; each preset, region and sample is
// a row of the fields below; `fields` is a row's width).
export const sfTable = {
  preset_count: 0, presets: 1, preset_names: 2, region_count: 3, region_words: 4, region_values: 5,
  sample_count: 6, samples: 7, name: 8, version_major: 9, version_minor: 10, modulator_count: 11, regions_dropped: 12,
  loops_mended: 13, remark: 14, input: 15, input_size: 16,
  preset_fields: 17, region_word_fields: 18, region_value_fields: 19, sample_fields: 20, entries: 21,
};
export const sfPreset = { bank: 0, program: 1, first_region: 2, region_count: 3, fields: 4 };
export const sfRegionWord = {
  key_low: 0, key_high: 1, velocity_low: 2, velocity_high: 3, sample: 4, start: 5, end: 6, loop_start: 7, loop_end: 8,
  loop_mode: 9, root_key: 10, exclusive_class: 11, fields: 12,
};
export const sfRegionValue = {
  coarse_tune: 0, fine_tune: 1, pitch_correction: 2, scale_tuning: 3, attenuation: 4, pan: 5, delay: 6, attack: 7, hold: 8,
  decay: 9, sustain: 10, release: 11, key_to_hold: 12, key_to_decay: 13, filter_cutoff: 14, filter_q: 15, fields: 16,
};
export const sfSample = { byte_offset: 0, byte_length: 1, frames: 2, rate: 3, type: 4, link: 5, fields: 6 };
export const sfPresetNameSize = 21;     // bytes of each preset's name, its zero included
export const sfOggStream = 0x10;        // the sample type bit of an Ogg Vorbis stream
export const sfNoLink = 0xffffffff;     // the link of a sample that has no other of a pair

// The name the module's report gives a field: its C++ enumerator, the area's prefix before the
// field's name here (a row's width named after the row).
const enumerator = (prefix, row, field) => (field === 'fields' ? `${row}_fields` : `${prefix}_${field}`);

// Every fact above as the module's report writes it: a Map from `area.field` to a number.
export function layoutFacts() {
  const facts = new Map();
  gatheredLists.forEach(([name, , Type], i) => {
    facts.set(`gathered.${name}`, i);
    facts.set(`gathered.${name}.bytes`, Type.BYTES_PER_ELEMENT);
  });
  facts.set('gathered.count', gatheredLists.length);
  for (const [field, value] of Object.entries(noteKeyWord)) facts.set(`roll.key_${field}`, value);
  for (const [field, value] of Object.entries(rollBounds)) facts.set(`roll.${field}`, value);
  for (const [area, fields] of [['signature', signature], ['position', position]]) {
    for (const [field, at] of Object.entries(fields)) facts.set(`${area}.${enumerator(area, area, field)}`, at);
  }
  facts.set('play.head_words', playHead.length);
  playHead.forEach((name, i) => facts.set(`play.head.${name}`, i));
  playLists.forEach(([name], i) => facts.set(`play.list.${name}`, i));
  facts.set('play.long_duration', playLongDuration);
  facts.set('play.unknown_duration', playUnknownDuration);
  for (const [word, fields] of [['event', playEventWord]]) {
    for (const [field, { shift, bits }] of Object.entries(fields)) {
      facts.set(`play.${word}.${field}.shift`, shift);
      facts.set(`play.${word}.${field}.bits`, bits);
    }
  }
  const soundFont = [['tables', 'table', 'table', sfTable], ['preset', 'preset', 'preset', sfPreset],
    ['region_word', 'region', 'region_word', sfRegionWord], ['region_value', 'region', 'region_value', sfRegionValue], ['sample', 'sample', 'sample', sfSample]];
  for (const [area, prefix, row, fields] of soundFont) {
    for (const [field, at] of Object.entries(fields)) facts.set(`soundfont.${area}.${enumerator(prefix, row, field)}`, at);
  }
  facts.set('soundfont.preset_name_size', sfPresetNameSize);
  facts.set('soundfont.sample_type_ogg', sfOggStream);
  facts.set('soundfont.sample_no_link', sfNoLink);
  return facts;
}
