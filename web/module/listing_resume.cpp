#include "listing_resume.h"

#include <cstdint>
#include <cstring>

#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "listing/position.h"
#include "module_memory.h"
#include "roll_notes.h"
#include "stream/byte_stream.h"

std::vector<ListingState> resume_points;

namespace {
const unsigned char* resume_input_start = nullptr;  // the first input byte of the listing being watched
std::uint64_t resume_spacing = 0;                  // dump bytes between resume points kept, at least

// Copies one piece of the listing's state: into the kept point (`keeping`) or back from it.
template <bool keeping, typename T>
void copy(T& kept, T& live) {
    if constexpr (keeping) {
        kept = live;
    } else {
        live = kept;
    }
}

// The same for a piece of state held in an array.
template <bool keeping, typename T, std::size_t N>
void copy(T (&kept)[N], T (&live)[N]) {
    if constexpr (keeping) {
        std::memcpy(kept, live, sizeof kept);
    } else {
        std::memcpy(live, kept, sizeof kept);
    }
}

// Copies the whole state of the listing into point (`keeping`) or back from it: each piece is named
// once, so that what is kept and what is put back can't differ. The input's place and the dump's
// offset are not among them: they differ in form between keeping and putting back.
template <bool keeping>
void copy_listing_state(ListingState& p) {
    copy<keeping>(p.chunk_remaining, chunk_remaining);
    copy<keeping>(p.input_ended, input_ended);
    copy<keeping>(p.chunk_id, chunk_id);
    copy<keeping>(p.midi_format, midi_format);
    copy<keeping>(p.track_count, track_count);
    copy<keeping>(p.track_count_cut_off, track_count_cut_off);
    copy<keeping>(p.division, division);
    copy<keeping>(p.position_label, position_label);
    copy<keeping>(p.current_track, current_track);
    copy<keeping>(p.running_total, running_total);
    copy<keeping>(p.last_status, last_status);
    copy<keeping>(p.ts_numerator, ts_numerator);
    copy<keeping>(p.ts_denominator, ts_denominator);
    copy<keeping>(p.time_signature_seen, time_signature_seen);
    copy<keeping>(p.pos_measure, pos_measure);
    copy<keeping>(p.pos_beat, pos_beat);
    copy<keeping>(p.pos_tick, pos_tick);
    copy<keeping>(p.beat_first_total, beat_first_total);
    copy<keeping>(p.beat_end_total, beat_end_total);
    copy<keeping>(p.beat_tick_origin, beat_tick_origin);
    copy<keeping>(p.beat_reckoned_with, beat_reckoned_with);
    copy<keeping>(p.line_head_text, line_head_text);
    copy<keeping>(p.line_head_length, line_head_length);
    copy<keeping>(p.line_head_made_for, line_head_made_for);
}

// Keeps every other resume point and twice the spacing from here on: the memory holds no more of them.
// Any part of the listing can still be made again, from farther back.
void thin_resume_points() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < resume_points.size(); i += 2) resume_points[kept++] = resume_points[i];
    resume_points.resize(kept);
    if (resume_spacing <= UINT64_MAX / 2) resume_spacing *= 2;
}

// Keeps a copy of the listing's state when the dump has gone far enough since the last one, or a new
// track has begun.
void keep_resume_point() {
    std::uint64_t offset = dump_handed_over_total + dump_used;
    if (!resume_points.empty() && resume_points.back().current_track == current_track &&
        offset - resume_points.back().offset < resume_spacing) {
        return;
    }
    if (!make_room(resume_points)) {
        thin_resume_points();
        if (resume_points.size() == resume_points.capacity()) return;  // none to spare: none kept here
    }
    ListingState& p = resume_points.emplace_back();
    p.offset = offset;
    p.input_taken = static_cast<std::size_t>(input_next - resume_input_start);
    copy_listing_state<true>(p);
    p.notes_before = static_cast<std::uint32_t>(note_starts.size());
    // the track's own entry comes with its first event line, after this point
    bool track_listed = !track_numbers.empty() && track_numbers.back() == current_track;
    p.track_index = static_cast<std::uint32_t>(track_numbers.size()) - (track_listed ? 1 : 0);
}
}  // namespace

void start_resume_points(const unsigned char* input_start, std::uint64_t spacing) {
    release(resume_points);
    resume_input_start = input_start;
    resume_spacing = spacing;
    resume_point_watcher = keep_resume_point;
}

void finish_resume_points() { resume_point_watcher = nullptr; }

void forget_resume_points() {
    release(resume_points);
    resume_input_start = nullptr;
}

void resume_listing(const ListingState& point, const unsigned char* input_start, std::size_t input_size) {
    open_input_memory(input_start, input_size);
    input_next = input_start + point.input_taken;
    dump_handed_over_total = point.offset;  // the dump goes on from here; what came before is not made again
    ListingState kept = point;
    copy_listing_state<false>(kept);
    dump_rest_of_track();
    dump_rest_of_file(current_track + 1);
}
