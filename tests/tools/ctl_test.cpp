// qtr290-ctl: its arguments, and its commands against the bus simulator on a
// pseudo-terminal (the real driver, platform and event-loop timer).
#include "tests/support/core_application.h"
#include "tests/support/ctl_in_process.h"
#include "tools/qtr290-ctl/ctl_commands.h"
#include "tools/qtr290-ctl/ctl_input.h"
#include "tools/qtr290-ctl/ctl_output.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

using namespace qtr290;
using namespace qtr290::ctl;

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
    std::vector<QJsonObject> lines; // stdout, each line parsed as JSON
    long long elapsedMs = 0;
};

// Runs the program's logic in this process; batch input comes through a pipe.
Outcome RunCtl(const std::vector<std::string>& args, const std::string& input = {})
{
    const test::CtlOutcome run = test::RunCtlInProcess(args, input);
    Outcome o{run.status, run.out, run.err, {}, run.elapsedMs};
    for (const std::string& line : run.outLines)
        o.lines.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    return o;
}

// The simulator's log: "<ms> TX|RX <kind> <hex>[ fault=...]".
struct LogLine {
    std::string direction, kind, hex, fault;
};

std::vector<LogLine> ReadLog(const QString& path)
{
    std::vector<LogLine> log;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return log;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty())
            continue;
        QStringList parts = line.split(' ');
        LogLine l;
        l.direction = parts.value(1).toStdString();
        l.kind = parts.value(2).toStdString();
        int end = static_cast<int>(parts.size());
        if (parts.last().startsWith("fault=")) {
            l.fault = parts.last().mid(6).toStdString();
            --end;
        }
        if (l.kind == "damaged" || l.kind == "read-request" || l.kind == "write-request" ||
            l.kind == "read-reply" || l.kind == "status-reply" || l.kind == "poll" ||
            l.kind == "telegram" || l.kind == "script")
            l.hex = parts.mid(3, end - 3).join(' ').toStdString();
        log.push_back(l);
    }
    return log;
}

std::vector<std::string> Hexes(const std::vector<LogLine>& log, const std::string& direction,
                               const std::string& kind)
{
    std::vector<std::string> found;
    for (const auto& l : log)
        if (l.direction == direction && l.kind == kind)
            found.push_back(l.hex + (l.fault.empty() ? "" : " fault=" + l.fault));
    return found;
}

std::map<std::string, long> ReadStats(const QString& path)
{
    std::map<std::string, long> stats;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        for (const auto& line : f.readAll().split('\n'))
            if (const auto eq = line.indexOf('='); eq > 0)
                stats[line.left(eq).trimmed().toStdString()] = line.mid(eq + 1).toLong();
    return stats;
}

struct SimRun {
    QTemporaryDir dir;
    QProcess process;
    std::string device;

    QString logPath() const { return dir.filePath("log.txt"); }
    QString statsPath() const { return dir.filePath("stats.txt"); }

    bool start(const QStringList& extra)
    {
        QStringList args = {"--stats", statsPath(), "--log", logPath(), "--quiet"};
        process.start(QTR290_SIM_PATH, args + extra);
        if (!process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (!process.canReadLine() && t.elapsed() < 5000)
            process.waitForReadyRead(100);
        device = process.readLine().trimmed().toStdString();
        return !device.empty();
    }
    // Ends the simulator (its log and stats are complete then).
    void finish()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(5000);
        }
    }
    ~SimRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(2000);
        }
    }
};

std::string Text(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString().toStdString();
}

} // namespace

class CtlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // No settings file of this machine's user is read.
        qputenv("QTR290_SETTINGS", settingsDir.filePath("nastaveni.ini").toUtf8());
        ResetStop();
    }
    QTemporaryDir settingsDir;
};

// ---- Arguments ----

