// Runs the built program as a user does: in a working folder of its own, a name typed at the prompt.
//
// By default the program under test is the one built beside these tests. Environment variables run the
// same tests against another build, such as the Windows one under Wine:
//   SMFDUMP_TEST_PROGRAM   the program to run instead (a name ending in .exe marks a Windows program,
//                          whose paths show as Wine shows them: the Unix root is drive Z:, with
//                          backslashes)
//   SMFDUMP_TEST_RUNNER    a command prefix to start it with, such as "wine" (put in the shell command
//                          as it is, so it may hold several words)
//   SMFDUMP_TEST_LINE_END  "crlf" when the program ends its lines, on the console and in default.txt,
//                          with CR LF
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "support/example_songs.h"
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

// The value of the environment variable name; empty when it is not set.
std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The program under test and how it is started and seen.
struct Target {
    fs::path program;    // the program to run
    std::string runner;  // the command prefix that starts it; empty to start it directly
    bool windows;        // a Windows program run under Wine
    bool crlf;           // its line ends are CR LF
};

// The program under test as the environment names it (the one built beside these tests by default).
Target chosen_target() {
    Target t;
    std::string named = environment("SMFDUMP_TEST_PROGRAM");
    t.program = named.empty() ? fs::path(SMFDUMP_PROGRAM) : fs::path(named);
    t.runner = environment("SMFDUMP_TEST_RUNNER");
    t.windows = t.program.extension() == ".exe";
    std::string line_end = environment("SMFDUMP_TEST_LINE_END");
    if (line_end != "" && line_end != "lf" && line_end != "crlf") {
        std::fprintf(stderr, "SMFDUMP_TEST_LINE_END must be lf or crlf, not %s\n", line_end.c_str());
        std::exit(2);
    }
    t.crlf = line_end == "crlf";
    return t;
}

const Target target_under_test = chosen_target();  // chosen once, before any test runs

// The program under test and how it is started and seen.
const Target& target() { return target_under_test; }

// Text as the program under test writes it: every line end "\n" becomes "\r\n" when it writes CR LF.
std::string lines(const std::string& text) {
    if (!target().crlf) return text;
    std::string converted;
    for (char c : text) {
        if (c == '\n') converted += '\r';
        converted += c;
    }
    return converted;
}

// A folder as the program under test shows it: Wine shows the Unix root as drive Z: with backslashes.
std::string shown(const fs::path& folder) {
    std::string text = folder.string();
    if (!target().windows) return text;
    for (char& c : text) {
        if (c == '/') c = '\\';
    }
    return "Z:" + text;
}

// The program under test, with the shipped names file beside it.
fs::path program_under_test() { return target().program; }

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

    // Runs program in the working folder with typed as its standard input (none at all without it).
    RunResult run(const fs::path& program, const std::optional<std::string>& typed) {
        fs::path input = root / "typed.txt";
        fs::path console = root / "console.txt";
        if (typed) write_whole(input, *typed);
        std::string command = "cd '";
        command += work.string();
        command += "' && ";
        if (!target().runner.empty()) {
            command += target().runner;
            command += " ";
        }
        command += "'";
        command += program.string();
        command += "' <";
        command += typed ? input.string() : std::string("/dev/null");
        command += " >'";
        command += console.string();
        command += "' 2>&1";
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_whole(console)};
    }

    // A copy of the program under test in a folder of its own, beside a names file holding names.
    fs::path program_with_names(const fs::path& folder, const std::string& names) {
        fs::path copy = folder / (target().windows ? "smfdump.exe" : "smfdump");
        fs::create_directories(folder);
        fs::copy_file(program_under_test(), copy);
        write_whole(folder / "initial.txt", names);
        return copy;
    }

    fs::path root;
    fs::path work;
};

}  // namespace

