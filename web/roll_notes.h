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
