#include "tools/qtr290-ctl/ctl_station.h"

#include "link/hextext.h"
#include "settings/settings.h"
#include "settings/textconv.h"

#include <QDateTime>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <deque>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

#ifndef QTR290_VERSION
#define QTR290_VERSION "0"
#endif
#ifndef QTR290_PROGRAM_DIR
#define QTR290_PROGRAM_DIR "."
#endif

namespace qtr290::ctl {

namespace {

constexpr int HighestPortItem = 256; // the window's port list: COM1 .. COM256
constexpr unsigned DefaultBaud = 4800;
constexpr int StopCheckMs = 20;
constexpr std::size_t LongestBatchLine = 64 * 1024;

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int)
{
    g_stop = 1;
}

std::string Hex(ByteSpan bytes)
{
    std::string text = ChunkText(bytes);
    if (!text.empty())
        text.pop_back(); // "XX XX", no trailing blank
    return text;
}

std::string JsonHexOrNull(const std::vector<std::uint8_t>& bytes)
{
    return bytes.empty() ? "null" : JsonString(Hex(bytes));
}

std::string JsonNumberOrNull(const std::optional<long long>& value)
{
    return value ? std::to_string(*value) : "null";
}

const char* RemovedWord(RequestResult::Removed removed)
{
    switch (removed) {
    case RequestResult::Removed::Reply:
        return "reply";
    case RequestResult::Removed::OnceOnly:
        return "once-only";
    case RequestResult::Removed::Timeout:
        return "timeout";
    case RequestResult::Removed::Interrupted:
        return "interrupted";
    case RequestResult::Removed::PortLost:
        break;
    }
    return "port-lost";
}

std::string Now()
{
    return QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toStdString();
}

} // namespace

std::string JsonString(std::string_view text)
{
    std::string s = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            s += '\\';
            s += c;
        } else if (u < 0x20) {
            static constexpr char digits[] = "0123456789abcdef";
            s += "\\u00";
            s += digits[u >> 4];
            s += digits[u & 0x0F];
        } else {
            s += c;
        }
    }
    return s + '"';
}

std::string PortChoice::Describe() const
{
    const std::string device = names.Device(number);
    return "COM" + std::to_string(number) + " (" + (device.empty() ? "no device" : device) + ")";
}

QString SettingsFile()
{
    const QString path = qEnvironmentVariable("QTR290_SETTINGS");
    if (!path.isEmpty())
        return path;
    return LocateFiles(SystemFolders(QStringLiteral(QTR290_PROGRAM_DIR))).settingsFile;
}

PortChoice ChoosePort(const Options& options, const QString& settingsFile)
{
    IniProfile ini(settingsFile);
    ini.Load(); // an unreadable file reads as the defaults, as in the window
    const Settings settings = ReadSettings(ini);
    PortChoice port;
    if (options.device) {
        port.number = 1;
        port.names = ComPortNames({{1, *options.device}});
    } else {
        // The window's list item, and the link's one-byte port number for it.
        const int item = settings.port >= 1 && settings.port <= HighestPortItem ? settings.port : 0;
        port.number = static_cast<std::uint8_t>(item);
        port.names = settings.ports;
    }
    if (options.baud) {
        port.baud = *options.baud;
    } else {
        const auto rate = ParseInteger(settings.baudRate.toStdString());
        port.baud = rate && *rate > 0 ? static_cast<unsigned>(*rate) : DefaultBaud;
    }
    return port;
}

std::string OpenFailureText(OpenFailure failure)
{
    switch (failure) {
    case OpenFailure::NoDevice:
        return "no device is assigned to this COM number ([Porty] in nastaveni.ini)";
    case OpenFailure::NotFound:
        return "the device does not exist";
    case OpenFailure::NoPermission:
        return "permission denied (is the user in the group dialout?)";
    case OpenFailure::Busy:
        return "the port is in use by another program";
    case OpenFailure::Settings:
        return "the device refused the line settings (not a serial port?)";
    case OpenFailure::None:
        break;
    }
    return "the port could not be opened";
}

// ---- Station ----

Station::Station(PortChoice port) : FPort(std::move(port)), FLink(MakeSystemPlatform(FPort.names))
{
    FLink.AddObserver(this);
    FLink.NastavVychozi();
    FLink.NastavPort(static_cast<std::uint8_t>(FPort.number));
    FLink.SeriovyPort().SetOnDeviceLost([this](TSerialPortDriver&) {
        FLost = true;
        Close();
        Abandon(RequestResult::Removed::PortLost);
        if (onLost)
            onLost();
    });
}

