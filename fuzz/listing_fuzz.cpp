// Any bytes at all as a MIDI file: the whole listing, from fresh state, bounded and closed.
//
// A declared track count beyond what the input could hold is lowered in the target's own copy of the
// input (lower_track_count says why); a few blocks past the end are still listed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "control/driver.h"
#include "fuzz_support.h"
#include "listing/file_structure.h"

// Lists one input (its track count lowered as above) and checks the listing's size and closing line,
// and that the listing read the track count where the target looked for it; libFuzzer calls it once per input.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> input(data, data + size);
    std::size_t count_at = lower_track_count(input.data(), size);
    reset_program_state();
    list_counted(input.data(), size, "fuzz.mid");
    check_listing(size, "fuzz.mid");
    if (count_at < size && static_cast<std::uint32_t>(track_count) != (std::uint32_t{input[count_at]} << 8 | input[count_at + 1])) {
        std::fprintf(stderr, "smfdump fuzz: the listing read the track count elsewhere than the target looked\n");
        std::abort();
    }
    return 0;
}