TEST_F(CtlTest, BadArgumentsGiveStatusFourNamingTheArgumentBeforeAnyPortOpens)
{
    const std::string tooLong(2 * 244, 'A');
    struct Case {
        std::vector<std::string> args;
        std::string named; // what the message must show
    };
    const std::vector<Case> cases = {
        {{"read", "XRAM290", "157", "2"}, "AREA 'XRAM290'"},
        {{"read", "0x70", "157", "2"}, "AREA '0x70'"},
        {{"read", "RAM290", "1000000", "2"}, "ADDRESS '1000000'"},
        {{"read", "RAM290", "12G", "2"}, "ADDRESS '12G'"},
        {{"read", "RAM290", "157", "256"}, "COUNT '256'"},
        {{"read", "RAM290", "157", "-1"}, "'-1'"},
        {{"write", "FRAM290", "157", tooLong}, "244 bytes"},
        {{"write", "FRAM290", "157", "12", "3"}, "BYTE '12 3'"},
        {{"write", "FRAM290", "157", "123"}, "BYTE '123'"},
        {{"write", "FRAM290", "157"}, "AREA ADDRESS BYTE..."},
        {{"read", "RAM290", "157"}, "AREA ADDRESS COUNT"},
        {{"--to", "100", "read", "RAM290", "157", "1"}, "--to '100'"},
        {{"--timeout", "0", "read", "RAM290", "157", "1"}, "--timeout '0'"},
        {{"--baud", "fast", "monitor"}, "--baud 'fast'"},
        {{"--count", "0", "monitor"}, "--count '0'"},
        {{"--frobnicate", "monitor"}, "'--frobnicate'"},
        {{"erase", "RAM290"}, "COMMAND 'erase'"},
        {{}, "COMMAND missing"},
        {{"monitor", "--timeout"}, "--timeout needs a value"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--device", "/nonexistent/qtr290-ctl-test"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome o = RunCtl(args);
        EXPECT_EQ(o.status, ExitUsage) << c.named; // an opened port would have given 3
        EXPECT_NE(o.err.find(c.named), std::string::npos) << o.err;
        EXPECT_TRUE(o.out.empty()) << c.named;
    }
}

TEST_F(CtlTest, GoodArgumentsBecomeTheRequestTheLinkQueues)
{
    struct Case {
        std::vector<std::string> args;
        bool write;
        std::uint8_t area, to, from, count;
        std::uint32_t address;
        std::vector<std::uint8_t> data;
    };
    const std::vector<Case> cases = {
        {{"read", "fram290", "0x157", "2"}, false, 0x10, 0x00, 0xF0, 2, 0x157, {}},
        {{"read", "0X60", "FFFFFF", "255"}, false, 0x60, 0x00, 0xF0, 255, 0xFFFFFF, {}},
        {{"--to=05", "--from", "3a", "write", "RTC290", "1", "12", "34ab"},
         true,
         0x20,
         0x05,
         0x3A,
         3,
         0x1,
         {0x12, 0x34, 0xAB}},
    };
    for (const Case& c : cases) {
        const auto parsed = ParseArguments(c.args);
        ASSERT_TRUE(std::holds_alternative<Options>(parsed)) << c.args.front();
        const Request& r = std::get<Options>(parsed).request;
        EXPECT_EQ(r.write, c.write);
        EXPECT_EQ(r.area, c.area);
        EXPECT_EQ(r.address, c.address);
        EXPECT_EQ(r.count, c.count);
        EXPECT_EQ(r.to, c.to);
        EXPECT_EQ(r.from, c.from);
        EXPECT_EQ(r.data, c.data);
    }
    std::string why;
    EXPECT_EQ(ParseData(std::string(2 * 243, 'F'), why)->size(), 243u); // the largest write
}

TEST_F(CtlTest, BatchLinesThatAreNoRequestNameWhatIsWrong)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"read FRAM290 157 2", "not a JSON object"},
        {R"({"op":"erase","area":"RAM290","address":"0"})", "\"op\""},
        {R"({"op":"read","address":"0","count":1})", "\"area\""},
        {R"({"op":"read","area":"RAM290","address":"1000000","count":1})", "\"address\""},
        {R"({"op":"read","area":"RAM290","address":"0","count":300})", "\"count\""},
        {R"({"op":"write","area":"RAM290","address":"0","data":"123"})", "\"data\""},
        {R"({"op":"write","area":"RAM290","address":"0","data":12})", "\"data\""},
        {R"({"op":"read","area":"RAM290","address":"0","count":1,"now":"yes"})", "\"now\""},
        {R"({"op":"read","area":"RAM290","address":"0","count":1,"timeout":-1})", "\"timeout\""},
        {R"({"op":"read","area":"RAM290","address":"0","count":1,"to":"1FF"})", "\"to\""},
    };
    for (const auto& [line, named] : cases) {
        const auto parsed = ParseBatchLine(line, Request{});
        ASSERT_TRUE(std::holds_alternative<UsageError>(parsed)) << line;
        EXPECT_NE(std::get<UsageError>(parsed).message.find(named), std::string::npos)
            << std::get<UsageError>(parsed).message;
    }
    const auto good = ParseBatchLine(
        R"({"op":"write","area":"0x10","address":"157","data":"12 34","to":"07","now":true,"timeout":0.5})",
        Request{});
    ASSERT_TRUE(std::holds_alternative<Request>(good));
    const Request& r = std::get<Request>(good);
    EXPECT_EQ(r.data, (std::vector<std::uint8_t>{0x12, 0x34}));
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.to, 0x07);
    EXPECT_EQ(r.from, 0xF0);
    EXPECT_TRUE(r.now);
    EXPECT_DOUBLE_EQ(r.timeoutSeconds, 0.5);
}

