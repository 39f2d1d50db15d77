// The SoundFont reader: a small SoundFont built here is read into the regions its zones make; damaged
// and hostile copies each give their one sentence; any cut or changed byte keeps the tables sound;
// and the General MIDI SoundFonts Debian ships, when installed, are read whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "soundfont.h"
#include "web/soundfont_builder.h"
#include "web/soundfont_checks.h"

using namespace sf2;

namespace {
// Reads file with the reader, checks the tables whatever came of it, and returns the sentence ("" when the file was read).
std::string read(const Bytes& file) {
    const char* fault = read_soundfont(reinterpret_cast<const unsigned char*>(file.data()), file.size());
    if (const char* broken = soundfont_tables_fault(fault, file.size())) ADD_FAILURE() << broken;
    return fault != nullptr ? fault : "";
}

// A number as the descriptions show it: integers plain, fractions to six significant digits.
std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// The word fields of the r-th region of the last read, each named, on one line.
std::string region_words_text(std::size_t r) {
    const std::uint32_t* w = &soundfont_region_words[r * region_word_fields];
    auto n = [](double value) { return number(value); };
    return "keys " + n(w[region_key_low]) + "-" + n(w[region_key_high]) + " velocities " + n(w[region_velocity_low]) + "-" +
           n(w[region_velocity_high]) + " sample " + n(w[region_sample]) + " frames " + n(w[region_start]) + "-" +
           n(w[region_end]) + " loop " + n(w[region_loop_start]) + "-" + n(w[region_loop_end]) + " mode " +
           n(w[region_loop_mode]) + " root " + n(w[region_root_key]) + " class " + n(w[region_exclusive_class]);
}

// The r-th region of the last read, every field named, on one line.
std::string region_text(std::size_t r) {
    const float* v = &soundfont_region_values[r * region_value_fields];
    auto n = [](double value) { return number(value); };
    return region_words_text(r) + " | coarse " + n(v[region_coarse_tune]) + " fine " + n(v[region_fine_tune]) +
           " correction " + n(v[region_pitch_correction]) + " scale " + n(v[region_scale_tuning]) + " attenuation " +
           n(v[region_attenuation]) + " pan " + n(v[region_pan]) + " | delay " + n(v[region_delay]) + " attack " +
           n(v[region_attack]) + " hold " + n(v[region_hold]) + " decay " + n(v[region_decay]) + " sustain " +
           n(v[region_sustain]) + " release " + n(v[region_release]) + " key-hold " + n(v[region_key_to_hold]) +
           " key-decay " + n(v[region_key_to_decay]) + " | cutoff " + n(v[region_filter_cutoff]) + " q " +
           n(v[region_filter_q]);
}

// The r-th region's values for the modulation envelope, the LFOs and the effect sends, each named, on one line.
std::string voice_text(std::size_t r) {
    const float* v = &soundfont_region_values[r * region_value_fields];
    auto n = [](double value) { return number(value); };
    return "mod env " + n(v[region_mod_env_delay]) + " " + n(v[region_mod_env_attack]) + " " + n(v[region_mod_env_hold]) + " " +
           n(v[region_mod_env_decay]) + " sustain " + n(v[region_mod_env_sustain]) + " release " + n(v[region_mod_env_release]) +
           " key-hold " + n(v[region_key_to_mod_env_hold]) + " key-decay " + n(v[region_key_to_mod_env_decay]) + " pitch " +
           n(v[region_mod_env_to_pitch]) + " filter " + n(v[region_mod_env_to_filter]) + " | mod lfo " + n(v[region_mod_lfo_delay]) +
           " s " + n(v[region_mod_lfo_frequency]) + " Hz pitch " + n(v[region_mod_lfo_to_pitch]) + " filter " +
           n(v[region_mod_lfo_to_filter]) + " volume " + n(v[region_mod_lfo_to_volume]) + " | vib lfo " + n(v[region_vib_lfo_delay]) +
           " s " + n(v[region_vib_lfo_frequency]) + " Hz pitch " + n(v[region_vib_lfo_to_pitch]) + " | reverb " +
           n(v[region_reverb_send]) + " chorus " + n(v[region_chorus_send]);
}

// The r-th region's modulators, one "destination source*amount source amount" each (sources in hex,
// a transform other than linear after a slash), separated by commas.
std::string modulators_text(std::size_t r) {
    const std::uint32_t* w = &soundfont_region_words[r * region_word_fields];
    std::string out;
    for (std::uint32_t m = w[region_first_modulator]; m < w[region_first_modulator] + w[region_modulator_count]; ++m) {
        const std::uint32_t* mw = &soundfont_modulator_words[m * modulator_word_fields];
        char text[64];
        std::snprintf(text, sizeof text, "%s%u %04X*%04X %g", out.empty() ? "" : ", ", mw[modulator_destination],
                      mw[modulator_source], mw[modulator_amount_source], static_cast<double>(soundfont_modulator_amounts[m]));
        out += text;
        if (mw[modulator_transform] != 0) {
            out += '/';
            out += number(mw[modulator_transform]);
        }
    }
    return out;
}

// The standard's ten default modulators as modulators_text gives them.
const std::string default_modulators_text =
    "6 000D*0000 50, 6 0081*0000 50, 8 0102*0000 0, 15 00DD*0000 200, 16 00DB*0000 200, 17 028A*0000 500, "
    "48 0502*0000 960, 48 0587*0000 960, 48 058B*0000 960, 52 020E*0010 12700";

// The s-th sample of the last read on one line.
std::string sample_text(std::size_t s) {
    const std::uint32_t* w = &soundfont_samples[s * sample_fields];
    return "bytes " + number(w[sample_byte_offset]) + "+" + number(w[sample_byte_length]) + " frames " +
           number(w[sample_frames]) + " rate " + number(w[sample_rate]) + " type " + number(w[sample_type]) + " link " +
           (w[sample_link] == 0xFFFFFFFF ? std::string("none") : number(w[sample_link]));
}

// The p-th preset of the last read on one line.
std::string preset_text(std::size_t p) {
    const std::uint32_t* w = &soundfont_presets[p * preset_fields];
    return number(w[preset_bank]) + ":" + number(w[preset_program]) + " \"" + &soundfont_preset_names[p * preset_name_size] +
           "\" regions " + number(w[preset_first_region]) + "+" + number(w[preset_region_count]);
}

// All regions of the last read, a line each.
std::string all_regions() {
    std::string out;
    for (std::size_t r = 0; r < soundfont_region_words.size() / region_word_fields; ++r) out += region_text(r) + "\n";
    return out;
}

// The example's one region, as the merge makes it: ranges intersected, the preset's values added to
// the instrument zone's (which override its global zone's), offsets applied to the sample's frames.
const std::string example_region =
    "keys 36-80 velocities 20-110 sample 0 frames 3-96 loop 25-74 mode 1 root 62 class 4"
    " | coarse -3 fine 7 correction -7 scale 90 attenuation 3.5 pan -0.2"
    " | delay 0.25 attack 0.5 hold 1 decay 4 sustain 25 release 8 key-hold 50 key-decay -40 | cutoff 880 q 3\n";
}  // namespace

