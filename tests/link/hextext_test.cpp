#include "link/hextext.h"
#include "tests/support/telegrams.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <utility>
#include <vector>

using namespace qtr290;

using test::ReadRequest;

TEST(HexText, TelegramTextLineBreaks)
{
    struct Row {
        const char* source;
        int bytesPerLine;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"documented example, 4 per line", 4, "A6 00 F0 0A \r\n03 5D 01 57 \r\n01 00 A7 "},
        {"count a multiple of the line: ends in a line break", 11,
         "A6 00 F0 0A 03 5D 01 57 01 00 A7 \r\n"},
        {"default 32: one line ending in a space", 32, "A6 00 F0 0A 03 5D 01 57 01 00 A7 "},
        {"zero means no line breaks", 0, "A6 00 F0 0A 03 5D 01 57 01 00 A7 "},
        {"negative means no line breaks", -5, "A6 00 F0 0A 03 5D 01 57 01 00 A7 "},
        {"one per line", 1,
         "A6 \r\n00 \r\nF0 \r\n0A \r\n03 \r\n5D \r\n01 \r\n57 \r\n01 \r\n00 \r\nA7 \r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source);
        EXPECT_EQ(TelegramText(ReadRequest, row.bytesPerLine), row.expected);
    }
    EXPECT_EQ(TelegramText({}, 4), "");
    EXPECT_EQ(ChunkText(ByteSpan(ReadRequest).first(4)), "A6 00 F0 0A ");
}

// A long telegram of 263 bytes and a transmission of 256 (lead byte included) are shown
// whole, not cut to an 8-bit count.
TEST(HexText, LongestTelegramsShownWhole)
{
    for (std::size_t size : {std::size_t{256}, std::size_t{263}}) {
        SCOPED_TRACE(size);
        std::vector<std::uint8_t> bytes(size);
        std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
        const std::string text = TelegramText(bytes, 32);
        const std::size_t breaks = size / 32;
        EXPECT_EQ(text.size(), size * 3 + breaks * 2);
        const std::string last = HexByte(bytes.back()) + ' ';
        EXPECT_EQ(text.substr(text.size() - last.size() - (size % 32 == 0 ? 2 : 0), last.size()),
                  last);
        EXPECT_EQ(ChunkText(bytes).size(), size * 3);
    }
}

TEST(HexText, Numbers)
{
    EXPECT_EQ(HexByte(0x00), "00");
    EXPECT_EQ(HexByte(0x0A), "0A");
    EXPECT_EQ(HexByte(0xFF), "FF");
    EXPECT_EQ(HexNumber(0x0A), "0A");
    EXPECT_EQ(HexNumber(0xCD), "CD");
    EXPECT_EQ(HexNumber(0x100), "100");
    EXPECT_EQ(HexNumber(0x104), "104");
}

// The neighbours of each digit range are no digits; neither is a byte of a multi-byte
// character nor a full-width digit.
TEST(HexText, HexDigitValueRows)
{
    const std::vector<std::pair<char32_t, int>> rows = {
        {U'0', 0},
        {U'9', 9},
        {U'A', 10},
        {U'F', 15},
        {U'a', 10},
        {U'f', 15},
        {U'/', -1},
        {U':', -1},
        {U'@', -1},
        {U'G', -1},
        {U'`', -1},
        {U'g', -1},
        {U' ', -1},
        {U'\0', -1},
        {U'Ａ', -1},
        {U'１', -1},
        {char32_t(char(0xE9)), -1},
    };
    for (const auto& [c, value] : rows)
        EXPECT_EQ(HexDigitValue(c), value) << std::uint32_t(c);
}
