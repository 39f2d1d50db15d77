#include "control/driver.h"

#include <cstring>

#include "control/names_file.h"
#include "control/platform.h"
#include "listing/file_structure.h"
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

// Reads one whitespace-delimited word from the console into input_name; false when it is longer than
// the name can hold (the rest of the word is read and dropped, the name left empty).
bool read_typed_name() {
    int c;
    do {
        c = std::getchar();
    } while (is_blank(c));
    int length = 0;
    bool too_long = false;
    while (c != EOF && !is_blank(c)) {
        if (length < input_name_size - 1) {
            input_name[length++] = static_cast<char>(c);
        } else {
            too_long = true;
        }
        c = std::getchar();
    }
    input_name[too_long ? 0 : length] = '\0';
    return !too_long;
}

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
    std::strcpy(program_path, full);
    std::strcat(program_path, name);
    load_program_names(program_path);
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

int open_files() {
    say("input *.mid file:");
    std::fflush(stdout);  // the prompt must show before the read waits
    bool name_fits = read_typed_name();
    say("dump output file:");
    say("default.txt\n");
    if (!name_fits) {
        say("can't open a file name longer than 99 characters.");  // a cut name could open another file
        return 0;
    }
    input_stream = open_midi_file(input_name);
    if (input_stream == nullptr) {
        say("can't open ");
        say(input_name);
        say(".");
        return 0;
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
    input_stream = nullptr;
    dump_stream = nullptr;
}
