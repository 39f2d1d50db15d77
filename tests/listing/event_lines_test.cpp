// The common event lines listed the short way, watched: what the event line, note and note line
// watchers are told there, the resume point after each hand-over of the dump, and a listing that
// watching leaves byte for byte as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "listing/events.h"
#include "listing/file_structure.h"
#include "stream/byte_stream.h"
#include "support/example_songs.h"
#include "support/listing_harness.h"
#include "support/smf_builder.h"
#include "support/watch_log.h"

using namespace smf;

namespace {
// Two tracks of notes with other events between them: most lines go the short way; a delta time of
// five bytes and the lines in the input's last seven bytes go the ordinary way.
Bytes notes_song() {
    return header(1, 2, 96) +
           track(event(0, {0x91, 60, 100}) +    // note on, channel 2, C 5
                 event(10, {62, 101}) +         // running status: note on D 5
                 event(200, {0x81, 60, 102}) +  // note off with its own status; a delta of two bytes
                 event(5, {0xB1, 7, 103}) +     // channel volume: not a note line
                 event(3, {0x92, 65, 105}) +    // note on, channel 3, F 5
                 bytes({0x80, 0x80, 0x80, 0x81, 0x00}) +  // a delta time of 128 in five bytes
                 bytes({66, 106}) +             // running status: note on F# 5
                 end_of_track(1)) +
           track(event(20, {0x93, 67, 107}) +   // note on, channel 4, G 5
                 event(30, {0xC3, 9}) +         // program change: not a note line
                 event(40, {0x83, 69, 108}) +   // note off, channel 4, A 5
                 event(2, {70, 109}) +          // running status: note off A# 5, in the input's last seven bytes
                 end_of_track(4));
}

// The listing of file with fresh state and the given watchers set, everything they were told in told.
std::string list_watched(const Bytes& file, void (*line)(std::uint64_t, std::uint32_t),
                         void (*note)(std::int32_t, std::int32_t, std::int32_t),
                         void (*note_line)(std::uint64_t, std::uint32_t, std::int32_t, std::int32_t, std::int32_t),
                         void (*resume)()) {
    reset_program_state();
    told.clear();
    event_line_watcher = line;
    note_watcher = note;
    note_line_watcher = note_line;
    resume_point_watcher = resume;
    return list_file_keeping_state(file);
}

// The lines of notes_song, as listed.
const std::string l1 = "  1T:0:0:0\t o: c:2 \tC_5 ...100";
const std::string l2 = "  1T:0:0:10\t o: c:2 \tD-5 ...101";
const std::string l3 = "  1T:0:2:18\t x: c:2 \tC_5 ...102";
const std::string l4 = "  1T:0:2:23\t cc: c:2 ch vol MSB val 103";
const std::string l5 = "  1T:0:2:26\t o: c:3 \tF_5 ...105";
const std::string l6 = "  1T:0:3:58\t o: c:3 \tF#-5 ...106";
const std::string l7 = "  1T:0:3:59\t .:end of track//";
const std::string l8 = "  2T:0:0:20\t o: c:4 \tG_5 ...107";
const std::string l9 = "  2T:0:0:50\t pc: c:4   9H //";
const std::string l10 = "  2T:0:0:90\t x: c:4 \tA_5 ...108";
const std::string l11 = "  2T:0:0:92\t x: c:4 \tA#-5 ...109";
const std::string l12 = "  2T:0:1:0\t .:end of track//";

// The entries of log that start with prefix.
std::string only(const std::string& log, const std::string& prefix) {
    std::string out;
    for (std::size_t at = 0; at < log.size();) {
        std::size_t end = log.find('\n', at) + 1;
        if (log.compare(at, prefix.size(), prefix) == 0) out += log.substr(at, end - at);
        at = end;
    }
    return out;
}

// "line <offset> <total>" for the one line of listing that reads line.
std::string line_entry(const std::string& listing, const std::string& line, std::uint32_t total) {
    return "line " + std::to_string(offset_of(listing, line)) + " " + std::to_string(total) + "\n";
}

// "note line <offset> <total> <status> <note> <velocity>" for the one line of listing that reads line.
std::string note_line_entry(const std::string& listing, const std::string& line, std::uint32_t total,
                            const std::string& status_note_velocity) {
    return "note line " + std::to_string(offset_of(listing, line)) + " " + std::to_string(total) + " " +
           status_note_velocity + "\n";
}

// What the event line and note watchers are told of notes_song's listing, in order.
std::string lines_and_notes_of_notes_song(const std::string& listing) {
    return line_entry(listing, l1, 0) + "note 91 60 100\n" +
           line_entry(listing, l2, 10) + "note 91 62 101\n" +
           line_entry(listing, l3, 210) + "note 81 60 102\n" +
           line_entry(listing, l4, 215) +
           line_entry(listing, l5, 218) + "note 92 65 105\n" +
           line_entry(listing, l6, 346) + "note 92 66 106\n" +
           line_entry(listing, l7, 347) +
           line_entry(listing, l8, 20) + "note 93 67 107\n" +
           line_entry(listing, l9, 50) +
           line_entry(listing, l10, 90) + "note 83 69 108\n" +
           line_entry(listing, l11, 92) + "note 83 70 109\n" +
           line_entry(listing, l12, 96);
}

// One event line of a long track: its running total and, for a note, what the note watcher is told.
struct LongTrackLine {
    std::uint32_t total;
    std::string note;  // "note <status> <note> <velocity>" or empty
};

// A long track of notes under their own status and running status, with a controller every 100th
// line and a two-byte delta every 11th: its listing is handed over many times.
struct LongTrack {
    Bytes file;
    std::vector<LongTrackLine> lines;
};

LongTrack long_track(int count) {
    LongTrack song;
    Bytes events;
    std::uint32_t total = 0;
    bool running_note = false;  // whether the status in force is a note's
    char status_text[16];
    int status = 0;
    for (int i = 0; i < count; ++i) {
        std::uint32_t delta = static_cast<std::uint32_t>(i % 5 * 37 + (i % 11 == 0 ? 300 : 0));
        total += delta;
        int note = 20 + i % 90;
        int velocity = 1 + i * 7 % 127;
        if (i % 100 == 50) {  // pan, channel 16: not a note
            events += event(delta, {0xBF, 10, i % 128});
            song.lines.push_back({total, ""});
            running_note = false;
            continue;
        }
        if (i % 4 == 0 || !running_note) {  // note on or off with its own status, channels in turn
            status = (i % 3 == 0 ? 0x90 : 0x80) | (i / 4 % 16);
            events += event(delta, {status, note, velocity});
        } else {
            events += event(delta, {note, velocity});
        }
        running_note = true;
        std::snprintf(status_text, sizeof status_text, "%02x", static_cast<unsigned>(status));
        song.lines.push_back({total, "note " + std::string(status_text) + " " + std::to_string(note) + " " +
                                         std::to_string(velocity)});
    }
    // the input's last eight bytes: a note with its own status the short way, and the end of the track
    // in the last four, the ordinary way
    events += event(3, {0x9E, 100, 120});  // note on, channel 15, E 8
    song.lines.push_back({total += 3, "note 9e 100 120"});
    events += end_of_track(7);
    song.lines.push_back({total += 7, ""});
    song.file = header(0, 1, 480) + track(events);
    return song;
}

// What the event line and note watchers are told of song's listing.
std::string lines_and_notes_of(const LongTrack& song, const std::string& listing) {
    std::vector<std::uint64_t> offsets = event_line_offsets(listing);
    EXPECT_EQ(offsets.size(), song.lines.size());
    std::string log;
    for (std::size_t i = 0; i < offsets.size() && i < song.lines.size(); ++i) {
        log += "line " + std::to_string(offsets[i]) + " " + std::to_string(song.lines[i].total) + "\n";
        if (!song.lines[i].note.empty()) log += song.lines[i].note + "\n";
    }
    return log;
}

std::string handed_over;                // the dump as handed over by keep_hand_over
std::vector<std::uint64_t> hand_overs;  // the dump's offset after each hand-over

// Takes the place of the memory dump's own hand-over, keeping the offset where each ends.
void keep_hand_over(const char* bytes, std::size_t n) {
    handed_over.append(bytes, n);
    hand_overs.push_back(handed_over.size());
}

// Lists file through dump_file as list_file does, with fresh state, the resume point recorder set and
// each hand-over of the dump kept.
std::string list_keeping_hand_overs(const Bytes& file) {
    reset_program_state();
    told.clear();
    handed_over.clear();
    hand_overs.clear();
    std::strcpy(input_name, "song.mid");
    resume_point_watcher = tell_resume_point;
    open_input_memory(reinterpret_cast<const unsigned char*>(file.data()), file.size());
    open_dump_memory(nullptr);
    dump_hand_over = keep_hand_over;
    dump_file();
    flush_dump();  // the last piece, after the listing: no resume point for it
    hand_overs.pop_back();
    return handed_over;
}
}  // namespace

