// What must hold after any read of the SoundFont reader, whatever the input: for the tests and the fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "soundfont.h"

// The range of each region value as soundfont.h gives it, a little wider for the rounding of floats.
constexpr float region_value_ranges[region_value_fields][2] = {
    {-120, 120}, {-99, 99}, {-128, 127}, {0, 1200}, {0, 144}, {-1, 1},                     // tuning, attenuation, pan
    {0.00097f, 18}, {0.00097f, 101.6f}, {0.00097f, 18}, {0.00097f, 101.6f}, {0, 144}, {0.00097f, 101.6f},  // envelope
    {-1200, 1200}, {-1200, 1200}, {19.4f, 19913}, {0, 96},                                   // key scaling, filter
    {0.00097f, 18}, {0.00097f, 101.6f}, {0.00097f, 18}, {0.00097f, 101.6f}, {0, 1}, {0.00097f, 101.6f},  // modulation envelope
    {-1200, 1200}, {-1200, 1200}, {-12000, 12000}, {-12000, 12000},                        // its key scaling, pitch, filter
    {0.00097f, 18}, {0.00079f, 110.1f}, {-12000, 12000}, {-12000, 12000}, {-96, 96},       // modulation LFO
    {0.00097f, 18}, {0.00079f, 110.1f}, {-12000, 12000},                                   // vibrato LFO
    {0, 1}, {0, 1},                                                                        // reverb, chorus
};

// What the page's synthesizer derives from a region for a note on one key, by the same rules: the
// sample step (frames of the sample a frame of output at 44,100 Hz, before the synthesizer caps it at
// 1024) and the hold and decay of both envelopes scaled by the key, each capped as the synthesizer
// caps it (hold at 2^(5000/1200) s, decay at 2^(8000/1200) s).
struct Playback {
    double step, hold, decay, mod_env_hold, mod_env_decay;
};
inline Playback playback_at_key(const std::uint32_t* words, const float* values, std::uint32_t rate, int key) {
    auto scaled = [key](double seconds, double per_key, double cap) {
        return std::min(seconds * std::exp2(per_key * (60 - key) / 1200.0), cap);
    };
    const double hold_cap = std::exp2(5000 / 1200.0), decay_cap = std::exp2(8000 / 1200.0);
    double cents = (key - static_cast<double>(words[region_root_key])) * values[region_scale_tuning] +
                   values[region_coarse_tune] * 100.0 + values[region_fine_tune] + values[region_pitch_correction];
    return {std::exp2(cents / 1200.0) * rate / 44100.0,
            scaled(values[region_hold], values[region_key_to_hold], hold_cap),
            scaled(values[region_decay], values[region_key_to_decay], decay_cap),
            scaled(values[region_mod_env_hold], values[region_key_to_mod_env_hold], hold_cap),
            scaled(values[region_mod_env_decay], values[region_key_to_mod_env_decay], decay_cap)};
}

// The most regions of the preset's that sound on one key and velocity (counted over the whole
// 128 x 128 grid by the corners of each region's rectangle).
inline std::uint32_t most_layers(const std::uint32_t* preset) {
    std::vector<std::int32_t> grid(129 * 129, 0);
    for (std::uint32_t r = preset[preset_first_region]; r < preset[preset_first_region] + preset[preset_region_count]; ++r) {
        const std::uint32_t* w = &soundfont_region_words[r * region_word_fields];
        std::uint32_t k0 = w[region_key_low], k1 = w[region_key_high] + 1, v0 = w[region_velocity_low], v1 = w[region_velocity_high] + 1;
        ++grid[k0 * 129 + v0];
        --grid[k0 * 129 + v1];
        --grid[k1 * 129 + v0];
        ++grid[k1 * 129 + v1];
    }
    std::int32_t most = 0;
    for (std::uint32_t k = 0; k < 128; ++k) {
        for (std::uint32_t v = 0; v < 128; ++v) {
            std::int32_t& here = grid[k * 129 + v];
            if (k > 0) here += grid[(k - 1) * 129 + v];
            if (v > 0) here += grid[k * 129 + v - 1];
            if (k > 0 && v > 0) here -= grid[(k - 1) * 129 + v - 1];
            most = std::max(most, here);
        }
    }
    return static_cast<std::uint32_t>(most);
}

// Checks the tables of the last read of size input bytes, given what it returned; returns what is
// wrong, or nullptr when all holds.
// After a fault: the sentence is one line of printable ASCII ending with '.', and the tables, name,
// version, counts and remark are empty.
// After a good read: every table holds whole records and at least one region; the presets' regions
// follow one another and cover the region table; every region's ranges are in order, its sample is
// in the table and lies within the input, and its frames lie within its sample's, the loop within them;
// its values lie in their ranges, its modulator list within the modulator table (each entry's
// destination a generator, its amount finite), and what playback derives from it at keys 0 and 127
// is finite; no preset sounds more than layer_limit regions on one key and velocity, and none has a
// program above 127.
inline const char* soundfont_tables_fault(const char* fault, std::size_t size) {
    if (fault != nullptr) {
        std::size_t n = std::strlen(fault);
        if (fault != soundfont_message || n < 2 || fault[n - 1] != '.') return "the sentence does not end with a full stop";
        for (std::size_t i = 0; i < n; ++i) {
            if (fault[i] < 0x20 || fault[i] > 0x7E) return "the sentence holds a character that is not printable ASCII";
        }
        if (!soundfont_presets.empty() || !soundfont_region_words.empty() || !soundfont_samples.empty() ||
            !soundfont_modulator_words.empty() || !soundfont_modulator_amounts.empty()) {
            return "a fault left tables";
        }
        if (soundfont_name[0] != '\0' || soundfont_version_major != 0 || soundfont_modulator_count != 0 ||
            soundfont_regions_dropped != 0 || soundfont_loops_mended != 0 || soundfont_remark[0] != '\0' ||
            soundfont_modulators_left_out != 0 || soundfont_presets_refused != 0 || soundfont_layers_dropped != 0) {
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
        if (preset[preset_program] > 127) return "a preset with a program above 127";
        if (most_layers(preset) > layer_limit) return "a preset sounds more than layer_limit regions on one key and velocity";
    }
    if (next_region != regions) return "the presets' regions do not cover the region table";
    std::size_t modulators = soundfont_modulator_amounts.size();
    if (soundfont_modulator_words.size() != modulators * modulator_word_fields) return "the modulator words are not one set for each amount";
    if (modulators > modulator_limit) return "more modulators than modulator_limit";
    for (std::size_t m = 0; m < modulators; ++m) {
        if (soundfont_modulator_words[m * modulator_word_fields + modulator_destination] > 60) return "a modulator's destination is no generator";
        if (!std::isfinite(soundfont_modulator_amounts[m])) return "a modulator's amount is not finite";
    }
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
        if (region[region_modulator_count] > region_modulator_limit) return "a region with more modulators than a voice follows";
        if (std::uint64_t{region[region_first_modulator]} + region[region_modulator_count] > modulators) {
            return "a region's modulators lie outside the modulator table";
        }
        for (int key : {0, 127}) {
            Playback at = playback_at_key(region, &soundfont_region_values[r * region_value_fields], sample[sample_rate], key);
            if (!std::isfinite(at.step) || !std::isfinite(at.hold) || !std::isfinite(at.decay) || !std::isfinite(at.mod_env_hold) ||
                !std::isfinite(at.mod_env_decay)) {
                return "what playback derives from a region is not finite";
            }
        }
    }
    return nullptr;
}
