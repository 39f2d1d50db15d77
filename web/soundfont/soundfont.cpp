#include "soundfont.h"

#include <algorithm>
#include <cmath>
#include <cstring>

std::vector<std::uint32_t> soundfont_presets;
std::vector<char> soundfont_preset_names;
std::vector<std::uint32_t> soundfont_region_words;
std::vector<float> soundfont_region_values;
std::vector<std::uint32_t> soundfont_samples;
std::vector<std::uint32_t> soundfont_modulator_words;
std::vector<float> soundfont_modulator_amounts;
char soundfont_name[257] = {};
std::uint32_t soundfont_version_major = 0;
std::uint32_t soundfont_version_minor = 0;
std::uint32_t soundfont_modulator_count = 0;
std::uint32_t soundfont_regions_dropped = 0;
std::uint32_t soundfont_loops_mended = 0;
std::uint32_t soundfont_modulators_left_out = 0;
std::uint32_t soundfont_modulator_lists_cut = 0;
std::uint32_t soundfont_presets_refused = 0;
std::uint32_t soundfont_layers_dropped = 0;
char soundfont_message[soundfont_sentence_size] = {};
char soundfont_remark[soundfont_sentence_size] = {};

namespace {
// ---- the chunks the reader uses, each found in its own list ----
enum Chunk : int {
    chunk_ifil, chunk_inam,  // in LIST INFO
    chunk_smpl,              // in LIST sdta
    chunk_phdr, chunk_pbag, chunk_pmod, chunk_pgen, chunk_inst, chunk_ibag, chunk_imod, chunk_igen, chunk_shdr,  // in LIST pdta
    chunk_kinds
};
constexpr char chunk_ids[chunk_kinds][5] = {"ifil", "INAM", "smpl", "phdr", "pbag", "pmod",
                                            "pgen", "inst", "ibag", "imod", "igen", "shdr"};
constexpr const char* chunk_names[chunk_kinds] = {
    "its version",           "its name",                  "its sample data",
    "its preset list",       "its preset zone list",      "its preset modulator list",
    "its preset generator list", "its instrument list",   "its instrument zone list",
    "its instrument modulator list", "its instrument generator list", "its sample list"};
constexpr std::size_t record_sizes[chunk_kinds] = {0, 0, 0, 38, 4, 10, 4, 22, 4, 10, 4, 46};

// The three lists of a SoundFont, and what each is called in a sentence.
enum List : int { list_info, list_sdta, list_pdta, list_kinds };
constexpr char list_ids[list_kinds][5] = {"INFO", "sdta", "pdta"};
constexpr const char* list_names[list_kinds] = {"its information", "its sample data", "its preset data"};
constexpr Chunk list_first_chunk[list_kinds + 1] = {chunk_ifil, chunk_smpl, chunk_phdr, chunk_kinds};

// ---- the read in progress ----
const unsigned char* file_data = nullptr;  // the file being read
std::size_t file_end = 0;                   // bytes of it that are read: what the RIFF header declares, at most what is there (and below 4 GiB)
std::uint64_t file_declared = 0;            // bytes the RIFF header says the file has
bool file_cut_short = false;                // the RIFF header declares more bytes than there are
const unsigned char* chunk_data[chunk_kinds] = {};  // where each chunk's body starts; null when not found
std::size_t chunk_size[chunk_kinds] = {};            // its length
std::uint64_t ogg_scan_left = 0;  // bytes the search for the ends of Ogg streams may still look at

// ---- the sentence being written: into soundfont_message or soundfont_remark ----
char* sentence = soundfont_message;  // where the sentence goes
std::size_t sentence_used = 0;        // its characters so far

// ---- the samples, as read from the sample list (for the regions that use them) ----
enum Sample_fault : std::uint8_t { sample_playable, sample_empty, sample_past_data, sample_in_rom, sample_unreadable };
std::vector<std::uint8_t> sample_faults;       // a Sample_fault for each sample
std::vector<std::int64_t> sample_loop_starts;  // each sample's loop, in frames from its first frame
std::vector<std::int64_t> sample_loop_ends;
std::vector<std::uint8_t> sample_pitches;      // each sample's original pitch (its root key), 0-127
std::vector<std::int8_t> sample_corrections;   // and its pitch correction in cents

// ---- what the merge left out, for the remark ----
std::uint32_t regions_offered = 0;     // regions merged, those dropped included
std::uint8_t first_drop_fault = 0;     // a Sample_fault, or drop_nothing_played
std::uint32_t first_drop_sample = 0;   // the sample it concerns
constexpr std::uint8_t drop_nothing_played = 255;  // the zone's address offsets leave no frame of its sample


// ---- generators ----
constexpr int generator_kinds = 61;  // operators 0-60 (60 ends the list in the standard)
using Generators = std::int32_t[generator_kinds];
enum Generator : int {
    gen_start_offset = 0, gen_end_offset = 1, gen_loop_start_offset = 2, gen_loop_end_offset = 3,
    gen_start_coarse_offset = 4, gen_mod_lfo_to_pitch = 5, gen_vib_lfo_to_pitch = 6, gen_mod_env_to_pitch = 7,
    gen_filter_cutoff = 8, gen_filter_q = 9, gen_mod_lfo_to_filter = 10, gen_mod_env_to_filter = 11,
    gen_end_coarse_offset = 12, gen_mod_lfo_to_volume = 13, gen_chorus_send = 15, gen_reverb_send = 16,
    gen_pan = 17, gen_mod_lfo_delay = 21, gen_mod_lfo_frequency = 22, gen_vib_lfo_delay = 23,
    gen_vib_lfo_frequency = 24, gen_mod_env_delay = 25, gen_mod_env_attack = 26, gen_mod_env_hold = 27,
    gen_mod_env_decay = 28, gen_mod_env_sustain = 29, gen_mod_env_release = 30, gen_key_to_mod_env_hold = 31,
    gen_key_to_mod_env_decay = 32, gen_delay = 33, gen_attack = 34, gen_hold = 35, gen_decay = 36, gen_sustain = 37,
    gen_release = 38, gen_key_to_hold = 39, gen_key_to_decay = 40, gen_instrument = 41, gen_key_range = 43,
    gen_velocity_range = 44, gen_loop_start_coarse_offset = 45, gen_attenuation = 48,
    gen_loop_end_coarse_offset = 50, gen_coarse_tune = 51, gen_fine_tune = 52, gen_sample = 53,
    gen_sample_modes = 54, gen_scale_tuning = 56, gen_exclusive_class = 57, gen_root_key = 58
};
constexpr std::int32_t full_range = 127 << 8;  // a key or velocity range of 0-127: low byte low, high byte high
constexpr std::uint32_t no_target = 0xFFFFFFFF;  // a zone that names no instrument (or sample)

// A generator whose preset value adds to the instrument's: its default at instrument level and its
// range after merging.
struct Generator_limits {
    int generator;
    std::int32_t fallback;
    std::int32_t low;
    std::int32_t high;
};
constexpr Generator_limits generator_limits[] = {
    {gen_filter_cutoff, 13500, 1500, 13500}, {gen_filter_q, 0, 0, 960},
    {gen_pan, 0, -500, 500},                 {gen_delay, -12000, -12000, 5000},
    {gen_attack, -12000, -12000, 8000},      {gen_hold, -12000, -12000, 5000},
    {gen_decay, -12000, -12000, 8000},       {gen_sustain, 0, 0, 1440},
    {gen_release, -12000, -12000, 8000},     {gen_key_to_hold, 0, -1200, 1200},
    {gen_key_to_decay, 0, -1200, 1200},      {gen_attenuation, 0, 0, 1440},
    {gen_coarse_tune, 0, -120, 120},         {gen_fine_tune, 0, -99, 99},
    {gen_scale_tuning, 100, 0, 1200},
    {gen_mod_env_delay, -12000, -12000, 5000},   {gen_mod_env_attack, -12000, -12000, 8000},
    {gen_mod_env_hold, -12000, -12000, 5000},    {gen_mod_env_decay, -12000, -12000, 8000},
    {gen_mod_env_sustain, 0, 0, 1000},           {gen_mod_env_release, -12000, -12000, 8000},
    {gen_key_to_mod_env_hold, 0, -1200, 1200},   {gen_key_to_mod_env_decay, 0, -1200, 1200},
    {gen_mod_env_to_pitch, 0, -12000, 12000},    {gen_mod_env_to_filter, 0, -12000, 12000},
    {gen_mod_lfo_delay, -12000, -12000, 5000},   {gen_mod_lfo_frequency, 0, -16000, 4500},
    {gen_mod_lfo_to_pitch, 0, -12000, 12000},    {gen_mod_lfo_to_filter, 0, -12000, 12000},
    {gen_mod_lfo_to_volume, 0, -960, 960},       {gen_vib_lfo_delay, -12000, -12000, 5000},
    {gen_vib_lfo_frequency, 0, -16000, 4500},    {gen_vib_lfo_to_pitch, 0, -12000, 12000},
    {gen_reverb_send, 0, 0, 1000},               {gen_chorus_send, 0, 0, 1000},
};

// ---- modulators ----
// One modulator of a zone or a region: the three that make it what it is (two modulators with the
// same destination, source and amount source are identical, whatever their transform), then its
// transform and amount. Lists of them are kept in order of those three.
struct Modulator {
    std::uint16_t destination;
    std::uint16_t source;
    std::uint16_t amount_source;
    std::uint16_t transform;
    float amount;
};
// The standard's default modulators, each as it gives them, in a list's order, but for velocity to
// filter cutoff: the editions of the standard disagree on it (one scales it by a switch at velocity
// 64, the newer does not), and FluidSynth 2.3 plays neither. Rendered through it, a looped square
// wave with its filter open sounds exactly as bright at velocity 20, 40, 63, 64, 100 and 127 (the
// energy of its frame-to-frame differences to its own, 0.1271 at each; the same tone with the cutoff
// 2400 cents lower gives 0.0663). So it is kept with amount 0: silent, as there, yet a file's own
// velocity to filter cutoff modulator still replaces it as an identical one.
constexpr Modulator default_modulators[] = {
    {6, 0x000D, 0x0000, 0, 50},     // channel pressure to vibrato LFO pitch: 50 cents
    {6, 0x0081, 0x0000, 0, 50},     // CC 1 (modulation wheel) to vibrato LFO pitch: 50 cents
    {8, 0x0102, 0x0000, 0, 0},      // velocity (linear, falling) to filter cutoff: -2400 cents in the standard, 0 here (above)
    {15, 0x00DD, 0x0000, 0, 200},   // CC 93 to chorus send: 20%
    {16, 0x00DB, 0x0000, 0, 200},   // CC 91 to reverb send: 20%
    {17, 0x028A, 0x0000, 0, 500},   // CC 10 (bipolar) to pan: 1000 in the standard, which puts CC 10 = 32 hard left; FluidSynth 2.3 sounds it a quarter of the way from the left, as 500 does
    {48, 0x0502, 0x0000, 0, 960},   // velocity (concave, falling) to attenuation: 96 dB
    {48, 0x0587, 0x0000, 0, 960},   // CC 7 (volume, concave, falling) to attenuation: 96 dB
    {48, 0x058B, 0x0000, 0, 960},   // CC 11 (expression, concave, falling) to attenuation: 96 dB
    {52, 0x020E, 0x0010, 0, 12700}, // pitch wheel (bipolar) to fine tune: 12700 cents scaled by the wheel's sensitivity
};
constexpr std::size_t default_modulator_count = std::size(default_modulators);

// ---- the merge of one preset: two passes over its zones ----
// The first pass only notes each region the preset would make (its ranges and attenuation); from
// those, the layer limit picks the regions kept; the second pass makes the kept ones.
struct Candidate {
    std::uint8_t key_low, key_high, velocity_low, velocity_high;
    std::int32_t attenuation;  // centibels, merged and clamped
};
bool noting_candidates = false;        // true in the first pass
std::vector<Candidate> candidates;     // the first pass's regions, in the order they are made
std::vector<std::uint8_t> kept;        // for each of them, 1 when the second pass makes it
std::size_t next_candidate = 0;        // the second pass's place in kept
std::uint64_t layer_work_left = 0;     // key and velocity cells the layer limit may still visit in this read
std::vector<Modulator> preset_zone_modulators;  // the second pass: the preset zone's list (over its global zone's)
// The lists in the modulator table, found by their digests: an open-addressed table whose size is a
// power of two, each slot a list's first entry, or no_list.
std::vector<std::uint64_t> list_digests;
std::vector<std::uint32_t> list_firsts;
std::vector<std::uint32_t> list_counts;
std::size_t lists_stored = 0;
constexpr std::uint32_t no_list = 0xFFFFFFFF;


// ---- bytes ----

// The little-endian 16-bit value at p.
std::uint32_t le16(const unsigned char* p) { return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8; }
// The little-endian 32-bit value at p.
std::uint32_t le32(const unsigned char* p) { return le16(p) | le16(p + 2) << 16; }
// The little-endian 16-bit value at p, signed.
std::int32_t signed16(const unsigned char* p) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(le16(p))); }
// The record'th record of a chunk found whole (the caller keeps record below records(chunk)).
const unsigned char* record_at(Chunk chunk, std::size_t record) { return chunk_data[chunk] + record * record_sizes[chunk]; }
// How many whole records the chunk holds.
std::size_t records(Chunk chunk) { return chunk_size[chunk] / record_sizes[chunk]; }

