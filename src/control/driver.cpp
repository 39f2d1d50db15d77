#include "control/driver.h"

#include <cstring>

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

// Reads one whitespace-delimited word from the console into input_name; returns why the word can't be
// taken as a file name (the name is then left empty), or null when it can. A cut name could open
// another file, so a word too long for the name, or one that a zero byte would cut short, is refused.
const char* read_typed_name() {
    int c;
    do {
        c = std::getchar();
    } while (is_blank(c));
    int length = 0;
    const char* refusal = nullptr;
    while (c != EOF && !is_blank(c)) {
        if (c == '\0') {
            refusal = "can't open a file name holding a zero byte.";
        } else if (length == input_name_size - 1) {
            if (refusal == nullptr) refusal = "can't open a file name longer than 99 characters.";
        } else {
            input_name[length++] = static_cast<char>(c);
        }
        c = std::getchar();
    }
    input_name[refusal != nullptr ? 0 : length] = '\0';
    return refusal;
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
    std::strcpy(program_path, full);  // NOLINT(clang-analyzer-security.insecureAPI.strcpy): both lengths were checked above
    std::strcat(program_path, name);  // NOLINT(clang-analyzer-security.insecureAPI.strcpy): both lengths were checked above
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
    const char* refusal = read_typed_name();
    say("dump output file:");
    say("default.txt\n");
    if (refusal != nullptr) {
        say(refusal);
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

void reset_program_state() {
    reset_stream_state();
    reset_file_state();
    reset_event_state();
    reset_meta_state();
    reset_position_state();
    reset_driver_state();
    reset_program_names();
}
