// The walk over the file: preamble, header chunk, track chunks and the event loop of each track.
#pragma once

#include <cstdint>

extern char chunk_id[5];                 // the last chunk identifier read; kept when a read finds nothing
extern std::int32_t midi_format;         // the header's format field
extern std::int32_t track_count;         // the header's number of tracks, compared as unsigned
extern bool track_count_cut_off;         // true when the input ended before or inside the track count
extern std::int32_t division;            // the header's division, compared as unsigned
extern char position_label[3];           // "T:" for ticks per quarter note, "F:" for a time code
extern std::uint32_t current_track;      // number of the track being listed, from 1
extern std::uint32_t running_total;      // sum of the delta times read so far in the current track

// Lists the whole input into the dump, from the preamble to the closing line.
void dump_file();
// Lists the header chunk and keeps its format, track count and division.
void dump_header_chunk();
// Lists track chunk n: its number, identifier, length and events.
void dump_track(std::uint32_t n);
// Lists the events of the current track until its length is used up or the input ends.
void dump_events();
// Reads a chunk identifier word straight from the input and writes what it names.
void show_chunk_id();
// Restores the header and walk state of the start of a run.
void reset_file_state();
