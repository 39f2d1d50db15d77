// What must hold after any read of the SoundFont reader, whatever the input: for the tests and the fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "soundfont.h"

// The range of each region value as soundfont.h gives it, a little wider for the rounding of floats.
constexpr float region_value_ranges[region_value_fields][2] = {
    {-120, 120}, {-99, 99}, {-128, 127}, {0, 1200}, {0, 144}, {-1, 1},                     // tuning, attenuation, pan
    {0.00097f, 18}, {0.00097f, 101.6f}, {0.00097f, 18}, {0.00097f, 101.6f}, {0, 144}, {0.00097f, 101.6f},  // envelope
    {-1200, 1200}, {-1200, 1200}, {19.4f, 19913}, {0, 96},                                   // key scaling, filter
};

// Checks the tables of the last read of size input bytes, given what it returned; returns what is
// wrong, or nullptr when all holds.
// After a fault: the sentence is one line of printable ASCII ending with '.', and the tables, name,
// version, counts and remark are empty.
// After a good read: every table holds whole records and at least one region; the presets' regions
// follow one another and cover the region table; every region's ranges are in order, its sample is
// in the table and lies within the input, and its frames lie within its sample's, the loop within them.
inline const char* soundfont_tables_fault(const char* fault, std::size_t size) {
    if (fault != nullptr) {
        std::size_t n = std::strlen(fault);
        if (fault != soundfont_message || n < 2 || fault[n - 1] != '.') return "the sentence does not end with a full stop";
        for (std::size_t i = 0; i < n; ++i) {
            if (fault[i] < 0x20 || fault[i] > 0x7E) return "the sentence holds a character that is not printable ASCII";
        }
        if (!soundfont_presets.empty() || !soundfont_region_words.empty() || !soundfont_samples.empty()) return "a fault left tables";
        if (soundfont_name[0] != '\0' || soundfont_version_major != 0 || soundfont_modulator_count != 0 ||
            soundfont_regions_dropped != 0 || soundfont_loops_mended != 0 || soundfont_remark[0] != '\0') {
            return "a fault left what the file said of itself or a count";
        }
        return nullptr;
    }
    if (soundfont_message[0] != '\0') return "a good read left a sentence";
    if (soundfont_presets.size() % preset_fields != 0 || soundfont_region_words.size() % region_word_fields != 0 ||
        soundfont_samples.size() % sample_fields != 0) {
        return "a table holds a part of a record";
    }
    std::size_t presets = soundfont_presets.size() / preset_fields;
    std::size_t regions = soundfont_region_words.size() / region_word_fields;
    std::size_t samples = soundfont_samples.size() / sample_fields;
    if (soundfont_preset_names.size() != presets * preset_name_size) return "the preset names are not one for each preset";
    if (soundfont_region_values.size() != regions * region_value_fields) return "the region values are not one set for each region";
    if (regions == 0) return "a good read made no region";
    std::uint64_t next_region = 0;
    for (std::size_t p = 0; p < presets; ++p) {
        const std::uint32_t* preset = &soundfont_presets[p * preset_fields];
        if (preset[preset_first_region] != next_region) return "a preset's regions do not follow the one before";
        next_region += preset[preset_region_count];
        if (soundfont_preset_names[p * preset_name_size + preset_name_size - 1] != '\0') return "a preset name is not terminated";
    }
    if (next_region != regions) return "the presets' regions do not cover the region table";
    for (std::size_t s = 0; s < samples; ++s) {
        const std::uint32_t* sample = &soundfont_samples[s * sample_fields];
        if (std::uint64_t{sample[sample_byte_offset]} + sample[sample_byte_length] > size) return "a sample lies outside the input";
        if (sample[sample_link] != 0xFFFFFFFF && sample[sample_link] >= samples) return "a sample links to one not there";
        if (sample[sample_rate] < 400 || sample[sample_rate] > 192000) return "a sample rate outside 400-192000 Hz";
        bool compressed = (sample[sample_type] & 0x10) != 0;
        if (!compressed && sample[sample_frames] * std::uint64_t{2} != sample[sample_byte_length]) return "a PCM sample's frames and bytes differ";
        if ((sample[sample_frames] == 0) != (sample[sample_byte_length] == 0)) return "a sample with bytes and no frames, or frames and no bytes";
    }
    for (std::size_t r = 0; r < regions; ++r) {
        const std::uint32_t* region = &soundfont_region_words[r * region_word_fields];
        if (region[region_key_low] > region[region_key_high] || region[region_key_high] > 127) return "a key range out of order";
        if (region[region_velocity_low] > region[region_velocity_high] || region[region_velocity_high] > 127) {
            return "a velocity range out of order";
        }
        if (region[region_sample] >= samples) return "a region's sample is not in the table";
        const std::uint32_t* sample = &soundfont_samples[region[region_sample] * sample_fields];
        if (sample[sample_byte_length] == 0) return "a region uses a sample with no bytes";
        if (!(region[region_start] < region[region_end] && region[region_end] <= sample[sample_frames])) {
            return "a region's frames are not within its sample";
        }
        if (!(region[region_start] <= region[region_loop_start] && region[region_loop_start] <= region[region_loop_end] &&
              region[region_loop_end] <= region[region_end])) {
            return "a region's loop is not within its frames";
        }
        if (region[region_loop_mode] == 2 || region[region_loop_mode] > 3) return "a loop mode that is not 0, 1 or 3";
        if (region[region_loop_mode] != 0 && region[region_loop_start] == region[region_loop_end]) return "an empty loop that loops";
        if (region[region_root_key] > 127 || region[region_exclusive_class] > 127) return "a root key or class above 127";
        for (std::size_t v = 0; v < region_value_fields; ++v) {
            float value = soundfont_region_values[r * region_value_fields + v];
            if (!(value >= region_value_ranges[v][0] && value <= region_value_ranges[v][1])) return "a region value outside its range";
        }
    }
    return nullptr;
}
