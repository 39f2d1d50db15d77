#include <gtest/gtest.h>

#include "listing/meta_events.h"
#include "support/listing_harness.h"
#include "support/smf_builder.h"

using namespace smf;

namespace {
// The event lines of a format-0 file (division 96) with the given events.
std::string lines_of(const Bytes& events) { return event_lines(list_file(header(0, 1, 96) + track(events))); }
}  // namespace

TEST(MetaEvents, TextTypesTempoAndSignatures) {
    EXPECT_EQ(lines_of(meta(0, 0x03, "Piano") +                     // sequence name
                       meta(0, 0x01, "verse 1") +                   // text
                       meta(0, 0x02, "(c) us") +                    // copyright
                       meta(0, 0x06, "Coda") +                      // marker
                       event(0, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20}) +  // tempo 500000
                       event(0, {0xFF, 0x59, 2, 0xFE, 1}) +           // key: 2 flats, minor
                       event(0, {0xFF, 0x59, 2, 0, 0}) +              // key: C major
                       meta(0, 0x04, "Flute") +                     // instrument name: shown by number
                       meta(0, 0x05, "la la") +                     // lyric: shown by number
                       meta(0, 0x7F, bytes({0x00, 0x41})) +         // sequencer specific
                       end_of_track()),
              "  1T:0:0:0\t .:sequence name /Piano/\n"
              "  1T:0:0:0\t .:text/verse 1/\n"
              "  1T:0:0:0\t .:copyright /(c) us/\n"
              "  1T:0:0:0\t .:marker /Coda/\n"
              "  1T:0:0:0\t .:tempo 500000\n"
              "  1T:0:0:0\t .:key flat:2 minor\n"
              "  1T:0:0:0\t .:key sharp:0 major\n"
              "  1T:0:0:0\t .:type 4 /Flute/\n"
              "  1T:0:0:0\t .:type 5 /la la/\n"
              "  1T:0:0:0\t .:type 7f /" + bytes({0x00, 0x41}) + "/\n"
              "  1T:0:0:0\t .:end of track//\n");
}

TEST(MetaEvents, KeySignatureComparesWith128) {
    EXPECT_EQ(lines_of(event(0, {0xFF, 0x59, 2, 0x80, 0}) +  // 128 sharps, not 128 flats
                       event(0, {0xFF, 0x59, 2, 0x81, 1}) +  // 127 flats
                       event(0, {0xFF, 0x59, 2, 0xFF, 0}) +  // 1 flat
                       event(0, {0xFF, 0x59, 2, 0x07, 2}) +  // 7 sharps, mode 2
                       end_of_track()),
              "  1T:0:0:0\t .:key sharp:128 major\n"
              "  1T:0:0:0\t .:key flat:127 minor\n"
              "  1T:0:0:0\t .:key flat:1 major\n"
              "  1T:0:0:0\t .:key sharp:7 ?\n"
              "  1T:0:0:0\t .:end of track//\n");
}

TEST(MetaEvents, TimeSignatureDenominatorIsTwoToThePower) {
    EXPECT_EQ(lines_of(event(0, {0xFF, 0x58, 4, 5, 0, 23, 7}) +    // 5/1
                       event(0, {0xFF, 0x58, 4, 6, 3, 36, 8}) +    // 6/8
                       event(0, {0xFF, 0x58, 4, 3, 40, 22, 9}) +   // 3/2^40: the doubling overflows to 0
                       end_of_track()),
              "  1T:0:0:0\t .:time 5/1 metronome 23:7\n"
              "  1T:0:0:0\t .:time 6/8 metronome 36:8\n"
              "  1T:0:0:0\t .:time 3/0 metronome 22:9\n"
              "  1T:0:0:0\t .:end of track//\n");
    EXPECT_EQ(ts_numerator, 3u);
    EXPECT_EQ(ts_denominator, 0u);
}

TEST(MetaEvents, DeclaredLengthsOfFixedBodiesAreIgnored) {
    // a tempo declared as 5 bytes is read as 3; the two left over are listed as events
    EXPECT_EQ(lines_of(event(0, {0xFF, 0x51, 5, 0x01, 0x02, 0x03}) + bytes({0x00, 0x04}) + end_of_track()),
              "  1T:0:0:0\t .:tempo 66051\n"
              "  1T:0:0:0\t unknown ex(bad running status):4(hex)\n"
              "  1T:0:0:0\t .:end of track//\n");
}

TEST(MetaEvents, TextBodiesAreRawAndEndOfTrackShowsItsBody) {
    Bytes odd = bytes({'a', 0, '/', '\n', 0x07, 0xE9, '%', 's'});
    // the body's own line end breaks the line, so the listing is searched whole
    std::string listing = list_file(header(0, 1, 96) + track(meta(0, 0x01, odd) + meta(0, 0x2F, "xy")));
    EXPECT_NE(listing.find("\n  1T:0:0:0\t .:text/" + odd + "/\n"
                           "  1T:0:0:0\t .:end of track/xy/\n----"),
              std::string::npos);
}

TEST(MetaEvents, BodyCutOffByTheEndOfInputStillCloses) {
    // the length reads 4294967167 (-129) when the file ends where it belongs
    EXPECT_EQ(event_lines(list_file(header(0, 1, 96) + chunk("MTrk", 99, bytes({0x00, 0xFF, 0x01})))),
              "  1T:0:0:0\t .:text//\n");
    EXPECT_EQ(event_lines(list_file(header(0, 1, 96) + chunk("MTrk", 99, bytes({0x00, 0xFF, 0x03, 40, 'a', 'b'})))),
              "  1T:0:0:0\t .:sequence name /ab/\n");
    // no type byte at all
    EXPECT_EQ(event_lines(list_file(header(0, 1, 96) + chunk("MTrk", 99, bytes({0x00, 0xFF})))),
              "  1T:0:0:0\t .:type ffffffff //\n");
}
