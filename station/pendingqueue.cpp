#include "station/pendingqueue.h"

#include <algorithm>
#include <utility>

namespace qtr290 {

PendingQueue::PendingQueue(Clock now) : FNow(std::move(now)) {}

qint64 PendingQueue::Now() const
{
    return FNow ? FNow() : QDateTime::currentMSecsSinceEpoch();
}

void PendingQueue::Queued(ByteSpan telegram)
{
    FPending.push_back({FNextId++, {telegram.begin(), telegram.end()}});
}

void PendingQueue::Sent(ByteSpan, bool)
{
    // The link always sends its oldest pending telegram.
    if (FPending.empty())
        return;
    ++FPending.front().sends;
    FPending.front().lastSent = Now();
}

void PendingQueue::Removed(Removal why)
{
    if (FPending.empty())
        return;
    FLog.push_back({std::move(FPending.front()), why, Now()});
    FPending.pop_front();
    ++FDepartures;
    if (FLog.size() > LogLimit)
        FLog.pop_front();
}

} // namespace qtr290
