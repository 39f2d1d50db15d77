#include "listing/event_lines.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing/name_tables.h"
#include "listing/position.h"
#include "stream/byte_stream.h"

namespace {
// The text of one field, padded so that it is always copied whole; only `length` characters count.
template <std::size_t N>
struct FieldText {
    char text[N] = {};
    std::uint8_t length = 0;
};

// Appends the characters of s to field f.
template <std::size_t N>
constexpr void append_text(FieldText<N>& f, const char* s) {
    while (*s != '\0') f.text[f.length++] = *s++;
}

// Appends the decimal digits of v (below 100) to field f.
template <std::size_t N>
constexpr void append_small_decimal(FieldText<N>& f, unsigned v) {
    if (v >= 10) f.text[f.length++] = static_cast<char>('0' + v / 10);
    f.text[f.length++] = static_cast<char>('0' + v % 10);
}

// The label and channel of each note status byte 0x80..0x9F, e.g. " o: c:3 ".
constexpr std::array<FieldText<16>, 32> make_note_labels() {
    std::array<FieldText<16>, 32> table{};
    for (unsigned s = 0; s < 32; ++s) {
        append_text(table[s], s < 16 ? " x: c:" : " o: c:");
        append_small_decimal(table[s], s % 16 + 1);
        append_text(table[s], " ");
    }
    return table;
}

// A tab, the pitch-class name of each note value, the separator and the octave with a space, e.g.
// "\tC#_4 "; for every byte value, as a note after a status byte may be any byte.
constexpr std::array<FieldText<8>, 256> make_note_texts(const char* separator) {
    std::array<FieldText<8>, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        append_text(table[n], "\t");
        append_text(table[n], note_name_table[n % 12]);
        append_text(table[n], separator);
        append_small_decimal(table[n], n / 12);
        append_text(table[n], " ");
    }
    return table;
}

// "..." and the digits of each velocity byte value.
constexpr std::array<FieldText<8>, 256> make_velocity_texts() {
    std::array<FieldText<8>, 256> table{};
    for (unsigned v = 0; v < 256; ++v) {
        append_text(table[v], "...");
        if (v >= 100) table[v].text[table[v].length++] = static_cast<char>('0' + v / 100);
        if (v >= 10) table[v].text[table[v].length++] = static_cast<char>('0' + v / 10 % 10);
        table[v].text[table[v].length++] = static_cast<char>('0' + v % 10);
    }
    return table;
}

// The digits of each tick below 1000 followed by the tab that ends the line prefix.
constexpr std::array<FieldText<4>, 1000> make_tick_texts() {
    std::array<FieldText<4>, 1000> table{};
    for (unsigned t = 0; t < 1000; ++t) {
        if (t >= 100) table[t].text[table[t].length++] = static_cast<char>('0' + t / 100);
        if (t >= 10) table[t].text[table[t].length++] = static_cast<char>('0' + t / 10 % 10);
        table[t].text[table[t].length++] = static_cast<char>('0' + t % 10);
        table[t].text[table[t].length++] = '\t';
    }
    return table;
}

constexpr std::array<FieldText<16>, 32> note_labels = make_note_labels();
constexpr std::array<FieldText<4>, 1000> tick_texts = make_tick_texts();
constexpr std::array<FieldText<8>, 256> notes_after_status = make_note_texts("_");
constexpr std::array<FieldText<8>, 256> notes_running = make_note_texts("-");
constexpr std::array<FieldText<8>, 256> velocity_texts = make_velocity_texts();

// The most one line written here takes, whole-field copies included.
constexpr std::size_t line_room = 1 + line_head_size + 10 + 1 + 16 + 8 + 8 + 19 + 16;
static_assert(line_room < dump_first_limit);

// Copies field f whole to `at`; returns the end of its counted characters.
template <std::size_t N>
char* put_field(char* at, const FieldText<N>& f) {
    std::memcpy(at, f.text, N);
    return at + f.length;
}

// Writes "...", the velocity byte v and, above 127, the warning after it at `at`; returns the end.
char* put_velocity(char* at, std::uint32_t v) {
    at = put_field(at, velocity_texts[v]);
    constexpr std::string_view warning = "(too big velocity) ";
    if (v > 127) at = std::copy(warning.begin(), warning.end(), at);
    return at;
}

