// The POSIX platform and the driver on pseudo-terminals made by the test. The test keeps
// the slave descriptor that openpty returns: it shares the tty's settings and input queue
// with the driver's own descriptor, so the test can inspect both without reading.
#include "serial/SerialDrv.h"
#include "serial/platform.h"
#include "serial/termios_map.h"
#include "tests/serial/termios2_probe.h"
#include "tests/support/core_application.h"
#include "tests/support/pseudo_terminal.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qtr290 {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::size_t OpenDescriptors()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

Bytes Sequence(std::size_t count, std::uint8_t first = 0)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

using test::Pty;

SerialDCB BusSettings(std::uint32_t rate)
{
    SerialDCB dcb;
    dcb.BaudRate = rate;
    dcb.ByteSize = 8;
    dcb.fBinary = true;
    dcb.fRtsControl = SerialDCB::RtsEnable;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

struct FrameRow {
    std::uint8_t byteSize, parity, stopBits;
    bool rtsCts, xonXoff;
    tcflag_t size, parityBits;
    bool cstopb;
};
const FrameRow FrameRows[] = {
    {8, 0, 0, false, false, CS8, 0, false},
    {7, 1, 2, false, false, CS7, PARENB | PARODD, true},
    {6, 2, 1, false, false, CS6, PARENB, true}, // 1.5 stop bits: two
    {5, 3, 0, true, false, CS5, PARENB | PARODD | CMSPAR, false},
    {8, 4, 0, false, true, CS8, PARENB | CMSPAR, false},
};

SerialDCB FrameSettings(const FrameRow& row)
{
    SerialDCB dcb = BusSettings(4800);
    dcb.ByteSize = row.byteSize;
    dcb.Parity = row.parity;
    dcb.StopBits = row.stopBits;
    dcb.fOutxCtsFlow = row.rtsCts;
    dcb.fOutX = dcb.fInX = row.xonXoff;
    return dcb;
}

// Checks what every tty keeps of the settings: rate, stop bits, flow control, raw mode.
void ExpectRawAt4800(const termios& tio, const FrameRow& row)
{
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B4800));
    EXPECT_EQ(::cfgetispeed(&tio), speed_t(B4800));
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, row.cstopb);
    EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, row.rtsCts);
    EXPECT_EQ((tio.c_iflag & IXON) != 0, row.xonXoff);
    EXPECT_EQ((tio.c_iflag & IXOFF) != 0, row.xonXoff);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | INPCK | ISTRIP | IGNCR | INLCR), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
}

TEST(PosixTermios, FrameFormatsMapOntoTermios)
{
    for (const auto& row : FrameRows) {
        SCOPED_TRACE(int(row.byteSize));
        termios tio{}; // a cooked terminal with a parity check left over
        tio.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
        tio.c_iflag = ICRNL | INPCK | IXANY;
        tio.c_oflag = OPOST;
        tio.c_cflag = CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
        bool arbitrary = true;
        ASSERT_TRUE(posix::FillTermios(FrameSettings(row), tio, arbitrary));
        EXPECT_FALSE(arbitrary);
        EXPECT_EQ(tio.c_cflag & CSIZE, row.size);
        EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), row.parityBits);
        EXPECT_EQ(tio.c_iflag & IXANY, 0u);
        ExpectRawAt4800(tio, row);
    }
}

TEST(PosixTermios, RefusesWhatTermiosCannotExpress)
{
    SerialDCB rateZero = BusSettings(0);
    SerialDCB nineBits = BusSettings(9600);
    nineBits.ByteSize = 9;
    SerialDCB fourBits = BusSettings(9600);
    fourBits.ByteSize = 4;
    SerialDCB badParity = BusSettings(9600);
    badParity.Parity = 5;
    SerialDCB badStop = BusSettings(9600);
    badStop.StopBits = 3;
    for (const SerialDCB& dcb : {rateZero, nineBits, fourBits, badParity, badStop}) {
        termios tio{};
        bool arbitrary = false;
        EXPECT_FALSE(posix::FillTermios(dcb, tio, arbitrary));
    }
    termios tio{};
    bool arbitrary = false;
    EXPECT_TRUE(posix::FillTermios(BusSettings(14400), tio, arbitrary));
    EXPECT_TRUE(arbitrary);
}

