// Loading the program names from the names file beside the executable.
#pragma once

#include <cstdio>

// Fills the program-name table from the file at path (if it opens), then writes a line end to the console.
void load_program_names(const char* path);
#ifdef _WIN32
// Windows: the same, for a path held as wide characters (a folder the ANSI page can't name).
void load_program_names(const wchar_t* path);
#endif
// Fills the program-name table from an open names file, line by line, at most 128 names.
void read_program_names(std::FILE* file);
