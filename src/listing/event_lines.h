// The common event lines of a track, listed the short way: whole fields copied from tables made at
// compile time, and the input and dump positions kept in locals while the lines follow each other.
#pragma once

#include <cstdint>

// Lists event lines of the current track, as dump_events would, for as long as each one is a note on
// or note off whose bytes are all buffered (other events on those lines go the ordinary way); stops
// once the track's length is used up, and after a hand-over of the dump when resume points are
// watched. Returns how many lines it listed: 0 when the next one needs the ordinary way from its start.
std::uint32_t list_common_event_lines();