TEST(SoundfontRead, ExampleGivesItsPresetRegionAndSample) {
    ASSERT_EQ(read(soundfont(example())), "");
    EXPECT_EQ(all_regions(), example_region);
    ASSERT_EQ(soundfont_presets.size(), preset_fields);
    EXPECT_EQ(preset_text(0), "3:17 \"Warm Pad\" regions 0+1");
    ASSERT_EQ(soundfont_samples.size(), sample_fields);
    // the sample data starts at byte 74 (RIFF header 12, LIST INFO 42, LIST sdta and smpl headers 20); the sample 10 frames in
    EXPECT_EQ(sample_text(0), "bytes 94+200 frames 100 rate 32000 type 1 link none");
    EXPECT_STREQ(soundfont_name, "Test Pads");
    EXPECT_EQ(soundfont_version_major, 2u);
    EXPECT_EQ(soundfont_version_minor, 4u);
    EXPECT_EQ(soundfont_modulator_count, 2u);
    EXPECT_STREQ(soundfont_remark, "");
}

TEST(SoundfontRead, CompressedSampleCountsBytesAndFramesFromItsOggStream) {
    Parts p = example();
    p.version = le(3, 2) + le(1, 2);
    // an Ogg stream of three pages: the middle one ends the stream's last packet at frame 1234; the
    // last ends none (granule position -1), so it does not count
    Bytes stream = ogg_page(2, 0, 0) + "vorbis header" + ogg_page(0, 1234, 1) + "audio" + ogg_page(4, -1, 2);
    p.sample_data = Bytes("ab") + stream + Bytes(46, '\0');
    // start and end in bytes of the sample data, the loop in frames of the decoded stream
    p.samples = {sample("Pad C4", 2, static_cast<std::uint32_t>(2 + stream.size()), 100, 1200, 32000, 64, -7, 0, 0x11)};
    ASSERT_EQ(read(soundfont(p)), "");
    EXPECT_EQ(soundfont_version_major, 3u);
    // the smpl body starts at byte 74 as in the example
    EXPECT_EQ(sample_text(0), "bytes 76+" + std::to_string(stream.size()) + " frames 1234 rate 32000 type 17 link none");
    EXPECT_EQ(region_words_text(0), "keys 36-80 velocities 20-110 sample 0 frames 3-1230 loop 105-1194 mode 1 root 62 class 4");
}

TEST(SoundfontRead, CoarseAddressOffsetsCount32768Frames) {
    Parts p = example();
    p.sample_data = Bytes(2 * 100000, '\0') + Bytes(2 * 46, '\0');  // 100,000 frames of silence, then the 46
    p.samples = {sample("Long", 0, 100000, 1000, 99000, 44100, 60, 0, 0, 1)};
    p.instrument_zones = {zone(0, 0)};  // no global zone
    p.instrument_modulators.clear();
    p.instrument_generators = {
        gen(start_offset, 5), gen(start_coarse_offset, 1),             // 5 + 32768
        gen(end_offset, -10), gen(end_coarse_offset, -1),              // 100000 - 10 - 32768
        gen(loop_start_offset, 2), gen(loop_start_coarse_offset, 1),   // 1000 + 2 + 32768
        gen(loop_end_offset, -8), gen(loop_end_coarse_offset, -1),     // 99000 - 8 - 32768
        gen(sample_modes, 3),
        gen(sample_id, 0),
    };
    ASSERT_EQ(read(soundfont(p)), "");
    EXPECT_EQ(region_words_text(0), "keys 36-96 velocities 5-120 sample 0 frames 32773-67222 loop 33770-66224 mode 3 root 60 class 0");
}

