// What the fuzz targets share: a fresh start for every input, the listing into memory, and the checks
// that hold for any input whatever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The most output a listing may write for an input of size bytes: 64 bytes per input byte plus 16 MiB
// (65535 track blocks past the end of a short file come to about 9 MB).
constexpr std::size_t listing_bound(std::size_t size) { return 64 * size + (std::size_t{16} << 20); }

// The listing of the last input; kept between inputs so that its room, up to some 9 MB, is reused
// rather than grown anew for every input.
extern std::string fuzz_listing;

// Lists size bytes at data as the file name, with the state as it is, into out (replacing its content).
void list_into(std::string& out, const std::uint8_t* data, std::size_t size, const char* name);
// Stops the run with a message on stderr when a listing of size input bytes broke a bound or lacks its closing line.
void check_listing(const std::string& out, std::size_t size, const char* name);
