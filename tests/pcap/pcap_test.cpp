// The pcapng library (writer, bus capture) and the capture-file converter.
#include "capture/capture_text.h"
#include "link/framer.h"
#include "pcap/bus_capture.h"
#include "pcap/pcapng.h"
#include "pcap/pcapng_reader.h"
#include "tests/support/telegrams.h"
#include "tools/qtr290-pcap/convert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace qtr290;
using namespace qtr290::capture;
using namespace qtr290::pcap;
using qtr290::test::Bytes;
using qtr290::test::Concat;

namespace {

struct Captured {
    std::int64_t timeUs;
    std::uint32_t flags;
    Bytes bytes;
    bool operator==(const Captured&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Captured& p)
{
    out << "{t=" << p.timeUs << " flags=0x" << std::hex << p.flags << std::dec << " [";
    for (auto b : p.bytes)
        out << ' ' << int(b);
    return out << " ]}";
}

struct Recorder {
    std::vector<Captured> packets;
    BusCapture capture{[this](const Packet& p) {
        packets.push_back({p.timeUs, p.flags, Bytes(p.bytes.begin(), p.bytes.end())});
    }};
    Bytes AllBytes() const
    {
        Bytes all;
        for (const auto& p : packets)
            if (p.flags & FlagInbound)
                all.insert(all.end(), p.bytes.begin(), p.bytes.end());
        return all;
    }
};

const Bytes Read = BuildReadRequest({0xF0, 0x00, 0x10, 0x157}, 1);
const Bytes Poll = {0xA6, 0xF0, 0x01, 0x00, 0x00, 0x69, 0x01, 0xFF}; // long poll, Seq 1
constexpr std::uint32_t Skipped = FlagInbound | FlagNoFrameStart;
constexpr std::uint32_t Damaged = FlagInbound | FlagCrcError;
constexpr std::uint32_t Incomplete = FlagInbound | FlagTooShort;

Bytes Damage(Bytes t, std::size_t at)
{
    t[at] ^= 0x10;
    return t;
}

} // namespace

// Each scenario is fed in chunks (time = chunk number); the packets must partition the
// stream, in order, with the grouping and marks the dissector relies on.
TEST(BusCapture, PacketsPartitionTheStream)
{
    const Bytes noise = {0x13, 0x37, 0x00};
    const Bytes badHeader = Damage(Read, 5);
    const Bytes badBlock = Damage(Read, 8);
    struct Row {
        const char* what;
        std::vector<Bytes> chunks;
        std::vector<Captured> packets; // after Finish at time 99
    };
    const std::vector<Row> rows = {
        {"telegram stamped with the chunk that completed it",
         {Bytes(Read.begin(), Read.begin() + 4), Bytes(Read.begin() + 4, Read.end())},
         {{1, FlagInbound, Read}}},
        {"noise before a telegram is one skipped packet",
         {Concat({noise, Read})},
         {{0, Skipped, noise}, {0, FlagInbound, Read}}},
        {"damaged header keeps its claimed length, the noise after it is skipped",
         {Concat({badHeader, noise, Poll})},
         {{0, Damaged, badHeader}, {0, Skipped, noise}, {0, FlagInbound, Poll}}},
        {"damaged block, then a telegram straight after",
         {badBlock, Poll},
         {{1, Damaged, badBlock}, {1, FlagInbound, Poll}}},
        {"two damaged telegrams in a row stay apart",
         {Concat({badHeader, badBlock, Read})},
         {{0, Damaged, badHeader}, {0, Damaged, badBlock}, {0, FlagInbound, Read}}},
        {"a telegram inside a damaged one cuts the damaged run short",
         {Concat({{0xA6, 0x01, 0x02}, Poll})},
         {{0, Damaged, {0xA6, 0x01, 0x02}}, {0, FlagInbound, Poll}}},
        {"what the framer still holds at the end is incomplete",
         {Concat({Read, Bytes(Poll.begin(), Poll.begin() + 6)})},
         {{0, FlagInbound, Read}, {99, Incomplete, Bytes(Poll.begin(), Poll.begin() + 6)}}},
        {"a damaged run takes what the framer still holds, as far as it claims",
         {Concat({{0x01}, Bytes(badHeader.begin(), badHeader.begin() + 7)})},
         {{0, Skipped, {0x01}}, {99, Damaged, Bytes(badHeader.begin(), badHeader.begin() + 7)}}},
        {"beyond its claim the rest is incomplete",
         {Concat({badBlock, {0x01, 0x02}})},
         {{0, Damaged, badBlock}, {0, Skipped, {0x01}}, {99, Incomplete, {0x02}}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Recorder rec;
        Bytes stream;
        for (std::size_t i = 0; i < row.chunks.size(); ++i) {
            rec.capture.Received(row.chunks[i], static_cast<std::int64_t>(i));
            stream.insert(stream.end(), row.chunks[i].begin(), row.chunks[i].end());
        }
        rec.capture.Finish(99);
        EXPECT_EQ(rec.packets, row.packets);
        EXPECT_EQ(rec.AllBytes(), stream);
    }
}

// A long stream of telegrams, damage and noise cut into uneven chunks: the counts agree
// with the framer's own reports, and not a byte is lost or doubled.
TEST(BusCapture, CountsAgreeWithTheFramerOnAMixedStream)
{
    Bytes stream;
    std::srand(18);
    for (int i = 0; i < 300; ++i) {
        const int pick = std::rand() % 6;
        Bytes t = pick == 0 ? Poll : Read;
        t[6] = static_cast<std::uint8_t>(std::rand()); // vary Count / Seq, keep it intact
        t.back() = 0;
        t.back() = KontrolniSoucet(ByteSpan(t).subspan(pick == 0 ? 6 : 6));
        if (pick == 3)
            t = Damage(t, 5);
        if (pick == 4)
            t = Damage(t, 7);
        if (pick == 5)
            stream.insert(stream.end(), {0x11, 0x22, 0xFF});
        stream.insert(stream.end(), t.begin(), t.end());
    }
    Recorder rec;
    std::size_t telegrams = 0, polls = 0, errors = 0;
    Bytes mirror;
    for (std::size_t at = 0, n = 1; at < stream.size(); at += n, n = n % 17 + 3) {
        const Bytes chunk(stream.begin() + static_cast<std::ptrdiff_t>(at),
                          stream.begin() +
                              static_cast<std::ptrdiff_t>(std::min(stream.size(), at + n)));
        rec.capture.Received(chunk, static_cast<std::int64_t>(at));
        mirror.insert(mirror.end(), chunk.begin(), chunk.end());
        ZpracujPrijem(mirror, {[&](ByteSpan t) {
                                   ++telegrams;
                                   polls += IsPoll(t);
                               },
                               [&](FramerError) { ++errors; }});
    }
    rec.capture.Finish(1 << 20);
    const auto& c = rec.capture.Counts();
    EXPECT_EQ(c.telegrams, telegrams);
    EXPECT_EQ(c.polls, polls);
    EXPECT_EQ(c.damaged(), errors);
    EXPECT_GT(errors, 50u);
    EXPECT_EQ(rec.AllBytes(), stream);
    std::size_t skipped = 0;
    for (const auto& p : rec.packets)
        if (p.flags & FlagNoFrameStart)
            skipped += p.bytes.size();
    EXPECT_EQ(c.skippedBytes, skipped);
    for (std::size_t i = 1; i < rec.packets.size(); ++i)
        EXPECT_LE(rec.packets[i - 1].timeUs, rec.packets[i].timeUs) << "packet " << i;
}

TEST(BusCapture, TransmittedTelegramIsOutboundWithItsLeadByte)
{
    Recorder rec;
    const Bytes line = Concat({{LeadByte}, Read});
    rec.capture.Transmitted(line, 5);
    EXPECT_EQ(rec.packets, (std::vector<Captured>{{5, FlagOutbound, line}}));
    EXPECT_EQ(rec.capture.Counts().transmitted, 1u);
}

TEST(BusCapture, EndlessNoiseIsCutIntoPacketsOfTheLargestSize)
{
    Recorder rec;
    const Bytes noise(MaxPacketLength + 100, 0x55);
    rec.capture.Received(noise, 1);
    rec.capture.Finish(2);
    // The framer keeps the last byte of a buffer without a sync byte until the end.
    ASSERT_EQ(rec.packets.size(), 3u);
    EXPECT_EQ(rec.packets[0].bytes.size(), MaxPacketLength);
    EXPECT_EQ(rec.packets[1].bytes.size(), 99u);
    EXPECT_EQ(rec.packets[2].flags, Incomplete);
    EXPECT_EQ(rec.AllBytes(), noise);
}

// The bytes of a file with one packet, compared with the pcapng layout written out by hand.
TEST(PcapngWriter, BlocksAreLaidOutAsTheFormatSays)
{
    Bytes file;
    PcapngWriter writer(
        [&](ByteSpan b) {
            file.insert(file.end(), b.begin(), b.end());
            return true;
        },
        "t", {"C", ""});
    const Bytes payload = {0xA5, 0x01, 0x02};
    ASSERT_TRUE(writer.Write({0x0000000100000002LL, FlagOutbound | FlagCrcError, payload}));

    const Bytes shb = {0x0A, 0x0D, 0x0D, 0x0A, 40,   0,    0,    0,    0x4D, 0x3C, 0x2B, 0x1A, 1, 0,
                       0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 4,    0,    1, 0,
                       't',  0,    0,    0,    0,    0,    0,    0,    40,   0,    0,    0};
    const Bytes idb = {1,   0, 0, 0, 40, 0, 0, 0, 147, 0, 0, 0, 0, 0, 0, 0, 2,  0, 1, 0,
                       'C', 0, 0, 0, 9,  0, 1, 0, 6,   0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0};
    const Bytes epb = {6, 0, 0, 0, 48,   0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3,  0, 0, 0,
                       3, 0, 0, 0, 0xA5, 1, 2, 0, 2, 0, 4, 0, 2, 0, 0, 1, 0, 0, 0, 0, 48, 0, 0, 0};
    EXPECT_EQ(file, Concat({shb, idb, epb}));
    EXPECT_EQ(writer.PacketCount(), 1u);
}

TEST(PcapngWriter, AFailingSinkStopsTheWriter)
{
    int calls = 0;
    PcapngWriter writer([&](ByteSpan) { return ++calls <= 3; }, "t", {});
    const Bytes payload = {1};
    EXPECT_TRUE(writer.Write({0, FlagInbound, payload})); // header, interface, packet
    EXPECT_FALSE(writer.Write({0, FlagInbound, payload}));
    EXPECT_FALSE(writer.Ok());
    EXPECT_FALSE(writer.Write({0, FlagInbound, payload}));
    EXPECT_EQ(calls, 4);
}

// A pcapng block laid out by hand, in either byte order; the body is padded to 4 bytes.
Bytes HandBlock(std::uint32_t type, Bytes body, bool big = false)
{
    while (body.size() % 4 != 0)
        body.push_back(0);
    const auto length = static_cast<std::uint32_t>(body.size() + 12);
    auto u32 = [big](std::uint32_t v) {
        Bytes b(4);
        for (int i = 0; i < 4; ++i)
            b[static_cast<std::size_t>(big ? 3 - i : i)] = static_cast<std::uint8_t>(v >> (8 * i));
        return b;
    };
    return Concat({u32(type), u32(length), body, u32(length)});
}

Bytes HandSection(bool big = false, std::uint8_t major = 1)
{
    Bytes body = big ? Bytes{0x1A, 0x2B, 0x3C, 0x4D, 0, major, 0, 0}
                     : Bytes{0x4D, 0x3C, 0x2B, 0x1A, major, 0, 0, 0};
    body.insert(body.end(), 8, 0xFF);
    return HandBlock(0x0A0D0D0A, body, big);
}

// Link type 147; tsresol given when not 0xFF.
Bytes HandInterface(bool big = false, std::uint8_t tsresol = 0xFF)
{
    Bytes body = big ? Bytes{0, 147, 0, 0, 0, 0, 0, 0} : Bytes{147, 0, 0, 0, 0, 0, 0, 0};
    if (tsresol != 0xFF)
        body.insert(body.end(),
                    {static_cast<std::uint8_t>(big ? 0 : 9), static_cast<std::uint8_t>(big ? 9 : 0),
                     static_cast<std::uint8_t>(big ? 0 : 1), static_cast<std::uint8_t>(big ? 1 : 0),
                     tsresol, 0, 0, 0});
    return HandBlock(1, body, big);
}

// Interface 0, time stamp 1000 units, two data bytes A6 01, no options.
Bytes HandPacket(bool big = false, std::uint32_t iface = 0, std::uint8_t captured = 2)
{
    Bytes body(20, 0);
    body[big ? 3 : 0] = static_cast<std::uint8_t>(iface);
    body[big ? 10 : 9] = 0x03; // 1000 = 0x3E8 in the low word
    body[big ? 11 : 8] = 0xE8;
    body[big ? 15 : 12] = captured;
    body[big ? 19 : 16] = 2;
    body.insert(body.end(), {0xA6, 0x01});
    return HandBlock(6, body, big);
}

struct ReadBack {
    std::vector<ReadPacket> packets;
    std::vector<std::string> errors;
    bool lost = false;
};

ReadBack ReadFile(const Bytes& file)
{
    std::istringstream in(std::string(file.begin(), file.end()));
    PcapngReader reader(in);
    ReadBack r;
    ReadPacket packet;
    for (;;) {
        const auto status = reader.Next(packet);
        if (status == PcapngReader::Status::Packet) {
            r.packets.push_back(packet);
        } else if (status == PcapngReader::Status::Malformed) {
            r.errors.push_back(std::to_string(reader.BlockNumber()) + ": " + reader.Error());
            if (!reader.CanGoOn()) {
                r.lost = true;
                break;
            }
        } else {
            break;
        }
    }
    return r;
}

TEST(PcapngReader, ByteOrdersResolutionsAndBlocksItDoesNotKnow)
{
    struct Row {
        const char* name;
        Bytes file;
        std::vector<std::int64_t> timesUs; // of the packets read, each with data A6 01
    };
    const std::vector<Row> rows = {
        {"little-endian, microseconds by default",
         Concat({HandSection(), HandInterface(), HandPacket()}),
         {1000}},
        {"big-endian, milliseconds",
         Concat({HandSection(true), HandInterface(true, 3), HandPacket(true)}),
         {1'000'000}},
        {"nanoseconds, after an unknown block",
         Concat(
             {HandSection(), HandBlock(0x0BAD, {1, 2, 3}), HandInterface(false, 9), HandPacket()}),
         {1}},
        {"2^-10 s", Concat({HandSection(), HandInterface(false, 0x8A), HandPacket()}), {976562}},
        {"a second section forgets the first one's interfaces",
         Concat({HandSection(), HandInterface(false, 3), HandPacket(), HandSection(true),
                 HandInterface(true), HandPacket(true)}),
         {1'000'000, 1000}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ReadBack r = ReadFile(row.file);
        EXPECT_TRUE(r.errors.empty()) << r.errors.front();
        ASSERT_EQ(r.packets.size(), row.timesUs.size());
        for (std::size_t i = 0; i < r.packets.size(); ++i) {
            EXPECT_EQ(r.packets[i].timeUs, row.timesUs[i]);
            EXPECT_EQ(r.packets[i].bytes, (Bytes{0xA6, 0x01}));
        }
    }
}

TEST(PcapngReader, MalformedFilesAreReportedNotTrusted)
{
    const Bytes good = Concat({HandSection(), HandInterface(), HandPacket()});
    Bytes badTrailer = good;
    badTrailer.back() = 0x7F;
    Bytes oddLength = good;
    oddLength[good.size() - HandPacket().size() + 4] = 31; // the packet block's length
    Bytes huge = Concat({HandSection(), HandInterface()});
    huge.insert(huge.end(), {6, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF});
    struct Row {
        const char* name;
        Bytes file;
        std::size_t packets;
        std::string error; // fragment of the one error, "" for none
        bool lost;
    };
    const std::vector<Row> rows = {
        {"empty", {}, 0, "", false},
        {"a text file",
         {'0', '8', '1', '2', '2', '0', '2', '6', ' ', '1', '0', ':'},
         0,
         "1: expected a pcapng section header",
         true},
        {"cut inside a block", Bytes(good.begin(), good.end() - 5), 0,
         "3: the file ends inside a block", true},
        {"trailing length differs", badTrailer, 0, "3: the block's trailing length", true},
        {"length no multiple of 4", oddLength, 0, "3: block length 31", true},
        {"length beyond the limit", huge, 0, "3: block length 4294967280", true},
        {"version 2", Concat({HandSection(false, 2), HandInterface(), HandPacket()}), 0,
         "1: section of pcapng version 2", true},
        {"undescribed interface, then a good packet",
         Concat({HandSection(), HandInterface(), HandPacket(false, 1), HandPacket()}), 1,
         "3: packet of interface 1", false},
        {"captured length beyond its block, then a good packet",
         Concat({HandSection(), HandInterface(), HandPacket(false, 0, 9), HandPacket()}), 1,
         "3: captured length 9", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ReadBack r = ReadFile(row.file);
        EXPECT_EQ(r.packets.size(), row.packets);
        EXPECT_EQ(r.lost, row.lost);
        if (row.error.empty()) {
            EXPECT_TRUE(r.errors.empty());
        } else {
            ASSERT_EQ(r.errors.size(), 1u);
            EXPECT_EQ(r.errors[0].rfind(row.error, 0), 0u) << r.errors[0];
        }
    }
}

TEST(CaptureText, LinesAndTheirErrors)
{
    setenv("TZ", "UTC", 1);
    tzset();
    struct Row {
        const char* line;
        const char* error; // empty: valid
        std::int64_t timeUs = 0;
        Bytes bytes = {};
        bool queued = false;
    };
    // 07.12.2026 09:05:03.042 UTC
    const std::int64_t t = 1796634303042000;
    const std::vector<Row> rows = {
        {"07122026 09:05:03:042>A6 00 F0 0A ", "", t, {0xA6, 0x00, 0xF0, 0x0A}},
        {"07122026 09:05:03:042>a6 00 f0", "", t, {0xA6, 0x00, 0xF0}},
        {"07122026 09:05:03:042>", "", t, {}},
        {"07122026 09:05:03:042>Cteni dat", "", t, {}, true},
        {"29022028 23:59:59:999>01 ", "", 1835481599999000, {0x01}},
        {"", "column 1: expected the time stamp \"DDMMYYYY hh:mm:ss:zzz>\""},
        {"7122026 09:05:03:042>A6 ", "column 5: expected the time stamp"},
        {"07122026 09:05:03.042>A6 ", "column 18: expected ':'"},
        {"07122026 09:05:03:042 A6 ", "column 22: expected '>'"},
        {"31042026 09:05:03:042>A6 ",
         "column 1: the time stamp \"31042026 09:05:03:042\" is no valid"},
        {"29022026 09:05:03:042>A6 ", "is no valid date"},
        {"07122026 24:05:03:042>A6 ", "is no valid date"},
        {"07122026 09:05:03:042>A6 0", "column 26: expected two hexadecimal digits"},
        {"07122026 09:05:03:042>A6  00 ", "column 26: expected two hexadecimal digits"},
        {"07122026 09:05:03:042>A6-00 ", "column 23: expected two hexadecimal digits"},
        {"07122026 09:05:03:042>Cteni", "column 23: expected two hexadecimal digits"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const CaptureLineResult r = ParseCaptureLine(row.line);
        if (*row.error) {
            EXPECT_FALSE(r.line);
            EXPECT_NE(r.error.find(row.error), std::string::npos) << r.error;
            continue;
        }
        ASSERT_TRUE(r.line) << r.error;
        EXPECT_EQ(r.line->timeUs, row.timeUs);
        EXPECT_EQ(r.line->bytes, row.bytes);
        EXPECT_EQ(r.line->kind == CaptureLine::Kind::Queued, row.queued);
    }
}

namespace {

struct Conversion {
    ConvertStatus status;
    ConvertSummary summary;
    std::string errors;
    Bytes file;
};

Conversion Convert(const std::string& text, bool keepGoing)
{
    Conversion c;
    std::istringstream in(text);
    std::ostringstream errors;
    PcapngWriter writer(
        [&](ByteSpan b) {
            c.file.insert(c.file.end(), b.begin(), b.end());
            return true;
        },
        "t", {});
    c.status = ConvertCapture(in, "in.txt", writer, {keepGoing}, c.summary, errors);
    c.errors = errors.str();
    return c;
}

} // namespace

// A capture with a telegram split over two chunks, a queued-request line, a damaged
// telegram and a malformed line: stopped at the bad line, or converted around it.
TEST(ConvertCapture, StopsAtAMalformedLineOrGoesOnWhenAsked)
{
    const std::string text = "07122026 09:05:03:042>13 A6 00 F0 1A 03 4D \r\n"
                             "07122026 09:05:03:050>Cteni dat\r\n"
                             "07122026 09:05:03:082>01 57 01 00 A7 \r\n"
                             "07122026 09:05:03:1x2>A6 \r\n"
                             "07122026 09:05:03:122>A6 00 F0 1A 03 4C 01 57 01 00 A7\n";

    const Conversion stopped = Convert(text, false);
    EXPECT_EQ(stopped.status, ConvertStatus::Malformed);
    EXPECT_EQ(stopped.errors,
              "in.txt:4: column 19: expected the time stamp \"DDMMYYYY hh:mm:ss:zzz>\"\n");

    const Conversion kept = Convert(text, true);
    EXPECT_EQ(kept.status, ConvertStatus::ConvertedWithGaps);
    EXPECT_EQ(kept.errors, stopped.errors);
    const ConvertSummary& s = kept.summary;
    EXPECT_EQ(s.lines, 5u);
    EXPECT_EQ(s.chunks, 3u);
    EXPECT_EQ(s.queued, 1u);
    EXPECT_EQ(s.malformed, 1u);
    EXPECT_EQ(s.tally.telegrams, 1u);
    EXPECT_EQ(s.tally.headerErrors, 1u);
    EXPECT_EQ(s.tally.skippedBytes, 1u); // the 0x13 before the first telegram
    EXPECT_EQ(s.tally.incompleteBytes, 0u);
    EXPECT_EQ(s.packets, 3u); // skipped, telegram, damaged
    const std::string summary = SummaryText(s);
    for (const char* line : {"telegrams: 1\n", "polls: 0\n", "damaged: 1 (header 1, block 0)\n",
                             "noise bytes: 1 in 1 runs\n", "packets: 3\n"})
        EXPECT_NE(summary.find(line), std::string::npos) << line << " in\n" << summary;

    const Conversion clean = Convert(text.substr(0, text.find("07122026 09:05:03:1x2")), false);
    EXPECT_EQ(clean.status, ConvertStatus::Converted);
    EXPECT_TRUE(clean.errors.empty());
}

TEST(ConvertCapture, ABinaryFileIsRejectedAtItsFirstLine)
{
    std::string binary(3 * LineReader::MaxLineLength, '\x01');
    const Conversion c = Convert(binary, false);
    EXPECT_EQ(c.status, ConvertStatus::Malformed);
    EXPECT_NE(c.errors.find("in.txt:1: longer than"), std::string::npos) << c.errors;
}
