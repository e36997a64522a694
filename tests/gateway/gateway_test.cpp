// qtr290-gateway against a real mosquitto and the bus simulator on a pseudo-terminal: what it
// publishes, how it rides out a broker or a device that goes away, its requests, and its
// command line.
#include "tools/qtr290-ctl/ctl_output.h"
#include "tools/qtr290-ctl/ctl_signals.h"
#include "tools/qtr290-ctl/ctl_station.h"
#include "tools/qtr290-gateway/gateway.h"

#include "tests/gateway/gateway_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/event_loop_wait.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace qtr290;
using namespace qtr290::gateway;
using namespace qtr290::test;

namespace {

// A subscriber that keeps every message by topic.
struct Subscriber {
    Subscriber(const MosquittoBroker& broker, const std::string& filter)
        : client([&] {
              mqtt::ClientOptions o;
              std::string why;
              o.broker = *mqtt::ParseBrokerUrl(broker.Url(), why);
              return o;
          }())
    {
        client.onMessage = [this](const mqtt::Message& m) { messages.push_back(m); };
        client.Subscribe(filter, 1);
        std::string why;
        client.Start(why);
    }
    std::vector<mqtt::Message> On(const std::string& topic) const
    {
        std::vector<mqtt::Message> found;
        for (const auto& m : messages)
            if (m.topic == topic)
                found.push_back(m);
        return found;
    }
    std::string LastState(const std::string& topic) const
    {
        const auto found = On(topic);
        return found.empty() ? "" : Str(Json(found.back().payload), "state");
    }
    mqtt::Client client;
    std::vector<mqtt::Message> messages;
};

using GatewayTest = test::GatewayFixture;

} // namespace

TEST(GatewayCommandLine, BadUsageNamesTheOptionAndGoodOnesAreRead)
{
    TempDir dir;
    std::ofstream(dir / "password") << "first line secret\r\nsecond\n";
    struct Row {
        std::vector<const char*> args;
        const char* named; // nullptr: accepted
    };
    const std::string passwordFile = dir / "password";
    const Row rows[] = {
        {{"--broker", "tcp://x"}, "--broker"},
        {{"--broker", "mqtt://x:0"}, "--broker"},
        {{"--qos", "2"}, "--qos '2'"},
        {{"--counters", "0"}, "--counters '0'"},
        {{"--buffer", "-1"}, "--buffer '-1'"},
        {{"--baud", "12"}, "--baud '12'"},
        {{"--bus", "a/b"}, "--bus 'a/b'"},
        {{"--prefix", "p#"}, "--prefix 'p#'"},
        {{"--password-file", "/nonexistent/pw"}, "--password-file"},
        {{"--cert", "c.pem"}, "--cert and --key"},
        {{"--cafile", "ca.pem"}, "mqtts://"},
        {{"--password", "x"}, "password"}, // never on the command line
        {{"stray"}, "stray"},
        {{"--device", "/dev/ttyUSB3", "--broker", "mqtts://b:8884", "--cafile", "ca", "--qos", "0",
          "--no-polls", "--allow-requests", "--buffer", "5", "--password-file",
          passwordFile.c_str()},
         nullptr},
    };
    for (const Row& row : rows) {
        QStringList arguments{QStringLiteral("qtr290-gateway")};
        for (const char* a : row.args)
            arguments << QString::fromUtf8(a);
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const CommandLine line = ParseCommandLine(arguments);
        if (row.named) {
            EXPECT_EQ(line.action, CommandLine::Action::Misuse);
            EXPECT_NE(line.output.find(row.named), std::string::npos) << line.output;
            EXPECT_NE(line.output.find("--allow-requests"), std::string::npos); // the usage
            continue;
        }
        ASSERT_EQ(line.action, CommandLine::Action::Run) << line.output;
        const GatewayOptions& o = line.options;
        EXPECT_EQ(*o.device, "/dev/ttyUSB3");
        EXPECT_TRUE(o.broker.tls);
        EXPECT_EQ(o.broker.port, 8884);
        EXPECT_EQ(o.telegramQos, 0);
        EXPECT_TRUE(o.noPolls && o.allowRequests);
        EXPECT_EQ(o.bufferLimit, 5u);
        EXPECT_EQ(o.password, "first line secret");
        EXPECT_EQ(o.prefix, "qtr290");
    }
    qputenv("QTR290_MQTT_PASSWORD", "from the environment");
    const CommandLine defaults = ParseCommandLine({QStringLiteral("qtr290-gateway")});
    qunsetenv("QTR290_MQTT_PASSWORD");
    ASSERT_EQ(defaults.action, CommandLine::Action::Run);
    EXPECT_EQ(defaults.options.password, "from the environment");
    EXPECT_EQ(defaults.options.broker.Describe(), "mqtt://localhost:1883");
    EXPECT_EQ(defaults.options.telegramQos, 1);
    EXPECT_EQ(defaults.options.countersSeconds, 10);
    EXPECT_EQ(defaults.options.bufferLimit, 100000u);
    EXPECT_FALSE(defaults.options.allowRequests);
}

