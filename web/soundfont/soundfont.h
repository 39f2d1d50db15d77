// The SoundFont reader: a SoundFont 2 file (.sf2, or .sf3 whose samples are Ogg Vorbis streams) held in
// memory, read into flat tables that a synthesizer plays from without knowing the format's rules.
//
// Every preset gets its regions: each is one instrument zone under one preset zone, the two levels
// already merged (the preset's values added to the instrument's, key and velocity ranges intersected,
// defaults filled in, every value clamped to its range) and given in plain units. The synthesizer
// plays every region of the chosen preset whose key and velocity ranges hold the note, and applies
// the standard's default modulators itself; the file's own modulators are only counted.
//
// A damaged or hostile file gives one plain sentence saying what is wrong. The reader never reads
// outside the bytes it is given, and its work and memory are bounded: at most region_limit regions,
// and at most generator_read_limit generators read while merging.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// ---- presets, in the file's order, preset_fields words each ----
enum Preset_field : std::uint32_t {
    preset_bank,          // 0-16383; 128 holds the General MIDI drum kits
    preset_program,       // 0-127 in a General MIDI set (the file may hold up to 65535)
    preset_first_region,  // index of its first region; its regions follow one another
    preset_region_count,  // how many regions it has (0 for a preset that plays nothing)
    preset_fields
};
constexpr std::size_t preset_name_size = 21;  // room for each preset's name: 20 bytes as in the file, then a zero

// ---- regions, in the order of their presets, each region_word_fields words and region_value_fields floats ----
// Sample positions are frames counted from the first frame of the region's sample, as the page holds
// it decoded (16-bit PCM converted, or an Ogg Vorbis stream decoded), with the address offsets of the
// instrument zone applied; 0 <= start < end <= the sample's frames and start <= loop start <= loop end
// <= end always hold (a loop outside its sample is mended, see soundfont_loops_mended).
enum Region_word : std::uint32_t {
    region_key_low, region_key_high,            // MIDI keys 0-127 the region plays, low <= high
    region_velocity_low, region_velocity_high,  // velocities 0-127 it plays, low <= high
    region_sample,                              // index in soundfont_samples
    region_start, region_end,                   // frames played: from start up to (not including) end
    region_loop_start, region_loop_end,         // the loop: loop end is the first frame after it
    region_loop_mode,                           // 0 no loop, 1 loops while sounding, 3 loops until the key is released, then plays on to the end
    region_root_key,                            // 0-127: the key at which the sample plays at its own pitch
    region_exclusive_class,                     // 0 none; else a new note of the class ends the preset's other sounding notes of the class
    region_word_fields
};
enum Region_value : std::uint32_t {
    region_coarse_tune,       // semitones, -120 to 120
    region_fine_tune,         // cents, -99 to 99
    region_pitch_correction,  // cents, -128 to 127: the sample's own correction
    region_scale_tuning,      // cents per key away from the root key, 0 to 1200 (100: the keyboard's tuning)
    region_attenuation,       // dB below full level, 0 to 144, as the file gives it (some players scale it by 0.4)
    region_pan,               // -1 (left) to 1 (right)
    region_delay,             // volume envelope, in seconds (from 2^(timecents/1200)): delay, 0.001 to 18
    region_attack,            //   attack, 0.001 to 101.6
    region_hold,              //   hold, 0.001 to 18
    region_decay,             //   decay, to the sustain level, 0.001 to 101.6
    region_sustain,           //   sustain level, in dB below full level, 0 to 144
    region_release,           //   release, 0.001 to 101.6
    region_key_to_hold,       // timecents per key below 60 added to the hold (-1200 to 1200): hold * 2^(this * (60 - key) / 1200)
    region_key_to_decay,      // the same for the decay
    region_filter_cutoff,     // low-pass cutoff in Hz (from 1500 to 13500 absolute cents: 19.4 Hz to 19.9 kHz)
    region_filter_q,          // resonance in dB above the cutoff's level, 0 to 96
    region_value_fields
};

