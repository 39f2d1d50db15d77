#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
// The event lines of a format-1 file holding the given tracks' events (division 480).
std::string track_lines(const std::vector<Bytes>& tracks) {
    Bytes file = header(1, static_cast<int>(tracks.size()), 480);
    for (const Bytes& events : tracks) file += track(events);
    return event_lines(list_file(file));
}
}  // namespace

TEST(Events, ChannelAndSystemEventsOfOneTrack) {
    reset_program_state();
    std::strcpy(program_name_table[0], "Acoustic Grand");
    EXPECT_LISTING(event_lines(list_file_keeping_state(examples::format1_song())), examples::format1_event_lines);
}

TEST(Events, RunningStatusForEveryChannelKind) {
    reset_program_state();
    std::strcpy(program_name_table[5], "Piano 6");
    std::strcpy(program_name_table[6], "Piano 7");
    Bytes events = event(0, {0x82, 61, 11}) + event(0, {62, 12}) +          // note off, channel 3
                   event(0, {0xA3, 63, 13}) + event(0, {64, 14}) +          // poly pressure, channel 4
                   event(0, {0xB4, 1, 15}) + event(0, {10, 16}) +           // controllers, channel 5
                   event(0, {0xC5, 5}) + event(0, {6}) +                    // programs, channel 6
                   event(0, {0xD6, 17}) + event(0, {18}) +                  // channel pressure, channel 7
                   event(0, {0xE7, 19, 20}) + event(0, {21, 22}) +          // pitch bend, channel 8
                   end_of_track();
    EXPECT_LISTING(event_lines(list_file_keeping_state(header(1, 1, 480) + track(events))),
                   "  1T:0:0:0\t x: c:3 \tC#_5 ...11\n"
                   "  1T:0:0:0\t x: c:3 \tD-5 ...12\n"
                   "  1T:0:0:0\t poly key press: c:4  3fH   dH \n"
                   "  1T:0:0:0\t poly key press: c:4  40H   eH \n"
                   "  1T:0:0:0\t cc: c:5 mod  MSB val 15\n"
                   "  1T:0:0:0\t cc: c:5 pan MSB val 16\n"
                   "  1T:0:0:0\t pc: c:6   5H /Piano 6/\n"
                   "  1T:0:0:0\t pc: c:6   6H /Piano 7/\n"
                   "  1T:0:0:0\t channel press: c:7  11H \n"
                   "  1T:0:0:0\t channel press: c:7  12H \n"
                   "  1T:0:0:0\t pitch bend: c:8  13H  14H \n"
                   "  1T:0:0:0\t pitch bend: c:8  15H  16H \n"
                   "  1T:0:0:0\t .:end of track//\n");
}

TEST(Events, TrackStartingWithADataByteUsesTheStatusOfThePreviousTrack) {
    // at the very start of the file there is no status at all
    EXPECT_EQ(track_lines({event(0, {0x45}) + end_of_track()}),
              "  1T:0:0:0\t unknown event(bad running status):45(hex)\n"
              "  1T:0:0:0\t .:end of track//\n");
    // after a track that ended with its end-of-track event, the last status is 0xFF
    EXPECT_EQ(track_lines({end_of_track(), event(3, {0x46}) + end_of_track()}),
              "  1T:0:0:0\t .:end of track//\n"
              "  2T:0:0:3\t unknown ex(bad running status):46(hex)\n"
              "  2T:0:0:3\t .:end of track//\n");
    // after a track whose last event was a channel event, that status goes on
    EXPECT_EQ(track_lines({event(0, {0x9A, 70, 71}), event(5, {72, 73}) + end_of_track()}),
              "  1T:0:0:0\t o: c:11 \tA#_5 ...71\n"
              "  2T:0:0:5\t o: c:11 \tC-6 ...73\n"
              "  2T:0:0:5\t .:end of track//\n");
}

