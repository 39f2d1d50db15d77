// The listing in a browser. The page's worker puts a MIDI file's bytes (and a names file's, when the
// user gives one) into the module's memory and asks for the listing, which is written just as the
// console program writes default.txt and handed to the page in pieces. The first listing of a file also
// gathers the piano roll's notes and keeps resume points; any part of the listing is then made again
// on demand by listing on from the resume point before it, so the page never holds a whole listing.
// Each function here is called from JavaScript.
#include <emscripten.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "control/driver.h"
#include "control/names_file.h"
#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "listing/name_tables.h"
#include "listing/position.h"
#include "listing_resume.h"
#include "module_memory.h"
#include "play_events.h"
#include "roll_notes.h"
#include "stream/byte_stream.h"

extern const unsigned char builtin_names_file[];   // the General MIDI names file shipped with the program (made by the build)
extern const std::size_t builtin_names_file_size;  // its size in bytes

// Hands a piece of the listing that starts at dump offset `offset` to the page, with the share of
// the input listed so far (0 to 1). The page may end the listing there by throwing. (JavaScript sees
// a 32-bit argument as signed: addresses and counts are made unsigned on their way.)
EM_JS(void, take_listing_piece, (const char* bytes, std::size_t n, double offset, double listed), {
    Module.takeListingPiece(bytes >>> 0, n >>> 0, offset, listed);
});
// Tells the page that an event line of the given track starts at dump offset `offset`, at the running total.
EM_JS(void, take_event_line, (double offset, std::uint32_t total, std::uint32_t track), {
    Module.takeEventLine(offset, total >>> 0, track >>> 0);
});
// Tells the page of a note on or off on the event line it was last told of.
EM_JS(void, take_note, (std::int32_t status, std::int32_t note, std::int32_t velocity), {
    Module.takeNote(status, note, velocity);
});

