#include "listing/file_structure.h"

#include <cstring>

#include "control/driver.h"
#include "listing/event_lines.h"
#include "listing/events.h"
#include "listing/position.h"
#include "stream/byte_stream.h"

char chunk_id[5] = "";
std::int32_t midi_format = 0;
std::int32_t track_count = 0;
bool track_count_cut_off = false;
std::int32_t division = 0;
char position_label[3] = "T:";
std::uint32_t current_track = 0;
std::uint32_t running_total = 0;
const char* listed_name = input_name;
void (*event_line_watcher)(std::uint64_t offset, std::uint32_t total) = nullptr;
void (*note_line_watcher)(std::uint64_t offset, std::uint32_t total, std::int32_t status, std::int32_t note, std::int32_t velocity) = nullptr;
void (*resume_point_watcher)() = nullptr;

namespace {
// True for the bytes a formatted word read skips: space, tab, LF, VT, FF and CR.
bool is_white_space(std::int32_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

void dump_file() {
    put_text("dump of ");
    put_text(listed_name);
    put_text("\n\n");
    put_text("T..time  c..channel  o..note on  x..note off  cc..control change  pc..program change");
    put_line_ends(3);
    dump_header_chunk();
    dump_rest_of_file(1);
}

void dump_rest_of_file(std::uint32_t first_track) {
    switch (midi_format) {
        case 0:
            if (first_track > 1) break;
            current_track = 1;
            dump_track(1);
            break;
        case 1:
        case 2:
            for (current_track = first_track; current_track <= static_cast<std::uint32_t>(track_count); ++current_track) {
                // a count made of missing bytes could mean billions of blocks: none is listed past the end
                if (track_count_cut_off && input_at_end()) break;
                dump_track(current_track);
            }
            break;
        default:
            put_text("unknown midi format.");
            break;
    }
    put_separator();
    put_text("end of ");
    put_text(listed_name);
    put_char('\n');
}

void dump_header_chunk() {
    put_separator();
    show_chunk_id();
    put_text("length(default 6):");
    put_uint_sp(static_cast<std::uint32_t>(read_be(4)));  // only shown: the header is always read as six bytes
    midi_format = read_be(2);
    put_text("format:");
    put_uint(static_cast<std::uint32_t>(midi_format));
    put_line_ends(1);
    track_count = read_be(2);
    track_count_cut_off = input_at_end();
    put_text("track max:");
    put_uint(static_cast<std::uint32_t>(track_count));
    put_line_ends(1);
    put_text("division:");
    division = read_be(2);
    if (static_cast<std::uint32_t>(division) <= 32768) {
        put_text("delta time: ");
        std::memcpy(position_label, "T:", 3);
    } else {
        put_text("time code: ");  // the raw field, not split into frames and ticks
        std::memcpy(position_label, "F:", 3);
    }
    put_uint(static_cast<std::uint32_t>(division));
    put_line_ends(1);
}

void dump_track(std::uint32_t n) {
    put_separator();
    put_text("track:");
    put_uint(n);
    put_line_ends(1);
    show_chunk_id();
    put_text("data length:");
    chunk_remaining = read_be(4);
    put_uint(static_cast<std::uint32_t>(chunk_remaining));
    put_line_ends(1);
    dump_events();
}

void dump_events() {
    running_total = 0;
    dump_rest_of_track();
}

void dump_rest_of_track() {
    do {
        if (resume_point_watcher != nullptr) resume_point_watcher();
        if (list_common_event_lines() != 0) continue;  // the usual lines, the short way
        put_line_ends(1);  // each event line is preceded by its line end
        running_total += static_cast<std::uint32_t>(read_vlq());
        if (event_line_watcher != nullptr) event_line_watcher(dump_handed_over_total + dump_used, running_total);
        show_line_prefix();
        put_char('\t');
        dump_event();
        // the end-of-track event does not end the loop: only the chunk's length or the input's end does
    } while (chunk_remaining != 0 && !input_at_end());
}

void show_chunk_id() {
    std::int32_t c = peek_input_byte();
    while (is_white_space(c)) {
        skip_input_byte();
        c = peek_input_byte();
    }
    if (c >= 0) {  // at end of input nothing is read and the old identifier stays
        char word[5] = {};
        int taken = 0;
        do {
            word[taken++] = static_cast<char>(c);  // the first byte is taken whatever it is
            skip_input_byte();
            if (taken == 4) break;  // a full word: the byte after it is not looked at
            c = peek_input_byte();
        } while (c > 0 && !is_white_space(c));  // white space, a zero byte or the end stops the word
        std::memcpy(chunk_id, word, sizeof word);
    }
    if (std::strncmp(chunk_id, "MThd", 4) == 0) {
        put_text("header chunk.");
    } else if (std::strncmp(chunk_id, "MTrk", 4) == 0) {
        put_text("track chunk.");
    } else {
        put_text("unknown chunk:");
        put_text(chunk_id);
    }
}

void reset_file_state() {
    std::memset(chunk_id, 0, sizeof chunk_id);
    midi_format = 0;
    track_count = 0;
    track_count_cut_off = false;
    division = 0;
    std::memcpy(position_label, "T:", 3);
    current_track = 0;
    running_total = 0;
    listed_name = input_name;
    event_line_watcher = nullptr;
    note_line_watcher = nullptr;
    resume_point_watcher = nullptr;
}
