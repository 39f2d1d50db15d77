#include <gtest/gtest.h>

#include <cstring>

#include "listing/events.h"
#include "listing/file_structure.h"
#include "listing/meta_events.h"
#include "listing/name_tables.h"
#include "support/example_songs.h"
#include "support/listing_harness.h"
#include "support/smf_builder.h"
#include "support/watch_log.h"

using namespace smf;

namespace {
// The lines every listing starts with, for a file typed in as name, up to the header's first line.
std::string opening(const std::string& name) {
    return "dump of " + name +
           "\n\nT..time  c..channel  o..note on  x..note off  cc..control change  pc..program change\n\n\n"
           "\n----------------------\n";
}

// A track with one note-on and its end, for files whose structure is what the test is about.
const Bytes one_note_events = event(0, {0x90, 60, 100}) +  // note on, channel 1, C 5, velocity 100
                              end_of_track();
}  // namespace

TEST(FileListing, FormatZeroSongAsAWhole) {
    EXPECT_LISTING(list_file(examples::format0_song()), examples::format0_listing);
}

TEST(FileListing, FormatOneSongAsAWhole) {
    reset_program_state();
    std::strcpy(program_name_table[0], "Acoustic Grand");
    EXPECT_LISTING(list_file_keeping_state(examples::format1_song(), "example.mid"),
                   examples::format1_listing("example.mid"));
}

TEST(FileListing, EmptyFileListsTheHeaderFromMissingBytes) {
    EXPECT_LISTING(list_file("", "empty.mid"), opening("empty.mid") +
        "unknown chunk:length(default 6):4278124287 format:4294967039\n"
                                                   "track max:4294967039\n"
                                                   "division:time code: 4294967039\n"
                                                   "unknown midi format.\n"
                                                   "----------------------\n"
                                                   "end of empty.mid\n");
}

TEST(FileListing, TrackCountCutOffListsNoTrackPastTheEnd) {
    Bytes file = chunk("MThd", 6, be(1, 2) +  // format 1
                                      bytes({0x00}));  // the track count's first byte; the file ends here
    EXPECT_LISTING(list_file(file), opening("song.mid") +
        "header chunk.length(default 6):6 format:1\n"
                                        "track max:4294967295\n"
                                        "division:time code: 4294967039\n"
                                        "\n"
                                        "----------------------\n"
                                        "end of song.mid\n");
}

TEST(FileListing, HeaderLengthTenReadsTheExtraBytesAsTheNextIdentifier) {
    Bytes file = chunk("MThd", 10, be(1, 2) + be(1, 2) + be(96, 2) +  // format 1, 1 track, division 96
                                       "XTRA") +                         // the header's four extra bytes
                 track(end_of_track());
    // "MTrk" is read as the data length; the real length 00 00 00 04 and the events follow as events,
    // and the listing runs on to the end of the input, whose missing bytes make the last line.
    EXPECT_LISTING(list_file(file), opening("song.mid") +
        "header chunk.length(default 6):10 format:1\n"
                                        "track max:1\n"
                                        "division:delta time: 96\n"
                                        "\n"
                                        "----------------------\n"
                                        "track:1\n"
                                        "unknown chunk:XTRAdata length:1297379947\n"
                                        "\n"
                                        "  1T:0:0:0\t unknown event(bad running status):0(hex)\n"
                                        "  1T:0:0:0\t unknown event(bad running status):4(hex)\n"
                                        "  1T:0:0:0\t .:end of track//\n"
                                        // total 4294967167 (-129): beats 44739241, whose ticks wrap
                                        "  1T:11184810:1:3221225503\t unknown ex(bad running status):ffffffff(hex)\n"
                                        "----------------------\n"
                                        "end of song.mid\n");
}

TEST(FileListing, DivisionUpTo32768CountsTicksAbove32768IsATimeCode) {
    Bytes events = event(65536, {0x90, 61, 101}) + end_of_track();  // note on C# 5 after 65536 ticks
    std::string metrical = list_file(header(0, 1, 32768) + track(events));
    EXPECT_NE(metrical.find("division:delta time: 32768\n"), std::string::npos);
    EXPECT_LISTING(event_lines(metrical), "  1T:0:2:0\t o: c:1 \tC#_5 ...101\n"
                                          "  1T:0:2:0\t .:end of track//\n");
    std::string time_code = list_file(header(0, 1, 32769) + track(events));
    EXPECT_NE(time_code.find("division:time code: 32769\n"), std::string::npos);
    EXPECT_LISTING(event_lines(time_code), "  1F:0:0:65536\t o: c:1 \tC#_5 ...101\n"
                                           "  1F:0:0:65536\t .:end of track//\n");
}

