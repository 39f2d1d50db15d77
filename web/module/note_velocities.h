// The velocities of the roll's notes, kept for playing. The roll's note gatherer keeps each one as it
// starts a note; the player's gatherers (play_events) make room for them and read them. This header is
// all the roll knows of playing, so that the roll does not depend on the player.
#pragma once

#include <cstdint>
#include <vector>

extern std::vector<std::uint8_t> note_velocities;  // the velocity of each roll note's note on, as read (0xFF: above 127 or missing)

// Keeps the velocity of a note the roll started, within the room made for the roll's notes (called by
// the roll's gatherer, in the listing's busiest path: it does no more than this). A note without its
// velocity kept is not played.
inline void keep_note_velocity(std::int32_t velocity) {
    if (note_velocities.size() == note_velocities.capacity()) return;
    note_velocities.push_back(static_cast<std::uint8_t>(velocity >= 1 && velocity <= 127 ? velocity : 0xFF));
}
