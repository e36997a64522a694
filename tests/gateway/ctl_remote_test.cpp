// qtr290-ctl --broker: the commands carried to a real qtr290-gateway through a real mosquitto,
// the bus from the simulator on a pseudo-terminal; results compared with a local run's.
#include "tools/qtr290-ctl/ctl_commands.h"
#include "tools/qtr290-ctl/ctl_output.h"
#include "tools/qtr290-gateway/gateway.h"

#include "tests/gateway/gateway_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/core_application.h"
#include "tests/support/ctl_in_process.h"
#include "tests/support/event_loop_wait.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace qtr290;
using namespace qtr290::gateway;
using qtr290::test::ChildProcess;
using qtr290::test::Json;
using qtr290::test::MosquittoBroker;
using qtr290::test::RunUntil;
using qtr290::test::Simulator;
using qtr290::test::TempDir;

namespace {

// qtr290-ctl's logic in this process (the gateway's event loop keeps running inside it).
struct Outcome {
    int status = -1;
    std::string out, err;
    std::vector<std::string> lines;
};

Outcome RunCtl(const std::vector<std::string>& args, const std::string& input = {})
{
    test::CtlOutcome run = test::RunCtlInProcess(args, input);
    return {run.status, std::move(run.out), std::move(run.err), std::move(run.outLines)};
}

// The keys in order, each with the type of its value: the shape of a result line.
std::string Shape(const std::string& line)
{
    const QJsonObject o = Json(line);
    std::string shape;
    // QJsonObject sorts its keys: the order is read from the text itself.
    std::size_t at = 0;
    while ((at = line.find("\":", at)) != std::string::npos) {
        const std::size_t open = line.rfind('"', at - 1);
        const QString key = QString::fromStdString(line.substr(open + 1, at - open - 1));
        shape += key.toStdString() + ":" + std::to_string(int(o.value(key).type())) + " ";
        at += 2;
    }
    return shape;
}

GatewayOptions For(const MosquittoBroker& broker, const std::string& device, bool allowRequests)
{
    GatewayOptions o = test::For(broker, device);
    o.allowRequests = allowRequests;
    return o;
}

// The gateway in this process, online (and subscribed) before a test goes on.
std::unique_ptr<Gateway> StartGateway(const GatewayOptions& options)
{
    auto gateway = std::make_unique<Gateway>(options);
    std::string why;
    if (!gateway->Start(why))
        return nullptr;
    RunUntil([&] { return gateway->State() == BusState::Online; });
    RunUntil([] { return false; }, 300); // connected, its status published
    return gateway;
}

std::vector<std::string> Remote(const MosquittoBroker& broker, std::vector<std::string> args)
{
    std::vector<std::string> all{"--broker", broker.Url(), "--bus", "rig1"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

using CtlRemoteTest = test::GatewayFixture;

} // namespace

TEST_F(CtlRemoteTest, ReadWriteAndBatchThroughAGatewayGiveTheLocalResults)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Simulator sim;
    ASSERT_FALSE(sim.device.empty());
    const std::vector<std::string> read{"read", "FRAM290", "157", "2"};
    const std::vector<std::string> write{"--to", "00", "write", "FRAM290", "157", "12", "34"};
    const std::string batch = R"({"op":"write","area":"FRAM290","address":"157","data":"1234"})"
                              "\n{\"op\":\"read\",\"area\":\n\n"
                              R"({"op":"read","area":"fram290","address":"0x157","count":2})"
                              "\n";
    // Locally first: the port is the gateway's afterwards.
    std::map<std::string, Outcome> local, remote;
    auto runBoth = [&](std::map<std::string, Outcome>& into, std::vector<std::string> port) {
        auto with = [&](std::vector<std::string> args) {
            args.insert(args.begin(), port.begin(), port.end());
            return args;
        };
        std::vector<std::string> jsonRead = read, jsonWrite = write;
        jsonRead.insert(jsonRead.begin(), "--json");
        jsonWrite.insert(jsonWrite.begin(), "--json");
        into["read"] = RunCtl(with(jsonRead));
        into["write"] = RunCtl(with(jsonWrite));
        into["text"] = RunCtl(with(read));
        into["batch"] = RunCtl(with({"batch"}), batch);
    };
    runBoth(local, {"--device", sim.device, "--baud", "38400"});
    const auto gateway = StartGateway(For(broker, sim.device, true));
    ASSERT_NE(gateway, nullptr);
    runBoth(remote, {"--broker", broker.Url(), "--bus", "rig1"});

    for (const char* run : {"read", "write", "text", "batch"}) {
        SCOPED_TRACE(run);
        const Outcome& l = local[run];
        const Outcome& r = remote[run];
        ASSERT_EQ(l.status, ctl::ExitDone) << l.err;
        ASSERT_EQ(r.status, ctl::ExitDone) << r.err;
        ASSERT_EQ(r.lines.size(), l.lines.size()) << r.out;
        for (std::size_t i = 0; i < l.lines.size(); ++i) {
            if (std::string(run) == "text") { // "reply A6 ...  [request A6 ..., sent 1x, ..."
                auto sent = [](const std::string& text) {
                    const std::size_t from = text.find("  [request ");
                    return from == std::string::npos
                               ? std::string()
                               : text.substr(from, text.find(", waited") - from);
                };
                EXPECT_EQ(r.lines[i].substr(0, 9), "reply A6 ") << r.lines[i];
                // The same telegram sent; how often depends on the polls' timing.
                EXPECT_EQ(sent(r.lines[i]).substr(0, sent(r.lines[i]).find(", sent")),
                          sent(l.lines[i]).substr(0, sent(l.lines[i]).find(", sent")));
                EXPECT_NE(sent(r.lines[i]).find(", sent "), std::string::npos) << r.lines[i];
                continue;
            }
            EXPECT_EQ(Shape(r.lines[i]), Shape(l.lines[i])) << r.lines[i] << "\n" << l.lines[i];
            const QJsonObject lr = Json(l.lines[i]), rr = Json(r.lines[i]);
            EXPECT_EQ(rr.value("request"), lr.value("request")); // the same telegram sent
            EXPECT_EQ(rr.value("removed"), lr.value("removed"));
            EXPECT_EQ(rr.value("op"), lr.value("op"));
            EXPECT_EQ(rr.contains("error"), lr.contains("error"));
            EXPECT_FALSE(rr.contains("id")); // the run's own, not the user's
        }
    }
    EXPECT_EQ(Json(remote["write"].lines.at(0)).value("request").toString().toStdString(),
              "A6 00 F0 9A 06 CA 02 57 01 00 12 34 87 D9");
    EXPECT_EQ(Json(remote["batch"].lines.at(1)).value("error").toString().toStdString(),
              "not a JSON object");
}

TEST_F(CtlRemoteTest, AGatewayNotOnlineOrNotThereEndsWithStatusThreeSayingWhy)
{
    MosquittoBroker away;
    ASSERT_TRUE(away.Start()) << away.Error();
    away.Stop(); // its port: nobody listens there
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    TempDir dir;
    // A gateway whose device is missing, and one that stopped (its retained offline status).
    GatewayOptions missing = For(broker, dir / "ttyNone", true);
    missing.bus = "missing";
    Gateway waiting(missing);
    std::string why;
    ASSERT_TRUE(waiting.Start(why)) << why;
    {
        Simulator sim;
        GatewayOptions stopped = For(broker, sim.device, true);
        stopped.bus = "stopped";
        StartGateway(stopped)->Stop();
    }
    RunUntil([] { return false; }, 500);

    struct Row {
        std::string url, bus;
        std::vector<std::string> command;
        std::string said;
    };
    const std::vector<std::string> read{"read", "FRAM290", "157", "2"};
    const std::vector<Row> rows = {
        {away.Url(), "rig1", read, "cannot reach the broker"},
        {broker.Url(), "never", read, "no status of a gateway on qtr290/never/status"},
        {broker.Url(), "missing", read, "qtr290/missing is device-missing (" + dir / "ttyNone"},
        {broker.Url(), "stopped", {"batch"}, "qtr290/stopped is offline"},
        {broker.Url(), "stopped", {"monitor"}, "qtr290/stopped is offline"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args{"--broker", row.url, "--bus", row.bus, "--timeout", "1"};
        args.insert(args.end(), row.command.begin(), row.command.end());
        SCOPED_TRACE(row.said);
        const Outcome o = RunCtl(args, "{}\n");
        EXPECT_EQ(o.status, ctl::ExitPort) << o.err;
        EXPECT_NE(o.err.find(row.said), std::string::npos) << o.err;
        EXPECT_TRUE(o.out.empty()) << o.out;
    }
}

TEST_F(CtlRemoteTest, AGatewayThatTakesNoRequestsOrGoesAwayEndsTheWait)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Simulator sim;
    auto readOnly = StartGateway(For(broker, sim.device, false));
    ASSERT_NE(readOnly, nullptr);
    const Outcome ignored =
        RunCtl(Remote(broker, {"--timeout", "0.2", "read", "FRAM290", "157", "2"}));
    EXPECT_EQ(ignored.status, ctl::ExitPort);
    EXPECT_NE(ignored.err.find("--allow-requests"), std::string::npos) << ignored.err;

    // The gateway stops while the monitor runs: its offline status ends the run as a lost port.
    QTimer::singleShot(800, [&] { readOnly->Stop(); });
    const Outcome monitor = RunCtl(Remote(broker, {"--json", "monitor"}));
    EXPECT_EQ(monitor.status, ctl::ExitPort);
    EXPECT_NE(monitor.err.find("qtr290/rig1 went offline"), std::string::npos) << monitor.err;
    ASSERT_GT(monitor.lines.size(), 5u);
    for (const std::string& line : monitor.lines) {
        const QJsonObject t = Json(line);
        const QByteArray hex = QByteArray::fromHex(t.value("hex").toString().toLatin1());
        const std::vector<std::uint8_t> bytes(hex.begin(), hex.end());
        ASSERT_EQ(line, ctl::FormatTelegram(t.value("time").toString().toStdString(), bytes, true));
    }
    EXPECT_NE(monitor.err.find("telegrams="), std::string::npos);
}

TEST_F(CtlRemoteTest, MonitorFiltersAndCountsAsTheLocalOne)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Simulator sim;
    auto gateway = StartGateway(For(broker, sim.device, false));
    ASSERT_NE(gateway, nullptr);
    const Outcome first = RunCtl(Remote(broker, {"--json", "--count", "5", "monitor"}));
    ASSERT_EQ(first.status, ctl::ExitDone) << first.err;
    ASSERT_EQ(first.lines.size(), 5u);
    const std::string to = Json(first.lines[0]).value("to").toString().toStdString();
    const Outcome filtered =
        RunCtl(Remote(broker, {"--json", "--filter-to", to, "--count", "3", "monitor"}));
    ASSERT_EQ(filtered.status, ctl::ExitDone) << filtered.err;
    ASSERT_EQ(filtered.lines.size(), 3u);
    for (const std::string& line : filtered.lines)
        EXPECT_EQ(Json(line).value("to").toString().toStdString(), to) << line;
    const Outcome text = RunCtl(Remote(broker, {"--count", "2", "monitor"}));
    ASSERT_EQ(text.status, ctl::ExitDone) << text.err;
    for (const std::string& line : text.lines) // "TIME  HEX": the text form
        EXPECT_NE(line.find("  A"), std::string::npos) << line;
    const Outcome noPolls =
        RunCtl(Remote(broker, {"--json", "--no-polls", "--duration", "1", "monitor"}));
    ASSERT_EQ(noPolls.status, ctl::ExitDone) << noPolls.err;
    for (const std::string& line : noPolls.lines)
        EXPECT_FALSE(Json(line).value("poll").toBool()) << line;
    EXPECT_NE(noPolls.err.find("telegrams="), std::string::npos) << noPolls.err;
}