TEST_F(GatewayTest, PublishesStatusTelegramsErrorsCountersAsMonitor)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Simulator sim({"--baud", "38400", "--poll-interval", "20", "--saturate",
                   "--inject-header-errors", "17", "--inject-block-errors", "23", "--quiet"});
    ASSERT_FALSE(sim.device.empty());
    Subscriber watcher(broker, "qtr290/#");
    ASSERT_TRUE(RunUntil([&] { return watcher.client.Connected(); }));

    GatewayOptions options = For(broker, sim.device);
    options.bus.clear();     // named after the device: the pty's number
    options.bufferLimit = 0; // no buffer: nothing waits, yet nothing is dropped while connected
    Gateway gateway(options);
    std::string why;
    ASSERT_TRUE(gateway.Start(why)) << why;
    const std::string bus = std::filesystem::path(sim.device).filename().string();
    EXPECT_EQ(gateway.Topic("status"), "qtr290/" + bus + "/status");
    ASSERT_TRUE(RunUntil(
        [&] {
            return watcher.On(gateway.Topic("counters")).size() >= 2 &&
                   !watcher.On(gateway.Topic("error")).empty();
        },
        8000));

    const auto status = watcher.On(gateway.Topic("status"));
    ASSERT_FALSE(status.empty());
    EXPECT_TRUE(status.back().retain || status.size() == 1);
    const QJsonObject online = Json(status.back().payload);
    EXPECT_EQ(Str(online, "state"), "online");
    EXPECT_EQ(Str(online, "device"), sim.device);
    EXPECT_EQ(Str(online, "time").size(), std::string("2026-12-09T09:19:27.123").size());

    const auto telegrams = watcher.On(gateway.Topic("telegram"));
    ASSERT_GT(telegrams.size(), 20u);
    bool sawLong = false, sawShort = false, sawPoll = false;
    for (const auto& m : telegrams) {
        const QJsonObject t = Json(m.payload);
        // Exactly the monitor's line for the same bytes and time.
        const QByteArray bytes = QByteArray::fromHex(t.value("hex").toString().toLatin1());
        const std::vector<std::uint8_t> raw(bytes.begin(), bytes.end());
        ASSERT_EQ(m.payload, ctl::FormatTelegram(Str(t, "time"), raw, true));
        sawLong |= Str(t, "kind") == "long";
        sawShort |= Str(t, "kind") == "short";
        sawPoll |= t.value("poll").toBool();
        EXPECT_EQ(m.qos, 1);
    }
    EXPECT_TRUE(sawLong && sawShort && sawPoll);
    for (const auto& m : watcher.On(gateway.Topic("error"))) {
        const std::string kind = Str(Json(m.payload), "error");
        EXPECT_TRUE(kind == "header" || kind == "block") << m.payload;
    }

    const QJsonObject counters = Json(watcher.On(gateway.Topic("counters")).back().payload);
    for (const char* key : {"telegrams", "polls", "answered", "sent", "header_errors",
                            "block_errors", "pending", "bytes", "dropped"})
        EXPECT_TRUE(counters.contains(QLatin1String(key))) << key;
    EXPECT_GT(counters.value("telegrams").toInt(), 0);
    EXPECT_GT(counters.value("polls").toInt(), 0);
    EXPECT_GT(counters.value("bytes").toInt(), counters.value("telegrams").toInt() * 7 - 1);
    EXPECT_EQ(counters.value("dropped").toInt(), 0);

    gateway.Stop();
    ASSERT_TRUE(RunUntil([&] { return watcher.LastState(gateway.Topic("status")) == "offline"; }));
    // The port is free again: another station opens it.
    ctl::Options ctlOptions;
    ctlOptions.device = sim.device;
    ctl::Station next(ctl::ChoosePort(ctlOptions, {}));
    EXPECT_TRUE(next.Open(why)) << why;
}

