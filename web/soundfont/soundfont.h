// The SoundFont reader: a SoundFont 2 file (.sf2, or .sf3 whose samples are Ogg Vorbis streams) held in
// memory, read into flat tables that a synthesizer plays from without knowing the format's rules.
//
// Every preset gets its regions: each is one instrument zone under one preset zone, the two levels
// already merged (the preset's values added to the instrument's, key and velocity ranges intersected,
// defaults filled in, every value clamped to its range) and given in plain units. The synthesizer
// plays every region of the chosen preset whose key and velocity ranges hold the note; no preset
// holds more than layer_limit regions that sound on one key and velocity (the quietest are dropped).
// Each region names its complete list of modulators in the modulator table: the standard's default
// modulators with the file's own merged in, as they apply to a voice of the region.
//
// A damaged or hostile file gives one plain sentence saying what is wrong. The reader never reads
// outside the bytes it is given, and its work and memory are bounded: at most region_offer_limit
// regions made from the zones, region_limit kept, modulator_limit modulators in the table, and at
// most merge_read_limit generators and modulators read while merging.
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
    region_first_modulator,                     // the region's modulators: modulator table entries from this one on
    region_modulator_count,                     //   and how many (regions share lists: at least all with no modulator of their own)
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
    region_mod_env_delay,     // modulation envelope, in seconds as the volume envelope's: delay, 0.001 to 18
    region_mod_env_attack,    //   attack, 0.001 to 101.6
    region_mod_env_hold,      //   hold, 0.001 to 18
    region_mod_env_decay,     //   decay, to the sustain level, 0.001 to 101.6
    region_mod_env_sustain,   //   sustain level, 0 to 1: the fraction of its full level it decays to
    region_mod_env_release,   //   release, 0.001 to 101.6
    region_key_to_mod_env_hold,   // timecents per key below 60 added to its hold (-1200 to 1200), as region_key_to_hold
    region_key_to_mod_env_decay,  // the same for its decay
    region_mod_env_to_pitch,  // cents the pitch moves at the modulation envelope's full level, -12000 to 12000
    region_mod_env_to_filter, // cents the filter cutoff moves at its full level, -12000 to 12000
    region_mod_lfo_delay,     // modulation LFO: seconds before it starts, 0.001 to 18
    region_mod_lfo_frequency, //   Hz, 0.000794 to 110 (from -16000 to 4500 absolute cents)
    region_mod_lfo_to_pitch,  //   cents at its top, -12000 to 12000
    region_mod_lfo_to_filter, //   cents of filter cutoff at its top, -12000 to 12000
    region_mod_lfo_to_volume, //   dB quieter at its top (louder where negative), -96 to 96
    region_vib_lfo_delay,     // vibrato LFO: seconds before it starts, 0.001 to 18
    region_vib_lfo_frequency, //   Hz, 0.000794 to 110
    region_vib_lfo_to_pitch,  //   cents at its top, -12000 to 12000
    region_reverb_send,       // share of the sound sent to reverb, 0 to 1
    region_chorus_send,       // share sent to chorus, 0 to 1
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

// ---- modulators, modulator_word_fields words and one float each ----
// Each region's list lies in one run of the table, in order of destination, then source, then amount
// source; no two in a list have the same three. Every entry is valid: its sources are defined ones
// (no link from another modulator), its destination a generator. Of the standard's ten defaults,
// velocity to filter cutoff has amount 0 (soundfont.cpp says why).
enum Modulator_word : std::uint32_t {
    modulator_source,         // 16 bits as in the file: index (bits 0-6), CC flag (7), direction (8), polarity (9), curve type (10-15)
    modulator_destination,    // the generator it adds to, 0-60
    modulator_amount_source,  // the source its amount is scaled by, as modulator_source (0: none, scaled by 1)
    modulator_transform,      // as in the file: 0 linear, 2 absolute value (any other is not defined: play it as linear)
    modulator_word_fields
};
// soundfont_modulator_amounts: for each entry, the amount in the destination generator's own units
// (cents, centibels, 0.1%, timecents), identical preset and instrument modulators already summed.

// The work bounds of a read: a file whose presets would make more regions, read more generators and
// modulators while being merged, or need more modulators in the table, gives its sentence instead.
// The page keeps each region as a row of about 50 doubles (400 bytes): 200,000 regions keep it under
// 80 MB, ten times what the largest General MIDI sets need (FluidR3_GM makes about 17,000).
constexpr std::uint32_t region_limit = 200000;
constexpr std::uint64_t region_offer_limit = 2000000;  // regions the zones make before the layer limit drops any
constexpr std::uint64_t merge_read_limit = 50000000;   // generators and modulators read while merging
constexpr std::uint32_t modulator_limit = 1000000;     // entries in the modulator table (20 MB)
constexpr std::uint32_t region_modulator_limit = 128;  // modulators in one region's list: a voice sums them all at each change of a controller (the defaults are ten; real sets add a few)
constexpr std::uint32_t layer_limit = 64;              // regions of a preset that may sound on one key and velocity
constexpr std::uint64_t layer_work_limit = 50000000;    // key and velocity cells visited while holding presets to layer_limit

extern std::vector<std::uint32_t> soundfont_presets;       // preset_fields words for each preset
extern std::vector<char> soundfont_preset_names;           // preset_name_size bytes for each preset
extern std::vector<std::uint32_t> soundfont_region_words;  // region_word_fields words for each region
extern std::vector<float> soundfont_region_values;         // region_value_fields floats for each region
extern std::vector<std::uint32_t> soundfont_samples;       // sample_fields words for each sample
extern std::vector<std::uint32_t> soundfont_modulator_words;  // modulator_word_fields words for each modulator
extern std::vector<float> soundfont_modulator_amounts;        // one amount for each modulator
extern char soundfont_name[257];                  // the name the file gives itself (INAM), terminated; empty when it has none
extern std::uint32_t soundfont_version_major;     // the format version the file states (ifil): 2 for .sf2, 3 for .sf3; 0 when it states none
extern std::uint32_t soundfont_version_minor;
extern std::uint32_t soundfont_modulator_count;   // the file's own modulators, preset and instrument level
extern std::uint32_t soundfont_modulator_lists_cut;  // regions whose list of modulators was cut to region_modulator_limit
extern std::uint32_t soundfont_modulators_left_out;  // of those, how many are left out: linked, or with an undefined source or destination
extern std::uint32_t soundfont_presets_refused;   // presets left out because their program is above 127
extern std::uint32_t soundfont_layers_dropped;    // regions dropped because more than layer_limit of a preset would sound at once
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
    table_modulator_total,        // entries in the modulator table
    table_modulator_words, table_modulator_amounts,  // its addresses
    table_modulator_word_fields,
    table_presets_refused, table_layers_dropped,
    table_entries
};