namespace {
unsigned char* input_start = nullptr;         // the MIDI file being listed (from allocate_bytes)
std::size_t input_size = 0;                   // its size in bytes
std::vector<unsigned char> names_file_bytes;  // the names file in use: the user's or the built-in one
std::vector<char> listed_file_name;           // the file's name as the page gives it, terminated
// What the last full listing of the input listed with, so that every listing made again, and every
// search, repeats it even after the page gave other names or another name for the next one:
bool full_listing_made = false;                                // whether the input has been listed in full
char full_listing_program_names[128][program_name_size] = {};  // its program names
std::vector<char> full_listing_name;                           // its file name, terminated (empty: none given)
std::vector<double> found_offsets;            // dump offsets of the matches of the last search (the first found_offsets_kept)
std::uint64_t found_count = 0;                // matches of the last search, all of them
std::vector<unsigned char> search_text;       // what the last search looked for, ASCII letters in lower case
std::vector<unsigned char> search_carry;      // the last bytes before the piece in hand (and its first), folded, for matches across pieces
std::size_t search_anchor = 0;                // the index in search_text of the byte a search scans for: one seldom in listings
std::uint64_t search_anchor_words[2] = {};    // that byte in lower and in upper case, in each byte of a word
std::uint32_t position_fields[3] = {};        // measure, beat and tick of the last web_position or web_note_position
std::uint32_t gathered_lists[26] = {};        // address and count of each list web_gathered tells of

constexpr std::size_t roll_note_limit = 100000000;  // notes the roll keeps: 1 GB of the module's memory
constexpr std::uint64_t resume_spacing = 1 << 16;   // dump bytes between resume points, at least
constexpr std::size_t found_offsets_kept = 1000000;  // matches whose place a search keeps

// The share of the input listed so far.
double share_listed() {
    if (input_size == 0) return 1.0;
    return static_cast<double>(input_next - input_start) / static_cast<double>(input_size);
}

// Passes a piece of the dump on to the page.
void hand_over_piece(const char* bytes, std::size_t n) {
    take_listing_piece(bytes, n, static_cast<double>(dump_handed_over_total), share_listed());
}

// Tells the page of an event line.
void tell_event_line(std::uint64_t offset, std::uint32_t total) { take_event_line(static_cast<double>(offset), total, current_track); }

// Tells the page of a note.
void tell_note(std::int32_t status, std::int32_t note, std::int32_t velocity) { take_note(status, note, velocity); }

// A byte with ASCII capitals in lower case: searches ignore the case of Latin letters.
unsigned char folded(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

// Counts a match at dump offset `at`, keeping its offset while there is room.
void found_at(std::uint64_t at) {
    ++found_count;
    if (found_offsets.size() < found_offsets_kept && make_room(found_offsets)) found_offsets.push_back(static_cast<double>(at));
}

// The first byte from `from` on (before `end`) that is the search's anchor byte in either case; end
// when there is none. Eight bytes are looked at together: a byte equal to the anchor is a zero byte
// of the word xor the anchor repeated, and the lowest zero byte of a little-endian word is the first.
const unsigned char* next_anchor(const unsigned char* from, const unsigned char* end) {
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t highs = 0x8080808080808080;
    while (end - from >= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, from, 8);
        std::uint64_t a = word ^ search_anchor_words[0];
        std::uint64_t b = word ^ search_anchor_words[1];
        std::uint64_t zero = ((a - ones) & ~a & highs) | ((b - ones) & ~b & highs);
        if (zero != 0) return from + std::countr_zero(zero) / 8;
        from += 8;
    }
    auto lower = static_cast<unsigned char>(search_anchor_words[0]);
    auto upper = static_cast<unsigned char>(search_anchor_words[1]);
    while (from < end && *from != lower && *from != upper) ++from;
    return from;
}

// Counts the matches of search_text in a piece of the dump, keeping their offsets. The piece is
// searched where it lies; only the few bytes around its start, where a match may begin in the piece
// before, are folded into search_carry.
void search_piece(const char* bytes, std::size_t n) {
    const auto* piece = reinterpret_cast<const unsigned char*>(bytes);
    std::size_t length = search_text.size();
    std::uint64_t offset = dump_handed_over_total;
    // matches that begin in the last bytes of the piece before and end in this one
    std::size_t carried = search_carry.size();
    for (std::size_t i = 0; i < std::min(n, length - 1); ++i) search_carry.push_back(folded(piece[i]));
    for (std::size_t s = 0; s < carried && s + length <= search_carry.size(); ++s) {
        if (std::equal(search_text.begin(), search_text.end(), search_carry.begin() + static_cast<std::ptrdiff_t>(s))) {
            found_at(offset - carried + s);
        }
    }
    // matches wholly within this piece: the bytes looked at move on by what their last one allows
    // (most bytes of a listing are in no search, and move them on by the whole length), so that only
    // a share of the piece is read, and only candidates are folded whole
    // matches wholly within this piece: only where the anchor byte stands is the text compared
    if (n >= length) {
        const unsigned char* wanted = search_text.data();
        const unsigned char* anchor = piece + search_anchor;
        const unsigned char* anchor_end = piece + n - (length - 1 - search_anchor);
        while ((anchor = next_anchor(anchor, anchor_end)) < anchor_end) {
            const unsigned char* at = anchor - search_anchor;
            std::size_t i = 0;
            while (i < length && folded(at[i]) == wanted[i]) ++i;
            if (i == length) found_at(offset + static_cast<std::size_t>(at - piece));
            ++anchor;
        }
    }
    // the last length - 1 bytes so far, where a match may begin that ends in the next piece
    if (n >= length - 1) {
        search_carry.clear();
        for (std::size_t i = n - (length - 1); i < n; ++i) search_carry.push_back(folded(piece[i]));
    } else if (search_carry.size() > length - 1) {
        search_carry.erase(search_carry.begin(), search_carry.end() - static_cast<std::ptrdiff_t>(length - 1));
    }
    take_listing_piece(bytes, n, static_cast<double>(offset), share_listed());  // for the progress shown
}

// Fills the program names from the names file in use, as the console program reads initial.txt.
void load_names() {
    if (names_file_bytes.empty()) return;  // an empty file gives no names, as one with nothing in it does
    std::FILE* file = fmemopen(names_file_bytes.data(), names_file_bytes.size(), "rb");
    if (file == nullptr) return;
    read_program_names(file);
    std::fclose(file);
}

// Puts the program names and file name in place that the last full listing used, or, before the
// input's first, those in use.
void use_listing_names() {
    if (full_listing_made) {
        std::memcpy(program_name_table, full_listing_program_names, sizeof program_name_table);
        listed_name = full_listing_name.empty() ? input_name : full_listing_name.data();
    } else {
        reset_program_names();
        load_names();
        listed_name = listed_file_name.empty() ? input_name : listed_file_name.data();
    }
}

// Starts a listing of the input afresh: every state reset, the names put in place, the dump handed to hand_over.
void start_listing(void (*hand_over)(const char*, std::size_t)) {
    reset_program_state();
    use_listing_names();
    open_input_memory(input_start, input_size);
    open_dump_file(nullptr);
    dump_hand_over = hand_over;
}

// Keeps the names the full listing just started with, for the listings made again from it (without
// room for the file name, they show none).
void keep_listing_names() {
    std::memcpy(full_listing_program_names, program_name_table, sizeof program_name_table);
    release(full_listing_name);
    if (make_room(full_listing_name, listed_file_name.size())) full_listing_name = listed_file_name;
    full_listing_made = true;
}

// True when point is one of the resume points kept.
bool is_resume_point(std::int32_t point) { return point >= 0 && static_cast<std::size_t>(point) < resume_points.size(); }

// Forgets the file listed last and all that was gathered from it (its bytes, name, resume points,
// roll notes and matches), giving their memory back.
void forget_listing() {
    reset_program_state();
    std::free(input_start);
    input_start = nullptr;
    input_size = 0;
    release(listed_file_name);
    full_listing_made = false;
    release(full_listing_name);
    forget_resume_points();
    forget_roll_notes();
    release(found_offsets);
    found_count = 0;
    release(search_text);
    release(search_carry);
}

// The measure, beat and tick the listing shows for a running total reckoned with the given time
// signature (numerator, denominator, whether one was seen) and the full listing's division, in
// position_fields.
const std::uint32_t* reckon_position(std::uint32_t total, std::uint32_t numerator, std::uint32_t denominator, bool seen) {
    running_total = total;
    ts_numerator = numerator;
    ts_denominator = denominator;
    time_signature_seen = seen;
    pos_measure = 0;  // a time code keeps measure and beat at 0
    pos_beat = 0;
    beat_end_total = beat_first_total;  // nothing kept from an earlier reckoning
    compute_position();
    position_fields[0] = pos_measure;
    position_fields[1] = pos_beat;
    position_fields[2] = pos_tick;
    return position_fields;
}
}  // namespace

