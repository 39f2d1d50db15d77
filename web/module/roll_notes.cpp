#include "roll_notes.h"

#include <algorithm>
#include <array>

#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "module_memory.h"
#include "note_velocities.h"

std::vector<std::uint32_t> note_starts;
std::vector<std::uint32_t> note_ends;
std::vector<std::uint16_t> note_keys;
std::vector<std::uint32_t> track_numbers;
std::vector<std::uint32_t> track_first_notes;
std::vector<std::uint32_t> reckoning_tracks;
std::vector<std::uint32_t> reckoning_totals;
std::vector<std::uint32_t> reckoning_signatures;
std::vector<std::uint32_t> reckoning_first_notes;
std::vector<std::uint32_t> reckoning_totals_before;
std::vector<std::pair<std::uint32_t, std::uint32_t>> end_reckonings;
std::vector<std::uint32_t> track_first_blocks;
std::vector<std::uint32_t> block_ends;
std::vector<std::uint8_t> track_in_order;
std::uint32_t overview_shift = 0;
std::vector<std::uint16_t> overview_rows[257];
std::vector<std::uint32_t> long_notes;
bool roll_cut_short = false;
std::uint32_t roll_last_end = 0;
std::int32_t roll_lowest_note = 256;
std::int32_t roll_highest_note = -2;

