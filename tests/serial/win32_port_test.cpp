// The Win32 backend, the driver and the link on a real COM port. Under Wine, wine_bus makes
// COM5 a pseudo-terminal and plays its far end on request ("@bus ..." lines, see
// wine_bus.cpp). The tests that need no far end also run on Windows against a port named by
// QTR290_TEST_PORT (for example \\.\COM3).
#include "link/Komunikace.h"
#include "tests/serial/win32_pump.h"
#include "tests/support/telegrams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace qtr290 {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::PumpFor;
using test::PumpUntil;

bool UnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

std::string Hex(const Bytes& bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (const auto b : bytes) {
        text += Digits[b >> 4];
        text += Digits[b & 15];
    }
    return text;
}

Bytes FromHex(const std::string& text)
{
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

// The far end of COM5, played by wine_bus over this program's standard input and output.
class FarEnd {
public:
    static bool Present() { return std::getenv("QTR290_WINE_BUS") != nullptr; }

    void Write(const Bytes& bytes) { Ask("write " + Hex(bytes)); }
    // Up to count bytes, waiting at most ms for them.
    Bytes Read(std::size_t count, int ms)
    {
        return FromHex(Ask("read " + std::to_string(count) + " " + std::to_string(ms)));
    }
    std::string Line() { return Ask("line"); }
    void HangUp() { Ask("hangup"); }
    void Plug() { Ask("plug"); }

private:
    // The answer's text after "ok"; a failed request fails the test.
    std::string Ask(const std::string& request)
    {
        std::printf("@bus %s\n", request.c_str());
        std::fflush(stdout);
        std::string answer;
        char chunk[4096];
        while (std::fgets(chunk, sizeof chunk, stdin)) {
            answer += chunk;
            if (!answer.empty() && answer.back() == '\n')
                break;
        }
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
            answer.pop_back();
        if (answer.rfind("ok", 0) != 0) {
            ADD_FAILURE() << "far end: " << request << " -> " << answer;
            return {};
        }
        return answer.size() > 3 ? answer.substr(3) : std::string();
    }
};

Bytes ShortPoll()
{
    return test::ShortPoll(0x3F);
}

Bytes Sequence(std::size_t count)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

constexpr const char* NoPort = "no port: run under wine_bus, or name one in QTR290_TEST_PORT";
constexpr const char* NoFarEnd = "needs the far end of the line, played by wine_bus under Wine";

class Win32PortTest : public ::testing::Test {
protected:
    // COM5 behind wine_bus, else the port named by QTR290_TEST_PORT, else none.
    static std::string PortName()
    {
        if (FarEnd::Present())
            return "\\\\.\\COM5";
        const char* named = std::getenv("QTR290_TEST_PORT");
        return named ? named : "";
    }

    void SetUp() override
    {
        link.NastavVychozi();
        link.SeriovyPort().SetPortName(PortName());
        link.NastavPrijem([this](TSerialPortDriver&, std::span<const std::uint8_t> data) {
            ++events;
            received.insert(received.end(), data.begin(), data.end());
        });
    }

    // Waits, without dispatching messages, until the input queue holds count bytes.
    std::uint32_t WaitQueued(std::uint32_t count)
    {
        std::uint32_t in = 0;
        std::uint32_t out = 0;
        for (int i = 0; i < 400; ++i) {
            if (port().Platform().queueCounts(in, out) && in >= count)
                break;
            ::Sleep(5);
        }
        return in;
    }

    TSerialPortDriver& port() { return link.SeriovyPort(); }

    TKomunikace link;
    FarEnd bus; // "far" is a macro of windows.h
    int events = 0;
    Bytes received;
};

TEST_F(Win32PortTest, ConfiguresTheBusLineAndFollowsChanges)
{
    if (!FarEnd::Present())
        GTEST_SKIP() << NoFarEnd;
    ASSERT_TRUE(link.Otevri(4800));
    EXPECT_EQ(bus.Line(), "4800/4800 stop=1 crtscts=0 ixon=0 ixoff=0 raw=1");

    // Each setter applies at once while open. The frame stays 8N: a pseudo-terminal always
    // carries 8 bits without parity (and Wine then refuses some later settings with error
    // 87); data bits and parity are checked on the DCB in serial_win32_test.
    const struct {
        std::uint32_t rate;
        TStopBits stop;
        THwFlowControl hw;
        TSwFlowControl sw;
        const char* line;
    } rows[] = {
        {9600, sb2BITS, hfNONERTSON, sfNONE, "9600/9600 stop=2 crtscts=0 ixon=0 ixoff=0 raw=1"},
        {19200, sb1BITS, hfRTSCTS, sfNONE, "19200/19200 stop=1 crtscts=1 ixon=0 ixoff=0 raw=1"},
        {2400, sb1BITS, hfNONE, sfXONXOFF, "2400/2400 stop=1 crtscts=0 ixon=1 ixoff=1 raw=1"},
        {115200, sb2BITS, hfNONE, sfNONE, "115200/115200 stop=2 crtscts=0 ixon=0 ixoff=0 raw=1"},
        {4800, sb1BITS, hfNONERTSON, sfNONE, "4800/4800 stop=1 crtscts=0 ixon=0 ixoff=0 raw=1"},
    };
    for (const auto& row : rows) {
        port().SetBaudRateValue(row.rate);
        port().SetStopBits(row.stop);
        port().SetHwFlow(row.hw);
        port().SetSwFlow(row.sw);
        EXPECT_EQ(bus.Line(), row.line);
    }
}

TEST_F(Win32PortTest, ReceivesAChunkThroughThePollingStep)
{
    if (!FarEnd::Present())
        GTEST_SKIP() << NoFarEnd;
    ASSERT_TRUE(link.Otevri(4800));
    const Bytes chunk = Sequence(600);
    bus.Write(chunk);
    EXPECT_EQ(WaitQueued(600), 600u);
    EXPECT_EQ(events, 0) << "nothing is delivered until the timer message is dispatched";
    EXPECT_TRUE(PumpUntil([&] { return received.size() >= chunk.size(); }, 3000));
    EXPECT_EQ(events, 1) << "one polling step reads all that is queued";
    EXPECT_EQ(received, chunk);
}

TEST_F(Win32PortTest, AnswersAPollWithTheLeadByteAndTheQueuedReadRequest)
{
    if (!FarEnd::Present())
        GTEST_SKIP() << NoFarEnd;
    ASSERT_TRUE(link.Otevri(4800));
    // The link's receive path as the window runs it: accumulate, frame, react.
    Bytes accumulator;
    Bytes sent;
    TKomunikace::ReceiveHandlers handlers;
    handlers.sent = [&](ByteSpan bytes) { sent.assign(bytes.begin(), bytes.end()); };
    link.NastavPrijem([&](TSerialPortDriver&, std::span<const std::uint8_t> data) {
        accumulator.insert(accumulator.end(), data.begin(), data.end());
        link.ZpracujPrijem(accumulator, handlers);
    });
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x000157, 1));
    Bytes expected{LeadByte};
    const Bytes request = BuildReadRequest({0xF0, 0x00, 0x00, 0x000157}, 1);
    expected.insert(expected.end(), request.begin(), request.end());

    bus.Write(ShortPoll());
    ASSERT_TRUE(PumpUntil([&] { return !sent.empty(); }, 3000));
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(bus.Read(expected.size(), 1000), expected) << "byte for byte";
    EXPECT_TRUE(bus.Read(64, 100).empty()) << "and nothing more";

    // An intact telegram that is no poll drops the request; the next poll gets nothing.
    bus.Write(request);
    EXPECT_TRUE(PumpUntil([&] { return link.PendingCount() == 0; }, 3000));
    sent.clear();
    bus.Write(ShortPoll());
    PumpFor(300);
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(bus.Read(64, 100).empty());
}