TEST_F(GatewayTest, BrokerAwayBuffersInOrderCountsDroppedAndCatchesUp)
{
    MosquittoBroker broker; // not started: unreachable at the gateway's start
    ASSERT_TRUE(broker.Start()) << broker.Error();
    broker.Stop();
    Simulator sim({"--baud", "38400", "--poll-interval", "20", "--quiet"});
    GatewayOptions options = For(broker, sim.device);
    options.bufferLimit = 30;
    Gateway gateway(options);
    std::string why;
    ASSERT_TRUE(gateway.Start(why)) << why;
    ASSERT_TRUE(RunUntil([&] { return gateway.Dropped() > 10; }, 8000));
    EXPECT_EQ(gateway.Buffered(), 30u);
    EXPECT_EQ(gateway.State(), BusState::Online); // the bus is served meanwhile

    ASSERT_TRUE(broker.Start()) << broker.Error();
    Subscriber watcher(broker, "qtr290/rig1/#");
    // The gateway's next attempt is within 2 s of the restart.
    ASSERT_TRUE(RunUntil([&] { return watcher.On("qtr290/rig1/telegram").size() > 40; }, 8000));
    EXPECT_EQ(watcher.LastState("qtr290/rig1/status"), "online");
    const auto telegrams = watcher.On("qtr290/rig1/telegram");
    std::string previous;
    for (const auto& m : telegrams) { // in order: the buffered ones first, then the live ones
        const std::string time = Str(Json(m.payload), "time");
        EXPECT_LE(previous, time);
        previous = time;
    }
    ASSERT_TRUE(RunUntil([&] { return !watcher.On("qtr290/rig1/counters").empty(); }));
    const QJsonObject counters = Json(watcher.On("qtr290/rig1/counters").back().payload);
    EXPECT_EQ(counters.value("dropped").toInteger(), static_cast<qint64>(gateway.Dropped()));
    EXPECT_GT(counters.value("dropped").toInteger(), 10);
}

TEST_F(GatewayTest, RefusedCredentialsKeepTheBusServedRightOnesConnect)
{
    MosquittoBroker::Options secured;
    secured.secured = true;
    MosquittoBroker broker(secured);
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Simulator sim({"--baud", "38400", "--poll-interval", "20", "--quiet"});
    for (const bool right : {false, true}) {
        SCOPED_TRACE(right ? "right password" : "wrong password");
        GatewayOptions options = For(broker, sim.device);
        options.username = MosquittoBroker::User;
        options.password = right ? broker.Password() : "wrong";
        options.caFile = broker.CaFile();
        options.bufferLimit = 5;
        std::vector<std::string> log;
        Gateway gateway(options);
        gateway.onLog = [&](const std::string& line) { log.push_back(line); };
        std::string why;
        ASSERT_TRUE(gateway.Start(why)) << why;
        if (!right) {
            ASSERT_TRUE(RunUntil([&] { return gateway.Dropped() > 0; }, 5000));
            EXPECT_EQ(gateway.State(), BusState::Online);
            EXPECT_NE(Json(gateway.CountersJson()).value("telegrams").toInt(), 0);
            bool refused = false;
            for (const auto& line : log)
                refused |= line.find("refused") != std::string::npos;
            EXPECT_TRUE(refused);
        } else {
            ASSERT_TRUE(RunUntil([&] {
                for (const auto& line : log)
                    if (line.find("connected to mqtts://localhost") != std::string::npos)
                        return true;
                return false;
            }));
        }
    }
}

