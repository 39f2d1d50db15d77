#include "listing/name_tables.h"

#include <cstring>

const char controller_name_table[128][controller_name_size] = {
    "bank sel MSB",      // 0
    "mod  MSB",          // 1 (two spaces, as it always was)
    "breath MSB",        // 2
    "",                  // 3
    "foot MSB",          // 4
    "portamento MSB",    // 5
    "data entry MSB",    // 6
    "ch vol MSB",        // 7
    "balance MSB",       // 8
    "",                  // 9
    "pan MSB",           // 10
    "expression MSB",    // 11
    "efect 1 MSB",       // 12
    "efect 2 MSB",       // 13
    "",                  // 14
    "",                  // 15
    "general 1 MSB",     // 16
    "general 2 MSB",     // 17
    "general 3 MSB",     // 18
    "general 4 MSB",     // 19
    "", "", "", "", "", "", "", "", "", "", "", "",  // 20..31
    "bank sel LSB",      // 32
    "mod LSB",           // 33
    "breath LSB",        // 34
    "",                  // 35
    "foot LSB",          // 36
    "portamento LSB",    // 37
    "data entry LSB",    // 38
    "ch vol LSB",        // 39
    "balance LSB",       // 40
    "",                  // 41
    "pan LSB",           // 42
    "expression LSB",    // 43
    "efect 1 LSB",       // 44
    "efect 2 LSB",       // 45
    "",                  // 46
    "",                  // 47
    "general 1 LSB",     // 48
    "general 2 LSB",     // 49
    "general 3 LSB",     // 50
    "general 4 LSB",     // 51
    "", "", "", "", "", "", "", "", "", "", "", "",  // 52..63
    "hold 1",            // 64
    "portamento sw",     // 65
    "sostenuto",         // 66
    "soft",              // 67
    "legat foot sw",     // 68
    "hold 2",            // 69
    "sound variation",   // 70
    "timbre/harmonic",   // 71
    "release t",         // 72
    "attack t",          // 73
    "brightness",        // 74
    "decay t",           // 75
    "vibrato rate",      // 76
    "vibrato depth",     // 77
    "vibrato delay",     // 78
    "sound cont. 10",    // 79
    "general 5",         // 80
    "general 6",         // 81
    "general 7",         // 82
    "general 8",         // 83
    "portamento cont.",  // 84
    "", "", "", "", "", "",  // 85..90
    "effect 1 depth(reverb send)",  // 91
    "effect 2 depth(tremolo)",      // 92
    "effect 3 depth(chorus)",       // 93
    "effect 4 depth(celeste)",      // 94
    "effect 5 depth(phather)",      // 95
    "inc.",              // 96
    "dec.",              // 97
    "NRPN LSB",          // 98
    "NRPN MSB",          // 99
    "RPN LSB",           // 100
    "RPN MSB",           // 101
    // 102..127 are empty
};

char program_name_table[128][program_name_size];

const char* controller_name(std::int32_t k) {
    return (k >= 0 && k < 128) ? controller_name_table[k] : "";
}

const char* program_name(std::int32_t p) { return (p >= 0 && p < 128) ? program_name_table[p] : ""; }

void reset_program_names() { std::memset(program_name_table, 0, sizeof program_name_table); }