TEST(FileListing, FormatsDecideHowManyTracksAreListed) {
    Bytes two_tracks = track(one_note_events) + track(event(7, {0x91, 62, 102}) + end_of_track());
    // format 0 lists one track whatever the count says
    std::string format0 = list_file(header(0, 2, 96) + two_tracks);
    EXPECT_EQ(event_lines(format0), "  1T:0:0:0\t o: c:1 \tC_5 ...100\n"
                                    "  1T:0:0:0\t .:end of track//\n");
    // formats 1 and 2 list as many as declared, and alike
    std::string format1 = list_file(header(1, 2, 96) + two_tracks);
    EXPECT_EQ(event_lines(format1), "  1T:0:0:0\t o: c:1 \tC_5 ...100\n"
                                    "  1T:0:0:0\t .:end of track//\n"
                                    "  2T:0:0:7\t o: c:2 \tD_5 ...102\n"
                                    "  2T:0:0:7\t .:end of track//\n");
    std::string format2 = list_file(header(2, 2, 96) + two_tracks);
    std::string format2_as_1 = format2;
    format2_as_1.replace(format2_as_1.find("format:2"), 8, "format:1");
    EXPECT_LISTING(format2_as_1, format1);
    // any other format lists the header and no track
    EXPECT_LISTING(list_file(header(3, 2, 96) + two_tracks), opening("song.mid") +
        "header chunk.length(default 6):6 format:3\n"
                                                                 "track max:2\n"
                                                                 "division:delta time: 96\n"
                                                                 "unknown midi format.\n"
                                                                 "----------------------\n"
                                                                 "end of song.mid\n");
}

TEST(FileListing, FormatOneWithNoTracksGoesStraightToTheEnd) {
    EXPECT_LISTING(list_file(header(1, 0, 96) + track(one_note_events)), opening("song.mid") +
        "header chunk.length(default 6):6 format:1\n"
                                                                             "track max:0\n"
                                                                             "division:delta time: 96\n"
                                                                             "\n"
                                                                             "----------------------\n"
                                                                             "end of song.mid\n");
}

TEST(FileListing, TracksDeclaredButMissingAreListedFromMissingBytes) {
    std::string listing = list_file(header(1, 3, 96) + track(one_note_events));
    std::string after_track_1 = listing.substr(listing.find("track:2"));
    // each missing track: the last identifier read, a length of four missing bytes, one event of them
    EXPECT_LISTING(after_track_1, "track:2\n"
                                  "track chunk.data length:4278124287\n"
                                  "\n"
                                  "  2T:11184810:1:3221225503\t unknown ex(bad running status):ffffffff(hex)\n"
                                  "----------------------\n"
                                  "track:3\n"
                                  "track chunk.data length:4278124287\n"
                                  "\n"
                                  "  3T:11184810:1:3221225503\t unknown ex(bad running status):ffffffff(hex)\n"
                                  "----------------------\n"
                                  "end of song.mid\n");
}

TEST(FileListing, WhiteSpaceBeforeAnIdentifierIsSkipped) {
    Bytes file = bytes({' '}) + header(1, 1, 96) + bytes({'\n', '\t'}) + track(one_note_events);
    EXPECT_LISTING(list_file(file), list_file(header(1, 1, 96) + track(one_note_events)));
}

TEST(FileListing, TrackOfDeclaredLengthZeroRunsToTheEndOfInput) {
    Bytes file = header(0, 1, 96) + chunk("MTrk", 0, one_note_events);
    EXPECT_EQ(event_lines(list_file(file)),
              "  1T:0:0:0\t o: c:1 \tC_5 ...100\n"
              "  1T:0:0:0\t .:end of track//\n"
              "  1T:11184810:1:3221225503\t unknown ex(bad running status):ffffffff(hex)\n");
}

TEST(ChunkIdentifier, StopsAtWhiteSpaceOrZeroAndKeepsTheOldWordAtTheEnd) {
    // a word cut short by a zero byte; the zero is left to be read as the length's first byte
    std::string out = with_streams(bytes({'M', 'T', 0, 0, 0, 0, 9}), [] {
        show_chunk_id();
        put_uint(static_cast<std::uint32_t>(read_be(4)));
    });
    EXPECT_EQ(out, "unknown chunk:MT0");
    // a first byte that is zero is taken as the word: an empty name
    EXPECT_EQ(with_streams(bytes({0, 'A'}), [] { show_chunk_id(); }), "unknown chunk:");
    // at the end of input the identifier read before is kept
    std::string kept = with_streams("MTrk", [] {
        show_chunk_id();
        show_chunk_id();
    });
    EXPECT_EQ(kept, "track chunk.track chunk.");
    // a word stops at white space, which stays unread
    std::string two = with_streams("Ab cdefgh", [] {
        show_chunk_id();
        show_chunk_id();
        show_chunk_id();
    });
    EXPECT_EQ(two, "unknown chunk:Abunknown chunk:cdefunknown chunk:gh");
}

