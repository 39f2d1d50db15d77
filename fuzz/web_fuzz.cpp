// Any bytes at all through the browser page's entry points, as the page's worker calls them, and any
// sequence of those calls. The input's last byte says how many calls follow the first listing (0 to
// 15); the four bytes before it for each call choose it and its arguments; the bytes before those are
// the MIDI file (its declared track count lowered as the listing target lowers it).
//
// The first listing is checked against the core: the listing handed over equals the core's listing
// of the same bytes in memory; listings made again from resume points equal that part of the whole;
// the roll holds a note for each note-on line whose velocity is above 0, paired here again from the
// notes the listing tells of, with each note's start and end at the totals of its lines, tracks,
// channels and keys in range, and its positions as its lines show them. A note's start is not after
// its end in listing order: summing each track's delta times as the listing took them (each the
// 32-bit difference of two running totals) gives every line an unwrapped 64-bit total, the start's
// is not above the end's, and the roll's 32-bit totals are those sums modulo 2^32.
//
// What the page plays is checked against the listing too: each channel event of the compact copy is
// an event line of its track at its total, in the order of the listing: a note on or off the note told
// on its line, with its bytes (every note an output takes, up to a wrap of its track's total), a note
// on with the duration of the roll's note it starts; any other with the bytes its line shows, and
// among its track's controls; each tempo a tempo line of its track; each track's channels those of
// its events, and its last tick that of its events and roll notes. Its data events are the system
// exclusive and text lines of the listing, in order (but those dropped), each at its track and total
// with the bytes its line shows.
//
// The calls that follow (a new input, listing again from any number with the listing stopped after
// any number of hand-overs, as the page stops it by throwing, searching, positions, names files and
// names, resume point and note lookups with any argument) must stay in bounds, and whatever they list
// must equal the core's listing: a full listing with the names file and name in use, a listing made
// again or a search with those of the last full listing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "control/driver.h"
#include "control/names_file.h"
#include "fuzz_support.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "listing/name_tables.h"
#include "play_events.h"
#include "roll_notes.h"
#include "stream/byte_stream.h"

extern const unsigned char builtin_names_file[];   // the General MIDI names file the page builds in
extern const std::size_t builtin_names_file_size;  // its size in bytes

// The page's entry points (web/module/*_exports.cpp), as JavaScript calls them.
extern "C" {
unsigned char* web_input(std::size_t size);
char* web_name(std::size_t size);
unsigned char* web_names_file(std::size_t size);
void web_builtin_names();
double web_list();
void web_list_again(std::int32_t point, std::int32_t watch);
std::int32_t web_resume_point_before(double offset);
std::int32_t web_resume_point_for_note(std::uint32_t note, std::uint32_t track_index);
double web_resume_point_offset(std::int32_t point);
std::uint32_t web_notes_before(std::int32_t point);
double web_search(const unsigned char* text, std::size_t length);
int web_starts_like_midi();
std::uint32_t web_format();
std::uint32_t web_division();
int web_roll_cut_short();
const std::uint16_t* web_overview_row(std::int32_t key);
std::uint32_t web_overview_shift();
std::uint32_t web_roll_last_end();
std::int32_t web_roll_note_range(int low);
const std::uint32_t* web_gathered();
const double* web_found_offsets();
std::uint32_t web_found_kept();
const std::uint32_t* web_position(std::uint32_t total, std::uint32_t numerator, std::uint32_t denominator, int seen);
const std::uint32_t* web_note_position(std::uint32_t note, int at_end);
const char* web_note_name(std::int32_t n);
const std::uint32_t* web_play_data();
std::uint32_t web_play_data_words();
void web_play_data_release();
std::int32_t web_resume_point_for_tick(std::uint32_t track_index, std::uint32_t tick);
const char* web_layouts();
}

namespace {
// An event line the listing told of.
struct ToldLine {
    std::uint64_t offset;
    std::uint32_t total;
    std::uint32_t track;
};
// A note on or off the listing told of, on the last line told.
struct ToldNote {
    std::size_t line;
    std::int32_t status;
    std::int32_t note;
    std::int32_t velocity;
};
struct Stop {};  // thrown from a hand-over to end a listing early, as the page throws

std::string handed;                  // the pieces of the listing in hand, in order
std::uint64_t handed_from = 0;       // the dump offset of its first piece
std::vector<ToldLine> told_lines;    // the event lines told in the listing in hand
std::vector<ToldNote> told_notes;    // the notes told in the listing in hand
std::uint32_t hand_overs_left = 0;   // hand-overs until the listing is stopped; 0: never

std::vector<unsigned char> file_bytes;   // the MIDI file the module holds
std::string file_name;                   // the name the page gave it ("" for none)
std::vector<unsigned char> names_bytes;  // the names file in use
bool full_listing_made = false;          // whether the input was listed in full (listings made again repeat that one)
std::vector<unsigned char> full_names_bytes;  // the names file the full listing was made with
std::string full_name;                        // and its name
std::string reference;                   // the core's listing of file_bytes with reference_names and reference_name
std::vector<unsigned char> reference_names;
std::string reference_name;
bool reference_made = false;             // whether reference is of the file in the module

// Writes what went wrong and aborts, so that libFuzzer keeps the input as a finding.
[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "smfdump web fuzz: %s\n", what);
    std::abort();
}

