// The SoundFont reader for the page. JavaScript puts a SoundFont's bytes into the module's memory
// (sf_input), has them read (sf_read), and finds the tables through one table of words (sf_tables),
// laid out as Table_entry in soundfont.h: counts, and addresses of the flat tables whose layouts
// soundfont.h gives. Every address and count is an unsigned 32-bit value (read with >>> 0).
// A new file drops the old one's bytes and tables. Each function here is called from JavaScript.
#include <emscripten.h>

#include <cstdint>
#include <cstdlib>

#include "soundfont.h"

namespace {
unsigned char* input_bytes = nullptr;  // the SoundFont being read or played (malloc'd), or null
std::size_t input_length = 0;          // its size in bytes
std::uint32_t tables[table_entries] = {};  // what sf_tables hands over

// The address of p as the page sees it.
std::uint32_t address(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }
}  // namespace

extern "C" {

// Drops the last SoundFont (bytes and tables), makes room for one of size bytes and returns where the
// page is to put them; 0 when the memory can't be had.
EMSCRIPTEN_KEEPALIVE unsigned char* sf_input(std::size_t size) {
    forget_soundfont();
    std::free(input_bytes);
    input_length = 0;
    input_bytes = static_cast<unsigned char*>(std::malloc(size > 0 ? size : 1));
    if (input_bytes != nullptr) input_length = size;
    return input_bytes;
}

// Reads the SoundFont put in by sf_input: 0 when it can be played, else the address of one plain
// sentence (UTF-8, terminated) saying what is wrong.
EMSCRIPTEN_KEEPALIVE const char* sf_read() {
    if (input_bytes == nullptr) return read_soundfont(nullptr, 0);  // "not a SoundFont": there is nothing
    return read_soundfont(input_bytes, input_length);
}

// Gives back the SoundFont's bytes once the page has taken its samples; the tables stay.
EMSCRIPTEN_KEEPALIVE void sf_drop_input() {
    std::free(input_bytes);
    input_bytes = nullptr;
    input_length = 0;
}

// The address of table_entries words telling where the tables of the last read are (see Table_entry).
EMSCRIPTEN_KEEPALIVE const std::uint32_t* sf_tables() {
    tables[table_preset_count] = static_cast<std::uint32_t>(soundfont_presets.size() / preset_fields);
    tables[table_presets] = address(soundfont_presets.data());
    tables[table_preset_names] = address(soundfont_preset_names.data());
    tables[table_region_count] = static_cast<std::uint32_t>(soundfont_region_words.size() / region_word_fields);
    tables[table_region_words] = address(soundfont_region_words.data());
    tables[table_region_values] = address(soundfont_region_values.data());
    tables[table_sample_count] = static_cast<std::uint32_t>(soundfont_samples.size() / sample_fields);
    tables[table_samples] = address(soundfont_samples.data());
    tables[table_name] = address(soundfont_name);
    tables[table_version_major] = soundfont_version_major;
    tables[table_version_minor] = soundfont_version_minor;
    tables[table_modulator_count] = soundfont_modulator_count;
    tables[table_regions_dropped] = soundfont_regions_dropped;
    tables[table_loops_mended] = soundfont_loops_mended;
    tables[table_remark] = soundfont_remark[0] != '\0' ? address(soundfont_remark) : 0;
    tables[table_input] = address(input_bytes);
    tables[table_input_size] = static_cast<std::uint32_t>(input_length);
    tables[table_preset_fields] = preset_fields;
    tables[table_region_word_fields] = region_word_fields;
    tables[table_region_value_fields] = region_value_fields;
    tables[table_sample_fields] = sample_fields;
    tables[table_modulator_total] = static_cast<std::uint32_t>(soundfont_modulator_amounts.size());
    tables[table_modulator_words] = address(soundfont_modulator_words.data());
    tables[table_modulator_amounts] = address(soundfont_modulator_amounts.data());
    tables[table_modulator_word_fields] = modulator_word_fields;
    tables[table_presets_refused] = soundfont_presets_refused;
    tables[table_layers_dropped] = soundfont_layers_dropped;
    return tables;
}

}  // extern "C"
