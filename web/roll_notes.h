// What the browser page's piano roll is drawn from, gathered in the listing's own pass through its
// watchers: each note from its note on to what ends it, the tracks they belong to, and the time
// signatures the listing reckoned each track's positions with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// ---- notes, by track, each track's in the order of their note on ----
extern std::vector<std::uint32_t> note_starts;  // running total of the note on
extern std::vector<std::uint32_t> note_ends;    // running total of the note off that ended it, or of its track's last event line
extern std::vector<std::uint16_t> note_keys;    // the note byte + 1 (bits 0-8: 0 for a note missing at the end of the input) and the channel (bits 9-12)
// ---- tracks, in listing order ----
extern std::vector<std::uint32_t> track_numbers;      // number of each listed track
extern std::vector<std::uint32_t> track_first_notes;  // index of each track's first note
// ---- reckonings: the time signature in force from an event line of a track on ----
extern std::vector<std::uint32_t> reckoning_tracks;      // index of the track (in track_numbers)
extern std::vector<std::uint32_t> reckoning_totals;      // running total of the event line from which it holds
extern std::vector<std::uint32_t> reckoning_signatures;  // its numerator, denominator and whether one was seen, three to each
// ---- for drawing: each track's notes in blocks, and the overview ----
constexpr std::uint32_t notes_per_block = 256;
extern std::vector<std::uint32_t> track_first_blocks;  // index in block_ends of each track's first block
extern std::vector<std::uint32_t> block_ends;          // the latest end among each block of notes_per_block notes of a track
extern std::vector<std::uint8_t> track_in_order;       // 1 when a track's notes start in order (0 after a running total wrapped)
// The overview: for each note value (+ 1) a row of overview_bins bins across the roll, each bin
// 2^overview_shift ticks, holding 1 + the index of the topmost track whose note sounds in it (0: none).
// Notes over more than long_note_bins bins are not in it but in long_notes, to be drawn one by one.
constexpr std::uint32_t overview_bins = 32768;
constexpr std::uint32_t long_note_bins = 64;
extern std::uint32_t overview_shift;
extern std::vector<std::uint16_t> overview_rows[257];  // empty for a note value no note has
extern std::vector<std::uint32_t> long_notes;
extern bool roll_cut_short;  // true when the file held more notes than the roll keeps
extern std::uint32_t roll_last_end;   // the latest end of any note (0 when there is none)
extern std::int32_t roll_lowest_note;   // the lowest note value of any note (-1: missing; 256 when there is none)
extern std::int32_t roll_highest_note;  // the highest note value of any note (-2 when there is none)

// Empties what was gathered, makes room for the notes an input of input_size bytes can hold, and puts
// the gatherers in the listing's watchers (after the listing state was reset); at most note_limit
// notes are kept.
void start_roll_notes(std::size_t input_size, std::size_t note_limit);
// Ends the notes still sounding at the last track's end and takes the gatherers out of the watchers.
void finish_roll_notes();