TEST(PosixPlatform, ConfigureReachesTheDevice)
{
    Pty pty;
    const auto platform = MakeSystemPlatform();
    ASSERT_TRUE(platform->open(pty.path()));
    for (const auto& row : FrameRows) {
        SCOPED_TRACE(int(row.byteSize));
        ASSERT_TRUE(platform->configure(FrameSettings(row)));
        // A pseudo-terminal forces CS8 without parity; the rest it keeps.
        const termios tio = pty.settings();
        EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), row.parityBits & (PARODD | CMSPAR));
        ExpectRawAt4800(tio, row);
    }
}

TEST(PosixPlatform, APseudoTerminalKeepsNoOverrunCount)
{
    Pty pty;
    const auto platform = MakeSystemPlatform();
    std::uint64_t count = 7;
    EXPECT_FALSE(platform->inputOverruns(count)) << "closed";
    ASSERT_TRUE(platform->open(pty.path()));
    EXPECT_FALSE(platform->inputOverruns(count)) << "no count is no zero";
    EXPECT_EQ(count, 7u);
    EXPECT_FALSE(platform->deviceLost()) << "the refused count is no failure of the device";
}

TEST(PosixPlatform, RatesStandardAndArbitrary)
{
    Pty pty;
    const auto platform = MakeSystemPlatform();
    ASSERT_TRUE(platform->open(pty.path()));
    for (const std::uint32_t rate : {110u, 9600u, 14400u, 56000u, 115200u, 128000u, 250000u}) {
        ASSERT_TRUE(platform->configure(BusSettings(rate))) << rate;
        EXPECT_EQ(OutputRateOf(pty.slave()), rate);
    }
    EXPECT_FALSE(platform->configure(BusSettings(0)));
    EXPECT_EQ(OutputRateOf(pty.slave()), 250000u) << "a refused rate 0 does not hang up the line";
}

