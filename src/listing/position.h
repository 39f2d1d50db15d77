// The prefix of every event line: track number, position label and measure:beat:tick.
#pragma once

#include <cstdint>

extern std::uint32_t pos_measure;  // measure of the last event line, counted from 0
extern std::uint32_t pos_beat;     // beat within that measure, counted from 0
extern std::uint32_t pos_tick;     // ticks past that beat (the running total itself for time-code divisions)

// Writes the track number right-aligned in 3 places, the position label and measure:beat:tick.
void show_line_prefix();
// Reckons pos_measure, pos_beat and pos_tick from the running total, the division and the time signature.
void compute_position();
// Restores the position fields of the start of a run.
void reset_position_state();