// Counts one call from the module; throws Stop when the listing is to end here.
void count_hand_over() {
    if (hand_overs_left != 0 && --hand_overs_left == 0) throw Stop{};
}
}  // namespace

// The functions the page's C++ calls in JavaScript (EM_JS), here collecting what they are told.
extern "C" void take_listing_piece(const char* bytes, std::size_t n, double offset, double listed) {
    if (handed.empty()) handed_from = static_cast<std::uint64_t>(offset);
    if (static_cast<std::uint64_t>(offset) != handed_from + handed.size()) fail("a piece handed over out of its place");
    if (!(listed >= 0.0 && listed <= 1.0)) fail("the share listed is outside 0 to 1");
    handed.append(bytes, n);
    count_hand_over();
}
extern "C" void take_event_line(double offset, std::uint32_t total, std::uint32_t track) {
    told_lines.push_back({static_cast<std::uint64_t>(offset), total, track});
    count_hand_over();
}
extern "C" void take_note(std::int32_t status, std::int32_t note, std::int32_t velocity) {
    if (told_lines.empty()) fail("a note told before any event line");
    told_notes.push_back({told_lines.size() - 1, status, note, velocity});
    count_hand_over();
}

namespace {
// Forgets what was told; the next listing stops after `stop_after` hand-overs (0: never).
void start_hearing(std::uint32_t stop_after) {
    handed.clear();
    handed_from = 0;
    told_lines.clear();
    told_notes.clear();
    hand_overs_left = stop_after;
}

// Makes the core's listing of the file in the module with the given names file and name, unless it
// is made already.
void make_reference(const std::vector<unsigned char>& names_file, const std::string& name) {
    if (reference_made && reference_names == names_file && reference_name == name) return;
    reference_names = names_file;
    reference_name = name;
    reset_program_state();
    if (!names_file.empty()) {
        std::FILE* names = fmemopen(reference_names.data(), reference_names.size(), "rb");
        if (names == nullptr) fail("fmemopen failed");
        read_program_names(names);
        std::fclose(names);
    }
    open_input_memory(file_bytes.data(), file_bytes.size());
    reference.clear();
    open_dump_memory(&reference);
    listed_name = reference_name.c_str();
    dump_file();
    flush_dump();
    dump_capture = nullptr;
    listed_name = input_name;
    reference_made = true;
}

// Puts bytes in the module as a new input, with a name unless name is null.
void put_input(const std::uint8_t* bytes, std::size_t size, const char* name) {
    unsigned char* at = web_input(size);
    if (at == nullptr) fail("web_input found no room for a small file");
    if (size != 0) std::memcpy(at, bytes, size);
    file_bytes.assign(bytes, bytes + size);
    file_name = name != nullptr ? name : "";
    full_listing_made = false;
    if (name != nullptr) {
        char* name_at = web_name(std::strlen(name));
        if (name_at == nullptr) fail("web_name found no room for a name");
        std::memcpy(name_at, name, std::strlen(name));
    }
    reference_made = false;
}

// Makes the core's listing that the page's listings made again repeat: the last full listing's, or
// before the input's first, one with the names file and name in use.
void make_listing_again_reference() {
    if (full_listing_made) {
        make_reference(full_names_bytes, full_name);
    } else {
        make_reference(names_bytes, file_name);
    }
}

// Lists again from `point` with `watch`, stopped after stop_after hand-overs (0: never); returns
// whether it ran to the end. What was handed over must equal that part of the listing it repeats.
bool list_again_and_check(std::int32_t point, std::int32_t watch, std::uint32_t stop_after) {
    start_hearing(stop_after);
    bool ended = true;
    try {
        web_list_again(point, watch);
    } catch (const Stop&) {
        ended = false;
    }
    hand_overs_left = 0;
    make_listing_again_reference();
    auto offset = static_cast<std::uint64_t>(web_resume_point_offset(point));
    if (!handed.empty() && handed_from != offset) fail("a listing made again starts elsewhere than its resume point");
    if (offset > reference.size() || reference.compare(offset, handed.size(), handed) != 0) {
        fail("a listing made again differs from that part of the whole");
    }
    if (ended && offset + handed.size() != reference.size()) fail("a listing made again to its end is not as long as the whole");
    return ended;
}

// The "measure:beat:tick" at the start of the event line at offset of the reference.
std::string line_position(std::uint64_t offset) {
    std::size_t at = offset;
    while (at < reference.size() && reference[at] == ' ') ++at;
    while (at < reference.size() && reference[at] >= '0' && reference[at] <= '9') ++at;
    at += 2;  // "T:" or "F:"
    std::size_t end = reference.find('\t', at);
    if (at > reference.size() || end == std::string::npos) fail("an event line told where the listing has no line prefix");
    return reference.substr(at, end - at);
}

// The velocity of the note-on line at offset, or -1 when it is no note-on line.
std::int64_t note_on_velocity(std::uint64_t offset) {
    std::size_t tab = reference.find('\t', offset);
    std::size_t end = reference.find('\n', offset);
    if (tab == std::string::npos || (end != std::string::npos && tab > end)) return -1;
    if (reference.compare(tab, 7, "\t o: c:") != 0) return -1;
    std::size_t dots = reference.find("...", tab);
    if (dots == std::string::npos || (end != std::string::npos && dots > end)) return -1;
    std::int64_t velocity = 0;
    for (std::size_t i = dots + 3; i < reference.size() && reference[i] >= '0' && reference[i] <= '9'; ++i) {
        velocity = velocity * 10 + (reference[i] - '0');
    }
    return velocity;
}

// Checks that web_gathered tells of the gathered lists in the order the page reads them, and that the
// layouts the module reports (web_layouts) give that order and count. (Natively an address is wider
// than the 32 bits the module's are told in: the lists are read here from the roll's own variables,
// and only the low 32 bits of their addresses compared.)
void check_gathered_lists() {
    const std::uint32_t* told = web_gathered();
    std::string layouts = web_layouts();
    std::size_t at = 0;
    auto check = [&told, &at, &layouts](const char* name, const auto& list) {
        if (told[at] != static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(list.data())) || told[at + 1] != list.size()) {
            fail("web_gathered tells of a list other than the roll's");
        }
        if (layouts.find("\ngathered." + std::string(name) + "=" + std::to_string(at / 2) + "\n") == std::string::npos) {
            fail("web_layouts gives a gathered list another place than web_gathered");
        }
        at += 2;
    };
    check("note_starts", note_starts);
    check("note_ends", note_ends);
    check("note_keys", note_keys);
    check("track_numbers", track_numbers);
    check("track_first_notes", track_first_notes);
    check("reckoning_tracks", reckoning_tracks);
    check("reckoning_totals", reckoning_totals);
    check("reckoning_signatures", reckoning_signatures);
    check("track_first_blocks", track_first_blocks);
    check("block_ends", block_ends);
    check("track_in_order", track_in_order);
    check("long_notes", long_notes);
    check("reckoning_totals_before", reckoning_totals_before);
    if (layouts.rfind("gathered.count=" + std::to_string(at / 2) + "\n", 0) != 0) fail("web_layouts counts other gathered lists");
}

