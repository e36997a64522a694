// qtr290-ctl's station: the link and the serial port set up as the window sets them, a
// request queued and followed until it leaves the queue, the bus watched, and the commands
// run to their exit status. One thread, the event loop's.
#pragma once

#include "link/Komunikace.h"
#include "serial/com_names.h"
#include "tools/qtr290-ctl/ctl_options.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace qtr290::ctl {

// Exit statuses.
inline constexpr int ExitDone = 0;
inline constexpr int ExitInterrupted = 1; // SIGINT or SIGTERM during read, write or batch
inline constexpr int ExitTimeout = 2;
inline constexpr int ExitPort = 3;
inline constexpr int ExitUsage = 4;

// Which port to open: a COM number of the link and the names it resolves through.
struct PortChoice {
    int number = 1;
    ComPortNames names;
    unsigned baud = 4800;
    std::string Describe() const; // "COM3 (/dev/ttyUSB0)"
};

// The settings file's port and rate unless the options name them.
PortChoice ChoosePort(const Options& options, const QString& settingsFile);

// Where the settings file is: QTR290_SETTINGS, else the installed utility's.
QString SettingsFile();

// The reason a port would not open, in words, from the serial layer's closed set.
std::string OpenFailureText(OpenFailure failure);

struct RequestResult {
    enum class Removed { Reply, OnceOnly, Timeout, Interrupted, PortLost };
    std::vector<std::uint8_t> request; // the telegram, without the lead byte
    int sent = 0;
    Removed removed = Removed::Timeout;
    std::vector<std::uint8_t> releasedBy; // the telegram that removed it (Reply only)
    std::optional<long long> waitMs;      // queueing to the first transmission
    std::optional<long long> replyMs;     // the last transmission to the removal
};

class Station final : public LinkObserver {
public:
    explicit Station(PortChoice port);
    ~Station() override;

    // Opens the port as the window does; on failure `why` holds the reason.
    bool Open(std::string& why);
    void Close(); // DTR low, port closed

    // Queues the request and calls `done` once it has left the queue (or the wait ended).
    void Start(const Request& request, std::function<void(const RequestResult&)> done);
    bool Busy() const { return FDone != nullptr; }
    // Takes the request in flight out of the queue and ends it with `why`.
    void Abandon(RequestResult::Removed why);

    std::size_t PendingCount() const { return FLink.PendingCount(); }
    // One more reader of the link's reports (the gateway's counters).
    void AddObserver(LinkObserver* observer) { FLink.AddObserver(observer); }
    bool DeviceLost() const { return FLost; }
    const PortChoice& Port() const { return FPort; }

    // Every intact telegram and every damage, as framed; the bytes of each chunk read.
    std::function<void(ByteSpan telegram, bool isPoll)> onTelegram;
    std::function<void(FramerError error)> onDamage;
    std::function<void()> onLost;
    std::uint64_t BytesReceived() const { return FBytes; }
    std::uint64_t SentCount() const { return FSentTotal; }
    std::uint64_t AnswerCount() const { return FAnswers; }

private:
    void Received(ByteSpan telegram, bool isPoll) override;
    void Damaged(FramerError error) override;
    void Queued(ByteSpan telegram) override;
    void Sent(ByteSpan telegram, bool answeringPoll) override;
    void Removed(LinkObserver::Removal why) override;
    void Finish(RequestResult::Removed why);
    bool Enqueue(); // the request in FRequest, its data staged first

    PortChoice FPort;
    Request FRequest;
    TKomunikace FLink;
    std::vector<std::uint8_t> FAccumulator;
    std::vector<std::uint8_t> FLastNonPoll;
    std::function<void(const RequestResult&)> FDone;
    RequestResult FResult;
    QElapsedTimer FQueuedAt, FLastSentAt;
    QTimer* FDeadline = nullptr; // child of FContext
    QObject FContext;            // deferred reports die with the station
    bool FLost = false;
    std::uint64_t FBytes = 0, FSentTotal = 0, FAnswers = 0;
};

// The result line: one JSON object (with "op" for a batch) or one readable line.
std::string FormatResult(const RequestResult& result, bool json, const char* op = nullptr);
// One monitor line: a telegram, or a damage when `error` is set.
std::string FormatTelegram(const std::string& time, ByteSpan telegram, bool json);
std::string FormatDamage(const std::string& time, FramerError error, bool json);
std::string JsonString(std::string_view text);

// Stop requests from SIGINT and SIGTERM, polled by the commands.
void InstallStopHandlers();
bool StopRequested();
void ResetStop();

// The whole program after QCoreApplication exists: parses the arguments, runs the command,
// returns the exit status. Batch requests are read from `inputFd` as they arrive.
int Run(const std::vector<std::string>& args, int inputFd, std::ostream& out, std::ostream& err);

std::string HelpText();

} // namespace qtr290::ctl
