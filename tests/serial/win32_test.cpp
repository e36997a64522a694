// The Win32 backend without a serial port: the DCB it hands to SetCommState, COM names,
// the notification window's timer, the clocks, and opening what is not a port.
#include "serial/SerialDrv.h"
#include "serial/win32_dcb.h"
#include "tests/serial/win32_pump.h"
#include "tests/support/fake_platform.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qtr290 {
namespace {

using test::PumpFor;

// The DCB that the driver's settings turn into, as SetCommState would receive it.
DCB DriverDCB(const std::function<void(TSerialPortDriver&)>& setUp)
{
    auto line = std::make_shared<test::FakeLine>();
    TSerialPortDriver port(std::make_unique<test::FakePlatform>(line));
    setUp(port);
    EXPECT_TRUE(port.Connect());
    EXPECT_FALSE(line->configured.empty());
    return win32::ToWin32DCB(line->configured.empty() ? SerialDCB{} : line->configured.back());
}

TEST(Win32DCB, KnownFlagWordsOfTheLinkAndOfTheDefaults)
{
    // The link's bus settings: 4800 8N1, RTS held on, DTR low on open.
    const DCB link = DriverDCB([](TSerialPortDriver& port) {
        port.SetBaudRateValue(4800);
        port.SetEnableDTROnOpen(false);
    });
    EXPECT_EQ(link.DCBlength, 28u);
    EXPECT_EQ(link.BaudRate, 4800u);
    EXPECT_EQ(win32::DCBFlagsWord(link), 0x1001u);
    EXPECT_EQ(link.ByteSize, 8);
    EXPECT_EQ(link.Parity, NOPARITY);
    EXPECT_EQ(link.StopBits, ONESTOPBIT);
    EXPECT_EQ(link.XonLim, 512);
    EXPECT_EQ(link.XoffLim, 512);
    EXPECT_EQ(link.XonChar, 0x11);
    EXPECT_EQ(link.XoffChar, 0x13);
    EXPECT_EQ(link.ErrorChar | link.EofChar | link.EvtChar, 0);

    const DCB defaults = DriverDCB([](TSerialPortDriver&) {});
    EXPECT_EQ(defaults.BaudRate, 9600u);
    EXPECT_EQ(win32::DCBFlagsWord(defaults), 0x1011u);
}

TEST(Win32DCB, EverySettingLandsInItsOwnField)
{
    // Flag words as winbase.h lays out the bit fields: fBinary 0x0001, fOutxCtsFlow 0x0004,
    // fDtrControl 0x0030 (enable 0x0010), fOutX 0x0100, fInX 0x0200, fRtsControl 0x3000
    // (enable 0x1000, handshake 0x2000). XonLim and XoffLim are a quarter of InBufSize.
    const struct {
        const char* what;
        std::function<void(TSerialPortDriver&)> setUp;
        std::uint32_t flags;
        BYTE byteSize, parity, stopBits;
        WORD xonLim;
    } rows[] = {
        {"no flow control, DTR off",
         [](TSerialPortDriver& p) {
             p.SetHwFlow(hfNONE);
             p.SetEnableDTROnOpen(false);
         },
         0x0001, 8, NOPARITY, ONESTOPBIT, 512},
        {"RTS/CTS handshake", [](TSerialPortDriver& p) { p.SetHwFlow(hfRTSCTS); }, 0x2015, 8,
         NOPARITY, ONESTOPBIT, 512},
        {"XON/XOFF", [](TSerialPortDriver& p) { p.SetSwFlow(sfXONXOFF); }, 0x1311, 8, NOPARITY,
         ONESTOPBIT, 512},
        {"7E2",
         [](TSerialPortDriver& p) {
             p.SetDataBits(db7BITS);
             p.SetParity(ptEVEN);
             p.SetStopBits(sb2BITS);
         },
         0x1011, 7, EVENPARITY, TWOSTOPBITS, 512},
        {"5 bits, mark parity, 1.5 stop bits",
         [](TSerialPortDriver& p) {
             p.SetDataBits(db5BITS);
             p.SetParity(ptMARK);
             p.SetStopBits(sb1HALFBITS);
         },
         0x1011, 5, MARKPARITY, ONE5STOPBITS, 512},
        {"odd and space parity, small queue",
         [](TSerialPortDriver& p) {
             p.SetParity(ptODD);
             p.SetInBufSize(128);
         },
         0x1011, 8, ODDPARITY, ONESTOPBIT, 32},
        {"space parity, largest queue",
         [](TSerialPortDriver& p) {
             p.SetParity(ptSPACE);
             p.SetInBufSize(8192);
         },
         0x1011, 8, SPACEPARITY, ONESTOPBIT, 2048},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const DCB dcb = DriverDCB(row.setUp);
        EXPECT_EQ(win32::DCBFlagsWord(dcb), row.flags);
        EXPECT_EQ(dcb.ByteSize, row.byteSize);
        EXPECT_EQ(dcb.Parity, row.parity);
        EXPECT_EQ(dcb.StopBits, row.stopBits);
        EXPECT_EQ(dcb.XonLim, row.xonLim);
        EXPECT_EQ(dcb.XoffLim, row.xonLim);
        // Never set by the driver: parity checking, DSR flow, abort on error.
        EXPECT_EQ(dcb.fParity, 0u);
        EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
        EXPECT_EQ(dcb.fAbortOnError, 0u);
    }
}

TEST(Win32ComNames, NamesGoToCreateFileUnlessOverridden)
{
    const ComPortNames defaults;
    const struct {
        const char* name;
        const char* opened;
    } plain[] = {
        {"\\\\.\\COM5", "\\\\.\\COM5"},
        {"\\\\.\\com12", "\\\\.\\com12"},
        {"\\\\.\\COM200", "\\\\.\\COM200"},
        {"\\\\.\\CNCA0", "\\\\.\\CNCA0"},
        {"COM3", "COM3"},
        {"", ""},
    };
    for (const auto& row : plain)
        EXPECT_EQ(defaults.Resolve(row.name), row.opened) << row.name;
    EXPECT_EQ(defaults.Device(7), "\\\\.\\COM7");
    EXPECT_EQ(defaults.Device(0), "");

    const ComPortNames names({{5, "\\\\.\\COM12"}, {6, ""}});
    EXPECT_EQ(names.Resolve("\\\\.\\COM5"), "\\\\.\\COM12");
    EXPECT_EQ(names.Resolve("\\\\.\\com005"), "\\\\.\\COM12");
    EXPECT_EQ(names.Resolve("\\\\.\\COM6"), "\\\\.\\COM6") << "an empty override is ignored";
    EXPECT_EQ(names.Resolve("COM5"), "COM5") << "only device names are overridden";
    EXPECT_EQ(names.Device(5), "\\\\.\\COM12");
    EXPECT_EQ(names.Overrides().size(), 1u);
}

// A temporary regular file: CreateFileA opens it, but it is no serial port.
class TempFile {
public:
    TempFile()
    {
        char dir[MAX_PATH];
        char path[MAX_PATH];
        ::GetTempPathA(MAX_PATH, dir);
        ::GetTempFileNameA(dir, "qtr", 0, path);
        FPath = path;
    }
    ~TempFile() { ::DeleteFileA(FPath.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return FPath; }

private:
    std::string FPath;
};

TEST(Win32ComNames, AnOverrideIsWhatGetsOpenedAndNobodyElseMayOpenIt)
{
    TempFile file;
    auto platform = MakeSystemPlatform(ComPortNames({{7, file.path()}}));
    ASSERT_TRUE(platform->open("\\\\.\\COM7"));
    // Opened without sharing: even an opener that would share is refused.
    const HANDLE second = ::CreateFileA(file.path().c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    if (second != INVALID_HANDLE_VALUE)
        ::CloseHandle(second);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    auto other = MakeSystemPlatform(ComPortNames({{7, file.path()}}));
    EXPECT_FALSE(other->open("\\\\.\\COM7"));
    EXPECT_EQ(other->lastOpenFailure(), OpenFailure::Busy);
    platform->close();
    EXPECT_FALSE(platform->isOpen());
}

TEST(Win32Port, WhatIsNoPortDoesNotConnect)
{
    TempFile file;
    const std::string missing = "\\\\.\\COM199";
    const std::pair<std::string, OpenFailure> rows[] = {{missing, OpenFailure::NotFound},
                                                        {file.path(), OpenFailure::Settings}};
    for (const auto& [name, failure] : rows) {
        SCOPED_TRACE(name);
        TSerialPortDriver port;
        port.SetPortName(name);
        EXPECT_FALSE(port.Connect());
        EXPECT_FALSE(port.Connected());
        EXPECT_EQ(port.LastOpenFailure(), failure);
    }
    // The file was closed again when its settings were refused.
    const HANDLE again = ::CreateFileA(file.path().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    if (again != INVALID_HANDLE_VALUE)
        ::CloseHandle(again);
}

TEST(Win32DeviceLoss, ErrorsThatMayBeTransientWaitForASecondCheck)
{
    // What the comm calls said (an error code, or 0 for a call that succeeded), what the
    // second check finds, and whether the device counts as lost.
    const struct {
        const char* what;
        std::vector<DWORD> calls;
        bool statusFails;
        bool nameGone;
        bool lost;
        int checks; // second checks made: status calls and opens together
    } rows[] = {
        {"nothing failed", {0, 0}, true, true, false, 0},
        {"a removal is a loss at once", {ERROR_DEVICE_REMOVED}, false, false, true, 0},
        {"Wine's hang-up is a loss at once", {0, ERROR_NOT_READY}, false, false, true, 0},
        {"an unrelated failure", {ERROR_INVALID_HANDLE}, true, true, false, 0},
        {"a removed device's other codes", {ERROR_BAD_COMMAND}, false, false, true, 0},
        {"access denied, the status call works", {ERROR_ACCESS_DENIED}, false, false, false, 2},
        {"access denied, the status call fails too", {ERROR_ACCESS_DENIED}, true, false, true, 1},
        {"general failure, the name is gone", {ERROR_GEN_FAILURE}, false, true, true, 2},
        {"aborted, both checks fail", {ERROR_OPERATION_ABORTED}, true, true, true, 1},
        {"aborted, then a call works", {ERROR_OPERATION_ABORTED, 0}, true, true, false, 0},
        {"a removal after a doubt",
         {ERROR_GEN_FAILURE, ERROR_DEV_NOT_EXIST},
         false,
         false,
         true,
         0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        win32::DeviceLossCheck loss;
        for (const DWORD error : row.calls) {
            if (error == 0)
                loss.Succeeded();
            else
                loss.Failed(error);
        }
        int checks = 0;
        const auto statusFails = [&] {
            ++checks;
            return row.statusFails;
        };
        const auto nameGone = [&] {
            ++checks;
            return row.nameGone;
        };
        EXPECT_EQ(loss.Lost(statusFails, nameGone), row.lost);
        EXPECT_EQ(checks, row.checks);
        // Asked again: a loss stays, a doubt that was checked is not checked twice.
        EXPECT_EQ(loss.Lost(statusFails, nameGone), row.lost);
        EXPECT_EQ(checks, row.checks);
        loss.Reset();
        EXPECT_FALSE(loss.Lost(statusFails, nameGone)) << "open and close start afresh";
    }
}

TEST(Win32DeviceLoss, TheNameIsGoneOnlyWhenNothingAnswersToIt)
{
    EXPECT_TRUE(win32::DeviceNameGone("\\\\.\\COM199"));
    EXPECT_TRUE(win32::DeviceNameGone("C:\\no such folder\\qtr290.port"));
    TempFile file;
    EXPECT_FALSE(win32::DeviceNameGone(file.path())) << "a name that opens is there";
    // It was closed again: the platform opens it, and then it is held, but still there.
    auto platform = MakeSystemPlatform(ComPortNames({{7, file.path()}}));
    ASSERT_TRUE(platform->open("\\\\.\\COM7"));
    EXPECT_FALSE(win32::DeviceNameGone(file.path())) << "a name held by the port is there";
    EXPECT_FALSE(platform->deviceLost());
}

TEST(Win32Clock, BothCountersFollowRealTime)
{
    auto platform = MakeSystemPlatform();
    const std::uint32_t tick0 = platform->TickCount();
    const std::uint32_t mm0 = platform->MultimediaTime();
    ::Sleep(120);
    const std::uint32_t tickSpan = platform->TickCount() - tick0;
    const std::uint32_t mmSpan = platform->MultimediaTime() - mm0;
    // GetTickCount may step by up to 16 ms.
    EXPECT_GE(tickSpan, 100u);
    EXPECT_LT(tickSpan, 1000u);
    EXPECT_GE(mmSpan, 110u);
    EXPECT_LT(mmSpan, 1000u);
}

TEST(Win32Timer, TicksOnlyWhileMessagesArePumped)
{
    auto platform = MakeSystemPlatform();
    int ticks = 0;
    platform->startTimer(20, [&] { ++ticks; });
    ::Sleep(100);
    EXPECT_EQ(ticks, 0) << "WM_TIMER is delivered by the caller's loop, not behind its back";
    PumpFor(300);
    EXPECT_GE(ticks, 3);
    EXPECT_LE(ticks, 20);

    platform->stopTimer();
    const int stopped = ticks;
    ::Sleep(60); // a timer that had fired before the stop finds no tick
    PumpFor(150);
    EXPECT_EQ(ticks, stopped);
}

TEST(Win32Timer, StartingAgainReplacesTheTickAlsoFromInsideIt)
{
    auto platform = MakeSystemPlatform();
    int first = 0;
    int second = 0;
    platform->startTimer(20, [&] { ++first; });
    platform->startTimer(20, [&] { ++second; });
    PumpFor(150);
    EXPECT_EQ(first, 0);
    EXPECT_GE(second, 2);

    int stopping = 0;
    platform->startTimer(15, [&] {
        ++stopping;
        platform->stopTimer(); // destroys the running callback's original
    });
    PumpFor(150);
    EXPECT_EQ(stopping, 1);

    int restarts = 0;
    int after = 0;
    platform->startTimer(15, [&] {
        ++restarts;
        platform->startTimer(15, [&] { ++after; });
    });
    PumpFor(200);
    EXPECT_EQ(restarts, 1);
    EXPECT_GE(after, 2);
}

TEST(Win32Timer, EachPlatformHasItsOwnTimerAndNoneOutlivesItsPlatform)
{
    auto a = MakeSystemPlatform();
    auto b = MakeSystemPlatform();
    int ticksA = 0;
    int ticksB = 0;
    a->startTimer(20, [&] { ++ticksA; });
    b->startTimer(20, [&] { ++ticksB; });
    PumpFor(150);
    a.reset(); // destroyed while running
    const int lastA = ticksA;
    PumpFor(150);
    EXPECT_GE(lastA, 2);
    EXPECT_EQ(ticksA, lastA);
    EXPECT_GE(ticksB, 5);
}

} // namespace
} // namespace qtr290