// The notes paired again from the notes told, as the roll pairs them: a note on with a velocity other
// than 0 starts a note; any other note on or off of its channel and note ends all that sound; a new
// track, or the end, ends the rest at the last line of the track.
struct PairedNote {
    std::size_t on_line;
    std::size_t end_line;
    std::int32_t note;
    std::uint32_t channel;
    std::int32_t velocity;
};
std::vector<PairedNote> pair_notes() {
    std::vector<PairedNote> notes;
    std::vector<std::vector<std::size_t>> sounding(16 * 257);
    std::vector<std::size_t> slots_used;
    std::size_t next_note = 0;
    auto end_track = [&](std::size_t last_line) {
        for (std::size_t slot : slots_used) {
            for (std::size_t n : sounding[slot]) notes[n].end_line = last_line;
            sounding[slot].clear();
        }
        slots_used.clear();
    };
    for (std::size_t line = 0; line < told_lines.size(); ++line) {
        if (line > 0 && told_lines[line].track != told_lines[line - 1].track) end_track(line - 1);
        for (; next_note < told_notes.size() && told_notes[next_note].line == line; ++next_note) {
            const ToldNote& n = told_notes[next_note];
            std::uint32_t channel = static_cast<std::uint32_t>(n.status) & 0x0F;
            std::size_t slot = channel * 257 + static_cast<std::size_t>(n.note + 1);
            if ((n.status & 0xF0) == 0x90 && n.velocity != 0) {
                if (sounding[slot].empty()) slots_used.push_back(slot);
                sounding[slot].push_back(notes.size());
                notes.push_back({line, line, n.note, channel, n.velocity});
            } else {
                for (std::size_t k : sounding[slot]) notes[k].end_line = line;
                sounding[slot].clear();
            }
        }
    }
    if (!told_lines.empty()) end_track(told_lines.size() - 1);
    return notes;
}

// The text of the event line at offset of the reference, from the tab after its prefix to its end.
std::string line_event(std::uint64_t offset) {
    std::size_t tab = reference.find('\t', offset);
    std::size_t end = reference.find('\n', offset);
    if (tab == std::string::npos || (end != std::string::npos && tab > end)) fail("an event line without its tab");
    return reference.substr(tab + 1, end == std::string::npos ? std::string::npos : end - tab - 1);
}