TEST(SoundfontRead, ZoneRulesOfTheStandard) {
    Parts p = example();
    p.preset_zones = {zone(0, 0), zone(2, 0), zone(3, 0)};
    p.preset_generators = {
        gen(coarse_tune, 1),                // zone 0 has no instrument: the global zone
        gen(start_offset, 50),              // an instrument zone's generator: ignored in a preset zone
        gen(fine_tune, 9),                  // zone 1 names no instrument and is not first: ignored
        gen(instrument_id, 0),              // zone 2: the instrument, with the global tuning
    };
    p.instrument_zones = {zone(0, 0), zone(2, 0), zone(3, 0), zone(6, 0)};
    p.instrument_generators = {
        gen(coarse_tune, 4),                // zone 0 names a sample: not global, though it is first
        gen(sample_id, 0),
        gen(scale_tuning, 50),              // zone 1 names no sample and is not first: ignored
        gen(pan, 250),                      // zone 2: a key range after another generator is ignored
        range(key_range, 60, 61),
        gen(sample_id, 0),
        gen(fine_tune, 11),                 // zone 3: twice the same generator: the last counts
        gen(fine_tune, 12),
        range(velocity_range, 1, 2),        // a velocity range after another generator is ignored
        gen(sample_id, 0),
        gen(pan, -250),                     // after the sample: ignored
    };
    p.instrument_modulators.clear();
    ASSERT_EQ(read(soundfont(p)), "");
    EXPECT_EQ(all_regions(),
              "keys 0-127 velocities 0-127 sample 0 frames 0-100 loop 20-80 mode 0 root 64 class 0"
              " | coarse 5 fine 0 correction -7 scale 100 attenuation 0 pan 0"
              " | delay 0.000976562 attack 0.000976562 hold 0.000976562 decay 0.000976562 sustain 0 release 0.000976562"
              " key-hold 0 key-decay 0 | cutoff 19912.1 q 0\n"
              "keys 0-127 velocities 0-127 sample 0 frames 0-100 loop 20-80 mode 0 root 64 class 0"
              " | coarse 1 fine 0 correction -7 scale 100 attenuation 0 pan 0.5"
              " | delay 0.000976562 attack 0.000976562 hold 0.000976562 decay 0.000976562 sustain 0 release 0.000976562"
              " key-hold 0 key-decay 0 | cutoff 19912.1 q 0\n"
              "keys 0-127 velocities 0-127 sample 0 frames 0-100 loop 20-80 mode 0 root 64 class 0"
              " | coarse 1 fine 12 correction -7 scale 100 attenuation 0 pan 0"
              " | delay 0.000976562 attack 0.000976562 hold 0.000976562 decay 0.000976562 sustain 0 release 0.000976562"
              " key-hold 0 key-decay 0 | cutoff 19912.1 q 0\n");
}

TEST(SoundfontRead, MergedValuesAreClampedToTheirRanges) {
    Parts p = example();
    p.preset_zones = {zone(0, 0)};
    p.preset_generators = {gen(pan, 400), gen(attenuation, 1000), gen(coarse_tune, 100), gen(filter_cutoff, 9000),
                           gen(release, 7000), gen(instrument_id, 0)};
    p.instrument_zones = {zone(0, 0)};
    p.instrument_modulators.clear();
    p.instrument_generators = {gen(pan, 400), gen(attenuation, 1000), gen(coarse_tune, 100), gen(filter_cutoff, 9000),
                               gen(release, 7000), gen(root_key, 300), gen(exclusive_class, 200), gen(sample_modes, 2),
                               gen(sample_id, 0)};
    ASSERT_EQ(read(soundfont(p)), "");
    EXPECT_EQ(all_regions(),
              "keys 0-127 velocities 0-127 sample 0 frames 0-100 loop 20-80 mode 0 root 127 class 127"
              " | coarse 120 fine 0 correction -7 scale 100 attenuation 144 pan 1"
              " | delay 0.000976562 attack 0.000976562 hold 0.000976562 decay 0.000976562 sustain 0 release 101.594"
              " key-hold 0 key-decay 0 | cutoff 19912.1 q 0\n");
}

TEST(SoundfontRead, LoopOutsideItsSampleIsClampedIntoIt) {
    Parts p = example();
    p.samples = {sample("Pad C4", 10, 110, 5, 300, 32000, 64, -7, 0, 1)};  // loop from before the sample to past its end
    ASSERT_EQ(read(soundfont(p)), "");
    EXPECT_EQ(region_words_text(0), "keys 36-80 velocities 20-110 sample 0 frames 3-96 loop 3-96 mode 1 root 62 class 4");
    EXPECT_EQ(soundfont_loops_mended, 1u);
    EXPECT_STREQ(soundfont_remark, "1 loop that reached outside its sample was mended.");

    p.samples = {sample("Pad C4", 10, 110, 200, 300, 32000, 64, -7, 0, 1)};  // wholly past the end: nothing left to loop
    ASSERT_EQ(read(soundfont(p)), "");
    EXPECT_EQ(region_words_text(0), "keys 36-80 velocities 20-110 sample 0 frames 3-96 loop 96-96 mode 0 root 62 class 4");
    EXPECT_EQ(soundfont_loops_mended, 1u);
}