TEST(Events, NoteAndChannelExtremes) {
    EXPECT_EQ(track_lines({event(0, {0x9F, 127, 1}) +  // channel 16, the highest note
                           event(0, {0x80, 0, 2}) +    // the lowest note
                           event(0, {64, 200}) +       // a velocity of 0x80 or more is still the velocity
                           event(0, {0x90, 65, 128}) + // too big under its own status too
                           event(0, {0x90, 66, 0}) +   // velocity 0 stays a note-on
                           end_of_track()}),
              "  1T:0:0:0\t o: c:16 \tG_10 ...1\n"
              "  1T:0:0:0\t x: c:1 \tC_0 ...2\n"
              "  1T:0:0:0\t x: c:1 \tE-5 ...200(too big velocity) \n"
              "  1T:0:0:0\t o: c:1 \tF_5 ...128(too big velocity) \n"
              "  1T:0:0:0\t o: c:1 \tF#_5 ...0\n"
              "  1T:0:0:0\t .:end of track//\n");
}

TEST(Events, NumbersBeyondTheTablesShowEmptyNames) {
    EXPECT_EQ(track_lines({event(0, {0xB0, 200, 5}) +   // controller 200
                           event(0, {0xC0, 0x8C}) +      // program 140
                           event(0, {0x90, 0xF0, 9}) +   // note 240: name and octave still reckoned
                           end_of_track()}),
              "  1T:0:0:0\t cc: c:1  val 5\n"
              "  1T:0:0:0\t pc: c:1  8cH //\n"
              "  1T:0:0:0\t o: c:1 \tC_20 ...9\n"
              "  1T:0:0:0\t .:end of track//\n");
}

TEST(Events, SystemStatuses) {
    EXPECT_EQ(track_lines({event(0, {0xF1, 0x21}) + event(0, {0xF2, 0x22, 0x23}) + event(0, {0xF3, 0x24}) +
                           event(0, {0xF4}) + event(0, {0xF5}) + event(0, {0xF6}) + event(0, {0xF9}) +
                           event(0, {0xFE}) + end_of_track()}),
              "  1T:0:0:0\t time code: 21H \n"
              "  1T:0:0:0\t song position: 22H  23H \n"
              "  1T:0:0:0\t song select: 24H \n"
              "  1T:0:0:0\t unknown ex:f4(hex)\n"
              "  1T:0:0:0\t unknown ex:f5(hex)\n"
              "  1T:0:0:0\t unknown ex:f6(hex)\n"
              "  1T:0:0:0\t unknown ex:f9(hex)\n"
              "  1T:0:0:0\t unknown ex:fe(hex)\n"
              "  1T:0:0:0\t .:end of track//\n");
}

TEST(Events, SystemExclusiveShowsWhatItsLengthCovers) {
    EXPECT_EQ(track_lines({event(0, {0xF0, 2, 0x43, 0x12}) +       // no closing F7: none is looked for
                           event(0, {0xF7, 3, 0x01, 0x02, 0xF7}) +  // an escape or continuation packet
                           event(0, {0xF0, 0}) +                    // empty
                           end_of_track()}),
              "  1T:0:0:0\t exclusive: 43H  12H \n"
              "  1T:0:0:0\t exclusive2:  1H   2H  f7H \n"
              "  1T:0:0:0\t exclusive:\n"
              "  1T:0:0:0\t .:end of track//\n");
}

TEST(Events, SystemExclusiveLongerThanTheFileStopsAtItsEnd) {
    Bytes file = header(0, 1, 480) + track(event(0, {0xF0, 0xFF, 0xFF, 0xFF, 0x7F,  // length 0x0FFFFFFF
                                                     0x41, 0x42}));
    EXPECT_EQ(event_lines(list_file(file)), "  1T:0:0:0\t exclusive: 41H  42H \n");
}

TEST(Events, EndOfInputInsideAnEvent) {
    // the velocity is missing: -1 is written as a number, with no warning
    EXPECT_EQ(event_lines(list_file(header(0, 1, 480) + track(event(0, {0x90, 60})))),
              "  1T:0:0:0\t o: c:1 \tC_5 ...4294967295\n");
    // the note is missing too: no name, octave 0
    EXPECT_EQ(event_lines(list_file(header(0, 1, 480) + track(event(0, {0x90})))),
              "  1T:0:0:0\t o: c:1 \t_0 ...4294967295\n");
    // fixed counts show each missing byte as -1
    EXPECT_EQ(event_lines(list_file(header(0, 1, 480) + track(event(0, {0xE5})))),
              "  1T:0:0:0\t pitch bend: c:6 ffffffffH ffffffffH \n");
}

