// The link's pending queue as a station follows it: each pending telegram with how many times
// it went out, when first and last, and a log of why each one left the queue (a reply after
// how long and which telegram it was, the once-only rule, a clear). Mirrors the queue from
// the link's reports; widget-free.
// Its texts for the window are in console/pendingtext.h.
#pragma once

#include "link/Komunikace.h"

#include <QDateTime>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace qtr290 {

class PendingQueue final : public LinkObserver {
public:
    // Milliseconds since the epoch (UTC): cheap to take at every report, shown as local time.
    using Clock = std::function<qint64()>;

    struct Item {
        std::uint64_t id = 0; // increasing in queue order
        std::vector<std::uint8_t> telegram;
        int sends = 0;
        qint64 queued = 0;
        qint64 firstSent = -1; // -1 until sent
        qint64 lastSent = -1;  // -1 until sent
    };
    struct Departure {
        Item item;
        Removal why = Removal::Reply;
        qint64 when = 0;
        std::vector<std::uint8_t> releasedBy; // the intact non-poll telegram of a Reply
        // From queueing to the first transmission; -1 if never sent.
        qint64 waitMs() const
        {
            return item.firstSent < 0 ? -1 : std::max<qint64>(0, item.firstSent - item.queued);
        }
        // From the last transmission to the telegram that removed it; -1 if never sent.
        qint64 replyMs() const
        {
            return item.lastSent < 0 ? -1 : std::max<qint64>(0, when - item.lastSent);
        }
    };

    // Departures kept for the log: the newest ones.
    static constexpr std::size_t LogLimit = 100;

    // `now`: the time of each report; empty: the system clock.
    explicit PendingQueue(Clock now = {});

    const std::deque<Item>& Pending() const { return FPending; }
    const std::deque<Departure>& Log() const { return FLog; } // oldest first
    std::uint64_t Departures() const { return FDepartures; }  // all, the dropped ones included

    // Called with each departure as it is logged (a station following its own request).
    using DepartureListener = std::function<void(const Departure&)>;
    void SetDepartureListener(DepartureListener listener) { FListener = std::move(listener); }

    void Received(ByteSpan telegram, bool isPoll) override;
    void Queued(ByteSpan telegram) override;
    void Sent(ByteSpan telegram, bool answeringPoll) override;
    void Removed(Removal why) override;

private:
    qint64 Now() const;

    Clock FNow;
    DepartureListener FListener;
    std::vector<std::uint8_t> FLastNonPoll; // kept only while something is pending
    std::deque<Item> FPending;
    std::deque<Departure> FLog;
    std::uint64_t FNextId = 1;
    std::uint64_t FDepartures = 0;
};

} // namespace qtr290