// ---- sentences ----

// Starts a sentence in the given buffer of soundfont_sentence_size bytes.
void sentence_start(char* buffer) {
    sentence = buffer;
    sentence_used = 0;
    sentence[0] = '\0';
}

// Adds text to the sentence, as much as there is room for.
void say(const char* text) {
    std::size_t n = std::min(std::strlen(text), soundfont_sentence_size - 1 - sentence_used);
    std::memcpy(sentence + sentence_used, text, n);
    sentence_used += n;
    sentence[sentence_used] = '\0';
}

// Adds n in decimal, its thousands set apart by commas ("4,194,304").
void say_count(std::uint64_t n) {
    char digits[32];
    std::size_t at = sizeof digits;
    digits[--at] = '\0';
    int in_group = 0;
    do {
        if (in_group == 3) {
            digits[--at] = ',';
            in_group = 0;
        }
        digits[--at] = static_cast<char>('0' + n % 10);
        n /= 10;
        ++in_group;
    } while (n != 0);
    say(digits + at);
}

// Adds a name of up to size bytes (ending at a zero byte if one comes first) in quotes; bytes that are
// not printable ASCII show as '?', so that the sentence stays plain text.
void say_name(const unsigned char* name, std::size_t size) {
    char quoted[24];
    std::size_t n = 0;
    quoted[n++] = '"';
    for (std::size_t i = 0; i < size && i < 20 && name[i] != 0; ++i) {
        quoted[n++] = name[i] >= 0x20 && name[i] < 0x7F ? static_cast<char>(name[i]) : '?';
    }
    quoted[n++] = '"';
    quoted[n] = '\0';
    say(quoted);
}

// "The SoundFont is cut short: <what> needs <needs> bytes and only <there> are there."
bool fail_cut_short(const char* what, std::uint64_t needs, std::uint64_t there) {
    say("The SoundFont is cut short: ");
    say(what);
    say(" needs ");
    say_count(needs);
    say(" bytes and only ");
    say_count(there);
    say(" are there.");
    return false;
}

// The file as a whole is shorter than its RIFF header says, and something it needs is not there.
bool fail_file_cut_short() {
    say("The SoundFont is cut short: it should be ");
    say_count(file_declared);
    say(" bytes long and only ");
    say_count(file_end);
    say(" are there.");
    return false;
}

// "The SoundFont is damaged: <what> claims <claims> bytes and only <left> are left."
bool fail_lying_length(const char* what, std::uint64_t claims, std::uint64_t left) {
    say("The SoundFont is damaged: ");
    say(what);
    say(" claims ");
    say_count(claims);
    say(" bytes and only ");
    say_count(left);
    say(" are left.");
    return false;
}

// "The SoundFont is damaged: <text>" and the text's end, for the faults that name no number.
bool fail_damaged(const char* text) {
    say("The SoundFont is damaged: ");
    say(text);
    return false;
}

// "The SoundFont is damaged: <kind> "<name>" <text>"
bool fail_named(const char* kind, const unsigned char* name, const char* text) {
    say("The SoundFont is damaged: ");
    say(kind);
    say(" ");
    say_name(name, 20);
    say(text);
    return false;
}

// "The SoundFont is damaged: <kind> "<name>" uses <what> <index>, and there are only <count>."
bool fail_index(const char* kind, const unsigned char* name, const char* what, std::uint32_t index, std::size_t count) {
    fail_named(kind, name, " uses ");
    say(what);
    say(" ");
    say_count(index);
    say(count == 1 ? ", and there is only " : ", and there are only ");
    say_count(count);
    say(".");
    return false;
}

