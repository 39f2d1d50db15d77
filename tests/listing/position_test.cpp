#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "listing/position.h"
#include "support/listing_harness.h"
#include "support/smf_builder.h"

using namespace smf;

namespace {
// The position of total ticks as measure:beat:tick, with division ticks and no time signature read.
std::string position_without_signature(std::uint32_t ticks, std::uint32_t total) {
    reset_program_state();
    division = static_cast<std::int32_t>(ticks);
    running_total = total;
    compute_position();
    return std::to_string(pos_measure) + ":" + std::to_string(pos_beat) + ":" + std::to_string(pos_tick);
}

// The position of total ticks after a time signature n/d was read, with division ticks.
std::string position(std::uint32_t ticks, std::uint32_t n, std::uint32_t d, std::uint32_t total) {
    reset_program_state();
    division = static_cast<std::int32_t>(ticks);
    ts_numerator = n;
    ts_denominator = d;
    time_signature_seen = true;
    running_total = total;
    compute_position();
    return std::to_string(pos_measure) + ":" + std::to_string(pos_beat) + ":" + std::to_string(pos_tick);
}
}  // namespace

TEST(Position, QuarterNoteBeatsInFourFour) {
    EXPECT_EQ(position(96, 4, 4, 0), "0:0:0");
    EXPECT_EQ(position(96, 4, 4, 383), "0:3:95");
    EXPECT_EQ(position(96, 4, 4, 384), "1:0:0");
    EXPECT_EQ(position(32768, 4, 4, 65536), "0:2:0");  // 32768 still counts ticks per quarter note
}

TEST(Position, QuarterNoteBeatsInThreeFour) {
    EXPECT_EQ(position(480, 3, 4, 1680), "1:0:240");
    EXPECT_EQ(position(480, 3, 4, 480), "0:1:0");
    EXPECT_EQ(position(480, 7, 4, 7 * 480 * 3 + 5 * 480 + 11), "3:5:11");
}

TEST(Position, ProductsWrapIn32BitsPastTwoToThe30) {
    // 2^30 + 5: no product exceeds 32 bits yet
    EXPECT_EQ(position(960, 4, 4, (1u << 30) + 5), "279620:1:69");
    // 2^31 + 100: beats 2236962, and beats * 960 * 4 wraps to 4294966784, a quarter of which is taken
    EXPECT_EQ(position(960, 4, 4, (1u << 31) + 100), "559240:2:1073742052");
}

TEST(Position, BeforeAnyTimeSignatureItIsFourFour) {
    EXPECT_EQ(position_without_signature(96, 383), "0:3:95");
    EXPECT_EQ(position_without_signature(96, 1000), "2:2:40");
    EXPECT_EQ(position_without_signature(960, (1u << 31) + 100), "559240:2:1073742052");
}

TEST(Position, OtherDenominatorsCountBeatsOfTheirOwnNoteValue) {
    EXPECT_EQ(position(480, 6, 8, 1000), "0:4:40");  // eighth-note beats of 240 ticks
    EXPECT_EQ(position(480, 6, 8, 6 * 240 + 1), "1:0:1");
    EXPECT_EQ(position(480, 2, 2, 2000), "1:0:80");  // half-note beats of 960 ticks
    EXPECT_EQ(position(480, 3, 8, 1000), "1:1:40");
    EXPECT_EQ(position(96, 1, 1, 1000), "2:0:232");  // whole-note beats of 384 ticks
    EXPECT_EQ(position(7, 255, 1u << 31, 4294967295u), "0:0:4294967295");  // ticks per beat below 1
    // the largest totals are reckoned exactly: 4294967295 * 16 / 384 beats, 15 ticks past the last
    EXPECT_EQ(position(96, 5, 16, 4294967295u), "35791394:0:15");
}

TEST(Position, DivisionByZeroShowsTheTotalAsTheTick) {
    EXPECT_EQ(position(0, 4, 4, 1234), "0:0:1234");          // division 0
    EXPECT_EQ(position(0, 6, 8, 1235), "0:0:1235");
    EXPECT_EQ(position_without_signature(0, 1236), "0:0:1236");
    EXPECT_EQ(position(96, 0, 4, 1237), "0:0:1237");         // numerator 0
    EXPECT_EQ(position(96, 0, 8, 1238), "0:0:1238");
    EXPECT_EQ(position(96, 3, 0, 1239), "0:0:1239");         // the denominator's doubling overflowed
    EXPECT_EQ(position(1, 3, 8, 1240), "0:0:1240");          // half a tick per beat
}

