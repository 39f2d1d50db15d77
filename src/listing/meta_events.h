// Decoding of meta events: text types, tempo, time and key signatures, and all others raw.
#pragma once

#include <cstdint>

extern std::uint32_t ts_numerator;    // numerator of the last time signature read; 1 before any
extern std::uint32_t ts_denominator;  // denominator (2 to the power read, 0 once that overflows); 1 before any
extern bool time_signature_seen;      // true once any time signature has been read
// Told of every tempo event once its line is written: the microseconds per quarter note as listed.
// The browser page plays the file from it; null in the console program. It must not write to the dump
// or change any listing state.
extern void (*tempo_watcher)(std::uint32_t microseconds);

// Reads the type and body of one meta event (after its 0xFF) and writes its text.
void dump_meta();
// Reads a time signature, writes it as n/d with its metronome fields, and keeps n and d.
void show_time_signature();
// Reads a key signature and writes its sharps or flats and its mode.
void show_key_signature();
// Restores the time-signature state of the start of a run and forgets the tempo watcher.
void reset_meta_state();
