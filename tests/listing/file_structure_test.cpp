#include <gtest/gtest.h>

#include <cstring>

#include "listing/file_structure.h"
#include "listing/name_tables.h"
#include "support/example_songs.h"
#include "support/listing_harness.h"
#include "support/smf_builder.h"

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