// Says why a sample can't be played ("the sample "Flute" holds no data"), for the sentences that name the first.
void say_drop_reason(std::uint8_t fault, std::uint32_t sample) {
    const unsigned char* name = record_at(chunk_shdr, sample);
    say("the sample ");
    say_name(name, 20);
    switch (fault) {
        case sample_empty: say(" holds no data"); break;
        case sample_past_data: say(" lies past the end of the sample data"); break;
        case sample_in_rom: say(" is kept in a sound card's memory, not in the file"); break;
        case sample_unreadable: say(" is not a compressed stream that can be read"); break;
        default: say(" is cut down to nothing by its instrument"); break;
    }
}

// ---- the chunks ----

// Names a chunk met in a list for a sentence: one the reader uses by its own name, another by its list.
const char* chunk_name(const unsigned char* id, int list) {
    for (int c = list_first_chunk[list]; c < list_first_chunk[list + 1]; ++c) {
        if (std::memcmp(id, chunk_ids[c], 4) == 0) return chunk_names[c];
    }
    return list_names[list];
}

// Checks that a chunk header at pos, within a list or file ending at end, and the body it declares fit
// before end; false (the sentence written) when they don't. An incomplete header at the end of a list
// that is complete is let go (ok set to false, nothing written): the list simply ends there.
bool chunk_fits(std::size_t pos, std::size_t end, const char* name, bool& ok) {
    ok = true;
    bool at_cut = file_cut_short && end == file_end;  // this container runs to where the file was cut
    if (end - pos < 8) {
        if (at_cut) return fail_file_cut_short();
        ok = false;
        return true;
    }
    std::uint64_t length = le32(file_data + pos + 4);
    std::uint64_t left = end - pos - 8;
    if (length > left) return at_cut ? fail_cut_short(name, length, left) : fail_lying_length(name, length, left);
    return true;
}

// Where the chunk after the one at pos (declared length bytes long) starts. RIFF pads a chunk of odd
// length with one zero byte; some writers leave it out, so the pad is skipped only where it is zero
// (no chunk identifier starts with a zero byte).
std::size_t next_chunk(std::size_t pos, std::size_t length, std::size_t end) {
    std::size_t next = pos + 8 + length;
    if (length % 2 == 1 && next < end && file_data[next] == 0) ++next;
    return next;
}

// Finds the chunks of a list whose body runs from begin to end; the first of each kind counts.
bool read_list(int list, std::size_t begin, std::size_t end) {
    for (std::size_t pos = begin; pos < end;) {
        const unsigned char* id = file_data + pos;
        bool whole = false;
        if (!chunk_fits(pos, end, end - pos >= 4 ? chunk_name(id, list) : list_names[list], whole)) return false;
        if (!whole) break;
        std::size_t length = le32(file_data + pos + 4);
        for (int c = list_first_chunk[list]; c < list_first_chunk[list + 1]; ++c) {
            if (chunk_data[c] == nullptr && std::memcmp(id, chunk_ids[c], 4) == 0) {
                chunk_data[c] = file_data + pos + 8;
                chunk_size[c] = length;
            }
        }
        pos = next_chunk(pos, length, end);
    }
    return true;
}

// Checks the RIFF header and finds the chunks of the three lists; false (the sentence written) when
// the file is no SoundFont or a length in it can't be true.
bool find_chunks(const unsigned char* data, std::size_t size) {
    file_data = data;
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "sfbk", 4) != 0) {
        if (size >= 4 && std::memcmp(data, "MThd", 4) == 0) {
            say("This file is a MIDI file, not a SoundFont.");
        } else {
            say("This file is not a SoundFont: it does not start with RIFF sfbk.");
        }
        return false;
    }
    file_declared = std::uint64_t{le32(data + 4)} + 8;
    std::size_t there = std::min<std::uint64_t>(size, 0xFFFFFFFF);
    file_cut_short = file_declared > there;
    file_end = file_cut_short ? there : static_cast<std::size_t>(file_declared);
    std::fill(std::begin(chunk_data), std::end(chunk_data), nullptr);
    std::fill(std::begin(chunk_size), std::end(chunk_size), 0);
    bool list_seen[list_kinds] = {};
    for (std::size_t pos = 12; pos < file_end;) {
        const unsigned char* id = file_data + pos;
        bool is_list = file_end - pos >= 12 && std::memcmp(id, "LIST", 4) == 0;
        int list = list_kinds;
        for (int l = 0; is_list && l < list_kinds; ++l) {
            if (std::memcmp(id + 8, list_ids[l], 4) == 0) list = l;
        }
        bool whole = false;
        if (!chunk_fits(pos, file_end, list < list_kinds ? list_names[list] : "a part of it", whole)) return false;
        if (!whole) break;
        std::size_t length = le32(file_data + pos + 4);
        if (list < list_kinds && length >= 4 && !list_seen[list]) {
            list_seen[list] = true;
            if (!read_list(list, pos + 12, pos + 8 + length)) return false;
        }
        pos = next_chunk(pos, length, file_end);
    }
    return true;
}

// Checks that every chunk the presets need is there, holds whole records, and that the version is one
// this reader knows; takes the version and the name.
bool check_chunks() {
    if (chunk_data[chunk_ifil] != nullptr && chunk_size[chunk_ifil] >= 4) {
        soundfont_version_major = le16(chunk_data[chunk_ifil]);
        soundfont_version_minor = le16(chunk_data[chunk_ifil] + 2);
        if (soundfont_version_major != 2 && soundfont_version_major != 3) {
            say("This SoundFont has version ");
            say_count(soundfont_version_major);
            say(".");
            say_count(soundfont_version_minor);
            say(", and only versions 2 and 3 can be read.");
            return false;
        }
    }
    if (chunk_data[chunk_inam] != nullptr) {
        std::size_t n = std::min<std::size_t>(chunk_size[chunk_inam], sizeof soundfont_name - 1);
        const unsigned char* name = chunk_data[chunk_inam];
        std::size_t i = 0;
        for (; i < n && name[i] != 0; ++i) soundfont_name[i] = static_cast<char>(name[i]);
        soundfont_name[i] = '\0';
    }
    for (int c = chunk_smpl; c < chunk_kinds; ++c) {
        if (chunk_data[c] == nullptr) {
            if (file_cut_short) return fail_file_cut_short();
            say("The SoundFont is damaged: it has no ");
            say(chunk_names[c] + 4);  // without "its "
            say(".");
            return false;
        }
        if (c != chunk_smpl && chunk_size[c] % record_sizes[c] != 0) {
            say("The SoundFont is damaged: ");
            say(chunk_names[c]);
            say(" does not divide into whole entries.");
            return false;
        }
    }
    if (records(chunk_phdr) < 2) {
        say("The SoundFont holds no presets.");
        return false;
    }
    if (records(chunk_pbag) == 0) return fail_damaged("its preset zone list is empty.");
    if (records(chunk_ibag) == 0) return fail_damaged("its instrument zone list is empty.");
    return true;
}

// Checks that the 16-bit index at byte field of each record of a chunk never goes down and is at most
// limit. Otherwise sets bad_record to the record whose items the fault leaves wrong: the one before
// when the index goes down or when it is the terminal record's (which only ends the one before).
bool indexes_in_order(Chunk chunk, std::size_t field, std::size_t limit, std::size_t& bad_record) {
    std::uint32_t before = 0;
    for (std::size_t r = 0; r < records(chunk); ++r) {
        std::uint32_t index = le16(record_at(chunk, r) + field);
        if (index < before || index > limit) {
            bad_record = r > 0 && (index < before || r + 1 == records(chunk)) ? r - 1 : r;
            return false;
        }
        before = index;
    }
    return true;
}

// Checks every index of the preset and instrument lists and their zones against the table it points
// into: each preset's and instrument's first zone, each zone's first generator and modulator, in order
// and within their tables (the terminal records included).
bool check_indexes() {
    std::size_t bad = 0;
    // presets and instruments: their last (terminal) record ends the zones of the one before, so each
    // needs the zone record after its last zone: at most the last zone record
    if (!indexes_in_order(chunk_phdr, 24, records(chunk_pbag) - 1, bad)) {
        return fail_named("preset", record_at(chunk_phdr, bad), " points to zones that are not there.");
    }
    if (!indexes_in_order(chunk_inst, 20, records(chunk_ibag) - 1, bad)) {
        return fail_named("instrument", record_at(chunk_inst, bad), " points to zones that are not there.");
    }
    // zones: generators and modulators from each zone's index to the next zone's, so at most the table's size
    if (!indexes_in_order(chunk_pbag, 0, records(chunk_pgen), bad)) {
        return fail_damaged("its preset zones point to generators that are not there.");
    }
    if (!indexes_in_order(chunk_pbag, 2, records(chunk_pmod), bad)) {
        return fail_damaged("its preset zones point to modulators that are not there.");
    }
    if (!indexes_in_order(chunk_ibag, 0, records(chunk_igen), bad)) {
        return fail_damaged("its instrument zones point to generators that are not there.");
    }
    if (!indexes_in_order(chunk_ibag, 2, records(chunk_imod), bad)) {
        return fail_damaged("its instrument zones point to modulators that are not there.");
    }
    return true;
}

