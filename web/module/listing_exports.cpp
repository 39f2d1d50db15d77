// The page's entry points for listing. The page's worker puts a MIDI file's bytes into the module's
// memory (web_input) and asks for the listing (web_list), which is written just as the console program
// writes default.txt and handed to the page in pieces. The first listing of a file also gathers the
// piano roll's notes, what is played, and resume points; any part of the listing is then made again on
// demand by listing on from the resume point before it (web_list_again), so the page never holds a
// whole listing. Each function here is called from JavaScript.
#include <emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "listed_file.h"
#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing_resume.h"
#include "module_memory.h"
#include "play_events.h"
#include "roll_notes.h"
#include "search_exports.h"
#include "stream/byte_stream.h"

// Tells the page that an event line of the given track starts at dump offset `offset`, at the running total.
EM_JS(void, take_event_line, (double offset, std::uint32_t total, std::uint32_t track), {
    Module.takeEventLine(offset, total >>> 0, track >>> 0);
});
// Tells the page of a note on or off on the event line it was last told of.
EM_JS(void, take_note, (std::int32_t status, std::int32_t note, std::int32_t velocity), {
    Module.takeNote(status, note, velocity);
});

namespace {
constexpr std::size_t roll_note_limit = 100000000;  // notes the roll keeps: 1 GB of the module's memory
constexpr std::uint64_t resume_spacing = 1 << 16;   // dump bytes between resume points, at least

// Passes a piece of the dump on to the page.
void hand_over_piece(const char* bytes, std::size_t n) { hand_piece(bytes, n, dump_handed_over_total); }

// Tells the page of an event line.
void tell_event_line(std::uint64_t offset, std::uint32_t total) { take_event_line(static_cast<double>(offset), total, current_track); }

// Tells the page of a note.
void tell_note(std::int32_t status, std::int32_t note, std::int32_t velocity) { take_note(status, note, velocity); }

// True when point is one of the resume points kept.
bool is_resume_point(std::int32_t point) { return point >= 0 && static_cast<std::size_t>(point) < resume_points.size(); }
}  // namespace

extern "C" {

// Forgets the file listed before, with all that was gathered from it (its bytes, name, resume points,
// roll notes, what was gathered for playing and matches), and makes room for a MIDI file of size
// bytes; returns where the page is to put them, or null when the memory can't hold them.
EMSCRIPTEN_KEEPALIVE unsigned char* web_input(std::size_t size) {
    forget_listed_file();
    forget_resume_points();
    forget_roll_notes();
    release_play_events();  // what the last file gathered for playing, if its copy was never asked for
    forget_search();
    input_start = static_cast<unsigned char*>(allocate_bytes(std::max<std::size_t>(size, 1)));  // the page fills it
    input_size = input_start != nullptr ? size : 0;
    return input_start;
}

// Lists the input in full, with the names file and name in use, handing the listing over in pieces,
// gathering the roll's notes and keeping resume points; returns the listing's size in bytes.
EMSCRIPTEN_KEEPALIVE double web_list() {
    full_listing_made = false;  // the names and name in use, from now on those of every listing made again
    start_listing(hand_over_piece);
    keep_listing_names();
    start_roll_notes(input_size, roll_note_limit);
    start_play_events(input_size);
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

// The measure, beat and tick (position_fields words, laid out as Position_field) the listing shows for
// a running total reckoned with the given time signature (numerator, denominator, whether one was
// seen) and the full listing's division.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* web_position(std::uint32_t total, std::uint32_t numerator, std::uint32_t denominator,
                                                      int seen) {
    return reckon_position(total, numerator, denominator, seen != 0);
}
}