TEST_F(CtlTest, PortAndRateComeFromTheSettingsFileAndItsComNames)
{
    QFile ini(settingsDir.filePath("nastaveni.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Seriovy port]\r\nPort=3\r\nBaud rate=19200\r\n[Porty]\r\nCOM3=/dev/ttyQ7\r\n");
    ini.close();
    const PortChoice fromFile = ChoosePort(Options{}, ini.fileName());
    EXPECT_EQ(fromFile.number, 3);
    EXPECT_EQ(fromFile.baud, 19200u);
    EXPECT_EQ(fromFile.Describe(), "COM3 (/dev/ttyQ7)");

    Options o;
    o.device = "/dev/pts/9";
    o.baud = 9600;
    const PortChoice named = ChoosePort(o, ini.fileName());
    EXPECT_EQ(named.names.Device(named.number), "/dev/pts/9");
    EXPECT_EQ(named.baud, 9600u);

    const Outcome missing = RunCtl({"--device", "/nonexistent/tty", "read", "RAM290", "0", "1"});
    EXPECT_EQ(missing.status, ExitPort);
    EXPECT_NE(missing.err.find("the device does not exist"), std::string::npos) << missing.err;
}

// ---- Against the simulator ----

TEST_F(CtlTest, BatchReadsAndWritesOnOnePortAndGoesOnAfterAMalformedLine)
{
    SimRun sim;
    ASSERT_TRUE(sim.start({"--poll-interval", "100", "--duration", "30"}));
    const Outcome o = RunCtl({"--device", sim.device, "--json", "batch"},
                             R"({"op":"write","area":"FRAM290","address":"157","data":"1234"})"
                             "\n"
                             "{\"op\":\"read\",\"area\":\n"
                             R"({"op":"read","area":"fram290","address":"0x157","count":2})"
                             "\n");
    sim.finish();
    ASSERT_EQ(o.status, ExitDone) << o.err;
    ASSERT_EQ(o.lines.size(), 3u) << o.out;
    EXPECT_EQ(Text(o.lines[0], "op"), "write");
    EXPECT_EQ(Text(o.lines[0], "request"), "A6 00 F0 9A 06 CA 02 57 01 00 12 34 87 D9");
    EXPECT_TRUE(o.lines[1].contains("error"));
    EXPECT_EQ(Text(o.lines[2], "op"), "read");

    // What the device received and what it answered, as the simulator logged it.
    const auto log = ReadLog(sim.logPath());
    const auto writes = Hexes(log, "RX", "write-request");
    const auto reads = Hexes(log, "RX", "read-request");
    const auto status = Hexes(log, "TX", "status-reply");
    const auto replies = Hexes(log, "TX", "read-reply");
    ASSERT_EQ(writes.size(), 1u);
    ASSERT_EQ(reads.size(), 1u);
    ASSERT_EQ(status.size(), 1u);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(Text(o.lines[0], "request"), writes[0]);
    EXPECT_EQ(Text(o.lines[0], "released_by"), status[0]);
    EXPECT_EQ(Text(o.lines[2], "request"), reads[0]);
    EXPECT_EQ(Text(o.lines[2], "released_by"), replies[0]);
    EXPECT_NE(replies[0].find("57 01 00 12 34"), std::string::npos); // the written bytes
    for (const QJsonObject& r : {o.lines[0], o.lines[2]}) {
        EXPECT_EQ(Text(r, "removed"), "reply");
        EXPECT_EQ(r.value("sent").toInt(), 1);
        EXPECT_GE(r.value("wait_ms").toInt(-1), 0);
        EXPECT_LE(r.value("wait_ms").toInt(), 100 + 250); // one poll interval, loaded machine
        EXPECT_GE(r.value("reply_ms").toInt(-1), 0);
    }
}

// Polls faster than a request and its reply: the device answers a request twice, and the
// second answer removes the next request before it went out. That one queues again and
// goes out itself, so no result reports a reply to a request that was never sent.
TEST_F(CtlTest, ARequestRemovedBeforeItWentOutQueuesAgain)
{
    SimRun sim;
    ASSERT_TRUE(sim.start({"--poll-interval", "20", "--duration", "30"}));
    std::string input;
    for (int i = 0; i < 8; ++i)
        input += R"({"op":"read","area":"RAM290","address":")" + std::to_string(100 + i) +
                 R"(","count":4})" + "\n";
    const Outcome o = RunCtl({"--device", sim.device, "--json", "batch"}, input);
    sim.finish();
    ASSERT_EQ(o.status, ExitDone) << o.err;
    ASSERT_EQ(o.lines.size(), 8u) << o.out;
    for (const QJsonObject& r : o.lines) {
        EXPECT_EQ(Text(r, "removed"), "reply");
        EXPECT_GE(r.value("sent").toInt(), 1) << Text(r, "request");
    }
}

