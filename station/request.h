// A station's request of a device's memory: staged and queued as the composer queues it, then
// followed through the pending queue to its removal (a reply, the once-only rule, a clear, its
// timeout) with its wait and reply times. One request at a time; the event loop's thread.
#pragma once

#include "link/Komunikace.h"
#include "station/pendingqueue.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QTimer;

namespace qtr290 {

struct StationRequest {
    bool write = false;
    std::uint8_t area = 0;          // area code 0x00 .. 0x60
    std::uint32_t address = 0;      // 24 bits
    std::uint8_t count = 0;         // bytes to read; for a write the number of data bytes
    std::vector<std::uint8_t> data; // a write's bytes, staged from position 1
    std::uint8_t to = 0x00;
    std::uint8_t from = 0xF0;
    bool now = false; // transmitted at once as well as at each poll until removed
    double timeoutSeconds = 5.0;

    bool operator==(const StationRequest&) const = default;
};

// Stages the data bytes and queues the request. False, and nothing queued, for a write whose
// Count exceeds MaxWriteCount.
bool StageAndQueue(TKomunikace& link, const StationRequest& request);

struct RequestResult {
    // Reply, OnceOnly and Cleared are the queue's reasons; the others are why the station
    // took it out itself.
    enum class Removed { Reply, OnceOnly, Cleared, Timeout, Interrupted, PortLost };
    std::vector<std::uint8_t> request; // the telegram, without the lead byte
    int sent = 0;
    Removed removed = Removed::Timeout;
    std::vector<std::uint8_t> releasedBy; // the telegram that removed it (Reply only)
    std::optional<long long> waitMs;      // queueing to the first transmission
    std::optional<long long> replyMs;     // the last transmission to the removal (Reply, OnceOnly)
};

// The result a departure from the queue gives.
RequestResult ResultOf(const PendingQueue::Departure& departure, RequestResult::Removed removed);

class RequestFollower {
public:
    using Done = std::function<void(const RequestResult&)>;

    // The queue must observe the link; the follower takes the queue's departure listener.
    RequestFollower(TKomunikace& link, PendingQueue& queue);
    ~RequestFollower();
    RequestFollower(const RequestFollower&) = delete;
    RequestFollower& operator=(const RequestFollower&) = delete;

    // Queues the request and calls `done` once, after the chunk in hand, when it has left the
    // queue or its time ran out. A request removed by a reply before it ever went out
    // answered an earlier one: it is queued again for its own turn.
    void Start(const StationRequest& request, Done done);
    bool Busy() const { return static_cast<bool>(FDone); }
    // Takes the request in flight out of the queue and ends it with `why`.
    void Abandon(RequestResult::Removed why);

private:
    void Departed(const PendingQueue::Departure& departure);
    bool Enqueue();
    void Finish(RequestResult result);

    TKomunikace& FLink;
    PendingQueue& FQueue;
    StationRequest FRequest;
    Done FDone;
    std::uint64_t FItemId = 0; // the queue's id of the request, 0 while not queued
    RequestResult FLastKnown;
    std::optional<RequestResult::Removed> FAbandoning;
    QObject FContext; // deferred calls and the deadline die with the follower
    QTimer* FDeadline = nullptr;
};

} // namespace qtr290
