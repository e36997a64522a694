// TSerialPortDriver on the fake platform: setter rules, line settings, polling, packets,
// the send loop and the closed port.
#include "serial/SerialDrv.h"
#include "tests/support/fake_platform.h"

#include <gtest/gtest.h>

#include <numeric>
#include <ostream>

namespace qtr290 {
namespace {

using test::FakeLine;
using test::FakePlatform;
using Bytes = std::vector<std::uint8_t>;

struct Rig {
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    TSerialPortDriver port{std::make_unique<FakePlatform>(line)};
    std::vector<Bytes> data;    // OnReceiveData chunks
    std::vector<Bytes> packets; // OnReceivePacket packets

    Rig()
    {
        port.SetOnReceiveData([this](TSerialPortDriver&, std::span<const std::uint8_t> d) {
            data.emplace_back(d.begin(), d.end());
        });
        port.SetOnReceivePacket([this](TSerialPortDriver&, std::span<const std::uint8_t> p) {
            packets.emplace_back(p.begin(), p.end());
        });
    }
    void open() { ASSERT_TRUE(port.Connect()); }
};

Bytes Sequence(std::size_t count, std::uint8_t first = 0)
{
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

TEST(SerialDriver, NewComponentIsClosedWithItsDefaults)
{
    Rig rig;
    const auto& p = rig.port;
    EXPECT_FALSE(p.Connected());
    EXPECT_EQ(p.Port(), pnCOM2);
    EXPECT_EQ(p.PortName(), "\\\\.\\COM2");
    EXPECT_EQ(p.BaudRate(), br9600);
    EXPECT_EQ(p.BaudRateValue(), 9600u);
    EXPECT_EQ(p.DataBits(), db8BITS);
    EXPECT_EQ(p.StopBits(), sb1BITS);
    EXPECT_EQ(p.Parity(), ptNONE);
    EXPECT_EQ(p.HwFlow(), hfNONERTSON);
    EXPECT_EQ(p.SwFlow(), sfNONE);
    EXPECT_EQ(p.InBufSize(), 2048u);
    EXPECT_EQ(p.OutBufSize(), 2048u);
    EXPECT_EQ(p.PacketSize(), -1);
    EXPECT_EQ(p.PacketTimeout(), -1);
    EXPECT_EQ(p.PacketMode(), pmDiscard);
    EXPECT_EQ(p.PollingDelay(), 50);
    EXPECT_TRUE(p.EnableDTROnOpen());
    EXPECT_EQ(p.OutputTimeout(), 500);
    EXPECT_EQ(p.InputTimeout(), 200u);
    EXPECT_FALSE(p.CheckLineStatus());
    EXPECT_EQ(rig.line->openAttempts.size(), 0u);
}

TEST(SerialDriver, BaudRateTable)
{
    const struct {
        TBaudRate rate;
        std::uint32_t value;
    } rates[] = {{brCustom, 0},      {br110, 110},       {br4800, 4800},     {br14400, 14400},
                 {br56000, 56000},   {br115200, 115200}, {br128000, 128000}, {br256000, 256000},
                 {TBaudRate(16), 0}, {TBaudRate(-1), 0}};
    for (const auto& row : rates)
        EXPECT_EQ(BaudRateOf(row.rate), row.value) << row.rate;
}

TEST(SerialDriver, PortAndNameSetters)
{
    Rig rig;
    rig.port.SetPort(pnCOM7);
    EXPECT_EQ(rig.port.PortName(), "\\\\.\\COM7");
    rig.port.SetPort(pnCOM25);
    EXPECT_EQ(rig.port.PortName(), "\\\\.\\COM25");
    rig.port.SetPort(pnCustom);
    EXPECT_EQ(rig.port.Port(), pnCustom);
    EXPECT_EQ(rig.port.PortName(), "\\\\.\\COM25");
    rig.port.SetPort(pnCOM3);
    rig.port.SetPortName("/dev/ttyUSB3");
    EXPECT_EQ(rig.port.Port(), pnCustom);
    EXPECT_EQ(rig.port.PortName(), "/dev/ttyUSB3");
    rig.port.SetPort(TPortNumber(26)); // outside the enumeration
    EXPECT_EQ(rig.port.Port(), pnCustom);
    EXPECT_EQ(rig.port.PortName(), "/dev/ttyUSB3");
}

TEST(SerialDriver, BaudRateSetters)
{
    Rig rig;
    rig.port.SetBaudRate(br115200);
    EXPECT_EQ(rig.port.BaudRateValue(), 115200u);
    rig.port.SetBaudRate(brCustom);
    EXPECT_EQ(rig.port.BaudRate(), brCustom);
    EXPECT_EQ(rig.port.BaudRateValue(), 115200u);
    rig.port.SetBaudRateValue(4800);
    EXPECT_EQ(rig.port.BaudRate(), brCustom);
    EXPECT_EQ(rig.port.BaudRateValue(), 4800u);
    rig.port.SetBaudRate(br9600);
    rig.port.SetBaudRate(TBaudRate(99));
    EXPECT_EQ(rig.port.BaudRate(), br9600);
    EXPECT_EQ(rig.port.BaudRateValue(), 9600u);
}

TEST(SerialDriver, BufferSizesAreClamped)
{
    const struct {
        std::uint32_t given, stored;
    } rows[] = {{0, 128},     {100, 128},    {128, 128},        {129, 129},
                {8192, 8192}, {10000, 8192}, {0xFFFFFFFF, 8192}};
    for (const auto& row : rows) {
        Rig rig;
        rig.port.SetInBufSize(row.given);
        rig.port.SetOutBufSize(row.given);
        EXPECT_EQ(rig.port.InBufSize(), row.stored) << row.given;
        EXPECT_EQ(rig.port.OutBufSize(), row.stored) << row.given;
    }
}

TEST(SerialDriver, PacketTimeoutFollowsPollingDelay)
{
    const struct {
        std::uint16_t delay;
        std::int32_t given, stored;
    } rows[] = {{40, 10, 56}, {40, 39, 56}, {40, 40, 40}, {40, 100, 100}, {40, 0, -1},
                {40, -5, -1}, {50, 10, 70}, {50, 1, 70},  {5, 1, 7},      {65535, 1, 91749}};
    for (const auto& row : rows) {
        Rig rig;
        rig.port.SetPollingDelay(row.delay);
        rig.port.SetPacketTimeout(row.given);
        EXPECT_EQ(rig.port.PacketTimeout(), row.stored) << row.delay << " " << row.given;
    }
}

TEST(SerialDriver, PollingDelayClampsRestartsAndRaisesPacketTimeout)
{
    for (std::uint16_t small = 0; small < 5; ++small) {
        Rig rig;
        rig.port.SetPollingDelay(small);
        EXPECT_EQ(rig.port.PollingDelay(), 5) << small;
    }

    Rig rig;
    rig.port.SetPacketTimeout(60); // above 50: kept
    rig.open();
    EXPECT_EQ(rig.line->timerPeriod, 50u);
    rig.port.SetPollingDelay(50);
    EXPECT_EQ(rig.line->timerStarts, 1) << "same value: no restart";
    rig.port.SetPollingDelay(100);
    EXPECT_EQ(rig.line->timerStarts, 2);
    EXPECT_EQ(rig.line->timerStops, 1);
    EXPECT_TRUE(rig.line->timerRunning);
    EXPECT_EQ(rig.line->timerPeriod, 100u);
    EXPECT_EQ(rig.port.PacketTimeout(), 140) << "60 is now below the period";
    rig.line->deliver({1, 2, 3});
    ASSERT_TRUE(rig.line->tick()) << "the restarted timer runs the polling step";
    EXPECT_EQ(rig.data, (std::vector<Bytes>{{1, 2, 3}}));
}

TEST(SerialDriver, PacketSizeRules)
{
    Rig rig;
    rig.port.SetPacketSize(10);
    EXPECT_EQ(rig.port.PacketSize(), 10);
    rig.port.SetPacketSize(0);
    EXPECT_EQ(rig.port.PacketSize(), -1);
    rig.port.SetPacketSize(-3);
    EXPECT_EQ(rig.port.PacketSize(), -1);

    rig.port.SetPacketSize(4000);
    EXPECT_EQ(rig.port.PacketSize(), 4000);
    EXPECT_EQ(rig.port.InBufSize(), 4000u) << "raised to hold one packet";
    rig.port.SetInBufSize(1000);
    EXPECT_EQ(rig.port.InBufSize(), 4000u) << "brought back up to the packet size";

    // Refused: no read buffer can hold it; everything stays as it was.
    rig.port.SetPacketSize(9000);
    EXPECT_EQ(rig.port.PacketSize(), 4000);
    EXPECT_EQ(rig.port.InBufSize(), 4000u);
    rig.port.SetPacketSize(8192);
    EXPECT_EQ(rig.port.InBufSize(), 8192u);

    rig.port.SetPacketSize(100);
    rig.open();
    rig.port.SetPacketSize(8000); // within the open buffer of 8192
    EXPECT_EQ(rig.port.PacketSize(), 8000);
    rig.port.Disconnect();
    rig.port.SetInBufSize(2048); // back up to 8000
    EXPECT_EQ(rig.port.InBufSize(), 8000u);
    rig.port.SetPacketSize(100);
    rig.port.SetInBufSize(2048);
    rig.open();
    rig.port.SetPacketSize(3000); // the open buffer of 2048 cannot be resized
    EXPECT_EQ(rig.port.PacketSize(), 100);
    EXPECT_EQ(rig.port.InBufSize(), 2048u);
}

TEST(SerialDriver, PortAndBufferSettersIgnoredWhileOpen)
{
    Rig rig;
    rig.open();
    rig.port.SetPort(pnCOM7);
    rig.port.SetPortName("/dev/other");
    rig.port.SetInBufSize(4096);
    rig.port.SetOutBufSize(4096);
    EXPECT_EQ(rig.port.Port(), pnCOM2);
    EXPECT_EQ(rig.port.PortName(), "\\\\.\\COM2");
    EXPECT_EQ(rig.port.InBufSize(), 2048u);
    EXPECT_EQ(rig.port.OutBufSize(), 2048u);
    EXPECT_EQ(rig.line->configured.size(), 1u) << "nothing re-applied";
}

TEST(SerialDriver, LineSettersApplyAtOnceWhileOpen)
{
    const std::function<void(TSerialPortDriver&)> setters[] = {
        [](TSerialPortDriver& p) { p.SetBaudRate(br4800); },
        [](TSerialPortDriver& p) { p.SetBaudRateValue(250000); },
        [](TSerialPortDriver& p) { p.SetDataBits(db7BITS); },
        [](TSerialPortDriver& p) { p.SetStopBits(sb2BITS); },
        [](TSerialPortDriver& p) { p.SetParity(ptEVEN); },
        [](TSerialPortDriver& p) { p.SetHwFlow(hfRTSCTS); },
        [](TSerialPortDriver& p) { p.SetSwFlow(sfXONXOFF); },
    };
    for (std::size_t i = 0; i < std::size(setters); ++i) {
        Rig closed;
        setters[i](closed.port);
        EXPECT_TRUE(closed.line->configured.empty()) << i;

        Rig rig;
        rig.open();
        rig.line->deliver({1, 2, 3});
        setters[i](rig.port);
        ASSERT_EQ(rig.line->configured.size(), 2u) << i;
        EXPECT_TRUE(rig.line->input.empty()) << i << ": applying settings empties the queues";
        EXPECT_EQ(rig.line->purges.back(), 0x0Fu) << i;
    }

    Rig rig;
    rig.open();
    rig.line->fail.configure = true;
    rig.port.SetBaudRate(br19200);
    EXPECT_TRUE(rig.port.Connected()) << "a refused setting leaves the port open";
    EXPECT_EQ(rig.port.BaudRateValue(), 19200u);
}

TEST(SerialDriver, ApplySettingsFillsTheDcb)
{
    struct Row {
        const char* name;
        std::function<void(TSerialPortDriver&)> setup;
        std::uint32_t flags;
        std::uint8_t byteSize, parity, stopBits;
    };
    const Row rows[] = {
        {"defaults", [](TSerialPortDriver&) {}, 0x1011, 8, 0, 0},
        {"link settings",
         [](TSerialPortDriver& p) {
             p.SetEnableDTROnOpen(false);
             p.SetBaudRate(br4800);
         },
         0x1001, 8, 0, 0},
        {"rts/cts", [](TSerialPortDriver& p) { p.SetHwFlow(hfRTSCTS); }, 0x2015, 8, 0, 0},
        {"no flow", [](TSerialPortDriver& p) { p.SetHwFlow(hfNONE); }, 0x0011, 8, 0, 0},
        {"xon/xoff", [](TSerialPortDriver& p) { p.SetSwFlow(sfXONXOFF); }, 0x1311, 8, 0, 0},
        {"5 bits odd 1.5",
         [](TSerialPortDriver& p) {
             p.SetDataBits(db5BITS);
             p.SetParity(ptODD);
             p.SetStopBits(sb1HALFBITS);
         },
         0x1011, 5, 1, 1},
        {"7 bits space 2",
         [](TSerialPortDriver& p) {
             p.SetDataBits(db7BITS);
             p.SetParity(ptSPACE);
             p.SetStopBits(sb2BITS);
         },
         0x1011, 7, 4, 2},
    };
    for (const auto& row : rows) {
        Rig rig;
        row.setup(rig.port);
        rig.open();
        ASSERT_EQ(rig.line->configured.size(), 1u) << row.name;
        const SerialDCB& dcb = rig.line->configured[0];
        EXPECT_EQ(dcb.Flags(), row.flags) << row.name;
        EXPECT_EQ(dcb.BaudRate, rig.port.BaudRateValue()) << row.name;
        EXPECT_EQ(dcb.ByteSize, row.byteSize) << row.name;
        EXPECT_EQ(dcb.Parity, row.parity) << row.name;
        EXPECT_EQ(dcb.StopBits, row.stopBits) << row.name;
        EXPECT_EQ(dcb.XonLim, 512) << row.name;
        EXPECT_EQ(dcb.XoffLim, 512) << row.name;
        EXPECT_EQ(dcb.XonChar, 0x11) << row.name;
        EXPECT_EQ(dcb.XoffChar, 0x13) << row.name;
    }

    Rig rig;
    rig.port.SetInBufSize(128);
    rig.port.SetOutBufSize(300);
    rig.open();
    EXPECT_EQ(rig.line->configured[0].XonLim, 32);
    ASSERT_EQ(rig.line->queueSizes.size(), 1u);
    EXPECT_EQ(rig.line->queueSizes[0], std::make_pair(128u, 300u));
}

TEST(SerialDriver, ConnectOpensConfiguresAndStartsTheTimer)
{
    Rig rig;
    rig.port.SetPort(pnCOM5);
    rig.open();
    EXPECT_TRUE(rig.port.Connected());
    EXPECT_EQ(rig.line->openAttempts, std::vector<std::string>{"\\\\.\\COM5"});
    EXPECT_EQ(rig.line->purges, std::vector<std::uint32_t>{0x0F});
    ASSERT_TRUE(rig.line->timeouts.has_value());
    EXPECT_EQ(rig.line->timeouts->ReadIntervalTimeout, 1u);
    EXPECT_EQ(rig.line->timeouts->ReadTotalTimeoutConstant, 1u);
    EXPECT_EQ(rig.line->timeouts->WriteTotalTimeoutConstant, 10u);
    EXPECT_TRUE(rig.line->timerRunning);
    EXPECT_EQ(rig.line->timerPeriod, 50u);

    EXPECT_TRUE(rig.port.Connect()) << "already open";
    EXPECT_EQ(rig.line->openAttempts.size(), 1u);
    EXPECT_EQ(rig.line->configured.size(), 1u);

    rig.port.Disconnect();
    EXPECT_FALSE(rig.port.Connected());
    EXPECT_FALSE(rig.line->timerRunning);
    EXPECT_EQ(rig.line->closes, 1);
    rig.open();
    EXPECT_EQ(rig.line->openAttempts.size(), 2u);
}

TEST(SerialDriver, FailedConnectLeavesThePortClosed)
{
    const struct {
        const char* name;
        void (*breakIt)(FakeLine&);
        int closes;
        OpenFailure failure; // the reason the driver keeps
    } rows[] = {
        {"missing", [](FakeLine& l) { l.present = false; }, 0, OpenFailure::NotFound},
        {"no permission",
         [](FakeLine& l) {
             l.present = false;
             l.openFailure = OpenFailure::NoPermission;
         },
         0, OpenFailure::NoPermission},
        {"open fails", [](FakeLine& l) { l.fail.open = true; }, 0, OpenFailure::NotFound},
        {"configure fails", [](FakeLine& l) { l.fail.configure = true; }, 1, OpenFailure::Settings},
        {"purge fails", [](FakeLine& l) { l.fail.purge = true; }, 1, OpenFailure::Settings},
        {"setupQueues fails", [](FakeLine& l) { l.fail.setupQueues = true; }, 1,
         OpenFailure::Settings},
    };
    for (const auto& row : rows) {
        Rig rig;
        row.breakIt(*rig.line);
        EXPECT_FALSE(rig.port.Connect()) << row.name;
        EXPECT_FALSE(rig.port.Connected()) << row.name;
        EXPECT_FALSE(rig.line->timerRunning) << row.name;
        EXPECT_EQ(rig.line->closes, row.closes) << row.name;
        EXPECT_EQ(rig.port.LastOpenFailure(), row.failure) << row.name;
        rig.line->deliver({1});
        rig.port.TimerWndProc();
        EXPECT_TRUE(rig.data.empty()) << row.name;
        // A later opening that succeeds forgets the reason.
        *rig.line = FakeLine();
        EXPECT_TRUE(rig.port.Connect()) << row.name;
        EXPECT_EQ(rig.port.LastOpenFailure(), OpenFailure::None) << row.name;
    }

    Rig rig;
    rig.line->fail.setTimeouts = true; // its result is ignored
    EXPECT_TRUE(rig.port.Connect());
}

TEST(SerialDriver, EveryOperationOnAClosedPortIsHarmless)
{
    Rig rig;
    rig.line->deliver({1, 2, 3});
    const Bytes payload = {1, 2, 3};
    EXPECT_EQ(rig.port.SendData(payload), 0u);
    EXPECT_EQ(rig.port.SendDataTimeout(payload, 10), 0u);
    EXPECT_FALSE(rig.port.FlushBuffers(true, true));
    EXPECT_FALSE(rig.port.ApplySettings());
    EXPECT_TRUE(rig.port.GetLineStatus().empty());
    EXPECT_EQ(rig.port.OutputFreeSpace(), 65535);
    rig.port.SetDTR(true);
    rig.port.Disconnect();
    rig.port.TimerWndProc();
    EXPECT_EQ(rig.line->callsWhileClosed, 0) << "no port operation reached the platform";
    EXPECT_EQ(rig.line->reads + rig.line->writes, 0);
    EXPECT_TRUE(rig.line->dtrLog.empty());
    EXPECT_TRUE(rig.data.empty());
    EXPECT_EQ(rig.line->closes, 0);
}

TEST(SerialDriver, FlushBuffersMasks)
{
    const struct {
        bool in, out, ok;
        std::uint32_t mask;
    } rows[] = {{true, true, true, 0x0F},
                {true, false, true, 0x0A},
                {false, true, true, 0x05},
                {false, false, true, 0x00}};
    for (const auto& row : rows) {
        Rig rig;
        rig.open();
        EXPECT_EQ(rig.port.FlushBuffers(row.in, row.out), row.ok);
        EXPECT_EQ(rig.line->purges.back(), row.mask);
    }
    Rig rig;
    rig.open();
    rig.line->fail.purge = true;
    EXPECT_FALSE(rig.port.FlushBuffers(true, true));
}

TEST(SerialDriver, OutputFreeSpaceAndLineStatus)
{
    Rig rig;
    rig.port.SetOutBufSize(1000);
    rig.open();
    const struct {
        std::uint32_t queued;
        std::uint16_t free;
    } spaces[] = {{0, 1000}, {1, 999}, {999, 1}, {1000, 0}, {70000, 0}};
    for (const auto& row : spaces) {
        rig.line->outQueue = row.queued;
        EXPECT_EQ(rig.port.OutputFreeSpace(), row.free) << row.queued;
    }
    rig.line->fail.queueCounts = true;
    EXPECT_EQ(rig.port.OutputFreeSpace(), 0);

    const struct {
        std::uint32_t bits;
        std::uint8_t set;
    } lines[] = {{0, 0},    {0x10, 1},  {0x20, 2}, {0x40, 4},
                 {0x80, 8}, {0xF0, 15}, {0x0F, 0}, {0x30, 3}};
    for (const auto& row : lines) {
        rig.line->modemBits = row.bits;
        EXPECT_EQ(rig.port.GetLineStatus().bits(), row.set) << row.bits;
    }
    EXPECT_TRUE(TLineStatusSet(0x08).contains(lsCD));
    EXPECT_FALSE(TLineStatusSet(0x08).contains(lsCTS));
    rig.line->modemBits = 0xF0;
    rig.line->fail.modemStatus = true;
    EXPECT_TRUE(rig.port.GetLineStatus().empty());
}

TEST(SerialDriver, SetDTRDrivesTheLineOnlyWhileOpen)
{
    Rig rig;
    rig.port.SetDTR(true);
    rig.open();
    rig.line->now = 7;
    rig.port.SetDTR(true);
    rig.line->now = 9;
    rig.port.SetDTR(false);
    ASSERT_EQ(rig.line->dtrLog.size(), 2u);
    EXPECT_TRUE(rig.line->dtrLog[0].raised);
    EXPECT_EQ(rig.line->dtrLog[0].at, 7u);
    EXPECT_FALSE(rig.line->dtrLog[1].raised);
    rig.line->fail.escapeDTR = true; // pseudo-terminals have no modem lines
    rig.port.SetDTR(true);
    EXPECT_EQ(rig.line->dtrLog.size(), 2u);
    EXPECT_TRUE(rig.port.Connected());
}

TEST(SerialDriver, BytesTransmitTimeRoundsHalfToEven)
{
    const struct {
        std::uint32_t rate, count, ms;
    } rows[] = {
        {9600, 8, 8},
        {4800, 100, 208},
        {4800, 0, 0}, // worked examples
        {4000, 1, 2},
        {4000, 3, 8},
        {4000, 5, 12}, // 2.5, 7.5, 12.5
        {20000, 1, 0},
        {20000, 3, 2},
        {20000, 5, 2}, // 0.5, 1.5, 2.5
        {9600, 1, 1},
        {115200, 10, 1},
        {110, 1, 91},
        {0, 10, 0},                  // no rate: no line time rather than a crash
        {1, 0xFFFFFFFF, 0xFFFFFFFF}, // saturates
    };
    for (const auto& row : rows) {
        Rig rig;
        rig.port.SetBaudRateValue(row.rate);
        EXPECT_EQ(rig.port.BytesTransmitTime(row.count), row.ms) << row.rate << " " << row.count;
    }
}

TEST(SerialDriver, PollingWithPacketsOff)
{
    Rig rig;
    rig.port.SetInBufSize(128);
    rig.open();
    rig.port.TimerWndProc();
    EXPECT_TRUE(rig.data.empty()) << "nothing queued, nothing raised";
    EXPECT_EQ(rig.line->reads, 0);

    rig.line->deliver(Sequence(40));
    rig.port.TimerWndProc();
    ASSERT_EQ(rig.data.size(), 1u);
    EXPECT_EQ(rig.data[0], Sequence(40));

    rig.line->deliver(Sequence(200));
    rig.port.TimerWndProc();
    rig.port.TimerWndProc();
    ASSERT_EQ(rig.data.size(), 3u);
    EXPECT_EQ(rig.data[1], Sequence(128)) << "at most InBufSize per step";
    EXPECT_EQ(rig.data[2], Sequence(72, 128));

    rig.line->deliver(Sequence(10));
    rig.line->readCap = 4; // the device hands over fewer than it reported
    rig.port.TimerWndProc();
    EXPECT_EQ(rig.data.back(), Sequence(4));
    rig.line->readCap = SIZE_MAX;

    rig.line->fail.read = true;
    rig.port.TimerWndProc();
    EXPECT_EQ(rig.data.size(), 4u) << "a failed read raises nothing";
    rig.line->fail.read = false;
    rig.port.TimerWndProc();
    EXPECT_EQ(rig.data.back(), Sequence(6, 4)) << "and the bytes stay queued";

    rig.line->fail.queueCounts = true;
    rig.line->deliver({1});
    rig.port.TimerWndProc();
    EXPECT_EQ(rig.data.size(), 5u);

    // A backend that reports more than it holds: the read stays within the buffer and the
    // event carries only the bytes actually read.
    rig.line->fail.queueCounts = false;
    rig.line->reportedInQueue = 100000;
    rig.port.TimerWndProc();
    EXPECT_EQ(rig.data.back(), Bytes{1});
}

// At a high rate a step finds more than one buffer: it reads it all, a buffer at a time and
// in order, so that nothing waits to be lost in the system's queue; a flood ends the step at
// its cap.
TEST(SerialDriver, AStepDrainsWhatItFindsABufferAtATime)
{
    const struct {
        std::size_t delivered;
        std::size_t chunks; // raised in one step
    } cases[] = {{128, 1}, {3 * 128 + 5, 4}, {4000, 32}};
    for (const auto& c : cases) {
        Rig rig;
        rig.port.SetInBufSize(128);
        rig.open();
        rig.line->deliver(Sequence(c.delivered));
        rig.port.TimerWndProc();
        ASSERT_EQ(rig.data.size(), c.chunks) << c.delivered;
        Bytes joined;
        for (const Bytes& chunk : rig.data)
            joined.insert(joined.end(), chunk.begin(), chunk.end());
        EXPECT_EQ(joined, Sequence(c.delivered)) << c.delivered;
        EXPECT_TRUE(rig.line->input.empty());
    }
    Rig flood;
    flood.port.SetInBufSize(8192);
    flood.open();
    flood.line->deliver(Bytes(200000, 0x55));
    flood.port.TimerWndProc();
    std::size_t read = 0;
    for (const Bytes& chunk : flood.data)
        read += chunk.size();
    EXPECT_EQ(read, 64u * 1024) << "one step ends at its cap";
}

// A terminal counts 4095 bytes at most while the rest of a busy line's bytes wait behind them:
// the step reads on past a count of zero and takes them all, in order.
TEST(SerialDriver, AStepReadsPastATerminalsCountOnABusyLine)
{
    Rig rig;
    rig.line->disciplineSize = 4095;
    rig.open();
    rig.line->deliver(Sequence(16000));
    rig.port.TimerWndProc();
    Bytes joined;
    for (const Bytes& chunk : rig.data)
        joined.insert(joined.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(joined, Sequence(16000));
    EXPECT_TRUE(rig.line->input.empty());

    Rig quiet; // below a buffer: no read past the count
    quiet.line->disciplineSize = 4095;
    quiet.open();
    quiet.line->deliver(Sequence(100));
    quiet.port.TimerWndProc();
    ASSERT_EQ(quiet.data.size(), 1u);
    EXPECT_EQ(quiet.line->reads, 1);
}

TEST(SerialDriver, OverrunsAreTheDevicesCountWhereItKeepsOne)
{
    const struct {
        const char* name;
        std::optional<std::uint64_t> device;
        bool open;
        bool counted;
    } rows[] = {
        {"counted", 1234, true, true},
        {"no count (a pseudo-terminal)", std::nullopt, true, false},
        {"closed", 1234, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        rig.line->overruns = row.device;
        if (row.open)
            rig.open();
        std::uint64_t count = 0;
        ASSERT_EQ(rig.port.InputOverruns(count), row.counted);
        if (row.counted) {
            EXPECT_EQ(count, *row.device);
        }
    }
}

TEST(SerialDriver, BytesWithoutAHandlerAreDropped)
{
    Rig rig;
    rig.port.SetOnReceiveData(nullptr);
    rig.open();
    rig.line->deliver({1, 2, 3});
    rig.port.TimerWndProc();
    EXPECT_TRUE(rig.line->input.empty());
}

struct PacketCase {
    TPacketMode mode;
    bool completed; // five more bytes arrive before the time-out
};

// "PassCompleted", "DiscardTimedOut": what ctest lists a case as.
void PrintTo(const PacketCase& c, std::ostream* out)
{
    *out << (c.mode == pmPass ? "Pass" : "Discard") << (c.completed ? "Completed" : "TimedOut");
}

class PacketAssembly : public ::testing::TestWithParam<PacketCase> {};

TEST_P(PacketAssembly, TwentyFiveBytesInPacketsOfTen)
{
    const PacketCase c = GetParam();
    Rig rig;
    rig.port.SetPacketSize(10);
    rig.port.SetPacketTimeout(100);
    rig.port.SetPacketMode(c.mode);
    rig.open();
    rig.line->deliver(Sequence(25));
    rig.port.TimerWndProc();
    ASSERT_EQ(rig.packets.size(), 2u);
    EXPECT_EQ(rig.packets[0], Sequence(10));
    EXPECT_EQ(rig.packets[1], Sequence(10, 10));
    EXPECT_TRUE(rig.data.empty()) << "packets on: OnReceiveData stays silent";

    rig.line->advance(50);
    rig.port.TimerWndProc(); // the remainder's start is seen now (t = 50)
    rig.line->advance(100);
    rig.port.TimerWndProc(); // exactly 100 ms: not more than the time-out yet
    EXPECT_EQ(rig.packets.size(), 2u);
    EXPECT_EQ(rig.line->input.size(), 5u);

    if (c.completed) {
        rig.line->deliver(Sequence(5, 25));
        rig.port.TimerWndProc();
        ASSERT_EQ(rig.packets.size(), 3u);
        EXPECT_EQ(rig.packets[2], Sequence(10, 20));
        return;
    }
    rig.line->advance(1);
    rig.port.TimerWndProc();
    EXPECT_TRUE(rig.line->input.empty()) << "read at the time-out in either mode";
    if (c.mode == pmPass) {
        ASSERT_EQ(rig.packets.size(), 3u);
        EXPECT_EQ(rig.packets[2], Sequence(5, 20));
    } else {
        EXPECT_EQ(rig.packets.size(), 2u);
    }
    // The next bytes start a new packet.
    rig.line->deliver(Sequence(3));
    rig.line->advance(10);
    rig.port.TimerWndProc();
    rig.line->advance(100);
    rig.port.TimerWndProc();
    EXPECT_EQ(rig.line->input.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(SerialDriver, PacketAssembly,
                         ::testing::Values(PacketCase{pmPass, false}, PacketCase{pmDiscard, false},
                                           PacketCase{pmPass, true}, PacketCase{pmDiscard, true}));

TEST(SerialDriver, PacketStartAdvancesByTheLineTimeOfEachPacket)
{
    Rig rig;
    rig.port.SetBaudRateValue(1000); // 10 bytes take 100 ms
    rig.port.SetPacketSize(10);
    rig.port.SetPacketTimeout(150);
    rig.port.SetPacketMode(pmPass);
    rig.open();
    rig.line->now = 1000;
    rig.line->deliver(Sequence(3));
    rig.port.TimerWndProc(); // packet begins at 1000
    rig.line->now = 1050;
    rig.line->deliver(Sequence(9, 3)); // 12 queued
    rig.port.TimerWndProc();           // one packet; next starts at 1100
    ASSERT_EQ(rig.packets.size(), 1u);
    rig.line->now = 1250;
    rig.port.TimerWndProc(); // 150 ms after 1100: not yet
    EXPECT_EQ(rig.packets.size(), 1u);
    rig.line->now = 1251;
    rig.port.TimerWndProc();
    ASSERT_EQ(rig.packets.size(), 2u);
    EXPECT_EQ(rig.packets[1], Sequence(2, 10));

    // An estimate that runs ahead of the clock is not mistaken for a long-past start.
    rig.line->deliver(Sequence(3));
    rig.port.TimerWndProc(); // begins at 1251
    rig.line->deliver(Sequence(29, 3));
    rig.port.TimerWndProc(); // three packets: the estimate is now 1551
    ASSERT_EQ(rig.packets.size(), 5u);
    rig.line->deliver({1});
    rig.line->now = 1300;
    rig.port.TimerWndProc();
    EXPECT_EQ(rig.packets.size(), 5u);
    EXPECT_EQ(rig.line->input.size(), 3u);
}

TEST(SerialDriver, PacketTimeoutOffKeepsAPartialPacket)
{
    Rig rig;
    rig.port.SetPacketSize(10);
    rig.port.SetPacketMode(pmPass);
    rig.open();
    rig.line->deliver(Sequence(4));
    for (int i = 0; i < 5; ++i) {
        rig.port.TimerWndProc();
        rig.line->advance(100000);
    }
    EXPECT_TRUE(rig.packets.empty());
    EXPECT_EQ(rig.line->input.size(), 4u);
    EXPECT_TRUE(rig.port.FlushBuffers(true, false));
    EXPECT_TRUE(rig.line->input.empty());
}

TEST(SerialDriver, PacketLoopStopsWhenTheDeviceStopsDelivering)
{
    Rig rig;
    rig.port.SetPacketSize(1);
    rig.open();
    rig.line->reportedInQueue = 0xFFFFFFFF; // a failing device keeps reporting bytes
    rig.line->deliver({7});
    rig.port.TimerWndProc();
    EXPECT_EQ(rig.packets, std::vector<Bytes>{{7}});
    EXPECT_EQ(rig.line->reads, 2) << "no spin through the reported count";
}

TEST(SerialDriver, HandlersMayCallBackIntoTheDriver)
{
    // Disconnect inside a packet handler ends the step.
    {
        Rig rig;
        rig.port.SetPacketSize(10);
        rig.port.SetOnReceivePacket([&](TSerialPortDriver& s, std::span<const std::uint8_t> p) {
            rig.packets.emplace_back(p.begin(), p.end());
            s.Disconnect();
        });
        rig.open();
        rig.line->deliver(Sequence(30));
        rig.port.TimerWndProc();
        EXPECT_EQ(rig.packets.size(), 1u);
        EXPECT_FALSE(rig.port.Connected());
        EXPECT_EQ(rig.line->reads, 1);
    }
    // Close, resize the buffer and reopen inside the handler: the step does not go on with
    // the old count.
    {
        Rig rig;
        rig.port.SetPacketSize(100);
        rig.port.SetOnReceivePacket([&](TSerialPortDriver& s, std::span<const std::uint8_t> p) {
            rig.packets.emplace_back(p.begin(), p.end());
            if (rig.packets.size() == 1) {
                s.Disconnect();
                s.SetPacketSize(10);
                s.SetInBufSize(128);
                s.Connect();
            }
        });
        rig.open();
        rig.line->deliver(Sequence(300));
        rig.port.TimerWndProc();
        EXPECT_EQ(rig.packets.size(), 1u);
        EXPECT_TRUE(rig.port.Connected());
    }
    // A flush inside the handler ends the step too.
    {
        Rig rig;
        rig.port.SetPacketSize(5);
        rig.port.SetOnReceivePacket([&](TSerialPortDriver& s, std::span<const std::uint8_t> p) {
            rig.packets.emplace_back(p.begin(), p.end());
            s.FlushBuffers(false, true);
        });
        rig.open();
        rig.line->deliver(Sequence(20));
        rig.port.TimerWndProc();
        EXPECT_EQ(rig.packets.size(), 1u);
        EXPECT_EQ(rig.line->input.size(), 15u);
    }
    // Sending, replacing the handler and a nested step from inside the handler.
    {
        Rig rig;
        int calls = 0;
        rig.port.SetOnReceiveData([&](TSerialPortDriver& s, std::span<const std::uint8_t> d) {
            ++calls;
            EXPECT_EQ(s.SendData(d), d.size());
            rig.line->deliver({9, 9});
            s.TimerWndProc(); // a nested event loop would do this: it must not re-enter
            s.SetOnReceiveData(nullptr);
            EXPECT_EQ(d[0], 1) << "the buffer is still intact";
        });
        rig.open();
        rig.line->deliver({1, 2});
        rig.port.TimerWndProc();
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(rig.line->written, (Bytes{1, 2}));
        EXPECT_EQ(rig.line->input.size(), 2u) << "left for the next step";
    }
}

TEST(SerialDriver, SendWritesInChunksOfTheFreeSpace)
{
    Rig rig;
    rig.port.SetOutBufSize(128);
    rig.open();
    EXPECT_EQ(rig.port.SendData({}), 0u);
    EXPECT_EQ(rig.line->writes, 0);

    const Bytes payload = Sequence(300);
    rig.line->outQueue = 28; // 100 free
    rig.line->writeCap = 30; // and the device takes at most 30 at a time
    EXPECT_EQ(rig.port.SendData(payload), 300u);
    EXPECT_EQ(rig.line->written, payload);
    EXPECT_EQ(rig.line->writes, 10);
}

TEST(SerialDriver, SendGivesUpAfterTheTimeoutWithoutProgress)
{
    struct Row {
        const char* name;
        void (*stall)(FakeLine&);
        std::uint32_t expected;
    };
    const Row rows[] = {
        {"output never drains", [](FakeLine& l) { l.writesFillOutQueue = true; }, 128},
        {"writes fail", [](FakeLine& l) { l.fail.write = true; }, 0},
        {"writes take nothing", [](FakeLine& l) { l.writeCap = 0; }, 0},
        {"queue unreadable", [](FakeLine& l) { l.fail.queueCounts = true; }, 0},
    };
    for (const auto& row : rows) {
        Rig rig;
        rig.port.SetOutBufSize(128);
        rig.port.SetOutputTimeout(500);
        rig.open();
        row.stall(*rig.line);
        rig.line->now = 0xFFFFFF00; // the clock wraps during the wait
        rig.line->autoAdvance = 1;
        EXPECT_EQ(rig.port.SendData(Sequence(200)), row.expected) << row.name;
        // The last progress was read at the start (0xFFFFFF00) or after the one write
        // (0xFFFFFF01); the loop ends at the first clock read more than 500 later, and
        // every read moves the clock on by one.
        const std::uint32_t lastProgress = row.expected ? 0xFFFFFF01u : 0xFFFFFF00u;
        EXPECT_EQ(rig.line->now - lastProgress, 502u) << row.name;
    }

    Rig rig;
    rig.open();
    rig.line->writesFillOutQueue = true;
    rig.port.SetOutBufSize(128); // ignored while open
    rig.line->autoAdvance = 1;
    rig.line->now = 0;
    EXPECT_EQ(rig.port.SendDataTimeout(Sequence(3000), 20), 2048u);
    EXPECT_EQ(rig.line->now, 23u);
}

TEST(SerialDriver, CheckLineStatusHoldsTheSend)
{
    Rig rig;
    rig.port.SetCheckLineStatus(true);
    rig.open();
    rig.line->autoAdvance = 1;
    EXPECT_EQ(rig.port.SendData(Sequence(10)), 0u);
    EXPECT_EQ(rig.line->writes, 0);
    rig.line->fail.modemStatus = true; // pseudo-terminals: no status, no send
    rig.line->modemBits = MsCtsOn;
    EXPECT_EQ(rig.port.SendData(Sequence(10)), 0u);
    rig.line->fail.modemStatus = false;
    rig.line->modemBits = MsRlsdOn;
    EXPECT_EQ(rig.port.SendData(Sequence(10)), 10u);
    rig.port.SetCheckLineStatus(false);
    rig.line->modemBits = 0;
    EXPECT_EQ(rig.port.SendData(Sequence(10)), 10u);
}

TEST(SerialDriver, LossOfTheDeviceStopsPollingAndIsSaidOnce)
{
    // How the step finds out: a failed queue count or read, on a backend that says the
    // device has gone; with packets off and on.
    const struct {
        const char* what;
        std::int16_t packetSize;
        std::function<void(FakeLine&)> vanish;
    } rows[] = {
        {"queue count fails", -1, [](FakeLine& l) { l.gone = true; }},
        {"queue count fails, packets", 4, [](FakeLine& l) { l.gone = true; }},
        {"read fails", -1,
         [](FakeLine& l) {
             l.deliver({1, 2});
             l.fail.read = true;
             l.reportsLoss = true;
         }},
        {"packet read fails", 4,
         [](FakeLine& l) {
             l.deliver(Sequence(8));
             l.fail.read = true;
             l.reportsLoss = true;
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig;
        rig.port.SetPacketSize(row.packetSize);
        int lost = 0;
        rig.port.SetOnDeviceLost([&](TSerialPortDriver& sender) {
            ++lost;
            EXPECT_EQ(&sender, &rig.port);
            EXPECT_FALSE(rig.line->timerRunning) << "polling has stopped when it is said";
        });
        rig.open();
        rig.line->deliver(Sequence(8));
        ASSERT_TRUE(rig.line->tick());
        EXPECT_EQ(rig.line->lossChecks, 0) << "a healthy step does not ask";

        row.vanish(*rig.line);
        ASSERT_TRUE(rig.line->tick());
        EXPECT_EQ(lost, 1);
        EXPECT_TRUE(rig.port.DeviceLost());
        EXPECT_TRUE(rig.port.Connected()) << "closing is the owner's decision";

        // No busy loop: neither the timer nor a direct step touches the device again.
        EXPECT_FALSE(rig.line->tick());
        const int calls = rig.line->portCalls;
        for (int i = 0; i < 100; ++i)
            rig.port.TimerWndProc();
        EXPECT_EQ(rig.line->portCalls, calls);
        EXPECT_EQ(lost, 1);

        // Closing clears it; once the device is back the port opens and polls again.
        rig.port.Disconnect();
        EXPECT_FALSE(rig.port.DeviceLost());
        *rig.line = FakeLine{};
        rig.open();
        rig.line->deliver({9, 9, 9, 9});
        ASSERT_TRUE(rig.line->tick());
        EXPECT_EQ(row.packetSize > 0 ? rig.packets.back() : rig.data.back(), (Bytes{9, 9, 9, 9}));
    }
}

TEST(SerialDriver, PlainFailuresAreNoLossAndAHandlerMayCloseThePort)
{
    Rig rig;
    rig.open();
    rig.line->fail.queueCounts = true; // failing, but the device is there
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(rig.line->tick());
    EXPECT_EQ(rig.line->lossChecks, 3);
    EXPECT_FALSE(rig.port.DeviceLost());
    rig.line->fail.queueCounts = false;
    rig.line->deliver({5});
    ASSERT_TRUE(rig.line->tick());
    EXPECT_EQ(rig.data, std::vector<Bytes>{{5}});

    // The owner closes the port from inside the event: the step ends there.
    rig.port.SetOnDeviceLost([](TSerialPortDriver& sender) { sender.Disconnect(); });
    rig.line->gone = true;
    ASSERT_TRUE(rig.line->tick());
    EXPECT_FALSE(rig.port.Connected());
    EXPECT_FALSE(rig.port.DeviceLost());
    EXPECT_EQ(rig.line->closes, 1);
    EXPECT_EQ(rig.line->callsWhileClosed, 0);
}

TEST(SerialDriver, DestructorClosesThePort)
{
    auto line = std::make_shared<FakeLine>();
    {
        TSerialPortDriver port(std::make_unique<FakePlatform>(line));
        ASSERT_TRUE(port.Connect());
    }
    EXPECT_FALSE(line->open);
    EXPECT_EQ(line->closes, 1);
    EXPECT_FALSE(line->timerRunning);
}

} // namespace
} // namespace qtr290
