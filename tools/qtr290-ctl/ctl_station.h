// qtr290-ctl's station: the link and the serial port set up as the window sets them, the bus
// counters and the pending queue it keeps, and one request at a time followed to its removal.
// One thread, the event loop's.
#pragma once

#include "link/Komunikace.h"
#include "serial/com_names.h"
#include "station/busstatistics.h"
#include "station/pendingqueue.h"
#include "station/request.h"
#include "tools/qtr290-ctl/ctl_options.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>

namespace qtr290::ctl {

// Which port to open: a COM number of the link and the names it resolves through.
struct PortChoice {
    int number = 1;
    ComPortNames names;
    unsigned baud = 4800;
    std::string Describe() const; // "COM3 (/dev/ttyUSB0)"
};

// The settings file's port and rate unless the options name them; a rate in the file that is
// no number from 50 to 4000000 is refused (unless --baud names one), naming file and key.
std::variant<PortChoice, UsageError> ChoosePortChecked(const Options& options,
                                                       const QString& settingsFile);
// The same, an unusable rate in the file giving 4800.
PortChoice ChoosePort(const Options& options, const QString& settingsFile);

// The reason a port would not open, in words, from the serial layer's closed set.
std::string OpenFailureText(OpenFailure failure);

class Station final : public LinkObserver {
public:
    explicit Station(PortChoice port);
    ~Station() override;

    // Opens the port as the window does; on failure `why` holds the reason.
    bool Open(std::string& why);
    void Close(); // DTR low, port closed

    // Queues the request and calls `done` once it has left the queue (or the wait ended).
    void Start(const Request& request, RequestFollower::Done done);
    bool Busy() const { return FFollower.Busy(); }
    // Takes the request in flight out of the queue and ends it with `why`.
    void Abandon(RequestResult::Removed why) { FFollower.Abandon(why); }

    std::size_t PendingCount() const { return FLink.PendingCount(); }
    bool DeviceLost() const { return FLost; }
    const PortChoice& Port() const { return FPort; }
    const BusCounts& Counts() const { return FStatistics.Counts(); }
    // One more reader of the link's reports (a gateway's counters, which outlive a station).
    void AddObserver(LinkObserver* observer) { FLink.AddObserver(observer); }
    std::uint64_t BytesReceived() const { return FStatistics.Counts().bytes; }
    // Received bytes the device has counted as lost since the port opened: a line faster than
    // they were read. None where the device keeps no such count (a pseudo-terminal).
    std::optional<std::uint64_t> Overruns();

    // Every intact telegram and every damage, as framed.
    std::function<void(ByteSpan telegram, bool isPoll)> onTelegram;
    std::function<void(FramerError error)> onDamage;
    std::function<void()> onLost;

private:
    void Received(ByteSpan telegram, bool isPoll) override;
    void Damaged(FramerError error) override;

    PortChoice FPort;
    TKomunikace FLink;
    BusStatistics FStatistics;
    PendingQueue FQueue;
    RequestFollower FFollower{FLink, FQueue};
    std::vector<std::uint8_t> FAccumulator;
    std::optional<std::uint64_t> FOverrunsAtOpen;
    bool FLost = false;
};

} // namespace qtr290::ctl
