// What differs between the platforms the program is built for: the executable's own path, the path
// separator, and how files are opened.
#pragma once

#include <cstddef>
#include <cstdio>

extern const char path_separator;      // separates the directories of a path: '/' here, '\\' on Windows
extern const char names_file_name[];   // the names file's name, with the separator before it

// Copies the full path of the running executable into out (at most size bytes with the terminator);
// false, with out empty, when the path can't be had or does not fit.
bool executable_path(char* out, std::size_t size);
// Opens the named MIDI file for binary reading; null when it can't be opened or is a directory.
std::FILE* open_midi_file(const char* name);
// Creates or truncates default.txt in the working directory for text writing; null on failure.
std::FILE* create_dump_file();
// True when input is the very file (by identity, whatever path or link led to it) that creating
// default.txt in the working directory would truncate; false when default.txt is absent or another file.
bool same_file_as_dump(std::FILE* input);
