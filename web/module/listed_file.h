// The MIDI file the page listed last, and what every listing of it shares: its bytes, the names file
// and name in use, and the names its full listing was made with, so that every listing made again and
// every search repeats that listing even after the page gave other names for the next one. The page's
// exports (listing_exports.cpp, search_exports.cpp, roll_exports.cpp, names_exports.cpp) list it
// through the functions here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "listing/name_tables.h"

extern unsigned char* input_start;                 // the MIDI file being listed (from allocate_bytes), or null
extern std::size_t input_size;                     // its size in bytes
extern std::vector<unsigned char> names_file_bytes;  // the names file in use: the user's or the built-in one
extern std::vector<char> listed_file_name;         // the file's name as the page gives it, terminated (empty: none given)
// What the last full listing of the input listed with:
extern bool full_listing_made;                                         // whether the input has been listed in full
extern char full_listing_program_names[128][program_name_size];        // its program names
extern std::vector<char> full_listing_name;                            // its file name, terminated (empty: none given)

// The words of a position handed to the page (web_position, web_note_position), in their order.
enum Position_field : std::uint32_t { position_measure, position_beat, position_tick, position_fields };
extern std::uint32_t position_fields_reckoned[position_fields];  // the position reckoned last, as Position_field lays it out

// Hands the page a piece of the listing that starts at dump offset `offset`, with the share of the
// input listed so far; the page may end the listing there by throwing.
void hand_piece(const char* bytes, std::size_t n, std::uint64_t offset);
// Starts a listing of the input afresh: every state reset, the names put in place (those of the full
// listing once there is one), the dump handed to hand_over.
void start_listing(void (*hand_over)(const char*, std::size_t));
// Puts the program names and file name in place that the last full listing used, or, before the
// input's first, those in use.
void use_listing_names();
// Keeps the names the full listing just started with, for the listings made again from it (without
// room for the file name, they show none).
void keep_listing_names();
// The measure, beat and tick the listing shows for a running total reckoned with the given time
// signature (numerator, denominator, whether one was seen) and the full listing's division, in
// position_fields_reckoned, which it returns.
const std::uint32_t* reckon_position(std::uint32_t total, std::uint32_t numerator, std::uint32_t denominator, bool seen);
// Forgets the file listed last: resets the listing's state and gives back its bytes, its name and the
// names its full listing used (what was gathered from it is forgotten by its own units).
void forget_listed_file();