TEST(SoundfontRead, VoiceValuesInTheirUnits) {
    // the example sets none of them: the defaults
    ASSERT_EQ(read(soundfont(example())), "");
    EXPECT_EQ(voice_text(0),
              "mod env 0.000976562 0.000976562 0.000976562 0.000976562 sustain 1 release 0.000976562 key-hold 0 key-decay 0"
              " pitch 0 filter 0 | mod lfo 0.000976562 s 8.1758 Hz pitch 0 filter 0 volume 0"
              " | vib lfo 0.000976562 s 8.1758 Hz pitch 0 | reverb 0 chorus 0");
    Parts p = example();
    p.preset_generators.insert(p.preset_generators.begin() + 4, {  // after the zone's ranges
        gen(mod_lfo_to_pitch, 5),        // added to the instrument's 15
        gen(reverb_send, 100),           // added to the instrument's 150
        gen(chorus_send, 700),           // 700 + 450 is past 1000: full
    });
    p.instrument_generators.insert(p.instrument_generators.begin() + 8, {  // after the zone's ranges
        gen(mod_env_delay, -3600),       // 0.125 s
        gen(mod_env_attack, -2400),      // 0.25 s
        gen(mod_env_hold, -1200),        // 0.5 s
        gen(mod_env_decay, 1200),        // 2 s
        gen(mod_env_sustain, 250),       // 25% down: 0.75 of its full level
        gen(mod_env_release, 2400),      // 4 s
        gen(key_to_mod_env_hold, 30),
        gen(key_to_mod_env_decay, -20),
        gen(mod_env_to_pitch, 700),
        gen(mod_env_to_filter, -1800),
        gen(mod_lfo_delay, -600),        // 0.707 s
        gen(mod_lfo_frequency, -1200),   // an octave below 8.176 Hz
        gen(mod_lfo_to_pitch, 15),
        gen(mod_lfo_to_filter, 300),
        gen(mod_lfo_to_volume, 60),      // 6 dB
        gen(vib_lfo_delay, 600),         // 1.414 s
        gen(vib_lfo_frequency, 1200),    // an octave above 8.176 Hz
        gen(vib_lfo_to_pitch, -25),
        gen(reverb_send, 150),           // 15%
        gen(chorus_send, 450),           // 45%
    });
    ASSERT_EQ(read(soundfont(p)), "");
    EXPECT_EQ(voice_text(0),
              "mod env 0.125 0.25 0.5 2 sustain 0.75 release 4 key-hold 30 key-decay -20 pitch 700 filter -1800"
              " | mod lfo 0.707107 s 4.0879 Hz pitch 20 filter 300 volume 6 | vib lfo 1.41421 s 16.3516 Hz pitch -25"
              " | reverb 0.25 chorus 1");
    EXPECT_EQ(all_regions(), example_region);  // the values the region had before stay as they were
}

TEST(SoundfontRead, ModulatorListsMergeOverTheDefaults) {
    Parts p = example();
    p.preset_modulators = {
        modulator(0x00CA, 8, 500, 0, 0),     // global: CC 74 to filter cutoff, added to the instrument's own
        modulator(0x0502, 48, 100, 0, 0),    // velocity to attenuation: adds to the default's 960
        modulator(0x0095, 5, 30, 0, 0),      // CC 21 to modulation LFO pitch: new
    };
    p.preset_zones = {zone(0, 0), zone(2, 1)};
    p.instrument_modulators = {
        modulator(0x0081, 6, 80, 0, 0),      // global: CC 1 to vibrato, over the default's 50
        modulator(0x00CA, 8, 1200, 0, 0),    // global: CC 74 to filter cutoff
        modulator(0x0081, 6, 90, 0, 0),      // the zone's own: over the global zone's 80
        modulator(0x0081, 0x8000, 10, 0, 0), // linked to another modulator: left out
        modulator(0x0078, 17, 20, 0, 0),     // general controller 120 is not defined: left out
        modulator(0x0102, 8, -1000, 0, 2),   // velocity to filter cutoff, absolute value: over the default
    };
    p.instrument_zones = {zone(0, 0), zone(6, 2)};
    // a second preset and instrument with no modulator of their own, on the same sample
    p.presets.push_back(preset("Plain", 18, 3, 2));
    p.preset_zones.push_back(zone(7, 3));
    p.preset_generators.push_back(gen(instrument_id, 1));
    p.instruments.push_back(instrument("Plain Layer", 2));
    p.instrument_zones.push_back(zone(26, 6));
    p.instrument_generators.push_back(gen(sample_id, 0));
    ASSERT_EQ(read(soundfont(p)), "");
    EXPECT_EQ(modulators_text(0),
              "5 0095*0000 30, 6 000D*0000 50, 6 0081*0000 90, 8 00CA*0000 1700, 8 0102*0000 -1000/2, 15 00DD*0000 200, "
              "16 00DB*0000 200, 17 028A*0000 500, 48 0502*0000 1060, 48 0587*0000 960, 48 058B*0000 960, 52 020E*0010 12700");
    EXPECT_EQ(modulators_text(1), default_modulators_text);
    EXPECT_EQ(soundfont_modulators_left_out, 2u);
    EXPECT_STREQ(soundfont_remark,
                 "2 of its 9 modulators are left out: linked to another, or with a source or destination that is not defined.");
    // every region with none of its own shares the one default list
    p = example();
    p.preset_modulators.clear();
    p.instrument_modulators.clear();
    p.instrument_zones.push_back(zone(26, 0));
    p.instrument_generators.push_back(gen(sample_id, 0));
    ASSERT_EQ(read(soundfont(p)), "");
    EXPECT_EQ(modulators_text(0), default_modulators_text);
    EXPECT_EQ(soundfont_region_words[region_first_modulator], soundfont_region_words[region_word_fields + region_first_modulator]);
    EXPECT_EQ(soundfont_modulator_amounts.size(), 10u);
    // a zone of 130 modulators of its own, each distinct: a voice follows the first 128 of its list
    p = example();
    p.preset_modulators.clear();
    p.instrument_modulators.clear();
    for (std::uint16_t cc = 70; cc <= 82; ++cc) {                         // CC 70 to 82 (unipolar, linear)
        for (std::uint16_t destination : {5, 6, 7, 8, 9, 10, 11, 17, 48, 51}) {  // pitch, filter, pan, attenuation, tuning
            p.instrument_modulators.push_back(modulator(static_cast<std::uint16_t>(0x0080 | cc), destination, 7, 0, 0));
        }
    }
    ASSERT_EQ(read(soundfont(p)), "");
    EXPECT_EQ(soundfont_region_words[region_modulator_count], region_modulator_limit);
    EXPECT_STREQ(soundfont_remark, "1 region has more modulators than a voice can follow: only the first 128 are played.");
}

