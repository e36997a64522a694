#include "mqtt/client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <poll.h>

namespace qtr290::mqtt {

namespace {

constexpr int HousekeepingMs = 1000; // keep-alive pings and QoS retries need no finer tick
constexpr int DefaultPort = 1883;
constexpr int DefaultTlsPort = 8883;

void InitialiseLibraryOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// Owns a property list while a call borrows it.
struct Properties {
    mosquitto_property* list = nullptr;
    ~Properties() { mosquitto_property_free_all(&list); }
};

} // namespace

std::string BrokerAddress::Describe() const
{
    return std::string(tls ? "mqtts://" : "mqtt://") + host + ':' + std::to_string(port);
}

std::optional<BrokerAddress> ParseBrokerUrl(std::string_view url, std::string& why)
{
    BrokerAddress address;
    std::string_view rest;
    if (url.starts_with("mqtt://")) {
        rest = url.substr(7);
        address.port = DefaultPort;
    } else if (url.starts_with("mqtts://")) {
        rest = url.substr(8);
        address.tls = true;
        address.port = DefaultTlsPort;
    } else {
        why = "'" + std::string(url) + "': not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    std::string_view host = rest;
    // A bracketed IPv6 address keeps its colons.
    const std::size_t close = rest.starts_with('[') ? rest.find(']') : std::string_view::npos;
    const std::size_t colon = rest.find(':', close == std::string_view::npos ? 0 : close);
    if (colon != std::string_view::npos) {
        host = rest.substr(0, colon);
        const std::string_view port = rest.substr(colon + 1);
        int value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value < 1 ||
            value > 65535) {
            why = "'" + std::string(url) + "': the port is not a number from 1 to 65535";
            return std::nullopt;
        }
        address.port = value;
    }
    if (host.starts_with('[') && host.ends_with(']'))
        host = host.substr(1, host.size() - 2);
    if (host.empty() || host.find_first_of("/?#@ ") != std::string_view::npos) {
        why = "'" + std::string(url) + "': no host name";
        return std::nullopt;
    }
    address.host = std::string(host);
    return address;
}

int NextRetryWaitMs(int previousMs)
{
    if (previousMs < Client::FirstRetryMs)
        return Client::FirstRetryMs;
    return std::min(previousMs * 2, Client::LongestRetryMs);
}

void Client::Deleter::operator()(mosquitto* handle) const
{
    mosquitto_destroy(handle);
}

Client::Client(ClientOptions options, QObject* parent)
    : QObject(parent), FOptions(std::move(options))
{
    InitialiseLibraryOnce();
    FMiscTimer.setInterval(HousekeepingMs);
    connect(&FMiscTimer, &QTimer::timeout, this, &Client::Housekeeping);
    FRetryTimer.setSingleShot(true);
    connect(&FRetryTimer, &QTimer::timeout, this, &Client::Connect);
}

Client::~Client()
{
    Unwatch();
    // The handle goes with FHandle; its callbacks point here, so none may run after this.
    if (FHandle)
        mosquitto_user_data_set(FHandle.get(), nullptr);
}

bool Client::Configure(std::string& why)
{
    FHandle.reset(
        mosquitto_new(FOptions.clientId.empty() ? nullptr : FOptions.clientId.c_str(), true, this));
    if (!FHandle) {
        why = "libmosquitto could not make a client";
        return false;
    }
    mosquitto* m = FHandle.get();
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // A telegram goes out as it comes: small packets must not wait for the previous ACK.
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(m, &Client::OnConnect);
    mosquitto_disconnect_v5_callback_set(m, &Client::OnDisconnect);
    mosquitto_message_v5_callback_set(m, &Client::OnMessage);
    mosquitto_publish_v5_callback_set(m, &Client::OnPublish);
    auto refused = [&](int rc, const char* what) {
        if (rc == MOSQ_ERR_SUCCESS)
            return false;
        why = std::string(what) + ": " + mosquitto_strerror(rc);
        return true;
    };
    if (!FOptions.username.empty() &&
        refused(mosquitto_username_pw_set(m, FOptions.username.c_str(),
                                          FOptions.password.empty() ? nullptr
                                                                    : FOptions.password.c_str()),
                "user name"))
        return false;
    if (FOptions.broker.tls) {
        if (FOptions.caFile.empty())
            mosquitto_int_option(m, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
        if ((!FOptions.caFile.empty() || !FOptions.certFile.empty()) &&
            refused(mosquitto_tls_set(m, orNull(FOptions.caFile), nullptr,
                                      orNull(FOptions.certFile), orNull(FOptions.keyFile), nullptr),
                    "TLS files"))
            return false;
    }
    if (FOptions.will) {
        const Will& w = *FOptions.will;
        if (refused(mosquitto_will_set_v5(m, w.topic.c_str(), static_cast<int>(w.payload.size()),
                                          w.payload.data(), w.qos, w.retain, nullptr),
                    "last will"))
            return false;
    }
    return true;
}

bool Client::Start(std::string& why)
{
    if (!Configure(why))
        return false;
    FStopped = false;
    FRetryMs = FirstRetryMs;
    Connect();
    return true;
}

void Client::Connect()
{
    if (FStopped || !FHandle)
        return;
    Unwatch();
    FRefusal.clear();
    // The host name is resolved here, on this thread: a name the resolver cannot answer at
    // once delays the port; the plant's brokers are named in /etc/hosts or by address.
    const int rc =
        mosquitto_connect_bind_async(FHandle.get(), FOptions.broker.host.c_str(),
                                     FOptions.broker.port, FOptions.keepAliveSeconds, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        ConnectionLost(rc == MOSQ_ERR_ERRNO
                           ? std::string("cannot connect: ") + std::strerror(errno)
                           : std::string("cannot connect: ") + mosquitto_strerror(rc));
        return;
    }
    FSocketConnecting = true;
    Watch();
}

void Client::Watch()
{
    const int fd = mosquitto_socket(FHandle.get());
    if (fd < 0)
        return;
    FReadNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(FReadNotifier.get(), &QSocketNotifier::activated, this, &Client::ReadReady);
    FWriteNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(FWriteNotifier.get(), &QSocketNotifier::activated, this, &Client::WriteReady);
    FMiscTimer.start();
    UpdateWriteInterest();
}

void Client::Unwatch()
{
    FReadNotifier.reset();
    FWriteNotifier.reset();
    FMiscTimer.stop();
}

void Client::UpdateWriteInterest()
{
    if (FWriteNotifier && FHandle)
        FWriteNotifier->setEnabled(FSocketConnecting || mosquitto_want_write(FHandle.get()));
}

void Client::ReadReady()
{
    const int rc = mosquitto_loop_read(FHandle.get(), 1);
    if (rc != MOSQ_ERR_SUCCESS) {
        ConnectionLost(FRefusal.empty() ? std::string("connection lost: ") + mosquitto_strerror(rc)
                                        : FRefusal);
        return;
    }
    UpdateWriteInterest();
}

void Client::WriteReady()
{
    FSocketConnecting = false;
    const int rc = mosquitto_loop_write(FHandle.get(), 1);
    if (rc != MOSQ_ERR_SUCCESS) {
        ConnectionLost(std::string("connection lost: ") + mosquitto_strerror(rc));
        return;
    }
    UpdateWriteInterest();
}

void Client::Housekeeping()
{
    const int rc = mosquitto_loop_misc(FHandle.get());
    if (rc != MOSQ_ERR_SUCCESS) {
        ConnectionLost(std::string("connection lost: ") + mosquitto_strerror(rc));
        return;
    }
    UpdateWriteInterest();
}

void Client::ConnectionLost(const std::string& why)
{
    Unwatch();
    FConnected = false;
    FSocketConnecting = false;
    FLastError = why;
    // QoS 0 messages not yet written are gone with the connection; QoS 1 ones are sent again.
    std::erase_if(FInFlight, [](const auto& entry) { return entry.second == 0; });
    if (FStopped)
        return;
    // The socket is closed by the next connect. No DISCONNECT: the broker must publish the
    // will if it still holds the connection.
    ScheduleRetry();
    if (onDisconnected)
        onDisconnected(why);
}

void Client::ScheduleRetry()
{
    FRetryTimer.start(FRetryMs);
    FRetryMs = NextRetryWaitMs(FRetryMs);
}

bool Client::Publish(const Message& message)
{
    if (!FConnected || !FHandle)
        return false;
    Properties properties;
    if (!message.responseTopic.empty())
        mosquitto_property_add_string(&properties.list, MQTT_PROP_RESPONSE_TOPIC,
                                      message.responseTopic.c_str());
    if (message.correlationData)
        mosquitto_property_add_binary(&properties.list, MQTT_PROP_CORRELATION_DATA,
                                      message.correlationData->data(),
                                      static_cast<std::uint16_t>(message.correlationData->size()));
    int mid = 0;
    const int rc = mosquitto_publish_v5(
        FHandle.get(), &mid, message.topic.c_str(), static_cast<int>(message.payload.size()),
        message.payload.data(), message.qos, message.retain, properties.list);
    if (rc != MOSQ_ERR_SUCCESS)
        return false;
    FInFlight[mid] = message.qos;
    UpdateWriteInterest();
    return true;
}

void Client::Subscribe(const std::string& topic, int qos)
{
    FSubscriptions.emplace_back(topic, qos);
    if (FConnected) {
        mosquitto_subscribe_v5(FHandle.get(), nullptr, topic.c_str(), qos, 0, nullptr);
        UpdateWriteInterest();
    }
}

void Client::Stop()
{
    FStopped = true;
    FRetryTimer.stop();
    if (!FHandle)
        return;
    if (FConnected) {
        mosquitto_disconnect_v5(FHandle.get(), MQTT_RC_NORMAL_DISCONNECTION, nullptr);
        Flush();
    }
    Unwatch();
    FConnected = false;
}

void Client::Flush()
{
    // What is queued goes out now (the last status, the DISCONNECT): nobody runs this loop
    // afterwards. At most a second, whatever the broker does.
    constexpr int FlushLimitMs = 1000, StepMs = 50;
    const int fd = mosquitto_socket(FHandle.get());
    for (int waited = 0; fd >= 0 && waited < FlushLimitMs && mosquitto_want_write(FHandle.get());
         waited += StepMs) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, StepMs) > 0 && mosquitto_loop_write(FHandle.get(), 1) != MOSQ_ERR_SUCCESS)
            break;
    }
}