// ---- samples ----

// The frames of the Ogg stream of n bytes at stream: the granule position of the last page that has
// one. A page takes at most 65,307 bytes, so only the stream's last 65,307 bytes are searched, and all
// searches of a read together look at no more than ogg_scan_left bytes. 0 when none is found.
std::uint32_t ogg_frames(const unsigned char* stream, std::size_t n) {
    constexpr std::size_t page_header = 27;  // "OggS", version, type, granule position (8), serial, sequence, CRC, segments
    constexpr std::size_t largest_page = page_header + 255 + 255 * 255;
    if (n < page_header) return 0;
    std::size_t lowest = n > largest_page ? n - largest_page : 0;
    for (std::size_t at = n - page_header + 1; at-- > lowest;) {
        if (ogg_scan_left == 0) return 0;
        --ogg_scan_left;
        if (stream[at] != 'O' || std::memcmp(stream + at, "OggS", 4) != 0 || stream[at + 4] != 0) continue;
        std::uint64_t granule = le32(stream + at + 6) | std::uint64_t{le32(stream + at + 10)} << 32;
        if (granule == ~std::uint64_t{0}) continue;  // no packet ends on this page
        return granule <= 0x7FFFFFFF ? static_cast<std::uint32_t>(granule) : 0;
    }
    return 0;
}

// Fills the sample table from the sample list (its terminal record left out) and notes for each
// sample its loop, pitch and whether it can be played. A sample that can't (empty, past the end of
// the sample data, in ROM, an unreadable stream) is kept with no bytes: the regions using it are dropped.
void read_samples() {
    std::size_t count = records(chunk_shdr) - (records(chunk_shdr) > 0 ? 1 : 0);
    const unsigned char* smpl = chunk_data[chunk_smpl];
    std::uint64_t smpl_bytes = chunk_size[chunk_smpl];
    ogg_scan_left = smpl_bytes + 65536;
    soundfont_samples.assign(count * sample_fields, 0);
    sample_faults.assign(count, sample_playable);
    sample_loop_starts.assign(count, 0);
    sample_loop_ends.assign(count, 0);
    sample_pitches.assign(count, 60);
    sample_corrections.assign(count, 0);
    for (std::size_t s = 0; s < count; ++s) {
        const unsigned char* header = record_at(chunk_shdr, s);
        std::uint32_t start = le32(header + 20), end = le32(header + 24);
        std::uint32_t type = le16(header + 44);
        std::uint32_t* sample = &soundfont_samples[s * sample_fields];
        sample[sample_type] = type;
        sample[sample_rate] = std::clamp<std::uint32_t>(le32(header + 36), 400, 192000);
        std::uint32_t link = le16(header + 42);
        sample[sample_link] = (type & 0xE) != 0 && link < count && link != s ? link : sample_no_link;  // a mono sample has none
        sample_pitches[s] = header[40] <= 127 ? header[40] : 60;  // 255: unpitched, played at its own rate on key 60
        sample_corrections[s] = static_cast<std::int8_t>(header[41]);
        bool compressed = (type & sample_type_ogg) != 0;
        std::uint64_t bytes_per_frame = compressed ? 1 : 2;  // a compressed sample's start and end count bytes
        std::uint8_t& fault = sample_faults[s];
        if ((type & 0x8000) != 0) {
            fault = sample_in_rom;
        } else if (end <= start) {
            fault = sample_empty;
        } else if (end * bytes_per_frame > smpl_bytes) {
            fault = sample_past_data;
        }
        if (fault != sample_playable) continue;
        std::uint64_t offset = static_cast<std::uint64_t>(smpl - file_data) + start * bytes_per_frame;
        std::uint32_t bytes = static_cast<std::uint32_t>((end - start) * bytes_per_frame);
        std::uint32_t frames = compressed ? ogg_frames(smpl + start, bytes) : bytes / 2;
        if (frames == 0) {
            fault = sample_unreadable;
            continue;
        }
        sample[sample_byte_offset] = static_cast<std::uint32_t>(offset);
        sample[sample_byte_length] = bytes;
        sample[sample_frames] = frames;
        // a compressed sample's loop counts frames from its first already; a PCM sample's, from the data's first
        std::int64_t loop_base = compressed ? 0 : start;
        sample_loop_starts[s] = le32(header + 28) - loop_base;
        sample_loop_ends[s] = le32(header + 32) - loop_base;
    }
}

// ---- zones ----

// Reads the generators first..last (not included) of a zone from the preset or instrument generator
// list over values, where what an earlier zone set stays unless this zone sets it again; returns the
// instrument (or sample) the zone ends with, or no_target when it names none. As the standard has it,
// a key range counts only as the first generator, a velocity range only as the first or after the
// key range, and generators after the instrument (sample) are ignored. A generator given twice takes
// its last value. (A preset zone's generators that only an instrument zone may hold are read but
// never used: add_region takes those from the instrument zone.)
std::uint32_t read_zone(Chunk list, std::size_t first, std::size_t last, Generators& values) {
    int target = list == chunk_pgen ? gen_instrument : gen_sample;
    for (std::size_t g = first; g < last; ++g) {
        const unsigned char* record = record_at(list, g);
        std::uint32_t generator = le16(record);
        if (generator == static_cast<std::uint32_t>(target)) return le16(record + 2);
        bool range_allowed = g == first || (generator == gen_velocity_range && g == first + 1 &&
                                            le16(record_at(list, first)) == gen_key_range);
        if (generator >= generator_kinds || generator == gen_instrument || generator == gen_sample ||
            ((generator == gen_key_range || generator == gen_velocity_range) && !range_allowed)) {
            continue;
        }
        values[generator] = generator == gen_key_range || generator == gen_velocity_range || generator == gen_sample_modes
                                ? static_cast<std::int32_t>(le16(record + 2))
                                : signed16(record + 2);
    }
    return no_target;
}

// The generators of the zone-th zone of a preset (list chunk_pbag) or an instrument (chunk_ibag).
std::uint32_t read_bag_zone(Chunk bags, std::size_t zone, Generators& values) {
    Chunk gens = bags == chunk_pbag ? chunk_pgen : chunk_igen;
    return read_zone(gens, le16(record_at(bags, zone)), le16(record_at(bags, zone + 1)), values);
}

// The first and last-plus-one zone of a preset (chunk_phdr) or instrument (chunk_inst).
void zones_of(Chunk owners, std::size_t owner, std::size_t& first, std::size_t& last) {
    std::size_t field = owners == chunk_phdr ? 24 : 20;
    first = le16(record_at(owners, owner) + field);
    last = le16(record_at(owners, owner + 1) + field);
}

// True when a modulator source is one the standard defines: a curve type 0-3, and a general
// controller it names (none, velocity, key, the pressures, the pitch wheel and its sensitivity) or a
// MIDI controller that is not one the standard rules out (bank select, data entry, the LSBs, the
// parameter numbers and the channel mode messages). The link from another modulator (127) is not
// taken: this reader does not chain modulators.
bool source_defined(std::uint32_t source) {
    std::uint32_t index = source & 0x7F;
    if ((source >> 10) > 3) return false;
    if ((source & 0x80) != 0) {
        return !(index == 0 || index == 6 || (index >= 32 && index <= 63) || (index >= 98 && index <= 101) || index >= 120);
    }
    return index == 0 || index == 2 || index == 3 || index == 10 || index == 13 || index == 14 || index == 16;
}

// The modulator record at p, and whether it can be applied: a generator for its destination (not a
// link to another modulator) and defined sources.
bool read_modulator(const unsigned char* p, Modulator& modulator) {
    modulator = {static_cast<std::uint16_t>(le16(p + 2)), static_cast<std::uint16_t>(le16(p)),
                 static_cast<std::uint16_t>(le16(p + 6)), static_cast<std::uint16_t>(le16(p + 8)),
                 static_cast<float>(signed16(p + 4))};
    return modulator.destination < generator_kinds && source_defined(modulator.source) && source_defined(modulator.amount_source);
}

// What makes a modulator what it is, as one number in a list's order: destination, source, amount source.
std::uint64_t modulator_key(const Modulator& m) {
    return std::uint64_t{m.destination} << 32 | std::uint64_t{m.source} << 16 | m.amount_source;
}