// A byte as the listing writes it in hex: "%3xH ".
std::string hex_byte(std::uint32_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "%3xH ", b);
    return text;
}

// How the listing writes a channel event other than a note, of the given status and data bytes, from
// its label on: what an event line of the compact copy must read.
std::string event_text(std::uint32_t status, std::uint32_t first, std::uint32_t second) {
    std::string channel = std::to_string((status & 0x0F) + 1) + " ";
    switch (status & 0xF0) {
        case 0xA0: return " poly key press: c:" + channel + hex_byte(first) + hex_byte(second);
        case 0xB0: return " cc: c:" + channel + controller_name(static_cast<std::int32_t>(first)) + " val " + std::to_string(second);
        case 0xC0: return " pc: c:" + channel + hex_byte(first) + "/" + program_name(static_cast<std::int32_t>(first)) + "/";
        case 0xD0: return " channel press: c:" + channel + hex_byte(first);
        case 0xE0: return " pitch bend: c:" + channel + hex_byte(first) + hex_byte(second);
        default: fail("a channel event of the compact copy has no channel status");
    }
}

// The kind of data event the event line at offset of the reference lists (0xF0 or 0xF7 for system
// exclusive, the meta type for a text), and where its bytes start in the reference; kind 0 for a line
// of no data event.
std::pair<std::uint32_t, std::size_t> data_line(std::uint64_t offset) {
    std::size_t tab = reference.find('\t', offset);
    if (tab == std::string::npos) fail("an event line without its tab");
    for (std::uint32_t kind : {0xF0u, 0xF7u}) {
        std::string label = kind == 0xF0 ? "\t exclusive:" : "\t exclusive2:";
        if (reference.compare(tab, label.size(), label) == 0) return {kind, tab + label.size()};
    }
    const char* labels[16] = {nullptr, "text", "copyright ", "sequence name ", nullptr, nullptr, "marker "};
    for (std::uint32_t type = 1; type <= 15; ++type) {
        char other[16];
        std::snprintf(other, sizeof other, "type %x ", type);
        std::string label = std::string("\t .:") + (labels[type] != nullptr ? labels[type] : other) + "/";
        if (reference.compare(tab, label.size(), label) == 0) return {type, tab + label.size()};
    }
    return {0, 0};
}

// Checks the copy's data events (d, of `size` words, its lists from `at` on) against the listing: the
// system exclusive and text lines told, in order, each kept with its track, total, kind and the bytes
// its line shows, or counted as dropped.
void check_data_events(const std::uint32_t* d, std::size_t size, const std::uint32_t* at) {
    std::uint32_t count = d[play_head_data_events];
    std::uint32_t words = d[play_head_data_event_byte_words];
    if (static_cast<std::size_t>(at - d) + 5 * std::size_t{count} + words != size) fail("the copy's size is not that of its lists");
    const std::uint32_t* ticks = at;
    const std::uint32_t* tracks = ticks + count;
    const std::uint32_t* kinds = tracks + count;
    const std::uint32_t* offsets = kinds + count;
    const std::uint32_t* lengths = offsets + count;
    const std::uint32_t* area = lengths + count;
    auto byte_at = [area](std::size_t i) { return (area[i / 4] >> (8 * (i % 4))) & 0xFFu; };
    std::uint32_t lines = 0;
    std::uint32_t k = 0;
    for (const ToldLine& line : told_lines) {
        auto [kind, body] = data_line(line.offset);
        if (kind == 0) continue;
        ++lines;
        if (k == count) continue;
        std::uint32_t t = tracks[k];
        if (t >= track_numbers.size()) fail("a data event of a track the roll does not have");
        if (track_numbers[t] != line.track || ticks[k] != line.total || kinds[k] != kind) continue;  // a dropped one
        if (std::size_t{offsets[k]} + lengths[k] > std::size_t{words} * 4) fail("a data event's bytes outside the byte area");
        std::string shown;
        for (std::uint32_t i = 0; i < lengths[k]; ++i) {
            std::uint32_t b = byte_at(std::size_t{offsets[k]} + i);
            shown += kind >= 0xF0 ? hex_byte(b) : std::string(1, static_cast<char>(b));
        }
        if (kind < 0xF0) shown += "/";
        if (reference.compare(body, shown.size(), shown) != 0) fail("a data event's bytes are not those its line shows");
        ++k;
    }
    if (k != count) fail("a data event of the copy is no system exclusive or text line in order");
    if (lines != count + d[play_head_data_events_dropped]) fail("the data events kept and dropped are not the listing's");
}

