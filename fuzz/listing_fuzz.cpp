// Any bytes at all as a MIDI file: the whole listing, from fresh state, bounded and closed.
#include <cstddef>
#include <cstdint>

#include "control/driver.h"
#include "fuzz_support.h"

// Lists one input and checks the listing's size and closing line; libFuzzer calls it once per input.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    reset_program_state();
    list_into(fuzz_listing, data, size, "fuzz.mid");
    check_listing(fuzz_listing, size, "fuzz.mid");
    return 0;
}
