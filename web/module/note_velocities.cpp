#include "note_velocities.h"

std::vector<std::uint8_t> note_velocities;
