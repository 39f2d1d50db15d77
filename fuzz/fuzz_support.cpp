#include "fuzz_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control/driver.h"
#include "listing/file_structure.h"
#include "stream/byte_stream.h"

std::FILE* listing_sink = nullptr;
std::size_t listing_written = 0;
std::size_t listing_input_size = 0;
char listing_tail[listing_tail_size] = {};
std::size_t listing_tail_used = 0;

namespace {
constexpr std::size_t blocks_past_end_kept = 4;  // track blocks listed after the end of the input, at most

// True for the bytes the identifier read skips before a word and stops at after it: space, tab, LF, VT, FF, CR.
bool is_white_space(std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The big-endian 16-bit value at p.
std::uint32_t be16(const std::uint8_t* p) { return std::uint32_t{p[0]} << 8 | p[1]; }

// Writes why the run stops and aborts, so that libFuzzer keeps the input as a finding.
[[noreturn]] void fail(const char* what, std::size_t size, std::size_t written) {
    std::fprintf(stderr, "smfdump fuzz: %s (input %zu bytes, listing %zu bytes)\n", what, size, written);
    std::abort();
}

// The sink's write: counts the bytes, keeps the last listing_tail_size of them, and stops the run
// once the listing has passed its bound.
ssize_t count_and_keep_tail(void*, const char* buffer, std::size_t len) {
    listing_written += len;
    if (listing_written > listing_bound(listing_input_size)) {
        fail("listing longer than 64 bytes per input byte plus 16 MiB", listing_input_size, listing_written);
    }
    if (len >= listing_tail_size) {
        std::memcpy(listing_tail, buffer + len - listing_tail_size, listing_tail_size);
        listing_tail_used = listing_tail_size;
    } else {
        std::size_t keep = std::min(listing_tail_used, listing_tail_size - len);  // older bytes still in view
        std::memmove(listing_tail, listing_tail + listing_tail_used - keep, keep);
        std::memcpy(listing_tail + keep, buffer, len);
        listing_tail_used = keep + len;
    }
    return static_cast<ssize_t>(len);
}

// Opens the counting sink the first time it is needed; it stays open for the whole run.
void open_listing_sink() {
    if (listing_sink != nullptr) return;
    cookie_io_functions_t functions = {};
    functions.write = count_and_keep_tail;
    listing_sink = fopencookie(nullptr, "w", functions);
    if (listing_sink == nullptr) fail("fopencookie failed", 0, 0);
    std::setvbuf(listing_sink, nullptr, _IONBF, 0);  // the dump writer buffers already
}
}  // namespace

void list_counted(const std::uint8_t* data, std::size_t size, const char* name) {
    open_listing_sink();
    std::strncpy(input_name, name, sizeof input_name - 1);
    listing_written = 0;
    listing_input_size = size;
    listing_tail_used = 0;
    open_input_memory(data, size);
    open_dump_file(listing_sink);
    dump_file();
    flush_dump();
    if (dump_failed) fail("the listing could not be written", size, listing_written);
    dump_output = nullptr;
}

void check_listing(std::size_t size, const char* name) {
    std::string closing = std::string("\n----------------------\nend of ") + name + "\n";
    if (closing.size() > listing_tail_used ||
        std::memcmp(listing_tail + listing_tail_used - closing.size(), closing.data(), closing.size()) != 0) {
        fail("listing does not end with its closing line", size, listing_written);
    }
}

std::size_t track_count_offset(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size && is_white_space(data[i])) ++i;
    if (i < size) {
        ++i;  // the identifier's first byte, whatever it is
        for (int taken = 1; taken < 4 && i < size && data[i] != 0 && !is_white_space(data[i]); ++taken) ++i;
    }
    std::size_t offset = i + 6;
    return offset + 2 <= size ? offset : size;
}

std::size_t lower_track_count(std::uint8_t* data, std::size_t size) {
    std::size_t count_at = track_count_offset(data, size);
    if (count_at < size) {
        std::uint32_t format = be16(&data[count_at - 2]);
        std::size_t most = (size - (count_at + 2)) / 6 + 1 + blocks_past_end_kept;  // tracks worth listing
        if ((format == 1 || format == 2) && be16(&data[count_at]) > most) {
            data[count_at] = static_cast<std::uint8_t>(most >> 8);
            data[count_at + 1] = static_cast<std::uint8_t>(most & 0xFF);
        }
    }
    return count_at;
}