Station::~Station()
{
    Close();
    FLink.RemoveObserver(this);
}

bool Station::Open(std::string& why)
{
    if (!FLink.Otevri(static_cast<int>(FPort.baud))) {
        why = OpenFailureText(FLink.SeriovyPort().LastOpenFailure());
        return false;
    }
    FLink.NastavDTR(false);
    FLink.NastavPrijem([this](TSerialPortDriver&, std::span<const std::uint8_t> chunk) {
        FBytes += chunk.size();
        FAccumulator.insert(FAccumulator.end(), chunk.begin(), chunk.end());
        FLink.ZpracujPrijem(FAccumulator, {});
    });
    return true;
}

void Station::Close()
{
    if (FLink.SeriovyPort().Connected()) {
        FLink.NastavDTR(false);
        FLink.Zavri();
    }
}

void Station::Start(const Request& request, std::function<void(const RequestResult&)> done)
{
    FResult = {};
    FDone = std::move(done);
    FRequest = request;
    FQueuedAt.start();
    if (!Enqueue()) {
        Finish(RequestResult::Removed::Timeout); // a write too long for the queue: never sent
        return;
    }
    delete FDeadline;
    FDeadline = new QTimer(&FContext);
    FDeadline->setSingleShot(true);
    FDeadline->setTimerType(Qt::PreciseTimer);
    QObject::connect(FDeadline, &QTimer::timeout,
                     [this] { Abandon(RequestResult::Removed::Timeout); });
    FDeadline->start(static_cast<int>(request.timeoutSeconds * 1000));
    if (request.now)
        FLink.PosliCekajici();
}

bool Station::Enqueue()
{
    for (std::size_t i = 0; i < FRequest.data.size(); ++i)
        FLink.ZapisDataByte(static_cast<int>(i + 1), FRequest.data[i]);
    return FLink.ZaradTLG(FRequest.from, FRequest.to, FRequest.write, FRequest.area,
                          FRequest.address, FRequest.count);
}

void Station::Abandon(RequestResult::Removed why)
{
    if (!Busy())
        return;
    FLink.VymazFrontu();
    Finish(why);
}

void Station::Received(ByteSpan telegram, bool isPoll)
{
    if (!isPoll)
        FLastNonPoll.assign(telegram.begin(), telegram.end());
    if (onTelegram)
        onTelegram(telegram, isPoll);
}

void Station::Damaged(FramerError error)
{
    if (onDamage)
        onDamage(error);
}

void Station::Queued(ByteSpan telegram)
{
    if (Busy())
        FResult.request.assign(telegram.begin(), telegram.end());
}

void Station::Sent(ByteSpan, bool answeringPoll)
{
    ++FSentTotal;
    FAnswers += answeringPoll ? 1 : 0;
    if (!Busy())
        return;
    if (FResult.sent++ == 0)
        FResult.waitMs = FQueuedAt.elapsed();
    FLastSentAt.start();
}

void Station::Removed(LinkObserver::Removal why)
{
    if (!Busy() || why == LinkObserver::Removal::Cleared)
        return;
    // Taken out before it ever went out: the telegram that did it answered an earlier
    // request (polls faster than request and reply), not this one. It queues again for its
    // own turn instead of reporting a reply it never had; after the chunk, as the link
    // may still be framing it.
    if (why == LinkObserver::Removal::Reply && FResult.sent == 0) {
        QTimer::singleShot(0, &FContext, [this] {
            if (Busy() && FLink.PendingCount() == 0)
                Enqueue();
        });
        return;
    }
    if (why == LinkObserver::Removal::Reply)
        FResult.releasedBy = FLastNonPoll;
    Finish(why == LinkObserver::Removal::Reply ? RequestResult::Removed::Reply
                                               : RequestResult::Removed::OnceOnly);
}

void Station::Finish(RequestResult::Removed why)
{
    FResult.removed = why;
    if (FResult.sent > 0 &&
        (why == RequestResult::Removed::Reply || why == RequestResult::Removed::OnceOnly))
        FResult.replyMs = FLastSentAt.elapsed();
    if (FDeadline)
        FDeadline->stop();
    // Delivered after the chunk in hand is framed: a request queued by the caller must not
    // meet the rest of the telegrams that were read before it existed.
    QTimer::singleShot(0, &FContext, [done = std::move(FDone), result = FResult] { done(result); });
    FDone = nullptr;
}

// ---- Output ----