// The order of a list: by destination, source, amount source.
bool modulator_before(const Modulator& a, const Modulator& b) { return modulator_key(a) < modulator_key(b); }

// Counts the modulators of the file that can't be applied, in both lists (their terminal records left out).
void count_modulators_left_out() {
    for (Chunk list : {chunk_pmod, chunk_imod}) {
        Modulator modulator;
        for (std::size_t m = 0; m + 1 < records(list); ++m) {
            if (!read_modulator(record_at(list, m), modulator)) ++soundfont_modulators_left_out;
        }
    }
}

// The modulators of the zone-th zone of a preset (bags chunk_pbag) or an instrument (chunk_ibag) that
// can be applied, in a list's order; of two identical ones in the zone, the later counts.
void read_zone_modulators(Chunk bags, std::size_t zone, std::vector<Modulator>& list) {
    Chunk mods = bags == chunk_pbag ? chunk_pmod : chunk_imod;
    list.clear();
    std::vector<Modulator> found;  // in the file's order
    std::vector<std::uint64_t> order;  // each one's key above its place in found (a zone has fewer than 65,536)
    Modulator modulator;
    for (std::size_t m = le16(record_at(bags, zone) + 2), last = le16(record_at(bags, zone + 1) + 2); m < last; ++m) {
        if (!read_modulator(record_at(mods, m), modulator)) continue;
        order.push_back(modulator_key(modulator) << 16 | found.size());
        found.push_back(modulator);
    }
    std::sort(order.begin(), order.end());
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i + 1 < order.size() && order[i] >> 16 == order[i + 1] >> 16) continue;  // a later one replaces it
        list.push_back(found[order[i] & 0xFFFF]);
    }
}

// Merges two lists into out: each of over's replaces an identical one of base when add is false, and
// adds its amount to it when add is true; the others of both are kept.
void merge_modulators(const Modulator* base, std::size_t base_count, const std::vector<Modulator>& over, bool add,
                      std::vector<Modulator>& out) {
    out.clear();
    std::size_t b = 0, o = 0;
    while (b < base_count || o < over.size()) {
        if (o == over.size() || (b < base_count && modulator_before(base[b], over[o]))) {
            out.push_back(base[b++]);
        } else if (b == base_count || modulator_before(over[o], base[b])) {
            out.push_back(over[o++]);
        } else {
            out.push_back(add ? base[b] : over[o]);
            if (add) out.back().amount += over[o].amount;
            ++b;
            ++o;
        }
    }
}

// A digest of a list, to find one already in the table.
std::uint64_t list_digest(const std::vector<Modulator>& list) {
    std::uint64_t hash = 1469598103934665603u ^ list.size();
    for (const Modulator& m : list) {
        std::uint32_t amount_bits = 0;
        std::memcpy(&amount_bits, &m.amount, sizeof amount_bits);
        for (std::uint64_t v : {std::uint64_t{m.destination} << 48 | std::uint64_t{m.source} << 32 | std::uint64_t{m.amount_source} << 16 | m.transform,
                                std::uint64_t{amount_bits}}) {
            hash = (hash ^ v) * 1099511628211u;
        }
    }
    return hash;
}

// True when the table holds list from entry first on.
bool list_at(const std::vector<Modulator>& list, std::uint32_t first) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::uint32_t* w = &soundfont_modulator_words[(first + i) * modulator_word_fields];
        const Modulator& m = list[i];
        if (w[modulator_destination] != m.destination || w[modulator_source] != m.source ||
            w[modulator_amount_source] != m.amount_source || w[modulator_transform] != m.transform ||
            soundfont_modulator_amounts[first + i] != m.amount) {  // sums of whole numbers: compared exactly
            return false;
        }
    }
    return true;
}

// Notes a list stored in the modulator table, so that store_modulators finds it; the slots double
// when half of them are taken.
void remember_list(std::uint64_t digest, std::uint32_t first, std::uint32_t count) {
    if (2 * (lists_stored + 1) > list_firsts.size()) {
        std::vector<std::uint64_t> digests = std::move(list_digests);
        std::vector<std::uint32_t> firsts = std::move(list_firsts), counts = std::move(list_counts);
        std::size_t size = std::max<std::size_t>(64, 2 * firsts.size());
        list_digests.assign(size, 0);
        list_firsts.assign(size, no_list);
        list_counts.assign(size, 0);
        lists_stored = 0;
        for (std::size_t i = 0; i < firsts.size(); ++i) {
            if (firsts[i] != no_list) remember_list(digests[i], firsts[i], counts[i]);
        }
    }
    std::size_t mask = list_firsts.size() - 1, slot = digest & mask;
    while (list_firsts[slot] != no_list) slot = (slot + 1) & mask;
    list_digests[slot] = digest;
    list_firsts[slot] = first;
    list_counts[slot] = count;
    ++lists_stored;
}

// Finds list in the modulator table, adding it when it is not there, and sets first to its first
// entry; false (the sentence written) when it would take the table past modulator_limit.
bool store_modulators(const std::vector<Modulator>& list, std::uint32_t& first) {
    std::uint64_t digest = list_digest(list);
    std::size_t mask = list_firsts.size() - 1, slot = 0;
    for (slot = digest & mask; !list_firsts.empty() && list_firsts[slot] != no_list; slot = (slot + 1) & mask) {
        if (list_digests[slot] == digest && list_counts[slot] == list.size() && list_at(list, list_firsts[slot])) {
            first = list_firsts[slot];
            return true;
        }
    }
    if (soundfont_modulator_amounts.size() + list.size() > modulator_limit) {
        say("The SoundFont is too large to be played here: its regions need more than ");
        say_count(modulator_limit);
        say(" modulators.");
        return false;
    }
    first = static_cast<std::uint32_t>(soundfont_modulator_amounts.size());
    for (const Modulator& m : list) {
        const std::uint32_t words[modulator_word_fields] = {m.source, m.destination, m.amount_source, m.transform};
        soundfont_modulator_words.insert(soundfont_modulator_words.end(), std::begin(words), std::end(words));
        soundfont_modulator_amounts.push_back(m.amount);
    }
    remember_list(digest, first, static_cast<std::uint32_t>(list.size()));
    return true;
}

// Sets values to the defaults of an instrument zone.
void instrument_defaults(Generators& values) {
    std::fill(std::begin(values), std::end(values), 0);
    for (const Generator_limits& limits : generator_limits) values[limits.generator] = limits.fallback;
    values[gen_key_range] = values[gen_velocity_range] = full_range;
    values[gen_root_key] = -1;  // the sample's own
}

// Sets values to those of a preset zone that sets nothing: nothing added, the full ranges.
void preset_defaults(Generators& values) {
    std::fill(std::begin(values), std::end(values), 0);
    values[gen_key_range] = values[gen_velocity_range] = full_range;
}

// True when the preset's program is one a player can choose (0-127); others are left out.
bool preset_playable(std::size_t preset) { return le16(record_at(chunk_phdr, preset) + 20) <= 127; }

// The number of modulator records of the zone-th zone of a preset (chunk_pbag) or an instrument (chunk_ibag).
std::uint64_t zone_modulators(Chunk bags, std::size_t zone) {
    return le16(record_at(bags, zone + 1) + 2) - le16(record_at(bags, zone) + 2);
}

// Counts, before anything is merged, the regions the presets can make and the generators and
// modulators the merge reads, and checks every instrument a preset zone names; false (the sentence
// written) when an instrument is out of range or a bound is passed. Presets left out are not counted.
bool count_merge_work(std::uint64_t& regions) {
    std::size_t presets = records(chunk_phdr) - 1;
    std::size_t instruments = records(chunk_inst) > 0 ? records(chunk_inst) - 1 : 0;
    std::uint64_t read = 0;
    regions = 0;
    Generators scratch = {};
    for (std::size_t p = 0; p < presets; ++p) {
        if (!preset_playable(p)) continue;
        std::size_t first = 0, last = 0;
        zones_of(chunk_phdr, p, first, last);
        std::uint64_t preset_global_modulators = first < last ? zone_modulators(chunk_pbag, first) : 0;
        for (std::size_t z = first; z < last; ++z) {
            std::uint32_t instrument = read_bag_zone(chunk_pbag, z, scratch);
            read += le16(record_at(chunk_pbag, z + 1)) - le16(record_at(chunk_pbag, z));
            if (instrument == no_target) continue;
            if (instrument >= instruments) {
                return fail_index("preset", record_at(chunk_phdr, p), "instrument", instrument, instruments);
            }
            std::size_t zone_first = 0, zone_last = 0;
            zones_of(chunk_inst, instrument, zone_first, zone_last);
            std::uint64_t zones = zone_last - zone_first;
            regions += zones;
            read += le16(record_at(chunk_ibag, zone_last)) - le16(record_at(chunk_ibag, zone_first));
            // each region's list: its instrument zone's modulators over the instrument's global
            // zone's and the defaults, then its preset zone's over the preset's global zone's
            std::uint64_t instrument_global_modulators = zones > 0 ? zone_modulators(chunk_ibag, zone_first) : 0;
            read += le16(record_at(chunk_ibag, zone_last) + 2) - le16(record_at(chunk_ibag, zone_first) + 2);
            read += zones * (instrument_global_modulators + default_modulator_count + preset_global_modulators +
                             zone_modulators(chunk_pbag, z));
        }
        if (regions > region_offer_limit) {
            say("The SoundFont is too large to be played here: its zones make more than ");
            say_count(region_offer_limit);
            say(" regions.");
            return false;
        }
        if (read > merge_read_limit) {
            say("The SoundFont is too large to be played here: working out its presets would take too long.");
            return false;
        }
    }
    return true;
}

