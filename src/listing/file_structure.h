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
extern const char* listed_name;          // the name "dump of" and "end of" show: the typed input_name, unless a caller listing from memory gives another
// Told as each event line starts, once its delta time is added: the dump offset of the line's first
// byte and the running total (current_track holds its track). The browser page links its piano roll
// and the listing through it; null in the console program. It must not write to the dump or change
// any listing state.
extern void (*event_line_watcher)(std::uint64_t offset, std::uint32_t total);
// Told, in place of the event line watcher and the note watcher both, of each line of a note on or off
// that the listing's common-event loop writes: the line's offset and running total as the one, the
// status in force, note and velocity as the other (one call where that loop meets most of a file's
// lines). Null: the two are told as everywhere else. The same rules as theirs hold.
extern void (*note_line_watcher)(std::uint64_t offset, std::uint32_t total, std::int32_t status, std::int32_t note,
                                 std::int32_t velocity);
// Told at the top of each turn of a track's event loop: there the whole state of the listing is in
// the program-wide variables, so a copy of them taken there lets the listing go on from that point
// later (the browser page lists any part of a file again that way). Null in the console program.
extern void (*resume_point_watcher)();

// Lists the whole input into the dump, from the preamble to the closing line.
void dump_file();
// Lists the tracks the header's format calls for, from track first_track on, then the closing lines.
void dump_rest_of_file(std::uint32_t first_track);
// Lists the header chunk and keeps its format, track count and division.
void dump_header_chunk();
// Lists track chunk n: its number, identifier, length and events.
void dump_track(std::uint32_t n);
// Lists the events of the current track until its length is used up or the input ends.
void dump_events();
// Lists the current track's event lines from where the listing stands, as dump_events goes on.
void dump_rest_of_track();
// Reads a chunk identifier word straight from the input and writes what it names.
void show_chunk_id();
// Restores the header and walk state of the start of a run, and forgets the watchers of the walk.
void reset_file_state();