TEST_F(GatewayTest, DeviceMissingThenThereThenLostThenBackByItsLink)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Subscriber watcher(broker, "qtr290/rig1/status");
    ASSERT_TRUE(RunUntil([&] { return watcher.client.Connected(); }));
    TempDir dir;
    const std::string link = dir / "ttyQTR";
    GatewayOptions options = For(broker, link);
    Gateway gateway(options);
    int connects = 0;
    std::string why;
    ASSERT_TRUE(gateway.Start(why)) << why;
    auto state = [&] { return watcher.LastState("qtr290/rig1/status"); };
    ASSERT_TRUE(RunUntil([&] { return state() == "device-missing"; }));
    EXPECT_EQ(Str(Json(watcher.On("qtr290/rig1/status").back().payload), "device"), link);

    auto sim = std::make_unique<Simulator>(std::vector<std::string>{
        "--baud", "38400", "--poll-interval", "20", "--link", link, "--quiet"});
    ASSERT_TRUE(RunUntil([&] { return state() == "online"; }, 3000));
    (void)connects;

    sim->Stop(); // the pty goes, and the link with it
    ASSERT_TRUE(RunUntil([&] { return state() == "device-lost"; }, 3000));
    sim = std::make_unique<Simulator>(std::vector<std::string>{"--baud", "38400", "--poll-interval",
                                                               "20", "--link", link, "--quiet"});
    ASSERT_TRUE(RunUntil([&] { return state() == "online"; }, 3000));
    const auto statuses = watcher.On("qtr290/rig1/status");
    std::vector<std::string> states;
    for (const auto& m : statuses)
        states.push_back(Str(Json(m.payload), "state"));
    const std::vector<std::string> expected{"device-missing", "online", "device-lost", "online"};
    EXPECT_EQ(states, expected); // one broker connection all along: no second "device-missing"
}

TEST_F(GatewayTest, BareTerminalPathLostIsNotReopenedByItself)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Subscriber watcher(broker, "qtr290/rig1/status");
    auto sim = std::make_unique<Simulator>(
        std::vector<std::string>{"--baud", "38400", "--poll-interval", "20", "--quiet"});
    Gateway gateway(For(broker, sim->device));
    std::string why;
    ASSERT_TRUE(gateway.Start(why)) << why;
    ASSERT_TRUE(RunUntil([&] { return watcher.LastState("qtr290/rig1/status") == "online"; }));
    const std::string lostPath = sim->device;
    sim->Stop();
    ASSERT_TRUE(RunUntil([&] { return watcher.LastState("qtr290/rig1/status") == "device-lost"; }));
    // The next pseudo-terminal usually takes the same number: it is another program's.
    Simulator other({"--baud", "38400", "--poll-interval", "20", "--quiet"});
    RunUntil([] { return false; }, 1000);
    EXPECT_EQ(gateway.State(), BusState::DeviceLost) << lostPath << " then " << other.device;
}

TEST_F(GatewayTest, StopsOnSigtermAndSigintOfflineAndThePortReleased)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Simulator sim({"--baud", "38400", "--poll-interval", "20", "--quiet"});
    Subscriber watcher(broker, "qtr290/rig1/status");
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        ChildProcess gateway(QTR290_GATEWAY_PATH, {"--device", sim.device, "--baud", "38400",
                                                   "--broker", broker.Url(), "--bus", "rig1"});
        ASSERT_TRUE(RunUntil([&] { return watcher.LastState("qtr290/rig1/status") == "online"; }));
        gateway.Signal(signal);
        const auto status = gateway.Wait(std::chrono::seconds(5));
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(*status, 0) << gateway.Errors();
        ASSERT_TRUE(RunUntil([&] { return watcher.LastState("qtr290/rig1/status") == "offline"; }));
        // Released: the clean stop's status, not the will's, which has no device.
        EXPECT_EQ(Str(Json(watcher.On("qtr290/rig1/status").back().payload), "device"), sim.device);
        ctl::Options ctlOptions;
        ctlOptions.device = sim.device;
        ctl::Station next(ctl::ChoosePort(ctlOptions, {}));
        std::string why;
        EXPECT_TRUE(next.Open(why)) << why;
    }
}

TEST_F(GatewayTest, ProgramBadUsageExitsFourWithTheUsageOnStandardError)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--qos", "7"}, {"--frobnicate"}, {"extra"}}) {
        ChildProcess gateway(QTR290_GATEWAY_PATH, args);
        const auto status = gateway.Wait(std::chrono::seconds(5));
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(*status, 4);
        const std::string errors = gateway.Errors();
        EXPECT_NE(errors.find("Usage:"), std::string::npos) << errors;
    }
    ChildProcess help(QTR290_GATEWAY_PATH, {"--help"});
    EXPECT_EQ(help.Wait(std::chrono::seconds(5)), std::optional<int>(0));
}