// The lines the short way; with `watched`, the event line and note watchers are told of each.
template <bool watched>
std::uint32_t list_lines() {
    // Locals rather than the shared state: the writes into the dump could otherwise alias any of it.
    const unsigned char* in = input_next;
    const unsigned char* in_end = input_limit;
    std::uint32_t remaining = static_cast<std::uint32_t>(chunk_remaining);
    std::uint32_t total = running_total;
    std::int32_t status = last_status;
    char* out = dump_buffer + dump_used;
    char* out_full = dump_buffer + dump_limit - line_room;
    // the beat whose line head is kept: totals in [beat_first, beat_end) need only a subtraction
    std::uint64_t beat_first = 0;
    std::uint64_t beat_end = 0;  // an empty beat until the position has been reckoned in full here
    std::uint32_t tick_origin = 0;
    std::uint32_t tick = pos_tick;
    std::uint32_t lines = 0;

    // Hands the locals back to the shared state.
    auto store = [&] {
        input_next = in;
        chunk_remaining = static_cast<std::int32_t>(remaining);
        running_total = total;
        last_status = status;
        pos_tick = tick;
        dump_used = static_cast<std::size_t>(out - dump_buffer);
    };

    for (;;) {
        if (in_end - in < 8) break;  // the longest delta time taken here and the longest event, buffered
        // the delta time: up to four bytes here, longer ones the ordinary way
        std::uint32_t delta = in[0];
        std::uint32_t used = 1;
        if (delta >= 0x80) {
            delta &= 0x7F;
            for (;;) {
                std::uint32_t b = in[used++];
                delta = delta * 128u + (b & 0x7F);
                if (b < 0x80) break;
                if (used == 4) break;
            }
            if (in[used - 1] >= 0x80) break;
        }
        if (out > out_full) {
            store();
            flush_dump();
            // a resume point after every hand-over, so that the listing can be taken up near any place
            if constexpr (watched) {
                if (lines != 0 && resume_point_watcher != nullptr) return lines;
            }
            out = dump_buffer + dump_used;
            out_full = dump_buffer + dump_limit - line_room;
        }
        in += used;
        remaining -= used;
        total += delta;

        *out++ = '\n';  // each event line is preceded by its line end
        std::uint64_t line_offset = 0;
        if constexpr (watched) {
            line_offset = dump_handed_over_total + static_cast<std::size_t>(out - dump_buffer);
            std::uint32_t e = in[0];
            bool note_line = (e & 0xE0) == 0x80 || (e < 0x80 && (status & 0xE0) == 0x80);
            if (event_line_watcher != nullptr && (note_line_watcher == nullptr || !note_line)) event_line_watcher(line_offset, total);
        }
        if (total >= beat_first && total < beat_end) {
            tick = total - tick_origin;  // still in the beat of the kept line head
            out = copy_line_head(out);
            if (tick < 1000) {
                out = put_field(out, tick_texts[tick]);
            } else {
                out += decimal_at(out, tick);
                *out++ = '\t';
            }
        } else {
            running_total = total;
            out = write_line_prefix(out);
            tick = pos_tick;
            bool kept = static_cast<std::uint32_t>(division) <= 32768;  // a time code keeps no beat
            beat_first = kept ? beat_first_total : 0;
            beat_end = kept ? beat_end_total : 0;
            tick_origin = beat_tick_origin;
            *out++ = '\t';
        }

        std::uint32_t e = in[0];
        if ((e & 0xE0) == 0x80) {  // note off or note on with its status byte
            status = static_cast<std::int32_t>(e);
            out = put_field(out, note_labels[e - 0x80]);
            out = put_field(out, notes_after_status[in[1]]);
            out = put_velocity(out, in[2]);
            if constexpr (watched) {
                if (note_line_watcher != nullptr) {
                    note_line_watcher(line_offset, total, status, in[1], in[2]);
                } else if (note_watcher != nullptr) {
                    note_watcher(status, in[1], in[2]);
                }
            }
            in += 3;
            remaining -= 3;
        } else if (e < 0x80 && (status & 0xE0) == 0x80) {  // the same under running status
            out = put_field(out, note_labels[static_cast<std::uint32_t>(status) - 0x80]);
            out = put_field(out, notes_running[e]);
            out = put_velocity(out, in[1]);
            if constexpr (watched) {
                if (note_line_watcher != nullptr) {
                    note_line_watcher(line_offset, total, status, static_cast<std::int32_t>(e), in[1]);
                } else if (note_watcher != nullptr) {
                    note_watcher(status, static_cast<std::int32_t>(e), in[1]);
                }
            }
            in += 2;
            remaining -= 2;
        } else {  // any other event the ordinary way, after the prefix written here
            store();
            dump_event();
            in = input_next;
            in_end = input_limit;
            remaining = static_cast<std::uint32_t>(chunk_remaining);
            status = last_status;
            out = dump_buffer + dump_used;
            out_full = dump_buffer + dump_limit - line_room;
            beat_end = beat_first;  // a meta event may have changed the time signature
            ++lines;
            if (remaining == 0 || input_at_end()) return lines;
            continue;
        }
        ++lines;
        if (remaining == 0) break;
    }
    store();
    return lines;
}
}  // namespace

std::uint32_t list_common_event_lines() {
    // the console program watches nothing and pays nothing for the watchers in its busiest loop
    bool watched = event_line_watcher != nullptr || note_watcher != nullptr || note_line_watcher != nullptr ||
                   resume_point_watcher != nullptr;
    return watched ? list_lines<true>() : list_lines<false>();
}
