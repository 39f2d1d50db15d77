#include "listing/position.h"

#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "stream/byte_stream.h"

std::uint32_t pos_measure = 0;
std::uint32_t pos_beat = 0;
std::uint32_t pos_tick = 0;

namespace {
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
    pos_tick = total - ((beats * ticks) * 4u) / d;
    pos_measure = (beats * d) / (n * 4u);
    pos_beat = beats - ((pos_measure * 4u) * n) / d;
}

// n beats of a 1/d note to a measure, a beat lasting 4 * ticks / d, reckoned exactly in 64 bits.
void note_value_position(std::uint32_t total, std::uint32_t ticks, std::uint32_t n, std::uint32_t d) {
    if (d == 0 || n == 0 || (4u * static_cast<std::uint64_t>(ticks)) / d == 0) {
        position_without_beats(total);
        return;
    }
    std::uint64_t four_ticks = 4u * static_cast<std::uint64_t>(ticks);
    std::uint64_t beats = (static_cast<std::uint64_t>(total) * d) / four_ticks;
    pos_tick = static_cast<std::uint32_t>(total - (beats * four_ticks) / d);
    pos_measure = static_cast<std::uint32_t>(beats / n);
    pos_beat = static_cast<std::uint32_t>(beats % n);
}
}  // namespace

void show_line_prefix() {
    put_uint_right(current_track, 3);
    put_text(position_label);
    compute_position();
    put_uint(pos_measure);
    put_char(':');
    put_uint(pos_beat);
    put_char(':');
    put_uint(pos_tick);
}

void compute_position() {
    std::uint32_t total = running_total;
    std::uint32_t ticks = static_cast<std::uint32_t>(division);
    if (ticks > 32768) {
        pos_tick = total;  // a time code: measure and beat stay as they are (0 for the whole file)
        return;
    }
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
}
