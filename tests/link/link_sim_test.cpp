// The link against the bus simulator over a pseudo-terminal, with the real driver,
// platform and event-loop timer.
#include "link/Komunikace.h"
#include "tests/support/core_application.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <map>
#include <string>
#include <vector>

using namespace qtr290;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::map<std::string, long> ReadStats(const QString& path)
{
    std::map<std::string, long> stats;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return stats;
    for (const auto& line : f.readAll().split('\n')) {
        const auto eq = line.indexOf('=');
        if (eq > 0)
            stats[line.left(eq).trimmed().toStdString()] = line.mid(eq + 1).trimmed().toLong();
    }
    return stats;
}

struct SimRun {
    QTemporaryDir dir;
    QProcess process;
    QString device;

    QString statsPath() const { return dir.filePath("stats.txt"); }

    bool start(const QStringList& extra)
    {
        QStringList args = {"--stats", statsPath(), "--quiet"};
        args += extra;
        process.start(QTR290_SIM_PATH, args);
        if (!process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (!process.canReadLine() && t.elapsed() < 5000)
            process.waitForReadyRead(100);
        device = QString::fromUtf8(process.readLine()).trimmed();
        return !device.isEmpty();
    }

    // Runs the event loop (the driver's timer) until the simulator has exited.
    bool runUntilFinished(int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (process.state() != QProcess::NotRunning && t.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            process.waitForFinished(1);
        }
        return process.state() == QProcess::NotRunning;
    }

    ~SimRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(2000);
        }
    }
};

struct Receiver {
    Bytes acc;
    std::vector<Bytes> shown;
    std::vector<std::string> lines;
    std::vector<Bytes> sent;

    void attach(TKomunikace& link)
    {
        link.NastavPrijem([this, &link](TSerialPortDriver&, std::span<const std::uint8_t> chunk) {
            acc.insert(acc.end(), chunk.begin(), chunk.end());
            link.ZpracujPrijem(acc,
                               {[this](ByteSpan t) { shown.emplace_back(t.begin(), t.end()); },
                                [this](std::string_view l) { lines.emplace_back(l); },
                                [this](ByteSpan s) { sent.emplace_back(s.begin(), s.end()); }});
        });
    }
};

} // namespace

// The driver's poll timer and QProcess run on the fixture's application object.
using LinkAgainstSimulator = ::testing::Test;

TEST_F(LinkAgainstSimulator, QueuedReadGoesOutAtThePollAndTheAnswerRemovesIt)
{
    SimRun sim;
    ASSERT_TRUE(sim.start({"--poll-interval", "150", "--count", "6"}));

    TKomunikace link(MakeSystemPlatform(ComPortNames({{1, sim.device.toStdString()}})));
    link.NastavVychozi();
    link.NastavPort(1);
    ASSERT_TRUE(link.Otevri(4800)) << sim.device.toStdString();
    link.NastavDTR(false);
    Receiver rx;
    rx.attach(link);
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x000157, 4));

    ASSERT_TRUE(sim.runUntilFinished(15000));
    link.Zavri();

    // Sent exactly once: the device's answer dropped it before the next poll.
    ASSERT_EQ(rx.sent.size(), 1u);
    EXPECT_EQ(rx.sent[0],
              (Bytes{0xFF, 0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5D, 0x04, 0x57, 0x01, 0x00, 0xA4}));
    EXPECT_EQ(link.PendingCount(), 0u);
    EXPECT_TRUE(rx.lines.empty());

    // The answer carries the device's pattern: (address & 0xFF) ^ (address >> 8) ^ area.
    bool answered = false;
    for (const auto& t : rx.shown) {
        if (t.size() < 14 || IsPoll(t) || t[1] != 0xF0)
            continue;
        answered = true;
        EXPECT_EQ(Bytes(t.begin() + 10, t.begin() + 14),
                  (Bytes{0x57 ^ 0x01, 0x58 ^ 0x01, 0x59 ^ 0x01, 0x5A ^ 0x01}));
    }
    EXPECT_TRUE(answered);

    const auto stats = ReadStats(sim.statsPath());
    EXPECT_EQ(stats.at("polls_sent"), 6);
    EXPECT_EQ(stats.at("rx_requests"), 1);
    EXPECT_EQ(stats.at("reads_answered"), 1);
    EXPECT_EQ(stats.at("rx_header_errors") + stats.at("rx_block_errors"), 0);
    std::size_t polls = 0;
    for (const auto& t : rx.shown)
        polls += IsPoll(t) ? 1 : 0;
    EXPECT_EQ(polls, 6u);
}

TEST_F(LinkAgainstSimulator, InjectedDamageGivesTheTwoLinesAndNothingElse)
{
    SimRun sim;
    ASSERT_TRUE(sim.start({"--poll-interval", "60", "--count", "30", "--inject-header-errors", "3",
                           "--inject-block-errors", "4", "--inject-noise", "2", "--split-writes",
                           "5", "--split-delay", "45"}));
    TKomunikace link(MakeSystemPlatform(ComPortNames({{1, sim.device.toStdString()}})));
    link.NastavVychozi();
    link.NastavPort(1);
    ASSERT_TRUE(link.Otevri(4800));
    Receiver rx;
    rx.attach(link);

    ASSERT_TRUE(sim.runUntilFinished(20000));
    link.Zavri();

    const auto stats = ReadStats(sim.statsPath());
    long headerLines = 0;
    long blockLines = 0;
    for (const auto& l : rx.lines) {
        headerLines += l == "Vadne CRC hlavicky";
        blockLines += l == "Vadne CRC dat";
    }
    EXPECT_EQ(headerLines + blockLines, static_cast<long>(rx.lines.size()));
    EXPECT_GT(stats.at("injected_header_errors"), 0);
    EXPECT_GT(stats.at("injected_block_errors"), 0);
    // The link frames what a receiver of every byte finds, no more and no less.
    EXPECT_EQ(headerLines, stats.at("line_header_errors"));
    EXPECT_EQ(blockLines, stats.at("line_block_errors"));
    EXPECT_EQ(static_cast<long>(rx.shown.size()), stats.at("line_telegrams"));
    for (const auto& t : rx.shown) {
        EXPECT_EQ(KontrolniSoucet(ByteSpan(t).first(TelegramLength(t)->header)), 0);
        EXPECT_EQ(t.size(), TelegramLength(t)->total());
    }
    EXPECT_TRUE(rx.sent.empty());
}