extern "C" {

// Forgets the file listed before, with all that was gathered from it, and makes room for a MIDI file
// of size bytes; returns where the page is to put them, or null when the memory can't hold them.
EMSCRIPTEN_KEEPALIVE unsigned char* web_input(std::size_t size) {
    forget_listing();
    input_start = static_cast<unsigned char*>(allocate_bytes(std::max<std::size_t>(size, 1)));  // the page fills it
    input_size = input_start != nullptr ? size : 0;
    return input_start;
}

// Makes room for the file's name (size bytes of UTF-8 and the terminator) and returns where it goes;
// null when the memory can't hold it.
EMSCRIPTEN_KEEPALIVE char* web_name(std::size_t size) {
    release(listed_file_name);
    if (size == SIZE_MAX || !make_room(listed_file_name, size + 1)) return nullptr;
    listed_file_name.assign(size + 1, '\0');
    return listed_file_name.data();
}

// Makes room for a names file of size bytes and returns where the page is to put them; null (and the
// built-in names in use) when the memory can't hold them.
EMSCRIPTEN_KEEPALIVE unsigned char* web_names_file(std::size_t size) {
    release(names_file_bytes);
    if (!make_room(names_file_bytes, std::max<std::size_t>(size, 1))) {
        names_file_bytes.assign(builtin_names_file, builtin_names_file + builtin_names_file_size);
        return nullptr;
    }
    names_file_bytes.assign(size, 0);
    return names_file_bytes.data();
}

// Goes back to the built-in General MIDI names.
EMSCRIPTEN_KEEPALIVE void web_builtin_names() {
    names_file_bytes.assign(builtin_names_file, builtin_names_file + builtin_names_file_size);
}

// Lists the input in full, with the names file and name in use, handing the listing over in pieces,
// gathering the roll's notes and keeping resume points; returns the listing's size in bytes.
EMSCRIPTEN_KEEPALIVE double web_list() {
    full_listing_made = false;  // the names and name in use, from now on those of every listing made again
    start_listing(hand_over_piece);
    keep_listing_names();
    start_roll_notes(input_size, roll_note_limit);
    start_play_events();
    start_resume_points(input_start, resume_spacing);
    dump_file();
    flush_dump();
    finish_play_events();
    finish_roll_notes();
    finish_resume_points();
    return static_cast<double>(dump_handed_over_total);
}

// Lists the input again as the last full listing listed it (with its names), from resume point
// `point` (or from its start when point is -1, or no point of that listing) to its end, handing the
// pieces over; with `watch` 1 the page is also told of each event line, with 2 also of each note. The
// page stops it by throwing once it has what it wants.
EMSCRIPTEN_KEEPALIVE void web_list_again(std::int32_t point, std::int32_t watch) {
    bool from_start = !is_resume_point(point);
    if (from_start) {
        start_listing(hand_over_piece);
    } else {  // the rest of the state comes back with the point
        use_listing_names();
        open_dump_file(nullptr);
        dump_hand_over = hand_over_piece;
        resume_point_watcher = nullptr;
    }
    event_line_watcher = watch >= 1 ? tell_event_line : nullptr;
    note_watcher = watch >= 2 ? tell_note : nullptr;
    note_line_watcher = nullptr;  // the page is told of lines and notes one by one
    if (from_start) {
        dump_file();
    } else {
        resume_listing(resume_points[static_cast<std::size_t>(point)], input_start, input_size);
    }
    flush_dump();
}

// The last resume point at or before dump offset `offset`; -1 when there is none (the listing's
// opening lines come before the first).
EMSCRIPTEN_KEEPALIVE std::int32_t web_resume_point_before(double offset) {
    auto after = std::upper_bound(resume_points.begin(), resume_points.end(), offset,
                                  [](double at, const ListingState& p) { return at < static_cast<double>(p.offset); });
    return static_cast<std::int32_t>(after - resume_points.begin()) - 1;
}

// The last resume point before the note on of roll note `note`, which is in the track at `track_index`.
EMSCRIPTEN_KEEPALIVE std::int32_t web_resume_point_for_note(std::uint32_t note, std::uint32_t track_index) {
    auto after = std::upper_bound(resume_points.begin(), resume_points.end(), std::make_pair(track_index, note),
                                  [](std::pair<std::uint32_t, std::uint32_t> at, const ListingState& p) {
                                      return at.first < p.track_index || (at.first == p.track_index && at.second < p.notes_before);
                                  });
    return static_cast<std::int32_t>(after - resume_points.begin()) - 1;
}

// The dump offset of resume point `point`; 0, the listing's start, for -1 or any other number that is
// not a resume point (web_list_again lists from the start for those).
EMSCRIPTEN_KEEPALIVE double web_resume_point_offset(std::int32_t point) {
    return is_resume_point(point) ? static_cast<double>(resume_points[static_cast<std::size_t>(point)].offset) : 0.0;
}

// Roll notes started before resume point `point`; 0 for one that is not a resume point.
EMSCRIPTEN_KEEPALIVE std::uint32_t web_notes_before(std::int32_t point) {
    return is_resume_point(point) ? resume_points[static_cast<std::size_t>(point)].notes_before : 0;
}

// Searches the whole listing (as the last full listing listed it) for `length` bytes at `text` (ASCII
// letters in any case), handing the pieces over for progress; returns the number of matches, whose
// offsets web_found_offsets tells of.
EMSCRIPTEN_KEEPALIVE double web_search(const unsigned char* text, std::size_t length) {
    release(search_text);
    if (!make_room(search_text, length)) length = 0;  // nothing can be looked for
    search_text.assign(text, text + length);
    for (auto& c : search_text) c = folded(c);
    search_carry.clear();
    found_offsets.clear();
    found_count = 0;
    // a byte found last moves the search on to line it up with its last place in the text but the
    // text's last; a byte not in the text, past it
    // the anchor: the text's first byte that is not among those that fill most of a listing (the
    // line heads' digits, spaces, tabs and colons, the labels "o: c:", "x: c:", the dots of
    // velocities, the note names' underscores and dashes), or its first byte when all of them are
    search_anchor = 0;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = search_text[i];
        bool common = (c >= '0' && c <= '9') || std::strchr(" \t:.cotx_-", c) != nullptr;
        if (!common) {
            search_anchor = i;
            break;
        }
    }
    if (length > 0) {
        unsigned char c = search_text[search_anchor];
        unsigned char other = c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
        search_anchor_words[0] = c * std::uint64_t(0x0101010101010101);
        search_anchor_words[1] = other * std::uint64_t(0x0101010101010101);
    }
    if (length > 0) {
        start_listing(search_piece);
        dump_file();
        flush_dump();
    }
    return static_cast<double>(found_count);
}

