// Runs the built qtr290-sim as a child process and talks to it over its pseudo-terminal,
// as the utility would: checks what arrives on the line against the simulator's own stats.
#include "link/framer.h"
#include "link/telegram.h"

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace qtr290;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
namespace fs = std::filesystem;

namespace {

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// The device's memory at start, as its --help documents it.
std::uint8_t Documented(std::uint8_t area, std::uint32_t address)
{
    address &= 0xFFFF;
    return static_cast<std::uint8_t>((address & 0xFF) ^ (address >> 8) ^ area);
}

using qtr290::test::ChildProcess;
using qtr290::test::TempDir;

// The built simulator; the first line it writes is its device.
class SimProcess : public ChildProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args, bool withStdin = false)
        : ChildProcess(QTR290_SIM_PATH, args, Options(withStdin))
    {
    }
    const std::string& Device() const { return FirstLine(); }
    void Send(const std::string& line) { ASSERT_TRUE(ChildProcess::Send(line)); }

private:
    static ChildProcess::Options Options(bool withStdin)
    {
        ChildProcess::Options options;
        options.keepErrors = false; // its summary goes to the test's log
        options.withStdin = withStdin;
        options.readFirstLine = true;
        return options;
    }
};

struct Telegram {
    Clock::time_point at;
    Bytes bytes;
};

