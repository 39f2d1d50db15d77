// Times the SoundFont reader on one file: loads it into memory once, reads it ROUNDS times, and prints
// the median of the reads, the time the load took, the process's peak memory and what was read, with
// a digest of the tables (FNV-1a over their bytes, as tests/web/soundfont_module.mjs computes it from
// the WebAssembly build's).
//
//   soundfont_bench FILE [ROUNDS]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "soundfont.h"

namespace {
// Seconds since an arbitrary start, from a steady clock.
double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// FNV-1a (32 bits) of n bytes at p, going on from hash.
std::uint32_t fnv1a(std::uint32_t hash, const void* p, std::size_t n) {
    const auto* bytes = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

// The digest of the last read's tables: presets, their names, region words and values, samples, in that order.
std::uint32_t tables_digest() {
    std::uint32_t hash = 2166136261u;
    hash = fnv1a(hash, soundfont_presets.data(), soundfont_presets.size() * sizeof(std::uint32_t));
    hash = fnv1a(hash, soundfont_preset_names.data(), soundfont_preset_names.size());
    hash = fnv1a(hash, soundfont_region_words.data(), soundfont_region_words.size() * sizeof(std::uint32_t));
    hash = fnv1a(hash, soundfont_region_values.data(), soundfont_region_values.size() * sizeof(float));
    return fnv1a(hash, soundfont_samples.data(), soundfont_samples.size() * sizeof(std::uint32_t));
}

// The process's peak resident memory in MiB.
double peak_mib() {
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}
}  // namespace

// Loads the file named by the first argument and reads it as many times as the second says (5).
int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: soundfont_bench FILE [ROUNDS]\n");
        return 2;
    }
    int rounds = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;
    double loading = now();
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<unsigned char> bytes;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long size = std::ftell(file);
        if (size > 0) bytes.resize(static_cast<std::size_t>(size));  // as the page holds it: one block of the file's size
        std::rewind(file);
    }
    std::size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (got != bytes.size()) {
        std::fprintf(stderr, "%s: could not be read whole\n", argv[1]);
        return 1;
    }
    loading = now() - loading;
    double peak_loaded = peak_mib();

    std::vector<double> times;
    const char* fault = nullptr;
    for (int r = 0; r < rounds; ++r) {
        double start = now();
        fault = read_soundfont(bytes.data(), bytes.size());
        times.push_back(now() - start);
    }
    std::sort(times.begin(), times.end());
    if (fault != nullptr) std::printf("read: %s\n", fault);
    std::printf("file: %s, %zu bytes, \"%s\", version %u.%u\n", argv[1], bytes.size(), soundfont_name,
                soundfont_version_major, soundfont_version_minor);
    std::printf("read: %zu presets, %zu regions, %zu samples, %u modulators of its own, %u regions dropped, %u loops mended\n",
                soundfont_presets.size() / preset_fields, soundfont_region_words.size() / region_word_fields,
                soundfont_samples.size() / sample_fields, soundfont_modulator_count, soundfont_regions_dropped,
                soundfont_loops_mended);
    if (soundfont_remark[0] != '\0') std::printf("remark: %s\n", soundfont_remark);
    std::printf("tables: %08x\n", tables_digest());
    std::printf("load into memory: %.1f ms; read (median of %d): %.2f ms (fastest %.2f, slowest %.2f)\n", loading * 1e3,
                rounds, times[times.size() / 2] * 1e3, times.front() * 1e3, times.back() * 1e3);
    std::printf("peak memory: %.1f MiB (%.1f MiB of it with the file loaded, before reading)\n", peak_mib(), peak_loaded);
    return fault == nullptr ? 0 : 1;
}