TEST_F(EndToEnd, DialogueAndListingOfTheFormatZeroExample) {
    fs::path program = program_with_names(root / "bin", "[names]\nAcoustic Grand\n");
    write_whole(work / "song.mid", examples::format0_song());
    RunResult result = run(program, "song.mid\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.console, lines(shown(root / "bin") + "\n\ninput *.mid file:dump output file:default.txt\n"));
    EXPECT_LISTING(read_whole(work / "default.txt"), lines(examples::format0_listing));
    EXPECT_FALSE(fs::exists(root / "bin" / "default.txt"));  // written in the working folder only
}

TEST_F(EndToEnd, FormatOneExampleWithProgramNamesFromBesideTheProgram) {
    fs::path program = program_with_names(root / "bin", "[General MIDI]\r\nAcoustic Grand\r\n");
    write_whole(work / "example.mid", examples::format1_song());
    RunResult result = run(program, "  example.mid  \n");  // blanks around the name are not part of it
    EXPECT_EQ(result.status, 0);
    EXPECT_LISTING(read_whole(work / "default.txt"), lines(examples::format1_listing("example.mid")));
}

TEST_F(EndToEnd, MissingFileIsReportedAndLeavesTheOldDumpAlone) {
    write_whole(work / "default.txt", "an earlier listing\n");
    RunResult result = run(program_under_test(), "nothere.mid\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.console.ends_with(lines("input *.mid file:dump output file:default.txt\ncan't open nothere.mid.")))
        << result.console;
    EXPECT_EQ(read_whole(work / "default.txt"), "an earlier listing\n");
}

TEST_F(EndToEnd, EndOfInputAtThePromptIsAnEmptyName) {
    RunResult result = run(program_under_test(), std::nullopt);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.console.ends_with(lines("input *.mid file:dump output file:default.txt\ncan't open .")))
        << result.console;
    EXPECT_FALSE(fs::exists(work / "default.txt"));
}

TEST_F(EndToEnd, ASecondRunOverwritesTheDump) {
    write_whole(work / "song.mid", examples::format0_song());
    write_whole(work / "empty.mid", "");
    ASSERT_EQ(run(program_under_test(), "song.mid").status, 0);
    ASSERT_EQ(run(program_under_test(), "empty.mid").status, 0);
    std::string second = read_whole(work / "default.txt");
    EXPECT_TRUE(second.starts_with(lines("dump of empty.mid\n")));
    EXPECT_EQ(second.find("song.mid"), std::string::npos);
}

TEST_F(EndToEnd, OverLongNameIsRefusedWithoutOpeningAnything) {
    std::string name99(95, 'a');
    name99 += ".mid";
    std::string name100 = "b" + name99;
    write_whole(work / name99, examples::format0_song());
    write_whole(work / name100, examples::format0_song());
    // 100 characters: refused, even though such a file exists and its first 99 characters name another
    RunResult refused = run(program_under_test(), name100 + "\n");
    EXPECT_EQ(refused.status, 0);
    EXPECT_TRUE(refused.console.ends_with(lines("dump output file:default.txt\ncan't open a file name longer than 99 characters.")))
        << refused.console;
    EXPECT_FALSE(fs::exists(work / "default.txt"));
    // 99 characters: listed
    RunResult listed = run(program_under_test(), name99 + "\n");
    EXPECT_EQ(listed.status, 0);
    EXPECT_TRUE(read_whole(work / "default.txt").starts_with(lines("dump of " + name99 + "\n")));
}

TEST_F(EndToEnd, TypedTextIsANameNeverAFormat) {
    RunResult result = run(program_under_test(), "%s%n%x.mid\n");
    EXPECT_TRUE(result.console.ends_with("can't open %s%n%x.mid.")) << result.console;
}

TEST_F(EndToEnd, DumpThatCannotBeCreatedIsAFailure) {
    write_whole(work / "song.mid", examples::format0_song());
    fs::create_directory(work / "default.txt");  // a folder in its place can't be opened for writing
    RunResult result = run(program_under_test(), "song.mid\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.console.ends_with(lines("dump output file:default.txt\ncan't create default.txt."))) << result.console;
}

TEST_F(EndToEnd, DumpThatCannotBeWrittenIsAFailure) {
    if (target().windows) {
        // Windows has no /dev/full, and Wine reports writes to it as done: nothing to fail here
        GTEST_SKIP() << "no device that refuses every write for a Windows program under Wine";
    }
    write_whole(work / "song.mid", examples::format0_song());
    fs::create_symlink("/dev/full", work / "default.txt");  // every write fails: the disk is full
    RunResult result = run(program_under_test(), "song.mid\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.console.ends_with(lines("dump output file:default.txt\ncan't write default.txt."))) << result.console;
}

TEST_F(EndToEnd, FolderGivenAsTheMidiFileCannotBeOpened) {
    fs::create_directory(work / "songs");
    RunResult result = run(program_under_test(), "songs\n");
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
    EXPECT_EQ(result.console, lines(shown(deep) +
                                    "\ninitial.txt not loaded: the program's directory is too long.\n"
                                    "input *.mid file:dump output file:default.txt\n"));
    EXPECT_NE(read_whole(work / "default.txt").find(" pc: c:1   0H //"), std::string::npos);
}

TEST_F(EndToEnd, ShippedNamesFileGivesGeneralMidiNames) {
    write_whole(work / "song.mid", header(0, 1, 96) + track(event(0, {0xC0, 0}) + event(0, {0xC9, 127}) + end_of_track()));
    ASSERT_EQ(run(program_under_test(), "song.mid\n").status, 0);
    std::string listing = read_whole(work / "default.txt");
    EXPECT_NE(listing.find(" pc: c:1   0H /Acoustic Grand Piano/"), std::string::npos) << listing;
    EXPECT_NE(listing.find(" pc: c:10  7fH /Gunshot/"), std::string::npos) << listing;
}

TEST_F(EndToEnd, TypedNameWithFormatSequencesIsListedUnderThatName) {
    write_whole(work / "100%s%n%x.mid", examples::format0_song());
    RunResult result = run(program_under_test(), "100%s%n%x.mid\n");
    EXPECT_EQ(result.status, 0);
    std::string listing = read_whole(work / "default.txt");
    EXPECT_TRUE(listing.starts_with(lines("dump of 100%s%n%x.mid\n"))) << listing;
    EXPECT_TRUE(listing.ends_with(lines("end of 100%s%n%x.mid\n"))) << listing;
}

TEST_F(EndToEnd, TypedControlCharactersArePartOfTheName) {
    // an escape sequence, a bell and DEL reach the console as the bytes typed
    RunResult result = run(program_under_test(), "\x1B[2J\a\x7F.mid\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.console.ends_with("can't open \x1B[2J\a\x7F.mid.")) << result.console;
}

TEST_F(EndToEnd, TypedNameCutShortByAZeroByteIsRefused) {
    // "song.mid", a zero byte, then more: taken up to the zero byte it would name another file
    write_whole(work / "song.mid", examples::format0_song());
    RunResult result = run(program_under_test(), std::string("song.mid\0.bak\n", 14));
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.console.ends_with(lines("dump output file:default.txt\ncan't open a file name holding a zero byte.")))
        << result.console;
    EXPECT_FALSE(fs::exists(work / "default.txt"));
}

TEST_F(EndToEnd, InputThatIsTheDumpIsNeitherTruncatedNorListed) {
    // each name reaches the very file default.txt is: creating the dump would wipe it before a byte is read
    const std::string earlier = examples::format0_song();
    write_whole(work / "default.txt", earlier);
    fs::create_symlink("default.txt", work / "link.mid");
    fs::create_hard_link(work / "default.txt", work / "hard.mid");
    fs::create_directory(work / "songs");
    write_whole(work / "songs" / "song.mid", earlier);
    for (const char* typed : {"default.txt", "./default.txt", "songs/../default.txt", "link.mid", "hard.mid"}) {
        RunResult result = run(program_under_test(), std::string(typed) + "\n");
        EXPECT_EQ(result.status, 1) << typed;
        EXPECT_TRUE(result.console.ends_with(lines("dump output file:default.txt\ncan't list default.txt into itself.")))
            << typed << ": " << result.console;
        EXPECT_EQ(read_whole(work / "default.txt"), earlier) << typed;
    }
    // default.txt a link to the typed file: creating it would truncate that file
    fs::remove(work / "default.txt");
    fs::create_symlink("songs/song.mid", work / "default.txt");
    RunResult through_link = run(program_under_test(), "songs/song.mid\n");
    EXPECT_EQ(through_link.status, 1);
    EXPECT_TRUE(through_link.console.ends_with("can't list default.txt into itself.")) << through_link.console;
    EXPECT_EQ(read_whole(work / "songs" / "song.mid"), earlier);
}

TEST_F(EndToEnd, CopyOfTheDumpIsAnotherFileAndIsListed) {
    // same bytes, another file: only the very file is refused
    write_whole(work / "default.txt", examples::format0_song());
    write_whole(work / "copy.mid", examples::format0_song());
    RunResult result = run(program_under_test(), "copy.mid\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(read_whole(work / "default.txt").starts_with(lines("dump of copy.mid\n")));
}
