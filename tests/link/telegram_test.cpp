#include "link/telegram.h"
#include "tests/support/telegrams.h"

#include <gtest/gtest.h>

#include <array>
#include <string_view>
#include <vector>

using namespace qtr290;

namespace {

std::vector<std::uint8_t> Ascii(std::string_view s)
{
    return {s.begin(), s.end()};
}

// Reference CRC-8/MAXIM table form: entry i is the CRC of the single byte i.
std::uint8_t Crc8ByTable(ByteSpan bytes)
{
    static const auto table = [] {
        std::array<std::uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const std::uint8_t b = static_cast<std::uint8_t>(i);
            t[i] = CRC8(ByteSpan(&b, 1));
        }
        return t;
    }();
    std::uint8_t crc = 0;
    for (auto d : bytes)
        crc = table[crc ^ d];
    return crc;
}

struct ChecksumVector {
    const char* source;
    std::vector<std::uint8_t> bytes;
    std::uint8_t additive;
    std::uint8_t crc8;
};

} // namespace

// Published CRC-8/MAXIM check values ("123456789" -> 0xA1) and the documented "abc" examples.
TEST(Checksums, KnownAnswers)
{
    const std::vector<ChecksumVector> vectors = {
        {"empty range", {}, 0x00, 0x00},
        {"CRC catalogue check string", Ascii("123456789"), 0x23, 0xA1},
        {"documented abc example", Ascii("abc"), 0xDA, 0x42},
        {"single 0xFF", {0xFF}, 0x01, 0x35},
        {"read request block of the worked example", {0x01, 0x57, 0x01, 0x00}, 0xA7, 0x4A},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.source);
        EXPECT_EQ(KontrolniSoucet(v.bytes), v.additive);
        EXPECT_EQ(CRC8(v.bytes), v.crc8);
    }
}

TEST(Checksums, Crc8TableFormEqualsBitSerial)
{
    const std::uint8_t b[] = {0, 1, 2, 3};
    EXPECT_EQ(CRC8(ByteSpan(&b[0], 1)), 0x00);
    EXPECT_EQ(CRC8(ByteSpan(&b[1], 1)), 0x5E);
    EXPECT_EQ(CRC8(ByteSpan(&b[2], 1)), 0xBC);
    EXPECT_EQ(CRC8(ByteSpan(&b[3], 1)), 0xE2);

    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 600; ++i)
        stream.push_back(static_cast<std::uint8_t>(i * 37 + (i >> 3)));
    for (std::size_t len = 0; len <= stream.size(); len += 7)
        ASSERT_EQ(CRC8(ByteSpan(stream).first(len)), Crc8ByTable(ByteSpan(stream).first(len)))
            << "length " << len;
}

TEST(Checksums, CrcContinuesFromInitialValue)
{
    const auto all = Ascii("123456789");
    const auto head = CRC8(ByteSpan(all).first(4));
    EXPECT_EQ(CRC8(ByteSpan(all).subspan(4), head), 0xA1);
}

TEST(Checksums, IntactHeaderSumsToZeroAndAnySingleChangeIsCaught)
{
    std::vector<std::uint8_t> header = {0xA6, 0x00, 0xF0, 0x0A, 0x03};
    header.push_back(KontrolniSoucet(header));
    ASSERT_EQ(KontrolniSoucet(header), 0);
    for (std::size_t i = 0; i < header.size(); ++i) {
        for (int delta = 1; delta < 256; ++delta) {
            auto damaged = header;
            damaged[i] = static_cast<std::uint8_t>(damaged[i] + delta);
            ASSERT_NE(KontrolniSoucet(damaged), 0) << "offset " << i << " delta " << delta;
        }
    }
}

// The two worked requests, From 0xF0 to To 0x00, address 0x000157.
TEST(Requests, WorkedExamplesByteForByte)
{
    const RequestTarget ram{0xF0, 0x00, static_cast<std::uint8_t>(MemoryArea::RAM290), 0x000157};
    EXPECT_EQ(BuildReadRequest(ram, 1), test::ReadRequest);

    RequestTarget fram = ram;
    fram.area = static_cast<std::uint8_t>(MemoryArea::FRAM290);
    const std::uint8_t data[] = {0x12, 0x34};
    EXPECT_EQ(BuildWriteRequest(fram, data), test::WriteRequest);
}