// The sentence of a read whose work passed a bound while it went on; always false.
bool fail_too_long() {
    say("The SoundFont is too large to be played here: working out its presets would take too long.");
    return false;
}

// ---- regions ----

// The sum of an instrument zone's value and a preset zone's, clamped to the generator's range.
std::int32_t merged(const Generators& instrument, const Generators& preset, const Generator_limits& limits) {
    return std::clamp(instrument[limits.generator] + preset[limits.generator], limits.low, limits.high);
}

// The low and high byte of a range generator's value, each at most 127.
std::int32_t range_low(std::int32_t range) { return std::min(range & 0xFF, 127); }
std::int32_t range_high(std::int32_t range) { return std::min((range >> 8) & 0xFF, 127); }

// An address offset of an instrument zone in frames: the fine generator plus 32768 times the coarse one.
std::int64_t address_offset(const Generators& values, int fine, int coarse) {
    return values[fine] + std::int64_t{32768} * values[coarse];
}

// Notes a region left out because of its sample; the first one's reason goes into the remark.
void drop_region(std::uint8_t fault, std::uint32_t sample) {
    if (soundfont_regions_dropped++ == 0) {
        first_drop_fault = fault;
        first_drop_sample = sample;
    }
}

// How each region value comes from the merged generators: the generator, and the value itself
// divided by a divisor (in plain units), as seconds from timecents, as Hz from absolute cents, or as
// the share left after a decrease in 1/divisor units; the pitch correction is the sample's.
enum Value_kind : std::uint8_t { value_plain, value_seconds, value_hertz, value_share_left, value_correction };
struct Value_rule {
    int generator;
    Value_kind kind;
    double divisor;
};
constexpr Value_rule value_rules[region_value_fields] = {
    {gen_coarse_tune, value_plain, 1},        {gen_fine_tune, value_plain, 1},
    {0, value_correction, 1},                 {gen_scale_tuning, value_plain, 1},
    {gen_attenuation, value_plain, 10},       {gen_pan, value_plain, 500},
    {gen_delay, value_seconds, 1},            {gen_attack, value_seconds, 1},
    {gen_hold, value_seconds, 1},             {gen_decay, value_seconds, 1},
    {gen_sustain, value_plain, 10},           {gen_release, value_seconds, 1},
    {gen_key_to_hold, value_plain, 1},        {gen_key_to_decay, value_plain, 1},
    {gen_filter_cutoff, value_hertz, 1},      {gen_filter_q, value_plain, 10},
    {gen_mod_env_delay, value_seconds, 1},    {gen_mod_env_attack, value_seconds, 1},
    {gen_mod_env_hold, value_seconds, 1},     {gen_mod_env_decay, value_seconds, 1},
    {gen_mod_env_sustain, value_share_left, 1000},  // the file gives the decrease in 0.1% units
    {gen_mod_env_release, value_seconds, 1},
    {gen_key_to_mod_env_hold, value_plain, 1}, {gen_key_to_mod_env_decay, value_plain, 1},
    {gen_mod_env_to_pitch, value_plain, 1},   {gen_mod_env_to_filter, value_plain, 1},
    {gen_mod_lfo_delay, value_seconds, 1},    {gen_mod_lfo_frequency, value_hertz, 1},
    {gen_mod_lfo_to_pitch, value_plain, 1},   {gen_mod_lfo_to_filter, value_plain, 1},
    {gen_mod_lfo_to_volume, value_plain, 10}, {gen_vib_lfo_delay, value_seconds, 1},
    {gen_vib_lfo_frequency, value_hertz, 1},  {gen_vib_lfo_to_pitch, value_plain, 1},
    {gen_reverb_send, value_plain, 1000},     {gen_chorus_send, value_plain, 1000},
};

// Seconds from timecents.
float seconds(std::int32_t timecents) { return static_cast<float>(std::exp2(timecents / 1200.0)); }
// Hz from absolute cents.
float hertz(std::int32_t cents) { return static_cast<float>(440.0 * std::exp2((cents - 6900) / 1200.0)); }

// Adds the region one instrument zone makes under one preset zone, both read over their global zones,
// with the instrument zone's modulators (its list over the defaults); a region whose ranges don't meet
// makes nothing, one whose sample can't be played is dropped, and one the layer limit leaves out is
// not made. In the first pass of a preset, only notes the region as a candidate. False (the sentence
// written) when a bound is passed.
bool add_region(const Generators& instrument, const Generators& preset, std::uint32_t sample,
                const std::vector<Modulator>& instrument_modulators) {
    std::int32_t key_low = std::max(range_low(instrument[gen_key_range]), range_low(preset[gen_key_range]));
    std::int32_t key_high = std::min(range_high(instrument[gen_key_range]), range_high(preset[gen_key_range]));
    std::int32_t velocity_low = std::max(range_low(instrument[gen_velocity_range]), range_low(preset[gen_velocity_range]));
    std::int32_t velocity_high = std::min(range_high(instrument[gen_velocity_range]), range_high(preset[gen_velocity_range]));
    if (key_low > key_high || velocity_low > velocity_high) return true;  // a layer that never sounds
    if (!noting_candidates) ++regions_offered;
    if (sample_faults[sample] != sample_playable) {
        if (!noting_candidates) drop_region(sample_faults[sample], sample);
        return true;
    }
    // the address offsets, loop mode, root key and exclusive class are the instrument zone's alone
    // the frames played: the sample moved by the address offsets, kept within the sample
    std::int64_t frames = soundfont_samples[sample * sample_fields + sample_frames];
    std::int64_t start = std::clamp<std::int64_t>(address_offset(instrument, gen_start_offset, gen_start_coarse_offset), 0, frames);
    std::int64_t end = std::clamp<std::int64_t>(frames + address_offset(instrument, gen_end_offset, gen_end_coarse_offset), 0, frames);
    if (end <= start) {
        if (!noting_candidates) drop_region(drop_nothing_played, sample);
        return true;
    }
    const Generator_limits attenuation = {gen_attenuation, 0, 0, 1440};
    if (noting_candidates) {
        candidates.push_back({static_cast<std::uint8_t>(key_low), static_cast<std::uint8_t>(key_high),
                              static_cast<std::uint8_t>(velocity_low), static_cast<std::uint8_t>(velocity_high),
                              merged(instrument, preset, attenuation)});
        return true;
    }
    if (kept[next_candidate++] == 0) return true;  // the layer limit left it out
    if (soundfont_region_words.size() / region_word_fields >= region_limit) {
        say("The SoundFont is too large to be played here: its presets make more than ");
        say_count(region_limit);
        say(" regions.");
        return false;
    }
    // its modulators: the preset zone's added to the instrument zone's
    std::vector<Modulator> modulators;
    merge_modulators(instrument_modulators.data(), instrument_modulators.size(), preset_zone_modulators, true, modulators);
    if (modulators.size() > region_modulator_limit) {
        modulators.resize(region_modulator_limit);
        ++soundfont_modulator_lists_cut;
    }
    std::uint32_t first_modulator = 0;
    if (!store_modulators(modulators, first_modulator)) return false;
    // the loop, mended when it reaches outside the frames played: clamped into them, and not looped
    // when nothing is left of it
    std::int64_t loop_start = sample_loop_starts[sample] + address_offset(instrument, gen_loop_start_offset, gen_loop_start_coarse_offset);
    std::int64_t loop_end = sample_loop_ends[sample] + address_offset(instrument, gen_loop_end_offset, gen_loop_end_coarse_offset);
    std::int64_t kept_loop_start = std::clamp(loop_start, start, end);
    std::int64_t kept_loop_end = std::clamp(loop_end, kept_loop_start, end);
    std::uint32_t loop_mode = static_cast<std::uint32_t>(instrument[gen_sample_modes]) & 3;
    if (loop_mode == 2) loop_mode = 0;  // unused in the standard: played as no loop
    if (loop_mode != 0 && (kept_loop_start != loop_start || kept_loop_end != loop_end || kept_loop_end == kept_loop_start)) {
        ++soundfont_loops_mended;
        if (kept_loop_end == kept_loop_start) loop_mode = 0;
    }
    std::int32_t root_key = std::clamp(instrument[gen_root_key], -1, 127);
    const std::uint32_t words[region_word_fields] = {
        static_cast<std::uint32_t>(key_low), static_cast<std::uint32_t>(key_high),
        static_cast<std::uint32_t>(velocity_low), static_cast<std::uint32_t>(velocity_high),
        sample, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end),
        static_cast<std::uint32_t>(kept_loop_start), static_cast<std::uint32_t>(kept_loop_end), loop_mode,
        root_key >= 0 ? static_cast<std::uint32_t>(root_key) : sample_pitches[sample],
        static_cast<std::uint32_t>(std::clamp(instrument[gen_exclusive_class], 0, 127)),
        first_modulator, static_cast<std::uint32_t>(modulators.size()),
    };
    soundfont_region_words.insert(soundfont_region_words.end(), std::begin(words), std::end(words));
    // the values a preset zone adds to
    std::int32_t sum[generator_kinds] = {};
    for (const Generator_limits& limits : generator_limits) sum[limits.generator] = merged(instrument, preset, limits);
    float values[region_value_fields];
    for (std::size_t v = 0; v < region_value_fields; ++v) {
        const Value_rule& rule = value_rules[v];
        std::int32_t given = sum[rule.generator];
        switch (rule.kind) {
            case value_seconds: values[v] = seconds(given); break;
            case value_hertz: values[v] = hertz(given); break;
            case value_share_left: values[v] = static_cast<float>(1.0 - given / rule.divisor); break;
            case value_correction: values[v] = static_cast<float>(sample_corrections[sample]); break;
            default: values[v] = static_cast<float>(given / rule.divisor); break;
        }
    }
    soundfont_region_values.insert(soundfont_region_values.end(), std::begin(values), std::end(values));
    return true;
}