TEST(SoundfontRead, PresetAbove127IsLeftOutAndTheRestRead) {
    Parts p = example();
    // both presets have the example's two zones, generators and modulator
    p.presets = {preset("Beyond", 128, 0, 0), preset("Warm Pad", 17, 3, 2)};
    p.preset_zones = {zone(0, 0), zone(2, 0), zone(7, 1), zone(9, 1)};
    p.preset_modulators.push_back(p.preset_modulators[0]);
    std::vector<Bytes> generators = p.preset_generators;
    p.preset_generators.insert(p.preset_generators.end(), generators.begin(), generators.end());
    ASSERT_EQ(read(soundfont(p)), "");
    ASSERT_EQ(soundfont_presets.size(), preset_fields);
    EXPECT_EQ(preset_text(0), "3:17 \"Warm Pad\" regions 0+1");
    EXPECT_STREQ(&soundfont_preset_names[0], "Warm Pad");
    EXPECT_EQ(all_regions(), example_region);
    EXPECT_EQ(soundfont_presets_refused, 1u);
    EXPECT_STREQ(soundfont_remark, "1 preset with a program above 127 is left out.");
}

TEST(SoundfontRead, RegionOfAnUnplayableSampleIsDroppedAndCounted) {
    Parts p = example();
    p.samples.push_back(sample("Broken", 100, 500, 110, 400, 22050, 60, 0, 0, 1));  // ends past the 156 frames of data
    p.instrument_zones.push_back(zone(26, 0));
    p.instrument_generators.push_back(gen(sample_id, 1));
    ASSERT_EQ(read(soundfont(p)), "");
    EXPECT_EQ(all_regions(), example_region);
    EXPECT_EQ(soundfont_regions_dropped, 1u);
    EXPECT_EQ(sample_text(1), "bytes 0+0 frames 0 rate 22050 type 1 link none");
    EXPECT_STREQ(soundfont_remark,
                 "1 of the SoundFont's 2 regions is left out, because the sample \"Broken\" lies past the end of the sample data.");
}

TEST(SoundfontRead, NewReadDropsTheOldOnesTables) {
    ASSERT_EQ(read(soundfont(example())), "");
    EXPECT_EQ(read("RIFX"), "This file is not a SoundFont: it does not start with RIFF sfbk.");
    EXPECT_TRUE(soundfont_region_words.empty());
    EXPECT_STREQ(soundfont_name, "");
    ASSERT_EQ(read(soundfont(example())), "");
    EXPECT_EQ(all_regions(), example_region);
    forget_soundfont();
    EXPECT_TRUE(soundfont_region_words.empty() && soundfont_presets.empty() && soundfont_samples.empty());
}