TEST(Requests, LengthsAndChecksumsForEveryCount)
{
    const RequestTarget t{0x12, 0x34, static_cast<std::uint8_t>(MemoryArea::RAMBIT290), 0xFFABCDEF};
    for (int count = 0; count <= 255; ++count) {
        SCOPED_TRACE(count);
        const auto read = BuildReadRequest(t, static_cast<std::uint8_t>(count));
        ASSERT_EQ(read.size(), ReadRequestLength);
        EXPECT_EQ(read[4], 3);
        EXPECT_EQ(read[3], 0x6A);
        EXPECT_EQ(read[6], count);
        // Only the low 24 bits of the address are carried, little-endian.
        EXPECT_EQ(read[7], 0xEF);
        EXPECT_EQ(read[8], 0xCD);
        EXPECT_EQ(read[9], 0xAB);
        EXPECT_EQ(KontrolniSoucet(ByteSpan(read).first(6)), 0);
        EXPECT_EQ(KontrolniSoucet(ByteSpan(read).subspan(6)), 0);
        EXPECT_EQ(TelegramLength(read)->total(), read.size());

        const std::vector<std::uint8_t> data(static_cast<std::size_t>(count), 0x5A);
        const auto write = BuildWriteRequest(t, data);
        if (static_cast<std::size_t>(count) > MaxBuildableWriteCount) {
            EXPECT_TRUE(write.empty());
            continue;
        }
        ASSERT_EQ(write.size(), count + WriteRequestOverhead);
        EXPECT_EQ(write[3], 0xEA);
        EXPECT_EQ(write[4], count + 4);
        EXPECT_EQ(KontrolniSoucet(ByteSpan(write).first(6)), 0);
        EXPECT_EQ(KontrolniSoucet(ByteSpan(write).subspan(6)), 0);
        EXPECT_EQ(CRC8(ByteSpan(write).subspan(6, count + 4)), write[10 + count]);
        EXPECT_EQ(TelegramLength(write)->total(), write.size());
        EXPECT_FALSE(IsPoll(write));
    }
}

TEST(Requests, WriteWithCountZeroIsTwelveBytes)
{
    const RequestTarget t{0xF0, 0x00, 0x00, 0x000157};
    const auto w = BuildWriteRequest(t, {});
    ASSERT_EQ(w.size(), 12u);
    EXPECT_EQ(w[4], 4);
    EXPECT_EQ(w[10], CRC8(ByteSpan(w).subspan(6, 4)));
    EXPECT_EQ(KontrolniSoucet(ByteSpan(w).subspan(6)), 0);
}

TEST(Lengths, FromHeaderBytes)
{
    struct Row {
        const char* what;
        std::vector<std::uint8_t> start;
        std::optional<TelegramLengths> expected;
    };
    const std::vector<Row> rows = {
        {"shortest: short with L = 0", {0xA5, 0, 0, 0x80}, TelegramLengths{5, 2}},
        {"short length uses bits 0-4 only", {0xA5, 0, 0, 0xFF}, TelegramLengths{5, 33}},
        {"long read request", {0xA6, 0, 0xF0, 0x0A, 0x03}, TelegramLengths{6, 5}},
        {"longest: long with L = 255", {0xA6, 0, 0, 0, 0xFF}, TelegramLengths{6, 257}},
        {"long needs its length byte", {0xA6, 0, 0, 0}, std::nullopt},
        {"short needs offset 3", {0xA5, 0, 0}, std::nullopt},
        {"no sync byte", {0xFF, 0, 0, 0, 0}, std::nullopt},
        {"empty", {}, std::nullopt},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const auto got = TelegramLength(r.start);
        ASSERT_EQ(got.has_value(), r.expected.has_value());
        if (got) {
            EXPECT_EQ(got->header, r.expected->header);
            EXPECT_EQ(got->block, r.expected->block);
        }
    }
    EXPECT_EQ(TelegramLength(std::vector<std::uint8_t>{0xA5, 0, 0, 0x80})->total(),
              MinTelegramLength);
    EXPECT_EQ(TelegramLength(std::vector<std::uint8_t>{0xA6, 0, 0, 0, 0xFF})->total(),
              MaxTelegramLength);
}

TEST(PollTest, Boundaries)
{
    struct Row {
        std::uint8_t sync;
        std::uint8_t offset3;
        bool poll;
    };
    const std::vector<Row> rows = {
        {0xA6, 0x0A, false}, {0xA6, 0x08, true},  {0xA6, 0x80, true},  {0xA6, 0x00, true},
        {0xA6, 0xF8, true},  {0xA6, 0x01, false}, {0xA6, 0x04, false}, {0xA6, 0x07, false},
        {0xA5, 0x80, true},  {0xA5, 0x9F, true},  {0xA5, 0x7F, false}, {0xA5, 0xA0, false},
        {0xA5, 0x00, false}, {0xA5, 0xFF, false},
    };
    for (const auto& r : rows) {
        const std::vector<std::uint8_t> t = {r.sync, 0x11, 0x22, r.offset3, 0, 0, 0};
        EXPECT_EQ(IsPoll(t), r.poll) << std::hex << int(r.sync) << " " << int(r.offset3);
        EXPECT_EQ(TelegramTo(t), 0x11);
        EXPECT_EQ(TelegramFrom(t), 0x22);
    }
    EXPECT_FALSE(IsPoll(std::vector<std::uint8_t>{0xA6, 0, 0}));
}