// README's ACL with the engineer's credentials over TLS: the run's own response topic is one
// the gateway may write and the engineer read.
TEST_F(CtlRemoteTest, CredentialsAndTlsUnderTheReadmeAcl)
{
    std::ifstream readme(std::string(QTR290_SOURCE_DIR) + "/README.md");
    std::string line, acl;
    bool inside = false;
    while (std::getline(readme, line)) {
        inside |= line.starts_with("    # every user (patterns apply");
        if (inside && line.empty())
            break;
        if (inside)
            acl += line.substr(std::min<std::size_t>(4, line.size())) + '\n';
    }
    ASSERT_NE(acl.find("user engineer"), std::string::npos) << "README's ACL example not found";
    MosquittoBroker::Options options;
    options.secured = true;
    options.users = {"rig1", "engineer"};
    options.acl = acl;
    MosquittoBroker broker(options);
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Simulator sim;
    GatewayOptions gatewayOptions = For(broker, sim.device, true);
    gatewayOptions.username = "rig1";
    gatewayOptions.password = broker.Password();
    gatewayOptions.caFile = broker.CaFile();
    auto gateway = StartGateway(gatewayOptions);
    ASSERT_NE(gateway, nullptr);
    TempDir dir;
    std::ofstream(dir / "password") << broker.Password() << "\n";
    const Outcome o = RunCtl(
        Remote(broker, {"--username", "engineer", "--password-file", dir / "password", "--cafile",
                        broker.CaFile(), "--json", "read", "FRAM290", "157", "2"}));
    ASSERT_EQ(o.status, ctl::ExitDone) << o.err;
    EXPECT_EQ(Json(o.out).value("removed").toString().toStdString(), "reply") << o.out;
}

