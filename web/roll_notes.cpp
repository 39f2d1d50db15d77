#include "roll_notes.h"

#include <algorithm>
#include <array>

#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"

std::vector<std::uint32_t> note_starts;
std::vector<std::uint32_t> note_ends;
std::vector<std::uint16_t> note_keys;
std::vector<std::uint32_t> track_numbers;
std::vector<std::uint32_t> track_first_notes;
std::vector<std::uint32_t> reckoning_tracks;
std::vector<std::uint32_t> reckoning_totals;
std::vector<std::uint32_t> reckoning_signatures;
bool roll_cut_short = false;
std::uint32_t roll_last_end = 0;
std::int32_t roll_lowest_note = 256;
std::int32_t roll_highest_note = -2;

namespace {
constexpr std::uint32_t key_slots = 257;  // a note byte -1 (missing) to 255, each a slot of its own
std::array<std::vector<std::uint32_t>, 16 * key_slots> sounding;  // notes of the current track still sounding, by channel and note
std::vector<std::uint32_t> sounding_slots;     // slots of `sounding` that have held a note since the track began, each once
std::array<bool, 16 * key_slots> slot_listed;  // whether each slot is in sounding_slots
std::size_t notes_kept_at_most = 0;            // notes gathered before the roll is cut short
std::uint32_t line_total = 0;                  // running total of the last event line
bool track_seen = false;                       // whether the last event line's track has its entry

// Ends note `note` at total.
void end_note(std::uint32_t note, std::uint32_t total) {
    note_ends[note] = total;
    if (total > roll_last_end) roll_last_end = total;
}

// Ends every note still sounding at the total of the last event line (the end of its track).
void end_sounding_notes() {
    for (std::uint32_t slot : sounding_slots) {
        for (std::uint32_t note : sounding[slot]) end_note(note, line_total);
        sounding[slot].clear();
        slot_listed[slot] = false;
    }
    sounding_slots.clear();
}

// Keeps the line's total; a new track ends the last one's notes and starts its own entry and
// reckoning; a time signature read since the last line starts a new reckoning.
void gather_event_line(std::uint64_t, std::uint32_t total) {
    bool new_track = !track_seen || track_numbers.back() != current_track;
    if (new_track) {
        end_sounding_notes();
        track_seen = true;
        track_numbers.push_back(current_track);
        track_first_notes.push_back(static_cast<std::uint32_t>(note_starts.size()));
    }
    line_total = total;
    std::size_t r = reckoning_signatures.size();
    auto seen = static_cast<std::uint32_t>(time_signature_seen);
    if (new_track || reckoning_signatures[r - 3] != ts_numerator || reckoning_signatures[r - 2] != ts_denominator ||
        reckoning_signatures[r - 1] != seen) {
        reckoning_tracks.push_back(static_cast<std::uint32_t>(track_numbers.size() - 1));
        reckoning_totals.push_back(total);
        reckoning_signatures.insert(reckoning_signatures.end(), {ts_numerator, ts_denominator, seen});
    }
}

// Starts a note at a note on whose velocity is above 0 as listed (a missing one shows as 4294967295);
// any other note on or off ends every note of its channel and note that is still sounding.
void gather_note(std::int32_t status, std::int32_t note, std::int32_t velocity) {
    std::uint32_t channel = static_cast<std::uint32_t>(status) & 0x0F;
    std::uint32_t slot = channel * key_slots + static_cast<std::uint32_t>(note + 1);
    if ((status & 0xF0) == 0x90 && velocity != 0) {
        if (note_starts.size() == notes_kept_at_most) {
            roll_cut_short = true;
            return;
        }
        if (!slot_listed[slot]) {
            slot_listed[slot] = true;
            sounding_slots.push_back(slot);
        }
        sounding[slot].push_back(static_cast<std::uint32_t>(note_starts.size()));
        if (note < roll_lowest_note) roll_lowest_note = note;
        if (note > roll_highest_note) roll_highest_note = note;
        note_starts.push_back(line_total);
        note_ends.push_back(line_total);
        note_keys.push_back(static_cast<std::uint16_t>(static_cast<std::uint32_t>(note + 1) | channel << 9));
        return;
    }
    for (std::uint32_t sounding_note : sounding[slot]) end_note(sounding_note, line_total);
    sounding[slot].clear();
}
}  // namespace

void start_roll_notes(std::size_t input_size, std::size_t note_limit) {
    note_starts.clear();
    note_ends.clear();
    note_keys.clear();
    for (auto* list : {&track_numbers, &track_first_notes, &reckoning_tracks, &reckoning_totals, &reckoning_signatures}) list->clear();
    for (auto& notes : sounding) notes.clear();
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
    track_seen = false;
    event_line_watcher = gather_event_line;
    note_watcher = gather_note;
}

void finish_roll_notes() {
    end_sounding_notes();
    event_line_watcher = nullptr;
    note_watcher = nullptr;
}
