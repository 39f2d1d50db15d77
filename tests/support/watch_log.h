// Recorders for the listing's watchers, the places of a listing's lines, and listings taken up again
// from the resume points a watched listing kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "listing/position.h"  // line_head_size

// What the recorders below were told, one line each, in the order they were told.
extern std::string told;

// Records "line <offset> <total>".
void tell_event_line(std::uint64_t offset, std::uint32_t total);
// Records "note <status in hex> <note> <velocity>".
void tell_note(std::int32_t status, std::int32_t note, std::int32_t velocity);
// Records "note line <offset> <total> <status in hex> <note> <velocity>".
void tell_note_line(std::uint64_t offset, std::uint32_t total, std::int32_t status, std::int32_t note,
                    std::int32_t velocity);
// Records "channel <status in hex> <first> <second>".
void tell_channel_event(std::int32_t status, std::int32_t first, std::int32_t second);
// Records "tempo <microseconds>".
void tell_tempo(std::uint32_t microseconds);
// Records "resume <dump offset>" (the offset the listing has reached when told).
void tell_resume_point();

// The log with each "note line" entry written as the "line" and "note" entries it stands for.
std::string note_lines_split(const std::string& log);

// The offset of the start of the one line of listing that reads line (without its line end); fails the
// running test and returns 0 when there is not exactly one.
std::uint64_t offset_of(const std::string& listing, const std::string& line);
// The offsets of the event lines of a listing (those event_lines keeps), in order.
std::vector<std::uint64_t> event_line_offsets(const std::string& listing);

// The whole state of a listing as a resume point finds it, with the input and dump places.
struct KeptPoint {
    std::uint64_t offset = 0;       // dump bytes written before the point
    std::size_t input_taken = 0;    // input bytes taken before the point
    std::int32_t chunk_remaining = 0;
    bool input_ended = false;
    char chunk_id[5] = {};
    std::int32_t midi_format = 0;
    std::int32_t track_count = 0;
    bool track_count_cut_off = false;
    std::int32_t division = 0;
    char position_label[3] = {};
    std::uint32_t current_track = 0;
    std::uint32_t running_total = 0;
    std::int32_t last_status = 0;
    std::uint32_t ts_numerator = 0;
    std::uint32_t ts_denominator = 0;
    bool time_signature_seen = false;
    std::uint32_t pos_measure = 0;
    std::uint32_t pos_beat = 0;
    std::uint32_t pos_tick = 0;
    std::uint64_t beat_first_total = 0;
    std::uint64_t beat_end_total = 0;
    std::uint32_t beat_tick_origin = 0;
    std::uint32_t beat_reckoned_with[4] = {};
    char line_head_text[line_head_size] = {};
    std::uint32_t line_head_length = 0;
    std::uint32_t line_head_made_for[4] = {};
};

// The points kept by keep_point, in order.
extern std::vector<KeptPoint> kept_points;
// The input whose places keep_point counts from; set before listing with it as the resume point watcher.
extern const unsigned char* kept_input_start;
// A resume point watcher: keeps the listing's whole state in kept_points.
void keep_point();

// Lists file typed in as name with fresh state, keeping every resume point; returns the listing.
std::string list_keeping_points(const std::string& file, const char* name = "song.mid");
// Lists file (typed in as name) from kept point p to the end, with fresh state but for what p holds;
// returns what is written from there.
std::string list_from_point(const KeptPoint& p, const std::string& file, const char* name = "song.mid");