namespace {
constexpr std::uint32_t key_slots = 257;             // a note byte -1 (missing) to 255, each a slot of its own
constexpr std::uint32_t slots = 16 * key_slots;      // one slot for each channel and note
constexpr std::uint32_t none_sounding = 0xFFFFFFFF;  // no note, or no entry of sounding_more
constexpr std::size_t note_bytes = 2 * sizeof(std::uint32_t) + sizeof(std::uint16_t) + 1;  // a note's start, end and key, and its velocity for playing
constexpr std::size_t beside_notes_share = 8;  // an eighth of the input kept free beside the notes (resume points take some 4 %)

// A note sounding in a slot that already had one, and the entry of the next such note of its slot.
struct MoreNote {
    std::uint32_t note;
    std::uint32_t next;
};

// The notes of the current track still sounding, by slot: the first in `sounding_first`, any others
// (a note struck again before it ended; seldom) in a chain of entries of `sounding_more`, from
// `more_first` to `more_last` in the order of their note on. Entries of ended chains are reused.
std::array<std::uint32_t, slots> sounding_first;
std::vector<MoreNote> sounding_more;
std::array<std::uint32_t, slots> more_first;
std::array<std::uint32_t, slots> more_last;
std::uint32_t more_free = none_sounding;    // the first entry of sounding_more free for reuse
std::vector<std::uint32_t> sounding_slots;  // slots that have held a note since the track began, each once
std::array<bool, slots> slot_listed;        // whether each slot is in sounding_slots
std::size_t notes_kept_at_most = 0;         // notes gathered before the roll is cut short
std::uint32_t line_total = 0;               // running total of the last event line
std::uint32_t line_track = 0;               // track of the last event line; 0 before any
std::uint32_t track_first_reckoning = 0;    // index of the current track's first reckoning
std::uint32_t track_first_note = 0;         // index of the current track's first note
std::uint32_t reckoning_first_note = 0;     // index of the first note started under the current reckoning
std::uint32_t reckoning_now[signature_fields] = {};  // the signature of the last reckoning kept, as Signature_field lays it out

// Halves the overview's bins until `end` falls within them: each bin takes the topmost of two. Each
// halving reads only the bins that can still hold a mark, so that many at once cost no more than one.
void widen_overview_to(std::uint32_t end) {
    if ((end >> overview_shift) < overview_bins) return;
    std::uint32_t halvings = 0;
    while ((end >> (overview_shift + halvings)) >= overview_bins) ++halvings;
    overview_shift += halvings;
    for (auto& row : overview_rows) {
        if (row.empty()) continue;
        std::uint16_t* bins = row.data();
        std::uint32_t marked = overview_bins;  // bins that may hold a mark
        for (std::uint32_t h = 0; h < halvings; ++h) {
            marked /= 2;
            for (std::uint32_t b = 0; b < marked; ++b) bins[b] = std::max(bins[2 * b], bins[2 * b + 1]);
        }
        std::fill(bins + marked, bins + overview_bins, 0);
    }
}

// Puts every note, now that all have their ends, into its block's latest end and, when there are
// notes enough for the page to draw from the overview, into the overview (or among the long notes),
// track by track. The listing's pass only ends notes: the bins, sized once for the latest end, and
// the blocks are filled here in one sweep over the notes.
void draw_notes() {
    auto count = static_cast<std::uint32_t>(note_starts.size());
    bool overview = count > overview_from_notes;
    if (overview) widen_overview_to(roll_last_end);  // no row holds a mark yet: this only sizes the bins
    for (std::size_t t = 0; t < track_numbers.size(); ++t) {
        std::uint32_t first_note = track_first_notes[t];
        std::uint32_t end_note = t + 1 < track_numbers.size() ? track_first_notes[t + 1] : count;
        std::uint32_t* blocks = block_ends.data() + track_first_blocks[t];
        auto mark = static_cast<std::uint16_t>(std::min<std::size_t>(t + 1, 0xFFFF));
        for (std::uint32_t note = first_note; note < end_note; ++note) {
            std::uint32_t end = note_ends[note];
            std::uint32_t& block = blocks[(note - first_note) / notes_per_block];
            block = std::max(block, end);
            if (!overview) continue;
            std::uint32_t first = note_starts[note] >> overview_shift;
            std::uint32_t last = end >> overview_shift;
            if (last < first || last - first > long_note_bins) {
                if (make_room(long_notes)) long_notes.push_back(note);
                continue;
            }
            auto& row = overview_rows[note_keys[note] & 0x1FF];
            if (row.empty()) {
                if (!room_for(overview_bins * sizeof row[0])) continue;
                row.assign(overview_bins, 0);
            }
            for (std::uint32_t b = first; b <= last; ++b) row[b] = std::max(row[b], mark);
        }
    }
}

// The reckoning under which note `note` of the current track started: the last of the track's
// reckonings begun before its note on.
std::uint32_t start_reckoning_in_track(std::uint32_t note) {
    auto first = reckoning_first_notes.begin() + track_first_reckoning;
    return static_cast<std::uint32_t>(std::upper_bound(first, reckoning_first_notes.end(), note) - reckoning_first_notes.begin()) - 1;
}

// Keeps how many reckonings the current track began while note `note` sounded, for a note whose note
// on was listed before the current reckoning began (seldom).
[[gnu::noinline]] void keep_end_reckoning(std::uint32_t note) {
    auto current = static_cast<std::uint32_t>(reckoning_first_notes.size() - 1);
    std::uint32_t steps = current - start_reckoning_in_track(note);
    if (steps >= key_steps_kept) {
        // kept apart; when the memory has no room for it, the end has no reckoning to show it by
        if (make_room(end_reckonings)) end_reckonings.emplace_back(note, current);
        steps = key_steps_kept;
    }
    note_keys[note] = static_cast<std::uint16_t>(note_keys[note] | steps << key_steps_shift);
}

// Ends note `note` at total, on the current line.
void end_note(std::uint32_t note, std::uint32_t total) {
    note_ends[note] = total;
    if (total > roll_last_end) roll_last_end = total;
    if (note < reckoning_first_note) keep_end_reckoning(note);
}

// Ends every note sounding in slot at total; the entries of its chain become free.
void end_slot(std::uint32_t slot, std::uint32_t total) {
    std::uint32_t note = sounding_first[slot];
    if (note == none_sounding) return;
    sounding_first[slot] = none_sounding;
    end_note(note, total);
    for (std::uint32_t at = more_first[slot]; at != none_sounding;) {
        end_note(sounding_more[at].note, total);
        std::uint32_t next = sounding_more[at].next;
        sounding_more[at].next = more_free;
        more_free = at;
        at = next;
    }
    more_first[slot] = none_sounding;
}

// Ends every note still sounding at the total of the last event line (the end of its track).
void end_sounding_notes() {
    for (std::uint32_t slot : sounding_slots) {
        end_slot(slot, line_total);
        slot_listed[slot] = false;
    }
    sounding_slots.clear();
}

// Keeps note `index` among the notes sounding in slot, after those already there; false when the
// memory has no room for it.
bool keep_struck_again(std::uint32_t slot, std::uint32_t index) {
    std::uint32_t entry = more_free;
    if (entry != none_sounding) {
        more_free = sounding_more[entry].next;
        sounding_more[entry] = {index, none_sounding};
    } else {
        if (!make_room(sounding_more)) return false;
        entry = static_cast<std::uint32_t>(sounding_more.size());
        sounding_more.push_back({index, none_sounding});
    }
    if (more_first[slot] == none_sounding) {
        more_first[slot] = entry;
    } else {
        sounding_more[more_last[slot]].next = entry;
    }
    more_last[slot] = entry;
    return true;
}

// Stops gathering for want of memory: the notes still sounding end at the last event line, the
// last one whose reckoning is kept, the gatherers leave the watchers, and the roll holds the notes
// up to there.
void stop_roll() {
    end_sounding_notes();
    event_line_watcher = nullptr;
    note_watcher = nullptr;
    note_line_watcher = nullptr;
    roll_cut_short = true;
}

// For a line of a new track, or one after a time signature: a new track ends the last one's notes
// and starts its own entry and reckoning; a time signature read since the last line that differs
// from the one reckoned with starts a new reckoning.
[[gnu::noinline]] void begin_track_or_reckoning(std::uint32_t total) {
    bool new_track = current_track != line_track || track_numbers.empty();
    if (new_track) {
        end_sounding_notes();
        if (!make_room(track_numbers) || !make_room(track_first_notes) || !make_room(track_first_blocks) ||
            !make_room(track_in_order)) {
            stop_roll();
            return;
        }
        line_track = current_track;
        track_first_note = static_cast<std::uint32_t>(note_starts.size());
        track_numbers.push_back(current_track);
        track_first_notes.push_back(track_first_note);
        track_first_blocks.push_back(static_cast<std::uint32_t>(block_ends.size()));
        track_in_order.push_back(1);
        track_first_reckoning = static_cast<std::uint32_t>(reckoning_tracks.size());
    }
    auto seen = static_cast<std::uint32_t>(time_signature_seen);
    if (new_track || reckoning_now[signature_numerator] != ts_numerator || reckoning_now[signature_denominator] != ts_denominator ||
        reckoning_now[signature_seen] != seen) {
        if (!make_room(reckoning_tracks) || !make_room(reckoning_totals) || !make_room(reckoning_signatures, signature_fields) ||
            !make_room(reckoning_first_notes) || !make_room(reckoning_totals_before)) {
            stop_roll();
            return;
        }
        reckoning_now[signature_numerator] = ts_numerator;
        reckoning_now[signature_denominator] = ts_denominator;
        reckoning_now[signature_seen] = seen;
        reckoning_tracks.push_back(static_cast<std::uint32_t>(track_numbers.size() - 1));
        reckoning_totals.push_back(total);
        reckoning_signatures.insert(reckoning_signatures.end(), reckoning_now, reckoning_now + signature_fields);
        reckoning_first_note = static_cast<std::uint32_t>(note_starts.size());
        reckoning_first_notes.push_back(reckoning_first_note);
        reckoning_totals_before.push_back(new_track ? total : line_total);
    }
}

// Keeps the line's total, after starting a track or reckoning where one begins. Built into the note
// lines' gatherer (always_inline), as is gather_note, whose seldom ways stay out of line (noinline):
// that is the call most lines of a big file make, and Firefox lists one 15 % slower through two more
// calls, while building everything in made the module 5 KB larger.
[[gnu::always_inline]] inline void gather_event_line(std::uint64_t, std::uint32_t total) {
    if (current_track != line_track || reckoning_now[signature_numerator] != ts_numerator ||
        reckoning_now[signature_denominator] != ts_denominator ||
        reckoning_now[signature_seen] != static_cast<std::uint32_t>(time_signature_seen) || track_numbers.empty()) {
        begin_track_or_reckoning(total);
    }
    line_total = total;
}

// What a note on seldom needs before it is kept: the roll's last room (then the roll is cut short),
// a new block of the track, a slot seen for the first time in the track, or one whose note was
// struck again before it ended. False when the note is not kept.
[[gnu::noinline]] bool make_way_for_note(std::uint32_t slot, std::uint32_t index) {
    if (index == notes_kept_at_most) {
        roll_cut_short = true;
        return false;
    }
    if ((index - track_first_note) % notes_per_block == 0) {
        if (!make_room(block_ends)) {
            stop_roll();
            return false;
        }
        block_ends.push_back(0);
    }
    if (sounding_first[slot] == none_sounding) {
        sounding_first[slot] = index;
        if (!slot_listed[slot]) {
            slot_listed[slot] = true;
            sounding_slots.push_back(slot);  // room for every slot was made at the start
        }
    } else if (!keep_struck_again(slot, index)) {
        stop_roll();  // the note's block is counted in block_ends, and stays empty
        return false;
    }
    return true;
}

// Starts a note at a note on whose velocity is above 0 as listed (a missing one shows as 4294967295);
// any other note on or off ends every note of its channel and note that is still sounding.
[[gnu::always_inline]] inline void gather_note(std::int32_t status, std::int32_t note, std::int32_t velocity) {
    keep_note_event(status, note, velocity, line_total, track_numbers.size());  // played as the file has it
    std::uint32_t channel = static_cast<std::uint32_t>(status) & 0x0F;
    std::uint32_t slot = channel * key_slots + static_cast<std::uint32_t>(note + 1);
    if ((status & 0xF0) != 0x90 || velocity == 0) {
        end_slot(slot, line_total);
        return;
    }
    auto index = static_cast<std::uint32_t>(note_starts.size());
    // the usual note on: a slot already listed in the track with no note sounding, inside a block
    if (index != notes_kept_at_most && (index - track_first_note) % notes_per_block != 0 && slot_listed[slot] &&
        sounding_first[slot] == none_sounding) {
        sounding_first[slot] = index;
    } else if (!make_way_for_note(slot, index)) {
        return;
    }
    if (note < roll_lowest_note) roll_lowest_note = note;
    if (note > roll_highest_note) roll_highest_note = note;
    if (index != track_first_note && line_total < note_starts.back()) track_in_order.back() = 0;
    note_starts.push_back(line_total);  // within the room made at the start: index is below notes_kept_at_most
    note_ends.push_back(line_total);
    note_keys.push_back(static_cast<std::uint16_t>(static_cast<std::uint32_t>(note + 1) | channel << key_channel_shift));
    keep_note_velocity(velocity);  // for playing
}

// An event line of a note on or off, told at once: its line, then its note.
void gather_note_line(std::uint64_t offset, std::uint32_t total, std::int32_t status, std::int32_t note, std::int32_t velocity) {
    gather_event_line(offset, total);
    gather_note(status, note, velocity);
}
}  // namespace