// Adds the regions of one preset zone (read over the preset's global zone) naming an instrument: one
// for each of the instrument's zones that names a sample, read over the instrument's global zone.
// False (the sentence written) when a zone names a sample that is not there or a bound is passed.
bool add_instrument(const Generators& preset, std::uint32_t instrument) {
    std::size_t first = 0, last = 0;
    zones_of(chunk_inst, instrument, first, last);
    std::size_t samples = soundfont_samples.size() / sample_fields;
    Generators global;
    instrument_defaults(global);
    // the modulators (second pass only): the defaults, those over the global zone's, then each zone's over them
    std::vector<Modulator> own, over_global, zone_list;
    over_global.assign(std::begin(default_modulators), std::end(default_modulators));
    for (std::size_t z = first; z < last; ++z) {
        Generators values;
        std::copy(std::begin(global), std::end(global), std::begin(values));
        std::uint32_t sample = read_bag_zone(chunk_ibag, z, values);
        if (!noting_candidates) read_zone_modulators(chunk_ibag, z, own);
        if (sample == no_target) {
            // the first zone without a sample is the global one; any other is ignored
            if (z == first) {
                std::copy(std::begin(values), std::end(values), std::begin(global));
                if (!noting_candidates) merge_modulators(default_modulators, default_modulator_count, own, false, over_global);
            }
            continue;
        }
        if (sample >= samples) return fail_index("instrument", record_at(chunk_inst, instrument), "sample", sample, samples);
        if (!noting_candidates) merge_modulators(over_global.data(), over_global.size(), own, false, zone_list);
        if (!add_region(values, preset, sample, zone_list)) return false;
    }
    return true;
}

// Makes the regions of one preset, or in the first pass notes them as candidates; false (the sentence
// written) at a fault.
bool add_preset_zones(std::size_t p) {
    std::size_t first = 0, last = 0;
    zones_of(chunk_phdr, p, first, last);
    Generators global;
    preset_defaults(global);
    std::vector<Modulator> global_modulators, own;
    for (std::size_t z = first; z < last; ++z) {
        Generators values;
        std::copy(std::begin(global), std::end(global), std::begin(values));
        std::uint32_t instrument = read_bag_zone(chunk_pbag, z, values);
        if (!noting_candidates) read_zone_modulators(chunk_pbag, z, own);
        if (instrument == no_target) {
            // the first zone without an instrument is the global one; any other is ignored
            if (z == first) {
                std::copy(std::begin(values), std::end(values), std::begin(global));
                global_modulators = own;
            }
            continue;
        }
        if (!noting_candidates) merge_modulators(global_modulators.data(), global_modulators.size(), own, false, preset_zone_modulators);
        if (!add_instrument(values, instrument)) return false;
    }
    return true;
}

// The place of each key (or velocity) 0-127 in a preset's grid: the ranges' edges cut 0-128 into
// spans, and every key of a span is covered by the same regions. Returns the number of spans.
std::size_t grid_spans(bool velocities, std::uint8_t (&span_of)[128]) {
    bool edge[129] = {};
    for (const Candidate& c : candidates) {
        edge[velocities ? c.velocity_low : c.key_low] = true;
        edge[(velocities ? c.velocity_high : c.key_high) + 1] = true;
    }
    std::size_t spans = 0;
    for (int k = 0; k < 128; ++k) {
        if (edge[k] && k > 0) ++spans;
        span_of[k] = static_cast<std::uint8_t>(spans);
    }
    return spans + 1;
}

// Chooses which of the preset's candidates are made: all, unless more than layer_limit of them would
// sound on one key and velocity; then, from the loudest (least attenuation; in file order where they
// are alike) to the quietest, each is kept while every key and velocity it covers holds fewer than
// layer_limit kept ones, and dropped (and counted) otherwise. False (the sentence written) when the
// work of the read's choices passes layer_work_limit.
bool choose_layers() {
    std::size_t n = candidates.size();
    kept.assign(n, 1);
    if (n <= layer_limit) return true;
    // the grid of spans: keys down, velocities across
    std::uint8_t key_span[128], velocity_span[128];
    std::size_t keys = grid_spans(false, key_span);
    std::size_t velocities = grid_spans(true, velocity_span);
    // how many candidates sound in each cell, by the corners of their rectangles summed up
    std::vector<std::int32_t> layers((keys + 1) * (velocities + 1), 0);
    auto cell = [velocities](std::size_t k, std::size_t v) { return k * (velocities + 1) + v; };
    for (const Candidate& c : candidates) {
        std::size_t k0 = key_span[c.key_low], k1 = key_span[c.key_high] + 1;
        std::size_t v0 = velocity_span[c.velocity_low], v1 = velocity_span[c.velocity_high] + 1;
        ++layers[cell(k0, v0)];
        --layers[cell(k0, v1)];
        --layers[cell(k1, v0)];
        ++layers[cell(k1, v1)];
    }
    std::int32_t most = 0;
    for (std::size_t k = 0; k < keys; ++k) {
        for (std::size_t v = 0; v < velocities; ++v) {
            if (k > 0) layers[cell(k, v)] += layers[cell(k - 1, v)];
            if (v > 0) layers[cell(k, v)] += layers[cell(k, v - 1)];
            if (k > 0 && v > 0) layers[cell(k, v)] -= layers[cell(k - 1, v - 1)];
            most = std::max(most, layers[cell(k, v)]);
        }
    }
    if (most <= static_cast<std::int32_t>(layer_limit)) return true;
    // the candidates with the same rectangle of spans, numbered: a rectangle once found to cover a
    // full cell is dropped at once after that
    auto rectangle = [&key_span, &velocity_span](const Candidate& c) {
        return std::uint64_t{key_span[c.key_low]} << 24 | std::uint64_t{key_span[c.key_high]} << 16 |
               std::uint64_t{velocity_span[c.velocity_low]} << 8 | velocity_span[c.velocity_high];
    };
    std::vector<std::uint64_t> order(n);  // a sort key above each candidate's index
    for (std::size_t i = 0; i < n; ++i) order[i] = rectangle(candidates[i]) << 32 | i;
    std::sort(order.begin(), order.end());
    std::vector<std::uint32_t> group(n);
    std::uint32_t groups = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && order[i] >> 32 != order[i - 1] >> 32) ++groups;
        group[order[i] & 0xFFFFFFFF] = groups;
    }
    std::vector<std::uint8_t> group_full(groups + 1, 0);
    // the loudest first (attenuation is never negative), in the file's order where they are alike
    for (std::size_t i = 0; i < n; ++i) order[i] = std::uint64_t(static_cast<std::uint32_t>(candidates[i].attenuation)) << 32 | i;
    std::sort(order.begin(), order.end());
    std::fill(layers.begin(), layers.end(), 0);
    for (std::uint64_t sorted : order) {
        std::size_t i = sorted & 0xFFFFFFFF;
        const Candidate& c = candidates[i];
        std::size_t k0 = key_span[c.key_low], k1 = key_span[c.key_high];
        std::size_t v0 = velocity_span[c.velocity_low], v1 = velocity_span[c.velocity_high];
        bool room = group_full[group[i]] == 0;
        std::uint64_t cells = (k1 - k0 + 1) * (v1 - v0 + 1);
        if (room) {
            if (cells > layer_work_left) return fail_too_long();
            layer_work_left -= cells;
            for (std::size_t k = k0; room && k <= k1; ++k) {
                for (std::size_t v = v0; v <= v1; ++v) {
                    if (layers[cell(k, v)] >= static_cast<std::int32_t>(layer_limit)) {
                        room = false;
                        break;
                    }
                }
            }
        }
        if (!room) {
            group_full[group[i]] = 1;
            kept[i] = 0;
            ++soundfont_layers_dropped;
            continue;
        }
        for (std::size_t k = k0; k <= k1; ++k) {
            for (std::size_t v = v0; v <= v1; ++v) ++layers[cell(k, v)];
        }
    }
    return true;
}

