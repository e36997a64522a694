// The simulator's logic without a pseudo-terminal: the device, faults, pacing, options.
#include "link/framer.h"
#include "tests/support/telegrams.h"
#include "tools/qtr290-sim/device.h"
#include "tools/qtr290-sim/line.h"
#include "tools/qtr290-sim/options.h"
#include "tools/qtr290-sim/replay.h"
#include "tools/qtr290-sim/traffic.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

using namespace qtr290;
using namespace qtr290::sim;

namespace {

// The memory pattern as the help text documents it, written out independently.
std::uint8_t Documented(std::uint8_t area, std::uint32_t address)
{
    address &= 0xFFFF;
    return static_cast<std::uint8_t>((address & 0xFF) ^ (address >> 8) ^ area);
}

struct Framed {
    std::vector<Bytes> telegrams;
    std::vector<FramerError> errors;
};

Framed Frame(const Bytes& stream)
{
    Framed f;
    Bytes acc = stream;
    ZpracujPrijem(acc, {[&](ByteSpan t) { f.telegrams.emplace_back(t.begin(), t.end()); },
                        [&](FramerError e) { f.errors.push_back(e); }});
    return f;
}

Bytes WriteRequest(std::uint8_t area, std::uint32_t address, const Bytes& data,
                   std::uint8_t to = 0x00)
{
    return BuildWriteRequest({0xF0, to, area, address}, data);
}

} // namespace

TEST(SimDevice, ReadReplyKnownAnswer)
{
    SimDevice device(0x00);
    const Bytes& request = test::ReadRequest; // 1 byte of RAM290 at 0x000157
    const auto answer = device.Handle(request);
    EXPECT_EQ(answer.outcome, DeviceOutcome::ReadAnswered);
    // Header A6 F0 00 0B 05 + checksum; block 01 57 01 00 56, CRC8, checksum (values from a
    // separate CRC-8/MAXIM implementation).
    const Bytes expected = {0xA6, 0xF0, 0x00, 0x0B, 0x05, 0x5A, 0x01,
                            0x57, 0x01, 0x00, 0x56, 0x3E, 0x13};
    EXPECT_EQ(answer.reply, expected);
}

