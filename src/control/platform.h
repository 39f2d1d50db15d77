// What differs between the platforms the program is built for: the executable's own path, the path
// separator, how files are opened, and (on Windows) names in any language at the console.
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
// Opens the names file at path for binary reading; null when it can't be opened.
std::FILE* open_names_file(const char* path);
// Creates or truncates default.txt in the working directory for text writing; null on failure.
std::FILE* create_dump_file();
// True when input is the very file (by identity, whatever path or link led to it) that creating
// default.txt in the working directory would truncate; false when default.txt is absent or another file.
bool same_file_as_dump(std::FILE* input);

#ifdef _WIN32
// Windows keeps names as wide characters: a name typed at a console, or a folder of the program, may
// hold characters that the ANSI page (in which char names are taken) can't hold.
extern const wchar_t names_file_name_wide[];  // the names file's name, with the separator before it

// Copies the full path of the running executable as wide characters into out (at most size characters
// with the terminator); false, with out empty, when the path can't be had or does not fit.
bool executable_path(wchar_t* out, std::size_t size);
// Opens the MIDI file by its wide name for binary reading; null when it can't be opened.
std::FILE* open_midi_file(const wchar_t* name);
// Opens the names file by its wide path for binary reading; null when it can't be opened.
std::FILE* open_names_file(const wchar_t* path);
// True when standard input is a console, whose typed text is then read as wide characters.
bool console_input();
// The next character typed at the console (a UTF-16 unit); EOF at the end of input or at Ctrl+Z.
int read_console_char();
// Puts text into out in the ANSI page ('?' for what it can't hold), cut at a whole character to fit
// size bytes with the terminator.
void ansi_from_wide(const wchar_t* text, char* out, std::size_t size);
// Writes text to standard output: as wide characters to a console, else in the ANSI page ('?' for what
// it can't hold); standard output is flushed first, so that it keeps its order.
void say_wide(const wchar_t* text);
#endif
