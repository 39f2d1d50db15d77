#include "roll_notes.h"

#include <algorithm>
#include <array>

#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "play_events.h"

std::vector<std::uint32_t> note_starts;
std::vector<std::uint32_t> note_ends;
std::vector<std::uint16_t> note_keys;
std::vector<std::uint32_t> track_numbers;
std::vector<std::uint32_t> track_first_notes;
std::vector<std::uint32_t> reckoning_tracks;
std::vector<std::uint32_t> reckoning_totals;
std::vector<std::uint32_t> reckoning_signatures;
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
constexpr std::uint32_t none_sounding = 0xFFFFFFFF;  // a slot's first note when none sounds
// The notes of the current track still sounding, by slot: the first in `sounding_first`, any others
// (a note struck again before it ended; seldom) in `sounding_more` with the count in `more_in_slot`.
std::array<std::uint32_t, slots> sounding_first;
std::vector<std::pair<std::uint32_t, std::uint32_t>> sounding_more;  // slot and note of the others
std::array<std::uint32_t, slots> more_in_slot;
std::vector<std::uint32_t> sounding_slots;  // slots that have held a note since the track began, each once
std::array<bool, slots> slot_listed;        // whether each slot is in sounding_slots
std::size_t notes_kept_at_most = 0;         // notes gathered before the roll is cut short
std::uint32_t line_total = 0;               // running total of the last event line
std::uint32_t line_track = 0;               // track of the last event line; 0 before any
std::uint32_t reckoning_now[3] = {};        // numerator, denominator and seen of the last reckoning kept

// Halves the overview's bins until `end` falls within them: each bin takes the topmost of two.
void widen_overview_to(std::uint32_t end) {
    while ((end >> overview_shift) >= overview_bins) {
        ++overview_shift;
        for (auto& row : overview_rows) {
            if (row.empty()) continue;
            for (std::uint32_t b = 0; b < overview_bins / 2; ++b) row[b] = std::max(row[2 * b], row[2 * b + 1]);
            std::fill(row.begin() + overview_bins / 2, row.end(), 0);
        }
    }
}

// Puts note `note`, now that it has its end, into the overview (or among the long notes) and into
// its block's latest end.
void draw_note_later(std::uint32_t note) {
    std::uint32_t start = note_starts[note];
    std::uint32_t end = note_ends[note];
    std::uint32_t track = static_cast<std::uint32_t>(track_numbers.size() - 1);
    std::uint32_t& block = block_ends[track_first_blocks[track] + (note - track_first_notes[track]) / notes_per_block];
    block = std::max(block, end);
    widen_overview_to(end);
    std::uint32_t first = start >> overview_shift;
    std::uint32_t last = end >> overview_shift;
    if (last < first || last - first > long_note_bins) {
        long_notes.push_back(note);
        return;
    }
    auto& row = overview_rows[note_keys[note] & 0x1FF];
    if (row.empty()) row.assign(overview_bins, 0);
    auto mark = static_cast<std::uint16_t>(std::min<std::uint32_t>(track + 1, 0xFFFF));
    for (std::uint32_t b = first; b <= last; ++b) row[b] = std::max(row[b], mark);
}

// Ends note `note` at total.
void end_note(std::uint32_t note, std::uint32_t total) {
    note_ends[note] = total;
    if (total > roll_last_end) roll_last_end = total;
    draw_note_later(note);
}

// Ends every note sounding in slot at total.
void end_slot(std::uint32_t slot, std::uint32_t total) {
    if (sounding_first[slot] == none_sounding) return;
    end_note(sounding_first[slot], total);
    sounding_first[slot] = none_sounding;
    if (more_in_slot[slot] == 0) return;
    for (auto at = sounding_more.begin(); at != sounding_more.end();) {
        if (at->first == slot) {
            end_note(at->second, total);
            at = sounding_more.erase(at);
        } else {
            ++at;
        }
    }
    more_in_slot[slot] = 0;
}

// Ends every note still sounding at the total of the last event line (the end of its track).
void end_sounding_notes() {
    for (std::uint32_t slot : sounding_slots) {
        end_slot(slot, line_total);
        slot_listed[slot] = false;
    }
    sounding_slots.clear();
}

