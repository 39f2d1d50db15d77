#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "control/names_file.h"
#include "listing/name_tables.h"
#include "support/listing_harness.h"
#include "support/smf_builder.h"

namespace {
// Fills the program-name table, fresh, from a names file holding exactly these bytes.
void load_names_from(const std::string& content) {
    reset_program_state();
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(content.data(), 1, content.size(), file);
    std::rewind(file);
    read_program_names(file);
    std::fclose(file);
}

// How many program names are not empty.
int names_filled() {
    int count = 0;
    for (auto& name : program_name_table) count += name[0] != '\0';
    return count;
}
}  // namespace

TEST(NamesFile, HeadingsAndEmptyLinesAreSkipped) {
    load_names_from("[General MIDI]\nAcoustic Grand\n\nBright Acoustic\n");
    EXPECT_STREQ(program_name_table[0], "Acoustic Grand");
    EXPECT_STREQ(program_name_table[1], "Bright Acoustic");
    EXPECT_EQ(names_filled(), 2);
}

TEST(NamesFile, AtMost128NamesAreTaken) {
    std::string lines;
    for (int i = 0; i < 130; ++i) lines += "name " + std::to_string(i) + "\n";
    load_names_from(lines);
    EXPECT_STREQ(program_name_table[0], "name 0");
    EXPECT_STREQ(program_name_table[127], "name 127");
    EXPECT_EQ(names_filled(), 128);
}

TEST(NamesFile, LongLinesAreSplitAfter29CharactersDroppingThe30th) {
    // 35 characters: 29 for the first name, the 30th dropped, the last 5 a name of their own
    load_names_from("abcdefghijklmnopqrstuvwxyz012_45678\nnext\n");
    EXPECT_STREQ(program_name_table[0], "abcdefghijklmnopqrstuvwxyz012");
    EXPECT_STREQ(program_name_table[1], "45678");
    EXPECT_STREQ(program_name_table[2], "next");
    // exactly 29 characters: the line end is the character dropped, so nothing is split
    load_names_from("abcdefghijklmnopqrstuvwxyz012\nnext");
    EXPECT_STREQ(program_name_table[0], "abcdefghijklmnopqrstuvwxyz012");
    EXPECT_STREQ(program_name_table[1], "next");  // the last line needs no line end
    // a remainder that starts with "[" is skipped like a heading
    load_names_from("abcdefghijklmnopqrstuvwxyz012 [rest\nnext\n");
    EXPECT_STREQ(program_name_table[1], "next");
}

TEST(NamesFile, CrBytesAreDroppedEverywhereAnd1AEndsTheFile) {
    load_names_from("[head]\r\nPiano\r\n\r\nOr\rgan\r\n");
    EXPECT_STREQ(program_name_table[0], "Piano");
    EXPECT_STREQ(program_name_table[1], "Organ");
    EXPECT_EQ(names_filled(), 2);
    // a dropped CR does not count toward the 29 characters
    load_names_from("abcdefghijklmn\r\r\ropqrstuvwxyz012\r\nnext\n");
    EXPECT_STREQ(program_name_table[0], "abcdefghijklmnopqrstuvwxyz012");
    EXPECT_STREQ(program_name_table[1], "next");
    load_names_from("Harp\nCel\x1Ala\nnever\n");
    EXPECT_STREQ(program_name_table[0], "Harp");
    EXPECT_STREQ(program_name_table[1], "Cel");
    EXPECT_EQ(names_filled(), 2);
}

TEST(NamesFile, ZeroBytesEndANameButCountTowardItsLength) {
    load_names_from(std::string("Fl\0ute\n\0hidden\nOboe\n", 20));
    EXPECT_STREQ(program_name_table[0], "Fl");
    EXPECT_STREQ(program_name_table[1], "Oboe");  // a piece that starts with a zero byte is empty
    EXPECT_EQ(names_filled(), 2);
}

TEST(NamesFile, PercentSignsAreNamesNotFormats) {
    load_names_from("100% %s%n%x\n");
    EXPECT_STREQ(program_name_table[0], "100% %s%n%x");
    using namespace smf;
    std::string listing = list_file_keeping_state(header(0, 1, 96) + track(event(0, {0xC0, 0})));  // program 0
    EXPECT_NE(listing.find(" pc: c:1   0H /100% %s%n%x/"), std::string::npos);
}

TEST(NamesFile, MissingFileLeavesAllNamesEmpty) {
    reset_program_state();
    load_program_names("/nonexistent-folder/initial.txt");
    EXPECT_EQ(names_filled(), 0);
}

TEST(NamesFile, ControlCharactersAreKeptAndShownRaw) {
    // a tab, a bell, an escape sequence, DEL and a byte above 0x7F: all of them are name characters
    const std::string name = "\tTab\aBell\x1B[2JRed\x7F\xFF";
    load_names_from(name + "\n");
    EXPECT_EQ(program_name_table[0], name);
    using namespace smf;
    std::string listing = list_file_keeping_state(header(0, 1, 96) + track(event(0, {0xC0, 0})));  // program 0
    EXPECT_NE(listing.find(" pc: c:1   0H /" + name + "/"), std::string::npos);
}

TEST(NamesFile, VeryLongLineFillsEntriesOf29CharactersAndNoMore) {
    // 6000 letters on one line: pieces of 30 characters, each keeping 29; the 129th piece on is dropped
    std::string line;
    for (int i = 0; i < 6000; ++i) line += static_cast<char>('a' + i % 26);
    load_names_from(line + "\nnever\n");
    EXPECT_EQ(names_filled(), 128);
    for (int i : {0, 1, 64, 127}) {
        EXPECT_EQ(program_name_table[i], line.substr(30 * static_cast<std::size_t>(i), 29)) << "entry " << i;
    }
}

TEST(NamesFile, ByteOrderMarkFromAWindowsEditorDoesNotShiftTheNames) {
    // "UTF-8 with BOM": EF BB BF before the heading once hid the heading's "[" and made it program 0
    const std::string names = "[General MIDI]\nAcoustic Grand\nBright Acoustic\n";
    load_names_from("\xEF\xBB\xBF" + names);
    EXPECT_STREQ(program_name_table[0], "Acoustic Grand");
    EXPECT_STREQ(program_name_table[1], "Bright Acoustic");
    EXPECT_EQ(names_filled(), 2);
    // the same three bytes anywhere else are name bytes, and a partial mark is read as it stands
    load_names_from(names + "\xEF\xBB\xBFOboe\n");
    EXPECT_STREQ(program_name_table[2], "\xEF\xBB\xBFOboe");
    load_names_from("\xEF\xBBHarp\n");
    EXPECT_STREQ(program_name_table[0], "\xEF\xBBHarp");
}
