// What the fuzz targets share: a fresh start for every input, the listing streamed into a sink that
// counts its bytes and keeps only its tail, and the checks that hold for any input whatever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The most output a listing may write for an input of size bytes: 64 bytes per input byte plus 16 MiB
// (65535 track blocks past the end of a short file come to about 9 MB).
constexpr std::size_t listing_bound(std::size_t size) { return 64 * size + (std::size_t{16} << 20); }

constexpr std::size_t listing_tail_size = 256;  // the listing's last bytes kept: room for the closing line

extern std::FILE* listing_sink;                // unbuffered stream that counts what is written and keeps its tail; opened once
extern std::size_t listing_written;            // bytes of the current listing so far
extern std::size_t listing_input_size;         // bytes of the input being listed: the sink stops the run once their bound is passed
extern char listing_tail[listing_tail_size];   // the last bytes of the current listing, the oldest first
extern std::size_t listing_tail_used;          // how many of listing_tail hold listing bytes

// Lists size bytes at data as the file name, with the state as it is, into the counting sink, and
// stops the run as soon as the listing passes the bound for size input bytes.
void list_counted(const std::uint8_t* data, std::size_t size, const char* name);
// Stops the run with a message on stderr when the last listing of size input bytes lacks its closing line.
void check_listing(std::size_t size, const char* name);

// Offset of the header's track-count field, found the way the listing reads the header (white space,
// an identifier word of 1 to 4 bytes, 4 bytes of length, 2 of format); size when the input does not
// hold the whole field.
std::size_t track_count_offset(const std::uint8_t* data, std::size_t size);
// Lowers, in place, a declared track count of a format 1 or 2 header beyond what the input's bytes
// could hold (a track listed whole before the end takes six bytes at least: the identifier's first
// byte, four of length, one of delta time) plus a few blocks past the end. A header may declare up to
// 65535 tracks, and those the input does not hold are listed after its end, each from the same carried
// state, so from the second such block on they differ only in the track number: listing thousands of
// them per input would take most of the fuzzing time. The full range of the track loop is covered by
// the unit tests. Returns the offset of the count (size when there is none).
std::size_t lower_track_count(std::uint8_t* data, std::size_t size);
