#include "stream/byte_stream.h"

#include <cstring>

std::FILE* midi_input = nullptr;
std::int32_t chunk_remaining = 0;
bool input_ended = false;
const unsigned char* input_next = nullptr;
const unsigned char* input_limit = nullptr;

std::FILE* dump_output = nullptr;
void (*dump_hand_over)(const char* bytes, std::size_t n) = nullptr;
bool dump_failed = false;
std::size_t dump_used = 0;
char dump_buffer[dump_buffer_size];
std::size_t dump_limit = dump_first_limit;
std::uint64_t dump_handed_over_total = 0;

const char digit_pairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

namespace {
constexpr std::size_t input_buffer_size = 1 << 16;
unsigned char input_buffer[input_buffer_size];  // the slice of the MIDI file read so far and not yet taken
// Bytes asked of the file at each refill: few at first, so that a small file touches few pages of the
// buffer, doubling whenever eight times as much has been read, up to the whole buffer.
constexpr std::size_t input_first_read = 1 << 14;
std::size_t input_read_size = input_first_read;
std::uint64_t input_read_total = 0;  // bytes read from the file since it was opened

constexpr char hex_digits[] = "0123456789abcdef";

// Fills the buffer from the input file; false when it holds no byte afterwards.
bool refill_input() {
    if (input_ended || midi_input == nullptr) return false;
    std::size_t got = std::fread(input_buffer, 1, input_read_size, midi_input);
    input_read_total += got;
    if (input_read_size < input_buffer_size && input_read_total >= 8 * input_read_size) input_read_size *= 2;
    if (got == 0) return false;
    input_next = input_buffer;
    input_limit = input_buffer + got;
    return true;
}

// Writes v's decimal digits ending just before end; returns where they start.
char* decimal_digits(std::uint32_t v, char* end) {
    while (v >= 100) {
        std::uint32_t pair = v % 100;
        v /= 100;
        end -= 2;
        std::memcpy(end, digit_pairs + 2 * pair, 2);
    }
    if (v >= 10) {
        end -= 2;
        std::memcpy(end, digit_pairs + 2 * v, 2);
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return end;
}

// Writes v's hex digits ending just before end; returns where they start.
char* hex_digits_of(std::uint32_t v, char* end) {
    do {
        *--end = hex_digits[v & 0xF];
        v >>= 4;
    } while (v != 0);
    return end;
}
}  // namespace

void open_input_file(std::FILE* file) {
    midi_input = file;
    input_ended = false;
    input_read_size = input_first_read;
    input_read_total = 0;
    input_next = input_limit = input_buffer;
}

void open_input_memory(const unsigned char* data, std::size_t size) {
    midi_input = nullptr;
    input_ended = false;
    input_next = data;
    input_limit = data + size;
}

void open_dump_file(std::FILE* file) {
    dump_output = file;
    dump_hand_over = nullptr;
    dump_used = 0;
    dump_limit = dump_first_limit;
    dump_handed_over_total = 0;
    dump_failed = false;
}

void flush_dump() {
    if (dump_used == 0) return;
    if (dump_hand_over != nullptr) {
        dump_hand_over(dump_buffer, dump_used);
    } else if (dump_output != nullptr && !dump_failed) {
        if (std::fwrite(dump_buffer, 1, dump_used, dump_output) != dump_used) dump_failed = true;
    }
    dump_handed_over_total += dump_used;
    dump_used = 0;
    if (dump_limit < dump_buffer_size && dump_handed_over_total >= 8 * dump_limit) dump_limit *= 2;
}

void reset_stream_state() {
    midi_input = nullptr;
    chunk_remaining = 0;
    input_ended = false;
    input_next = input_limit = nullptr;
    dump_output = nullptr;
    dump_hand_over = nullptr;
    dump_failed = false;
    dump_used = 0;
    dump_limit = dump_first_limit;
    dump_handed_over_total = 0;
}

std::int32_t read_byte_refill() {
    if (!refill_input()) {
        input_ended = true;
        return -1;
    }
    return *input_next++;
}

std::int32_t read_be(std::int32_t n) {
    std::uint32_t value = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        // a missing byte reads as -1 and joins the sum like any other byte
        value = value * 256u + static_cast<std::uint32_t>(read_byte());
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t read_vlq_through() {
    std::uint32_t value = 0;
    for (;;) {
        std::int32_t b = read_byte();
        // only bit 7 is cleared, so a missing byte adds 0xFFFFFF7F, i.e. -129
        value = value * 128u + (static_cast<std::uint32_t>(b) & 0xFFFFFF7Fu);
        if ((b & 0x80) == 0 || input_ended) break;
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t peek_input_byte() {
    if (input_next == input_limit && !refill_input()) {
        input_ended = true;
        return -1;
    }
    return *input_next;
}

void skip_input_byte() {
    if (peek_input_byte() >= 0) ++input_next;
}

void put_bytes_through(const char* s, std::size_t len) {
    while (len > 0) {
        dump_reserve(1);
        std::size_t room = dump_limit - dump_used;
        std::size_t part = len < room ? len : room;
        std::memcpy(dump_buffer + dump_used, s, part);
        dump_used += part;
        s += part;
        len -= part;
    }
}

std::size_t long_decimal_at(char* p, std::uint32_t v) {
    char digits[10];
    char* end = digits + sizeof digits;
    char* start = decimal_digits(v, end);
    std::size_t n = static_cast<std::size_t>(end - start);
    std::memcpy(p, start, n);
    return n;
}

void put_long_hex(std::uint32_t v) {
    char text[10];
    char* end = text + 8;
    end[0] = 'H';
    end[1] = ' ';
    char* start = hex_digits_of(v, end);
    put_bytes(start, static_cast<std::size_t>(end + 2 - start));
}

void put_hex_plain(std::uint32_t v) {
    char text[8];
    char* end = text + sizeof text;
    char* start = hex_digits_of(v, end);
    put_bytes(start, static_cast<std::size_t>(end - start));
}

void put_separator() {
    put_text("\n----------------------");
    put_line_ends(1);
}

std::int32_t show_hex_byte() {
    std::int32_t b = read_byte();
    put_hex(static_cast<std::uint32_t>(b));
    return b;
}

std::int32_t show_hex_bytes(std::int32_t n) {
    std::int32_t b = 0;
    for (std::int32_t i = 0; i < n; ++i) b = show_hex_byte();
    return b;
}

std::int32_t show_hex_body(std::int32_t n) {
    std::int32_t b = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        b = read_byte();
        if (b < 0) break;  // the body runs past the end of the input: nothing is shown for bytes not there
        put_hex(static_cast<std::uint32_t>(b));
    }
    return b;
}

std::int32_t show_text_bytes(std::uint32_t n, const char* label) {
    put_text(label);
    put_char('/');
    std::int32_t b = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        b = read_byte();
        if (b < 0) break;  // the body runs past the end of the input: it still gets its closing "/"
        put_char(static_cast<char>(b));
    }
    put_char('/');
    return b;
}
