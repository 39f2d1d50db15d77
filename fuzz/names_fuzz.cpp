// Any bytes at all as the names file: every program name stays terminated within its 30 bytes, and a
// listing that shows all 128 names stays within what 29-character names can make.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control/names_file.h"
#include "control/driver.h"
#include "fuzz_support.h"
#include "listing/name_tables.h"
#include "support/smf_builder.h"

namespace {
// A format-0 file whose one track changes to each program 0..127 in turn, so every name is shown.
std::string all_programs_song() {
    using namespace smf;
    Bytes events;
    for (int p = 0; p < 128; ++p) events += event(0, {0xC0, p});  // program change, channel 1
    return header(0, 1, 96) + track(events + end_of_track());
}

const std::string programs_song = all_programs_song();  // listed after every load

// Writes why the run stops and aborts, so that libFuzzer keeps the input as a finding.
[[noreturn]] void fail(const char* what, int entry) {
    std::fprintf(stderr, "smfdump names fuzz: %s (entry %d)\n", what, entry);
    std::abort();
}
}  // namespace

// Loads one input as the names file, checks every entry, then lists all programs with those names.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    reset_program_state();
    if (size > 0) {  // an empty names file can't be opened in memory; it is the same as none
        std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
        if (file == nullptr) fail("fmemopen failed", -1);
        read_program_names(file);
        std::fclose(file);
    }
    for (int p = 0; p < 128; ++p) {
        if (std::memchr(program_name_table[p], '\0', program_name_size) == nullptr) fail("name not terminated", p);
    }
    const auto* song = reinterpret_cast<const std::uint8_t*>(programs_song.data());
    list_counted(song, programs_song.size(), "names.mid");
    check_listing(programs_song.size(), "names.mid");
    std::size_t with_names = listing_written;
    reset_program_state();
    list_counted(song, programs_song.size(), "names.mid");
    // each of the 128 names adds at most 29 characters to the listing with empty names
    if (with_names > listing_written + 128 * 29) fail("names longer than 29 characters reached the listing", -1);
    return 0;
}