namespace {
// A damaged or hostile copy of a SoundFont and the sentence it gives.
struct Damaged {
    const char* what;
    Bytes file;
    const char* sentence;
};

// The example with its parts changed by change.
template <typename Change>
Bytes example_with(Change change) {
    Parts p = example();
    change(p);
    return soundfont(p);
}

// The example file with the 4 bytes at offset replaced by value (a chunk length that lies).
Bytes example_with_length(std::size_t offset, std::uint32_t value) {
    Bytes file = soundfont(example());
    return file.replace(offset, 4, le(value, 4));
}

// The example with the chunk of the given index in LIST pdta (0 phdr ... 8 shdr) replaced by another
// chunk, or left out when that is empty.
Bytes example_with_chunk(std::size_t index, const Bytes& replacement) {
    Parts p = example();
    std::vector<Bytes> chunks = pdta_chunks(p);
    chunks[index] = replacement;
    return riff(info_list(p) + sdta_list(p) + list("pdta", joined(chunks, "")));
}

// A file with one preset of `zones` zones, each naming instrument 0, whose one zone names the sample
// after `generators` - 1 tunings: for the bounds of a read's work.
Bytes wide_preset(int zones, int instrument_zones, int generators) {
    Parts p = example();
    p.preset_zones.clear();
    p.preset_generators.clear();
    for (int z = 0; z < zones; ++z) {
        p.preset_zones.push_back(zone(z, 0));
        p.preset_generators.push_back(gen(instrument_id, 0));
    }
    p.instrument_zones.clear();
    p.instrument_generators.clear();
    p.instrument_modulators.clear();
    for (int z = 0; z < instrument_zones; ++z) {
        p.instrument_zones.push_back(zone(static_cast<int>(p.instrument_generators.size()), 0));
        for (int g = 1; g < generators; ++g) p.instrument_generators.push_back(gen(fine_tune, 3));
        p.instrument_generators.push_back(gen(sample_id, 0));
    }
    return soundfont(p);
}

// A file of `presets` presets, each playing one instrument whose 8,192 zones fill every key 64 deep
// (all velocities): 8,192 regions a preset, none beyond the layer limit.
Bytes many_presets_of_full_keys(int presets) {
    Parts p = example();
    p.presets.clear();
    p.preset_zones.clear();
    p.preset_generators.clear();
    for (int n = 0; n < presets; ++n) {
        p.presets.push_back(preset("Full " + std::to_string(n), n, 0, n));
        p.preset_zones.push_back(zone(n, 0));
        p.preset_generators.push_back(gen(instrument_id, 0));
    }
    p.instrument_zones.clear();
    p.instrument_generators.clear();
    p.instrument_modulators.clear();
    for (int z = 0; z < 128 * 64; ++z) {
        p.instrument_zones.push_back(zone(2 * z, 0));
        p.instrument_generators.push_back(range(key_range, z % 128, z % 128));
        p.instrument_generators.push_back(gen(sample_id, 0));
    }
    return soundfont(p);
}
}  // namespace

TEST(SoundfontRead, DamagedOrHostileCopiesEachGiveTheirSentence) {
    // the example: RIFF header 12 bytes, LIST INFO 42 (its length at byte 58), LIST sdta 332 (to byte 386),
    // then LIST pdta to the file's end at 886, whose first chunk phdr starts at byte 398 (its length at 402)
    const std::vector<Damaged> copies = {
        {"a MIDI file", Bytes("MThd") + le(6, 4), "This file is a MIDI file, not a SoundFont."},
        {"a WAVE file", riff("").replace(8, 4, "WAVE"), "This file is not a SoundFont: it does not start with RIFF sfbk."},
        {"an empty file", "", "This file is not a SoundFont: it does not start with RIFF sfbk."},
        {"version 1", example_with([](Parts& p) { p.version = le(1, 2) + le(0, 2); }),
         "This SoundFont has version 1.0, and only versions 2 and 3 can be read."},
        {"phdr length lies", example_with_length(402, 1000),
         "The SoundFont is damaged: its preset list claims 1,000 bytes and only 480 are left."},
        {"sdta length lies", example_with_length(58, 5000),
         "The SoundFont is damaged: its sample data claims 5,000 bytes and only 824 are left."},
        {"phdr one byte longer", example_with_chunk(0, chunk("phdr", preset("Warm Pad", 17, 3, 0) + preset("EOP", 0, 0, 2) + "x")),
         "The SoundFont is damaged: its preset list does not divide into whole entries."},
        {"no sample list", example_with_chunk(8, ""), "The SoundFont is damaged: it has no sample list."},
        {"no preset zone list", example_with_chunk(1, ""), "The SoundFont is damaged: it has no preset zone list."},
        {"no sample data", riff(info_list(example()) + list("sdta", "") + pdta_list(example())),
         "The SoundFont is damaged: it has no sample data."},
        {"no presets", example_with([](Parts& p) { p.presets.clear(); }), "The SoundFont holds no presets."},
        {"instrument out of range", example_with([](Parts& p) { p.preset_generators[6] = gen(instrument_id, 1); }),
         "The SoundFont is damaged: preset \"Warm Pad\" uses instrument 1, and there is only 1."},
        {"sample out of range", example_with([](Parts& p) { p.instrument_generators[25] = gen(sample_id, 2); }),
         "The SoundFont is damaged: instrument \"Pad Layer\" uses sample 2, and there is only 1."},
        {"preset zones past the zone list", example_with([](Parts& p) { p.presets[0] = preset("Warm Pad", 17, 3, 5); }),
         "The SoundFont is damaged: preset \"Warm Pad\" points to zones that are not there."},
        {"zones of a preset in reverse", example_with([](Parts& p) { p.presets = {preset("Soft", 1, 0, 1), preset("Loud", 2, 0, 0)}; }),
         "The SoundFont is damaged: preset \"Soft\" points to zones that are not there."},
        {"last instrument's zones past the zone list", example_with_chunk(4, chunk("inst", instrument("Pad Layer", 0) + instrument("EOI", 3))),
         "The SoundFont is damaged: instrument \"Pad Layer\" points to zones that are not there."},
        {"instrument zones out of order", example_with([](Parts& p) { p.instrument_zones[1] = zone(30, 0); }),
         "The SoundFont is damaged: its instrument zones point to generators that are not there."},
        {"preset zone modulators past the list", example_with([](Parts& p) { p.preset_zones[1] = zone(2, 3); }),
         "The SoundFont is damaged: its preset zones point to modulators that are not there."},
        {"zero-length sample", example_with([](Parts& p) { p.samples[0] = sample("Pad C4", 110, 110, 110, 110, 32000, 64, -7, 0, 1); }),
         "The SoundFont has nothing to play: the sample \"Pad C4\" holds no data."},
        {"sample past the data", example_with([](Parts& p) { p.samples[0] = sample("Pad C4", 10, 157, 30, 90, 32000, 64, -7, 0, 1); }),
         "The SoundFont has nothing to play: the sample \"Pad C4\" lies past the end of the sample data."},
        {"sample in ROM", example_with([](Parts& p) { p.samples[0] = sample("Pad C4", 10, 110, 30, 90, 32000, 64, -7, 0, 0x8001); }),
         "The SoundFont has nothing to play: the sample \"Pad C4\" is kept in a sound card's memory, not in the file."},
        {"offsets leave nothing", example_with([](Parts& p) { p.instrument_generators[21] = gen(start_offset, 96); }),
         "The SoundFont has nothing to play: the sample \"Pad C4\" is cut down to nothing by its instrument."},
        {"compressed sample with no Ogg page", example_with([](Parts& p) { p.samples[0] = sample("Pad C4", 10, 110, 30, 90, 32000, 64, -7, 0, 0x11); }),
         "The SoundFont has nothing to play: the sample \"Pad C4\" is not a compressed stream that can be read."},
        {"no zone names a sample", example_with([](Parts& p) { p.instrument_generators.pop_back(); }),
         "The SoundFont has nothing to play: none of its presets leads to a sample."},
        {"more than two million regions before the layer limit", wide_preset(2001, 1000, 1),
         "The SoundFont is too large to be played here: its zones make more than 2,000,000 regions."},
        {"more regions than the page holds", many_presets_of_full_keys(25),
         "The SoundFont is too large to be played here: its presets make more than 200,000 regions."},
        {"every preset above program 127", example_with([](Parts& p) { p.presets[0] = preset("Warm Pad", 300, 3, 0); }),
         "The SoundFont has nothing to play: every preset has a program above 127."},
        {"fifty million generators to merge", wide_preset(1000, 1, 50001),
         "The SoundFont is too large to be played here: working out its presets would take too long."},
    };
    for (const Damaged& copy : copies) EXPECT_EQ(read(copy.file), copy.sentence) << copy.what;
}

