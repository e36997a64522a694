// qtr290-gateway: a station of the bus, as qtr290-ctl is one, that publishes what passes on
// the bus to an MQTT broker and, when allowed, takes read and write requests from it. The
// bus is served whatever the broker does: a telegram goes to the outbox and out when the
// broker takes it, never in the way of a poll answer. One thread, the event loop's.
#pragma once

#include "mqtt/client.h"
#include "serial/device_identity.h"
#include "station/busstatistics.h"
#include "tools/qtr290-gateway/gateway_options.h"
#include "tools/qtr290-gateway/station_adapter.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace qtr290::gateway {

enum class BusState { Online, Offline, DeviceMissing, DeviceLost };
const char* StateWord(BusState state); // "online", "offline", "device-missing", "device-lost"

class Gateway final : public QObject {
public:
    static constexpr std::size_t LongestRequest = 64 * 1024;
    static constexpr std::size_t MostPendingRequests = 1000;
    // Messages handed to the MQTT client at once; the rest wait in the outbox.
    static constexpr int MostInFlight = 1000;
    static constexpr int DeviceCheckMs = 250;

    explicit Gateway(GatewayOptions options, QObject* parent = nullptr);
    ~Gateway() override;

    // Opens the port (or waits for its device) and starts connecting to the broker. False
    // (with `why`) only when the MQTT options or the settings file's rate are refused.
    bool Start(std::string& why);
    // The clean stop: offline status published, the port released (DTR low).
    void Stop();

    BusState State() const { return FState; }
    std::string Topic(const char* leaf) const; // "P/NAME/leaf"
    std::string DevicePath() const { return FDevicePath; }
    std::uint64_t Dropped() const { return FDropped; }
    std::size_t Buffered() const { return FOutbox.size(); }
    std::size_t PendingRequests() const { return FRequests.size() + (FInService ? 1 : 0); }
    std::string CountersJson() const;

    std::function<void(const std::string& line)> onLog; // lines for the system log

private:
    struct Outgoing {
        mqtt::Message message;
        bool telegram = false;
    };
    struct PendingRequest {
        BusRequest request;
        std::string id; // JSON text of the "id", "" when there was none
        std::string responseTopic;
        std::optional<std::string> correlation;
    };

    void Log(const std::string& line);
    bool OpenPort();
    void PortLost();
    void CheckDevice();
    void SetState(BusState state);
    void PublishStatus();
    void PublishCounters();
    void Enqueue(mqtt::Message message, bool telegram);
    void Flush();
    bool Sendable() const; // connected, and not too much in flight
    void BrokerConnected();
    void RequestArrived(const mqtt::Message& message);
    void Refuse(const std::string& id, const std::string& why, const mqtt::Message& request);
    void ServeNextRequest();
    void RequestDone(const RequestResult& result);

    GatewayOptions FOptions;
    PortChoice FPort;
    std::string FPortRefusal; // why the settings file's port cannot be used, "" when it can
    std::string FDevicePath;
    std::string FBus;
    std::unique_ptr<BusStation> FStation;
    std::unique_ptr<mqtt::Client> FClient;
    BusStatistics FStatistics;
    std::uint64_t FBytesBefore = 0; // received by the stations before the current one
    BusState FState = BusState::Offline;
    DeviceIdentity FOpenedDevice;
    bool FEverOpened = false;
    std::string FLastOpenFailure;
    QTimer FDeviceTimer;
    QTimer FCountersTimer;
    std::deque<Outgoing> FOutbox;
    std::uint64_t FDropped = 0;
    std::deque<PendingRequest> FRequests;
    std::optional<PendingRequest> FInService;
    bool FStopping = false;
};

} // namespace qtr290::gateway
