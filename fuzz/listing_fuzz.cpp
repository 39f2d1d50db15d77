// Any bytes at all as a MIDI file: the whole listing, from fresh state, bounded and closed.
//
// A header may declare up to 65535 tracks, and those the input does not hold are listed after its end,
// each block from the same carried state (the last identifier, the missing-byte length, one event
// decoded from missing bytes), so from the second such block on they differ only in the track number.
// Listing thousands of them per input (some 150 bytes each) would take most of the fuzzing time, so
// the target lowers a declared count beyond what the input could hold, in its own copy of the input.
// A track listed whole before the end reads at least six bytes (the identifier's first byte, four of
// length, one of delta time), so the bytes after the count hold at most one track per six; one more
// meets the end, and a few blocks past the end are still listed. The full range of the track loop, up
// to 65535, is covered by the unit tests.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "control/driver.h"
#include "fuzz_support.h"
#include "listing/file_structure.h"

namespace {
constexpr std::size_t blocks_past_end_kept = 4;  // track blocks listed after the end of the input, at most

// True for the bytes the identifier read skips before a word and stops at after it: space, tab, LF, VT, FF, CR.
bool is_white_space(std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Offset of the header's track-count field, found the way the listing reads the header (white space,
// an identifier word of 1 to 4 bytes, 4 bytes of length, 2 of format); size when the input does not
// hold the whole field.
std::size_t track_count_offset(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size && is_white_space(data[i])) ++i;
    if (i < size) {
        ++i;  // the identifier's first byte, whatever it is
        for (int taken = 1; taken < 4 && i < size && data[i] != 0 && !is_white_space(data[i]); ++taken) ++i;
    }
    std::size_t offset = i + 6;
    return offset + 2 <= size ? offset : size;
}

// The big-endian 16-bit value at p.
std::uint32_t be16(const std::uint8_t* p) { return std::uint32_t{p[0]} << 8 | p[1]; }
}  // namespace

// Lists one input (its track count lowered as above) and checks the listing's size and closing line,
// and that the listing read the track count where the target looked for it; libFuzzer calls it once per input.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> input(data, data + size);
    std::size_t count_at = track_count_offset(input.data(), size);
    if (count_at < size) {
        std::uint32_t format = be16(&input[count_at - 2]);
        std::size_t most = (size - (count_at + 2)) / 6 + 1 + blocks_past_end_kept;  // tracks worth listing
        if ((format == 1 || format == 2) && be16(&input[count_at]) > most) {
            input[count_at] = static_cast<std::uint8_t>(most >> 8);
            input[count_at + 1] = static_cast<std::uint8_t>(most & 0xFF);
        }
    }
    reset_program_state();
    list_counted(input.data(), size, "fuzz.mid");
    check_listing(size, "fuzz.mid");
    if (count_at < size && static_cast<std::uint32_t>(track_count) != be16(&input[count_at])) {
        std::fprintf(stderr, "smfdump fuzz: the listing read the track count elsewhere than the target looked\n");
        std::abort();
    }
    return 0;
}
