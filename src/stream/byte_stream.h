// The byte reader over the MIDI input and the dump writer.
//
// Every byte of the input except the chunk identifiers goes through read_byte, which also counts down
// the bytes left in the current track chunk. A byte value is 0..255, or -1 once the input has ended;
// -1 takes part in all arithmetic like any other value. Numbers are written as unsigned 32-bit values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

// ---- input state ----
extern std::FILE* midi_input;                 // the MIDI file, opened for binary reading; null when reading from memory
extern std::int32_t chunk_remaining;          // bytes left in the current track chunk; every read_byte lowers it, even past the end
extern bool input_ended;                      // set when a read finds no more data (not when the last byte is taken); never cleared
extern const unsigned char* input_next;       // next unread byte of the buffered input
extern const unsigned char* input_limit;      // one past the last buffered byte

// ---- dump state ----
extern std::FILE* dump_output;                // default.txt, opened for text writing; null while the dump goes to memory
extern void (*dump_hand_over)(const char* bytes, std::size_t n);  // when not null, the dump goes here instead of to a file
extern std::string* dump_capture;             // the string open_dump_memory appends to (defined with it, apart)
extern bool dump_failed;                      // set once a write to the dump file has failed
extern std::size_t dump_used;                 // bytes waiting in the dump buffer
constexpr std::size_t dump_buffer_size = 1 << 18;
extern char dump_buffer[dump_buffer_size];    // output collected before it is handed to the file
// The dump is handed over once dump_limit bytes of the buffer are used. The limit starts small and
// doubles whenever eight times as much has been handed over, up to the whole buffer: a small listing
// touches (and pays page faults for) only a few pages of the buffer, a large one is written in
// whole-buffer pieces.
constexpr std::size_t dump_first_limit = 1 << 14;
extern std::size_t dump_limit;                // bytes of the buffer used before a hand-over
extern std::uint64_t dump_handed_over_total;  // bytes handed to the file or string since the dump was opened

// Starts reading the input from an opened file, from its first byte.
void open_input_file(std::FILE* file);
// Starts reading the input from bytes in memory (which must outlive the reading).
void open_input_memory(const unsigned char* data, std::size_t size);
// Starts writing the dump to an opened file.
void open_dump_file(std::FILE* file);
// Starts writing the dump to the end of a string held by the caller. (It lives in a unit of its own,
// so that the program, which never calls it, carries no string code.)
void open_dump_memory(std::string* sink);
// Hands the buffered dump to its file or string; a failed file write sets dump_failed.
void flush_dump();
// Forgets both streams and resets every counter and indicator to its state at start.
void reset_stream_state();

// Refills the input buffer and takes one byte from it; -1 (and input_ended set) when none is left.
std::int32_t read_byte_refill();

// Takes the next byte of the input after lowering chunk_remaining; -1 at end of the input.
inline std::int32_t read_byte() {
    chunk_remaining = static_cast<std::int32_t>(static_cast<std::uint32_t>(chunk_remaining) - 1u);
    if (input_next != input_limit) return *input_next++;
    return read_byte_refill();
}
// Big-endian value of n bytes, each missing byte joining the sum as -1; wraps in 32 bits.
std::int32_t read_be(std::int32_t n);
// Variable-length quantity whose first byte may have bit 7 set or be missing (the slow way round).
std::int32_t read_vlq_through();
// Variable-length quantity of any number of bytes; at end of input it stops after the byte it just read.
inline std::int32_t read_vlq() {
    if (input_next != input_limit && *input_next < 0x80) {  // the common one-byte quantity
        chunk_remaining = static_cast<std::int32_t>(static_cast<std::uint32_t>(chunk_remaining) - 1u);
        return *input_next++;
    }
    return read_vlq_through();
}
// True once a read has found no more input.
inline bool input_at_end() { return input_ended; }
// The next input byte without taking it and without touching chunk_remaining; -1 at end of input.
std::int32_t peek_input_byte();
// Takes the next input byte without touching chunk_remaining (for the chunk identifiers).
void skip_input_byte();