// Checks the compact copy of what is played (web_play_data) against the listing, its lines told and
// the notes paired again from them, then lets it go as the page does.
void check_play_data(const std::vector<PairedNote>& paired) {
    const std::uint32_t* d = web_play_data();
    std::size_t size = web_play_data_words();
    if (size < play_head_words + 2) fail("the compact copy has no head");
    std::uint32_t tracks = d[play_head_tracks];
    std::uint32_t events = d[play_head_events];
    std::uint32_t longs = d[play_head_long_events];
    std::uint32_t controls = d[play_head_controls];
    std::uint32_t tempos = d[play_head_tempos];
    if (d[play_head_format] != static_cast<std::uint32_t>(midi_format) || d[play_head_division] != static_cast<std::uint32_t>(division)) {
        fail("the copy's format or division is not the header's");
    }
    if (tracks != track_numbers.size()) fail("the copy's tracks are not the roll's");
    std::size_t data_at =
        play_head_words + 5 * std::size_t{tracks} + 2 + 2 * std::size_t{events} + 2 * std::size_t{longs} + 2 * std::size_t{controls} + 3 * std::size_t{tempos};
    if (data_at > size) fail("the copy's size is not that of its lists");
    check_data_events(d, size, d + data_at);
    const std::uint32_t* first_events = d + play_head_words;
    const std::uint32_t* numbers = first_events + tracks + 1;
    const std::uint32_t* last_ticks = numbers + tracks;
    const std::uint32_t* channels = last_ticks + tracks;
    const std::uint32_t* first_controls = channels + tracks;
    const std::uint32_t* ticks = first_controls + tracks + 1;
    const std::uint32_t* bytes = ticks + events;
    const std::uint32_t* long_indexes = bytes + events;
    const std::uint32_t* long_durations = long_indexes + longs;
    const std::uint32_t* control_ticks = long_durations + longs;
    const std::uint32_t* control_bytes = control_ticks + controls;
    const std::uint32_t* tempo_ticks_at = control_bytes + controls;
    if (first_events[0] != 0 || first_events[tracks] != events) fail("the copy's tracks do not cover its events");
    if (first_controls[0] != 0 || first_controls[tracks] != controls) fail("the copy's tracks do not cover its controls");
    // the roll's lines of each track, by index among the roll's tracks; the note told on each line,
    // and the roll's note started there
    std::vector<std::vector<std::size_t>> track_lines(tracks);
    for (std::size_t line = 0; line < told_lines.size(); ++line) {
        auto t = static_cast<std::size_t>(std::find(track_numbers.begin(), track_numbers.end(), told_lines[line].track) - track_numbers.begin());
        if (t >= tracks) fail("an event line of a track the roll does not have");
        track_lines[t].push_back(line);
    }
    std::vector<std::size_t> note_of_line(told_lines.size(), told_notes.size());
    for (std::size_t k = 0; k < told_notes.size(); ++k) note_of_line[told_notes[k].line] = k;
    std::vector<std::size_t> roll_note_of_line(told_lines.size(), note_starts.size());
    for (std::size_t i = 0; i < std::min(paired.size(), note_starts.size()); ++i) roll_note_of_line[paired[i].on_line] = i;
    auto played_note = [](const ToldNote& n) { return n.note >= 0 && n.note <= 127 && n.velocity >= 0 && n.velocity <= 127; };
    std::size_t long_at = 0;
    for (std::uint32_t t = 0; t < tracks; ++t) {
        if (numbers[t] != track_numbers[t]) fail("the copy's track numbers are not the roll's");
        if (first_events[t + 1] < first_events[t]) fail("the copy's tracks out of order");
        const auto& lines = track_lines[t];
        // nothing is played past a wrap of the track's total
        std::size_t wrap = lines.size();
        for (std::size_t j = 1; j < lines.size() && wrap == lines.size(); ++j) {
            if (told_lines[lines[j]].total < told_lines[lines[j - 1]].total) wrap = j;
        }
        std::uint64_t last = 0;
        std::uint32_t used = 0;
        std::uint32_t control = first_controls[t];
        // the events: each an event line of the track at its total, in order; a note on or off the
        // note told on it, with its bytes, every one an output takes (up to a wrap) and a note on's
        // duration that of the roll's note; any other its line reading as its bytes
        std::size_t line_at = 0;
        for (std::uint32_t e = first_events[t]; e < first_events[t + 1]; ++e) {
            if (e > first_events[t] && ticks[e] < ticks[e - 1]) fail("the copy's events of a track out of order");
            std::uint32_t status = bytes[e] & 0xFF;
            std::uint32_t first = bytes[e] >> 8 & 0x7F;
            std::uint32_t second = bytes[e] >> 15 & 0x7F;
            std::uint32_t duration = bytes[e] >> play_event_duration_shift;
            used |= 1u << (status & 0x0F);
            if ((status & 0xE0) != 0x80 &&
                (control == first_controls[t + 1] || control_ticks[control] != ticks[e] || control_bytes[control++] != bytes[e])) {
                fail("an event other than a note is not the next of its track's controls");
            }
            if ((status & 0xE0) == 0x80) {
                // the next note an output takes on the track's lines
                while (line_at < lines.size() &&
                       (note_of_line[lines[line_at]] == told_notes.size() || !played_note(told_notes[note_of_line[lines[line_at]]]))) {
                    ++line_at;
                }
                if (line_at == lines.size()) fail("a note event of the copy is no note line of its track");
                std::size_t line = lines[line_at];
                const ToldNote& n = told_notes[note_of_line[line]];
                if (static_cast<std::uint32_t>(n.status) != status || static_cast<std::uint32_t>(n.note) != first ||
                    static_cast<std::uint32_t>(n.velocity) != second || told_lines[line].total != ticks[e]) {
                    fail("a note event of the copy is not the next note its track's lines tell");
                }
                bool on = (status & 0xF0) == 0x90 && second != 0;
                std::uint32_t due = 0;
                if (on) {
                    std::size_t i = roll_note_of_line[line];
                    due = i < note_starts.size() ? note_ends[i] - note_starts[i] : unknown_duration;
                }
                if (duration == long_duration && on) {
                    if (long_at == longs || long_indexes[long_at] != e) fail("a long note on without its duration");
                    duration = long_durations[long_at++];
                }
                if (duration != due) fail("a note on's duration is not that of the roll's note");
            } else {
                std::string wanted = event_text(status, first, second);
                while (line_at < lines.size() &&
                       !(told_lines[lines[line_at]].total == ticks[e] && line_event(told_lines[lines[line_at]].offset) == wanted)) {
                    ++line_at;
                }
                if (line_at == lines.size()) fail("an event of the copy is no event line of its track");
                if (duration != 0) fail("an event other than a note on has a duration");
            }
            last = std::max<std::uint64_t>(last, ticks[e]);
            ++line_at;
        }
        if (control != first_controls[t + 1]) fail("a control of the copy is a note, or of another track");
        if (channels[t] != used) fail("a track's channels are not those of its events");
        for (std::size_t j = line_at; j < wrap; ++j) {
            std::size_t k = note_of_line[lines[j]];
            if (k != told_notes.size() && played_note(told_notes[k])) fail("a note an output takes is not in the copy");
        }
        // the track's last tick: also the end of each of its roll notes an output takes (to a wrap)
        std::size_t roll_end = t + 1 < tracks ? track_first_notes[t + 1] : note_starts.size();
        for (std::size_t i = track_first_notes[t]; i < roll_end; ++i) {
            if (i > track_first_notes[t] && note_starts[i] < note_starts[i - 1]) break;
            const PairedNote& p = paired[i];
            if (p.note < 0 || p.note > 127 || p.velocity < 1 || p.velocity > 127) continue;
            last = std::max<std::uint64_t>(last, std::min<std::uint64_t>(std::uint64_t{note_starts[i]} + (note_ends[i] - note_starts[i]), 0xFFFFFFFF));
        }
        if (last_ticks[t] != last) fail("a track's last tick is not that of its notes and events");
    }
    if (long_at != longs) fail("the copy holds a long duration of no note on");
    // the tempos: each a tempo line of its track at its total, in listing order
    std::size_t line_at = 0;
    for (std::uint32_t k = 0; k < tempos; ++k) {
        std::uint32_t tick = tempo_ticks_at[k];
        std::uint32_t value = tempo_ticks_at[tempos + k];
        std::uint32_t t = tempo_ticks_at[2 * tempos + k];
        if (t >= tracks) fail("a tempo of a track the roll does not have");
        std::string wanted = ".:tempo " + std::to_string(value);
        while (line_at < told_lines.size() && !(told_lines[line_at].track == track_numbers[t] && told_lines[line_at].total == tick &&
                                                 line_event(told_lines[line_at].offset).substr(1) == wanted)) {
            ++line_at;
        }
        if (line_at == told_lines.size()) fail("a tempo of the copy is no tempo line");
        ++line_at;
    }
    web_play_data_release();
    // the copy is made once: asked again, it holds no events, and is whole
    const std::uint32_t* again = web_play_data();
    if (web_play_data_words() < play_head_words + 2 || again[play_head_events] != 0) fail("the copy was made twice");
    web_play_data_release();
}