TEST(WatchedEventLines, NotesSongAsListed) {
    EXPECT_LISTING(event_lines(list_file(notes_song())),
                   l1 + "\n" + l2 + "\n" + l3 + "\n" + l4 + "\n" + l5 + "\n" + l6 + "\n" + l7 + "\n" + l8 + "\n" + l9 +
                       "\n" + l10 + "\n" + l11 + "\n" + l12 + "\n");
}

TEST(WatchedEventLines, LineAndNoteWatchersAreToldOfEachLineAndNoteInOrder) {
    std::string unwatched = list_file(notes_song());
    std::string listing = list_watched(notes_song(), tell_event_line, tell_note, nullptr, nullptr);
    EXPECT_LISTING(listing, unwatched);
    EXPECT_EQ(told, lines_and_notes_of_notes_song(unwatched));
    // each alone is told the same of its own
    EXPECT_LISTING(list_watched(notes_song(), tell_event_line, nullptr, nullptr, nullptr), unwatched);
    EXPECT_EQ(told, only(lines_and_notes_of_notes_song(unwatched), "line "));
    EXPECT_LISTING(list_watched(notes_song(), nullptr, tell_note, nullptr, nullptr), unwatched);
    EXPECT_EQ(told, only(lines_and_notes_of_notes_song(unwatched), "note "));
}

