// The prefix of every event line: track number, position label and measure:beat:tick.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

extern std::uint32_t pos_measure;  // measure of the last event line, counted from 0
extern std::uint32_t pos_beat;     // beat within that measure, counted from 0
extern std::uint32_t pos_tick;     // ticks past that beat (the running total itself for time-code divisions)

// The last beat reckoned in full, so that later totals within the same beat need no division:
extern std::uint64_t beat_first_total;  // the first running total that falls in that beat
extern std::uint64_t beat_end_total;    // the first running total past it (equal to the first when nothing is kept)
extern std::uint32_t beat_tick_origin;  // what is taken from a total in that beat to give its tick
extern std::uint32_t beat_reckoned_with[4];  // division, numerator, denominator and whether a signature was seen

// The part of the line prefix before the tick, kept as text while track, measure and beat stay the same:
constexpr std::size_t line_head_size = 48;  // room for the longest head (34 characters) and whole-block copies
extern char line_head_text[line_head_size];  // track number, position label, "measure:beat:"
extern std::uint32_t line_head_length;       // characters of line_head_text in use
extern std::uint32_t line_head_made_for[4];  // track, measure, beat and label it was made for; a label of 0: none made

// Writes the track number right-aligned in 3 places, the position label and measure:beat:tick.
void show_line_prefix();
// Reckons the position of running_total and writes the whole line prefix at `at`, which has room for
// line_head_size + 10 characters; returns the end of what it wrote.
char* write_line_prefix(char* at);
// Copies the kept line head to `at` (room for line_head_size); returns its end.
inline char* copy_line_head(char* at) {
    std::memcpy(at, line_head_text, 16);
    if (line_head_length > 16) std::memcpy(at + 16, line_head_text + 16, line_head_size - 16);
    return at + line_head_length;
}
// Reckons pos_measure, pos_beat and pos_tick from the running total, the division and the time signature.
void compute_position();
// Restores the position fields of the start of a run.
void reset_position_state();
