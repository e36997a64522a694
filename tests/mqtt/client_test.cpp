// The MQTT client against a real mosquitto: connect, publish and subscribe with MQTT 5
// properties, the last will, reconnects with the growing wait, credentials and TLS.
#include "mqtt/client.h"

#include "tests/support/event_loop_wait.h"
#include "tests/support/mosquitto_broker.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <string>
#include <vector>

using namespace qtr290;
using namespace qtr290::mqtt;
using qtr290::test::MosquittoBroker;
using qtr290::test::RunUntil;

namespace {

// A client that records what reaches it.
struct Peer {
    explicit Peer(ClientOptions options) : client(std::move(options))
    {
        client.onConnected = [this] { ++connects; };
        client.onDisconnected = [this](const std::string& why) { failures.push_back(why); };
        client.onMessage = [this](const Message& m) { received.push_back(m); };
    }
    bool StartAndConnect(int timeoutMs = 5000)
    {
        std::string why;
        return client.Start(why) && RunUntil([&] { return client.Connected(); }, timeoutMs);
    }
    Client client;
    int connects = 0;
    std::vector<std::string> failures;
    std::vector<Message> received;
};

ClientOptions On(const MosquittoBroker& broker, std::string id)
{
    ClientOptions options;
    std::string why;
    options.broker = *ParseBrokerUrl(broker.Url(), why);
    options.clientId = std::move(id);
    return options;
}

class MqttClientTest : public ::testing::Test {
protected:
};

} // namespace

TEST(BrokerUrl, SchemesHostsAndPorts)
{
    struct Row {
        const char* url;
        bool valid;
        const char* host;
        int port;
        bool tls;
    };
    const Row rows[] = {
        {"mqtt://localhost", true, "localhost", 1883, false},
        {"mqtts://broker.plant", true, "broker.plant", 8883, true},
        {"mqtt://10.0.0.5:11883", true, "10.0.0.5", 11883, false},
        {"mqtts://[::1]:8884", true, "::1", 8884, true},
        {"mqtt://host/", true, "host", 1883, false},
        {"tcp://localhost", false, "", 0, false},
        {"localhost:1883", false, "", 0, false},
        {"mqtt://", false, "", 0, false},
        {"mqtt://host:0", false, "", 0, false},
        {"mqtt://host:65536", false, "", 0, false},
        {"mqtt://host:12x", false, "", 0, false},
        {"mqtt://user@host", false, "", 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        std::string why;
        const auto address = ParseBrokerUrl(row.url, why);
        ASSERT_EQ(address.has_value(), row.valid) << why;
        if (!row.valid) {
            EXPECT_NE(why.find(row.url), std::string::npos) << why;
            continue;
        }
        EXPECT_EQ(address->host, row.host);
        EXPECT_EQ(address->port, row.port);
        EXPECT_EQ(address->tls, row.tls);
    }
}

TEST_F(MqttClientTest, PublishesAndReceivesResponseTopicCorrelationRetain)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Peer sender(On(broker, "sender")), listener(On(broker, "listener"));
    ASSERT_TRUE(sender.StartAndConnect());
    // Retained before the listener subscribes: it gets it on subscribing.
    ASSERT_TRUE(sender.client.Publish({"t/state", "{\"state\":\"online\"}", 1, true, {}, {}}));
    ASSERT_TRUE(RunUntil([&] { return sender.client.InFlight() == 0; }));

    ASSERT_TRUE(listener.StartAndConnect());
    listener.client.Subscribe("t/#", 1);
    ASSERT_TRUE(RunUntil([&] { return !listener.received.empty(); }));
    EXPECT_EQ(listener.received[0].topic, "t/state");
    EXPECT_TRUE(listener.received[0].retain);

    const std::string binary("\x00\x01\xFFid", 5);
    ASSERT_TRUE(sender.client.Publish({"t/request", "{}", 1, false, "t/replies/7", binary}));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(sender.client.Publish({"t/seq", std::to_string(i), 0, false, {}, {}}));
    ASSERT_TRUE(RunUntil([&] { return listener.received.size() == 52; }));
    const Message& request = listener.received[1];
    EXPECT_EQ(request.topic, "t/request");
    EXPECT_EQ(request.qos, 1);
    EXPECT_EQ(request.responseTopic, "t/replies/7");
    ASSERT_TRUE(request.correlationData.has_value());
    EXPECT_EQ(*request.correlationData, binary);
    for (int i = 0; i < 50; ++i) // in order, none lost
        EXPECT_EQ(listener.received[2 + i].payload, std::to_string(i));
    EXPECT_TRUE(listener.received[2].responseTopic.empty());
    EXPECT_FALSE(listener.received[2].correlationData.has_value());
}

