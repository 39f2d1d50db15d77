#include "listing/position.h"

#include <cstring>

#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "stream/byte_stream.h"

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

namespace {
// Keeps the beat that starts at total first and lasts length ticks, whose ticks count from origin.
void keep_beat(std::uint64_t first, std::uint32_t length, std::uint32_t origin) {
    beat_first_total = first;
    beat_end_total = first + length;
    beat_tick_origin = origin;
}

// Where a division by zero looms, the running total stands as the tick at measure 0, beat 0.
void position_without_beats(std::uint32_t total) {
    pos_measure = 0;
    pos_beat = 0;
    pos_tick = total;
}

// Quarter-note beats, n to a measure, in wrapping 32-bit arithmetic with every product as it falls.
void quarter_note_position(std::uint32_t total, std::uint32_t ticks, std::uint32_t n, std::uint32_t d) {
    std::uint32_t per_beat = (ticks * 4u) / d;
    if (per_beat == 0 || n * 4u == 0) {
        position_without_beats(total);
        return;
    }
    std::uint32_t beats = total / per_beat;
    std::uint32_t origin = ((beats * ticks) * 4u) / d;
    pos_tick = total - origin;
    pos_measure = (beats * d) / (n * 4u);
    pos_beat = beats - ((pos_measure * 4u) * n) / d;
    // every total of the same beat has the same measure and beat, and its tick is counted from origin
    keep_beat(static_cast<std::uint64_t>(beats) * per_beat, per_beat, origin);
}

// n beats of a 1/d note to a measure, a beat lasting 4 * ticks / d, reckoned exactly in 64 bits.
void note_value_position(std::uint32_t total, std::uint32_t ticks, std::uint32_t n, std::uint32_t d) {
    if (d == 0 || n == 0 || (4u * static_cast<std::uint64_t>(ticks)) / d == 0) {
        position_without_beats(total);
        return;
    }
    std::uint64_t four_ticks = 4u * static_cast<std::uint64_t>(ticks);
    std::uint64_t beats = (static_cast<std::uint64_t>(total) * d) / four_ticks;
    std::uint64_t origin = (beats * four_ticks) / d;
    pos_tick = static_cast<std::uint32_t>(total - origin);
    pos_measure = static_cast<std::uint32_t>(beats / n);
    pos_beat = static_cast<std::uint32_t>(beats % n);
    if (four_ticks % d == 0) keep_beat(origin, static_cast<std::uint32_t>(four_ticks / d), static_cast<std::uint32_t>(origin));
}
// Makes the line head for the current track, pos_measure, pos_beat and the position label.
void make_line_head(std::uint32_t label) {
    char* at = line_head_text;
    std::uint32_t track = current_track;
    if (track < 1000) {  // right-aligned in three places
        at[0] = track < 100 ? ' ' : static_cast<char>('0' + track / 100);
        at[1] = track < 10 ? ' ' : digit_pairs[2 * (track % 100)];
        at[2] = static_cast<char>('0' + track % 10);
        at += 3;
    } else {
        at += decimal_at(at, track);
    }
    *at++ = position_label[0];
    *at++ = position_label[1];
    at += decimal_at(at, pos_measure);
    *at++ = ':';
    at += decimal_at(at, pos_beat);
    *at++ = ':';
    line_head_length = static_cast<std::uint32_t>(at - line_head_text);
    line_head_made_for[0] = track;
    line_head_made_for[1] = pos_measure;
    line_head_made_for[2] = pos_beat;
    line_head_made_for[3] = label;
}
}  // namespace

void show_line_prefix() {
    dump_reserve(line_head_size + 10);
    dump_used = static_cast<std::size_t>(write_line_prefix(dump_buffer + dump_used) - dump_buffer);
}

char* write_line_prefix(char* at) {
    compute_position();
    std::uint32_t label = static_cast<unsigned char>(position_label[0]) | static_cast<unsigned char>(position_label[1]) << 8;
    if (current_track != line_head_made_for[0] || pos_measure != line_head_made_for[1] || pos_beat != line_head_made_for[2] ||
        label != line_head_made_for[3]) {
        make_line_head(label);
    }
    at = copy_line_head(at);
    at += decimal_at(at, pos_tick);
    return at;
}

void compute_position() {
    std::uint32_t total = running_total;
    std::uint32_t ticks = static_cast<std::uint32_t>(division);
    if (ticks > 32768) {
        pos_tick = total;  // a time code: measure and beat stay as they are (0 for the whole file)
        return;
    }
    if (total >= beat_first_total && total < beat_end_total && ticks == beat_reckoned_with[0] &&
        ts_numerator == beat_reckoned_with[1] && ts_denominator == beat_reckoned_with[2] &&
        time_signature_seen == (beat_reckoned_with[3] != 0)) {
        pos_tick = total - beat_tick_origin;  // still in the beat reckoned last
        return;
    }
    beat_reckoned_with[0] = ticks;
    beat_reckoned_with[1] = ts_numerator;
    beat_reckoned_with[2] = ts_denominator;
    beat_reckoned_with[3] = time_signature_seen;
    beat_end_total = beat_first_total;  // nothing is kept unless the reckoning below keeps its beat
    if (!time_signature_seen) {
        quarter_note_position(total, ticks, 4, 4);  // no time signature yet: the file's default 4/4
    } else if (ts_denominator == 4) {
        quarter_note_position(total, ticks, ts_numerator, 4);
    } else {
        note_value_position(total, ticks, ts_numerator, ts_denominator);
    }
}

void reset_position_state() {
    pos_measure = 0;
    pos_beat = 0;
    pos_tick = 0;
    beat_first_total = 0;
    beat_end_total = 0;
    beat_tick_origin = 0;
    std::memset(beat_reckoned_with, 0, sizeof beat_reckoned_with);
    std::memset(line_head_text, 0, sizeof line_head_text);
    line_head_length = 0;
    std::memset(line_head_made_for, 0, sizeof line_head_made_for);
}
