// What differs between the platforms the program is built for: the executable's own path, the path
// separator, how files are opened, names in any language at a Windows console, and a Windows console
// window of the program's own.
#pragma once

#include <cstddef>
#include <cstdio>

#ifdef _WIN32
// Windows names files by wide characters: a name typed at a console, or a folder of the program, may
// hold characters that the ANSI page (in which char names are taken) can't hold.
using path_char = wchar_t;
#else
using path_char = char;  // files are named by bytes
#endif

extern const char path_separator;         // separates the directories of a path: '/' here, '\\' on Windows
extern const path_char names_file_name[];  // the names file's name, with the separator before it
#ifdef _WIN32
// The wide forms of the driver's two names, of which its char buffers then hold the ANSI forms.
extern wchar_t program_path_wide[];  // the names file's path in the program's directory (program_path_size characters)
extern wchar_t input_name_wide[];    // the name typed at a console, empty when it came as bytes (input_name_size characters)
#endif

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

// Writes a path to standard output: as it is here; on Windows as wide characters to a console, else in
// the ANSI page ('?' for what it can't hold), standard output flushed first so that it keeps its order.
void say_path(const path_char* path);
// Puts folder followed by name into the program path and returns it as the platform names files: into
// program_path (size bytes) here; on Windows into program_path_wide, with its ANSI form in program_path.
// Null, with nothing changed, when the two don't fit in the program path (program_path_size characters
// with the terminator).
const path_char* keep_program_path(const path_char* folder, const path_char* name, char* program_path, std::size_t size);

// True when the MIDI file's name is typed at a Windows console, which hands it over as wide characters;
// false where it is read as bytes of standard input (always here).
bool typed_wide();
// The next typed character: a wide character (a UTF-16 unit) from the console when wide, else a byte of
// standard input; EOF at the end of input, and at Ctrl+Z at a Windows console.
int next_typed_char(bool wide);
// Keeps typed character c at place at of the typed name: in name, or when wide in input_name_wide.
void keep_typed_char(bool wide, char* name, int at, int c);
// Once the name has been typed wide, puts its ANSI form into name (size bytes, cut at a whole character);
// nothing when it came as bytes.
void finish_typed_name(bool wide, char* name, std::size_t size);
// Writes the typed name to the console as it was typed: its wide form when it has one, else name.
void say_typed_name(const char* name);
// Opens the typed name for binary reading, by its wide form when it has one; null when it can't be opened.
std::FILE* open_typed_name(const char* name);

// At the end of a run on Windows, when standard input is a console that the program has to itself (as
// after a double click, where the window closes with the program), asks on a line of its own after an
// empty line to press Enter and waits for it (or until the console's input can't be read any more);
// otherwise does nothing.
void wait_on_own_console();
// Forgets the wide forms of the names (Windows); there is nothing to forget elsewhere.
void reset_platform_state();

#ifdef _WIN32
// Copies the full path of the running executable as wide characters into out (at most size characters
// with the terminator); false, with out empty, when the path can't be had or does not fit.
bool executable_path(wchar_t* out, std::size_t size);
// Opens the names file by its wide path for binary reading; null when it can't be opened.
std::FILE* open_names_file(const wchar_t* path);
#endif