TEST_F(CtlTest, ADamagedReplyLeavesTheRequestQueuedAndTheNextPollSendsItAgain)
{
    // Polls only when the script says; every second telegram the simulator makes is damaged:
    // the first poll is intact, the device's first reply is not. The second poll is typed in
    // as bytes (not counted), so the second reply is intact.
    SimRun sim;
    ASSERT_TRUE(sim.start({"--script", "--poll-interval", "0", "--inject-block-errors", "2"}));
    QTimer::singleShot(300, [&] { sim.process.write("poll\n"); });
    QTimer::singleShot(1200, [&] { sim.process.write("A6 F0 01 00 00 69 02 FE\n"); });
    const Outcome o =
        RunCtl({"--device", sim.device, "--json", "--timeout", "4", "read", "RAM290", "157", "2"});
    sim.process.write("quit\n");
    sim.process.waitForFinished(5000);
    ASSERT_EQ(o.status, ExitDone) << o.out << o.err;
    ASSERT_EQ(o.lines.size(), 1u);
    EXPECT_EQ(o.lines[0].value("sent").toInt(), 2);
    EXPECT_EQ(Text(o.lines[0], "removed"), "reply");
    const auto replies = Hexes(ReadLog(sim.logPath()), "TX", "read-reply");
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_NE(replies[0].find("fault=block"), std::string::npos);
    EXPECT_EQ(Text(o.lines[0], "released_by"), replies[1]);
}

// A device that never polls: --now transmits at once; a plain read times out with status 2
// within the timeout plus one tick and leaves nothing queued; SIGTERM ends every command.
TEST_F(CtlTest, WithoutPollsNowSendsTimeoutsEmptyTheQueueAndStopsEndEveryCommand)
{
    SimRun sim;
    ASSERT_TRUE(sim.start({"--poll-interval", "0", "--duration", "30"}));

    const Outcome now =
        RunCtl({"--device", sim.device, "--now", "--json", "read", "ROM290", "10", "3"});
    ASSERT_EQ(now.status, ExitDone) << now.err;
    ASSERT_EQ(now.lines.size(), 1u);
    EXPECT_EQ(now.lines[0].value("sent").toInt(), 1);
    EXPECT_LT(now.lines[0].value("wait_ms").toInt(-1), 40); // no tick waited for

    const Outcome late =
        RunCtl({"--device", sim.device, "--timeout", "0.4", "read", "RAM290", "157", "1"});
    EXPECT_EQ(late.status, ExitTimeout) << late.err;
    EXPECT_NE(late.out.find("timeout"), std::string::npos);
    EXPECT_GE(late.elapsedMs, 400);
    EXPECT_LE(late.elapsedMs, 400 + 40 + 150); // one tick, and some room for a loaded machine

    // The same through the station: the queue is empty afterwards.
    Options options;
    options.device = sim.device;
    Station station(ChoosePort(options, settingsDir.filePath("nastaveni.ini")));
    std::string why;
    ASSERT_TRUE(station.Open(why)) << why;
    Request r;
    r.timeoutSeconds = 0.2;
    std::optional<RequestResult> result;
    station.Start(r, [&](const RequestResult& done) { result = done; });
    EXPECT_EQ(station.PendingCount(), 1u);
    QElapsedTimer t;
    t.start();
    while (!result && t.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->removed, RequestResult::Removed::Timeout);
    EXPECT_EQ(result->sent, 0);
    EXPECT_EQ(station.PendingCount(), 0u);
    station.Close();

    InstallStopHandlers();
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    for (const Case& c : {Case{{"monitor"}, ExitDone},
                          Case{{"--timeout", "20", "read", "RAM290", "0", "1"}, ExitInterrupted}}) {
        ResetStop();
        std::vector<std::string> args = {"--device", sim.device};
        args.insert(args.end(), c.args.begin(), c.args.end());
        QTimer::singleShot(200, [] { std::raise(SIGTERM); });
        const Outcome o = RunCtl(args);
        EXPECT_EQ(o.status, c.status) << c.args.front();
        EXPECT_LT(o.elapsedMs, 2000) << c.args.front();
    }
    std::signal(SIGTERM, SIG_DFL);

    sim.finish();
    // Only the --now read reached the device, and its answer released it.
    EXPECT_EQ(ReadStats(sim.statsPath()).at("polls_sent"), 0);
    EXPECT_EQ(ReadStats(sim.statsPath()).at("rx_requests"), 1);
    EXPECT_EQ(Text(now.lines[0], "released_by"),
              Hexes(ReadLog(sim.logPath()), "TX", "read-reply").at(0));
}

