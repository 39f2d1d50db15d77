// What the browser page's piano roll is drawn from, gathered in the listing's own pass through its
// watchers: each note from its note on to what ends it, the tracks they belong to, and the time
// signatures the listing reckoned each track's positions with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// ---- notes, by track, each track's in the order of their note on ----
extern std::vector<std::uint32_t> note_starts;  // running total of the note on
extern std::vector<std::uint32_t> note_ends;    // running total of the note off that ended it, or of its track's last event line
// The note byte + 1 (bits 0-8: 0 for a note missing at the end of the input), the channel (bits 9-12)
// and how many reckonings its track began between its note on and what ended it (bits 13-15; 7 for
// seven or more, the reckoning then kept in end_reckonings).
extern std::vector<std::uint16_t> note_keys;
constexpr std::uint32_t key_channel_shift = 9;
constexpr std::uint32_t key_steps_shift = 13;
constexpr std::uint32_t key_steps_kept = 7;  // steps from which the reckoning is kept in end_reckonings
// ---- tracks, in listing order ----
extern std::vector<std::uint32_t> track_numbers;      // number of each listed track
extern std::vector<std::uint32_t> track_first_notes;  // index of each track's first note
// The words of each reckoning's entry in reckoning_signatures, in their order.
enum Signature_field : std::uint32_t { signature_numerator, signature_denominator, signature_seen, signature_fields };
// ---- reckonings: the time signature in force from an event line of a track on, in listing order ----
extern std::vector<std::uint32_t> reckoning_tracks;       // index of the track (in track_numbers)
extern std::vector<std::uint32_t> reckoning_totals;       // running total of the event line from which it holds
extern std::vector<std::uint32_t> reckoning_signatures;   // its numerator, denominator and whether one was seen, signature_fields to each
extern std::vector<std::uint32_t> reckoning_first_notes;  // index of the first note whose note on was listed under it
extern std::vector<std::uint32_t> reckoning_totals_before;  // running total of the line before its first (the one that changed the time signature; for a track's first, its own)
// The notes whose end was listed seven or more reckonings after their note on, with the reckoning of
// that end, by note (a note the memory had no room for here has no reckoning for its end).
extern std::vector<std::pair<std::uint32_t, std::uint32_t>> end_reckonings;
// ---- for drawing: each track's notes in blocks, and the overview ----
constexpr std::uint32_t notes_per_block = 256;
extern std::vector<std::uint32_t> track_first_blocks;  // index in block_ends of each track's first block
extern std::vector<std::uint32_t> block_ends;          // the latest end among each block of notes_per_block notes of a track
extern std::vector<std::uint8_t> track_in_order;       // 1 when a track's notes start in order (0 after a running total wrapped)
// The overview: for each note value (+ 1) a row of overview_bins bins across the roll, each bin
// 2^overview_shift ticks, holding 1 + the index of the topmost track whose note sounds in it (0: none).
// Notes over more than long_note_bins bins are not in it but in long_notes, to be drawn one by one.
// (A note the memory had no room for there is in neither: it is drawn only when the roll zooms in.)
constexpr std::uint32_t overview_bins = 32768;
constexpr std::uint32_t overview_from_notes = 100000;  // the page draws from the overview above this many notes (rollBounds in web/shared/layouts.js); fewer make none
constexpr std::uint32_t long_note_bins = 64;
extern std::uint32_t overview_shift;
extern std::vector<std::uint16_t> overview_rows[257];  // empty for a note value no note has
extern std::vector<std::uint32_t> long_notes;
extern bool roll_cut_short;  // true when the roll holds fewer notes than the file: more than it keeps, or than the memory could hold
extern std::uint32_t roll_last_end;   // the latest end of any note (0 when there is none)
extern std::int32_t roll_lowest_note;   // the lowest note value of any note (-1: missing; 256 when there is none)
extern std::int32_t roll_highest_note;  // the highest note value of any note (-2 when there is none)

// The lists the page reads the roll from, in the order web_gathered hands over their addresses and
// counts: X(list) for each. Both web_gathered and the layouts the module reports (web_layouts) are
// made from this one list, so that the order they tell of can't differ.
#define SMFDUMP_GATHERED_LISTS(X)                                                                        \
    X(note_starts) X(note_ends) X(note_keys) X(track_numbers) X(track_first_notes) X(reckoning_tracks)  \
    X(reckoning_totals) X(reckoning_signatures) X(track_first_blocks) X(block_ends) X(track_in_order) \
    X(long_notes) X(reckoning_totals_before)
// The index of each gathered list among the pairs web_gathered hands over, and their count.
enum Gathered_list : std::uint32_t {
#define SMFDUMP_GATHERED_INDEX(list) gathered_##list,
    SMFDUMP_GATHERED_LISTS(SMFDUMP_GATHERED_INDEX)
#undef SMFDUMP_GATHERED_INDEX
    gathered_lists_count
};

constexpr std::uint32_t no_reckoning = 0xFFFFFFFF;  // what note_reckoning gives for a note the roll does not hold

// Empties what was gathered, makes room for the notes an input of input_size bytes can hold (as many
// as the memory can hold beside what the rest of the listing needs), and puts the gatherers in the
// listing's watchers (after the listing state was reset); at most note_limit notes are kept.
void start_roll_notes(std::size_t input_size, std::size_t note_limit);
// Ends the notes still sounding at the last track's end and takes the gatherers out of the watchers.
void finish_roll_notes();
// Empties what was gathered and gives its memory back.
void forget_roll_notes();
// The index of the reckoning the listing used on the line of note `note`'s note on (at_end false) or
// of what ended it; no_reckoning when there is no such note.
std::uint32_t note_reckoning(std::uint32_t note, bool at_end);