// The utility's side of the line: opened, set raw, framed with the utility's own framer.
class Port {
public:
    explicit Port(const std::string& path)
    {
        FDescriptor = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (FDescriptor >= 0 && ::tcgetattr(FDescriptor, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(FDescriptor, TCSANOW, &tio);
        }
    }
    ~Port() { Close(); }
    void Close()
    {
        if (FDescriptor >= 0)
            ::close(FDescriptor);
        FDescriptor = -1;
    }
    bool IsOpen() const { return FDescriptor >= 0; }

    // Reads until `done` holds, the timeout passes or the simulator hangs up.
    void ReadUntil(const std::function<bool()>& done, milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (!hungUp && !done()) {
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return;
            pollfd p{FDescriptor, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0)
                continue;
            std::uint8_t chunk[4096];
            const ssize_t n = ::read(FDescriptor, chunk, sizeof chunk);
            if (n <= 0) {
                if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    hungUp = true;
                continue;
            }
            const auto now = Clock::now();
            bytes += static_cast<std::size_t>(n);
            chunks.emplace_back(now, static_cast<std::size_t>(n));
            FAccumulator.insert(FAccumulator.end(), chunk, chunk + n);
            ZpracujPrijem(FAccumulator, {[&](ByteSpan t) {
                                             telegrams.push_back({now, Bytes(t.begin(), t.end())});
                                         },
                                         [&](FramerError e) { errors.push_back(e); }});
        }
    }

    // Index of the first telegram from `from` on that satisfies `match`, waiting for it.
    std::optional<std::size_t> WaitFor(const std::function<bool(const Bytes&)>& match,
                                       std::size_t from, milliseconds timeout)
    {
        std::optional<std::size_t> found;
        ReadUntil(
            [&] {
                for (std::size_t i = from; i < telegrams.size(); ++i)
                    if (match(telegrams[i].bytes))
                        return (found = i).has_value();
                return false;
            },
            timeout);
        return found;
    }

    void Write(Bytes b)
    {
        ASSERT_EQ(::write(FDescriptor, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }

    // As the utility transmits: the lead byte 0xFF, then the telegram.
    void Transmit(const Bytes& telegram)
    {
        Bytes line{LeadByte};
        line.insert(line.end(), telegram.begin(), telegram.end());
        Write(line);
    }

    std::vector<Telegram> telegrams;
    std::vector<FramerError> errors;
    std::vector<std::pair<Clock::time_point, std::size_t>> chunks;
    std::size_t bytes = 0;
    bool hungUp = false;

private:
    int FDescriptor = -1;
    Bytes FAccumulator;
};

std::map<std::string, long long> ReadStats(const std::string& path)
{
    std::map<std::string, long long> stats;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        if (const auto eq = line.find('='); eq != std::string::npos)
            stats[line.substr(0, eq)] = std::stoll(line.substr(eq + 1));
    return stats;
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::string Hex(const Bytes& bytes)
{
    std::string s;
    char buf[4];
    for (auto b : bytes) {
        std::snprintf(buf, sizeof buf, s.empty() ? "%02X" : " %02X", b);
        s += buf;
    }
    return s;
}

bool IsPollTelegram(const Bytes& t)
{
    return qtr290::IsPoll(t);
}

// What follows the echoed Count and address in a reply: data and CRC8, or the status.
Bytes ReplyData(const Bytes& reply)
{
    return Bytes(reply.begin() + 10, reply.end() - 1);
}

} // namespace

TEST(SimProcess, PollsArriveIntactAtTheIntervalAndStation)
{
    TempDir dir;
    SimProcess sim({"--baud", "19200", "--poll-interval", "50", "--poll-station", "0x3C",
                    "--master-address", "0x07", "--poll-kind", "mixed", "--count", "12", "--linger",
                    "50", "--stats", dir / "stats", "--log", dir / "log", "--quiet"});
    Port port(sim.Device());
    ASSERT_TRUE(port.IsOpen()) << "device '" << sim.Device() << "'";
    port.ReadUntil([] { return false; }, milliseconds(5000)); // until the simulator hangs up
    EXPECT_TRUE(port.hungUp);
    EXPECT_EQ(sim.Wait(milliseconds(2000)), 0);

    ASSERT_EQ(port.telegrams.size(), 12u);
    EXPECT_TRUE(port.errors.empty());
    for (std::size_t i = 0; i < port.telegrams.size(); ++i) {
        const Bytes& t = port.telegrams[i].bytes;
        SCOPED_TRACE("poll " + std::to_string(i + 1) + ": " + Hex(t));
        EXPECT_TRUE(IsPollTelegram(t));
        EXPECT_EQ(TelegramTo(t), 0x3C);
        EXPECT_EQ(TelegramFrom(t), 0x07);
        // Mixed: long and short alternate, starting long; the block carries the sequence.
        EXPECT_EQ(t[0], i % 2 == 0 ? SyncLong : SyncShort);
        EXPECT_EQ(t[t.size() - 2], i + 1);
    }
    std::vector<double> gaps;
    for (std::size_t i = 1; i < port.telegrams.size(); ++i)
        gaps.push_back(Ms(port.telegrams[i].at - port.telegrams[i - 1].at));
    std::sort(gaps.begin(), gaps.end());
    // Margins for a loaded machine; the schedule itself does not drift.
    EXPECT_NEAR(gaps[gaps.size() / 2], 50.0, 15.0) << "median interval";
    EXPECT_NEAR(Ms(port.telegrams.back().at - port.telegrams.front().at), 11 * 50.0, 50.0);

    const auto stats = ReadStats(dir / "stats");
    EXPECT_EQ(stats.at("polls_sent"), 12);
    EXPECT_EQ(stats.at("tx_telegrams"), 12);
    EXPECT_EQ(stats.at("line_polls"), 12);
    EXPECT_EQ(stats.at("tx_bytes"), static_cast<long long>(port.bytes));
    // The log lists exactly the bytes that arrived.
    std::vector<std::string> logged;
    for (const auto& line : ReadLines(dir / "log"))
        if (const auto at = line.find(" TX poll "); at != std::string::npos)
            logged.push_back(line.substr(at + 9));
    ASSERT_EQ(logged.size(), 12u);
    for (std::size_t i = 0; i < logged.size(); ++i)
        EXPECT_EQ(logged[i], Hex(port.telegrams[i].bytes));
}

TEST(SimProcess, ReadRequestsAreAnsweredFromTheMemoryAreas)
{
    TempDir dir;
    SimProcess sim({"--baud", "115200", "--poll-interval", "20", "--device-address", "0x22",
                    "--stats", dir / "stats", "--log", dir / "log", "--quiet"});
    Port port(sim.Device());
    ASSERT_TRUE(port.IsOpen());

    struct Row {
        std::uint8_t area;
        std::uint32_t address;
        std::uint8_t count;
        std::size_t returned;
    };
    const Row rows[] = {
        {0x00, 0x000157, 1, 1},     {0x10, 0x001000, 16, 16},   {0x30, 0x01FFFC, 8, 8}, // wraps
        {0x60, 0x00ABCD, 243, 243}, {0x40, 0x000000, 255, 251},
    };
    std::size_t seen = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE("area " + std::to_string(r.area) + " address " + std::to_string(r.address));
        const auto poll = port.WaitFor(IsPollTelegram, seen, milliseconds(1000));
        ASSERT_TRUE(poll);
        port.Transmit(BuildReadRequest({0xF0, 0x22, r.area, r.address}, r.count));
        const auto reply = port.WaitFor([](const Bytes& t) { return TelegramFrom(t) == 0x22; },
                                        *poll + 1, milliseconds(1000));
        ASSERT_TRUE(reply);
        seen = *reply + 1;
        const Bytes& t = port.telegrams[*reply].bytes;
        EXPECT_FALSE(IsPollTelegram(t)) << "the reply must release the utility's pending request";
        EXPECT_EQ(TelegramTo(t), 0xF0);
        EXPECT_EQ(t[3], r.area | 0x0B);
        EXPECT_EQ(t[6], r.returned);
        Bytes expected;
        for (std::size_t i = 0; i < r.returned; ++i)
            expected.push_back(Documented(r.area, static_cast<std::uint32_t>(r.address + i)));
        const Bytes data = ReplyData(t);
        ASSERT_EQ(data.size(), r.returned + 1); // data and CRC8
        EXPECT_EQ(Bytes(data.begin(), data.end() - 1), expected);
        EXPECT_EQ(CRC8(ByteSpan(t).subspan(6, r.returned + 4)), data.back());
    }
    // Keep reading while it stops: what is unread when it closes the line is lost.
    sim.Signal(SIGTERM);
    port.ReadUntil([] { return false; }, milliseconds(2000));
    EXPECT_TRUE(port.hungUp);
    EXPECT_EQ(sim.Wait(milliseconds(2000)), 0);
    EXPECT_TRUE(port.errors.empty());

    const auto stats = ReadStats(dir / "stats");
    EXPECT_EQ(stats.at("rx_telegrams"), 5);
    EXPECT_EQ(stats.at("rx_requests"), 5);
    EXPECT_EQ(stats.at("reads_answered"), 5);
    EXPECT_EQ(stats.at("tx_read_replies"), 5);
    EXPECT_EQ(stats.at("rx_header_errors") + stats.at("rx_block_errors"), 0);
    EXPECT_EQ(stats.at("rx_bytes"), 5 * 12) << "each request with its lead byte";
    EXPECT_EQ(stats.at("line_telegrams"), static_cast<long long>(port.telegrams.size()));
    EXPECT_EQ(stats.at("tx_bytes"), static_cast<long long>(port.bytes));
    const auto log = ReadLines(dir / "log");
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) {
                                return l.find(" RX read-request A6 22 F0 ") != std::string::npos;
                            }),
              5);
}