TEST_F(Win32PortTest, SendsEveryByteValueUnchanged)
{
    if (!FarEnd::Present())
        GTEST_SKIP() << NoFarEnd;
    ASSERT_TRUE(link.Otevri(4800));
    const Bytes data = Sequence(1024);
    EXPECT_EQ(port().SendData(data), data.size());
    EXPECT_EQ(bus.Read(data.size(), 2000), data);
    EXPECT_TRUE(bus.Read(64, 100).empty());
}

TEST_F(Win32PortTest, AReadReturnsWhatHasArrivedWithoutWaitingForMore)
{
    if (!FarEnd::Present())
        GTEST_SKIP() << NoFarEnd;
    ASSERT_TRUE(link.Otevri(4800));
    bus.Write(Sequence(10));
    ASSERT_EQ(WaitQueued(10), 10u);
    Bytes buffer(64, 0xEE);
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(port().Platform().read(buffer), std::optional<std::size_t>(10));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), Sequence(10));
    EXPECT_EQ(port().Platform().read(buffer), std::optional<std::size_t>(0));
    EXPECT_LT(::GetTickCount() - start, 200u) << "the port's read time-outs are 1 ms";
}

TEST_F(Win32PortTest, PurgeDiscardsWhatIsWaiting)
{
    if (!FarEnd::Present())
        GTEST_SKIP() << NoFarEnd;
    ASSERT_TRUE(link.Otevri(4800));
    bus.Write(Sequence(100));
    ASSERT_EQ(WaitQueued(100), 100u);
    EXPECT_TRUE(port().FlushBuffers(true, false));
    std::uint32_t in = 1;
    std::uint32_t out = 1;
    EXPECT_TRUE(port().Platform().queueCounts(in, out));
    EXPECT_EQ(in, 0u);
    PumpFor(200);
    EXPECT_EQ(events, 0);
}

