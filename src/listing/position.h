// The prefix of every event line: track number, position label and measure:beat:tick.
#pragma once

#include <cstdint>

extern std::uint32_t pos_measure;  // measure of the last event line, counted from 0
extern std::uint32_t pos_beat;     // beat within that measure, counted from 0
extern std::uint32_t pos_tick;     // ticks past that beat (the running total itself for time-code divisions)

// The last beat reckoned in full, so that later totals within the same beat need no division:
extern std::uint64_t beat_first_total;  // the first running total that falls in that beat
extern std::uint64_t beat_end_total;    // the first running total past it (equal to the first when nothing is kept)
extern std::uint32_t beat_tick_origin;  // what is taken from a total in that beat to give its tick
extern std::uint32_t beat_reckoned_with[4];  // division, numerator, denominator and whether a signature was seen

// Writes the track number right-aligned in 3 places, the position label and measure:beat:tick.
void show_line_prefix();
// Reckons pos_measure, pos_beat and pos_tick from the running total, the division and the time signature.
void compute_position();
// Restores the position fields of the start of a run.
void reset_position_state();