// ---- libmosquitto's callbacks, called from loop_read/loop_write on this thread ----

void Client::OnConnect(mosquitto*, void* self, int rc, int, const mosquitto_property*)
{
    auto* client = static_cast<Client*>(self);
    if (!client)
        return;
    if (rc != 0) {
        // A refusal (bad credentials, not authorised): the broker closes the connection.
        client->FRefusal = std::string("refused by the broker: ") + mosquitto_reason_string(rc);
        return;
    }
    client->FConnected = true;
    client->FLastError.clear();
    client->FRetryMs = FirstRetryMs;
    for (const auto& [topic, qos] : client->FSubscriptions)
        mosquitto_subscribe_v5(client->FHandle.get(), nullptr, topic.c_str(), qos, 0, nullptr);
    if (client->onConnected)
        client->onConnected();
}

void Client::OnDisconnect(mosquitto*, void*, int, const mosquitto_property*)
{
    // Seen as a failed read or write, or a failed housekeeping call: handled there.
}

void Client::OnMessage(mosquitto*, void* self, const mosquitto_message* m,
                       const mosquitto_property* properties)
{
    auto* client = static_cast<Client*>(self);
    if (!client || !client->onMessage)
        return;
    Message message;
    message.topic = m->topic ? m->topic : "";
    message.payload.assign(static_cast<const char*>(m->payload),
                           static_cast<std::size_t>(m->payloadlen));
    message.qos = m->qos;
    message.retain = m->retain;
    char* responseTopic = nullptr;
    if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic,
                                       false)) {
        message.responseTopic = responseTopic;
        std::free(responseTopic);
    }
    void* correlation = nullptr;
    std::uint16_t length = 0;
    if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation,
                                       &length, false)) {
        message.correlationData = std::string(static_cast<const char*>(correlation), length);
        std::free(correlation);
    }
    client->onMessage(message);
}

void Client::OnPublish(mosquitto*, void* self, int mid, int, const mosquitto_property*)
{
    auto* client = static_cast<Client*>(self);
    if (!client)
        return;
    client->FInFlight.erase(mid);
    if (client->onDelivered)
        client->onDelivered();
}

} // namespace qtr290::mqtt