TEST_F(CtlRemoteTest, BrokerOptionsAreCheckedBeforeAnythingConnects)
{
    TempDir dir;
    const std::string read[] = {"read", "RAM290", "0", "1"};
    struct Row {
        std::vector<std::string> args;
        const char* named;
    };
    const std::vector<Row> rows = {
        {{"--broker", "mqtt://localhost"}, "--broker needs --bus"},
        {{"--broker", "mqtt://localhost", "--bus", "a/b"}, "--bus 'a/b'"},
        {{"--broker", "mqtt://localhost", "--bus", "b", "--prefix", "#"}, "--prefix '#'"},
        {{"--broker", "mqtt://localhost", "--bus", "b", "--device", "/dev/ttyS0"}, "--device"},
        {{"--broker", "mqtt://localhost", "--bus", "b", "--cafile", "ca"}, "mqtts://"},
        {{"--broker", "mqtts://localhost", "--bus", "b", "--cert", "c"}, "--cert and --key"},
        {{"--bus", "b"}, "--bus goes with --broker"},
        {{"--username", "u"}, "--username goes with --broker"},
        {{"--broker", "tcp://localhost", "--bus", "b"}, "--broker 'tcp://localhost'"},
        {{"--broker", "mqtt://localhost", "--bus", "b", "--password-file", dir / "none"},
         "--password-file"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.end(), std::begin(read), std::end(read));
        const Outcome o = RunCtl(args);
        EXPECT_EQ(o.status, ctl::ExitUsage) << row.named;
        EXPECT_NE(o.err.find(row.named), std::string::npos) << o.err;
    }
}

