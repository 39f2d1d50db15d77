#include "support/watch_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "control/driver.h"
#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "listing/position.h"
#include "stream/byte_stream.h"
#include "support/listing_harness.h"

std::string told;
std::vector<KeptPoint> kept_points;
const unsigned char* kept_input_start = nullptr;

namespace {
// A status byte as two hex digits.
std::string hex(std::int32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "%02x", static_cast<unsigned>(status));
    return text;
}
}  // namespace

void tell_event_line(std::uint64_t offset, std::uint32_t total) {
    told += "line " + std::to_string(offset) + " " + std::to_string(total) + "\n";
}

void tell_note(std::int32_t status, std::int32_t note, std::int32_t velocity) {
    told += "note " + hex(status) + " " + std::to_string(note) + " " + std::to_string(velocity) + "\n";
}

void tell_note_line(std::uint64_t offset, std::uint32_t total, std::int32_t status, std::int32_t note,
                    std::int32_t velocity) {
    told += "note line " + std::to_string(offset) + " " + std::to_string(total) + " " + hex(status) + " " +
            std::to_string(note) + " " + std::to_string(velocity) + "\n";
}

void tell_channel_event(std::int32_t status, std::int32_t first, std::int32_t second) {
    told += "channel " + hex(status) + " " + std::to_string(first) + " " + std::to_string(second) + "\n";
}

void tell_tempo(std::uint32_t microseconds) { told += "tempo " + std::to_string(microseconds) + "\n"; }

void tell_resume_point() { told += "resume " + std::to_string(dump_handed_over_total + dump_used) + "\n"; }

std::string note_lines_split(const std::string& log) {
    std::istringstream in(log);
    std::string entry, out;
    while (std::getline(in, entry)) {
        if (entry.starts_with("note line ")) {
            std::istringstream fields(entry.substr(10));
            std::string offset, total, status, note, velocity;
            fields >> offset >> total >> status >> note >> velocity;
            out += "line " + offset + " " + total + "\nnote " + status + " " + note + " " + velocity + "\n";
        } else {
            out += entry + "\n";
        }
    }
    return out;
}

std::uint64_t offset_of(const std::string& listing, const std::string& line) {
    std::vector<std::size_t> found;
    for (std::size_t at = 0; at <= listing.size();) {
        std::size_t end = listing.find('\n', at);
        if (end == std::string::npos) end = listing.size();
        if (listing.compare(at, end - at, line) == 0) found.push_back(at);
        at = end + 1;
    }
    EXPECT_EQ(found.size(), 1u) << "the line \"" << line << "\" in the listing";
    return found.size() == 1 ? found[0] : 0;
}

std::vector<std::uint64_t> event_line_offsets(const std::string& listing) {
    std::vector<std::uint64_t> offsets;
    for (std::size_t at = 0; at < listing.size();) {
        std::size_t end = listing.find('\n', at);
        if (end == std::string::npos) end = listing.size();
        std::string line = listing.substr(at, end - at + 1);
        if (!event_lines(line).empty()) offsets.push_back(at);
        at = end + 1;
    }
    return offsets;
}

namespace {
// Copies one piece of state from `from` to `to`.
template <typename T>
void copy_piece(const T& from, T& to) {
    to = from;
}
template <typename T, std::size_t N>
void copy_piece(const T (&from)[N], T (&to)[N]) {
    std::memcpy(to, from, sizeof to);
}

// Copies every piece of the listing's state between point p and the program-wide variables: into p
// when keeping, out of it when not; each piece is named once, so that the two can't differ.
template <bool keeping>
void copy_state(KeptPoint& p) {
    auto piece = [](auto& kept, auto& live) {
        if constexpr (keeping) {
            copy_piece(live, kept);
        } else {
            copy_piece(kept, live);
        }
    };
    piece(p.chunk_remaining, chunk_remaining);
    piece(p.input_ended, input_ended);
    piece(p.chunk_id, chunk_id);
    piece(p.midi_format, midi_format);
    piece(p.track_count, track_count);
    piece(p.track_count_cut_off, track_count_cut_off);
    piece(p.division, division);
    piece(p.position_label, position_label);
    piece(p.current_track, current_track);
    piece(p.running_total, running_total);
    piece(p.last_status, last_status);
    piece(p.ts_numerator, ts_numerator);
    piece(p.ts_denominator, ts_denominator);
    piece(p.time_signature_seen, time_signature_seen);
    piece(p.pos_measure, pos_measure);
    piece(p.pos_beat, pos_beat);
    piece(p.pos_tick, pos_tick);
    piece(p.beat_first_total, beat_first_total);
    piece(p.beat_end_total, beat_end_total);
    piece(p.beat_tick_origin, beat_tick_origin);
    piece(p.beat_reckoned_with, beat_reckoned_with);
    piece(p.line_head_text, line_head_text);
    piece(p.line_head_length, line_head_length);
    piece(p.line_head_made_for, line_head_made_for);
}
}  // namespace

void keep_point() {
    KeptPoint& p = kept_points.emplace_back();
    p.offset = dump_handed_over_total + dump_used;
    p.input_taken = static_cast<std::size_t>(input_next - kept_input_start);
    copy_state<true>(p);
}

std::string list_keeping_points(const std::string& file, const char* name) {
    reset_program_state();
    kept_points.clear();
    kept_input_start = reinterpret_cast<const unsigned char*>(file.data());
    resume_point_watcher = keep_point;
    return list_file_keeping_state(file, name);
}

std::string list_from_point(const KeptPoint& p, const std::string& file, const char* name) {
    reset_program_state();
    std::strncpy(input_name, name, input_name_size - 1);
    std::string out;
    const auto* data = reinterpret_cast<const unsigned char*>(file.data());
    open_input_memory(data, file.size());
    input_next = data + p.input_taken;
    open_dump_memory(&out);
    dump_handed_over_total = p.offset;  // the dump goes on from the point's offset
    KeptPoint kept = p;
    copy_state<false>(kept);
    dump_rest_of_track();
    dump_rest_of_file(current_track + 1);
    flush_dump();
    dump_capture = nullptr;
    return out;
}