TEST(Position, TimeCodeShowsTheRunningTotal) {
    Bytes file = header(0, 1, 0xE728) +  // 25 frames of 40 ticks a second
                 track(event(0, {0xFF, 0x58, 4, 3, 2, 24, 8}) +  // a time signature changes nothing here
                       event(100000, {0x92, 48, 30}) + end_of_track(5));
    EXPECT_LISTING(event_lines(list_file(file)), "  1F:0:0:0\t .:time 3/4 metronome 24:8\n"
                                                 "  1F:0:0:100000\t o: c:3 \tC_4 ...30\n"
                                                 "  1F:0:0:100005\t .:end of track//\n");
}

TEST(Position, TimeSignatureCarriesIntoTheNextTrack) {
    Bytes file = header(1, 2, 480) + track(event(0, {0xFF, 0x58, 4, 3, 2, 24, 8}) + end_of_track()) +
                 track(event(1680, {0x90, 72, 80}) + end_of_track(480));
    EXPECT_LISTING(event_lines(list_file(file)), "  1T:0:0:0\t .:time 3/4 metronome 24:8\n"
                                                 "  1T:0:0:0\t .:end of track//\n"
                                                 "  2T:1:0:240\t o: c:1 \tC_6 ...80\n"
                                                 "  2T:1:1:240\t .:end of track//\n");
}

// Lines within one beat reuse the text of their measure and beat; a time signature between them, or
// the next track, must not leave a stale one.
TEST(LinePrefix, KeptMeasureAndBeatRenewedAfterATimeSignatureAndInTheNextTrack) {
    Bytes file = header(1, 2, 480) +
                 track(event(0, {0x90, 60, 1}) + event(100, {70, 2}) +  // beat 0 of 4/4
                       event(0, {0xFF, 0x58, 4, 3, 3, 24, 8}) +        // 3/8: the beat is 240 ticks now
                       event(150, {0x90, 61, 3}) + event(20, {62, 4}) + event(500, {63, 5}) + end_of_track()) +
                 track(event(770, {0x91, 64, 6}) + event(0, {65, 7}) + end_of_track());
    EXPECT_LISTING(event_lines(list_file(file)), "  1T:0:0:0\t o: c:1 \tC_5 ...1\n"
                                                 "  1T:0:0:100\t o: c:1 \tA#-5 ...2\n"
                                                 "  1T:0:0:100\t .:time 3/8 metronome 24:8\n"
                                                 "  1T:0:1:10\t o: c:1 \tC#_5 ...3\n"
                                                 "  1T:0:1:30\t o: c:1 \tD-5 ...4\n"
                                                 "  1T:1:0:50\t o: c:1 \tD#-5 ...5\n"
                                                 "  1T:1:0:50\t .:end of track//\n"
                                                 "  2T:1:0:50\t o: c:2 \tE_5 ...6\n"
                                                 "  2T:1:0:50\t o: c:2 \tF-5 ...7\n"
                                                 "  2T:1:0:50\t .:end of track//\n");
}

TEST(LinePrefix, TrackNumberTakesThreePlacesOrMore) {
    std::string out = with_streams("", [] {
        division = 96;
        current_track = 7;
        running_total = 97;
        show_line_prefix();
        current_track = 12345;
        std::memcpy(position_label, "F:", 3);
        division = 40000;
        show_line_prefix();
    });
    EXPECT_EQ(out, "  7T:0:1:112345F:0:1:97");
}

TEST(Position, BeatKeptFromTheLastLineGivesWhatAFullReckoningGives) {
    // (division, numerator, denominator); a numerator of 0 here stands for "no signature read yet"
    const std::uint32_t signatures[][3] = {{96, 0, 4},  {480, 3, 4}, {960, 4, 4}, {480, 6, 8},   {480, 5, 16},
                                           {7, 3, 8},   {480, 2, 2}, {1, 7, 4},   {3, 3, 64},    {32768, 9, 4},
                                           {0, 4, 4},   {96, 4, 0},  {5, 1, 1},   {96, 255, 128}};
    for (auto& s : signatures) {
        reset_program_state();
        division = static_cast<std::int32_t>(s[0]);
        ts_numerator = s[1];
        ts_denominator = s[2];
        time_signature_seen = s[1] != 0;
        std::uint32_t total = 0;
        std::uint32_t step = 1;
        for (int i = 0; i < 3000; ++i) {
            // totals rising by small and large steps, wrapping past 2^32, and now and then going back
            total += (i % 7 == 6) ? 0u - step : step;
            step = step < (1u << 29) ? step * 3 + 1 : static_cast<std::uint32_t>(i % 50);
            running_total = total;
            compute_position();  // may use the beat kept from the total before
            std::string kept = std::to_string(pos_measure) + ":" + std::to_string(pos_beat) + ":" + std::to_string(pos_tick);
            reset_position_state();  // forget the kept beat and reckon in full
            compute_position();
            std::string full = std::to_string(pos_measure) + ":" + std::to_string(pos_beat) + ":" + std::to_string(pos_tick);
            ASSERT_EQ(kept, full) << "division " << s[0] << ", " << s[1] << "/" << s[2] << ", total " << total;
        }
    }
}