std::string FormatResult(const RequestResult& r, bool json, const char* op)
{
    if (json) {
        std::string s = "{";
        if (op)
            s += "\"op\":" + JsonString(op) + ",";
        s += "\"request\":" + JsonHexOrNull(r.request) + ",\"sent\":" + std::to_string(r.sent) +
             ",\"removed\":" + JsonString(RemovedWord(r.removed)) +
             ",\"released_by\":" + JsonHexOrNull(r.releasedBy) +
             ",\"wait_ms\":" + JsonNumberOrNull(r.waitMs) +
             ",\"reply_ms\":" + JsonNumberOrNull(r.replyMs) + "}";
        return s;
    }
    std::string s;
    switch (r.removed) {
    case RequestResult::Removed::Reply:
        s = "reply " + Hex(r.releasedBy);
        break;
    case RequestResult::Removed::OnceOnly:
        s = "sent once (a once-only station's telegram)";
        break;
    default:
        s = std::string(RemovedWord(r.removed)) + ": no reply, request taken out of the queue";
        break;
    }
    s += "  [request " + Hex(r.request) + ", sent " + std::to_string(r.sent) + "x";
    if (r.waitMs)
        s += ", waited " + std::to_string(*r.waitMs) + " ms";
    if (r.replyMs)
        s += ", reply after " + std::to_string(*r.replyMs) + " ms";
    return s + "]";
}

std::string FormatTelegram(const std::string& time, ByteSpan t, bool json)
{
    if (!json)
        return time + "  " + Hex(t);
    const bool isLong = t[0] == SyncLong;
    std::string s = "{\"time\":" + JsonString(time) + ",\"hex\":" + JsonString(Hex(t)) +
                    ",\"kind\":" + (isLong ? "\"long\"" : "\"short\"") +
                    ",\"to\":" + JsonString(HexByte(TelegramTo(t))) +
                    ",\"from\":" + JsonString(HexByte(TelegramFrom(t))) +
                    ",\"poll\":" + (IsPoll(t) ? "true" : "false");
    if (isLong)
        s += ",\"device\":" + JsonString(HexByte(t[3])) + ",\"length\":" + std::to_string(t[4]);
    return s + "}";
}

std::string FormatDamage(const std::string& time, FramerError error, bool json)
{
    if (!json)
        return time + "  " + std::string(FramerErrorText(error));
    return "{\"time\":" + JsonString(time) +
           ",\"error\":" + (error == FramerError::HeaderChecksum ? "\"header\"" : "\"block\"") +
           "}";
}

// ---- Signals ----

void InstallStopHandlers()
{
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested()
{
    return g_stop != 0;
}

void ResetStop()
{
    g_stop = 0;
}

// ---- The commands ----

namespace {

// Lines arriving on a descriptor, read as they come so that the port is served meanwhile.
class LineInput {
public:
    LineInput(int fd, std::function<void()> changed) : FFd(fd), FChanged(std::move(changed))
    {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            while (!FEnd)
                ReadSome(); // a file never blocks
        } else {
            FNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] {
                ReadSome();
                FChanged();
            });
        }
    }
    bool AtEnd() const { return FEnd && FLines.empty(); }
    std::optional<std::string> Next()
    {
        if (FLines.empty())
            return std::nullopt;
        std::string line = std::move(FLines.front());
        FLines.pop_front();
        return line;
    }

private:
    void ReadSome()
    {
        char chunk[4096];
        const ssize_t n = ::read(FFd, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            FEnd = true;
            if (FNotifier)
                FNotifier->setEnabled(false);
            if (!FPartial.empty())
                FLines.push_back(std::exchange(FPartial, {}));
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (chunk[i] == '\n') {
                FLines.push_back(std::exchange(FPartial, {}));
            } else if (FPartial.size() < LongestBatchLine) {
                FPartial.push_back(chunk[i]); // beyond that the line fails to parse anyway
            }
        }
    }

    int FFd;
    std::function<void()> FChanged;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::deque<std::string> FLines;
    std::string FPartial;
    bool FEnd = false;
};

int ExitFor(RequestResult::Removed removed)
{
    switch (removed) {
    case RequestResult::Removed::Reply:
    case RequestResult::Removed::OnceOnly:
        return ExitDone;
    case RequestResult::Removed::Timeout:
        return ExitTimeout;
    case RequestResult::Removed::Interrupted:
        return ExitInterrupted;
    case RequestResult::Removed::PortLost:
        break;
    }
    return ExitPort;
}

bool IsBlank(const std::string& line)
{
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

} // namespace