TEST_F(Win32PortTest, SurvivesTheFarEndHangingUp)
{
    if (!FarEnd::Present())
        GTEST_SKIP() << NoFarEnd;
    ASSERT_TRUE(link.Otevri(4800));
    bus.Write(Sequence(10));
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 10; }, 3000));

    int lost = 0;
    port().SetOnDeviceLost([&](TSerialPortDriver&) { ++lost; });
    bus.HangUp();
    PumpFor(300); // polling steps on a line that has gone: quiet
    EXPECT_EQ(events, 1);
    EXPECT_TRUE(port().Connected());
    std::uint32_t in = 0;
    std::uint32_t out = 0;
    const bool counted = port().Platform().queueCounts(in, out);
    EXPECT_TRUE(port().DeviceLost()) << "ClearCommError " << (counted ? "succeeds" : "fails")
                                     << ", last error " << ::GetLastError();
    EXPECT_EQ(lost, 1) << "said once; the polling step has stopped";
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(port().SendData(Sequence(16)), 0u);
    EXPECT_LT(::GetTickCount() - start, 2000u) << "a send that cannot go ends with its time-out";

    link.Zavri();
    EXPECT_FALSE(port().Connected());
    EXPECT_FALSE(port().DeviceLost());
    bus.Plug();
    ASSERT_TRUE(link.Otevri(4800)) << "the port opens again once the device is back";
    bus.Write(Sequence(20));
    EXPECT_TRUE(PumpUntil([&] { return received.size() == 30; }, 3000));
    EXPECT_EQ(port().SendData(Sequence(8)), 8u);
    EXPECT_EQ(bus.Read(8, 1000), Sequence(8));
}

TEST_F(Win32PortTest, WithoutModemLinesDtrIsHarmlessAndACheckedSendWaits)
{
    if (!FarEnd::Present())
        GTEST_SKIP() << NoFarEnd;
    ASSERT_TRUE(link.Otevri(4800));
    std::uint32_t bits = 0;
    if (port().Platform().modemStatus(bits))
        GTEST_SKIP() << "this port reports modem lines; the path without them is not reachable";
    link.NastavDTR(true);
    link.NastavDTR(false);
    EXPECT_TRUE(port().GetLineStatus().empty());
    port().SetCheckLineStatus(true);
    EXPECT_EQ(port().SendData(Sequence(16)), 0u);
    EXPECT_TRUE(bus.Read(16, 200).empty());
}

TEST_F(Win32PortTest, DtrAndModemStatusReachThePort)
{
    if (UnderWine())
        GTEST_SKIP() << "under Wine, EscapeCommFunction and GetCommModemStatus fail with "
                        "error 50 on a pseudo-terminal: it has no modem lines";
    if (PortName().empty())
        GTEST_SKIP() << NoPort;
    ASSERT_TRUE(link.Otevri(4800));
    std::uint32_t bits = 0;
    EXPECT_TRUE(port().Platform().escapeDTR(true));
    EXPECT_TRUE(port().Platform().escapeDTR(false));
    EXPECT_TRUE(port().Platform().modemStatus(bits));
}

TEST_F(Win32PortTest, ASecondOpenerIsRefused)
{
    if (UnderWine())
        GTEST_SKIP() << "Wine does not refuse a second CreateFileA on a COM port that is "
                        "already open";
    if (PortName().empty())
        GTEST_SKIP() << NoPort;
    ASSERT_TRUE(link.Otevri(4800));
    TSerialPortDriver second;
    second.SetPortName(PortName());
    EXPECT_FALSE(second.Connect());
    EXPECT_FALSE(second.Connected());
}

} // namespace
} // namespace qtr290