// Lists the file in full through web_list and checks the listing, the resume points and the roll.
void list_and_check() {
    start_hearing(0);
    double size = web_list();
    full_listing_made = true;
    full_names_bytes = names_bytes;
    full_name = file_name;
    make_reference(names_bytes, file_name);
    if (handed != reference) fail("the page's listing differs from the core's");
    if (size != static_cast<double>(reference.size())) fail("web_list told another size than it handed over");
    if (web_roll_cut_short() != 0) fail("a small file's roll was cut short");

    // the event lines and notes, from the listing made again from its start
    if (!list_again_and_check(-1, 2, 0)) fail("a listing made again stopped by itself");
    std::vector<std::uint64_t> unwrapped(told_lines.size());
    std::size_t on_lines = 0;
    for (std::size_t i = 0; i < told_lines.size(); ++i) {
        const ToldLine& line = told_lines[i];
        if (line.offset >= reference.size() || (line.offset > 0 && reference[line.offset - 1] != '\n')) {
            fail("an event line told where no line of the listing starts");
        }
        line_position(line.offset);
        bool same_track = i > 0 && told_lines[i - 1].track == line.track;
        unwrapped[i] = same_track ? unwrapped[i - 1] + (line.total - told_lines[i - 1].total) : line.total;
        if (note_on_velocity(line.offset) > 0) ++on_lines;
    }
    std::vector<PairedNote> paired = pair_notes();
    check_gathered_lists();
    if (note_starts.size() != on_lines || paired.size() != on_lines || note_ends.size() != on_lines || note_keys.size() != on_lines) {
        fail("the roll does not hold one note for each note-on line with a velocity");
    }
    for (std::size_t i = 0; i < paired.size(); ++i) {
        const PairedNote& p = paired[i];
        if (unwrapped[p.on_line] > unwrapped[p.end_line] || p.on_line > p.end_line) fail("a note starts after its end");
        if (note_starts[i] != told_lines[p.on_line].total || note_ends[i] != told_lines[p.end_line].total) {
            fail("a note's start or end is not the total of its line");
        }
        if ((note_keys[i] & 0x1FFu) != static_cast<std::uint32_t>(p.note + 1) || ((note_keys[i] >> 9) & 0x0Fu) != p.channel) {
            fail("a note's key or channel is not its line's");
        }
        // its positions, as its lines show them
        for (int at_end = 0; at_end < 2; ++at_end) {
            const std::uint32_t* fields = web_note_position(static_cast<std::uint32_t>(i), at_end);
            if (fields == nullptr) fail("a note of the roll has no position");
            std::string shown = std::to_string(fields[0]) + ":" + std::to_string(fields[1]) + ":" + std::to_string(fields[2]);
            if (shown != line_position(told_lines[at_end != 0 ? p.end_line : p.on_line].offset)) {
                fail("a note's position differs from the one its line shows");
            }
        }
    }
    // tracks and reckonings in range and in order
    std::size_t tracks = track_numbers.size();
    if (track_first_notes.size() != tracks || track_first_blocks.size() != tracks || track_in_order.size() != tracks) {
        fail("the lists of tracks differ in length");
    }
    for (std::size_t t = 0; t < tracks; ++t) {
        if (track_first_notes[t] > note_starts.size() || (t > 0 && track_first_notes[t] < track_first_notes[t - 1])) {
            fail("a track's first note is out of range");
        }
        if (track_first_blocks[t] > block_ends.size() || (t > 0 && track_numbers[t] <= track_numbers[t - 1])) fail("tracks out of order");
    }
    std::size_t reckonings = reckoning_tracks.size();
    if (reckoning_totals.size() != reckonings || reckoning_signatures.size() != 3 * reckonings ||
        reckoning_first_notes.size() != reckonings || reckoning_totals_before.size() != reckonings) {
        fail("the lists of reckonings differ in length");
    }
    for (std::size_t r = 0; r < reckonings; ++r) {
        if (reckoning_tracks[r] >= tracks || (r > 0 && reckoning_tracks[r] < reckoning_tracks[r - 1])) fail("a reckoning's track is out of range");
    }
    for (std::uint32_t note : long_notes) {
        if (note >= note_starts.size()) fail("a long note out of range");
    }
    check_play_data(paired);

    // listings made again from resume points (at most eight, spread over the listing)
    std::int32_t last = web_resume_point_before(1e300);
    std::int32_t step = std::max<std::int32_t>(1, (last + 1) / 8);
    for (std::int32_t point = 0; point <= last; point += step) {
        if (!list_again_and_check(point, static_cast<std::int32_t>(point % 3), 0)) fail("a listing made again stopped by itself");
    }
}