// The program itself: SIGINT and SIGTERM end a request waiting at a gateway with status 1 and
// the monitor with status 0, as they end the local commands.
TEST_F(CtlRemoteTest, ProgramStopsOnSignalsAsTheLocalOne)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Simulator sim;
    ChildProcess gateway(QTR290_GATEWAY_PATH, {"--device", sim.device, "--baud", "38400",
                                               "--broker", broker.Url(), "--bus", "rig1"});
    struct Row {
        int signal;
        std::vector<std::string> command;
        int status;
    };
    const Row rows[] = {
        {SIGINT, {"--timeout", "30", "read", "FRAM290", "157", "2"}, ctl::ExitInterrupted},
        {SIGTERM, {"--timeout", "30", "read", "FRAM290", "157", "2"}, ctl::ExitInterrupted},
        {SIGTERM, {"monitor"}, ctl::ExitDone},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command.back());
        ChildProcess::Options options;
        options.stdoutFile = "/dev/null";
        ChildProcess ctl(QTR290_CTL_PATH, Remote(broker, row.command), options);
        RunUntil([] { return false; }, 1500); // connected, the gateway's status seen
        ctl.Signal(row.signal);
        const auto status = ctl.Wait(std::chrono::seconds(3));
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(*status, row.status) << ctl.Errors();
    }
}
