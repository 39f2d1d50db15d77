#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control/driver.h"
#include "listing/file_structure.h"
#include "stream/byte_stream.h"

std::string fuzz_listing;

namespace {
// Writes why the run stops and aborts, so that libFuzzer keeps the input as a finding.
[[noreturn]] void fail(const char* what, std::size_t size, std::size_t written) {
    std::fprintf(stderr, "smfdump fuzz: %s (input %zu bytes, listing %zu bytes)\n", what, size, written);
    std::abort();
}
}  // namespace

void list_into(std::string& out, const std::uint8_t* data, std::size_t size, const char* name) {
    std::strncpy(input_name, name, sizeof input_name - 1);
    out.clear();
    open_input_memory(data, size);
    open_dump_memory(&out);
    dump_file();
    flush_dump();
    dump_capture = nullptr;
}

void check_listing(const std::string& out, std::size_t size, const char* name) {
    if (out.size() > listing_bound(size)) fail("listing longer than 64 bytes per input byte plus 16 MiB", size, out.size());
    std::string closing = std::string("\n----------------------\nend of ") + name + "\n";
    if (!out.ends_with(closing)) fail("listing does not end with its closing line", size, out.size());
}
