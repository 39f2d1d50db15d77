// What the roll's note gatherer keeps for playing: the velocity of each note it starts, and every note
// on and off it is told of, handed on as it comes. The player's gatherers (play_events) make room for
// the velocities, read them, and take the note events. This header is all the roll knows of playing,
// so that the roll does not depend on the player.
#pragma once

#include <cstdint>
#include <vector>

extern std::vector<std::uint8_t> note_velocities;  // the velocity of each roll note's note on, as read (0xFF: above 127 or missing)
// Told by the roll's gatherer of every note on and off it is told of, as the listing's note watcher
// is (status in force, note and velocity as byte values), with its line's running total; null while
// nothing is played.
extern void (*note_event_keeper)(std::int32_t status, std::int32_t note, std::int32_t velocity, std::uint32_t total);

// Keeps the velocity of a note the roll started, within the room made for the roll's notes (called by
// the roll's gatherer, in the listing's busiest path: it does no more than this). A note without its
// velocity kept is not played.
inline void keep_note_velocity(std::int32_t velocity) {
    if (note_velocities.size() == note_velocities.capacity()) return;
    note_velocities.push_back(static_cast<std::uint8_t>(velocity >= 1 && velocity <= 127 ? velocity : 0xFF));
}