TEST(SimProcess, WritesAreAppliedOnlyWhenTheirCrc8Holds)
{
    TempDir dir;
    SimProcess sim(
        {"--baud", "115200", "--poll-interval", "20", "--stats", dir / "stats", "--quiet"});
    Port port(sim.Device());
    ASSERT_TRUE(port.IsOpen());

    const Bytes data = {0xDE, 0xAD, 0xA6, 0xA5, 0x00, 0xFF};
    Bytes badCrc = BuildWriteRequest({0xF0, 0x00, 0x20, 0x0200}, data);
    badCrc[16] = static_cast<std::uint8_t>(badCrc[16] + 1); // CRC8
    badCrc[17] = static_cast<std::uint8_t>(badCrc[17] - 1); // block checksum still right

    struct Step {
        const char* what;
        Bytes request;
        Bytes expected; // status byte, or data read back
    };
    Bytes pattern;
    for (std::uint32_t a = 0x0200; a < 0x0206; ++a)
        pattern.push_back(Documented(0x20, a));
    const std::vector<Step> steps = {
        {"write", BuildWriteRequest({0xF0, 0x00, 0x10, 0xFFFE}, data), {0x00}},
        {"read back across the wrap", BuildReadRequest({0xF0, 0x00, 0x10, 0xFFFE}, 6), data},
        {"write with a wrong CRC8", badCrc, {0x01}},
        {"memory unchanged", BuildReadRequest({0xF0, 0x00, 0x20, 0x0200}, 6), pattern},
    };
    std::size_t seen = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        const auto poll = port.WaitFor(IsPollTelegram, seen, milliseconds(1000));
        ASSERT_TRUE(poll);
        port.Transmit(s.request);
        const auto reply = port.WaitFor([](const Bytes& t) { return !IsPollTelegram(t); },
                                        *poll + 1, milliseconds(1000));
        ASSERT_TRUE(reply);
        seen = *reply + 1;
        const Bytes& t = port.telegrams[*reply].bytes;
        const bool status = (t[3] & 0x0F) == 0x0C;
        Bytes got = ReplyData(t);
        if (!status)
            got.pop_back(); // CRC8
        EXPECT_EQ(got, s.expected) << Hex(t);
        EXPECT_EQ(t[3] & 0x80, s.request[3] & 0x80);
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(milliseconds(2000)), 0);
    const auto stats = ReadStats(dir / "stats");
    EXPECT_EQ(stats.at("writes_applied"), 1);
    EXPECT_EQ(stats.at("reads_answered"), 2);
    EXPECT_EQ(stats.at("requests_rejected"), 1);
    EXPECT_EQ(stats.at("tx_status_replies"), 2);
}