TEST(CtlOutput, TheSummaryNamesOverrunsOnlyWhereTheDeviceCountsThem)
{
    BusCounts counts;
    counts.headerErrors = 2;
    counts.bytes = 4096;
    const std::string plain = FormatSummary(counts);
    EXPECT_EQ(plain,
              "telegrams=0 polls=0 answers=0 header_errors=2 block_errors=0 sent=0 bytes=4096");
    EXPECT_EQ(FormatSummary(counts, std::nullopt), plain);
    EXPECT_EQ(FormatSummary(counts, 0), plain + " overruns=0");
    EXPECT_EQ(FormatSummary(counts, 517), plain + " overruns=517");
}

TEST_F(CtlTest, MonitorJsonLinesEqualTheSimulatorsLogWithInjectedDamage)
{
    SimRun sim;
    ASSERT_TRUE(sim.start({"--poll-interval", "40", "--count", "75", "--inject-header-errors", "3",
                           "--inject-block-errors", "4"}));
    const Outcome o = RunCtl({"--device", sim.device, "--json", "--duration", "2", "monitor"});
    sim.finish();
    ASSERT_EQ(o.status, ExitDone) << o.err;
    EXPECT_NE(o.err.find("telegrams="), std::string::npos); // the summary

    std::vector<std::string> expected;
    for (const auto& l : ReadLog(sim.logPath()))
        if (l.direction == "TX" && l.kind == "poll")
            expected.push_back(l.fault.empty() ? l.hex : "error " + l.fault);
    std::vector<std::string> seen;
    for (const QJsonObject& line : o.lines) {
        ASSERT_FALSE(line.isEmpty()) << o.out; // every line parses
        ASSERT_FALSE(Text(line, "time").empty());
        if (line.contains("error")) {
            seen.push_back("error " + Text(line, "error"));
            continue;
        }
        seen.push_back(Text(line, "hex"));
        EXPECT_EQ(Text(line, "kind"), "long");
        EXPECT_TRUE(line.value("poll").toBool());
        EXPECT_EQ(Text(line, "to"), "F0");
        EXPECT_EQ(Text(line, "from"), "01");
        EXPECT_EQ(Text(line, "device"), "00");
        EXPECT_EQ(line.value("length").toInt(-1), 0);
    }
    // From the first intact poll the monitor framed on, line for line.
    std::size_t first = 0;
    while (first < seen.size() && seen[first].rfind("error", 0) == 0)
        ++first;
    ASSERT_LT(first, seen.size());
    const auto at = std::find(expected.begin(), expected.end(), seen[first]);
    ASSERT_NE(at, expected.end()) << seen[first];
    const std::vector<std::string> tail(seen.begin() + static_cast<std::ptrdiff_t>(first),
                                        seen.end());
    ASSERT_GE(tail.size(), 20u);
    ASSERT_LE(tail.size(), static_cast<std::size_t>(expected.end() - at));
    EXPECT_EQ(tail, std::vector<std::string>(at, at + static_cast<std::ptrdiff_t>(tail.size())));
    EXPECT_NE(std::find(tail.begin(), tail.end(), "error header"), tail.end());
    EXPECT_NE(std::find(tail.begin(), tail.end(), "error block"), tail.end());
}