// Reads a 32-bit number from four bytes.
std::uint32_t word(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// Makes one call of the sequence, chosen by the four bytes at op.
void call(const std::uint8_t* op, const std::vector<std::uint8_t>& file) {
    std::uint8_t a = op[1];
    std::uint8_t b = op[2];
    std::uint8_t c = op[3];
    switch (op[0] % 10) {
        case 0: {  // a new input: the first bytes of the file, named or not
            std::size_t size = (std::size_t{a} << 8 | b) % (file.size() + 1);
            const char* names[] = {nullptr, "", "b.mid", "a name of some length.mid"};
            put_input(file.data(), size, names[c % 4]);
            if (!note_starts.empty() || !track_numbers.empty() || web_resume_point_before(1e300) != -1) {
                fail("a new input kept what was gathered from the last");
            }
            break;
        }
        case 1:
            list_and_check();
            break;
        case 2: {  // listing again from any number, stopped after any number of hand-overs
            std::int32_t point = (c & 0x80) != 0 ? static_cast<std::int32_t>(word(op)) : static_cast<std::int8_t>(a);
            list_again_and_check(point, static_cast<std::int32_t>(b % 5) - 1, c & 0x7F);
            break;
        }
        case 3: {  // searching for up to three letters
            unsigned char text[3] = {static_cast<unsigned char>('a' + a % 26), static_cast<unsigned char>(b), static_cast<unsigned char>('A' + c % 26)};
            std::size_t length = c % 4;
            start_hearing(0);
            double count = web_search(text, length);
            if (length == 0) {
                if (count != 0) fail("an empty search found something");
                break;
            }
            make_listing_again_reference();
            if (handed != reference) fail("a search listed otherwise than the core");
            auto fold = [](unsigned char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<unsigned char>(ch + 32) : ch; };
            std::vector<double> due;
            for (std::size_t at = 0; at + length <= reference.size(); ++at) {
                std::size_t k = 0;
                while (k < length && fold(static_cast<unsigned char>(reference[at + k])) == fold(text[k])) ++k;
                if (k == length) due.push_back(static_cast<double>(at));
            }
            if (count != static_cast<double>(due.size()) || web_found_kept() != due.size() ||
                !std::equal(due.begin(), due.end(), web_found_offsets())) {
                fail("a search found other matches than there are");
            }
            break;
        }
        case 4: {  // a position of any total and time signature
            std::uint32_t power = b % 34;  // 32 and 33: a denominator that overflowed to 0
            const std::uint32_t* fields = web_position(word(op), a % 9, power < 32 ? std::uint32_t{1} << power : 0, c & 1);
            if (fields == nullptr) fail("web_position gave no fields");
            break;
        }
        case 5:  // a names file of the file's first bytes, or the built-in one
            if ((c & 1) != 0) {
                web_builtin_names();
                names_bytes.assign(builtin_names_file, builtin_names_file + builtin_names_file_size);
            } else {
                std::size_t size = std::min<std::size_t>(a, file.size());
                unsigned char* at = web_names_file(size);
                if (at == nullptr) fail("web_names_file found no room");
                if (size != 0) std::memcpy(at, file.data(), size);
                names_bytes.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
            }
            break;
        case 6: {  // resume point lookups with any argument
            std::int32_t last = web_resume_point_before(1e300);
            double offsets[] = {-1.0, 0.0, static_cast<double>(word(op)), 1e300, -1e300, std::numeric_limits<double>::quiet_NaN()};
            std::int32_t before = web_resume_point_before(offsets[a % 6]);
            if (before < -1 || before > last) fail("web_resume_point_before is out of range");
            std::int32_t for_note = web_resume_point_for_note(word(op), std::uint32_t{b} << 8 | c);
            if (for_note < -1 || for_note > last) fail("web_resume_point_for_note is out of range");
            auto any = static_cast<std::int32_t>(word(op));
            if (web_resume_point_offset(any) < 0 || (any > last && web_resume_point_offset(any) != 0) ||
                (any > last && web_notes_before(any) != 0)) {
                fail("a resume point out of range was taken as one");
            }
            std::int32_t for_tick = web_resume_point_for_tick(std::uint32_t{b} << 8 | c, word(op));
            if (for_tick < -1 || for_tick > last) fail("web_resume_point_for_tick is out of range");
            break;
        }
        case 7: {  // the roll's lookups with any argument
            std::uint32_t note = (c & 1) != 0 ? word(op) : b;
            const std::uint32_t* fields = web_note_position(note, a & 1);
            if ((fields == nullptr) != (note >= note_starts.size())) fail("web_note_position for a note out of range, or none for one in range");
            const std::uint16_t* row = web_overview_row(static_cast<std::int32_t>(word(op)));
            if (row != nullptr && word(op) > 256) fail("an overview row out of range");
            if (web_note_name(static_cast<std::int32_t>(word(op))) == nullptr) fail("no note name");
            web_roll_note_range(a & 1);
            web_roll_last_end();
            web_overview_shift();
            break;
        }
        case 8:  // what the header said, and whether the input looks like MIDI
            web_format();
            web_division();
            web_starts_like_midi();
            break;
        default: {  // a name, given again after the listing
            const char* name = (a & 1) != 0 ? "renamed.mid" : "";
            char* at = web_name(std::strlen(name));
            if (at == nullptr) fail("web_name found no room for a name");
            std::memcpy(at, name, std::strlen(name));
            file_name = name;
            break;
        }
    }
}
}  // namespace

// Lists one input through the page's entry points and makes the calls it chooses; libFuzzer calls it
// once per input.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t calls = size > 0 ? data[size - 1] % 16 : 0;
    std::size_t script = std::min(size > 0 ? size - 1 : 0, 4 * calls);
    calls = script / 4;
    std::size_t file_size = size - (size > 0 ? 1 : 0) - script;
    std::vector<std::uint8_t> file(data, data + file_size);
    lower_track_count(file.data(), file.size());

    web_builtin_names();
    names_bytes.assign(builtin_names_file, builtin_names_file + builtin_names_file_size);
    put_input(file.data(), file.size(), "fuzz.mid");
    list_and_check();
    for (std::size_t i = 0; i < calls; ++i) call(data + file_size + 4 * i, file);
    return 0;
}
