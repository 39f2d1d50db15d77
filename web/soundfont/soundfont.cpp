#include "soundfont.h"

#include <algorithm>
#include <cmath>
#include <cstring>

std::vector<std::uint32_t> soundfont_presets;
std::vector<char> soundfont_preset_names;
std::vector<std::uint32_t> soundfont_region_words;
std::vector<float> soundfont_region_values;
std::vector<std::uint32_t> soundfont_samples;
char soundfont_name[257] = {};
std::uint32_t soundfont_version_major = 0;
std::uint32_t soundfont_version_minor = 0;
std::uint32_t soundfont_modulator_count = 0;
std::uint32_t soundfont_regions_dropped = 0;
std::uint32_t soundfont_loops_mended = 0;
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
    gen_start_coarse_offset = 4, gen_end_coarse_offset = 12, gen_filter_cutoff = 8, gen_filter_q = 9,
    gen_pan = 17, gen_delay = 33, gen_attack = 34, gen_hold = 35, gen_decay = 36, gen_sustain = 37,
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
};

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

// Counts, before anything is merged, the regions the presets can make and the generators the merge
// reads, and checks every instrument a preset zone names; false (the sentence written) when an
// instrument is out of range or a bound is passed.
bool count_merge_work(std::uint64_t& regions) {
    std::size_t presets = records(chunk_phdr) - 1;
    std::size_t instruments = records(chunk_inst) > 0 ? records(chunk_inst) - 1 : 0;
    std::uint64_t generators_read = 0;
    regions = 0;
    Generators scratch = {};
    for (std::size_t p = 0; p < presets; ++p) {
        std::size_t first = 0, last = 0;
        zones_of(chunk_phdr, p, first, last);
        for (std::size_t z = first; z < last; ++z) {
            std::uint32_t instrument = read_bag_zone(chunk_pbag, z, scratch);
            generators_read += le16(record_at(chunk_pbag, z + 1)) - le16(record_at(chunk_pbag, z));
            if (instrument == no_target) continue;
            if (instrument >= instruments) {
                return fail_index("preset", record_at(chunk_phdr, p), "instrument", instrument, instruments);
            }
            std::size_t zone_first = 0, zone_last = 0;
            zones_of(chunk_inst, instrument, zone_first, zone_last);
            regions += zone_last - zone_first;
            generators_read += le16(record_at(chunk_ibag, zone_last)) - le16(record_at(chunk_ibag, zone_first));
        }
        if (regions > region_limit) {
            say("The SoundFont is too large to be played here: its presets make more than ");
            say_count(region_limit);
            say(" regions.");
            return false;
        }
        if (generators_read > generator_read_limit) {
            say("The SoundFont is too large to be played here: working out its presets would take too long.");
            return false;
        }
    }
    return true;
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

// Adds the region one instrument zone makes under one preset zone, both read over their global zones;
// a region whose ranges don't meet makes nothing, one whose sample can't be played is dropped.
void add_region(const Generators& instrument, const Generators& preset, std::uint32_t sample) {
    std::int32_t key_low = std::max(range_low(instrument[gen_key_range]), range_low(preset[gen_key_range]));
    std::int32_t key_high = std::min(range_high(instrument[gen_key_range]), range_high(preset[gen_key_range]));
    std::int32_t velocity_low = std::max(range_low(instrument[gen_velocity_range]), range_low(preset[gen_velocity_range]));
    std::int32_t velocity_high = std::min(range_high(instrument[gen_velocity_range]), range_high(preset[gen_velocity_range]));
    if (key_low > key_high || velocity_low > velocity_high) return;  // a layer that never sounds
    ++regions_offered;
    if (sample_faults[sample] != sample_playable) {
        drop_region(sample_faults[sample], sample);
        return;
    }
    // the address offsets, loop mode, root key and exclusive class are the instrument zone's alone
    // the frames played: the sample moved by the address offsets, kept within the sample
    std::int64_t frames = soundfont_samples[sample * sample_fields + sample_frames];
    std::int64_t start = std::clamp<std::int64_t>(address_offset(instrument, gen_start_offset, gen_start_coarse_offset), 0, frames);
    std::int64_t end = std::clamp<std::int64_t>(frames + address_offset(instrument, gen_end_offset, gen_end_coarse_offset), 0, frames);
    if (end <= start) {
        drop_region(drop_nothing_played, sample);
        return;
    }
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
    };
    soundfont_region_words.insert(soundfont_region_words.end(), std::begin(words), std::end(words));
    // the values a preset zone adds to
    std::int32_t sum[generator_kinds] = {};
    for (const Generator_limits& limits : generator_limits) sum[limits.generator] = merged(instrument, preset, limits);
    auto seconds = [&sum](int generator) { return static_cast<float>(std::exp2(sum[generator] / 1200.0)); };
    const float values[region_value_fields] = {
        static_cast<float>(sum[gen_coarse_tune]),
        static_cast<float>(sum[gen_fine_tune]),
        static_cast<float>(sample_corrections[sample]),
        static_cast<float>(sum[gen_scale_tuning]),
        static_cast<float>(sum[gen_attenuation] / 10.0),
        static_cast<float>(sum[gen_pan] / 500.0),
        seconds(gen_delay), seconds(gen_attack), seconds(gen_hold), seconds(gen_decay),
        static_cast<float>(sum[gen_sustain] / 10.0),
        seconds(gen_release),
        static_cast<float>(sum[gen_key_to_hold]),
        static_cast<float>(sum[gen_key_to_decay]),
        static_cast<float>(440.0 * std::exp2((sum[gen_filter_cutoff] - 6900) / 1200.0)),
        static_cast<float>(sum[gen_filter_q] / 10.0),
    };
    soundfont_region_values.insert(soundfont_region_values.end(), std::begin(values), std::end(values));
}