TEST_F(CtlTest, AVanishingDeviceEndsEveryCommandWithStatusThree)
{
    const std::vector<std::vector<std::string>> commands = {
        {"monitor"},
        {"--timeout", "20", "read", "RAM290", "0", "1"},
        {"batch"},
    };
    for (const auto& command : commands) {
        SimRun sim; // gone after a second: its pseudo-terminal closes
        ASSERT_TRUE(sim.start({"--poll-interval", "0", "--duration", "1", "--linger", "0"}));
        std::vector<std::string> args = {"--device", sim.device};
        args.insert(args.end(), command.begin(), command.end());
        // A batch that waits for input while the device goes: the pipe stays open.
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        std::ostringstream out, err;
        QElapsedTimer t;
        t.start();
        const int status = ctl::Run(args, fds[0], out, err);
        ::close(fds[0]);
        ::close(fds[1]);
        EXPECT_EQ(status, ExitPort) << command.front() << err.str();
        EXPECT_NE(err.str().find("the device went away"), std::string::npos) << err.str();
        EXPECT_LT(t.elapsed(), 8000) << command.front();
    }
}

// ---- Batch JSON, settings, streams and signals ----

// A JSON number is a value; a string is read as on the command line (hex, count decimal).
TEST_F(CtlTest, BatchNumbersAreValuesAndStringsStayHex)
{
    struct Row {
        std::string keyAndValue;
        std::optional<std::uint32_t> expected; // nullopt: refused, naming the key
        std::string key;
    };
    const std::vector<Row> rows = {
        {R"("address":343)", 0x157, "address"},
        {R"("address":"157")", 0x157, "address"},
        {R"("address":"0x157")", 0x157, "address"},
        {R"("address":16777216)", std::nullopt, "address"},
        {R"("address":-1)", std::nullopt, "address"},
        {R"("address":1.5)", std::nullopt, "address"},
        {R"("to":16)", 0x10, "to"},
        {R"("to":"16")", 0x16, "to"},
        {R"("to":256)", std::nullopt, "to"},
        {R"("from":240)", 0xF0, "from"},
        {R"("area":16)", 0x10, "area"},
        {R"("area":"10")", 0x10, "area"},
        {R"("area":10)", std::nullopt, "area"},
        {R"("count":10)", 10, "count"},
        {R"("count":"10")", 10, "count"},
        {R"("count":1e300)", std::nullopt, "count"},
        {R"("count":-0.5)", std::nullopt, "count"},
    };
    for (const Row& row : rows) {
        // The row's key last: it overrides the base request's.
        const std::string line =
            R"({"op":"read","area":"RAM290","address":"0","count":1,)" + row.keyAndValue + "}";
        const auto parsed = ParseBatchLine(line, Request{});
        if (!row.expected) {
            ASSERT_TRUE(std::holds_alternative<UsageError>(parsed)) << line;
            EXPECT_NE(std::get<UsageError>(parsed).message.find("\"" + row.key + "\""),
                      std::string::npos)
                << std::get<UsageError>(parsed).message;
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<Request>(parsed)) << line;
        const Request& r = std::get<Request>(parsed);
        const std::map<std::string, std::uint32_t> got = {{"address", r.address},
                                                          {"to", r.to},
                                                          {"from", r.from},
                                                          {"area", r.area},
                                                          {"count", r.count}};
        EXPECT_EQ(got.at(row.key), *row.expected) << line;
    }
}

TEST_F(CtlTest, WriteBytesAreWholeBytesPerArgument)
{
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::uint8_t>>> good = {
        {{"12", "34"}, {0x12, 0x34}}, {{"1234"}, {0x12, 0x34}}, {{"12 34ab"}, {0x12, 0x34, 0xAB}}};
    for (const auto& [bytes, expected] : good) {
        std::vector<std::string> args = {"write", "RAM290", "0"};
        args.insert(args.end(), bytes.begin(), bytes.end());
        const auto parsed = ParseArguments(args);
        ASSERT_TRUE(std::holds_alternative<Options>(parsed)) << bytes.front();
        EXPECT_EQ(std::get<Options>(parsed).request.data, expected);
    }
    for (const std::vector<std::string>& bytes :
         {std::vector<std::string>{"1", "2"}, {"12", "3", "4"}, {"1 2"}}) {
        std::vector<std::string> args = {"--device", "/nonexistent/tty", "write", "RAM290", "0"};
        args.insert(args.end(), bytes.begin(), bytes.end());
        const Outcome o = RunCtl(args);
        EXPECT_EQ(o.status, ExitUsage) << bytes.front(); // not one byte 0x12
        EXPECT_NE(o.err.find("odd number of hex digits"), std::string::npos) << o.err;
    }
}