// Makes room for at least n more bytes in the dump buffer.
inline void dump_reserve(std::size_t n) {
    if (dump_used + n > dump_limit) flush_dump();
}
// Writes one raw byte to the dump.
inline void put_char(char c) {
    dump_reserve(1);
    dump_buffer[dump_used++] = c;
}
// Writes len raw bytes to the dump, through as many flushes as they need.
void put_bytes_through(const char* s, std::size_t len);
// Writes len raw bytes to the dump.
inline void put_bytes(const char* s, std::size_t len) {
    if (len <= dump_limit - dump_used) {
        std::memcpy(dump_buffer + dump_used, s, len);
        dump_used += len;
    } else {
        put_bytes_through(s, len);
    }
}
// Writes a terminated string unchanged ("%s").
inline void put_text(const char* s) { put_bytes(s, std::strlen(s)); }

extern const char digit_pairs[201];  // "00" to "99": two decimal digits for each number below 100

// Writes the decimal digits of v (1000 or more) at p; returns how many.
std::size_t long_decimal_at(char* p, std::uint32_t v);
// Writes the decimal digits of v at p, which has room for 10; returns how many.
inline std::size_t decimal_at(char* p, std::uint32_t v) {
    if (v < 10) {
        p[0] = static_cast<char>('0' + v);
        return 1;
    }
    if (v < 100) {
        std::memcpy(p, digit_pairs + 2 * v, 2);
        return 2;
    }
    if (v < 1000) {
        p[0] = static_cast<char>('0' + v / 100);
        std::memcpy(p + 1, digit_pairs + 2 * (v % 100), 2);
        return 3;
    }
    return long_decimal_at(p, v);
}
// Writes v as unsigned decimal with nothing before or after it ("%u").
inline void put_uint(std::uint32_t v) {
    dump_reserve(10);
    dump_used += decimal_at(dump_buffer + dump_used, v);
}
// Writes v as unsigned decimal followed by one space ("%u ").
inline void put_uint_sp(std::uint32_t v) {
    dump_reserve(11);
    std::size_t n = decimal_at(dump_buffer + dump_used, v);
    dump_buffer[dump_used + n] = ' ';
    dump_used += n + 1;
}
// Writes the label, then v as unsigned decimal and one space ("%s" then "%u ").
inline void put_labelled_uint(const char* label, std::uint32_t v) {
    put_text(label);
    put_uint_sp(v);
}
// Writes v (0x100 or more) in lower-case hex followed by "H ".
void put_long_hex(std::uint32_t v);
// Writes v in lower-case hex, right-aligned in 3 characters, then "H " ("%3xH ").
inline void put_hex(std::uint32_t v) {
    if (v >= 0x100) {
        put_long_hex(v);
        return;
    }
    constexpr char hex[] = "0123456789abcdef";
    dump_reserve(5);
    char* p = dump_buffer + dump_used;
    p[0] = ' ';
    p[1] = v < 0x10 ? ' ' : hex[v >> 4];
    p[2] = hex[v & 0xF];
    p[3] = 'H';
    p[4] = ' ';
    dump_used += 5;
}
// Writes v in lower-case hex with nothing around it ("%x").
void put_hex_plain(std::uint32_t v);
// Writes n line ends, and one when n is 0 or less.
inline void put_line_ends(std::int32_t n) {
    put_char('\n');
    for (; n > 1; --n) put_char('\n');
}
// Writes a line end, 22 hyphens and another line end.
void put_separator();

// Writes the label, then reads n bytes and writes each in decimal; returns the last byte value.
inline std::int32_t show_bytes_dec(std::uint32_t n, const char* label) {
    put_text(label);
    std::int32_t b = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        b = read_byte();
        put_uint(static_cast<std::uint32_t>(b));
    }
    return b;
}
// Reads one byte and writes it with put_hex; returns it.
std::int32_t show_hex_byte();
// Reads and writes n bytes in hex (none when n <= 0), missing bytes shown as -1; returns the last.
std::int32_t show_hex_bytes(std::int32_t n);
// Reads and writes in hex up to n bytes of a body whose length came from the file, stopping at the
// end of the input; returns the last byte value read.
std::int32_t show_hex_body(std::int32_t n);
// Writes the label and "/", then up to n raw bytes (stopping at the end of the input), then "/";
// returns the last byte value read.
std::int32_t show_text_bytes(std::uint32_t n, const char* label);
