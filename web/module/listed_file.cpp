#include "listed_file.h"

#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control/driver.h"
#include "control/names_file.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "listing/position.h"
#include "module_memory.h"
#include "stream/byte_stream.h"

unsigned char* input_start = nullptr;
std::size_t input_size = 0;
std::vector<unsigned char> names_file_bytes;
std::vector<char> listed_file_name;
bool full_listing_made = false;
char full_listing_program_names[128][program_name_size] = {};
std::vector<char> full_listing_name;
std::uint32_t position_fields_reckoned[position_fields] = {};

// Hands a piece of the listing that starts at dump offset `offset` to the page, with the share of
// the input listed so far (0 to 1). The page may end the listing there by throwing. (JavaScript sees
// a 32-bit argument as signed: addresses and counts are made unsigned on their way.)
EM_JS(void, take_listing_piece, (const char* bytes, std::size_t n, double offset, double listed), {
    Module.takeListingPiece(bytes >>> 0, n >>> 0, offset, listed);
});

namespace {
// The share of the input listed so far.
double share_listed() {
    if (input_size == 0) return 1.0;
    return static_cast<double>(input_next - input_start) / static_cast<double>(input_size);
}

// Fills the program names from the names file in use, as the console program reads initial.txt.
void load_names() {
    if (names_file_bytes.empty()) return;  // an empty file gives no names, as one with nothing in it does
    std::FILE* file = fmemopen(names_file_bytes.data(), names_file_bytes.size(), "rb");
    if (file == nullptr) return;
    read_program_names(file);
    std::fclose(file);
}
}  // namespace

void hand_piece(const char* bytes, std::size_t n, std::uint64_t offset) {
    take_listing_piece(bytes, n, static_cast<double>(offset), share_listed());
}

void use_listing_names() {
    if (full_listing_made) {
        std::memcpy(program_name_table, full_listing_program_names, sizeof program_name_table);
        listed_name = full_listing_name.empty() ? input_name : full_listing_name.data();
    } else {
        reset_program_names();
        load_names();
        listed_name = listed_file_name.empty() ? input_name : listed_file_name.data();
    }
}

void start_listing(void (*hand_over)(const char*, std::size_t)) {
    reset_program_state();
    use_listing_names();
    open_input_memory(input_start, input_size);
    open_dump_file(nullptr);
    dump_hand_over = hand_over;
}

void keep_listing_names() {
    std::memcpy(full_listing_program_names, program_name_table, sizeof program_name_table);
    release(full_listing_name);
    if (make_room(full_listing_name, listed_file_name.size())) full_listing_name = listed_file_name;
    full_listing_made = true;
}

void forget_listed_file() {
    reset_program_state();
    std::free(input_start);
    input_start = nullptr;
    input_size = 0;
    release(listed_file_name);
    full_listing_made = false;
    release(full_listing_name);
}

const std::uint32_t* reckon_position(std::uint32_t total, std::uint32_t numerator, std::uint32_t denominator, bool seen) {
    running_total = total;
    ts_numerator = numerator;
    ts_denominator = denominator;
    time_signature_seen = seen;
    pos_measure = 0;  // a time code keeps measure and beat at 0
    pos_beat = 0;
    beat_end_total = beat_first_total;  // nothing kept from an earlier reckoning
    compute_position();
    position_fields_reckoned[position_measure] = pos_measure;
    position_fields_reckoned[position_beat] = pos_beat;
    position_fields_reckoned[position_tick] = pos_tick;
    return position_fields_reckoned;
}
