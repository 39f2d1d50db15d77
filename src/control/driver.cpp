#include "control/driver.h"

#include <cstring>
#include <cwchar>

#include "control/names_file.h"
#include "control/platform.h"
#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "listing/name_tables.h"
#include "listing/position.h"
#include "stream/byte_stream.h"

char program_path[program_path_size] = "";
char input_name[input_name_size] = "";
std::FILE* input_stream = nullptr;
std::FILE* dump_stream = nullptr;
#ifdef _WIN32
wchar_t program_path_wide[program_path_size] = L"";
wchar_t input_name_wide[input_name_size] = L"";
#endif

namespace {
// True for the bytes that separate words typed at the prompt.
bool is_blank(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Writes text to the console.
void say(const char* text) { std::fputs(text, stdout); }

// True when the name is typed at a console and so read as wide characters (Windows only).
bool typed_wide() {
#ifdef _WIN32
    return console_input();
#else
    return false;
#endif
}

// The next typed character: a wide character from a console when wide, else a byte of standard input.
int next_typed_char([[maybe_unused]] bool wide) {
#ifdef _WIN32
    if (wide) return read_console_char();
#endif
    return std::getchar();
}

// Keeps typed character c at place at of the name (the wide one when wide).
void keep_typed_char([[maybe_unused]] bool wide, int at, int c) {
#ifdef _WIN32
    if (wide) {
        input_name_wide[at] = static_cast<wchar_t>(c);
        return;
    }
#endif
    input_name[at] = static_cast<char>(c);
}

// Reads one whitespace-delimited word from the console into input_name (on a Windows console, into
// input_name_wide, then input_name in the ANSI page); returns why the word can't be taken as a file name
// (the name is then left empty), or null when it can. A cut name could open another file, so a word
// too long for the name, or one that a zero character would cut short, is refused.
const char* read_typed_name() {
    bool wide = typed_wide();
    int c;
    do {
        c = next_typed_char(wide);
    } while (is_blank(c));
    int length = 0;
    const char* refusal = nullptr;
    while (c != EOF && !is_blank(c)) {
        if (c == '\0') {
            refusal = "can't open a file name holding a zero byte.";
        } else if (length == input_name_size - 1) {
            if (refusal == nullptr) refusal = "can't open a file name longer than 99 characters.";
        } else {
            keep_typed_char(wide, length++, c);
        }
        c = next_typed_char(wide);
    }
    keep_typed_char(wide, refusal != nullptr ? 0 : length, '\0');
#ifdef _WIN32
    if (wide) ansi_from_wide(input_name_wide, input_name, sizeof input_name);
#endif
    return refusal;
}

// Writes the typed name to the console as it was typed.
void say_input_name() {
#ifdef _WIN32
    if (input_name_wide[0] != L'\0') {
        say_wide(input_name_wide);
        return;
    }
#endif
    say(input_name);
}

// Opens the typed name for binary reading (by its wide form when it has one); null when it can't be opened.
std::FILE* open_typed_file() {
#ifdef _WIN32
    if (input_name_wide[0] != L'\0') return open_midi_file(input_name_wide);
#endif
    return open_midi_file(input_name);
}

#ifndef _WIN32
// Finds the program's directory, shows it and loads the program names from the names file in it.
void load_names_beside_program() {
    char full[4096];
    executable_path(full, sizeof full);
    bool has_directory = program_directory(full);
    say(full);
    say("\n");
    std::fflush(stdout);
    // with no directory at all, the names file is looked for in the working directory
    const char* name = has_directory ? names_file_name : names_file_name + 1;
    if (std::strlen(full) + std::strlen(name) >= sizeof program_path) {
        say("initial.txt not loaded: the program's directory is too long.\n");
        std::fflush(stdout);
        return;
    }
    std::strcpy(program_path, full);  // NOLINT(clang-analyzer-security.insecureAPI.strcpy): both lengths were checked above
    std::strcat(program_path, name);  // NOLINT(clang-analyzer-security.insecureAPI.strcpy): both lengths were checked above
    load_program_names(program_path);
}
#else
// Finds the program's directory, shows it and loads the program names from the names file in it; all
// by wide characters, so that a folder the ANSI page can't name still holds the names file.
void load_names_beside_program() {
    wchar_t full[4096];
    executable_path(full, sizeof full / sizeof full[0]);
    bool has_directory = program_directory(full);
    say_wide(full);
    say("\n");
    std::fflush(stdout);
    // with no directory at all, the names file is looked for in the working directory
    const wchar_t* name = has_directory ? names_file_name_wide : names_file_name_wide + 1;
    if (std::wcslen(full) + std::wcslen(name) >= program_path_size) {  // counted in characters
        say("initial.txt not loaded: the program's directory is too long.\n");
        std::fflush(stdout);
        return;
    }
    std::wcscpy(program_path_wide, full);
    std::wcscat(program_path_wide, name);
    ansi_from_wide(program_path_wide, program_path, sizeof program_path);
    load_program_names(program_path_wide);
}
#endif
}  // namespace

bool program_directory(char* path) {
    char* last = std::strrchr(path, path_separator);
    if (last == nullptr) {
        path[0] = '\0';
        return false;
    }
    *last = '\0';
    return true;
}

#ifdef _WIN32
bool program_directory(wchar_t* path) {
    wchar_t* last = std::wcsrchr(path, static_cast<wchar_t>(path_separator));
    if (last == nullptr) {
        path[0] = L'\0';
        return false;
    }
    *last = L'\0';
    return true;
}
#endif

int open_files() {
    say("input *.mid file:");
    std::fflush(stdout);  // the prompt must show before the read waits
    const char* refusal = read_typed_name();
    say("dump output file:");
    say("default.txt\n");
    if (refusal != nullptr) {
        say(refusal);
        return 0;
    }
    input_stream = open_typed_file();
    if (input_stream == nullptr) {
        say("can't open ");
        say_input_name();
        say(".");
        return 0;
    }
    if (same_file_as_dump(input_stream)) {
        say("can't list default.txt into itself.");  // creating the dump would wipe the input first
        return 1;
    }
    dump_stream = create_dump_file();
    if (dump_stream == nullptr) {
        say("can't create default.txt.");  // a failure, not to be reported as success
        return 1;
    }
    return 0;
}

bool close_files() {
    bool written = true;
    if (input_stream != nullptr) {
        std::fclose(input_stream);
        input_stream = nullptr;
    }
    if (dump_stream != nullptr) {
        flush_dump();
        written = !dump_failed;
        if (std::fclose(dump_stream) != 0) written = false;
        dump_stream = nullptr;
    }
    return written;
}

int run_program() {
    load_names_beside_program();
    int status = open_files();
    if (input_stream != nullptr && dump_stream != nullptr) {
        open_input_file(input_stream);
        open_dump_file(dump_stream);
        dump_file();
    }
    if (!close_files()) {
        say("can't write default.txt.");  // a cut-off listing must not pass for a whole one
        status = 1;
    }
    std::fflush(stdout);
    return status;
}

void reset_driver_state() {
    program_path[0] = '\0';
    input_name[0] = '\0';
#ifdef _WIN32
    program_path_wide[0] = L'\0';
    input_name_wide[0] = L'\0';
#endif
    input_stream = nullptr;
    dump_stream = nullptr;
}

void reset_program_state() {
    reset_stream_state();
    reset_file_state();
    reset_event_state();
    reset_meta_state();
    reset_position_state();
    reset_driver_state();
    reset_program_names();
}