TEST(PosixPlatform, OpenRefusesWhatIsNotATty)
{
    const auto dir =
        std::filesystem::temp_directory_path() / ("qtr290_serial_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto file = dir / "plain";
    std::ofstream(file) << "x";
    const auto before = OpenDescriptors();
    const std::pair<std::string, OpenFailure> rows[] = {
        {"/dev/nonexistent-tty", OpenFailure::NotFound},
        {file.string(), OpenFailure::Settings},
        {(file / "below").string(), OpenFailure::NotFound},
        {dir.string(), OpenFailure::Settings},
        {"/dev/null", OpenFailure::Settings},
        {"\\\\.\\COM999", OpenFailure::NoDevice},
        {"", OpenFailure::NoDevice},
    };
    for (const auto& [name, failure] : rows) {
        const auto platform = MakeSystemPlatform();
        EXPECT_FALSE(platform->open(name)) << name;
        EXPECT_FALSE(platform->isOpen()) << name;
        EXPECT_EQ(platform->lastOpenFailure(), failure) << name;
    }
    EXPECT_EQ(OpenDescriptors(), before) << "no descriptor leaked";
    std::filesystem::remove_all(dir);
}

// A link that never reaches a device is no device, not a port in use elsewhere.
TEST(PosixPlatform, ASymbolicLinkLoopIsNoDevice)
{
    const auto dir =
        std::filesystem::temp_directory_path() / ("qtr290_loop_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink(dir / "b", dir / "a");
    std::filesystem::create_symlink(dir / "a", dir / "b");
    const auto platform = MakeSystemPlatform();
    EXPECT_FALSE(platform->open((dir / "a").string()));
    EXPECT_EQ(platform->lastOpenFailure(), OpenFailure::NotFound);
    EXPECT_EQ(posix::OpenFailureOf(ENAMETOOLONG), OpenFailure::NotFound);
    std::filesystem::remove_all(dir);
}

// Root opens everything, so the permission case is checked on the mapping itself.
TEST(PosixPlatform, OpenFailureOfErrno)
{
    const std::pair<int, OpenFailure> rows[] = {
        {ENOENT, OpenFailure::NotFound},    {ENXIO, OpenFailure::NotFound},
        {ENODEV, OpenFailure::NotFound},    {EACCES, OpenFailure::NoPermission},
        {EPERM, OpenFailure::NoPermission}, {EBUSY, OpenFailure::Busy},
        {EWOULDBLOCK, OpenFailure::Busy},   {ENOTTY, OpenFailure::Settings},
        {EISDIR, OpenFailure::Settings},
    };
    for (const auto& [error, failure] : rows)
        EXPECT_EQ(posix::OpenFailureOf(error), failure) << error;
}

// The port is configured raw while open; the close gives the terminal back as it was found.
TEST(PosixPlatform, CloseRestoresTheTerminalAsFound)
{
    Pty pty;
    termios before{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &before), 0);
    before.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(::tcsetattr(pty.slave(), TCSANOW, &before), 0);
    const auto platform = MakeSystemPlatform();
    ASSERT_TRUE(platform->open(pty.path()));
    ASSERT_TRUE(platform->configure(BusSettings(9600)));
    termios open{};
    ::tcgetattr(pty.slave(), &open);
    EXPECT_EQ(open.c_lflag & ICANON, 0u) << "raw while open";
    platform->close();
    termios after{};
    ::tcgetattr(pty.slave(), &after);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
}

TEST(PosixPlatform, ExclusiveOpenHoldsAgainstASecondOpener)
{
    Pty pty;
    const auto first = MakeSystemPlatform();
    const auto second = MakeSystemPlatform();
    const auto before = OpenDescriptors();
    ASSERT_TRUE(first->open(pty.path()));
    EXPECT_EQ(pty.exclusive(), 1);
    EXPECT_FALSE(second->open(pty.path())); // even as root
    EXPECT_EQ(second->lastOpenFailure(), OpenFailure::Busy);
    EXPECT_EQ(pty.exclusive(), 1) << "the refused opener left the holder's exclusivity alone";
    EXPECT_EQ(OpenDescriptors(), before + 1);
    first->close();
    EXPECT_EQ(pty.exclusive(), 0);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_TRUE(second->open(pty.path()));
}

TEST(PosixPlatform, TellsALostDeviceFromAFailedCall)
{
    // Which call finds the hang-up first does not matter: the failing ioctl's EIO, or the
    // hang-up and the removed node that deviceLost() itself asks about.
    for (const bool failedCallFirst : {true, false}) {
        SCOPED_TRACE(failedCallFirst ? "after a failed call" : "asked first");
        Pty pty;
        const auto platform = MakeSystemPlatform();
        EXPECT_FALSE(platform->deviceLost()) << "closed";
        ASSERT_TRUE(platform->open(pty.path()));
        std::uint32_t bits = 0;
        EXPECT_FALSE(platform->modemStatus(bits)) << "a pty has no modem lines";
        EXPECT_FALSE(platform->deviceLost()) << "a failed call alone is no loss";

        pty.closeMaster();
        std::uint32_t in = 0;
        std::uint32_t out = 0;
        if (failedCallFirst) {
            EXPECT_FALSE(platform->queueCounts(in, out));
        }
        EXPECT_TRUE(platform->deviceLost());
        EXPECT_FALSE(std::filesystem::exists(pty.path())) << "its node went with it";

        platform->close();
        EXPECT_FALSE(platform->deviceLost());
        Pty back;
        ASSERT_TRUE(platform->open(back.path()));
        EXPECT_FALSE(platform->deviceLost());
    }
}

TEST(PosixPlatform, QueuesReadWriteAndModemLines)
{
    Pty pty;
    const auto platform = MakeSystemPlatform();
    ASSERT_TRUE(platform->open(pty.path()));
    ASSERT_TRUE(platform->configure(BusSettings(4800)));
    std::uint32_t in = 99, out = 99;
    ASSERT_TRUE(platform->queueCounts(in, out));
    EXPECT_EQ(in, 0u);
    std::uint8_t buffer[16];
    EXPECT_EQ(platform->read(buffer), std::optional<std::size_t>(0)) << "never waits";

    ASSERT_TRUE(pty.send({1, 2, 3, 4}));
    ASSERT_TRUE(pty.waitQueued(4));
    ASSERT_TRUE(platform->queueCounts(in, out));
    EXPECT_EQ(in, 4u);
    EXPECT_EQ(platform->read(std::span(buffer).first(3)), std::optional<std::size_t>(3));
    EXPECT_EQ(buffer[2], 3);
    EXPECT_TRUE(platform->purge(PurgeRxAbort | PurgeRxClear));
    ASSERT_TRUE(platform->queueCounts(in, out));
    EXPECT_EQ(in, 0u);

    const Bytes payload = {0xA5, 0x0A, 0x0D, 0x00};
    EXPECT_EQ(platform->write(payload), std::optional<std::size_t>(4));
    EXPECT_EQ(pty.receive(4), payload) << "bytes pass untranslated";

    // Pseudo-terminals have no modem lines: the calls fail, nothing else happens.
    std::uint32_t bits = 0;
    EXPECT_FALSE(platform->escapeDTR(true));
    EXPECT_FALSE(platform->modemStatus(bits));
    EXPECT_TRUE(platform->isOpen());

    const std::uint32_t tick = platform->TickCount();
    ::usleep(20000);
    const std::uint32_t later = platform->MultimediaTime();
    EXPECT_GE(later - tick, 19u);
    EXPECT_LT(later - tick, 1000u);
}

struct DriverOnPty {
    Pty pty;
    TSerialPortDriver port;
    std::vector<Bytes> data;

    DriverOnPty()
    {
        // The bus settings the device link applies.
        port.SetPortName(pty.path());
        port.SetBaudRate(br4800);
        port.SetEnableDTROnOpen(false);
        port.SetPollingDelay(10);
        port.SetOnReceiveData([this](TSerialPortDriver&, std::span<const std::uint8_t> d) {
            data.emplace_back(d.begin(), d.end());
        });
    }
};

TEST(SerialDriverOnPty, ReceivesOneChunkPerStepAndSends)
{
    DriverOnPty rig;
    ASSERT_TRUE(rig.port.Connect()) << "the failing modem-line calls do not stop the open";
    const termios tio = rig.pty.settings();
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B4800));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));

    rig.port.TimerWndProc();
    EXPECT_TRUE(rig.data.empty());
    ASSERT_TRUE(rig.pty.send(Sequence(100)));
    ASSERT_TRUE(rig.pty.waitQueued(100));
    rig.port.TimerWndProc();
    ASSERT_EQ(rig.data.size(), 1u);
    EXPECT_EQ(rig.data[0], Sequence(100));
    ASSERT_TRUE(rig.pty.send(Sequence(3000, 7)));
    ASSERT_TRUE(rig.pty.waitQueued(3000));
    rig.port.TimerWndProc();
    rig.port.TimerWndProc();
    ASSERT_EQ(rig.data.size(), 3u);
    EXPECT_EQ(rig.data[1].size(), 2048u) << "at most InBufSize per step";
    EXPECT_EQ(rig.data[2].size(), 952u);

    const Bytes telegram = Sequence(263, 0xA6);
    EXPECT_EQ(rig.port.SendData(telegram), 263u);
    EXPECT_EQ(rig.pty.receive(263), telegram);
    EXPECT_TRUE(rig.port.GetLineStatus().empty());
    rig.port.SetDTR(true); // fails quietly on a pty
    EXPECT_TRUE(rig.port.Connected());
}