// Whatever is injected, the receiver's framer and the simulator's line_* counts agree,
// and every injected fault shows up as at least one damaged telegram of its kind.
TEST(SimProcess, InjectedFaultsAppearAsDamagedTelegramsAndAreCounted)
{
    TempDir dir;
    SimProcess sim({"--baud",      "115200",
                    "--saturate",  "--poll-interval",
                    "10",          "--count",
                    "60",          "--inject-header-errors",
                    "7",           "--inject-block-errors",
                    "5",           "--inject-noise",
                    "0.3",         "--split-writes",
                    "0.2",         "--split-delay",
                    "15",          "--seed",
                    "42",          "--linger",
                    "50",          "--stats",
                    dir / "stats", "--log",
                    dir / "log",   "--quiet"});
    Port port(sim.Device());
    ASSERT_TRUE(port.IsOpen());
    port.ReadUntil([] { return false; }, milliseconds(8000));
    ASSERT_TRUE(port.hungUp);
    ASSERT_EQ(sim.Wait(milliseconds(2000)), 0);

    const auto count = [&](FramerError kind) {
        return static_cast<long long>(std::count(port.errors.begin(), port.errors.end(), kind));
    };
    const long long polls =
        std::count_if(port.telegrams.begin(), port.telegrams.end(),
                      [](const Telegram& t) { return IsPollTelegram(t.bytes); });
    const auto stats = ReadStats(dir / "stats");
    EXPECT_EQ(stats.at("backlog_flushes"), 0);
    EXPECT_EQ(stats.at("tx_bytes"), static_cast<long long>(port.bytes));
    EXPECT_EQ(stats.at("line_telegrams"), static_cast<long long>(port.telegrams.size()));
    EXPECT_EQ(stats.at("line_polls"), polls);
    EXPECT_EQ(stats.at("line_header_errors"), count(FramerError::HeaderChecksum));
    EXPECT_EQ(stats.at("line_block_errors"), count(FramerError::BlockChecksum));
    EXPECT_EQ(stats.at("polls_sent"), 60);

    EXPECT_GT(stats.at("injected_header_errors"), 0);
    EXPECT_GT(stats.at("injected_block_errors"), 0);
    EXPECT_GT(stats.at("injected_noise_bytes"), 0);
    EXPECT_GT(stats.at("split_telegrams"), 0);
    EXPECT_GE(count(FramerError::HeaderChecksum), stats.at("injected_header_errors"));
    EXPECT_GE(count(FramerError::BlockChecksum), stats.at("injected_block_errors"));
    // Every Nth telegram: the counts follow from the number of telegrams sent.
    EXPECT_EQ(stats.at("injected_header_errors"), stats.at("tx_telegrams") / 7);
    // Telegrams damaged by injection are the only ones missing.
    EXPECT_EQ(static_cast<long long>(port.telegrams.size()),
              stats.at("tx_telegrams") - stats.at("injected_header_errors") -
                  stats.at("injected_block_errors"));

    long long txLines = 0;
    long long headerLines = 0;
    long long noiseLines = 0;
    for (const auto& line : ReadLines(dir / "log")) {
        if (line.find(" TX ") == std::string::npos)
            continue;
        if (line.find(" TX noise ") != std::string::npos)
            ++noiseLines;
        else
            ++txLines;
        headerLines += line.find("fault=header") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(txLines, stats.at("tx_telegrams"));
    EXPECT_EQ(noiseLines, stats.at("tx_noise"));
    EXPECT_EQ(headerLines, stats.at("injected_header_errors"));
}

TEST(SimProcess, SplitTelegramsArriveInPiecesAndStillFrame)
{
    TempDir dir;
    SimProcess sim({"--baud", "115200", "--poll-interval", "100", "--count", "2", "--split-writes",
                    "1", "--split-delay", "100", "--linger", "0", "--log", dir / "log", "--quiet"});
    Port port(sim.Device());
    ASSERT_TRUE(port.IsOpen());
    port.ReadUntil([] { return false; }, milliseconds(5000));
    EXPECT_EQ(sim.Wait(milliseconds(2000)), 0);
    ASSERT_EQ(port.telegrams.size(), 2u);
    EXPECT_TRUE(port.errors.empty());

    // Each TX line says into how many pieces the telegram was cut.
    long pauses = 0;
    for (const auto& line : ReadLines(dir / "log"))
        if (const auto at = line.find(" split="); at != std::string::npos)
            pauses += std::stol(line.substr(at + 7)) - 1;
    EXPECT_GE(pauses, 2);
    // Both polls go out back to back, so every quiet time near 100 ms is one of the pauses.
    // A reader starved for that long (a loaded machine) may merge two pieces, so the check
    // only asks for at least one quiet time per poll.
    long quiet = 0;
    for (std::size_t i = 1; i < port.chunks.size(); ++i)
        quiet += Ms(port.chunks[i].first - port.chunks[i - 1].first) >= 60.0 ? 1 : 0;
    EXPECT_GE(quiet, 2);
    EXPECT_LE(quiet, pauses);
}

TEST(SimProcess, PacingMatchesTheBaudRate)
{
    struct Row {
        unsigned baud;
        double seconds;
    };
    for (const Row r : {Row{115200, 1.0}, Row{4800, 1.0}}) {
        SCOPED_TRACE(std::to_string(r.baud) + " baud");
        TempDir dir;
        SimProcess sim({"--baud", std::to_string(r.baud), "--saturate", "--poll-interval", "100",
                        "--duration", std::to_string(r.seconds), "--linger", "0", "--stats",
                        dir / "stats", "--quiet"});
        Port port(sim.Device());
        ASSERT_TRUE(port.IsOpen());
        port.ReadUntil([] { return false; }, milliseconds(5000));
        ASSERT_EQ(sim.Wait(milliseconds(2000)), 0);
        ASSERT_GE(port.chunks.size(), 2u);
        const double span = Ms(port.chunks.back().first - port.chunks.front().first) / 1000.0;
        const double rate = static_cast<double>(port.bytes - port.chunks.back().second) / span;
        EXPECT_NEAR(rate, r.baud / 10.0, r.baud / 10.0 * 0.06) << "bytes per second";
        EXPECT_TRUE(port.errors.empty());
        const auto polls = std::count_if(port.telegrams.begin(), port.telegrams.end(),
                                         [](const Telegram& t) { return IsPollTelegram(t.bytes); });
        EXPECT_GE(polls, 8);
        EXPECT_GT(port.telegrams.size(), static_cast<std::size_t>(polls) * 2)
            << "traffic fills the gaps between polls";
        EXPECT_EQ(ReadStats(dir / "stats").at("line_telegrams"),
                  static_cast<long long>(port.telegrams.size()));
    }
}

TEST(SimProcess, SignalsStopItCleanlyWithStatsAndWithoutTheLink)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        TempDir dir;
        const std::string link = dir / "ttyQTR";
        SimProcess sim(
            {"--link", link, "--poll-interval", "20", "--stats", dir / "stats", "--quiet"});
        EXPECT_EQ(sim.Device(), link);
        std::error_code ec;
        ASSERT_TRUE(fs::is_symlink(link, ec));
        EXPECT_EQ(fs::read_symlink(link, ec).string().rfind("/dev/pts/", 0), 0u);
        Port port(link);
        ASSERT_TRUE(port.IsOpen());
        ASSERT_TRUE(port.WaitFor(IsPollTelegram, 0, milliseconds(1000)));
        sim.Signal(signal);
        EXPECT_EQ(sim.Wait(milliseconds(2000)), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(link, ec))) << "link left behind";
        const auto stats = ReadStats(dir / "stats");
        ASSERT_TRUE(stats.count("polls_sent"));
        EXPECT_GE(stats.at("polls_sent"), 1);
    }
}

