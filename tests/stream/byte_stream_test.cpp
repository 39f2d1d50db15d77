#include <gtest/gtest.h>

#include "stream/byte_stream.h"
#include "support/listing_harness.h"
#include "support/smf_builder.h"

using smf::bytes;

TEST(ReadVlq, TakesBytesUntilOneWithBit7Clear) {
    std::int32_t value = 0;
    with_streams(bytes({0x81, 0x80, 0x00, 0x2A}), [&] {
        value = read_vlq();
        EXPECT_EQ(read_byte(), 0x2A);  // exactly three bytes were taken
    });
    EXPECT_EQ(value, 16384);
    with_streams(bytes({0x00, 0x2A}), [&] {
        EXPECT_EQ(read_vlq(), 0);
        EXPECT_EQ(read_byte(), 0x2A);
    });
}

TEST(ReadVlq, HasNoFourByteCapAndWrapsIn32Bits) {
    with_streams(bytes({0x81, 0x82, 0x83, 0x84, 0x85, 0x06, 0x2A}), [&] {
        // ((((1*128+2)*128+3)*128+4)*128+5)*128+6, kept to its low 32 bits
        EXPECT_EQ(read_vlq(), 543228550);
        EXPECT_EQ(read_byte(), 0x2A);
    });
}

TEST(ReadVlq, StopsAtEndOfInputWithTheMissingByteInTheSum) {
    with_streams(bytes({0x81}), [&] {
        EXPECT_EQ(read_vlq(), 1 * 128 - 129);  // a missing byte adds -129
        EXPECT_TRUE(input_at_end());
    });
    with_streams("", [&] { EXPECT_EQ(read_vlq(), -129); });
}

TEST(ReadBe, IsBigEndianAndTakesMinusOneForEachMissingByte) {
    with_streams(bytes({0x01, 0xE0}), [&] { EXPECT_EQ(read_be(2), 480); });
    with_streams("", [&] {
        EXPECT_EQ(read_be(4), -16843009);
        EXPECT_EQ(read_be(2), -257);
        EXPECT_EQ(read_be(0), 0);
    });
    with_streams(bytes({0x12}), [&] { EXPECT_EQ(read_be(2), 0x12 * 256 - 1); });
}

TEST(ReadByte, CountsDownTheChunkEvenPastTheEnd) {
    with_streams(bytes({7}), [&] {
        chunk_remaining = 2;
        EXPECT_EQ(read_byte(), 7);
        EXPECT_FALSE(input_at_end());  // taking the last byte does not set the end
        EXPECT_EQ(read_byte(), -1);
        EXPECT_TRUE(input_at_end());
        EXPECT_EQ(read_byte(), -1);
        EXPECT_EQ(chunk_remaining, -1);
    });
}

TEST(ReadByte, ChunkCountWrapsInsteadOfOverflowing) {
    with_streams("", [&] {
        chunk_remaining = INT32_MIN;
        read_byte();
        EXPECT_EQ(chunk_remaining, INT32_MAX);
    });
}

TEST(Writers, NumbersAreUnsigned32Bit) {
    std::string out = with_streams("", [] {
        put_uint(0);
        put_char('|');
        put_uint(static_cast<std::uint32_t>(-1));
        put_char('|');
        put_uint_sp(480);
        put_char('|');
        put_labelled_uint(" o: c:", 16);
        put_char('|');
        put_hex_plain(0xf8);
        put_char('|');
        put_hex_plain(static_cast<std::uint32_t>(-1));
    });
    EXPECT_EQ(out, "0|4294967295|480 | o: c:16 |f8|ffffffff");
}

TEST(Writers, HexIsRightAlignedInThreePlaces) {
    std::string out = with_streams("", [] {
        put_hex(0x40);
        put_hex(0x7);
        put_hex(0x100);
        put_hex(0xabcde);
        put_hex(static_cast<std::uint32_t>(-1));
    });
    EXPECT_EQ(out, " 40H   7H 100H abcdeH ffffffffH ");
}

TEST(Writers, LineEndsAndSeparator) {
    EXPECT_EQ(with_streams("", [] { put_line_ends(3); }), "\n\n\n");
    EXPECT_EQ(with_streams("", [] { put_line_ends(0); }), "\n");
    EXPECT_EQ(with_streams("", [] { put_line_ends(INT32_MIN); }), "\n");
    EXPECT_EQ(with_streams("", [] { put_separator(); }), "\n----------------------\n");
}

TEST(Writers, OutputLargerThanTheBufferArrivesWhole) {
    std::string big(dump_buffer_size * 2 + 17, 'x');
    big[5] = 'a';
    big[dump_buffer_size + 3] = 'b';
    std::string out = with_streams("", [&] {
        put_text("<");
        put_bytes(big.data(), big.size());
        for (int i = 0; i < 100000; ++i) put_hex(static_cast<std::uint32_t>(i));
    });
    EXPECT_EQ(out.substr(0, big.size() + 1), "<" + big);
    EXPECT_EQ(out.substr(big.size() + 1, 10), "  0H   1H ");
    // three hex places and "H " up to 0xfff, four up to 0xffff, five after
    EXPECT_EQ(out.size(), 1 + big.size() + 4096 * 5 + (65536 - 4096) * 6 + (100000 - 65536) * 7);
    EXPECT_EQ(out.substr(out.size() - 7), "1869fH ");
}

TEST(CombinedOperations, ShowBytesDecWritesTheLabelThenTheValue) {
    std::int32_t last = 0;
    std::string out = with_streams(bytes({100}), [&] {
        last = show_bytes_dec(1, "...");
        show_bytes_dec(1, " val ");
    });
    EXPECT_EQ(out, "...100 val 4294967295");
    EXPECT_EQ(last, 100);
}

TEST(CombinedOperations, FixedHexCountsShowMissingBytesAsMinusOne) {
    std::string out = with_streams(bytes({0x3c}), [] { show_hex_bytes(2); });
    EXPECT_EQ(out, " 3cH ffffffffH ");
    EXPECT_EQ(with_streams(bytes({1, 2}), [] { show_hex_bytes(-129); }), "");
}

TEST(CombinedOperations, BodiesFromFileLengthsStopAtTheEndOfInput) {
    std::int32_t last = 0;
    std::string hex = with_streams(bytes({0x7e, 0x7f}), [&] { last = show_hex_body(0x0FFFFFFF); });
    EXPECT_EQ(hex, " 7eH  7fH ");
    EXPECT_EQ(last, -1);
    EXPECT_EQ(with_streams(bytes({1}), [] { show_hex_body(-129); }), "");

    std::string text = with_streams("ab", [] { show_text_bytes(4294967167u, "x"); });
    EXPECT_EQ(text, "x/ab/");
}

TEST(CombinedOperations, TextBytesAreWrittenRaw) {
    EXPECT_EQ(with_streams("", [] { show_text_bytes(0, ""); }), "//");
    std::string raw = bytes({'a', 0, '/', '\n', 0x1B, 0xFF, '%', 'n'});
    EXPECT_EQ(with_streams(raw, [] { show_text_bytes(8, ""); }), "/" + raw + "/");
}

TEST(ChunkIdentifierReads, DoNotTouchTheChunkCount) {
    with_streams("MT", [&] {
        chunk_remaining = 5;
        EXPECT_EQ(peek_input_byte(), 'M');
        skip_input_byte();
        skip_input_byte();
        EXPECT_FALSE(input_at_end());
        EXPECT_EQ(peek_input_byte(), -1);
        EXPECT_TRUE(input_at_end());
        EXPECT_EQ(chunk_remaining, 5);
    });
}
