#include "note_velocities.h"

std::vector<std::uint8_t> note_velocities;
void (*note_event_keeper)(std::int32_t, std::int32_t, std::int32_t, std::uint32_t) = nullptr;