// Keeps the line's total; a new track ends the last one's notes and starts its own entry and
// reckoning; a time signature read since the last line starts a new reckoning.
void gather_event_line(std::uint64_t, std::uint32_t total) {
    bool new_track = current_track != line_track || track_numbers.empty();
    if (new_track) {
        end_sounding_notes();
        line_track = current_track;
        track_numbers.push_back(current_track);
        track_first_notes.push_back(static_cast<std::uint32_t>(note_starts.size()));
        track_first_blocks.push_back(static_cast<std::uint32_t>(block_ends.size()));
        track_in_order.push_back(1);
    }
    line_total = total;
    auto seen = static_cast<std::uint32_t>(time_signature_seen);
    if (new_track || reckoning_now[0] != ts_numerator || reckoning_now[1] != ts_denominator || reckoning_now[2] != seen) {
        reckoning_now[0] = ts_numerator;
        reckoning_now[1] = ts_denominator;
        reckoning_now[2] = seen;
        reckoning_tracks.push_back(static_cast<std::uint32_t>(track_numbers.size() - 1));
        reckoning_totals.push_back(total);
        reckoning_signatures.insert(reckoning_signatures.end(), reckoning_now, reckoning_now + 3);
    }
}

// Starts a note at a note on whose velocity is above 0 as listed (a missing one shows as 4294967295);
// any other note on or off ends every note of its channel and note that is still sounding.
void gather_note(std::int32_t status, std::int32_t note, std::int32_t velocity) {
    std::uint32_t channel = static_cast<std::uint32_t>(status) & 0x0F;
    std::uint32_t slot = channel * key_slots + static_cast<std::uint32_t>(note + 1);
    if ((status & 0xF0) != 0x90 || velocity == 0) {
        end_slot(slot, line_total);
        return;
    }
    auto index = static_cast<std::uint32_t>(note_starts.size());
    if (index == notes_kept_at_most) {
        roll_cut_short = true;
        return;
    }
    if (sounding_first[slot] == none_sounding) {
        sounding_first[slot] = index;
        if (!slot_listed[slot]) {
            slot_listed[slot] = true;
            sounding_slots.push_back(slot);
        }
    } else {
        sounding_more.emplace_back(slot, index);
        ++more_in_slot[slot];
    }
    if (note < roll_lowest_note) roll_lowest_note = note;
    if (note > roll_highest_note) roll_highest_note = note;
    if ((index - track_first_notes.back()) % notes_per_block == 0) block_ends.push_back(0);
    if (index != track_first_notes.back() && line_total < note_starts.back()) track_in_order.back() = 0;
    note_starts.push_back(line_total);
    note_ends.push_back(line_total);
    note_keys.push_back(static_cast<std::uint16_t>(static_cast<std::uint32_t>(note + 1) | channel << 9));
    keep_note_velocity(velocity);  // for playing
}
}  // namespace

void start_roll_notes(std::size_t input_size, std::size_t note_limit) {
    note_starts.clear();
    note_ends.clear();
    note_keys.clear();
    for (auto* list : {&track_numbers, &track_first_notes, &reckoning_tracks, &reckoning_totals, &reckoning_signatures,
                       &track_first_blocks, &block_ends, &long_notes}) {
        list->clear();
    }
    track_in_order.clear();
    overview_shift = 0;
    for (auto& row : overview_rows) row.clear();
    sounding_first.fill(none_sounding);
    sounding_more.clear();
    more_in_slot.fill(0);
    sounding_slots.clear();
    slot_listed.fill(false);
    notes_kept_at_most = note_limit;
    // a note on takes two bytes at least (a delta time and its note), but for one in each track listed
    // past the end of the input (65535 at most); room only reserved is never touched
    std::size_t room = std::min(input_size / 2 + 65536, note_limit);
    note_starts.reserve(room);
    note_ends.reserve(room);
    note_keys.reserve(room);
    roll_cut_short = false;
    roll_last_end = 0;
    roll_lowest_note = 256;
    roll_highest_note = -2;
    line_total = 0;
    line_track = 0;
    event_line_watcher = gather_event_line;
    note_watcher = gather_note;
}

void finish_roll_notes() {
    end_sounding_notes();
    event_line_watcher = nullptr;
    note_watcher = nullptr;
}
