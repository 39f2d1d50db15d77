#include "control/driver.h"

#include <cstring>
#include <cwchar>
#include <iterator>

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

namespace {
// True for the bytes that separate words typed at the prompt.
bool is_blank(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Writes text to the console.
void say(const char* text) { std::fputs(text, stdout); }

// Reads one whitespace-delimited word from the console into input_name (on a Windows console, as wide
// characters, then into input_name in the ANSI page); returns why the word can't be taken as a file name
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
            keep_typed_char(wide, input_name, length++, c);
        }
        c = next_typed_char(wide);
    }
    keep_typed_char(wide, input_name, refusal != nullptr ? 0 : length, '\0');
    finish_typed_name(wide, input_name, sizeof input_name);
    return refusal;
}

// Finds the program's directory, shows it and loads the program names from the names file in it; all
// in the characters the platform names files by, so that on Windows a folder the ANSI page can't name
// still holds the names file.
void load_names_beside_program() {
    path_char full[4096];
    executable_path(full, std::size(full));
    bool has_directory = program_directory(full);
    say_path(full);
    say("\n");
    std::fflush(stdout);
    // with no directory at all, the names file is looked for in the working directory
    const path_char* name = has_directory ? names_file_name : names_file_name + 1;
    const path_char* names_path = keep_program_path(full, name, program_path, sizeof program_path);
    if (names_path == nullptr) {
        say("initial.txt not loaded: the program's directory is too long.\n");
        std::fflush(stdout);
        return;
    }
    load_program_names(names_path);
}
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

bool program_directory(wchar_t* path) {
    wchar_t* last = std::wcsrchr(path, static_cast<wchar_t>(path_separator));
    if (last == nullptr) {
        path[0] = L'\0';
        return false;
    }
    *last = L'\0';
    return true;
}

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
    input_stream = open_typed_name(input_name);
    if (input_stream == nullptr) {
        say("can't open ");
        say_typed_name(input_name);
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
    wait_on_own_console();
    return status;
}

void reset_driver_state() {
    program_path[0] = '\0';
    input_name[0] = '\0';
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
    reset_platform_state();
    reset_program_names();
}
