#include "control/driver.h"

// Lists one MIDI file, named at the prompt, into default.txt.
int main() { return run_program(); }
