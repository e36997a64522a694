// An MQTT 5 client on the Qt event loop: libmosquitto's socket watched by QSocketNotifier
// (written only while it has something to write), its housekeeping on a timer, never a
// thread of its own. Connects, reconnects with a growing wait, publishes, subscribes (again
// after every reconnect), and carries the request-response properties of MQTT 5.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

namespace qtr290::mqtt {

// mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS); 1883 and 8883 by default.
struct BrokerAddress {
    std::string host = "localhost";
    int port = 1883;
    bool tls = false;
    std::string Describe() const; // "mqtts://host:8883"
};
// Nothing, with `why` set, for anything else.
std::optional<BrokerAddress> ParseBrokerUrl(std::string_view url, std::string& why);

// The wait before the next attempt after one of `previousMs`: doubled, from FirstRetryMs up
// to LongestRetryMs.
int NextRetryWaitMs(int previousMs);

struct Will {
    std::string topic;
    std::string payload;
    int qos = 1;
    bool retain = true;
};

struct ClientOptions {
    std::string clientId; // empty: the broker names the client
    BrokerAddress broker;
    std::string username;
    std::string password;
    std::string caFile, certFile, keyFile; // TLS; without caFile the system's certificates
    std::optional<Will> will;
    int keepAliveSeconds = 30;
};

// A received message, or the extras of one to publish.
struct Message {
    std::string topic;
    std::string payload;
    int qos = 0;
    bool retain = false;
    std::string responseTopic;                  // MQTT 5; empty when absent
    std::optional<std::string> correlationData; // MQTT 5; binary
};

class Client final : public QObject {
public:
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LongestRetryMs = 30000;

    explicit Client(ClientOptions options, QObject* parent = nullptr);
    ~Client() override;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Starts connecting; a failure, now or later, is retried after FirstRetryMs doubling
    // up to LongestRetryMs. False (with `why`) only for options libmosquitto refuses.
    bool Start(std::string& why);
    // Publishes `message.topic`; false when not connected or refused (nothing kept).
    bool Publish(const Message& message);
    // Subscribed now when connected, and again after every reconnect.
    void Subscribe(const std::string& topic, int qos);
    // A clean stop: DISCONNECT sent (the will is not published), no more retries.
    void Stop();

    bool Connected() const { return FConnected; }
    int NextRetryMs() const { return FRetryMs; }
    int RetryWaitMs() const { return FRetryTimer.interval(); } // the wait under way
    // Messages handed to libmosquitto and not yet acknowledged (QoS 1) or written (QoS 0).
    int InFlight() const { return static_cast<int>(FInFlight.size()); }
    // What the last failure was, in words ("" after a successful connection).
    const std::string& LastError() const { return FLastError; }

    std::function<void()> onConnected;
    std::function<void(const std::string& why)> onDisconnected; // also for a refused connect
    std::function<void(const Message&)> onMessage;
    std::function<void()> onDelivered; // a published message left the in-flight count

private:
    struct Deleter {
        void operator()(mosquitto* handle) const;
    };

    static void OnConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
    static void OnDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message*,
                          const mosquitto_property*);
    static void OnPublish(mosquitto*, void* self, int mid, int rc, const mosquitto_property*);

    bool Configure(std::string& why);
    void Connect();
    void Watch(); // notifiers on the socket libmosquitto has now
    void Unwatch();
    void ReadReady();
    void WriteReady();
    void Housekeeping();
    void UpdateWriteInterest();
    void ConnectionLost(const std::string& why);
    void ScheduleRetry();
    void Flush();

    ClientOptions FOptions;
    std::unique_ptr<mosquitto, Deleter> FHandle;
    std::unique_ptr<QSocketNotifier> FReadNotifier, FWriteNotifier;
    QTimer FMiscTimer, FRetryTimer;
    std::vector<std::pair<std::string, int>> FSubscriptions;
    bool FConnected = false;
    bool FSocketConnecting = false; // the TCP connect is under way: wait for writability
    bool FStopped = true;
    int FRetryMs = FirstRetryMs;
    std::unordered_map<int, int> FInFlight; // message id -> QoS
    std::string FLastError;
    std::string FRefusal; // the CONNACK's reason when the broker refused
};

} // namespace qtr290::mqtt