namespace {
// Two tracks whose lines go both ways: the short way for most, the ordinary way for a delta time of
// five bytes and for the lines in the input's last seven bytes; a time signature and a tempo between.
Bytes two_ways_song() {
    return header(1, 2, 120) +
           track(event(0, {0x94, 48, 21}) +                        // note on, channel 5, C 4
                 event(0, {0xFF, 0x58, 4, 3, 3, 12, 8}) +            // time 3/8
                 event(0, {0xFF, 0x51, 3, 0x09, 0x27, 0xC0}) +       // tempo 600000
                 event(70, {0x94, 50, 22}) +                         // note on D 4
                 bytes({0x81, 0x80, 0x80, 0x80, 0x00}) +             // a delta time of 2^28 in five bytes
                 bytes({52, 23}) +                                   // running status: note on E 4
                 event(9, {0xE4, 24, 25}) +                          // pitch bend, channel 5
                 end_of_track(11)) +
           track(event(130, {0x85, 53, 26}) +                      // note off, channel 6, F 4
                 event(140, {0xB5, 64, 27}) +                        // hold pedal, channel 6
                 event(150, {0x85, 55, 28}) +                        // note off G 4
                 event(2, {57, 29}) +                                // running status, in the last seven bytes
                 end_of_track(13));
}
}  // namespace

TEST(WatchedFileListing, TwoWaysSongAsListed) {
    EXPECT_LISTING(event_lines(list_file(two_ways_song())),
                   "  1T:0:0:0\t o: c:5 \tC_4 ...21\n"
                   "  1T:0:0:0\t .:time 3/8 metronome 12:8\n"
                   "  1T:0:0:0\t .:tempo 600000\n"
                   "  1T:0:1:10\t o: c:5 \tD_4 ...22\n"
                   "  1T:1491308:1:26\t o: c:5 \tE-4 ...23\n"
                   "  1T:1491308:1:35\t pitch bend: c:5  18H  19H \n"
                   "  1T:1491308:1:46\t .:end of track//\n"
                   "  2T:0:2:10\t x: c:6 \tF_4 ...26\n"
                   "  2T:1:1:30\t cc: c:6 hold 1 val 27\n"
                   "  2T:2:1:0\t x: c:6 \tG_4 ...28\n"
                   "  2T:2:1:2\t x: c:6 \tA-4 ...29\n"
                   "  2T:2:1:15\t .:end of track//\n");
}

namespace {
// The listing of file with fresh state and the event line and resume point recorders set.
std::string list_telling_lines_and_resume_points(const Bytes& file) {
    reset_program_state();
    told.clear();
    event_line_watcher = tell_event_line;
    resume_point_watcher = tell_resume_point;
    return list_file_keeping_state(file);
}

// "line <offset> <total>" for the one line of listing that reads line.
std::string line_entry(const std::string& listing, const std::string& line, std::uint32_t total) {
    return "line " + std::to_string(offset_of(listing, line)) + " " + std::to_string(total) + "\n";
}

// "resume <offset>" for a point at the line end before the one line of listing that reads line.
std::string resume_before(const std::string& listing, const std::string& line) {
    return "resume " + std::to_string(offset_of(listing, line) - 1) + "\n";
}
}  // namespace

TEST(WatchedFileListing, ResumePointsAtEachTracksStartAndBeforeEachLineListedTheOrdinaryWay) {
    std::string unwatched = list_file(two_ways_song());
    EXPECT_LISTING(list_telling_lines_and_resume_points(two_ways_song()), unwatched);
    // the short way goes on past other events; it stops before a delta time of five bytes and the
    // input's last seven bytes, and at the end of each track
    const std::string e = "  1T:1491308:1:26\t o: c:5 \tE-4 ...23";
    const std::string bend = "  1T:1491308:1:35\t pitch bend: c:5  18H  19H ";
    const std::string f = "  2T:0:2:10\t x: c:6 \tF_4 ...26";
    const std::string a = "  2T:2:1:2\t x: c:6 \tA-4 ...29";
    const std::string end2 = "  2T:2:1:15\t .:end of track//";
    EXPECT_EQ(told, resume_before(unwatched, "  1T:0:0:0\t o: c:5 \tC_4 ...21") +
                    line_entry(unwatched, "  1T:0:0:0\t o: c:5 \tC_4 ...21", 0) +
                    line_entry(unwatched, "  1T:0:0:0\t .:time 3/8 metronome 12:8", 0) +
                    line_entry(unwatched, "  1T:0:0:0\t .:tempo 600000", 0) +
                    line_entry(unwatched, "  1T:0:1:10\t o: c:5 \tD_4 ...22", 70) +
                    resume_before(unwatched, e) +
                    line_entry(unwatched, e, 268435526) +
                    resume_before(unwatched, bend) +
                    line_entry(unwatched, bend, 268435535) +
                    line_entry(unwatched, "  1T:1491308:1:46\t .:end of track//", 268435546) +
                    resume_before(unwatched, f) +
                    line_entry(unwatched, f, 130) +
                    line_entry(unwatched, "  2T:1:1:30\t cc: c:6 hold 1 val 27", 270) +
                    line_entry(unwatched, "  2T:2:1:0\t x: c:6 \tG_4 ...28", 420) +
                    resume_before(unwatched, a) +
                    line_entry(unwatched, a, 422) +
                    resume_before(unwatched, end2) +
                    line_entry(unwatched, end2, 435));
}

