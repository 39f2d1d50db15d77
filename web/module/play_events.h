// What playing the file needs, gathered in the listing's own pass through its watchers, so that the
// page plays what the listing reads: every channel event, notes on and off among them, as the file
// has them, and every tempo event, each with its running total and track; and each roll note's
// velocity, for the roll's notes kept beside them (they tell what sounds where; they are not what is
// played). After the listing, a compact copy of it all is made on demand and handed to the page,
// which plays from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "note_velocities.h"  // note_velocities and the channel events, kept by the roll's gatherer too

// ---- gathered in the first listing; tracks are the roll's (indexes into track_numbers) ----
// channel_event_ticks, channel_event_bytes, track_first_events and note_events_kept: see note_velocities.h
extern std::vector<std::uint32_t> tempo_ticks;          // running total of each tempo event, in listing order
extern std::vector<std::uint32_t> tempo_values;         // its microseconds per quarter note, as listed
extern std::vector<std::uint32_t> tempo_tracks;         // its track
extern std::size_t play_events_kept_free;               // bytes of memory the events leave free as they grow, for the listing
extern std::uint32_t events_not_playable;               // channel events, notes and tempos left out of the compact copy (bytes above 127, past a wrapped total, no room)
// the data events: system exclusive (F0 and F7 events) and the meta events of types 1 to 15 (texts),
// in listing order; their bytes side by side in data_event_byte_area
extern std::vector<std::uint32_t> data_event_ticks;     // running total of each
extern std::vector<std::uint32_t> data_event_tracks;    // its track
extern std::vector<std::uint32_t> data_event_kinds;     // 0xF0 or 0xF7, or the meta event's type
extern std::vector<std::uint32_t> data_event_offsets;   // where its bytes start in data_event_byte_area
extern std::vector<std::uint32_t> data_event_lengths;   // how many there are (those the input holds of what its length says)
extern std::vector<std::uint8_t> data_event_byte_area;  // the bytes after each one's length, as the file holds them
extern std::uint32_t data_events_dropped;               // data events left out: past a wrapped total, or once the memory held no more (all after that)

// ---- the compact copy, made by make_play_data; 32-bit words ----
// A head of play_head_words words, then the lists one after another:
//   head: format, division, tracks T, events E, long events L, controls C, tempos P, events not playable,
//         data events D, data event byte words B, data events dropped
//   track_first_events[T + 1], track_numbers[T], track_last_ticks[T], track_channels[T],
//   track_first_controls[T + 1], event_ticks[E], event_bytes[E], long_event_indexes[L],
//   long_event_durations[L], control_ticks[C], control_bytes[C], tempo_ticks[P], tempo_values[P],
//   tempo_tracks[P], data_event_ticks[D], data_event_tracks[D], data_event_kinds[D],
//   data_event_offsets[D], data_event_lengths[D], data_event_bytes[B]
// An event word holds what channel_event_bytes holds and, for a note on, the duration in ticks of the
// roll's note it starts (bits 22-31; 0 for any other event). A duration of long_duration or more, or
// unknown (no roll note: the roll was cut short), holds long_duration there, and the duration itself
// is found in long_event_durations beside the event's index (unknown_duration when unknown). A track's
// last tick is the latest end of its roll notes or tick of its events; its channels, a bit for each
// channel its events use. The controls are the events other than notes (what a start anywhere reads
// to know the state before it), their ticks and words again, track by track, side by side for speed. Each track's
// events are in order of time; the tempos are in listing order (track by track). The data events are
// in listing order too (each track's in order of time, none past a wrap of its total): each one's kind
// (0xF0 or 0xF7 for system exclusive, else the meta event's type, 1 to 15) and its bytes, those after
// its length as the file holds them (a system exclusive's F0 not among them), found at its offset
// (in bytes) and length in data_event_bytes, a byte area of four bytes to a word, the first in the low
// eight bits (little-endian).
// The head's words and the lists are each named once below (X-macros), so that make_play_data and the
// layouts the module reports (web_layouts) take their order and fields from one place.

