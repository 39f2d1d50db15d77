// The floor for writing a listing: writes exactly <bytes> bytes of listing-like text into <file>,
// replacing what it held, through a buffer of the same size as smfdump's (256 KiB), with the same
// calls (fopen for text writing, fwrite of each full buffer, fclose). Nothing is read or reckoned.
// Usage: bare_writer <file> <bytes>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr std::size_t buffer_size = 1 << 18;
char buffer[buffer_size];  // filled once with repeated event lines
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: bare_writer <file> <bytes>\n", stderr);
        return 2;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long long left = std::strtoull(argv[2], &end, 10);
    if (errno != 0 || end == argv[2] || *end != '\0') {
        std::fputs("bare_writer: bytes must be a whole number\n", stderr);
        return 2;
    }
    const char line[] = "\n  2T:0:0:36\t o: c:1 \tF-3 ...11";
    // only as much of the buffer as the first write uses is filled (a page of it costs a fault)
    std::size_t filled = left < buffer_size ? static_cast<std::size_t>(left) : buffer_size;
    for (std::size_t i = 0; i < filled; ++i) buffer[i] = line[i % (sizeof line - 1)];

    std::FILE* file = std::fopen(argv[1], "w");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    bool failed = false;
    while (left > 0 && !failed) {
        std::size_t part = left < buffer_size ? static_cast<std::size_t>(left) : buffer_size;
        failed = std::fwrite(buffer, 1, part, file) != part;
        left -= part;
    }
    if (std::fclose(file) != 0 || failed) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
