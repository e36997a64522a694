#include "tools/qtr290-gateway/gateway.h"

#include "station/requestjson.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <filesystem>
#include <variant>

namespace qtr290::gateway {

namespace {

constexpr int StatusQos = 1;
constexpr double LargestExactInteger = 9007199254740992.0; // 2^53

// An "id" as JSON text of the same type: a string, or a number; nothing for anything else.
std::optional<std::string> IdText(const QJsonValue& id)
{
    if (id.isString())
        return JsonString(id.toString().toStdString());
    if (!id.isDouble())
        return std::nullopt;
    const double value = id.toDouble();
    if (value == std::floor(value) && std::fabs(value) < LargestExactInteger)
        return std::to_string(static_cast<long long>(value));
    return QByteArray::number(value, 'g', 17).toStdString();
}

} // namespace

const char* StateWord(BusState state)
{
    switch (state) {
    case BusState::Online:
        return "online";
    case BusState::DeviceMissing:
        return "device-missing";
    case BusState::DeviceLost:
        return "device-lost";
    case BusState::Offline:
        break;
    }
    return "offline";
}

Gateway::Gateway(GatewayOptions options, QObject* parent)
    : QObject(parent), FOptions(std::move(options))
{
    auto chosen = ChoosePort(FOptions.device, FOptions.baud);
    if (auto* refused = std::get_if<std::string>(&chosen))
        FPortRefusal = std::move(*refused);
    else
        FPort = std::get<PortChoice>(std::move(chosen));
    FDevicePath = FPort.names.Device(FPort.number);
    FBus = FOptions.bus;
    if (FBus.empty())
        FBus = FDevicePath.empty() ? "COM" + std::to_string(FPort.number)
                                   : std::filesystem::path(FDevicePath).filename().string();
    FDeviceTimer.setInterval(DeviceCheckMs);
    connect(&FDeviceTimer, &QTimer::timeout, this, &Gateway::CheckDevice);
    FCountersTimer.setInterval(FOptions.countersSeconds * 1000);
    connect(&FCountersTimer, &QTimer::timeout, this, &Gateway::PublishCounters);
}

Gateway::~Gateway()
{
    if (!FStopping)
        Stop();
}

std::string Gateway::Topic(const char* leaf) const
{
    return FOptions.prefix + '/' + FBus + '/' + leaf;
}

void Gateway::Log(const std::string& line)
{
    if (onLog)
        onLog(line);
}

bool Gateway::Start(std::string& why)
{
    if (!FPortRefusal.empty()) {
        why = FPortRefusal; // a settings file whose rate is no rate: nothing opened
        return false;
    }
    mqtt::ClientOptions client;
    client.clientId = "qtr290-gateway/" + FOptions.prefix + '/' + FBus;
    client.broker = FOptions.broker;
    client.username = FOptions.username;
    client.password = FOptions.password;
    client.caFile = FOptions.caFile;
    client.certFile = FOptions.certFile;
    client.keyFile = FOptions.keyFile;
    client.will = mqtt::Will{Topic("status"), "{\"state\":\"offline\"}", StatusQos, true};
    FClient = std::make_unique<mqtt::Client>(std::move(client));
    FClient->onConnected = [this] { BrokerConnected(); };
    FClient->onDisconnected = [this](const std::string& reason) {
        Log(FOptions.broker.Describe() + ": " + reason + "; trying again in " +
            std::to_string(FClient->RetryWaitMs() / 1000) + " s");
    };
    FClient->onMessage = [this](const mqtt::Message& m) { RequestArrived(m); };
    FClient->onDelivered = [this] { Flush(); };
    if (FOptions.allowRequests)
        FClient->Subscribe(Topic("request"), 1);

    if (!OpenPort()) {
        SetState(BusState::DeviceMissing);
        FDeviceTimer.start();
    }
    FCountersTimer.start();
    return FClient->Start(why);
}

bool Gateway::OpenPort()
{
    auto station = std::make_unique<BusStation>(FPort);
    station->AddObserver(&FStatistics);
    station->onTelegram = [this](ByteSpan telegram, bool isPoll) {
        if (FOptions.noPolls && isPoll)
            return;
        Enqueue({Topic("telegram"), TelegramJson(telegram), FOptions.telegramQos, false, {}, {}},
                true);
    };
    station->onDamage = [this](FramerError error) {
        Enqueue({Topic("error"), DamageJson(error), FOptions.telegramQos, false, {}, {}}, true);
    };
    // Reported from inside the driver's tick: the station goes once that has returned.
    station->onLost = [this] { QTimer::singleShot(0, this, &Gateway::PortLost); };
    std::string why;
    if (!station->Open(why)) {
        // Tried again every DeviceCheckMs while the device is there: said once per reason.
        if (why != FLastOpenFailure)
            Log("cannot open " + FPort.Describe() + ": " + why);
        FLastOpenFailure = why;
        return false;
    }
    FLastOpenFailure.clear();
    FStation = std::move(station);
    FOpenedDevice = IdentifyDevice(FDevicePath);
    FEverOpened = true;
    Log("opened " + FPort.Describe() + " at " + std::to_string(FPort.baud) + " Bd");
    SetState(BusState::Online);
    ServeNextRequest();
    return true;
}

void Gateway::PortLost()
{
    if (!FStation)
        return;
    FBytesBefore += FStation->BytesReceived();
    FStation.reset();
    Log(FPort.Describe() + ": the device went away");
    if (FInService) { // its result was not delivered before the station went
        RequestResult result;
        result.removed = RequestResult::Removed::PortLost;
        RequestDone(result);
    }
    while (!FRequests.empty()) {
        PendingRequest request = std::move(FRequests.front());
        FRequests.pop_front();
        Refuse(request.id.empty() ? "null" : request.id, "the device went away",
               {"", "", 0, false, request.responseTopic, request.correlation});
    }
    SetState(BusState::DeviceLost);
    if (!Recognisable(FOpenedDevice))
        Log(FDevicePath + " is not reopened by itself: it cannot be told from another device "
                          "that takes its name (use a /dev/serial/by-id path or a symbolic link)");
    FDeviceTimer.start();
}

void Gateway::CheckDevice()
{
    const DeviceIdentity now = IdentifyDevice(FDevicePath);
    // The window's rule: the same device back, told by its by-id name or a link made anew;
    // a device never opened: one that can be told apart at all.
    const bool back =
        FEverOpened ? SameDeviceBack(FOpenedDevice, now) : !now.node.empty() && Recognisable(now);
    if (back && OpenPort())
        FDeviceTimer.stop();
}

void Gateway::SetState(BusState state)
{
    if (state == FState)
        return;
    FState = state;
    PublishStatus();
}

void Gateway::PublishStatus()
{
    if (!FClient || !FClient->Connected())
        return; // published as the connection comes
    const std::string payload = "{\"state\":" + JsonString(StateWord(FState)) +
                                ",\"device\":" + JsonString(FDevicePath) +
                                ",\"time\":" + JsonString(EventTime()) + "}";
    FClient->Publish({Topic("status"), payload, StatusQos, true, {}, {}});
}

std::string Gateway::CountersJson() const
{
    const BusCounts& c = FStatistics.Counts();
    const std::uint64_t bytes = FBytesBefore + (FStation ? FStation->BytesReceived() : 0);
    const std::size_t pending = FStation ? FStation->PendingCount() : 0;
    return "{\"telegrams\":" + std::to_string(c.telegrams) +
           ",\"polls\":" + std::to_string(c.polls) + ",\"answered\":" + std::to_string(c.answers) +
           ",\"sent\":" + std::to_string(c.sent) +
           ",\"header_errors\":" + std::to_string(c.headerErrors) +
           ",\"block_errors\":" + std::to_string(c.blockErrors) +
           ",\"pending\":" + std::to_string(pending) + ",\"bytes\":" + std::to_string(bytes) +
           ",\"dropped\":" + std::to_string(FDropped) + "}";
}

void Gateway::PublishCounters()
{
    if (FClient && FClient->Connected())
        FClient->Publish({Topic("counters"), CountersJson(), StatusQos, true, {}, {}});
}

void Gateway::Enqueue(mqtt::Message message, bool telegram)
{
    Flush();
    // Bus traffic that would have to wait beyond the buffer is counted, not kept; results
    // always are.
    const bool goesNow = FOutbox.empty() && Sendable();
    if (telegram && !goesNow && FOutbox.size() >= FOptions.bufferLimit) {
        ++FDropped;
        return;
    }
    FOutbox.push_back({std::move(message), telegram});
    Flush();
}

bool Gateway::Sendable() const
{
    return FClient && FClient->Connected() && FClient->InFlight() < MostInFlight;
}

void Gateway::Flush()
{
    while (!FOutbox.empty() && Sendable()) {
        if (!FClient->Publish(FOutbox.front().message)) {
            if (!FClient->Connected())
                return; // kept for the next connection
            // Refused as it is (a request's response topic with a wildcard): it never goes.
            Log("not published, refused by the MQTT library: " + FOutbox.front().message.topic);
        }
        FOutbox.pop_front();
    }
}

void Gateway::BrokerConnected()
{
    Log("connected to " + FOptions.broker.Describe());
    PublishStatus();
    PublishCounters();
    Flush();
}

void Gateway::Refuse(const std::string& id, const std::string& why, const mqtt::Message& request)
{
    const std::string payload = "{\"id\":" + id + ",\"error\":" + JsonString(why) + "}";
    Enqueue({request.responseTopic.empty() ? Topic("result") : request.responseTopic, payload,
             StatusQos, false, request.responseTopic, request.correlationData},
            false);
}

void Gateway::RequestArrived(const mqtt::Message& m)
{
    if (m.topic != Topic("request") || FStopping)
        return;
    if (m.payload.size() > LongestRequest)
        return Refuse("null", "the request is longer than 64 KiB", m);
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(m.payload), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return Refuse("null", "not a JSON object", m);
    const QJsonObject object = document.object();
    std::string id;
    if (object.contains(QLatin1String("id"))) {
        const auto text = IdText(object.value(QLatin1String("id")));
        if (!text)
            return Refuse("null", "\"id\": must be a string or a number", m);
        id = *text;
    }
    const std::string shownId = id.empty() ? "null" : id;
    auto parsed = ParseRequest(m.payload);
    if (const auto* why = std::get_if<std::string>(&parsed))
        return Refuse(shownId, *why, m);
    if (FState != BusState::Online)
        return Refuse(shownId, std::string("the bus is not served: ") + StateWord(FState), m);
    if (PendingRequests() >= MostPendingRequests)
        return Refuse(shownId,
                      "too many requests pending (" + std::to_string(MostPendingRequests) +
                          "); nothing was queued",
                      m);
    FRequests.push_back(
        {std::get<BusRequest>(std::move(parsed)), id, m.responseTopic, m.correlationData});
    ServeNextRequest();
}

void Gateway::ServeNextRequest()
{
    if (FInService || !FStation || FRequests.empty() || FStation->Busy())
        return;
    FInService = std::move(FRequests.front());
    FRequests.pop_front();
    FStation->Start(FInService->request, [this](const RequestResult& r) { RequestDone(r); });
}

void Gateway::RequestDone(const RequestResult& result)
{
    if (!FInService)
        return;
    const PendingRequest request = std::move(*FInService);
    FInService.reset();
    std::string payload = ResultJson(result, RequestOp(request.request));
    if (!request.id.empty()) {
        payload.pop_back(); // the closing brace
        payload += ",\"id\":" + request.id + "}";
    }
    const std::string topic =
        request.responseTopic.empty() ? Topic("result") : request.responseTopic;
    Enqueue({topic, payload, StatusQos, false, request.responseTopic, request.correlation}, false);
    QTimer::singleShot(0, this, &Gateway::ServeNextRequest);
}

void Gateway::Stop()
{
    FStopping = true;
    FDeviceTimer.stop();
    FCountersTimer.stop();
    if (FStation) {
        FBytesBefore += FStation->BytesReceived();
        FStation.reset(); // DTR low, the port closed
    }
    FState = BusState::Offline;
    if (!FClient)
        return;
    Flush();
    PublishStatus();
    FClient->Stop();
    Log("stopped");
}

} // namespace qtr290::gateway
