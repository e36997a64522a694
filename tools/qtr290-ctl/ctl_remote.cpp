#include "tools/qtr290-ctl/ctl_remote.h"

#include "link/hextext.h"
#include "mqtt/client.h"
#include "mqtt/password.h"
#include "station/requestjson.h"
#include "tools/qtr290-ctl/ctl_commands.h"
#include "tools/qtr290-ctl/ctl_input.h"
#include "tools/qtr290-ctl/ctl_output.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTimer>

#include <memory>
#include <optional>
#include <ostream>

namespace qtr290::ctl {

namespace {

constexpr int StopCheckMs = 20;
constexpr int RequestQos = 1;

struct Topics {
    std::string gateway; // "P/NAME", in messages
    std::string status, telegram, error, request, response;
};

// This run's own response topic under the bus's results, so that an ACL granting
// PREFIX/+/result/# covers it and no other run's results come here.
Topics TopicsOf(const BrokerOptions& b)
{
    const std::string gateway = b.prefix + '/' + b.bus;
    const quint64 token = QRandomGenerator::system()->generate64();
    return {gateway,
            gateway + "/status",
            gateway + "/telegram",
            gateway + "/error",
            gateway + "/request",
            gateway + "/result/" + QByteArray::number(token, 16).toStdString()};
}

// Text from the broker shown on a terminal: no control characters.
std::string Plain(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

QJsonObject ObjectOf(const std::string& payload)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object();
}

std::string TextOf(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString().toStdString();
}

// What the monitor saw through the broker (answers and sent are the gateway's own).
struct SeenCounts {
    unsigned long telegrams = 0, polls = 0, headerErrors = 0, blockErrors = 0, unreadable = 0;
    std::string Summary() const
    {
        std::string s = "telegrams=" + std::to_string(telegrams) +
                        " polls=" + std::to_string(polls) +
                        " header_errors=" + std::to_string(headerErrors) +
                        " block_errors=" + std::to_string(blockErrors);
        if (unreadable)
            s += " unreadable_messages=" + std::to_string(unreadable);
        return s + " (as the gateway published them)";
    }
};

// One run of a command through a gateway: the broker connection, the gateway's status, the
// requests one at a time (the next batch line is read only when the result before it came),
// the stop signals and the output, whose failure ends the run.
class RemoteSession {
public:
    RemoteSession(const Options& options, mqtt::ClientOptions client, std::ostream& out,
                  std::ostream& err)
        : FOptions(options), FBroker(client.broker.Describe()), FTopics(TopicsOf(*options.broker)),
          FClient(std::move(client)), FOut(out), FErr(err)
    {
    }
    int Run(int inputFd);

private:
    void Subscribe();
    void WatchStops();
    void Arrived(const mqtt::Message& m);
    void StatusArrived(const std::string& payload);
    void NoStatusInTime();
    void StartCommand();
    void Send(const Request& request);
    void ResultArrived(const mqtt::Message& m);
    void Finished(const RequestResult& result);
    void PumpBatch();
    void TelegramArrived(const std::string& payload);
    void DamageArrived(const std::string& payload);
    bool Print(const std::string& line);
    void Fail(int status, const std::string& why);
    void End(int status)
    {
        if (FEnded)
            return;
        FEnded = true;
        FLoop.exit(status);
    }

