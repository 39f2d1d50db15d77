// Runs the built program as a user does: in a working folder of its own, a name typed at the prompt.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/listing_harness.h"
#include "support/smf_builder.h"

namespace fs = std::filesystem;
using namespace smf;

namespace {
// What one run left: its exit status and everything it wrote to the console.
struct RunResult {
    int status;
    std::string console;
};

// The whole content of a file; empty when it can't be read.
std::string read_whole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Writes content to path, replacing what was there.
void write_whole(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

// A fresh folder under the system's temporary folder, removed with the test.
class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "smfdump-e2e-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        work = root / "work";
        fs::create_directory(work);
    }
    void TearDown() override { fs::remove_all(root); }

    // Runs program in the working folder with typed as its standard input (none at all when null).
    RunResult run(const fs::path& program, const char* typed) {
        fs::path input = root / "typed.txt";
        fs::path console = root / "console.txt";
        if (typed != nullptr) write_whole(input, typed);
        std::string command = "cd '";
        command += work.string();
        command += "' && '";
        command += program.string();
        command += "' <";
        command += typed != nullptr ? input.string() : std::string("/dev/null");
        command += " >'";
        command += console.string();
        command += "' 2>&1";
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_whole(console)};
    }

    // A copy of the built program in a folder of its own, beside a names file holding names.
    fs::path program_with_names(const fs::path& folder, const std::string& names) {
        fs::create_directories(folder);
        fs::copy_file(SMFDUMP_PROGRAM, folder / "smfdump");
        write_whole(folder / "initial.txt", names);
        return folder / "smfdump";
    }

    fs::path root;
    fs::path work;
};

// The first of the two example songs: one track in format 0.
const Bytes format0_song = header(0, 1, 480) + track(meta(0, 0x03, "Piano") +                // sequence name
                                                     event(0, {0xFF, 0x58, 4, 4, 2, 24, 8}) +  // time 4/4
                                                     event(0, {0x90, 60, 100}) +               // note on C 5
                                                     event(480, {0x80, 60, 64}) +              // note off
                                                     end_of_track());

const std::string format0_listing =
    "dump of song.mid\n"
    "\n"
    "T..time  c..channel  o..note on  x..note off  cc..control change  pc..program change\n"
    "\n"
    "\n"
    "\n"
    "----------------------\n"
    "header chunk.length(default 6):6 format:0\n"
    "track max:1\n"
    "division:delta time: 480\n"
    "\n"
    "----------------------\n"
    "track:1\n"
    "track chunk.data length:30\n"
    "\n"
    "  1T:0:0:0\t .:sequence name /Piano/\n"
    "  1T:0:0:0\t .:time 4/4 metronome 24:8\n"
    "  1T:0:0:0\t o: c:1 \tC_5 ...100\n"
    "  1T:0:1:0\t x: c:1 \tC_5 ...64\n"
    "  1T:0:1:0\t .:end of track//\n"
    "----------------------\n"
    "end of song.mid\n";
}  // namespace

