// Writes a large, valid Standard MIDI File for the benchmark, the same bytes on every run.
// Usage: make_big_smf <output.mid> <megabytes> [seed]    (1 megabyte = 1,048,576 bytes; 1..4000)
//        make_big_smf <output.mid> <kilobytes>K [seed]   (1 kilobyte = 1,024 bytes; 1..4096000)
// A seed other than 0 (the default) gives other notes, so that the small files of a collection differ.
//
// Format 1, 16 tracks, 480 ticks per quarter note. Track 1 holds the tempo (120 beats a minute) and a
// 4/4 time signature; tracks 2..16 each play on a channel of their own (1..15): mostly note on / note
// off under running status (a note off is a note on with velocity 0), with now and then a controller
// (volume, pan, sustain), a pitch bend or a program change, which break the running status. Delta
// times are 0..30 ticks, half of them 0. The file comes out within a few bytes of the size asked for.
//
// Memory stays small whatever the size: each track is made twice from the same seed, once only to
// count its bytes (the chunk length goes before the data), then again to write it through a small
// buffer.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int track_count = 16;
constexpr int division = 480;
constexpr std::uint64_t megabyte = 1024 * 1024;
constexpr std::uint64_t kilobyte = 1024;
constexpr long max_megabytes = 4000;  // keeps every chunk length well inside 32 bits
std::uint64_t seed_mix = 0;           // mixed into every track's seed: 0 gives the benchmark's big files

// xorshift64*: small, fast and fully determined by its seed.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed != 0 ? seed : 0x9E3779B97F4A7C15ULL) {}
    std::uint64_t next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1DULL;
    }
    // A number in 0..bound-1 (bound > 0; the slight bias of the modulo does not matter here).
    unsigned below(unsigned bound) { return static_cast<unsigned>((next() >> 32) % bound); }

private:
    std::uint64_t state_;
};

// Where the bytes go: either only counted, or counted and written to a file through a buffer.
class Sink {
public:
    explicit Sink(std::FILE* file) : file_(file) {}
    ~Sink() { flush(); }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    void put(unsigned value) {
        ++count_;
        if (file_ == nullptr) return;
        if (used_ == sizeof buffer_) flush();
        buffer_[used_++] = static_cast<unsigned char>(value);
    }
    void put_be(std::uint32_t value, int width) {
        for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) put((value >> shift) & 0xFF);
    }
    void put_text(const char* text) {
        for (; *text != '\0'; ++text) put(static_cast<unsigned char>(*text));
    }
    void put_vlq(std::uint32_t value) {
        unsigned char groups[5];
        int n = 0;
        do {
            groups[n++] = static_cast<unsigned char>(value & 0x7F);
            value >>= 7;
        } while (value != 0);
        while (n > 1) put(0x80U | groups[--n]);
        put(groups[0]);
    }
    void flush() {
        if (file_ != nullptr && used_ != 0 && std::fwrite(buffer_, 1, used_, file_) != used_) failed_ = true;
        used_ = 0;
    }
    std::uint64_t count() const { return count_; }
    bool failed() const { return failed_; }

private:
    std::FILE* file_;
    unsigned char buffer_[1 << 16];
    std::size_t used_ = 0;
    std::uint64_t count_ = 0;
    bool failed_ = false;
};

// How the events of the note tracks came out, for the summary on stderr.
struct Tally {
    std::uint64_t events = 0;
    std::uint64_t running = 0;  // channel events written without their status byte
};

// Writes channel event bytes, leaving the status byte out when it repeats the previous one.
class ChannelWriter {
public:
    ChannelWriter(Sink& sink, Tally& tally) : sink_(sink), tally_(tally) {}
    void event(std::uint32_t delta, unsigned status, int data_count, unsigned data1, unsigned data2) {
        sink_.put_vlq(delta);
        ++tally_.events;
        if (status == running_) {
            ++tally_.running;
        } else {
            sink_.put(status);
            running_ = status;
        }
        sink_.put(data1);
        if (data_count == 2) sink_.put(data2);
    }
    // A meta event ends the running status for the events after it.
    void meta(std::uint32_t delta, unsigned type, const char* text) {
        sink_.put_vlq(delta);
        sink_.put(0xFF);
        sink_.put(type);
        sink_.put_vlq(static_cast<std::uint32_t>(std::strlen(text)));
        sink_.put_text(text);
        running_ = 0;
    }

private:
    Sink& sink_;
    Tally& tally_;
    unsigned running_ = 0;
};

// The conductor track: name, tempo, time signature, end of track.
void conductor_track(Sink& sink) {
    const unsigned char body[] = {
        0x00, 0xFF, 0x03, 0x05, 'b', 'e', 'n', 'c', 'h',    // track name
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,           // tempo: 500000 microseconds a quarter
        0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08,     // time signature 4/4
        0x00, 0xFF, 0x2F, 0x00,                             // end of track
    };
    for (unsigned char b : body) sink.put(b);
}

// A delta time of 0..30 ticks, 0 half of the time.
std::uint32_t small_delta(Random& random) { return random.below(2) == 0 ? 0 : 1 + random.below(30); }