// Adds the regions of one preset zone (read over the preset's global zone) naming an instrument: one
// for each of the instrument's zones that names a sample, read over the instrument's global zone.
// False (the sentence written) when a zone names a sample that is not there.
bool add_instrument(const Generators& preset, std::uint32_t instrument) {
    std::size_t first = 0, last = 0;
    zones_of(chunk_inst, instrument, first, last);
    std::size_t samples = soundfont_samples.size() / sample_fields;
    Generators global;
    instrument_defaults(global);
    for (std::size_t z = first; z < last; ++z) {
        Generators values;
        std::copy(std::begin(global), std::end(global), std::begin(values));
        std::uint32_t sample = read_bag_zone(chunk_ibag, z, values);
        if (sample == no_target) {
            // the first zone without a sample is the global one; any other is ignored
            if (z == first) std::copy(std::begin(values), std::end(values), std::begin(global));
            continue;
        }
        if (sample >= samples) return fail_index("instrument", record_at(chunk_inst, instrument), "sample", sample, samples);
        add_region(values, preset, sample);
    }
    return true;
}

// Makes every preset's regions and fills the preset table.
bool add_presets(std::uint64_t regions) {
    std::size_t presets = records(chunk_phdr) - 1;
    soundfont_presets.assign(presets * preset_fields, 0);
    soundfont_preset_names.assign(presets * preset_name_size, '\0');
    soundfont_region_words.reserve(regions * region_word_fields);
    soundfont_region_values.reserve(regions * region_value_fields);
    for (std::size_t p = 0; p < presets; ++p) {
        const unsigned char* header = record_at(chunk_phdr, p);
        std::uint32_t* preset = &soundfont_presets[p * preset_fields];
        preset[preset_program] = le16(header + 20);
        preset[preset_bank] = le16(header + 22);
        preset[preset_first_region] = static_cast<std::uint32_t>(soundfont_region_words.size() / region_word_fields);
        for (std::size_t i = 0; i < 20 && header[i] != 0; ++i) soundfont_preset_names[p * preset_name_size + i] = static_cast<char>(header[i]);
        std::size_t first = 0, last = 0;
        zones_of(chunk_phdr, p, first, last);
        Generators global;
        preset_defaults(global);
        for (std::size_t z = first; z < last; ++z) {
            Generators values;
            std::copy(std::begin(global), std::end(global), std::begin(values));
            std::uint32_t instrument = read_bag_zone(chunk_pbag, z, values);
            if (instrument == no_target) {
                // the first zone without an instrument is the global one; any other is ignored
                if (z == first) std::copy(std::begin(values), std::end(values), std::begin(global));
                continue;
            }
            if (!add_instrument(values, instrument)) return false;
        }
        preset[preset_region_count] = static_cast<std::uint32_t>(soundfont_region_words.size() / region_word_fields) - preset[preset_first_region];
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
    std::uint64_t regions = 0;
    if (!count_merge_work(regions)) return false;
    read_samples();
    if (!add_presets(regions)) return false;
    if (soundfont_region_words.empty()) {
        say("The SoundFont has nothing to play: ");
        if (soundfont_regions_dropped > 0) {
            say_drop_reason(first_drop_fault, first_drop_sample);
            say(".");
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
    release(sample_faults);
    release(sample_loop_starts);
    release(sample_loop_ends);
    release(sample_pitches);
    release(sample_corrections);
    soundfont_name[0] = '\0';
    soundfont_version_major = soundfont_version_minor = 0;
    soundfont_modulator_count = soundfont_regions_dropped = soundfont_loops_mended = 0;
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
    if (good) return nullptr;
    forget_all_but_the_sentence();  // a fault leaves its sentence alone
    return soundfont_message;
}
