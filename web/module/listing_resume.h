// Taking the listing up again from a point inside it: at the resume points of the event loop, a copy of
// the listing's whole state is kept, so that any part of the listing can be made again by listing on
// from the nearest copy before it, rather than by keeping the whole listing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The listing's whole state at a resume point (the program-wide variables of the byte reader, the file
// walk, the event decoder, the meta events and the positions), and where the roll's notes stood.
struct ListingState {
    std::uint64_t offset;  // dump offset at which the listing goes on
    std::size_t input_taken;  // input bytes taken
    std::int32_t chunk_remaining;
    bool input_ended;
    char chunk_id[5];
    std::int32_t midi_format;
    std::int32_t track_count;
    bool track_count_cut_off;
    std::int32_t division;
    char position_label[3];
    std::uint32_t current_track;
    std::uint32_t running_total;
    std::int32_t last_status;
    std::uint32_t ts_numerator;
    std::uint32_t ts_denominator;
    bool time_signature_seen;
    std::uint32_t pos_measure;
    std::uint32_t pos_beat;
    std::uint32_t pos_tick;
    std::uint64_t beat_first_total;
    std::uint64_t beat_end_total;
    std::uint32_t beat_tick_origin;
    std::uint32_t beat_reckoned_with[4];
    char line_head_text[48];
    std::uint32_t line_head_length;
    std::uint32_t line_head_made_for[4];
    std::uint32_t notes_before;  // roll notes started before this point
    std::uint32_t track_index;   // index of its track among the tracks listed (0 for the first)
};

extern std::vector<ListingState> resume_points;  // the copies kept in the last full listing, in listing order

// Forgets the resume points and watches for new ones, keeping one at least every `spacing` bytes of
// the dump and at every track's first event line (fewer, farther apart, when the memory can't
// hold them all); the input starts at input_start.
void start_resume_points(const unsigned char* input_start, std::uint64_t spacing);
// Stops watching for resume points.
void finish_resume_points();
// Forgets the resume points and gives their memory back.
void forget_resume_points();
// Puts the listing's state back as it was at point and lists on from there to the end of the file.
// The caller has opened the dump afresh (open_dump_file, then its hand-over) and set the names and
// watchers; the input is the same bytes, from input_start, as when the point was kept.
void resume_listing(const ListingState& point, const unsigned char* input_start, std::size_t input_size);