TEST(SoundfontRead, LayerLimitDropsTheQuietestOnTheCrowdedKeys) {
    Parts p = example();
    p.preset_zones = {zone(0, 0)};
    p.preset_generators = {gen(instrument_id, 0)};
    p.instrument_modulators.clear();
    p.instrument_zones.clear();
    p.instrument_generators.clear();
    // 66 zones on keys 20-127, their attenuations 0-65 cB in a shuffled order (7 times the zone, modulo 66)
    for (int z = 0; z < 66; ++z) {
        p.instrument_zones.push_back(zone(static_cast<int>(p.instrument_generators.size()), 0));
        p.instrument_generators.push_back(range(key_range, 20, 127));
        p.instrument_generators.push_back(gen(attenuation, z * 7 % 66));
        p.instrument_generators.push_back(gen(sample_id, 0));
    }
    // and the quietest of all alone on keys 0-19: kept, as nothing else sounds there
    p.instrument_zones.push_back(zone(static_cast<int>(p.instrument_generators.size()), 0));
    p.instrument_generators.push_back(range(key_range, 0, 19));
    p.instrument_generators.push_back(gen(attenuation, 1440));
    p.instrument_generators.push_back(gen(sample_id, 0));
    ASSERT_EQ(read(soundfont(p)), "");
    ASSERT_EQ(soundfont_region_words.size(), 65 * region_word_fields);
    EXPECT_EQ(soundfont_layers_dropped, 2u);
    float loudest_dropped = 6.4f;  // the two quietest of the 66: 6.4 and 6.5 dB
    for (std::size_t r = 0; r + 1 < 65; ++r) EXPECT_LT(soundfont_region_values[r * region_value_fields + region_attenuation], loudest_dropped) << r;
    EXPECT_EQ(soundfont_region_values[64 * region_value_fields + region_attenuation], 144.0f);
    EXPECT_STREQ(soundfont_remark, "2 regions are left out where more than 64 of a preset would sound on one key and velocity, the quietest first.");

    // a thousand preset zones on an instrument of a thousand zones: a million regions on every key
    ASSERT_EQ(read(wide_preset(1000, 1000, 1)), "");
    EXPECT_EQ(soundfont_region_words.size(), 64 * region_word_fields);
    EXPECT_EQ(soundfont_layers_dropped, 999936u);
}