// True when the input starts as the listing knows a MIDI file: "MThd" after any white space.
EMSCRIPTEN_KEEPALIVE int web_starts_like_midi() {
    const unsigned char* bytes = input_start;
    std::size_t at = 0;
    while (at < input_size && (bytes[at] == ' ' || (bytes[at] >= '\t' && bytes[at] <= '\r'))) ++at;
    return input_size - at >= 4 && std::memcmp(bytes + at, "MThd", 4) == 0;
}

// The header's format field as the full listing read (and showed) it.
EMSCRIPTEN_KEEPALIVE std::uint32_t web_format() { return static_cast<std::uint32_t>(midi_format); }

// The header's division as the full listing read it (above 32768: a time code).
EMSCRIPTEN_KEEPALIVE std::uint32_t web_division() { return static_cast<std::uint32_t>(division); }

// True when the roll holds fewer notes than the file: more than it keeps, or than the memory could hold.
EMSCRIPTEN_KEEPALIVE int web_roll_cut_short() { return roll_cut_short; }

// The overview's row for note value key - 1 (its bins), or 0 when no note has that value.
EMSCRIPTEN_KEEPALIVE const std::uint16_t* web_overview_row(std::int32_t key) {
    if (key < 0 || key > 256 || overview_rows[key].empty()) return nullptr;
    return overview_rows[key].data();
}

