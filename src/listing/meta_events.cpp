#include "listing/meta_events.h"

#include "listing/events.h"
#include "stream/byte_stream.h"

std::uint32_t ts_numerator = 1;
std::uint32_t ts_denominator = 1;
bool time_signature_seen = false;
void (*tempo_watcher)(std::uint32_t microseconds) = nullptr;

void dump_meta() {
    std::int32_t t = read_byte();
    switch (t) {
        case 0x01: put_text("text"); break;
        case 0x02: put_text("copyright "); break;
        case 0x03: put_text("sequence name "); break;
        case 0x06: put_text("marker "); break;
        case 0x2F: put_text("end of track"); break;  // normally a length of 0: two slashes
        case 0x51: {
            put_text("tempo ");
            read_byte();  // the length, whatever it says: a tempo is three bytes
            auto microseconds = static_cast<std::uint32_t>(read_be(3));
            put_uint(microseconds);
            if (tempo_watcher != nullptr) tempo_watcher(microseconds);
            return;
        }
        case 0x58:
            put_text("time ");
            show_time_signature();
            return;
        case 0x59:
            put_text("key ");
            show_key_signature();
            return;
        default:
            put_text("type ");
            put_hex_plain(static_cast<std::uint32_t>(t));
            put_char(' ');
            break;
    }
    auto length = static_cast<std::uint32_t>(read_vlq());
    if (data_event_watcher != nullptr && t >= 0x01 && t <= 0x0F) data_event_watcher(t, length);
    show_text_bytes(length, "");
}

void show_time_signature() {
    read_byte();  // the length, whatever it says: a time signature is four bytes
    ts_numerator = static_cast<std::uint32_t>(show_bytes_dec(1, ""));
    put_char('/');
    std::int32_t power = read_byte();
    std::uint32_t denominator = 1;
    for (std::int32_t i = 0; i < power; ++i) denominator *= 2u;  // 32 doublings or more leave 0
    ts_denominator = denominator;
    time_signature_seen = true;
    put_uint(denominator);
    put_text(" metronome ");
    show_bytes_dec(1, "");
    put_char(':');
    show_bytes_dec(1, "");
}

void show_key_signature() {
    read_byte();  // the length, whatever it says: a key signature is two bytes
    std::int32_t sf = read_byte();
    if (sf > 128) {  // so 0x80 reads as 128 sharps, and -1 at end of input as sharps too
        put_text("flat:");
        put_uint(static_cast<std::uint32_t>(256 - sf));
    } else {
        put_text("sharp:");
        put_uint(static_cast<std::uint32_t>(sf));
    }
    std::int32_t mode = read_byte();
    put_text(mode == 0 ? " major" : mode == 1 ? " minor" : " ?");
}

void reset_meta_state() {
    ts_numerator = 1;
    ts_denominator = 1;
    time_signature_seen = false;
    tempo_watcher = nullptr;
}