// --duration of any size: a short one ends the run by itself, one longer than the clock can
// count (seconds beyond the nanosecond range) does not end it at once but runs until stopped.
TEST(SimProcess, DurationsBeyondTheClocksRangeRunUntilStopped)
{
    struct Row {
        const char* seconds;
        bool endsByItself;
    };
    const Row rows[] = {{"0.3", true}, {"1e10", false}, {"9.3e9", false}, {"1e300", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.seconds);
        SimProcess sim(
            {"--duration", row.seconds, "--poll-interval", "20", "--linger", "0", "--quiet"});
        Port port(sim.Device());
        ASSERT_TRUE(port.IsOpen());
        ASSERT_TRUE(port.WaitFor(IsPollTelegram, 0, milliseconds(1000)));
        const std::optional<int> ended = sim.Wait(milliseconds(1500));
        EXPECT_EQ(ended.has_value(), row.endsByItself);
        if (!ended) {
            sim.Signal(SIGTERM);
            EXPECT_EQ(sim.Wait(milliseconds(2000)), 0);
        }
    }
}

TEST(SimProcess, ClosingAndReopeningTheDeviceKeepsTheBus)
{
    SimProcess sim({"--baud", "38400", "--poll-interval", "20", "--quiet"});
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Port port(sim.Device());
        ASSERT_TRUE(port.IsOpen());
        ASSERT_TRUE(port.WaitFor(IsPollTelegram, 0, milliseconds(1000)));
        port.Close();
        std::this_thread::sleep_for(milliseconds(50));
        EXPECT_FALSE(sim.Wait(milliseconds(0))) << "the simulator stopped";
    }
}