TEST(WatchedEventLines, NoteLineWatcherStandsForBothWatchersOnTheLinesListedTheShortWay) {
    std::string unwatched = list_file(notes_song());
    EXPECT_LISTING(list_watched(notes_song(), tell_event_line, tell_note, tell_note_line, nullptr), unwatched);
    // the five-byte delta time (l6) and the input's last seven bytes (l11) go the ordinary way
    EXPECT_EQ(told, note_line_entry(unwatched, l1, 0, "91 60 100") +
                    note_line_entry(unwatched, l2, 10, "91 62 101") +
                    note_line_entry(unwatched, l3, 210, "81 60 102") +
                    line_entry(unwatched, l4, 215) +
                    note_line_entry(unwatched, l5, 218, "92 65 105") +
                    line_entry(unwatched, l6, 346) + "note 92 66 106\n" +
                    line_entry(unwatched, l7, 347) +
                    note_line_entry(unwatched, l8, 20, "93 67 107") +
                    line_entry(unwatched, l9, 50) +
                    note_line_entry(unwatched, l10, 90, "83 69 108") +
                    line_entry(unwatched, l11, 92) + "note 83 70 109\n" +
                    line_entry(unwatched, l12, 96));
    EXPECT_EQ(note_lines_split(told), lines_and_notes_of_notes_song(unwatched));  // one call for the two
    // alone, it is told of the short way's note lines and of nothing else
    EXPECT_LISTING(list_watched(notes_song(), nullptr, nullptr, tell_note_line, nullptr), unwatched);
    EXPECT_EQ(told, note_line_entry(unwatched, l1, 0, "91 60 100") +
                    note_line_entry(unwatched, l2, 10, "91 62 101") +
                    note_line_entry(unwatched, l3, 210, "81 60 102") +
                    note_line_entry(unwatched, l5, 218, "92 65 105") +
                    note_line_entry(unwatched, l8, 20, "93 67 107") +
                    note_line_entry(unwatched, l10, 90, "83 69 108"));
}


TEST(WatchedEventLines, LongTrackTellsEveryLineAcrossTheDumpsHandOvers) {
    LongTrack song = long_track(3000);
    std::string unwatched = list_file(song.file);
    ASSERT_GT(unwatched.size(), 6 * dump_first_limit);
    EXPECT_LISTING(list_watched(song.file, tell_event_line, tell_note, nullptr, nullptr), unwatched);
    EXPECT_EQ(told, lines_and_notes_of(song, unwatched));
    EXPECT_LISTING(list_watched(song.file, tell_event_line, tell_note, tell_note_line, nullptr), unwatched);
    EXPECT_EQ(note_lines_split(told), lines_and_notes_of(song, unwatched));
    EXPECT_NE(only(told, "note line "), "");  // the short way was taken, watched
}

