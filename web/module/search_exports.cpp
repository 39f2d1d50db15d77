// The page's entry points for searching the listing: the whole listing is made again, as the last full
// listing made it, and its pieces searched where they lie, so that no listing is ever held whole. Each
// function here is called from JavaScript.
#include "search_exports.h"

#include <emscripten.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "listed_file.h"
#include "listing/file_structure.h"
#include "module_memory.h"
#include "stream/byte_stream.h"

namespace {
std::vector<double> found_offsets;            // dump offsets of the matches of the last search (the first found_offsets_kept)
std::uint64_t found_count = 0;                // matches of the last search, all of them
std::vector<unsigned char> search_text;       // what the last search looked for, ASCII letters in lower case
std::vector<unsigned char> search_carry;      // the last bytes before the piece in hand (and its first), folded, for matches across pieces
std::size_t search_anchor = 0;                // the index in search_text of the byte a search scans for: one seldom in listings
std::uint64_t search_anchor_words[2] = {};    // that byte in lower and in upper case, in each byte of a word
bool search_ignores_case = true;              // whether searches take ASCII letters in either case (web_search_ignore_case)

constexpr std::size_t found_offsets_kept = 1000000;  // matches whose place a search keeps

// A byte as searches compare it: ASCII capitals in lower case while searches ignore the case of Latin
// letters, else as it is.
unsigned char folded(unsigned char c) {
    return search_ignores_case && c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

// Counts a match at dump offset `at`, keeping its offset while there is room.
void found_at(std::uint64_t at) {
    ++found_count;
    if (found_offsets.size() < found_offsets_kept && make_room(found_offsets)) found_offsets.push_back(static_cast<double>(at));
}

// The first byte from `from` on (before `end`) that is the search's anchor byte in either case; end
// when there is none. Eight bytes are looked at together: a byte equal to the anchor is a zero byte
// of the word xor the anchor repeated, and the lowest zero byte of a little-endian word is the first.
const unsigned char* next_anchor(const unsigned char* from, const unsigned char* end) {
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t highs = 0x8080808080808080;
    while (end - from >= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, from, 8);
        std::uint64_t a = word ^ search_anchor_words[0];
        std::uint64_t b = word ^ search_anchor_words[1];
        std::uint64_t zero = ((a - ones) & ~a & highs) | ((b - ones) & ~b & highs);
        if (zero != 0) return from + std::countr_zero(zero) / 8;
        from += 8;
    }
    auto lower = static_cast<unsigned char>(search_anchor_words[0]);
    auto upper = static_cast<unsigned char>(search_anchor_words[1]);
    while (from < end && *from != lower && *from != upper) ++from;
    return from;
}

// Counts the matches of search_text in a piece of the dump, keeping their offsets. The piece is
// searched where it lies; only the few bytes around its start, where a match may begin in the piece
// before, are folded into search_carry.
void search_piece(const char* bytes, std::size_t n) {
    const auto* piece = reinterpret_cast<const unsigned char*>(bytes);
    std::size_t length = search_text.size();
    std::uint64_t offset = dump_handed_over_total;
    // matches that begin in the last bytes of the piece before and end in this one
    std::size_t carried = search_carry.size();
    for (std::size_t i = 0; i < std::min(n, length - 1); ++i) search_carry.push_back(folded(piece[i]));
    for (std::size_t s = 0; s < carried && s + length <= search_carry.size(); ++s) {
        if (std::equal(search_text.begin(), search_text.end(), search_carry.begin() + static_cast<std::ptrdiff_t>(s))) {
            found_at(offset - carried + s);
        }
    }
    // matches wholly within this piece: the bytes looked at move on by what their last one allows
    // (most bytes of a listing are in no search, and move them on by the whole length), so that only
    // a share of the piece is read, and only candidates are folded whole
    // matches wholly within this piece: only where the anchor byte stands is the text compared
    if (n >= length) {
        const unsigned char* wanted = search_text.data();
        const unsigned char* anchor = piece + search_anchor;
        const unsigned char* anchor_end = piece + n - (length - 1 - search_anchor);
        while ((anchor = next_anchor(anchor, anchor_end)) < anchor_end) {
            const unsigned char* at = anchor - search_anchor;
            std::size_t i = 0;
            while (i < length && folded(at[i]) == wanted[i]) ++i;
            if (i == length) found_at(offset + static_cast<std::size_t>(at - piece));
            ++anchor;
        }
    }
    // the last length - 1 bytes so far, where a match may begin that ends in the next piece
    if (n >= length - 1) {
        search_carry.clear();
        for (std::size_t i = n - (length - 1); i < n; ++i) search_carry.push_back(folded(piece[i]));
    } else if (search_carry.size() > length - 1) {
        search_carry.erase(search_carry.begin(), search_carry.end() - static_cast<std::ptrdiff_t>(length - 1));
    }
    hand_piece(bytes, n, offset);  // for the progress shown
}
}  // namespace

void forget_search() {
    release(found_offsets);
    found_count = 0;
    release(search_text);
    release(search_carry);
}

extern "C" {

// Searches the whole listing (as the last full listing listed it) for `length` bytes at `text` (ASCII
// letters in any case, unless web_search_ignore_case said otherwise), handing the pieces over for progress; returns the number of matches, whose
// offsets web_found_offsets tells of.
EMSCRIPTEN_KEEPALIVE double web_search(const unsigned char* text, std::size_t length) {
    release(search_text);
    if (!make_room(search_text, length)) length = 0;  // nothing can be looked for
    search_text.assign(text, text + length);
    for (auto& c : search_text) c = folded(c);
    search_carry.clear();
    found_offsets.clear();
    found_count = 0;
    // a byte found last moves the search on to line it up with its last place in the text but the
    // text's last; a byte not in the text, past it
    // the anchor: the text's first byte that is not among those that fill most of a listing (the
    // line heads' digits, spaces, tabs and colons, the labels "o: c:", "x: c:", the dots of
    // velocities, the note names' underscores and dashes), or its first byte when all of them are
    search_anchor = 0;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = search_text[i];
        bool common = (c >= '0' && c <= '9') || std::strchr(" \t:.cotx_-", c) != nullptr;
        if (!common) {
            search_anchor = i;
            break;
        }
    }
    if (length > 0) {
        unsigned char c = search_text[search_anchor];
        unsigned char other = search_ignores_case && c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
        search_anchor_words[0] = c * std::uint64_t(0x0101010101010101);
        search_anchor_words[1] = other * std::uint64_t(0x0101010101010101);
    }
    if (length > 0) {
        start_listing(search_piece);
        dump_file();
        flush_dump();
    }
    return static_cast<double>(found_count);
}

// Whether the searches from now on take ASCII letters in either case (not 0) or only as given (0):
// the page searches for text in an encoding whose characters may hold bytes that are ASCII letters
// (Shift_JIS, say) as given, so that one such character is not found for another.
EMSCRIPTEN_KEEPALIVE void web_search_ignore_case(std::uint32_t ignore) { search_ignores_case = ignore != 0; }

// The offsets of the last search's matches (the first of them all): address, then count in web_found_count.
EMSCRIPTEN_KEEPALIVE const double* web_found_offsets() { return found_offsets.data(); }
// How many offsets web_found_offsets holds.
EMSCRIPTEN_KEEPALIVE std::uint32_t web_found_kept() { return static_cast<std::uint32_t>(found_offsets.size()); }
}
