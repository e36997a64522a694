#include "station/request.h"

#include <QTimer>

#include <utility>

namespace qtr290 {

bool StageAndQueue(TKomunikace& link, const StationRequest& request)
{
    if (request.write && request.count > MaxWriteCount)
        return false;
    for (std::size_t i = 0; i < request.data.size(); ++i)
        link.ZapisDataByte(static_cast<int>(i + 1), request.data[i]);
    return link.ZaradTLG(request.from, request.to, request.write, request.area, request.address,
                         request.count);
}

RequestResult ResultOf(const PendingQueue::Departure& departure, RequestResult::Removed removed)
{
    RequestResult result;
    result.request = departure.item.telegram;
    result.sent = departure.item.sends;
    result.removed = removed;
    result.releasedBy = departure.releasedBy;
    if (departure.waitMs() >= 0)
        result.waitMs = departure.waitMs();
    const bool byTheQueue =
        removed == RequestResult::Removed::Reply || removed == RequestResult::Removed::OnceOnly;
    if (byTheQueue && departure.replyMs() >= 0)
        result.replyMs = departure.replyMs();
    return result;
}

RequestFollower::RequestFollower(TKomunikace& link, PendingQueue& queue)
    : FLink(link), FQueue(queue)
{
    FQueue.SetDepartureListener([this](const PendingQueue::Departure& d) { Departed(d); });
    FDeadline = new QTimer(&FContext);
    FDeadline->setSingleShot(true);
    FDeadline->setTimerType(Qt::PreciseTimer);
    QObject::connect(FDeadline, &QTimer::timeout,
                     [this] { Abandon(RequestResult::Removed::Timeout); });
}

RequestFollower::~RequestFollower()
{
    FQueue.SetDepartureListener({});
}

void RequestFollower::Start(const StationRequest& request, Done done)
{
    FRequest = request;
    FDone = std::move(done);
    FAbandoning.reset();
    FLastKnown = {};
    if (!Enqueue()) {
        Finish(FLastKnown); // a write too long for the queue: never sent
        return;
    }
    FDeadline->start(static_cast<int>(request.timeoutSeconds * 1000));
    if (request.now)
        FLink.PosliCekajici();
}

bool RequestFollower::Enqueue()
{
    FItemId = 0;
    if (!StageAndQueue(FLink, FRequest) || FQueue.Pending().empty())
        return false;
    FItemId = FQueue.Pending().back().id;
    FLastKnown.request = FQueue.Pending().back().telegram;
    return true;
}

void RequestFollower::Abandon(RequestResult::Removed why)
{
    if (!Busy())
        return;
    FAbandoning = why;
    FLink.VymazFrontu(); // its departure finishes it
    if (Busy()) {        // not in the queue (between a removal and its queueing again)
        FLastKnown.removed = why;
        Finish(FLastKnown);
    }
}

void RequestFollower::Departed(const PendingQueue::Departure& departure)
{
    if (!Busy() || FItemId == 0 || departure.item.id != FItemId)
        return;
    FItemId = 0;
    using Removal = LinkObserver::Removal;
    if (FAbandoning) {
        Finish(ResultOf(departure, *FAbandoning));
        return;
    }
    // Removed before it ever went out: the telegram that did it answered an earlier
    // request (polls faster than request and reply). Queued again after the chunk, as the
    // link may still be framing it.
    if (departure.why == Removal::Reply && departure.item.sends == 0) {
        QTimer::singleShot(0, &FContext, [this] {
            if (Busy() && FItemId == 0 && !FAbandoning)
                Enqueue();
        });
        return;
    }
    const auto removed = departure.why == Removal::Reply      ? RequestResult::Removed::Reply
                         : departure.why == Removal::OnceOnly ? RequestResult::Removed::OnceOnly
                                                              : RequestResult::Removed::Cleared;
    Finish(ResultOf(departure, removed));
}

void RequestFollower::Finish(RequestResult result)
{
    FDeadline->stop();
    // Delivered after the chunk in hand is framed: a request queued by the caller must not
    // meet the rest of the telegrams that were read before it existed.
    QTimer::singleShot(0, &FContext, [done = std::exchange(FDone, {}), result = std::move(result)] {
        done(result);
    });
}

} // namespace qtr290