namespace {
std::string heard;  // what the watchers below were told, one line each

// Notes a channel event as "status first second".
void hear_channel_event(std::int32_t status, std::int32_t first, std::int32_t second) {
    heard += std::to_string(status) + " " + std::to_string(first) + " " + std::to_string(second) + "\n";
}

// Notes a tempo as "tempo microseconds".
void hear_tempo(std::uint32_t microseconds) { heard += "tempo " + std::to_string(microseconds) + "\n"; }
}  // namespace

TEST(Events, WatchersAreToldOfEveryChannelEventAndTempoWithoutChangingTheListing) {
    Bytes events = event(0, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20}) +       // tempo 500000
                   event(0, {0xA3, 63, 13}) + event(0, {64, 14}) +   // poly pressure, channel 4
                   event(0, {0x90, 60, 100}) +                       // a note between: not told here
                   event(0, {0xB4, 1, 15}) + event(0, {10, 16}) +    // controllers, channel 5
                   event(0, {0xC5, 5}) + event(0, {6}) +             // programs, channel 6
                   event(0, {0xD6, 17}) + event(0, {18}) +           // channel pressure, channel 7
                   event(0, {0xE7, 19, 20}) + event(0, {21, 22}) +   // pitch bend, channel 8
                   event(0, {0xB9, 200, 201}) +                      // bytes above 127 are told as read
                   event(0, {0xFF, 0x51, 3, 0x0F, 0x42, 0x40}) +     // tempo 1000000
                   event(0, {0xE2, 23});                             // the input ends inside a pitch bend
    Bytes file = header(1, 1, 480) + track(events);
    std::string unwatched = list_file(file);
    reset_program_state();
    heard.clear();
    channel_event_watcher = hear_channel_event;
    tempo_watcher = hear_tempo;
    EXPECT_LISTING(list_file_keeping_state(file), unwatched);
    EXPECT_EQ(heard,
              "tempo 500000\n"
              "163 63 13\n163 64 14\n"
              "180 1 15\n180 10 16\n"
              "197 5 0\n197 6 0\n"
              "214 17 0\n214 18 0\n"
              "231 19 20\n231 21 22\n"
              "185 200 201\n"
              "tempo 1000000\n"
              "226 23 -1\n");
    reset_program_state();
    EXPECT_EQ(channel_event_watcher, nullptr);
    EXPECT_EQ(tempo_watcher, nullptr);
}

TEST(Events, NoteWatcherIsToldOfNotesListedTheOrdinaryWayAsListed) {
    // files of fewer than eight bytes of events: every line goes the ordinary way
    struct Case {
        const char* what;
        Bytes events;
        std::string lines;
        std::string notes;
    };
    const Case cases[] = {
        {"a note on with its own status", event(0, {0x9B, 74, 42}),
         "  1T:0:0:0\t o: c:12 \tD_6 ...42\n", "note 9b 74 42\n"},
        {"a note off under running status", event(0, {0x8C, 75, 43}) + event(1, {76, 44}),
         "  1T:0:0:0\t x: c:13 \tD#_6 ...43\n  1T:0:0:1\t x: c:13 \tE-6 ...44\n",
         "note 8c 75 43\nnote 8c 76 44\n"},
        {"a velocity above 127, told as read", event(2, {0x9D, 77, 129}),
         "  1T:0:0:2\t o: c:14 \tF_6 ...129(too big velocity) \n", "note 9d 77 129\n"},
        {"the velocity missing at the input's end", event(3, {0x9E, 78}),
         "  1T:0:0:3\t o: c:15 \tF#_6 ...4294967295\n", "note 9e 78 -1\n"},
        {"the note missing too", event(4, {0x8F}),
         "  1T:0:0:4\t x: c:16 \t_0 ...4294967295\n", "note 8f -1 -1\n"},
    };
    for (const Case& c : cases) {
        Bytes file = header(0, 1, 480) + track(c.events);
        ASSERT_LT(c.events.size(), 8u) << c.what;
        std::string unwatched = list_file(file);
        EXPECT_LISTING(event_lines(unwatched), c.lines) << c.what;
        reset_program_state();
        told.clear();
        note_watcher = tell_note;
        note_line_watcher = tell_note_line;  // told of no line of the ordinary way
        EXPECT_LISTING(list_file_keeping_state(file), unwatched) << c.what;
        EXPECT_EQ(told, c.notes) << c.what;
    }
}