// A "Baud rate" that is no rate stops before any port is touched, naming the file and the
// key; --baud takes its place; the file read is the one --verbose and --help name.
TEST_F(CtlTest, ASettingsFileRateThatIsNoNumberStopsNamingFileAndKey)
{
    const QString path = settingsDir.filePath("nastaveni.ini");
    struct Row {
        const char* rate;
        std::vector<std::string> extra;
        int status;
    };
    const std::vector<Row> rows = {
        {"fast", {}, ExitUsage},        {"0", {}, ExitUsage},
        {"99999999999", {}, ExitUsage}, {"fast", {"--baud", "9600"}, ExitPort},
        {"19200", {}, ExitPort},
    };
    for (const Row& row : rows) {
        QFile ini(path);
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QByteArray("[Seriovy port]\r\nPort=1\r\nBaud rate=") + row.rate +
                  "\r\n[Porty]\r\nCOM1=/nonexistent/qtr290-ctl-test\r\n");
        ini.close();
        std::vector<std::string> args = row.extra;
        args.insert(args.end(), {"--verbose", "read", "RAM290", "0", "1"});
        const Outcome o = RunCtl(args);
        EXPECT_EQ(o.status, row.status) << row.rate;
        EXPECT_TRUE(o.out.empty());
        if (row.status == ExitUsage) {
            EXPECT_NE(o.err.find(path.toStdString()), std::string::npos) << o.err;
            EXPECT_NE(o.err.find("\"Baud rate\" '" + std::string(row.rate) + "'"),
                      std::string::npos)
                << o.err;
        } else {
            EXPECT_NE(o.err.find("settings file " + path.toStdString()), std::string::npos)
                << o.err;
            EXPECT_NE(o.err.find("cannot open COM1"), std::string::npos) << o.err;
        }
    }
    const Outcome help = RunCtl({"--verbose", "--help"});
    EXPECT_NE(help.out.find(path.toStdString()), std::string::npos);

    // Without QTR290_SETTINGS: the window's rule, beside a portable program.
    qunsetenv("QTR290_SETTINGS");
    QTemporaryDir portable;
    EXPECT_EQ(SettingsFileToRead(portable.path()), portable.filePath("nastaveni.ini"));
}

TEST_F(CtlTest, AResultNamesTheStationTheReplyCameFrom)
{
    RequestResult r;
    r.request = {0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5D, 0x01, 0x57, 0x01, 0x00, 0xA7};
    r.sent = 1;
    r.removed = RequestResult::Removed::Reply;
    r.releasedBy = {0xA6, 0xF0, 0x07, 0x1B, 0x02, 0x4E, 0x12, 0x34};
    const auto json = QJsonDocument::fromJson(QByteArray::fromStdString(FormatResult(r, true)));
    EXPECT_EQ(Text(json.object(), "reply_from"), "07");
    EXPECT_EQ(Text(json.object(), "released_by"), "A6 F0 07 1B 02 4E 12 34");
    r.releasedBy.clear();
    r.removed = RequestResult::Removed::Timeout;
    const auto none = QJsonDocument::fromJson(QByteArray::fromStdString(FormatResult(r, true)));
    EXPECT_TRUE(none.object().value("reply_from").isNull());
}