// The head's words, X(name) for each, in order; play_head_<name> is its index.
#define SMFDUMP_PLAY_HEAD(X)                                                                                     \
    X(format) X(division) X(tracks) X(events) X(long_events) X(controls) X(tempos) X(not_playable) X(data_events) \
    X(data_event_byte_words) X(data_events_dropped)
enum Play_head : std::uint32_t {
#define SMFDUMP_PLAY_HEAD_INDEX(name) play_head_##name,
    SMFDUMP_PLAY_HEAD(SMFDUMP_PLAY_HEAD_INDEX)
#undef SMFDUMP_PLAY_HEAD_INDEX
    play_head_count
};
constexpr std::size_t play_head_words = play_head_count;
static_assert(play_head_words == 11);

// The lists after the head, X(name) for each, in order; play_list_<name> is its place among them.
#define SMFDUMP_PLAY_LISTS(X)                                                                                           \
    X(track_first_events) X(track_numbers) X(track_last_ticks) X(track_channels) X(track_first_controls) X(event_ticks) \
    X(event_bytes) X(long_event_indexes) X(long_event_durations) X(control_ticks) X(control_bytes) X(tempo_ticks)       \
    X(tempo_values) X(tempo_tracks) X(data_event_ticks) X(data_event_tracks) X(data_event_kinds) X(data_event_offsets)  \
    X(data_event_lengths) X(data_event_bytes)
enum Play_list : std::uint32_t {
#define SMFDUMP_PLAY_LIST_INDEX(name) play_list_##name,
    SMFDUMP_PLAY_LISTS(SMFDUMP_PLAY_LIST_INDEX)
#undef SMFDUMP_PLAY_LIST_INDEX
    play_list_count
};
// the tempos are written as one list of three parts
static_assert(play_list_tempo_values == play_list_tempo_ticks + 1 && play_list_tempo_tracks == play_list_tempo_ticks + 2);

// The fields of an event word (channel_event_bytes, and event_bytes of the copy), X(name, shift, bits)
// for each: play_event_<name>_shift and _bits. Its status byte, its first and second data bytes (the
// second 0 for one data byte), and a note on's duration (in the copy only).
#define SMFDUMP_PLAY_EVENT_FIELDS(X) X(status, 0, 8) X(first, 8, 7) X(second, 15, 7) X(duration, 22, 10)
#define SMFDUMP_PLAY_EVENT_FIELD(name, shift, bits)            \
    constexpr std::uint32_t play_event_##name##_shift = shift; \
    constexpr std::uint32_t play_event_##name##_bits = bits;
SMFDUMP_PLAY_EVENT_FIELDS(SMFDUMP_PLAY_EVENT_FIELD)
#undef SMFDUMP_PLAY_EVENT_FIELD
static_assert(play_event_duration_shift + play_event_duration_bits == 32);

constexpr std::uint32_t long_duration = (1u << play_event_duration_bits) - 1;
static_assert(long_duration == 0x3FF);
constexpr std::uint32_t unknown_duration = 0xFFFFFFFF;  // a long duration that is not known
extern std::vector<std::uint32_t> play_data;

// Empties what was gathered, makes room for a velocity for each note the roll has room for, and puts
// the gatherers of channel, tempo and data events in the listing's watchers (the roll's note gatherer keeps
// the velocities and hands on the note events); the events leave memory free beside them for the
// listing of an input of input_size bytes. Call after start_roll_notes.
void start_play_events(std::size_t input_size);
// Takes the gatherers out of the watchers.
void finish_play_events();
// Makes play_data from what was gathered, with the durations of the roll's notes (once they are
// ended): only what a MIDI output can take (data bytes 0 to 127), each track in order of time; and the
// data events kept. When the memory can't hold it, the copy has no tracks and no data events (and
// everything is counted as left out or dropped).
void make_play_data(std::int32_t format, std::uint32_t division);
// Lets go of play_data and of everything gathered for it.
void release_play_events();