    const Options& FOptions;
    std::string FBroker;
    Topics FTopics;
    mqtt::Client FClient;
    std::ostream& FOut;
    std::ostream& FErr;
    int FInputFd = -1;
    QEventLoop FLoop;
    QTimer FWatch, FStatusDeadline, FResultDeadline, FDuration;
    std::unique_ptr<LineInput> FInput;
    bool FStarted = false, FEnded = false;
    std::optional<Request> FAwaited; // sent; its result not here yet
    std::string FCorrelation;
    unsigned long FNextId = 1, FShown = 0;
    SeenCounts FSeen;
};

bool RemoteSession::Print(const std::string& line)
{
    if (FEnded)
        return false;
    if (PrintLine(FOut, FErr, line))
        return true;
    End(ExitStream);
    return false;
}

void RemoteSession::Fail(int status, const std::string& why)
{
    if (FEnded)
        return;
    FErr << "qtr290-ctl: " << why << '\n';
    End(status);
}

void RemoteSession::Subscribe()
{
    FClient.Subscribe(FTopics.status, RequestQos);
    if (FOptions.command == Command::Monitor) {
        FClient.Subscribe(FTopics.telegram, RequestQos);
        FClient.Subscribe(FTopics.error, RequestQos);
    } else {
        FClient.Subscribe(FTopics.response, RequestQos);
    }
    FClient.onMessage = [this](const mqtt::Message& m) { Arrived(m); };
    FClient.onDisconnected = [this](const std::string& why) {
        if (FStarted && !FEnded)
            FErr << "qtr290-ctl: " << FBroker << ": " << Plain(why) << "; trying again\n";
    };
}

void RemoteSession::WatchStops()
{
    QObject::connect(&FWatch, &QTimer::timeout, [this] {
        if (StopRequested())
            End(FOptions.command == Command::Monitor ? ExitDone : ExitInterrupted);
    });
    FWatch.start(StopCheckMs);
    FStatusDeadline.setSingleShot(true);
    QObject::connect(&FStatusDeadline, &QTimer::timeout, [this] { NoStatusInTime(); });
    FStatusDeadline.start(static_cast<int>(FOptions.request.timeoutSeconds * 1000));
    FResultDeadline.setSingleShot(true);
    QObject::connect(&FResultDeadline, &QTimer::timeout, [this] {
        Fail(ExitPort, "no result from the gateway of " + FTopics.gateway +
                           " in time (is it run "
                           "with --allow-requests?)");
    });
}

void RemoteSession::Arrived(const mqtt::Message& m)
{
    if (FEnded)
        return;
    if (m.topic == FTopics.status)
        StatusArrived(m.payload);
    else if (m.topic == FTopics.response)
        ResultArrived(m);
    else if (FStarted && m.topic == FTopics.telegram)
        TelegramArrived(m.payload);
    else if (FStarted && m.topic == FTopics.error)
        DamageArrived(m.payload);
}

// The gateway's retained status: online starts the command, anything else ends the run as a
// port that cannot be opened or went away ends a local one.
void RemoteSession::StatusArrived(const std::string& payload)
{
    const QJsonObject status = ObjectOf(payload);
    const std::string state = TextOf(status, "state");
    if (state == "online") {
        if (!FStarted)
            StartCommand();
        return;
    }
    std::string why = "the gateway of " + FTopics.gateway + (FStarted ? " went " : " is ") +
                      (state.empty() ? std::string("in an unknown state") : Plain(state));
    if (const std::string device = TextOf(status, "device"); !device.empty())
        why += " (" + Plain(device) + ")";
    Fail(ExitPort, why);
}

void RemoteSession::NoStatusInTime()
{
    if (FStarted)
        return;
    const std::string seconds = QByteArray::number(FOptions.request.timeoutSeconds).toStdString();
    if (!FClient.Connected()) {
        const std::string last = FClient.LastError().empty() ? "no answer" : FClient.LastError();
        return Fail(ExitPort, "cannot reach the broker " + FBroker + " within " + seconds +
                                  " s: " + Plain(last));
    }
    Fail(ExitPort, "no status of a gateway on " + FTopics.status + " within " + seconds +
                       " s (no qtr290-gateway has served this --bus and --prefix)");
}

void RemoteSession::StartCommand()
{
    FStarted = true;
    FStatusDeadline.stop();
    switch (FOptions.command) {
    case Command::Read:
    case Command::Write:
        Send(FOptions.request);
        break;
    case Command::Batch:
        FInput = std::make_unique<LineInput>(FInputFd, [this] { PumpBatch(); });
        QTimer::singleShot(0, &FLoop, [this] { PumpBatch(); });
        break;
    case Command::Monitor:
        if (FOptions.durationSeconds) {
            FDuration.setSingleShot(true);
            QObject::connect(&FDuration, &QTimer::timeout, [this] { End(ExitDone); });
            FDuration.start(static_cast<int>(*FOptions.durationSeconds * 1000));
        }
        break;
    case Command::None:
        End(ExitUsage);
        break;
    }
}

void RemoteSession::Send(const Request& request)
{
    const std::string id = std::to_string(FNextId++);
    FCorrelation = id;
    const std::string payload = RequestJson(request, "\"id\":" + id);
    if (!FClient.Publish(
            {FTopics.request, payload, RequestQos, false, FTopics.response, FCorrelation}))
        return Fail(ExitPort,
                    "the broker " + FBroker + " took no request: " +
                        Plain(FClient.LastError().empty() ? "not connected" : FClient.LastError()));
    FAwaited = request;
    FResultDeadline.start(static_cast<int>(request.timeoutSeconds * 1000) + RemoteResultGraceMs);
}

void RemoteSession::ResultArrived(const mqtt::Message& m)
{
    if (!FAwaited || m.correlationData != FCorrelation)
        return; // a result of a request this run no longer waits for
    FResultDeadline.stop();
    const bool batch = FOptions.command == Command::Batch;
    const QJsonObject reply = ObjectOf(m.payload);
    if (reply.contains(QLatin1String("error"))) {
        FAwaited.reset();
        const std::string error = TextOf(reply, "error");
        if (!batch)
            return Fail(ExitPort, "the gateway of " + FTopics.gateway +
                                      " refused the request: " + Plain(error));
        if (Print(ErrorJson(error)))
            PumpBatch();
        return;
    }
    const auto parsed = ParseResultJson(m.payload);
    if (const auto* bad = std::get_if<RequestError>(&parsed))
        return Fail(ExitPort, "the gateway's result is unreadable: " + Plain(bad->message));
    Finished(std::get<RequestResult>(parsed));
}

void RemoteSession::Finished(const RequestResult& result)
{
    const Request request = *FAwaited;
    FAwaited.reset();
    if (result.removed == RequestResult::Removed::PortLost)
        return Fail(ExitPort, "the device of the gateway of " + FTopics.gateway + " went away");
    if (FOptions.command != Command::Batch) {
        if (Print(FormatResult(result, FOptions.json)))
            End(ExitFor(result.removed));
        return;
    }
    if (Print(FormatResult(result, true, request.write ? "write" : "read")))
        PumpBatch();
}

// Takes the next line only when the result before it came: input waits in its pipe.
void RemoteSession::PumpBatch()
{
    while (!FAwaited && !FEnded) {
        const BatchStep step = NextBatchRequest(*FInput, FOptions.request,
                                                [this](const std::string& line) { Print(line); });
        if (step.kind == BatchStep::Kind::Failure)
            Fail(ExitStream, "standard input: " + FInput->Failure());
        if (step.kind == BatchStep::Kind::End)
            End(ExitDone);
        if (step.kind != BatchStep::Kind::Ready)
            return;
        Send(step.request);
    }
}

// A telegram as the gateway published it, printed as the local monitor prints one; the
// bytes are checked and the line made anew, so nothing else a publisher put there passes.
void RemoteSession::TelegramArrived(const std::string& payload)
{
    const QJsonObject o = ObjectOf(payload);
    const auto bytes = BytesOfHexText(TextOf(o, "hex"));
    if (!bytes || bytes->size() < MinTelegramLength ||
        ((*bytes)[0] != SyncLong && (*bytes)[0] != SyncShort)) {
        ++FSeen.unreadable;
        return;
    }
    const ByteSpan t(*bytes);
    const bool isPoll = IsPoll(t);
    ++FSeen.telegrams;
    FSeen.polls += isPoll;
    const Options& op = FOptions;
    if ((op.noPolls && isPoll) || (op.filterFrom && TelegramFrom(t) != *op.filterFrom) ||
        (op.filterTo && TelegramTo(t) != *op.filterTo))
        return;
    if (Print(FormatTelegram(Plain(TextOf(o, "time")), t, op.json)) && op.stopAfterCount &&
        ++FShown >= *op.stopAfterCount)
        End(ExitDone);
}

void RemoteSession::DamageArrived(const std::string& payload)
{
    const QJsonObject o = ObjectOf(payload);
    const std::string kind = TextOf(o, "error");
    if (kind != "header" && kind != "block") {
        ++FSeen.unreadable;
        return;
    }
    const bool header = kind == "header";
    ++(header ? FSeen.headerErrors : FSeen.blockErrors);
    Print(FormatDamage(Plain(TextOf(o, "time")),
                       header ? FramerError::HeaderChecksum : FramerError::BlockChecksum,
                       FOptions.json));
}

int RemoteSession::Run(int inputFd)
{
    FInputFd = inputFd;
    Subscribe();
    std::string why;
    if (!FClient.Start(why)) {
        FErr << "qtr290-ctl: --broker " << FBroker << ": " << why << '\n';
        return ExitUsage;
    }
    if (FOptions.verbose)
        FErr << "qtr290-ctl: broker " << FBroker << ", gateway " << FTopics.gateway
             << ", results on " << FTopics.response << '\n';
    WatchStops();
    const int status = FLoop.exec();
    FClient.Stop();
    if (FOptions.command == Command::Monitor)
        FErr << "qtr290-ctl: " << FSeen.Summary() << '\n';
    return status;
}

// The client's options from the command line; nothing, with `why`, when unusable.
std::optional<mqtt::ClientOptions> ClientOptionsOf(const BrokerOptions& b, std::string& why)
{
    mqtt::ClientOptions client;
    const auto address = mqtt::ParseBrokerUrl(b.url, why);
    if (!address) {
        why = "--broker " + why;
        return std::nullopt;
    }
    client.broker = *address;
    const auto password = mqtt::ReadPassword(b.passwordFile, why);
    if (!password)
        return std::nullopt;
    client.username = b.username;
    client.password = *password;
    client.caFile = b.caFile;
    client.certFile = b.certFile;
    client.keyFile = b.keyFile;
    return client;
}

} // namespace

int RunRemote(const Options& options, int inputFd, std::ostream& out, std::ostream& err)
{
    std::string why;
    auto client = ClientOptionsOf(*options.broker, why);
    if (!client) {
        err << "qtr290-ctl: " << why << "\nTry 'qtr290-ctl --help'.\n";
        return ExitUsage;
    }
    return RemoteSession(options, std::move(*client), out, err).Run(inputFd);
}

} // namespace qtr290::ctl