// Batch input is read as requests are done: a big file is not read whole, a full pipe stays
// full, and a line over 64 KiB is refused whole instead of its head being run.
TEST_F(CtlTest, BatchInputIsReadOnlyAsRequestsAreConsumed)
{
    QTemporaryDir dir;
    const std::string line = R"({"op":"read","area":"RAM290","address":"0","count":1})";
    QFile file(dir.filePath("big.jsonl"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 100000; ++i)
        file.write(QByteArray::fromStdString(line + "\n"));
    file.close();
    const int fd = ::open(file.fileName().toLocal8Bit().constData(), O_RDONLY);
    ASSERT_GE(fd, 0);
    LineInput fromFile(fd, [] {});
    ASSERT_TRUE(fromFile.Next());
    EXPECT_LE(::lseek(fd, 0, SEEK_CUR), 64 * 1024) << "of a " << file.size() << " byte file";
    ::close(fd);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    std::size_t written = 0;
    for (std::string chunk = line + "\n"; ::write(fds[1], chunk.data(), chunk.size()) > 0;)
        written += chunk.size();
    bool more = false;
    LineInput fromPipe(fds[0], [&] { more = true; });
    EXPECT_FALSE(fromPipe.Next()); // nothing read yet: it waits for the descriptor
    QElapsedTimer t;
    t.start();
    while (!more && t.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(fromPipe.Next());
    int left = 0;
    ::ioctl(fds[0], FIONREAD, &left);
    EXPECT_GE(static_cast<std::size_t>(left), written - 8 * 1024) << "the pipe stays full";
    ::close(fds[0]);
    ::close(fds[1]);

    SimRun sim;
    ASSERT_TRUE(sim.start({"--poll-interval", "50", "--duration", "30"}));
    const std::string padded = line + std::string(70 * 1024, ' ') + "\n";
    // The long line and a good one after it, through a file (a pipe would not hold them).
    QFile input(dir.filePath("long.jsonl"));
    ASSERT_TRUE(input.open(QIODevice::WriteOnly));
    input.write(QByteArray::fromStdString(padded + line + "\n"));
    input.close();
    const int inputFd = ::open(input.fileName().toLocal8Bit().constData(), O_RDONLY);
    std::ostringstream out, err;
    EXPECT_EQ(ctl::Run({"--device", sim.device, "batch"}, inputFd, out, err), ExitDone)
        << err.str();
    ::close(inputFd);
    sim.finish();
    std::istringstream lines(out.str());
    std::string first, second;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_EQ(first, R"({"error":"line too long"})");
    EXPECT_NE(second.find(R"("removed":"reply")"), std::string::npos) << second;
    EXPECT_EQ(Hexes(ReadLog(sim.logPath()), "RX", "read-request").size(), 1u);
}

// A folder or a closed descriptor as batch input, and standard output that cannot be
// written: a message and status 5, never a silent 0 or a hang.
TEST_F(CtlTest, UnreadableInputAndUnwritableOutputEndWithStatusFive)
{
    SimRun sim;
    ASSERT_TRUE(sim.start({"--poll-interval", "40", "--duration", "30"}));
    QTemporaryDir dir;
    const int folder = ::open(dir.path().toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY);
    for (const int fd : {folder, -1}) {
        std::ostringstream out, err;
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(ctl::Run({"--device", sim.device, "batch"}, fd, out, err), ExitStream) << fd;
        EXPECT_NE(err.str().find("standard input"), std::string::npos) << err.str();
        EXPECT_LT(t.elapsed(), 3000);
    }
    ::close(folder);

    std::ostream broken(nullptr); // every write fails
    std::ostringstream err;
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(ctl::Run({"--device", sim.device, "monitor"}, -1, broken, err), ExitStream);
    EXPECT_NE(err.str().find("cannot write to standard output"), std::string::npos) << err.str();
    EXPECT_LT(t.elapsed(), 3000);
    EXPECT_EQ(ctl::Run({"--help"}, -1, broken, err), ExitStream);
    sim.finish();
}

// The program itself: a reader that goes away, a hang-up and a closed standard input end it
// through its own close, so the port is free for the next program at once.
TEST_F(CtlTest, APipeReaderThatLeavesAndAHangUpReleaseThePort)
{
    SimRun sim;
    ASSERT_TRUE(sim.start({"--poll-interval", "40", "--duration", "30"}));
    const QString ctl = QStringLiteral(QTR290_CTL_PATH);
    const QString device = QString::fromStdString(sim.device);
    auto shell = [&](const QString& script) {
        QProcess p;
        p.start("bash", {"-c", script, "bash", ctl, device});
        p.waitForFinished(10000);
        return std::make_pair(p.exitCode(), p.readAllStandardOutput().toStdString() +
                                                p.readAllStandardError().toStdString());
    };
    const auto [status, text] =
        shell(R"("$1" --device "$2" --json monitor | head -1 >/dev/null; echo "${PIPESTATUS[0]}")");
    EXPECT_NE(text.find("5\n"), std::string::npos) << text; // not 141, killed by SIGPIPE
    const auto [again, againText] = shell(R"("$1" --device "$2" --timeout 2 read RAM290 0 1)");
    EXPECT_EQ(again, ExitDone) << againText;
    const auto [closed, closedText] = shell(R"("$1" --device "$2" batch <&-)");
    EXPECT_EQ(closed, ExitStream) << closedText;

    QProcess monitor;
    monitor.start(ctl, {"--device", device, "monitor"});
    ASSERT_TRUE(monitor.waitForStarted(5000));
    EXPECT_FALSE(monitor.waitForFinished(500)); // watching
    ::kill(static_cast<pid_t>(monitor.processId()), SIGHUP);
    ASSERT_TRUE(monitor.waitForFinished(5000));
    EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(monitor.exitCode(), ExitDone);
    EXPECT_NE(monitor.readAllStandardError().indexOf("telegrams="), -1);
    sim.finish();
}
