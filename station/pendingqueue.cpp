#include "station/pendingqueue.h"

#include <algorithm>
#include <utility>

namespace qtr290 {

PendingQueue::PendingQueue(Clock now) : FNow(std::move(now)) {}

qint64 PendingQueue::Now() const
{
    return FNow ? FNow() : QDateTime::currentMSecsSinceEpoch();
}

void PendingQueue::Received(ByteSpan telegram, bool isPoll)
{
    // The link reports a telegram before its poll reaction, which removes the oldest pending
    // one at a non-poll: that telegram is what released it.
    if (!isPoll && !FPending.empty())
        FLastNonPoll.assign(telegram.begin(), telegram.end());
}

void PendingQueue::Queued(ByteSpan telegram)
{
    Item item{FNextId++, {telegram.begin(), telegram.end()}};
    item.queued = Now();
    FPending.push_back(std::move(item));
}

void PendingQueue::Sent(ByteSpan, bool)
{
    // The link always sends its oldest pending telegram.
    if (FPending.empty())
        return;
    Item& oldest = FPending.front();
    oldest.lastSent = Now();
    if (oldest.sends++ == 0)
        oldest.firstSent = oldest.lastSent;
}

void PendingQueue::Removed(Removal why)
{
    if (FPending.empty())
        return;
    Departure departure{std::move(FPending.front()), why, Now(), {}};
    if (why == Removal::Reply)
        departure.releasedBy = std::exchange(FLastNonPoll, {});
    FPending.pop_front();
    ++FDepartures;
    FLog.push_back(std::move(departure));
    if (FLog.size() > LogLimit)
        FLog.pop_front();
    if (FListener)
        FListener(FLog.back());
}

} // namespace qtr290
