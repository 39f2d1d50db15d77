// The dump written into a string, for the tests and the fuzz targets.
#include "stream/byte_stream.h"

std::string* dump_capture = nullptr;

namespace {
// Appends n dump bytes to the string given to open_dump_memory, if it is still there.
void append_to_capture(const char* bytes, std::size_t n) {
    if (dump_capture != nullptr) dump_capture->append(bytes, n);
}
}  // namespace

void open_dump_memory(std::string* sink) {
    open_dump_file(nullptr);  // a dump started afresh, with no file behind it
    dump_capture = sink;
    dump_hand_over = append_to_capture;
}