TEST(SerialDriverOnPty, SecondOpenFailsWhileTheFirstHoldsThePort)
{
    DriverOnPty rig;
    ASSERT_TRUE(rig.port.Connect());
    TSerialPortDriver other;
    other.SetPortName(rig.pty.path());
    EXPECT_FALSE(other.Connect());
    EXPECT_FALSE(other.Connected());
    ASSERT_TRUE(rig.pty.send({5, 6}));
    ASSERT_TRUE(rig.pty.waitQueued(2));
    rig.port.TimerWndProc();
    EXPECT_EQ(rig.data, (std::vector<Bytes>{{5, 6}})) << "the holder keeps working";
    rig.port.Disconnect();
    EXPECT_TRUE(other.Connect());
}

TEST(SerialDriverOnPty, MissingDeviceAndNonTtyFailWithoutLeaks)
{
    const auto before = OpenDescriptors();
    for (const char* name : {"/dev/nonexistent-tty", "/dev/null", "\\\\.\\COM97"}) {
        TSerialPortDriver port;
        port.SetPortName(name);
        EXPECT_FALSE(port.Connect()) << name;
        EXPECT_FALSE(port.Connected()) << name;
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(SerialDriverOnPty, VanishingDeviceStaysHarmlessAndCanBeReopened)
{
    const auto before = OpenDescriptors();
    auto rig = std::make_unique<DriverOnPty>();
    rig->port.SetOutputTimeout(50);
    ASSERT_TRUE(rig->port.Connect());
    ASSERT_TRUE(rig->pty.send({1, 2, 3}));
    ASSERT_TRUE(rig->pty.waitQueued(3));
    rig->pty.closeMaster(); // the adapter is pulled

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 100; ++i)
        rig->port.TimerWndProc();
    EXPECT_LT(clock.elapsed(), 200) << "polling steps do not spin";
    EXPECT_TRUE(rig->data.empty());
    EXPECT_TRUE(rig->port.Connected()) << "the port stays open until it is closed";
    EXPECT_TRUE(rig->port.DeviceLost());

    clock.restart();
    EXPECT_EQ(rig->port.SendData(Sequence(10)), 0u);
    EXPECT_GE(clock.elapsed(), 50);
    EXPECT_LT(clock.elapsed(), 1000) << "the send gives up after its time-out";
    EXPECT_TRUE(rig->port.GetLineStatus().empty());
    EXPECT_FALSE(rig->port.FlushBuffers(true, true));
    rig->port.SetDTR(false);

    rig->port.Disconnect();
    EXPECT_FALSE(rig->port.Connected());
    EXPECT_FALSE(rig->port.DeviceLost());
    EXPECT_EQ(OpenDescriptors(), before + 1) << "only the test's own slave descriptor remains";

    Pty back; // the device is back (under whatever name the system gives it)
    rig->port.SetPortName(back.path());
    ASSERT_TRUE(rig->port.Connect());
    ASSERT_TRUE(back.send({7, 8}));
    ASSERT_TRUE(back.waitQueued(2));
    rig->port.TimerWndProc();
    EXPECT_EQ(rig->data, (std::vector<Bytes>{{7, 8}}));
    rig.reset();
    EXPECT_EQ(OpenDescriptors(), before + 2) << "the new pty's two descriptors";
}

// The periodic tick on a real Qt event loop.
TEST(SerialDriverOnPty, TimerDeliversThroughTheEventLoop)
{
    DriverOnPty rig;
    ASSERT_TRUE(rig.port.Connect());
    ASSERT_TRUE(rig.pty.send(Sequence(50)));
    QElapsedTimer clock;
    clock.start();
    std::size_t received = 0;
    while (received < 50 && clock.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        received = 0;
        for (const auto& chunk : rig.data)
            received += chunk.size();
    }
    ASSERT_EQ(received, 50u);

    // A handler that closes the port from inside the tick stops the timer for good.
    int calls = 0;
    rig.port.SetOnReceiveData([&](TSerialPortDriver& s, std::span<const std::uint8_t>) {
        ++calls;
        s.Disconnect();
    });
    ASSERT_TRUE(rig.pty.send({1}));
    clock.restart();
    while (calls == 0 && clock.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(calls, 1);
    EXPECT_FALSE(rig.port.Connected());
    ASSERT_TRUE(rig.pty.send({2}));
    clock.restart();
    while (clock.elapsed() < 100)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace qtr290
