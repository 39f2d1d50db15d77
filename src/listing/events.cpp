#include "listing/events.h"

#include <cstring>

#include "listing/meta_events.h"
#include "listing/name_tables.h"
#include "stream/byte_stream.h"

std::int32_t last_status = 0;
void (*note_watcher)(std::int32_t status, std::int32_t note, std::int32_t velocity) = nullptr;
void (*channel_event_watcher)(std::int32_t status, std::int32_t first, std::int32_t second) = nullptr;
void (*data_event_watcher)(std::int32_t kind, std::uint32_t length) = nullptr;

namespace {
// Writes the program name of p between slashes.
void show_program_name(std::int32_t p) {
    put_char('/');
    put_text(program_name(p));
    put_char('/');
}

// Lists the note and velocity of a note on or off (the label is written) and tells the note watcher.
void show_note_event(std::int32_t status, std::int32_t n, const char* sep) {
    show_note(n, sep);
    std::int32_t v = show_velocity();
    if (note_watcher != nullptr) note_watcher(status, n, v);
}

// Tells the channel event watcher, when there is one, of an event other than a note.
void tell_channel_event(std::int32_t status, std::int32_t first, std::int32_t second) {
    if (channel_event_watcher != nullptr) channel_event_watcher(status, first, second);
}

// Reads and writes two data bytes in hex and tells the channel event watcher of them.
void show_two_hex_bytes(std::int32_t status) {
    std::int32_t first = show_hex_byte();
    std::int32_t second = show_hex_byte();
    tell_channel_event(status, first, second);
}

// Writes the controller named k and reads and writes its value, telling the channel event watcher.
void show_controller(std::int32_t status, std::int32_t k) {
    put_text(controller_name(k));
    tell_channel_event(status, k, show_bytes_dec(1, " val "));
}

// Reads the length of a system exclusive event of status e, tells the data event watcher, and writes
// its body in hex (none for a length that reads as negative).
void show_exclusive_body(std::int32_t e) {
    std::int32_t n = read_vlq();
    if (data_event_watcher != nullptr) data_event_watcher(e, n < 0 ? 0 : static_cast<std::uint32_t>(n));
    show_hex_body(n);
}
}  // namespace

void dump_event() {
    std::int32_t e = read_byte();
    if (e < 128) {
        dump_running_data(e);  // a data byte, or -1 at end of input: the last status stays as it was
    } else {
        dump_status_event(e);
        last_status = e;
    }
}

void dump_status_event(std::int32_t e) {
    std::uint32_t c = static_cast<std::uint32_t>(e & 0x0F) + 1;
    switch (e & 0xF0) {
        case 0x80:
            put_labelled_uint(" x: c:", c);
            show_note_event(e, read_byte(), "_");
            return;
        case 0x90:
            put_labelled_uint(" o: c:", c);
            show_note_event(e, read_byte(), "_");
            return;
        case 0xA0:
            put_labelled_uint(" poly key press: c:", c);
            show_two_hex_bytes(e);
            return;
        case 0xB0:
            put_labelled_uint(" cc: c:", c);
            show_controller(e, read_byte());
            return;
        case 0xC0: {
            put_labelled_uint(" pc: c:", c);
            std::int32_t p = show_hex_bytes(1);
            show_program_name(p);
            tell_channel_event(e, p, 0);
            return;
        }
        case 0xD0:
            put_labelled_uint(" channel press: c:", c);
            tell_channel_event(e, show_hex_bytes(1), 0);
            return;
        case 0xE0:
            put_labelled_uint(" pitch bend: c:", c);
            show_two_hex_bytes(e);
            return;
        default:
            break;
    }
    switch (e) {
        case 0xF0:
            put_text(" exclusive:");
            show_exclusive_body(e);  // every byte the length covers, a closing 0xF7 included
            return;
        case 0xF1:
            put_text(" time code:");
            show_hex_bytes(1);
            return;
        case 0xF2:
            put_text(" song position:");
            show_hex_bytes(2);
            return;
        case 0xF3:
            put_text(" song select:");
            show_hex_bytes(1);
            return;
        case 0xF7:
            put_text(" exclusive2:");
            show_exclusive_body(e);
            return;
        case 0xFF:
            put_text(" .:");
            dump_meta();
            return;
        default:
            put_text(" unknown ex:");  // 0xF4..0xF6, 0xF8..0xFE: the status byte is the whole event
            put_hex_plain(static_cast<std::uint32_t>(e));
            put_text("(hex)");
            return;
    }
}

void dump_running_data(std::int32_t a) {
    std::int32_t s = last_status;
    std::uint32_t c = static_cast<std::uint32_t>(s & 0x0F) + 1;
    switch (s & 0xF0) {
        case 0x80:
            put_labelled_uint(" x: c:", c);
            show_note_event(s, a, "-");
            return;
        case 0x90:
            put_labelled_uint(" o: c:", c);
            show_note_event(s, a, "-");
            return;
        case 0xA0:
            put_labelled_uint(" poly key press: c:", c);
            put_hex(static_cast<std::uint32_t>(a));
            tell_channel_event(s, a, show_hex_bytes(1));
            return;
        case 0xB0:
            put_labelled_uint(" cc: c:", c);
            show_controller(s, a);
            return;
        case 0xC0:
            put_labelled_uint(" pc: c:", c);
            put_hex(static_cast<std::uint32_t>(a));
            show_program_name(a);
            tell_channel_event(s, a, 0);
            return;
        case 0xD0:
            put_labelled_uint(" channel press: c:", c);
            put_hex(static_cast<std::uint32_t>(a));
            tell_channel_event(s, a, 0);
            return;
        case 0xE0:
            put_labelled_uint(" pitch bend: c:", c);
            put_hex(static_cast<std::uint32_t>(a));
            tell_channel_event(s, a, show_hex_bytes(1));
            return;
        case 0xF0:
            put_text(" unknown ex(bad running status):");  // no running status after system and meta events
            break;
        default:
            put_text(" unknown event(bad running status):");  // no status byte seen yet
            break;
    }
    put_hex_plain(static_cast<std::uint32_t>(a));
    put_text("(hex)");
}

void show_note(std::int32_t n, const char* sep) {
    dump_reserve(32);  // the tab, name, separator and octave, written in place
    char* at = dump_buffer + dump_used;
    *at++ = '\t';
    const char* name = note_name(n);  // one or two letters; none for a note missing at end of input
    if (name[0] != '\0') {
        std::memcpy(at, name, 2);  // the terminator of a one-letter name is overwritten by what follows
        at += name[1] == '\0' ? 1 : 2;
    }
    while (*sep != '\0') *at++ = *sep++;
    at += decimal_at(at, static_cast<std::uint32_t>(n / 12));  // truncated toward zero: -1 is octave 0
    *at++ = ' ';
    dump_used = static_cast<std::size_t>(at - dump_buffer);
}

std::int32_t show_velocity() {
    std::int32_t v = read_byte();
    dump_reserve(40);  // "...", the number and the warning, written in place
    char* at = dump_buffer + dump_used;
    std::memcpy(at, "...", 3);
    at += 3;
    at += decimal_at(at, static_cast<std::uint32_t>(v));
    if (v > 127) {  // signed: a velocity missing at end of input (-1) gets no warning
        std::memcpy(at, "(too big velocity) ", 19);
        at += 19;
    }
    dump_used = static_cast<std::size_t>(at - dump_buffer);
    return v;
}

void reset_event_state() {
    last_status = 0;
    note_watcher = nullptr;
    channel_event_watcher = nullptr;
    data_event_watcher = nullptr;
}