TEST(WatchedEventLines, ResumePointAtTheStartOfTheLineAfterEachHandOver) {
    LongTrack song = long_track(3000);
    std::string unwatched = list_file(song.file);
    std::string listing = list_keeping_hand_overs(song.file);
    EXPECT_LISTING(listing, unwatched);
    ASSERT_GE(hand_overs.size(), 4u);
    std::vector<std::uint64_t> lines = event_line_offsets(unwatched);
    // the track's start, each hand-over, and the end of the track in the input's last four bytes, each
    // at the line end before an event line
    std::string expected = "resume " + std::to_string(lines.front() - 1) + "\n";
    for (std::uint64_t at : hand_overs) {
        expected += "resume " + std::to_string(at) + "\n";
        EXPECT_EQ(unwatched[at], '\n') << "the hand-over at " << at;
        EXPECT_TRUE(std::binary_search(lines.begin(), lines.end(), at + 1)) << "the hand-over at " << at;
    }
    expected += "resume " + std::to_string(lines.back() - 1) + "\n";
    EXPECT_EQ(told, expected);
}

TEST(WatchedEventLines, ListingGoesOnFromEachResumePointAfterAHandOver) {
    LongTrack song = long_track(3000);
    std::string unwatched = list_file(song.file);
    EXPECT_LISTING(list_keeping_points(song.file), unwatched);
    ASSERT_GE(kept_points.size(), 6u);  // the track's start, four hand-overs at least, the end of the track
    for (const KeptPoint& p : kept_points) {
        ASSERT_LE(p.offset, unwatched.size());
        EXPECT_LISTING(list_from_point(p, song.file), unwatched.substr(p.offset)) << "from the point at " << p.offset;
    }
}

TEST(WatchedEventLines, WatchingLeavesEveryListingAsItWas) {
    Bytes time_code = header(0, 1, 0xE728) + track(event(0, {0x90, 61, 1}) + event(1000, {62, 2}) +  // notes
                                                   event(5, {0x80, 61, 3}) + end_of_track(6));
    Bytes too_big = header(0, 1, 96) + track(event(0, {0x90, 61, 200}) + event(1, {62, 128}) +  // velocities
                                             event(2, {0x80, 0xF0, 255}) +  // note 240
                                             end_of_track());
    Bytes cut_short = header(1, 2, 96) + track(event(0, {0x95, 63, 64}) + event(3, {65, 66})) +
                      bytes({0x4D, 0x54, 0x72, 0x6B, 0, 0, 0, 9, 0, 0x92, 67});  // "MTrk", then a note cut off
    const Bytes files[] = {notes_song(), examples::format0_song(), examples::format1_song(), time_code, too_big,
                           cut_short, long_track(1200).file};
    for (const Bytes& file : files) {
        std::string unwatched = list_file(file);
        EXPECT_LISTING(list_watched(file, tell_event_line, nullptr, nullptr, nullptr), unwatched);
        EXPECT_LISTING(list_watched(file, nullptr, tell_note, nullptr, nullptr), unwatched);
        EXPECT_LISTING(list_watched(file, nullptr, nullptr, tell_note_line, nullptr), unwatched);
        EXPECT_LISTING(list_watched(file, nullptr, nullptr, nullptr, tell_resume_point), unwatched);
        EXPECT_LISTING(list_watched(file, tell_event_line, tell_note, tell_note_line, tell_resume_point), unwatched);
    }
}

TEST(EventLines, TicksOf1000OrMoreInTheKeptBeatAreWrittenInFull) {
    Bytes file = header(0, 1, 1920) + track(event(0, {0x90, 60, 11}) +     // reckons the beat of 1920 ticks
                                            event(999, {61, 12}) +          // the last tick of the table
                                            event(1, {62, 13}) +            // tick 1000
                                            event(919, {0x80, 63, 14}) +    // tick 1919, the beat's last
                                            event(1, {64, 15}) +            // the next beat
                                            end_of_track(1234));
    EXPECT_LISTING(event_lines(list_file(file)),
                   "  1T:0:0:0\t o: c:1 \tC_5 ...11\n"
                   "  1T:0:0:999\t o: c:1 \tC#-5 ...12\n"
                   "  1T:0:0:1000\t o: c:1 \tD-5 ...13\n"
                   "  1T:0:0:1919\t x: c:1 \tD#_5 ...14\n"
                   "  1T:0:1:0\t x: c:1 \tE-5 ...15\n"
                   "  1T:0:1:1234\t .:end of track//\n");
}
