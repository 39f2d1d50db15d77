#include "support/listing_harness.h"

#include <cstring>
#include <sstream>

#include "control/driver.h"
#include "listing/file_structure.h"
#include "stream/byte_stream.h"

std::string list_file_keeping_state(const std::string& file, const char* name) {
    std::strncpy(input_name, name, sizeof input_name - 1);
    std::string out;
    open_input_memory(reinterpret_cast<const unsigned char*>(file.data()), file.size());
    open_dump_memory(&out);
    dump_file();
    flush_dump();
    dump_capture = nullptr;
    return out;
}

std::string list_file(const std::string& file, const char* name) {
    reset_program_state();
    return list_file_keeping_state(file, name);
}

namespace {
// The text with each tab shown as "→" and each line end as "¶" followed by a real line end.
std::string visible(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\t') out += "\xE2\x86\x92";
        else if (c == '\n') out += "\xC2\xB6\n";
        else if (c == '\r') out += "\\r";
        else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
            out += hex;
        } else out += c;
    }
    return out;
}
}  // namespace

::testing::AssertionResult same_listing(const char* actual_expr, const char* expected_expr,
                                        const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    std::size_t line = 1;
    for (std::size_t i = 0; i < at; ++i) line += actual[i] == '\n';
    return ::testing::AssertionFailure()
           << actual_expr << " differs from " << expected_expr << " at byte " << at << " (line " << line
           << "); tabs shown as \xE2\x86\x92, line ends as \xC2\xB6\n--- actual:\n"
           << visible(actual) << "\n--- expected:\n"
           << visible(expected);
}

std::string event_lines(const std::string& listing) {
    std::istringstream in(listing);
    std::string line, out;
    while (std::getline(in, line)) {
        bool labelled = line.size() > 4 && line[2] >= '0' && line[2] <= '9' &&
                        (line.compare(3, 2, "T:") == 0 || line.compare(3, 2, "F:") == 0);
        if (labelled) {
            out += line;
            out += '\n';
        }
    }
    return out;
}