void start_roll_notes(std::size_t input_size, std::size_t note_limit) {
    forget_roll_notes();
    sounding_first.fill(none_sounding);
    more_first.fill(none_sounding);
    slot_listed.fill(false);
    // a note on takes two bytes at least (a delta time and its note), but for one in each track listed
    // past the end of the input (65535 at most); room only reserved is never touched. Fewer notes are
    // kept when the memory can't hold them beside what the listing needs besides (its resume points).
    std::size_t room = std::min(input_size / 2 + 65536, note_limit);
    std::size_t beside = input_size / beside_notes_share;
    while (room > 0 && !room_for(room * note_bytes + beside)) room /= 2;
    if (!make_room(sounding_slots, slots)) room = 0;
    note_starts.reserve(room);
    note_ends.reserve(room);
    note_keys.reserve(room);
    notes_kept_at_most = room;
    roll_cut_short = room == 0;
    event_line_watcher = room != 0 ? gather_event_line : nullptr;
    note_watcher = room != 0 ? gather_note : nullptr;
    note_line_watcher = room != 0 ? gather_note_line : nullptr;
}

void finish_roll_notes() {
    end_sounding_notes();
    draw_notes();
    std::sort(end_reckonings.begin(), end_reckonings.end());
    event_line_watcher = nullptr;
    note_watcher = nullptr;
    note_line_watcher = nullptr;
}