TEST_F(GatewayTest, RequestsWhenAllowedIdsErrorsResponseTopicsFloodLimit)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Simulator sim({"--baud", "38400", "--poll-interval", "20", "--quiet"});
    Subscriber requester(broker, "qtr290/rig1/result");
    requester.client.Subscribe("replies/me", 1);
    ASSERT_TRUE(RunUntil([&] { return requester.client.Connected(); }));
    auto ask = [&](const std::string& payload, std::string responseTopic = {},
                   std::optional<std::string> correlation = {}) {
        return requester.client.Publish(
            {"qtr290/rig1/request", payload, 1, false, std::move(responseTopic), correlation});
    };
    const std::string read = R"({"op":"read","area":"FRAM290","address":"157","count":2)";

    {
        Gateway readOnly(For(broker, sim.device)); // without --allow-requests
        std::string why;
        ASSERT_TRUE(readOnly.Start(why)) << why;
        ASSERT_TRUE(RunUntil([&] { return readOnly.State() == BusState::Online; }));
        RunUntil([] { return false; }, 300);
        ASSERT_TRUE(ask(read + R"(,"id":"ignored"})"));
        RunUntil([] { return false; }, 700);
        EXPECT_TRUE(requester.messages.empty());
    }

    GatewayOptions options = For(broker, sim.device);
    options.allowRequests = true;
    Gateway gateway(options);
    std::string why;
    ASSERT_TRUE(gateway.Start(why)) << why;
    ASSERT_TRUE(RunUntil([&] { return gateway.State() == BusState::Online; }));
    RunUntil([] { return false; }, 300); // subscribed

    struct Row {
        std::string payload;
        const char* id;    // the JSON text expected back
        const char* error; // a part of the error, or nullptr for a result
    };
    const std::vector<Row> rows = {
        {read + R"(,"id":"a"})", "\"a\"", nullptr},
        {R"({"op":"write","area":"FRAM290","address":"157","data":"1234","id":7})", "7", nullptr},
        {read + "}", nullptr, nullptr},
        {"not json {", "null", "not a JSON object"},
        {R"({"op":"erase","area":"FRAM290","address":"157","id":"x"})", "\"x\"", "\"op\""},
        {read + R"(,"id":[1]})", "null", "\"id\""},
        {read + R"(,"id":2.5,"pad":")" + std::string(70000, 'x') + "\"}", "null", "64 KiB"},
    };
    for (const Row& row : rows)
        ASSERT_TRUE(ask(row.payload));
    ASSERT_TRUE(RunUntil([&] { return requester.messages.size() == rows.size(); }, 10000));
    // Errors come at once, results after the bus: match them by id.
    for (const Row& row : rows) {
        SCOPED_TRACE(row.payload.substr(0, 80));
        const mqtt::Message* answer = nullptr;
        for (const auto& m : requester.messages) {
            const QJsonObject o = Json(m.payload);
            const std::string id = o.contains("id") ? QJsonDocument(QJsonArray{o.value("id")})
                                                          .toJson(QJsonDocument::Compact)
                                                          .mid(1)
                                                          .chopped(1)
                                                          .toStdString()
                                                    : std::string();
            const bool sameError = row.error ? Str(o, "error").find(row.error) != std::string::npos
                                             : !o.contains("error");
            if (id == (row.id ? row.id : "") && sameError)
                answer = &m;
        }
        ASSERT_NE(answer, nullptr);
        const QJsonObject o = Json(answer->payload);
        if (row.error) {
            EXPECT_NE(Str(o, "error").find(row.error), std::string::npos) << answer->payload;
        } else {
            EXPECT_EQ(Str(o, "removed"), "reply") << answer->payload;
            EXPECT_EQ(Str(o, "op"),
                      row.payload.find("write") != std::string::npos ? "write" : "read");
            EXPECT_EQ(Str(o, "request").substr(0, 2), "A6");
        }
    }

    // A response topic that cannot be published to: that result is lost, nothing else.
    requester.messages.clear();
    ASSERT_TRUE(ask(read + R"(,"id":"wild"})", "replies/#"));
    ASSERT_TRUE(ask(read + R"(,"id":"after"})"));
    ASSERT_TRUE(RunUntil([&] { return !requester.messages.empty(); }, 5000));
    EXPECT_EQ(Str(Json(requester.messages[0].payload), "id"), "after");

    // MQTT 5: the result goes to the response topic with the correlation data.
    requester.messages.clear();
    ASSERT_TRUE(ask(read + R"(,"id":"r5"})", "replies/me", std::string("\x01\x02", 2)));
    ASSERT_TRUE(RunUntil([&] { return !requester.messages.empty(); }, 5000));
    EXPECT_EQ(requester.messages[0].topic, "replies/me");
    EXPECT_EQ(requester.messages[0].correlationData, std::string("\x01\x02", 2));
    EXPECT_EQ(Str(Json(requester.messages[0].payload), "id"), "r5");

    // A flood: beyond 1000 pending, each gets an error and nothing is queued.
    requester.messages.clear();
    constexpr int Flood = 1010;
    for (int i = 0; i < Flood; ++i)
        ASSERT_TRUE(ask(read + R"(,"timeout":60,"id":)" + std::to_string(i) + "}"));
    ASSERT_TRUE(RunUntil(
        [&] {
            int refused = 0;
            for (const auto& m : requester.messages)
                refused += Str(Json(m.payload), "error").find("too many") != std::string::npos;
            return refused > 0 && requester.messages.size() + gateway.PendingRequests() == Flood;
        },
        10000))
        << requester.messages.size() << " answered, " << gateway.PendingRequests() << " pending";
    EXPECT_LE(gateway.PendingRequests(), Gateway::MostPendingRequests);
    EXPECT_EQ(gateway.State(), BusState::Online);
}