// ---- samples, in the file's order, sample_fields words each ----
// Where each sample's bytes lie in the input: 16-bit little-endian mono PCM (the offset may be odd:
// read it with a DataView or copy it), or an Ogg Vorbis stream (sample_type bit 0x10) to decode with
// decodeAudioData (which resamples to its context's rate: decode in an OfflineAudioContext at
// sample_rate to keep the frames the regions count). A sample that can't be played (see
// soundfont_regions_dropped) has 0 bytes and 0 frames, and no region uses it.
enum Sample_field : std::uint32_t {
    sample_byte_offset,  // from the start of the input
    sample_byte_length,
    sample_frames,       // PCM: byte length / 2; Ogg: the stream's last granule position (the decoder may give a few frames fewer: play only what it gives)
    sample_rate,         // Hz, 400 to 192000, at which the frames are to be played back at the root key
    sample_type,         // as in the file: 1 mono, 2 right, 4 left, 8 linked, with 0x10 set for an Ogg Vorbis stream
    sample_link,         // for a left, right or linked sample: the other of its pair (index in soundfont_samples); else 0xFFFFFFFF
    sample_fields
};
constexpr std::uint32_t sample_type_ogg = 0x10;        // the bit of sample_type set for an Ogg Vorbis stream
constexpr std::uint32_t sample_no_link = 0xFFFFFFFF;   // sample_link of a sample that is not one of a pair

// The work bounds of a read: a file whose presets would make more regions, or read more generators
// while being merged, gives its sentence instead.
constexpr std::uint32_t region_limit = 1000000;
constexpr std::uint64_t generator_read_limit = 50000000;

extern std::vector<std::uint32_t> soundfont_presets;       // preset_fields words for each preset
extern std::vector<char> soundfont_preset_names;           // preset_name_size bytes for each preset
extern std::vector<std::uint32_t> soundfont_region_words;  // region_word_fields words for each region
extern std::vector<float> soundfont_region_values;         // region_value_fields floats for each region
extern std::vector<std::uint32_t> soundfont_samples;       // sample_fields words for each sample
extern char soundfont_name[257];                  // the name the file gives itself (INAM), terminated; empty when it has none
extern std::uint32_t soundfont_version_major;     // the format version the file states (ifil): 2 for .sf2, 3 for .sf3; 0 when it states none
extern std::uint32_t soundfont_version_minor;
extern std::uint32_t soundfont_modulator_count;   // the file's own modulators, preset and instrument level (not applied)
extern std::uint32_t soundfont_regions_dropped;   // regions left out because their sample can't be played
extern std::uint32_t soundfont_loops_mended;      // looping regions whose loop reached outside the frames played, clamped into them (turned off when nothing was left)
constexpr std::size_t soundfont_sentence_size = 400;
extern char soundfont_message[soundfont_sentence_size];  // the last read's fault as one plain sentence; empty after a good read
extern char soundfont_remark[soundfont_sentence_size];   // after a good read, one or two sentences on what was left out or mended; else empty

// Reads the SoundFont of size bytes at data into the tables above, after dropping what the last read
// left. Returns nullptr when it can be played, else soundfont_message (the tables are then empty).
// The tables hold offsets into data, not pointers: data may go once the samples are taken from it.
const char* read_soundfont(const unsigned char* data, std::size_t size);
// Empties the tables and the sentences and gives their memory back.
void forget_soundfont();

// ---- what the page finds through one table of words (see soundfont_web.cpp) ----
enum Table_entry : std::uint32_t {
    table_preset_count, table_presets, table_preset_names,
    table_region_count, table_region_words, table_region_values,
    table_sample_count, table_samples,
    table_name, table_version_major, table_version_minor,
    table_modulator_count, table_regions_dropped, table_loops_mended,
    table_remark,  // address of soundfont_remark, or 0 when it is empty
    table_input, table_input_size,  // the bytes the samples lie in (0 and 0 once dropped)
    table_preset_fields, table_region_word_fields, table_region_value_fields, table_sample_fields,
    table_entries
};
