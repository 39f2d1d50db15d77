// What the roll's note gatherer keeps for playing: the velocity of each note it starts, and every note
// on and off it is told of, handed on as it comes. The player's gatherers (play_events) make room for
// the velocities, read them, and take the note events. This header is all the roll knows of playing,
// so that the roll does not depend on the player.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

extern std::vector<std::uint8_t> note_velocities;  // the velocity of each roll note's note on, as read (0xFF: above 127 or missing)
// The channel events gathered for playing, notes on and off among them, defined by the player's
// gatherers (play_events), where the roll's gatherer hands each note event on:
extern std::vector<std::uint32_t> channel_event_ticks;  // running total of each channel event, notes included, in listing order
extern std::vector<std::uint32_t> channel_event_bytes;  // its status and data bytes (bits 0-7, 8-14, 15-21; the second 0 for one data
                                                        // byte): SMFDUMP_PLAY_EVENT_FIELDS in play_events.h
extern std::vector<std::uint32_t> track_first_events;   // index of each track's first channel event
extern bool note_events_kept;                           // whether the roll's gatherer hands its note events on (while they are gathered)

// Keeps the velocity of a note the roll started, within the room made for the roll's notes (called by
// the roll's gatherer, in the listing's busiest path: it does no more than this). A note without its
// velocity kept is not played.
inline void keep_note_velocity(std::int32_t velocity) {
    if (note_velocities.size() == note_velocities.capacity()) return;
    note_velocities.push_back(static_cast<std::uint8_t>(velocity >= 1 && velocity <= 127 ? velocity : 0xFF));
}

// Keeps a note event the usual way fails to: the first of a track, bytes above 127 or missing, no
// room left (in play_events).
void keep_note_event_slowly(std::int32_t status, std::int32_t note, std::int32_t velocity, std::uint32_t total);

// Keeps a note on or off (status in force, note and velocity as byte values) at its line's running
// total for playing, the roll having `tracks` tracks so far; called by the roll's gatherer for each
// one, in the listing's busiest path: the usual case is two stores.
inline void keep_note_event(std::int32_t status, std::int32_t note, std::int32_t velocity, std::uint32_t total, std::size_t tracks) {
    if (!note_events_kept) return;
    if (static_cast<std::uint32_t>(note | velocity) > 127 || track_first_events.size() < tracks ||
        channel_event_ticks.size() == channel_event_ticks.capacity() || channel_event_bytes.size() == channel_event_bytes.capacity()) {
        keep_note_event_slowly(status, note, velocity, total);
        return;
    }
    channel_event_ticks.push_back(total);
    channel_event_bytes.push_back(static_cast<std::uint32_t>(status) | static_cast<std::uint32_t>(note) << 8 |
                                  static_cast<std::uint32_t>(velocity) << 15);
}