TEST(SimProcess, ScriptSendsPollsAndRawBytesOnRequest)
{
    TempDir dir;
    SimProcess sim({"--script", "--poll-interval", "0", "--baud", "115200", "--stats",
                    dir / "stats", "--quiet"},
                   true);
    Port port(sim.Device());
    ASSERT_TRUE(port.IsOpen());
    port.ReadUntil([] { return false; }, milliseconds(150));
    EXPECT_EQ(port.bytes, 0u) << "no automatic polls";

    sim.Send("poll");
    const auto poll = port.WaitFor(IsPollTelegram, 0, milliseconds(1000));
    ASSERT_TRUE(poll);
    const Bytes raw = BuildReadRequest({0x05, 0x06, 0x10, 0x123456}, 3);
    sim.Send("# a comment, then the bytes of a read request");
    sim.Send(Hex(raw));
    const auto echoed =
        port.WaitFor([&](const Bytes& t) { return t == raw; }, *poll + 1, milliseconds(1000));
    EXPECT_TRUE(echoed);
    sim.CloseStdin(); // end of input stops it
    EXPECT_EQ(sim.Wait(milliseconds(2000)), 0);
    const auto stats = ReadStats(dir / "stats");
    EXPECT_EQ(stats.at("polls_sent"), 1);
    EXPECT_EQ(stats.at("tx_script"), 1);
}
