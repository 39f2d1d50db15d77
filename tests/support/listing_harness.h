// Runs the listing on bytes in memory and compares listings whole, showing tabs when they differ.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "control/driver.h"  // reset_program_state

// Lists file (as if typed in as name) with fresh state and returns the whole dump.
std::string list_file(const std::string& file, const char* name = "song.mid");
// Lists file with the state as it is (for tests that prepare names or other state first).
std::string list_file_keeping_state(const std::string& file, const char* name = "song.mid");
// Reads and writes through the stream with input bytes in memory; returns what was written.
template <typename F>
std::string with_streams(const std::string& input, F&& body);
// Succeeds when the two listings are equal byte for byte; otherwise shows both with tabs made visible.
::testing::AssertionResult same_listing(const char* actual_expr, const char* expected_expr,
                                        const std::string& actual, const std::string& expected);
// The event lines of a listing: every line that starts with a track number (three places wide).
std::string event_lines(const std::string& listing);

#define EXPECT_LISTING(actual, expected) EXPECT_PRED_FORMAT2(same_listing, actual, expected)

#include "stream/byte_stream.h"

template <typename F>
std::string with_streams(const std::string& input, F&& body) {
    reset_program_state();
    std::string out;
    open_input_memory(reinterpret_cast<const unsigned char*>(input.data()), input.size());
    open_dump_memory(&out);
    body();
    flush_dump();
    return out;
}
