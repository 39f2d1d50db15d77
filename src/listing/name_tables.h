// The names shown for notes, controllers and programs.
#pragma once

#include <cstdint>

constexpr int program_name_size = 30;     // 29 visible characters and the terminator
constexpr int controller_name_size = 40;  // 39 visible characters and the terminator

// Pitch-class names, sharps only, by note number mod 12 (known at compile time, for the tables built from them).
inline constexpr const char* note_name_table[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
extern const char controller_name_table[128][controller_name_size];  // controller names by number; unnamed ones are empty
extern char program_name_table[128][program_name_size];              // program names from the names file; empty until loaded

// The name of pitch class n mod 12; empty for a note value below 0 (a byte missing at end of input).
inline const char* note_name(std::int32_t n) { return n < 0 ? "" : note_name_table[n % 12]; }
// The controller's name; empty for numbers outside 0..127.
const char* controller_name(std::int32_t k);
// The program's name from the names file; empty for numbers outside 0..127.
const char* program_name(std::int32_t p);
// Empties every program name.
void reset_program_names();