void forget_roll_notes() {
    release(note_starts);
    release(note_ends);
    release(note_keys);
    for (auto* list : {&track_numbers, &track_first_notes, &reckoning_tracks, &reckoning_totals, &reckoning_signatures,
                       &reckoning_first_notes, &reckoning_totals_before, &track_first_blocks, &block_ends, &long_notes, &sounding_slots}) {
        release(*list);
    }
    release(end_reckonings);
    release(track_in_order);
    release(sounding_more);
    for (auto& row : overview_rows) release(row);
    overview_shift = 0;
    more_free = none_sounding;
    notes_kept_at_most = 0;
    roll_cut_short = false;
    roll_last_end = 0;
    roll_lowest_note = 256;
    roll_highest_note = -2;
    line_total = 0;
    line_track = 0;
    track_first_reckoning = 0;
    track_first_note = 0;
    reckoning_first_note = 0;
}

std::uint32_t note_reckoning(std::uint32_t note, bool at_end) {
    if (note >= note_starts.size() || track_first_notes.empty()) return no_reckoning;
    // its track: the last whose first note is at or before it (a track without notes shares its first
    // note's index with the next)
    auto track = static_cast<std::uint32_t>(std::upper_bound(track_first_notes.begin(), track_first_notes.end(), note) -
                                            track_first_notes.begin()) - 1;
    auto [first, last] = std::equal_range(reckoning_tracks.begin(), reckoning_tracks.end(), track);
    auto from = static_cast<std::size_t>(first - reckoning_tracks.begin());
    auto to = static_cast<std::size_t>(last - reckoning_tracks.begin());
    auto in_force = std::upper_bound(reckoning_first_notes.begin() + static_cast<std::ptrdiff_t>(from),
                                     reckoning_first_notes.begin() + static_cast<std::ptrdiff_t>(to), note);
    auto start = static_cast<std::size_t>(in_force - reckoning_first_notes.begin());
    if (start == from) return no_reckoning;  // not reached: a kept note starts after its track's first reckoning
    --start;
    if (!at_end) return static_cast<std::uint32_t>(start);
    std::uint32_t steps = note_keys[note] >> key_steps_shift;
    if (steps < key_steps_kept) return static_cast<std::uint32_t>(start + steps);
    auto kept = std::lower_bound(end_reckonings.begin(), end_reckonings.end(), std::make_pair(note, std::uint32_t{0}));
    return kept != end_reckonings.end() && kept->first == note ? kept->second : no_reckoning;
}