TEST(WatchedFileListing, ListingGoesOnFromEveryResumePoint) {
    const Bytes files[] = {
        two_ways_song(),
        header(1, 3, 96) + track(one_note_events),                       // two tracks past the end of the input
        header(0, 1, 0xE728) + track(event(0, {0x93, 70, 31}) +          // a time code: no beat kept
                                     event(300, {71, 32}) + event(200, {0xB3, 7, 33}) + end_of_track(9)),
    };
    for (const Bytes& file : files) {
        std::string unwatched = list_file(file);
        EXPECT_LISTING(list_keeping_points(file), unwatched);
        ASSERT_GE(kept_points.size(), 2u);
        for (const KeptPoint& p : kept_points) {
            ASSERT_LE(p.offset, unwatched.size());
            EXPECT_LISTING(list_from_point(p, file), unwatched.substr(p.offset)) << "from the point at " << p.offset;
        }
    }
}

TEST(WatchedFileListing, LinesOfTracksPastTheEndOfTheInputAreToldWithTheTotalsTheyShow) {
    Bytes file = header(1, 3, 96) + track(one_note_events);  // tracks 2 and 3 are missing
    std::string unwatched = list_file(file);
    EXPECT_LISTING(list_telling_lines_and_resume_points(file), unwatched);
    // a delta time of missing bytes adds -129 (shown as 11184810:1:3221225503 at division 96)
    const std::string past2 = "  2T:11184810:1:3221225503\t unknown ex(bad running status):ffffffff(hex)";
    const std::string past3 = "  3T:11184810:1:3221225503\t unknown ex(bad running status):ffffffff(hex)";
    EXPECT_EQ(told, resume_before(unwatched, "  1T:0:0:0\t o: c:1 \tC_5 ...100") +
                    line_entry(unwatched, "  1T:0:0:0\t o: c:1 \tC_5 ...100", 0) +
                    resume_before(unwatched, "  1T:0:0:0\t .:end of track//") +
                    line_entry(unwatched, "  1T:0:0:0\t .:end of track//", 0) +
                    resume_before(unwatched, past2) + line_entry(unwatched, past2, 4294967167u) +
                    resume_before(unwatched, past3) + line_entry(unwatched, past3, 4294967167u));
}

TEST(Watchers, EachResetForgetsItsOwnWatchersAndNoOther) {
    Bytes file = header(0, 1, 96) + track(event(0, {0xFF, 0x51, 3, 0x0B, 0x71, 0xB0}) +  // tempo 750000
                                          event(4, {0xC2, 3}) +                          // program 3, channel 3
                                          event(5, {0x92, 72, 41}) +                     // note on C 6
                                          end_of_track(6));
    reset_program_state();
    told.clear();
    tempo_watcher = tell_tempo;
    channel_event_watcher = tell_channel_event;
    note_watcher = tell_note;
    event_line_watcher = tell_event_line;
    note_line_watcher = tell_note_line;
    resume_point_watcher = tell_resume_point;
    reset_file_state();  // the event line, note line and resume point watchers go
    std::string listing = list_file_keeping_state(file);
    EXPECT_EQ(told, "tempo 750000\nchannel c2 3 0\nnote 92 72 41\n");
    reset_event_state();  // the note and channel event watchers go
    told.clear();
    EXPECT_LISTING(list_file_keeping_state(file), listing);
    EXPECT_EQ(told, "tempo 750000\n");
    reset_meta_state();  // the tempo watcher goes
    told.clear();
    EXPECT_LISTING(list_file_keeping_state(file), listing);
    EXPECT_EQ(told, "");
    EXPECT_LISTING(list_file(file), listing);
}
