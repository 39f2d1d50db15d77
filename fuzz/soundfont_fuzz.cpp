// Any bytes at all as a SoundFont: the read ends with one plain sentence and empty tables, or with
// tables that hold together (every region within its sample, every sample within the input, every
// value within its range, every modulator list within the modulator table, no more than the layer
// limit on any key and velocity of a preset, and what playback derives from each region finite: see
// soundfont_checks.h); and a second read of the same bytes, after the first left its state, comes to
// the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "soundfont.h"
#include "web/soundfont_checks.h"

namespace {
// Writes why the run stops and aborts, so that libFuzzer keeps the input as a finding.
[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "smfdump soundfont fuzz: %s\n", what);
    std::abort();
}
}  // namespace

// Reads one input twice and checks the tables after each; libFuzzer calls it once per input.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* fault = read_soundfont(data, size);
    if (const char* broken = soundfont_tables_fault(fault, size)) fail(broken);
    std::string first_sentence = fault != nullptr ? fault : "";
    std::size_t regions = soundfont_region_words.size();
    std::uint32_t dropped = soundfont_regions_dropped, mended = soundfont_loops_mended;
    std::vector<std::uint32_t> modulator_words = soundfont_modulator_words;
    std::vector<std::uint32_t> region_words = soundfont_region_words;
    std::uint32_t layers_dropped = soundfont_layers_dropped, refused = soundfont_presets_refused;

    fault = read_soundfont(data, size);
    if (const char* broken = soundfont_tables_fault(fault, size)) fail(broken);
    if (first_sentence != (fault != nullptr ? fault : "") || regions != soundfont_region_words.size() ||
        dropped != soundfont_regions_dropped || mended != soundfont_loops_mended || modulator_words != soundfont_modulator_words ||
        region_words != soundfont_region_words || layers_dropped != soundfont_layers_dropped || refused != soundfont_presets_refused) {
        fail("a second read of the same bytes came to something else");
    }
    return 0;
}