TEST(SoundfontRead, CutAtEveryChunkBoundarySaysWhatIsMissing) {
    Parts p = example();
    Bytes file = soundfont(p);
    std::size_t info_end = 12 + info_list(p).size();          // 54
    std::size_t sdta_end = info_end + sdta_list(p).size();    // 386
    std::vector<std::pair<std::size_t, std::string>> cuts = {
        {12, "The SoundFont is cut short: it should be 886 bytes long and only 12 are there."},
        {24, "The SoundFont is cut short: its information needs 34 bytes and only 4 are there."},   // after LIST INFO's header
        {36, "The SoundFont is cut short: its information needs 34 bytes and only 16 are there."},  // after ifil
        {info_end, "The SoundFont is cut short: it should be 886 bytes long and only 54 are there."},
        {info_end + 12, "The SoundFont is cut short: its sample data needs 324 bytes and only 4 are there."},
        {sdta_end, "The SoundFont is cut short: it should be 886 bytes long and only 386 are there."},
        {sdta_end + 12, "The SoundFont is cut short: its preset data needs 492 bytes and only 4 are there."},
    };
    std::size_t at = sdta_end + 12;
    for (const Bytes& c : pdta_chunks(p)) {
        at += c.size();
        if (at == file.size()) break;
        cuts.emplace_back(at, "The SoundFont is cut short: its preset data needs 492 bytes and only " +
                                  std::to_string(at - sdta_end - 8) + " are there.");
    }
    ASSERT_EQ(file.size(), 886u);
    for (const auto& [cut, sentence] : cuts) EXPECT_EQ(read(file.substr(0, cut)), sentence) << "cut at " << cut;
}

TEST(SoundfontRead, EveryPrefixAndChangedByteKeepsTheTablesSound) {
    Bytes file = soundfont(example());
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        std::string sentence = read(file.substr(0, cut));
        EXPECT_TRUE(sentence.starts_with(cut < 12 ? "This file is not a SoundFont" : "The SoundFont is cut short: "))
            << "cut at " << cut << ": " << sentence;
    }
    // every byte of the file set to each of a few values that make lengths, indexes and names go wrong
    for (std::size_t at = 0; at < file.size(); ++at) {
        for (int value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
            Bytes changed = file;
            changed[at] = static_cast<char>(value);
            read(changed);
        }
    }
}

TEST(SoundfontRead, MissingPadBytesOfOddChunksAreLetGo) {
    // some writers leave out the zero byte after a chunk of odd length (FluidR3Mono_GM.sf3 after its
    // sample data): the next chunk starts right after it
    Parts p = example();
    p.sample_data += "z";  // 313 bytes
    Bytes info = list("INFO", chunk("ifil", p.version) +
                                  "ISFT" + le(5, 4) + Bytes("tool\0", 5) +  // no pad byte
                                  chunk("INAM", Bytes("Odd\0", 4)));
    Bytes sdta = "LIST" + le(4 + 8 + 313, 4) + "sdta" + "smpl" + le(313, 4) + p.sample_data;  // no pad byte, twice
    ASSERT_EQ(read(riff(info + sdta + pdta_list(p))), "");
    EXPECT_STREQ(soundfont_name, "Odd");
    EXPECT_EQ(all_regions(), example_region);
}

namespace {
// The bytes of a file, or an empty string when it can't be read.
Bytes file_bytes(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// True when the last read has a preset of the given bank and program.
bool has_preset(std::uint32_t bank, std::uint32_t program) {
    for (std::size_t p = 0; p < soundfont_presets.size(); p += preset_fields) {
        if (soundfont_presets[p + preset_bank] == bank && soundfont_presets[p + preset_program] == program) return true;
    }
    return false;
}
}  // namespace

// Debian's timgm6mb-soundfont (GPL: read here, never copied into the project).
TEST(SoundfontRead, InstalledTimGm6mb) {
    Bytes file = file_bytes("/usr/share/sounds/sf2/TimGM6mb.sf2");
    if (file.empty()) GTEST_SKIP() << "/usr/share/sounds/sf2/TimGM6mb.sf2 is not installed (Debian: timgm6mb-soundfont)";
    ASSERT_EQ(read(file), "");  // the tables' checks: every region within its sample, within the file
    EXPECT_EQ(soundfont_presets.size() / preset_fields, 136u);  // the file's preset list holds 137 records with the terminal one
    EXPECT_TRUE(has_preset(0, 0)) << "no Acoustic Grand Piano";
    EXPECT_TRUE(has_preset(128, 0)) << "no standard drum kit in bank 128";
    EXPECT_EQ(soundfont_regions_dropped, 0u);
}

// Debian's fluidr3mono-gm-soundfont: an .sf3 whose samples are Ogg Vorbis streams.
TEST(SoundfontRead, InstalledFluidR3MonoSf3) {
    Bytes file = file_bytes("/usr/share/sounds/sf3/FluidR3Mono_GM.sf3");
    if (file.empty()) GTEST_SKIP() << "/usr/share/sounds/sf3/FluidR3Mono_GM.sf3 is not installed (Debian: fluidr3mono-gm-soundfont)";
    ASSERT_EQ(read(file), "");
    EXPECT_EQ(soundfont_version_major, 3u);
    EXPECT_TRUE(has_preset(0, 0) && has_preset(128, 0));
    EXPECT_EQ(soundfont_regions_dropped, 0u);
    std::size_t compressed = 0;
    for (std::size_t s = 0; s < soundfont_samples.size(); s += sample_fields) {
        if ((soundfont_samples[s + sample_type] & 0x10) != 0 && soundfont_samples[s + sample_frames] > 0) ++compressed;
    }
    EXPECT_EQ(compressed, soundfont_samples.size() / sample_fields) << "a sample that is not a readable Ogg stream";
}