// The ticks of an overview bin, as a power of 2.
EMSCRIPTEN_KEEPALIVE std::uint32_t web_overview_shift() { return overview_shift; }

// The latest end of any roll note.
EMSCRIPTEN_KEEPALIVE std::uint32_t web_roll_last_end() { return roll_last_end; }

// The lowest (low 1) or highest (low 0) note value of any roll note.
EMSCRIPTEN_KEEPALIVE std::int32_t web_roll_note_range(int low) { return low != 0 ? roll_lowest_note : roll_highest_note; }

// Where each gathered list is and how many entries it holds, in pairs of address and count, in the
// order the page reads them: note starts, ends and keys, track numbers and first notes, reckonings'
// tracks, totals and signatures, tracks' first blocks, blocks' latest ends, tracks in order, long notes,
// reckonings' totals before.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* web_gathered() {
    std::size_t at = 0;
    auto keep = [&at](const auto& list) {
        gathered_lists[at++] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(list.data()));
        gathered_lists[at++] = static_cast<std::uint32_t>(list.size());
    };
    keep(note_starts);
    keep(note_ends);
    keep(note_keys);
    keep(track_numbers);
    keep(track_first_notes);
    keep(reckoning_tracks);
    keep(reckoning_totals);
    keep(reckoning_signatures);
    keep(track_first_blocks);
    keep(block_ends);
    keep(track_in_order);
    keep(long_notes);
    keep(reckoning_totals_before);
    return gathered_lists;
}

// The offsets of the last search's matches (the first of them all): address, then count in web_found_count.
EMSCRIPTEN_KEEPALIVE const double* web_found_offsets() { return found_offsets.data(); }
// How many offsets web_found_offsets holds.
EMSCRIPTEN_KEEPALIVE std::uint32_t web_found_kept() { return static_cast<std::uint32_t>(found_offsets.size()); }

// The measure, beat and tick the listing shows for a running total reckoned with the given time
// signature (numerator, denominator, whether one was seen) and the full listing's division.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* web_position(std::uint32_t total, std::uint32_t numerator, std::uint32_t denominator,
                                                      int seen) {
    return reckon_position(total, numerator, denominator, seen != 0);
}

// The measure, beat and tick that the line of roll note `note`'s note on (at_end 0) or of what ended
// it (at_end 1) shows, reckoned as the listing reckoned that line; null when there is no such note.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* web_note_position(std::uint32_t note, int at_end) {
    std::uint32_t r = note_reckoning(note, at_end != 0);
    if (r == no_reckoning) return nullptr;
    const std::uint32_t* signature = &reckoning_signatures[3 * static_cast<std::size_t>(r)];
    std::uint32_t total = at_end != 0 ? note_ends[note] : note_starts[note];
    return reckon_position(total, signature[0], signature[1], signature[2] != 0);
}

// The listing's name of the pitch class of note n (empty for a missing note, -1).
EMSCRIPTEN_KEEPALIVE const char* web_note_name(std::int32_t n) { return note_name(n); }
}