// The body of note track `track` (1..15), at least `target` bytes long before its closing events.
void note_track(Sink& sink, int track, std::uint64_t target, Tally& tally) {
    Random random((0x5EED0000ULL + static_cast<std::uint64_t>(track) * 0x9E3779B97F4A7C15ULL) ^
                  (seed_mix * 0xD1B54A32D192ED03ULL));
    const unsigned channel = static_cast<unsigned>(track - 1);
    const unsigned note_on = 0x90 | channel;
    ChannelWriter out(sink, tally);

    char name[16];
    std::snprintf(name, sizeof name, "part %d", track);
    out.meta(0, 0x03, name);
    out.event(0, 0xC0 | channel, 1, random.below(128), 0);
    out.event(0, 0xB0 | channel, 2, 7, 100);

    constexpr int max_held = 8;
    unsigned held[max_held];
    int held_count = 0;
    const std::uint64_t start = sink.count();
    while (sink.count() - start < target) {
        const std::uint32_t delta = small_delta(random);
        const unsigned roll = random.below(1000);
        if (roll < 35) {
            // a controller, a pitch bend or a program change, about 3.5% of the events
            switch (roll % 5) {
                case 0: out.event(delta, 0xB0 | channel, 2, 7, 64 + random.below(64)); break;       // volume
                case 1: out.event(delta, 0xB0 | channel, 2, 10, random.below(128)); break;          // pan
                case 2: out.event(delta, 0xB0 | channel, 2, 64, random.below(2) * 127); break;      // sustain
                case 3: {  // pitch bend near the centre; the two draws in a fixed order
                    const unsigned low = random.below(128);
                    out.event(delta, 0xE0 | channel, 2, low, 32 + random.below(64));
                    break;
                }
                default: out.event(delta, 0xC0 | channel, 1, random.below(128), 0); break;
            }
        } else if (held_count == 0 || (held_count < max_held && random.below(2) == 0)) {
            unsigned key;
            bool taken;
            do {  // a key not already sounding
                key = 36 + random.below(61);
                taken = false;
                for (int i = 0; i < held_count; ++i) taken = taken || held[i] == key;
            } while (taken);
            held[held_count++] = key;
            out.event(delta, note_on, 2, key, 1 + random.below(127));
        } else {
            const int which = static_cast<int>(random.below(static_cast<unsigned>(held_count)));
            out.event(delta, note_on, 2, held[which], 0);
            held[which] = held[--held_count];
        }
    }
    while (held_count > 0) out.event(small_delta(random), note_on, 2, held[--held_count], 0);
    sink.put(0x00);
    sink.put(0xFF);
    sink.put(0x2F);
    sink.put(0x00);
}

// Writes one track chunk: its body is made once to count it, then once more into the file.
template <typename Body>
void track_chunk(Sink& file, Body body) {
    Sink counter(nullptr);
    body(counter);
    file.put_text("MTrk");
    file.put_be(static_cast<std::uint32_t>(counter.count()), 4);
    body(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fputs("usage: make_big_smf <output.mid> <megabytes>|<kilobytes>K [seed]\n", stderr);
        return 2;
    }
    char* end = nullptr;
    errno = 0;
    const long amount = std::strtol(argv[2], &end, 10);
    const bool in_kilobytes = *end == 'K';
    if (in_kilobytes) ++end;
    const long limit = in_kilobytes ? max_megabytes * 1024 : max_megabytes;
    if (errno != 0 || end == argv[2] || *end != '\0' || amount < 1 || amount > limit) {
        std::fprintf(stderr, "make_big_smf: the size must be a whole number of megabytes from 1 to %ld, or of kilobytes "
                             "followed by K\n", max_megabytes);
        return 2;
    }
    if (argc == 4) {
        errno = 0;
        seed_mix = std::strtoull(argv[3], &end, 10);
        if (errno != 0 || end == argv[3] || *end != '\0') {
            std::fputs("make_big_smf: the seed must be a whole number\n", stderr);
            return 2;
        }
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }

    Tally tally;
    std::uint64_t written = 0;
    bool failed = false;
    {
        Sink out(file);
        out.put_text("MThd");
        out.put_be(6, 4);
        out.put_be(1, 2);  // format 1
        out.put_be(track_count, 2);
        out.put_be(division, 2);
        track_chunk(out, [](Sink& sink) { conductor_track(sink); });

        // Share what is left among the note tracks; each chunk header is 8 bytes and each track adds
        // its opening and closing events (about 40 bytes) to its target.
        const std::uint64_t total = static_cast<std::uint64_t>(amount) * (in_kilobytes ? kilobyte : megabyte);
        const std::uint64_t per_track = (total - out.count()) / (track_count - 1);
        const std::uint64_t target = per_track > 64 ? per_track - 64 : 1;
        for (int track = 1; track < track_count; ++track) {
            Tally counted;  // the counting pass tallies too; keep only the written pass
            track_chunk(out, [&](Sink& sink) { note_track(sink, track, target, &sink == &out ? tally : counted); });
        }
        out.flush();
        written = out.count();
        failed = out.failed();
    }
    if (std::fclose(file) != 0 || failed) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(stderr, "make_big_smf: %s: %llu bytes, %llu channel events, %.1f%% under running status\n",
                 argv[1], static_cast<unsigned long long>(written), static_cast<unsigned long long>(tally.events),
                 tally.events == 0 ? 0.0 : 100.0 * static_cast<double>(tally.running) / static_cast<double>(tally.events));
    return 0;
}
