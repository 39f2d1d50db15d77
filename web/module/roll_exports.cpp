// The page's entry points for the piano roll: where the lists gathered in the full listing are, the
// overview, the range of the notes, and the position and name the listing shows for a note. Each
// function here is called from JavaScript.
#include <emscripten.h>

#include <cstdint>

#include "listed_file.h"
#include "listing/name_tables.h"
#include "roll_notes.h"

namespace {
std::uint32_t gathered_lists[2 * gathered_lists_count] = {};  // address and count of each list web_gathered tells of
}  // namespace

extern "C" {

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
// order SMFDUMP_GATHERED_LISTS gives (roll_notes.h): note starts, ends and keys, track numbers and first
// notes, reckonings' tracks, totals and signatures, tracks' first blocks, blocks' latest ends, tracks
// in order, long notes, reckonings' totals before.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* web_gathered() {
#define SMFDUMP_KEEP_GATHERED(list)                                                                                         \
    gathered_lists[2 * gathered_##list] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>((list).data())); \
    gathered_lists[2 * gathered_##list + 1] = static_cast<std::uint32_t>((list).size());
    SMFDUMP_GATHERED_LISTS(SMFDUMP_KEEP_GATHERED)
#undef SMFDUMP_KEEP_GATHERED
    return gathered_lists;
}

// The measure, beat and tick (position_fields words, laid out as Position_field) that the line of roll
// note `note`'s note on (at_end 0) or of what ended it (at_end 1) shows, reckoned as the listing
// reckoned that line; null when there is no such note.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* web_note_position(std::uint32_t note, int at_end) {
    std::uint32_t r = note_reckoning(note, at_end != 0);
    if (r == no_reckoning) return nullptr;
    const std::uint32_t* signature = &reckoning_signatures[signature_fields * static_cast<std::size_t>(r)];
    std::uint32_t total = at_end != 0 ? note_ends[note] : note_starts[note];
    return reckon_position(total, signature[signature_numerator], signature[signature_denominator], signature[signature_seen] != 0);
}

// The listing's name of the pitch class of note n (empty for a missing note, -1).
EMSCRIPTEN_KEEPALIVE const char* web_note_name(std::int32_t n) { return note_name(n); }
}