// README's ACL, as it stands there: every user reads, each gateway writes its own bus, only
// "engineer" sends requests.
TEST_F(GatewayTest, ReadmeAclLetsOnlyTheEngineerSendRequests)
{
    std::ifstream readme(std::string(QTR290_SOURCE_DIR) + "/README.md");
    std::string line, acl;
    bool inside = false;
    while (std::getline(readme, line)) {
        if (line.starts_with("    # every user (patterns apply"))
            inside = true;
        if (inside && line.empty())
            break;
        if (inside)
            acl += line.substr(std::min<std::size_t>(4, line.size())) + '\n';
    }
    ASSERT_NE(acl.find("user engineer"), std::string::npos) << "README's ACL example not found";
    MosquittoBroker::Options withAcl;
    withAcl.users = {"rig1", "engineer", "viewer"};
    withAcl.acl = acl;
    MosquittoBroker broker(withAcl);
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Simulator sim({"--baud", "38400", "--poll-interval", "20", "--quiet"});
    GatewayOptions options = For(broker, sim.device);
    options.username = "rig1";
    options.password = broker.Password();
    options.allowRequests = true;
    Gateway gateway(options);
    std::string why;
    ASSERT_TRUE(gateway.Start(why)) << why;

    auto user = [&](const char* name) {
        mqtt::ClientOptions o;
        o.broker = *mqtt::ParseBrokerUrl(broker.Url(), why);
        o.username = name;
        o.password = broker.Password();
        o.clientId = name;
        return o;
    };
    struct Peer {
        explicit Peer(mqtt::ClientOptions o) : client(std::move(o))
        {
            client.onMessage = [this](const mqtt::Message& m) { got.push_back(m); };
        }
        mqtt::Client client;
        std::vector<mqtt::Message> got;
    };
    Peer engineer(user("engineer")), viewer(user("viewer"));
    for (Peer* p : {&engineer, &viewer}) {
        p->client.Subscribe("qtr290/rig1/#", 1);
        ASSERT_TRUE(p->client.Start(why)) << why;
    }
    ASSERT_TRUE(RunUntil([&] {
        return engineer.client.Connected() && viewer.client.Connected() &&
               gateway.State() == BusState::Online;
    }));
    ASSERT_TRUE(RunUntil([&] {
        for (const auto& m : viewer.got)
            if (m.topic == "qtr290/rig1/telegram")
                return true;
        return false;
    })) << "the viewer reads the telegrams";

    const std::string read = R"({"op":"read","area":"FRAM290","address":"157","count":2,"id":)";
    viewer.client.Publish({"qtr290/rig1/request", read + "\"viewer\"}", 1, false, {}, {}});
    engineer.client.Publish({"qtr290/rig1/request", read + "\"engineer\"}", 1, false, {}, {}});
    auto results = [&](const Peer& p) {
        std::vector<std::string> ids;
        for (const auto& m : p.got)
            if (m.topic == "qtr290/rig1/result")
                ids.push_back(Str(Json(m.payload), "id"));
        return ids;
    };
    ASSERT_TRUE(RunUntil([&] { return !results(engineer).empty(); }, 5000));
    RunUntil([] { return false; }, 500);
    EXPECT_EQ(results(engineer), std::vector<std::string>{"engineer"}); // the viewer's never came
    EXPECT_TRUE(results(viewer).empty()); // nor may the viewer read results
}