int Run(const std::vector<std::string>& args, int inputFd, std::ostream& out, std::ostream& err)
{
    const auto parsed = ParseArguments(args);
    if (const auto* usage = std::get_if<UsageError>(&parsed)) {
        err << "qtr290-ctl: " << usage->message << "\nTry 'qtr290-ctl --help'.\n";
        return ExitUsage;
    }
    const Options& o = std::get<Options>(parsed);
    if (o.help) {
        out << HelpText();
        return ExitDone;
    }
    if (o.version) {
        out << "qtr290-ctl " << QTR290_VERSION << '\n';
        return ExitDone;
    }

    Station station(ChoosePort(o, SettingsFile()));
    std::string why;
    if (!station.Open(why)) {
        err << "qtr290-ctl: cannot open " << station.Port().Describe() << ": " << why << '\n';
        return ExitPort;
    }

    QEventLoop loop;
    bool stopping = false;
    auto portLost = [&] {
        err << "qtr290-ctl: " << station.Port().Describe() << ": the device went away\n";
        loop.exit(ExitPort);
    };
    station.onLost = portLost;

    // Monitor counts, as the overview keeps them.
    std::uint64_t telegrams = 0, polls = 0, shown = 0, headerErrors = 0, blockErrors = 0;
    std::unique_ptr<LineInput> input;
    std::function<void()> pump;

    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!StopRequested() || stopping)
            return;
        stopping = true;
        station.Abandon(RequestResult::Removed::Interrupted);
        loop.exit(o.command == Command::Monitor ? ExitDone : ExitInterrupted);
    });
    watch.start(StopCheckMs);

    QTimer duration;
    switch (o.command) {
    case Command::Read:
    case Command::Write:
        station.Start(o.request, [&](const RequestResult& r) {
            if (r.removed == RequestResult::Removed::PortLost ||
                r.removed == RequestResult::Removed::Interrupted)
                return;
            out << FormatResult(r, o.json) << std::endl;
            loop.exit(ExitFor(r.removed));
        });
        break;
    case Command::Monitor:
        station.onTelegram = [&](ByteSpan t, bool isPoll) {
            ++telegrams;
            polls += isPoll ? 1 : 0;
            if ((o.noPolls && isPoll) || (o.filterFrom && TelegramFrom(t) != *o.filterFrom) ||
                (o.filterTo && TelegramTo(t) != *o.filterTo))
                return;
            out << FormatTelegram(Now(), t, o.json) << std::endl;
            if (o.stopAfterCount && ++shown >= *o.stopAfterCount)
                loop.exit(ExitDone);
        };
        station.onDamage = [&](FramerError e) {
            ++(e == FramerError::HeaderChecksum ? headerErrors : blockErrors);
            out << FormatDamage(Now(), e, o.json) << std::endl;
        };
        if (o.durationSeconds) {
            duration.setSingleShot(true);
            QObject::connect(&duration, &QTimer::timeout, [&] { loop.exit(ExitDone); });
            duration.start(static_cast<int>(*o.durationSeconds * 1000));
        }
        break;
    case Command::Batch:
        pump = [&] {
            while (!station.Busy() && !stopping && !station.DeviceLost()) {
                auto line = input->Next();
                if (!line) {
                    if (input->AtEnd())
                        loop.exit(ExitDone);
                    return;
                }
                if (IsBlank(*line))
                    continue;
                const auto request = ParseBatchLine(*line, o.request);
                if (const auto* bad = std::get_if<UsageError>(&request)) {
                    out << "{\"error\":" << JsonString(bad->message) << "}" << std::endl;
                    continue;
                }
                const Request& r = std::get<Request>(request);
                station.Start(r, [&, op = r.write ? "write" : "read"](const RequestResult& result) {
                    if (result.removed == RequestResult::Removed::PortLost ||
                        result.removed == RequestResult::Removed::Interrupted)
                        return;
                    out << FormatResult(result, true, op) << std::endl;
                    pump();
                });
            }
        };
        input = std::make_unique<LineInput>(inputFd, [&] { pump(); });
        QTimer::singleShot(0, [&] { pump(); });
        break;
    case Command::None:
        break;
    }

    const int status = loop.exec();
    station.Close();
    if (o.command == Command::Monitor)
        err << "qtr290-ctl: telegrams=" << telegrams << " polls=" << polls
            << " answers=" << station.AnswerCount() << " header_errors=" << headerErrors
            << " block_errors=" << blockErrors << " sent=" << station.SentCount()
            << " bytes=" << station.BytesReceived() << '\n';
    return status;
}

} // namespace qtr290::ctl