TEST_F(EndToEnd, DialogueAndListingOfTheFormatZeroExample) {
    fs::path program = program_with_names(root / "bin", "[names]\nAcoustic Grand\n");
    write_whole(work / "song.mid", format0_song);
    RunResult result = run(program, "song.mid\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.console, (root / "bin").string() + "\n\ninput *.mid file:dump output file:default.txt\n");
    EXPECT_LISTING(read_whole(work / "default.txt"), format0_listing);
    EXPECT_FALSE(fs::exists(root / "bin" / "default.txt"));  // written in the working folder only
}

TEST_F(EndToEnd, FormatOneExampleWithProgramNamesFromBesideTheProgram) {
    fs::path program = program_with_names(root / "bin", "[General MIDI]\r\nAcoustic Grand\r\n");
    Bytes events = event(0, {0xFF, 0x58, 4, 4, 2, 24, 8}) +  // time 4/4
                   event(0, {0xC0, 0}) +                      // program 0, channel 1
                   event(0, {0xB3, 7, 100}) +                 // channel volume, channel 4
                   event(0, {0xB0, 3, 5}) +                   // controller 3: no name
                   event(0, {0x90, 60, 100}) +                // note on C 5
                   event(240, {64, 90}) +                     // running status: note on E 5
                   event(240, {0x80, 60, 64}) +               // note off C 5
                   event(0, {0xA1, 60, 0x20}) +               // polyphonic pressure, channel 2
                   event(0, {0xD1, 0x30}) +                   // channel pressure, channel 2
                   event(1200, {0xE0, 0x00, 0x40}) +          // pitch bend
                   event(0, {0xF0, 3, 0x7E, 0x7F, 0xF7}) +    // system exclusive
                   event(0, {0x50}) +                         // stray data byte
                   event(0, {0xF8}) +                         // unhandled system status
                   end_of_track();
    write_whole(work / "example.mid", header(1, 1, 480) + track(events));
    RunResult result = run(program, "  example.mid  \n");  // blanks around the name are not part of it
    EXPECT_EQ(result.status, 0);
    EXPECT_LISTING(read_whole(work / "default.txt"),
                   "dump of example.mid\n"
                   "\n"
                   "T..time  c..channel  o..note on  x..note off  cc..control change  pc..program change\n"
                   "\n"
                   "\n"
                   "\n"
                   "----------------------\n"
                   "header chunk.length(default 6):6 format:1\n"
                   "track max:1\n"
                   "division:delta time: 480\n"
                   "\n"
                   "----------------------\n"
                   "track:1\n"
                   "track chunk.data length:58\n"
                   "\n"
                   "  1T:0:0:0\t .:time 4/4 metronome 24:8\n"
                   "  1T:0:0:0\t pc: c:1   0H /Acoustic Grand/\n"
                   "  1T:0:0:0\t cc: c:4 ch vol MSB val 100\n"
                   "  1T:0:0:0\t cc: c:1  val 5\n"
                   "  1T:0:0:0\t o: c:1 \tC_5 ...100\n"
                   "  1T:0:0:240\t o: c:1 \tE-5 ...90\n"
                   "  1T:0:1:0\t x: c:1 \tC_5 ...64\n"
                   "  1T:0:1:0\t poly key press: c:2  3cH  20H \n"
                   "  1T:0:1:0\t channel press: c:2  30H \n"
                   "  1T:0:3:240\t pitch bend: c:1   0H  40H \n"
                   "  1T:0:3:240\t exclusive: 7eH  7fH  f7H \n"
                   "  1T:0:3:240\t unknown ex(bad running status):50(hex)\n"
                   "  1T:0:3:240\t unknown ex:f8(hex)\n"
                   "  1T:0:3:240\t .:end of track//\n"
                   "----------------------\n"
                   "end of example.mid\n");
}

TEST_F(EndToEnd, MissingFileIsReportedAndLeavesTheOldDumpAlone) {
    write_whole(work / "default.txt", "an earlier listing\n");
    RunResult result = run(SMFDUMP_PROGRAM, "nothere.mid\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.console.ends_with("input *.mid file:dump output file:default.txt\ncan't open nothere.mid."))
        << result.console;
    EXPECT_EQ(read_whole(work / "default.txt"), "an earlier listing\n");
}

TEST_F(EndToEnd, EndOfInputAtThePromptIsAnEmptyName) {
    RunResult result = run(SMFDUMP_PROGRAM, nullptr);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.console.ends_with("input *.mid file:dump output file:default.txt\ncan't open ."))
        << result.console;
    EXPECT_FALSE(fs::exists(work / "default.txt"));
}

TEST_F(EndToEnd, ASecondRunOverwritesTheDump) {
    write_whole(work / "song.mid", format0_song);
    write_whole(work / "empty.mid", "");
    ASSERT_EQ(run(SMFDUMP_PROGRAM, "song.mid").status, 0);
    ASSERT_EQ(run(SMFDUMP_PROGRAM, "empty.mid").status, 0);
    std::string second = read_whole(work / "default.txt");
    EXPECT_TRUE(second.starts_with("dump of empty.mid\n"));
    EXPECT_EQ(second.find("song.mid"), std::string::npos);
}

TEST_F(EndToEnd, OverLongNameIsRefusedWithoutOpeningAnything) {
    std::string name99(95, 'a');
    name99 += ".mid";
    std::string name100 = "b" + name99;
    write_whole(work / name99, format0_song);
    write_whole(work / name100, format0_song);
    // 100 characters: refused, even though such a file exists and its first 99 characters name another
    RunResult refused = run(SMFDUMP_PROGRAM, (name100 + "\n").c_str());
    EXPECT_EQ(refused.status, 0);
    EXPECT_TRUE(refused.console.ends_with("dump output file:default.txt\ncan't open a file name longer than 99 characters."))
        << refused.console;
    EXPECT_FALSE(fs::exists(work / "default.txt"));
    // 99 characters: listed
    RunResult listed = run(SMFDUMP_PROGRAM, (name99 + "\n").c_str());
    EXPECT_EQ(listed.status, 0);
    EXPECT_TRUE(read_whole(work / "default.txt").starts_with("dump of " + name99 + "\n"));
}

TEST_F(EndToEnd, TypedTextIsANameNeverAFormat) {
    RunResult result = run(SMFDUMP_PROGRAM, "%s%n%x.mid\n");
    EXPECT_TRUE(result.console.ends_with("can't open %s%n%x.mid.")) << result.console;
}

TEST_F(EndToEnd, DumpThatCannotBeCreatedIsAFailure) {
    write_whole(work / "song.mid", format0_song);
    fs::create_directory(work / "default.txt");  // a folder in its place can't be opened for writing
    RunResult result = run(SMFDUMP_PROGRAM, "song.mid\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.console.ends_with("dump output file:default.txt\ncan't create default.txt.")) << result.console;
}

TEST_F(EndToEnd, DumpThatCannotBeWrittenIsAFailure) {
    write_whole(work / "song.mid", format0_song);
    fs::create_symlink("/dev/full", work / "default.txt");  // every write fails: the disk is full
    RunResult result = run(SMFDUMP_PROGRAM, "song.mid\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.console.ends_with("dump output file:default.txt\ncan't write default.txt.")) << result.console;
}

TEST_F(EndToEnd, FolderGivenAsTheMidiFileCannotBeOpened) {
    fs::create_directory(work / "songs");
    RunResult result = run(SMFDUMP_PROGRAM, "songs\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.console.ends_with("can't open songs.")) << result.console;
    EXPECT_FALSE(fs::exists(work / "default.txt"));
}

TEST_F(EndToEnd, ProgramDirectoryTooLongForTheNamesFileSkipsIt) {
    // 128 characters of folder: the names file's path can't be held
    fs::path deep = root;
    while (deep.string().size() < 128) deep /= "long-folder-name";
    fs::path program = program_with_names(deep, "Acoustic Grand\n");
    write_whole(work / "song.mid", header(0, 1, 96) + track(event(0, {0xC0, 0}) + end_of_track()));
    RunResult result = run(program, "song.mid\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.console, deep.string() +
                                  "\ninitial.txt not loaded: the program's directory is too long.\n"
                                  "input *.mid file:dump output file:default.txt\n");
    EXPECT_NE(read_whole(work / "default.txt").find(" pc: c:1   0H //"), std::string::npos);
}

TEST_F(EndToEnd, ShippedNamesFileGivesGeneralMidiNames) {
    write_whole(work / "song.mid", header(0, 1, 96) + track(event(0, {0xC0, 0}) + event(0, {0xC9, 127}) + end_of_track()));
    ASSERT_EQ(run(SMFDUMP_PROGRAM, "song.mid\n").status, 0);
    std::string listing = read_whole(work / "default.txt");
    EXPECT_NE(listing.find(" pc: c:1   0H /Acoustic Grand Piano/"), std::string::npos) << listing;
    EXPECT_NE(listing.find(" pc: c:10  7fH /Gunshot/"), std::string::npos) << listing;
}