// Makes every preset's regions and fills the preset table; presets with a program above 127 are left
// out and counted.
bool add_presets(std::uint64_t regions) {
    std::size_t presets = records(chunk_phdr) - 1;
    soundfont_presets.clear();
    soundfont_preset_names.clear();
    soundfont_region_words.reserve(std::min<std::uint64_t>(regions, region_limit) * region_word_fields);
    soundfont_region_values.reserve(std::min<std::uint64_t>(regions, region_limit) * region_value_fields);
    layer_work_left = layer_work_limit;
    for (std::size_t p = 0; p < presets; ++p) {
        if (!preset_playable(p)) {
            ++soundfont_presets_refused;
            continue;
        }
        const unsigned char* header = record_at(chunk_phdr, p);
        std::uint32_t first_region = static_cast<std::uint32_t>(soundfont_region_words.size() / region_word_fields);
        const std::uint32_t words[preset_fields] = {le16(header + 22), le16(header + 20), first_region, 0};
        soundfont_presets.insert(soundfont_presets.end(), std::begin(words), std::end(words));
        std::size_t name_at = soundfont_preset_names.size();
        soundfont_preset_names.resize(name_at + preset_name_size, '\0');
        for (std::size_t i = 0; i < 20 && header[i] != 0; ++i) soundfont_preset_names[name_at + i] = static_cast<char>(header[i]);
        // the first pass notes the regions, the layer limit chooses, the second makes them
        candidates.clear();
        noting_candidates = true;
        bool noted = add_preset_zones(p);
        noting_candidates = false;
        if (!noted || !choose_layers()) return false;
        next_candidate = 0;
        if (!add_preset_zones(p)) return false;
        soundfont_presets[soundfont_presets.size() - preset_fields + preset_region_count] = static_cast<std::uint32_t>(soundfont_region_words.size() / region_word_fields) - first_region;
    }
    return true;
}

// Writes the remark on what was left out or mended; nothing when all went in whole.
void write_remark() {
    sentence_start(soundfont_remark);
    if (soundfont_regions_dropped > 0) {
        say_count(soundfont_regions_dropped);
        say(" of the SoundFont's ");
        say_count(regions_offered);
        say(soundfont_regions_dropped == 1 ? " regions is left out, because " : " regions are left out, the first because ");
        say_drop_reason(first_drop_fault, first_drop_sample);
        say(".");
    }
    if (soundfont_loops_mended > 0) {
        if (sentence_used > 0) say(" ");
        say_count(soundfont_loops_mended);
        say(soundfont_loops_mended == 1 ? " loop that reached outside its sample was mended."
                                        : " loops that reached outside their samples were mended.");
    }
    if (soundfont_layers_dropped > 0) {
        if (sentence_used > 0) say(" ");
        say_count(soundfont_layers_dropped);
        say(soundfont_layers_dropped == 1 ? " region is" : " regions are");
        say(" left out where more than 64 of a preset would sound on one key and velocity, the quietest first.");
    }
    if (soundfont_presets_refused > 0) {
        if (sentence_used > 0) say(" ");
        say_count(soundfont_presets_refused);
        say(soundfont_presets_refused == 1 ? " preset with a program above 127 is left out."
                                           : " presets with a program above 127 are left out.");
    }
    if (soundfont_modulators_left_out > 0) {
        if (sentence_used > 0) say(" ");
        say_count(soundfont_modulators_left_out);
        say(" of its ");
        say_count(soundfont_modulator_count);
        say(" modulators ");
        say(soundfont_modulators_left_out == 1 ? "is" : "are");
        say(" left out: linked to another, or with a source or destination that is not defined.");
    }
    if (soundfont_modulator_lists_cut > 0) {
        if (sentence_used > 0) say(" ");
        say_count(soundfont_modulator_lists_cut);
        say(soundfont_modulator_lists_cut == 1 ? " region has" : " regions have");
        say(" more modulators than a voice can follow: only the first ");
        say_count(region_modulator_limit);
        say(" are played.");
    }
}

// Gives back the memory of a vector.
template <typename T>
void release(std::vector<T>& v) {
    std::vector<T>().swap(v);
}

// Reads the whole file; false (the sentence written) at its first fault.
bool read_all(const unsigned char* data, std::size_t size) {
    if (!find_chunks(data, size) || !check_chunks() || !check_indexes()) return false;
    soundfont_modulator_count = static_cast<std::uint32_t>(records(chunk_pmod) + records(chunk_imod));
    soundfont_modulator_count -= (records(chunk_pmod) > 0 ? 1 : 0) + (records(chunk_imod) > 0 ? 1 : 0);  // the terminal records
    count_modulators_left_out();
    std::uint64_t regions = 0;
    if (!count_merge_work(regions)) return false;
    read_samples();
    if (!add_presets(regions)) return false;
    if (soundfont_region_words.empty()) {
        say("The SoundFont has nothing to play: ");
        if (soundfont_regions_dropped > 0) {
            say_drop_reason(first_drop_fault, first_drop_sample);
            say(".");
        } else if (soundfont_presets.empty()) {
            say("every preset has a program above 127.");
        } else {
            say("none of its presets leads to a sample.");
        }
        return false;
    }
    write_remark();
    return true;
}

// Empties every table and count, and gives back the memory of the tables and of what only the merge needed.
void forget_all_but_the_sentence() {
    release(soundfont_presets);
    release(soundfont_preset_names);
    release(soundfont_region_words);
    release(soundfont_region_values);
    release(soundfont_samples);
    release(soundfont_modulator_words);
    release(soundfont_modulator_amounts);
    release(sample_faults);
    release(sample_loop_starts);
    release(sample_loop_ends);
    release(sample_pitches);
    release(sample_corrections);
    soundfont_name[0] = '\0';
    soundfont_version_major = soundfont_version_minor = 0;
    soundfont_modulator_count = soundfont_regions_dropped = soundfont_loops_mended = 0;
    soundfont_modulators_left_out = soundfont_modulator_lists_cut = soundfont_presets_refused = soundfont_layers_dropped = 0;
    regions_offered = 0;
    soundfont_remark[0] = '\0';
    file_data = nullptr;
    file_end = 0;
}
}  // namespace

void forget_soundfont() {
    forget_all_but_the_sentence();
    soundfont_message[0] = '\0';
}

const char* read_soundfont(const unsigned char* data, std::size_t size) {
    forget_soundfont();
    sentence_start(soundfont_message);
    bool good = read_all(data, size);
    file_data = nullptr;
    // what only the merge needed
    release(sample_faults);
    release(sample_loop_starts);
    release(sample_loop_ends);
    release(sample_pitches);
    release(sample_corrections);
    release(candidates);
    release(kept);
    release(preset_zone_modulators);
    release(list_digests);
    release(list_firsts);
    release(list_counts);
    lists_stored = 0;
    if (good) return nullptr;
    forget_all_but_the_sentence();  // a fault leaves its sentence alone
    return soundfont_message;
}