TEST(SimDevice, Requests)
{
    struct Row {
        const char* what;
        Bytes request;
        DeviceOutcome outcome;
        ReplyStatus status;
        Bytes data; // read replies: the expected data
    };
    auto pattern = [](std::uint8_t area, std::uint32_t address, std::size_t n) {
        Bytes b;
        for (std::size_t i = 0; i < n; ++i)
            b.push_back(Documented(area, static_cast<std::uint32_t>(address + i)));
        return b;
    };
    Bytes badCrc = WriteRequest(0x10, 0x20, {1, 2, 3});
    // CRC8 byte changed, block checksum kept right: only the CRC8 check notices.
    badCrc[13] = static_cast<std::uint8_t>(badCrc[13] + 1);
    badCrc[14] = static_cast<std::uint8_t>(badCrc[14] - 1);
    Bytes longRead = BuildLong(0x00, 0xF0, 0x0A, Bytes{4, 0, 0, 0, 0});   // block length 4
    Bytes shortWrite = BuildLong(0x00, 0xF0, 0x8A, Bytes{9, 0, 0, 0, 0}); // Count 9, no data

    const std::vector<Row> rows = {
        {"read RAM290", BuildReadRequest({0xF0, 0x00, 0x00, 0x157}, 4), DeviceOutcome::ReadAnswered,
         ReplyStatus::Applied, pattern(0x00, 0x157, 4)},
        {"read wraps at 64 KiB, high byte ignored",
         BuildReadRequest({0xF0, 0x00, 0x30, 0x01FFFE}, 4),
         DeviceOutcome::ReadAnswered,
         ReplyStatus::Applied,
         {0x31, 0x30, 0x30, 0x31}},
        {"read of Count 255 returns 251 bytes", BuildReadRequest({0xF0, 0x00, 0x60, 0x10}, 255),
         DeviceOutcome::ReadAnswered, ReplyStatus::Applied, pattern(0x60, 0x10, 251)},
        {"read of Count 0",
         BuildReadRequest({0xF0, 0x00, 0x20, 0x10}, 0),
         DeviceOutcome::ReadAnswered,
         ReplyStatus::Applied,
         {}},
        {"another station",
         BuildReadRequest({0xF0, 0x05, 0x00, 0x157}, 4),
         DeviceOutcome::NotForDevice,
         ReplyStatus::Applied,
         {}},
        {"a poll to the device",
         BuildPoll(false, 0x00, 0x01, 1),
         DeviceOutcome::NotForDevice,
         ReplyStatus::Applied,
         {}},
        {"a short telegram",
         BuildShort(0x00, 0xF0, 1, Bytes{0x0A, 0, 0, 0}),
         DeviceOutcome::NotForDevice,
         ReplyStatus::Applied,
         {}},
        {"unknown area 0x70",
         BuildReadRequest({0xF0, 0x00, 0x70, 0}, 1),
         DeviceOutcome::Rejected,
         ReplyStatus::UnknownArea,
         {}},
        {"read with block length 4", longRead, DeviceOutcome::Rejected, ReplyStatus::Malformed, {}},
        {"write shorter than its Count",
         shortWrite,
         DeviceOutcome::Rejected,
         ReplyStatus::Malformed,
         {}},
        {"write with a wrong CRC8", badCrc, DeviceOutcome::Rejected, ReplyStatus::Crc8Mismatch, {}},
        {"write",
         WriteRequest(0x10, 0x20, {1, 2, 3}),
         DeviceOutcome::WriteApplied,
         ReplyStatus::Applied,
         {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(Frame(r.request).telegrams.size(), 1u) << "the request itself must be intact";
        SimDevice device(0x00);
        const auto answer = device.Handle(r.request);
        EXPECT_EQ(answer.outcome, r.outcome);
        if (r.outcome == DeviceOutcome::NotForDevice) {
            EXPECT_TRUE(answer.reply.empty());
            continue;
        }
        // Every reply is one intact, non-poll long telegram back to the requester.
        const Framed framed = Frame(answer.reply);
        ASSERT_EQ(framed.telegrams.size(), 1u);
        EXPECT_TRUE(framed.errors.empty());
        const Bytes& reply = framed.telegrams[0];
        EXPECT_EQ(reply.size(), answer.reply.size());
        EXPECT_FALSE(IsPoll(reply));
        EXPECT_EQ(TelegramTo(reply), 0xF0);
        EXPECT_EQ(TelegramFrom(reply), 0x00);
        EXPECT_EQ(reply[3] & 0x70, r.request[3] & 0x70);
        EXPECT_EQ(Bytes(reply.begin() + 7, reply.begin() + 10),
                  Bytes(r.request.begin() + 7, r.request.begin() + 10))
            << "address echoed";
        if (r.outcome == DeviceOutcome::ReadAnswered) {
            EXPECT_EQ(reply[3] & 0x8F, 0x0B);
            EXPECT_EQ(reply[6], r.data.size());
            EXPECT_EQ(Bytes(reply.begin() + 10, reply.end() - 2), r.data);
            const ByteSpan crcCovered = ByteSpan(reply).subspan(6, reply.size() - 8);
            EXPECT_EQ(CRC8(crcCovered), reply[reply.size() - 2]);
        } else {
            EXPECT_EQ(reply.size(), 12u);
            EXPECT_EQ(reply[3] & 0x8F, (r.request[3] & 0x80) | 0x0C);
            EXPECT_EQ(reply[6], r.request[6]);
            EXPECT_EQ(reply[10], static_cast<std::uint8_t>(r.status));
        }
    }
}

TEST(FaultInjector, DamageIsSeenByTheFramerAsTheRightKind)
{
    const std::vector<Bytes> telegrams = {
        BuildPoll(false, 0xF0, 0x01, 7), BuildPoll(true, 0xF0, 0x01, 0xA6),
        BuildReadReply(0xF0, 0x00, 0x10, 0x157, Bytes(40, 0xA5)),
        BuildStatusReply(0xF0, 0x00, 0x10, true, 3, 0x20, ReplyStatus::Applied)};
    for (const bool header : {true, false}) {
        SimOptions options;
        (header ? options.headerErrors : options.blockErrors).every = 1;
        FaultInjector injector(options);
        Random random(7);
        for (int round = 0; round < 200; ++round) {
            const Bytes& original = telegrams[round % telegrams.size()];
            const auto items = injector.Prepare(original, TxKind::Poll, random);
            ASSERT_EQ(items.size(), 1u);
            const Bytes& sent = items[0].bytes;
            EXPECT_EQ(items[0].fault, header ? TxFault::Header : TxFault::Block);
            ASSERT_EQ(sent.size(), original.size());
            int changed = 0;
            for (std::size_t i = 0; i < sent.size(); ++i) {
                if (sent[i] != original[i]) {
                    ++changed;
                    EXPECT_FALSE(IsSync(sent[i])) << "a damaged byte became a sync byte";
                }
            }
            EXPECT_EQ(changed, 1);
            const Framed framed = Frame(sent);
            ASSERT_FALSE(framed.errors.empty());
            EXPECT_EQ(framed.errors[0],
                      header ? FramerError::HeaderChecksum : FramerError::BlockChecksum);
        }
    }
}

TEST(FaultInjector, RatesNoiseAndSplits)
{
    SimOptions options;
    options.headerErrors.every = 3;
    options.noise.every = 2;
    options.noiseMax = 5;
    options.splitWrites.probability = 1.0;
    options.splitDelayMs = 40;
    FaultInjector injector(options);
    Random random(1);
    const Bytes poll = BuildPoll(false, 0xF0, 0x01, 1);
    int headers = 0;
    int noises = 0;
    for (int i = 1; i <= 12; ++i) {
        const auto items = injector.Prepare(poll, TxKind::Poll, random);
        const bool noisy = items.size() == 2;
        EXPECT_EQ(noisy, i % 2 == 0) << "telegram " << i;
        if (noisy) {
            ++noises;
            EXPECT_EQ(items[0].kind, TxKind::Noise);
            EXPECT_GE(items[0].bytes.size(), 1u);
            EXPECT_LE(items[0].bytes.size(), 5u);
            for (auto b : items[0].bytes)
                EXPECT_FALSE(IsSync(b));
        }
        const OutItem& item = items.back();
        headers += item.fault == TxFault::Header ? 1 : 0;
        EXPECT_EQ(item.fault == TxFault::Header, i % 3 == 0) << "telegram " << i;
        ASSERT_GE(item.pauses.size(), 1u);
        EXPECT_LE(item.pauses.size(), 3u);
        for (const auto& [offset, pause] : item.pauses) {
            EXPECT_GT(offset, 0u);
            EXPECT_LT(offset, poll.size());
            EXPECT_EQ(pause, 40'000'000);
        }
    }
    EXPECT_EQ(headers, 4);
    EXPECT_EQ(noises, 6);
}

TEST(FillerTraffic, IntactNonPollTelegramsThatFit)
{
    SimOptions options;
    options.deviceAddress = 0x12;
    options.pollStation = 0x13;
    options.masterAddress = 0x01;
    FillerTraffic filler(options);
    Random random(3);
    Bytes stream;
    std::size_t produced = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::size_t room = 3 + i % 120;
        const Bytes t = filler.Next(room, random);
        if (room < MinTelegramLength) {
            EXPECT_TRUE(t.empty());
            continue;
        }
        ASSERT_FALSE(t.empty());
        EXPECT_LE(t.size(), room);
        EXPECT_FALSE(IsPoll(t));
        for (auto station : {TelegramTo(t), TelegramFrom(t)})
            EXPECT_TRUE(station != 0x12 && station != 0x13) << "station " << int(station);
        stream.insert(stream.end(), t.begin(), t.end());
        ++produced;
    }
    const Framed framed = Frame(stream);
    EXPECT_TRUE(framed.errors.empty());
    EXPECT_EQ(framed.telegrams.size(), produced);
}

TEST(PacedLine, WritesAtTenBitTimesPerByte)
{
    constexpr Nanos ms = 1'000'000;
    PacedLine line(4800); // 2.0833 ms per byte
    OutItem a;
    a.bytes = Bytes(100, 0x11);
    Bytes written;
    int sent = 0;
    auto write = [&](ByteSpan b) {
        written.insert(written.end(), b.begin(), b.end());
        return b.size();
    };
    auto done = [&](const OutItem&) { ++sent; };

    const Nanos t0 = 1000 * ms;
    line.Push(a, false, t0);
    struct Step {
        Nanos at;
        std::size_t total;
    };
    // Byte k starts at t0 + k * 2.0833 ms.
    for (const Step& s :
         {Step{t0, 1}, Step{t0 + 2 * ms, 1}, Step{t0 + 3 * ms, 2}, Step{t0 + 100 * ms, 49},
          Step{t0 + 180 * ms, 87}, Step{t0 + 206 * ms, 99}, Step{t0 + 207 * ms, 100}}) {
        line.Pump(s.at, write, done);
        EXPECT_EQ(written.size(), s.total) << "at +" << (s.at - t0) / ms << " ms";
    }
    EXPECT_EQ(sent, 1);
    EXPECT_TRUE(line.Idle());

    // Pushed onto an idle line, an item starts when it is pushed, not in a burst...
    line.Push(a, false, t0 + 5000 * ms);
    line.Pump(t0 + 5000 * ms, write, done);
    EXPECT_EQ(written.size(), 101u);
    line.Pump(t0 + 5010 * ms, write, done);
    EXPECT_EQ(written.size(), 105u);
    // ...and a late wake-up catches up with what is due, so the rate holds.
    line.Pump(t0 + 5050 * ms, write, done);
    EXPECT_EQ(written.size(), 125u);
    // After a stall of a second only the last 100 ms are caught up.
    line.Pump(t0 + 6050 * ms, write, done);
    EXPECT_EQ(written.size(), 125u + 49u);
}

TEST(PacedLine, ContinuousTrafficKeepsTheByteClock)
{
    constexpr Nanos ms = 1'000'000;
    PacedLine line(100'000); // 100 us per byte
    OutItem item;
    item.bytes = Bytes(10, 0x22);
    std::size_t written = 0;
    auto write = [&](ByteSpan b) {
        written += b.size();
        return b.size();
    };
    auto none = [](const OutItem&) {};
    line.Push(item, false, 0);
    line.Pump(1 * ms, write, none); // all ten bytes, the line free from 1 ms on
    ASSERT_TRUE(line.Idle());
    // Woken 5 ms late: continuous traffic goes on from 1 ms, a fresh item from 6 ms.
    line.Push(item, false, 6 * ms, true);
    line.Pump(6 * ms, write, none);
    EXPECT_EQ(written, 20u);
    PacedLine fresh(100'000);
    written = 0;
    fresh.Push(item, false, 0);
    fresh.Pump(1 * ms, write, none);
    fresh.Push(item, false, 6 * ms);
    fresh.Pump(6 * ms, write, none);
    EXPECT_EQ(written, 11u);
    // Continuous traffic on a line that has long been idle (at start) does not burst either.
    PacedLine idle(100'000);
    written = 0;
    idle.Pump(1000 * ms, write, none);
    idle.Push(item, false, 1000 * ms, true);
    idle.Pump(1000 * ms, write, none);
    EXPECT_EQ(written, 1u);
}

TEST(PacedLine, UrgentItemsPausesAndBlockedWrites)
{
    constexpr Nanos ms = 1'000'000;
    PacedLine line(1'000'000); // 10 us per byte
    OutItem normal;
    normal.bytes = {1, 1, 1, 1};
    OutItem urgent;
    urgent.bytes = {2, 2};
    urgent.pauses = {{1, 5 * ms}};
    line.Push(normal, false, 0);
    line.Push(normal, false, 0);
    Bytes written;
    std::vector<Bytes> sent;
    bool blocked = false;
    auto write = [&](ByteSpan b) -> std::size_t {
        if (blocked)
            return 0;
        written.insert(written.end(), b.begin(), b.end());
        return b.size();
    };
    auto done = [&](const OutItem& item) { sent.push_back(item.bytes); };

    line.Pump(0, write, done);      // the first normal item starts
    line.Push(urgent, true, 0);     // goes after it, before the second one
    line.Pump(1 * ms, write, done); // rest of item 1, first byte of the urgent one, pause
    EXPECT_EQ(written, (Bytes{1, 1, 1, 1, 2}));
    // The byte before the pause went out at 1 ms (late): the pause counts from then.
    EXPECT_EQ(line.NextDue(1 * ms).value_or(0), 6 * ms);
    line.Pump(5 * ms + 999'999, write, done);
    EXPECT_EQ(written.size(), 5u) << "the pause holds";
    blocked = true;
    line.Pump(20 * ms, write, done);
    EXPECT_EQ(written.size(), 5u);
    blocked = false;
    line.Pump(20 * ms, write, done);
    EXPECT_EQ(written, (Bytes{1, 1, 1, 1, 2, 2, 1, 1, 1, 1})) << "nothing lost while blocked";
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1], urgent.bytes);
    EXPECT_TRUE(line.Idle());
}

TEST(SimOptions, Parsing)
{
    struct Row {
        std::vector<std::string_view> args;
        std::string error; // a fragment of the expected error, empty for success
        std::function<void(const SimOptions&)> check;
    };
    const std::vector<Row> rows = {
        {{},
         "",
         [](const SimOptions& o) {
             EXPECT_EQ(o.baud, 4800u);
             EXPECT_EQ(o.deviceAddress, 0x00);
             EXPECT_FALSE(o.headerErrors.Enabled());
         }},
        {{"--baud", "115200", "--poll-station=0x3C", "--device-address", "17", "--saturate"},
         "",
         [](const SimOptions& o) {
             EXPECT_EQ(o.baud, 115200u);
             EXPECT_EQ(o.pollStation, 0x3C);
             EXPECT_EQ(o.deviceAddress, 17);
             EXPECT_TRUE(o.saturate);
         }},
        {{"--inject-header-errors", "4", "--inject-block-errors", "0.25", "--inject-noise", "0"},
         "",
         [](const SimOptions& o) {
             EXPECT_EQ(o.headerErrors.every, 4u);
             EXPECT_DOUBLE_EQ(o.blockErrors.probability, 0.25);
             EXPECT_FALSE(o.noise.Enabled());
         }},
        {{"--poll-kind", "mixed", "--duration", "1.5", "--count", "10", "--link", "/tmp/x"},
         "",
         [](const SimOptions& o) {
             EXPECT_EQ(o.pollKind, PollKind::Mixed);
             EXPECT_DOUBLE_EQ(o.durationSec, 1.5);
             EXPECT_EQ(o.pollCount, 10u);
             EXPECT_EQ(o.linkPath, "/tmp/x");
         }},
        {{},
         "",
         [](const SimOptions& o) {
             EXPECT_EQ(o.replayPath, "");
             EXPECT_DOUBLE_EQ(o.speed, 1.0);
             EXPECT_FALSE(o.loop || o.keepGoing || o.withMaster || o.withDevice);
         }},
        {{"--replay", "in.txt", "--speed=0", "--loop", "--keep-going", "--with-device"},
         "",
         [](const SimOptions& o) {
             EXPECT_EQ(o.replayPath, "in.txt");
             EXPECT_DOUBLE_EQ(o.speed, 0.0);
             EXPECT_TRUE(o.loop && o.keepGoing && o.withDevice);
             EXPECT_FALSE(o.withMaster);
         }},
        {{"--replay", "x", "--speed", "-1"}, "invalid value", nullptr},
        {{"--replay", "x", "--speed", "inf"}, "invalid value", nullptr},
        {{"--loop"}, "need --replay", nullptr},
        {{"--with-master", "--speed", "2"}, "need --replay", nullptr},
        {{"--poll-station", "0x100"}, "invalid value", nullptr},
        {{"--baud", "fast"}, "invalid value", nullptr},
        {{"--baud", "0"}, "invalid value", nullptr},
        {{"--inject-noise", "1.5"}, "invalid value", nullptr},
        {{"--poll-kind", "medium"}, "invalid value", nullptr},
        {{"--count"}, "needs a value", nullptr},
        {{"--bogus"}, "unknown option", nullptr},
        {{"--saturate=1"}, "unknown option", nullptr},
    };
    for (const auto& r : rows) {
        const auto result = ParseOptions(r.args);
        SCOPED_TRACE(r.args.empty() ? "(none)" : std::string(r.args[0]));
        if (r.error.empty()) {
            EXPECT_EQ(result.error, "");
            r.check(result.options);
        } else {
            EXPECT_NE(result.error.find(r.error), std::string::npos) << result.error;
        }
    }
}

// The replay's clock arithmetic on any pair of time stamps a file can hold: never before the
// pass began, never past the end of the range, never overflowing.
TEST(ReplayTiming, OffsetsAndDueTimesSaturate)
{
    constexpr std::int64_t Max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t Min = std::numeric_limits<std::int64_t>::min();
    struct Row {
        const char* what;
        std::int64_t firstUs, timeUs, offsetUs;
    };
    const Row offsets[] = {
        {"in order", 1'000, 3'500, 2'500},
        {"a clock set back", 5'000, 1'000, 0},
        {"before 1970, as a pcapng stamp past 2^63 reads", -5'000, -1'000, 4'000},
        {"from the start of the range to its end", Min, Max, Max},
        {"from the start of the range to 1970", Min, 1'000, Max},
        {"from the end of the range back", Max, Min, 0},
    };
    for (const Row& row : offsets) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(ReplayOffsetUs(row.firstUs, row.timeUs), row.offsetUs);
    }

    struct DueRow {
        const char* what;
        std::int64_t baseNs, offsetUs;
        double speed;
        std::int64_t dueNs;
    };
    const DueRow dues[] = {
        {"at the recorded pace", 1'000, 2'500, 1.0, 2'501'000},
        {"twice as fast", 1'000, 2'500, 2.0, 1'251'000},
        {"as fast as the line allows", 1'000, Max, 0.0, 1'000},
        {"the end of the range: about three years on", 1'000, Max, 1.0, 100'000'000'000'001'000},
        {"a slow replay of the end of the range", 1'000, Max, 1e-300, 100'000'000'000'001'000},
        {"a base at the end of the clock", Max - 10, 1'000, 1.0, Max},
    };
    for (const DueRow& row : dues) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(ReplayDueNs(row.baseNs, row.offsetUs, row.speed), row.dueNs);
    }
}
