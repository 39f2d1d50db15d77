#include "listing_resume.h"

#include <cstring>

#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "listing/position.h"
#include "roll_notes.h"
#include "stream/byte_stream.h"

std::vector<ListingState> resume_points;

namespace {
const unsigned char* resume_input_start = nullptr;  // the first input byte of the listing being watched
std::uint64_t resume_spacing = 0;                  // dump bytes between resume points kept, at least

// Keeps a copy of the listing's state when the dump has gone far enough since the last one, or a new
// track has begun.
void keep_resume_point() {
    std::uint64_t offset = dump_handed_over_total + dump_used;
    if (!resume_points.empty() && resume_points.back().current_track == current_track &&
        offset - resume_points.back().offset < resume_spacing) {
        return;
    }
    ListingState& p = resume_points.emplace_back();
    p.offset = offset;
    p.input_taken = static_cast<std::size_t>(input_next - resume_input_start);
    p.chunk_remaining = chunk_remaining;
    p.input_ended = input_ended;
    std::memcpy(p.chunk_id, chunk_id, sizeof p.chunk_id);
    p.midi_format = midi_format;
    p.track_count = track_count;
    p.track_count_cut_off = track_count_cut_off;
    p.division = division;
    std::memcpy(p.position_label, position_label, sizeof p.position_label);
    p.current_track = current_track;
    p.running_total = running_total;
    p.last_status = last_status;
    p.ts_numerator = ts_numerator;
    p.ts_denominator = ts_denominator;
    p.time_signature_seen = time_signature_seen;
    p.pos_measure = pos_measure;
    p.pos_beat = pos_beat;
    p.pos_tick = pos_tick;
    p.beat_first_total = beat_first_total;
    p.beat_end_total = beat_end_total;
    p.beat_tick_origin = beat_tick_origin;
    std::memcpy(p.beat_reckoned_with, beat_reckoned_with, sizeof p.beat_reckoned_with);
    static_assert(sizeof p.line_head_text == sizeof line_head_text);
    std::memcpy(p.line_head_text, line_head_text, sizeof p.line_head_text);
    p.line_head_length = line_head_length;
    std::memcpy(p.line_head_made_for, line_head_made_for, sizeof p.line_head_made_for);
    p.notes_before = static_cast<std::uint32_t>(note_starts.size());
    // the track's own entry comes with its first event line, after this point
    bool track_listed = !track_numbers.empty() && track_numbers.back() == current_track;
    p.track_index = static_cast<std::uint32_t>(track_numbers.size()) - (track_listed ? 1 : 0);
}
}  // namespace

void start_resume_points(const unsigned char* input_start, std::uint64_t spacing) {
    resume_points.clear();
    resume_input_start = input_start;
    resume_spacing = spacing;
    resume_point_watcher = keep_resume_point;
}

void finish_resume_points() { resume_point_watcher = nullptr; }

void resume_listing(const ListingState& point, const unsigned char* input_start, std::size_t input_size) {
    open_input_memory(input_start, input_size);
    input_next = input_start + point.input_taken;
    input_ended = point.input_ended;
    chunk_remaining = point.chunk_remaining;
    dump_handed_over_total = point.offset;  // the dump goes on from here; what came before is not made again
    std::memcpy(chunk_id, point.chunk_id, sizeof chunk_id);
    midi_format = point.midi_format;
    track_count = point.track_count;
    track_count_cut_off = point.track_count_cut_off;
    division = point.division;
    std::memcpy(position_label, point.position_label, sizeof position_label);
    current_track = point.current_track;
    running_total = point.running_total;
    last_status = point.last_status;
    ts_numerator = point.ts_numerator;
    ts_denominator = point.ts_denominator;
    time_signature_seen = point.time_signature_seen;
    pos_measure = point.pos_measure;
    pos_beat = point.pos_beat;
    pos_tick = point.pos_tick;
    beat_first_total = point.beat_first_total;
    beat_end_total = point.beat_end_total;
    beat_tick_origin = point.beat_tick_origin;
    std::memcpy(beat_reckoned_with, point.beat_reckoned_with, sizeof beat_reckoned_with);
    std::memcpy(line_head_text, point.line_head_text, sizeof line_head_text);
    line_head_length = point.line_head_length;
    std::memcpy(line_head_made_for, point.line_head_made_for, sizeof line_head_made_for);
    dump_rest_of_track();
    dump_rest_of_file(current_track + 1);
}
