#include "control/names_file.h"

#include <cstring>

#include "control/platform.h"
#include "listing/name_tables.h"

namespace {
constexpr int piece_size = program_name_size - 1;  // characters a line piece takes at most

// The next character of the names file as text reading sees it: CR bytes are dropped wherever they
// stand and a 0x1A byte ends the file for good; EOF at the end.
int next_name_char(std::FILE* file, bool& ended) {
    if (ended) return EOF;
    int c;
    do {
        c = std::getc(file);
    } while (c == '\r');
    if (c == 0x1A || c == EOF) {
        ended = true;
        return EOF;
    }
    return c;
}

// Takes a UTF-8 byte-order mark (EF BB BF) at the very start of the file, as editors on Windows
// save one; any other first bytes are left to be read. A stream that can't go back is read as it is.
void skip_byte_order_mark(std::FILE* file) {
    long start = std::ftell(file);
    if (start != 0) return;  // the mark counts only at the file's very start
    unsigned char head[3] = {};
    if (std::fread(head, 1, sizeof head, file) == sizeof head && std::memcmp(head, "\xEF\xBB\xBF", 3) == 0) return;
    std::fseek(file, start, SEEK_SET);
}
}  // namespace

void read_program_names(std::FILE* file) {
    skip_byte_order_mark(file);
    bool ended = false;
    int count = 0;
    for (;;) {
        int c = next_name_char(file, ended);
        if (c == EOF) break;  // only a piece that starts at the end fails; a last line without a line end is read
        char piece[piece_size + 1] = {};
        int taken = 0;
        while (c != '\n') {  // the line end is not part of the piece; it is the one character consumed after it
            piece[taken++] = static_cast<char>(c);
            if (taken == piece_size) {
                next_name_char(file, ended);  // one further character, whatever it is, is consumed
                break;
            }
            c = next_name_char(file, ended);
            if (c == EOF) break;
        }
        // a zero byte counts toward the piece's length but ends the name stored
        if (piece[0] != '[' && piece[0] != '\0' && count < 128) {
            std::memcpy(program_name_table[count], piece, sizeof piece);
            ++count;
        }
    }
}

namespace {
// Fills the program-name table from file if it opened, closes it, then writes a line end to the console.
void load_from(std::FILE* file) {
    if (file != nullptr) {
        read_program_names(file);
        std::fclose(file);
    }
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
}  // namespace

void load_program_names(const char* path) { load_from(open_names_file(path)); }

#ifdef _WIN32
void load_program_names(const wchar_t* path) { load_from(open_names_file(path)); }
#endif
