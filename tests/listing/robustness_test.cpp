// Any bytes at all are listed to the closing line, with output bounded by the input's size: every cut
// of whole files, single changed bytes in their header and first events, and a few files whose lengths
// and counts would run for billions of items if nothing stopped them at the end of the input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "support/listing_harness.h"
#include "support/smf_builder.h"

using namespace smf;

namespace {
// The most output a listing may write for an input of size bytes: 64 bytes per input byte plus 16 MiB.
std::size_t listing_bound(std::size_t size) { return 64 * size + (std::size_t{16} << 20); }

// Succeeds when the listing of an input of size bytes stays within the bound and ends with its
// closing separator and line.
::testing::AssertionResult bounded_and_closed(const std::string& listing, std::size_t size, const std::string& name) {
    if (listing.size() > listing_bound(size)) {
        return ::testing::AssertionFailure() << "a listing of " << listing.size() << " bytes for " << size
                                             << " input bytes";
    }
    if (!listing.ends_with("\n----------------------\nend of " + name + "\n")) {
        std::size_t tail = std::min<std::size_t>(listing.size(), 80);
        return ::testing::AssertionFailure() << "no closing line; the listing ends with: "
                                             << listing.substr(listing.size() - tail);
    }
    return ::testing::AssertionSuccess();
}

// A named whole file to cut and change.
struct Sample {
    const char* name;
    Bytes file;
};

// A track with every channel event kind, under its own status and under running status.
Bytes channel_events() {
    return event(0, {0xC5, 0}) +        // program change, channel 6
           event(0, {0xB5, 7, 100}) +   // channel volume
           event(0, {10, 64}) +         // running status: pan
           event(0, {0x95, 60, 100}) +  // note on C 5
           event(240, {64, 90}) +       // running status: note on E 5
           event(240, {0x85, 60, 64}) + // note off
           event(0, {0xA5, 60, 32}) +   // polyphonic pressure
           event(0, {0xD5, 48}) +       // channel pressure
           event(0, {49}) +             // running status
           event(960, {0xE5, 0, 64}) +  // pitch bend
           end_of_track();
}

// A track with the meta events and every system event kind.
Bytes conductor_events() {
    return meta(0, 0x03, "Tune") +                   // sequence name
           event(0, {0xFF, 0x58, 4, 3, 2, 24, 8}) +  // time 3/4
           event(0, {0xFF, 0x51, 3, 7, 161, 32}) +   // tempo 500000
           event(0, {0xFF, 0x59, 2, 1, 0}) +         // key: 1 sharp, major
           event(0, {0xF0, 3, 0x7E, 0x7F, 0xF7}) +   // system exclusive
           event(0, {0xF7, 1, 0xF7}) +               // system exclusive, continued
           event(0, {0xF1, 5}) +                     // time code quarter frame
           event(0, {0xF2, 0, 8}) +                  // song position
           event(0, {0xF3, 2}) +                     // song select
           event(0, {0xFE}) +                        // unhandled system status
           meta(0, 0x05, "la") +                     // lyric
           end_of_track();
}

// The whole files every sweep starts from.
std::vector<Sample> samples() {
    return {
        {"format1.mid", header(1, 3, 480) + track(conductor_events()) + track(channel_events()) +
                            track(channel_events())},
        {"format0.mid", header(0, 1, 96) + track(conductor_events() + channel_events())},
        {"format2.mid", header(2, 2, 0xE728) + track(channel_events()) + track(conductor_events())},  // time code
    };
}
}  // namespace

TEST(Robustness, EveryCutOfAWholeFileIsListedToItsClosingLine) {
    for (const Sample& sample : samples()) {
        for (std::size_t n = 0; n < sample.file.size(); ++n) {
            ASSERT_TRUE(bounded_and_closed(list_file(sample.file.substr(0, n), sample.name), n, sample.name))
                << sample.name << " cut to " << n << " bytes";
        }
    }
}

TEST(Robustness, EveryChangedByteOfTheHeaderAndFirstEventsIsListedToItsClosingLine) {
    constexpr std::size_t swept = 48;  // the header chunk, the first track's header and its first events
    for (const Sample& sample : samples()) {
        for (std::size_t at = 0; at < std::min(swept, sample.file.size()); ++at) {
            int was = static_cast<unsigned char>(sample.file[at]);
            for (int value : {0x00, 0x7F, 0x80, 0xFF, (was + 1) & 0xFF}) {
                Bytes changed = sample.file;
                changed[at] = static_cast<char>(value);
                ASSERT_TRUE(bounded_and_closed(list_file(changed, sample.name), changed.size(), sample.name))
                    << sample.name << " with byte " << at << " changed from " << was << " to " << value;
            }
        }
    }
}

TEST(Robustness, LengthsAndCountsRunningPastTheEndStopThere) {
    struct Case {
        const char* what;
        Bytes file;
    };
    const Case cases[] = {
        {"system exclusive of length 0x0FFFFFFF in a 28-byte file",
         header(0, 1, 96) + chunk("MTrk", 6, vlq(0) + bytes({0xF0}) + vlq(0x0FFFFFFF))},
        {"meta length read as -129: the file ends where it belongs",
         header(0, 1, 96) + chunk("MTrk", 4, vlq(0) + bytes({0xFF, 0x01}))},  // text, no length
        {"track count with both bytes missing",
         chunk("MThd", 6, be(1, 2))},  // format 1, then the end
        {"track count with its second byte missing",
         chunk("MThd", 6, be(1, 2) + bytes({16}))},  // format 1, count 16 * 256 - 1
        {"track count with its second byte missing, read as 4294967295",
         chunk("MThd", 6, be(2, 2) + bytes({0}))},  // format 2, count 0 * 256 - 1
    };
    for (const Case& c : cases) {
        std::string listing = list_file(c.file, "tiny.mid");
        EXPECT_TRUE(bounded_and_closed(listing, c.file.size(), "tiny.mid")) << c.what;
        EXPECT_LT(listing.size(), 1024u) << c.what;  // the preamble, the header and at most one short track
    }
}

TEST(Robustness, EachOf65535MissingTracksIsOneBlock) {
    Bytes file = header(1, 65535, 96);  // 14 bytes: every track is past the end of the input
    ASSERT_EQ(file.size(), 14u);
    std::string listing = list_file(file, "empty-tracks.mid");
    EXPECT_TRUE(bounded_and_closed(listing, file.size(), "empty-tracks.mid"));
    std::size_t blocks = 0;
    for (std::size_t at = listing.find("\ntrack:"); at != std::string::npos; at = listing.find("\ntrack:", at + 1)) {
        ++blocks;
    }
    EXPECT_EQ(blocks, 65535u);
    EXPECT_GT(listing.size(), 65535u * 100);  // about 9 MB: each block a few lines long
}