TEST_F(MqttClientTest, WillIsPublishedOnACutConnectionNotOnACleanStop)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Peer watcher(On(broker, "watcher"));
    ASSERT_TRUE(watcher.StartAndConnect());
    watcher.client.Subscribe("w/+/status", 1);
    ASSERT_TRUE(RunUntil([&] { return watcher.client.InFlight() == 0; }));

    for (const bool clean : {true, false}) {
        SCOPED_TRACE(clean ? "clean stop" : "cut");
        const std::string topic = clean ? "w/clean/status" : "w/cut/status";
        ClientOptions options = On(broker, clean ? "clean" : "cut");
        options.will = Will{topic, "{\"state\":\"offline\"}", 1, true};
        {
            Peer gateway(options);
            ASSERT_TRUE(gateway.StartAndConnect());
            ASSERT_TRUE(gateway.client.Publish({topic, "online", 1, true, {}, {}}));
            ASSERT_TRUE(RunUntil([&] { return gateway.client.InFlight() == 0; }));
            if (clean)
                gateway.client.Stop();
            // Otherwise destroyed without a DISCONNECT, as a crash leaves it.
        }
        ASSERT_TRUE(RunUntil(
                        [&] {
                            return !watcher.received.empty() &&
                                   watcher.received.back().topic == topic &&
                                   watcher.received.back().payload != "online";
                        },
                        clean ? 1500 : 5000) != clean);
    }
    ASSERT_FALSE(watcher.received.empty());
    EXPECT_EQ(watcher.received.back().payload, "{\"state\":\"offline\"}");
}

TEST_F(MqttClientTest, ReconnectsWithDoublingWaitAndSubscribesAgain)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    Peer peer(On(broker, "peer"));
    ASSERT_TRUE(peer.StartAndConnect());
    peer.client.Subscribe("r/x", 1);
    EXPECT_EQ(peer.client.NextRetryMs(), Client::FirstRetryMs);

    broker.Stop();
    ASSERT_TRUE(RunUntil([&] { return !peer.client.Connected(); }));
    EXPECT_FALSE(peer.client.Publish({"r/x", "lost", 1, false, {}, {}}));
    // Each failed attempt doubles the wait: 1 s, 2 s, then 4 s is next.
    ASSERT_TRUE(RunUntil([&] { return peer.failures.size() >= 2; }, 6000));
    EXPECT_EQ(peer.client.NextRetryMs(), 4 * Client::FirstRetryMs);

    QElapsedTimer sinceRestart;
    ASSERT_TRUE(broker.Start()) << broker.Error();
    sinceRestart.start();
    ASSERT_TRUE(RunUntil([&] { return peer.client.Connected(); }, 6000));
    EXPECT_EQ(peer.client.NextRetryMs(), Client::FirstRetryMs);
    EXPECT_EQ(peer.connects, 2);

    Peer other(On(broker, "other"));
    ASSERT_TRUE(other.StartAndConnect());
    ASSERT_TRUE(RunUntil([&] {
        other.client.Publish({"r/x", "after", 1, false, {}, {}});
        return !peer.received.empty();
    }));
    EXPECT_EQ(peer.received.back().payload, "after");
}

TEST(RetryWait, DoublesFromOneSecondUpToThirty)
{
    const std::pair<int, int> rows[] = {{1000, 2000},   {2000, 4000},   {8000, 16000},
                                        {16000, 30000}, {30000, 30000}, {0, 1000}};
    for (const auto& [previous, next] : rows)
        EXPECT_EQ(NextRetryWaitMs(previous), next) << previous;
}

TEST_F(MqttClientTest, CredentialsAndTls)
{
    MosquittoBroker::Options secured;
    secured.secured = true;
    MosquittoBroker broker(secured);
    ASSERT_TRUE(broker.Start()) << broker.Error();
    struct Row {
        const char* name;
        std::string password;
        bool withCa;
        bool connects;
    };
    const Row rows[] = {
        {"right password, the test CA", broker.Password(), true, true},
        {"wrong password", "guess", true, false},
        {"no CA: the broker's certificate is not trusted", broker.Password(), false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClientOptions options = On(broker, std::string("tls-") + row.name);
        options.username = MosquittoBroker::User;
        options.password = row.password;
        if (row.withCa)
            options.caFile = broker.CaFile();
        Peer peer(options);
        std::string why;
        ASSERT_TRUE(peer.client.Start(why)) << why;
        ASSERT_TRUE(RunUntil([&] { return peer.client.Connected() || !peer.failures.empty(); }));
        EXPECT_EQ(peer.client.Connected(), row.connects);
        if (row.connects) {
            peer.client.Subscribe("s/echo", 1);
            ASSERT_TRUE(RunUntil([&] {
                peer.client.Publish({"s/echo", "over tls", 1, false, {}, {}});
                return !peer.received.empty();
            }));
            EXPECT_EQ(peer.received[0].payload, "over tls");
        } else {
            EXPECT_FALSE(peer.failures.front().empty());
            if (row.withCa) { // the broker said no, and why
                EXPECT_NE(peer.failures.front().find("refused"), std::string::npos)
                    << peer.failures.front();
            }
            EXPECT_EQ(peer.client.NextRetryMs(), 2 * Client::FirstRetryMs); // it goes on trying
        }
    }
}
