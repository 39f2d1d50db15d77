// The program's run: the console dialogue, the names file, the two files and the listing.
#pragma once

#include <cstdio>

constexpr int program_path_size = 128;  // the program's directory and the names file's name, with the terminator
constexpr int input_name_size = 100;    // the typed file name, with the terminator

extern char program_path[program_path_size];  // the program's directory, then the names file's path in it
extern char input_name[input_name_size];      // the MIDI file's name as the user typed it
extern std::FILE* input_stream;               // the MIDI file, open for binary reading, or null
extern std::FILE* dump_stream;                // default.txt, open for text writing, or null
// On Windows the two names are also kept as wide characters, the form in which files are opened there
// (control/platform.h); the char buffers above then hold them in the ANSI page, for the listing and for scripts.

// Cuts path at its last separator (the separator and all after it go); false when it holds none.
bool program_directory(char* path);
// The same, for a path held as wide characters (as Windows holds the program's).
bool program_directory(wchar_t* path);
// Prompts for the MIDI file's name, opens it and, if that worked, creates default.txt, telling the
// console when either fails; returns the exit status so far (1 when default.txt can't be created or
// is the MIDI file itself).
int open_files();
// Closes the input and the dump that were opened; false when the dump could not be written whole.
bool close_files();
// The whole run, from showing the program's directory to closing the files (and, on a Windows console
// of the program's own, waiting for Enter); returns the exit status.
int run_program();
// Forgets the typed name and the program path (for tests).
void reset_driver_state();
// Puts every piece of program-wide state, in every unit, back as it is when the program starts.
void reset_program_state();
