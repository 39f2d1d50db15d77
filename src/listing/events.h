// Decoding of one event: channel events, system-exclusive and system events, and the meta marker.
#pragma once

#include <cstdint>

extern std::int32_t last_status;  // the last byte of 0x80 or more that began an event; 0 before any; kept across tracks
// Told of every note on and note off once its line is written: the status byte in force (its own or
// the running one), the note and the velocity as byte values (-1 where the input had ended). The
// browser page builds its piano roll from it; null in the console program. It must not write to the
// dump or change any listing state.
extern void (*note_watcher)(std::int32_t status, std::int32_t note, std::int32_t velocity);
// Told of every other channel event (poly key pressure, controller, program change, channel pressure,
// pitch bend) once its line is written: the status in force and its data bytes as byte values (-1
// where the input had ended; the second is 0 for the kinds of one data byte). The browser page plays
// the file from it; null in the console program. It must not write to the dump or change any listing
// state.
extern void (*channel_event_watcher)(std::int32_t status, std::int32_t first, std::int32_t second);
// Told of every system exclusive event (kind 0xF0 or 0xF7) and every meta event of types 1 to 15
// (kind the type: the texts) once its length is read and before its body is: the bytes the body
// covers are the input's next `length` bytes, from input_next, as far as the input holds them (all of
// them there when the input is in memory). The browser page plays and shows them from it; null in the
// console program. It must not read the input, write to the dump or change any listing state.
extern void (*data_event_watcher)(std::int32_t kind, std::uint32_t length);

// Reads and lists one event after its line prefix.
void dump_event();
// Lists an event that began with the status byte e.
void dump_status_event(std::int32_t e);
// Lists an event that began with the data byte a (or -1 at end of input), under the last status.
void dump_running_data(std::int32_t a);
// Writes a tab, the pitch-class name of n, sep, and the octave followed by a space.
void show_note(std::int32_t n, const char* sep);
// Reads and writes a velocity after "...", warning when it is above 127; returns it.
std::int32_t show_velocity();
// Forgets the last status byte and the watchers.
void reset_event_state();
