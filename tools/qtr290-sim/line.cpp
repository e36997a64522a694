#include "tools/qtr290-sim/line.h"

#include <algorithm>

namespace qtr290::sim {

namespace {
constexpr Nanos Millisecond = 1'000'000;
// After a late wake-up (a loaded machine) the bytes due go out at once, so the rate holds;
// after a longer stall (nobody reading) only this much is caught up.
constexpr Nanos MaxCatchUp = 100 * Millisecond;
} // namespace

std::string_view TxKindName(TxKind kind)
{
    switch (kind) {
    case TxKind::Poll:
        return "poll";
    case TxKind::ReadReply:
        return "read-reply";
    case TxKind::StatusReply:
        return "status-reply";
    case TxKind::Filler:
        return "filler";
    case TxKind::Noise:
        return "noise";
    case TxKind::Script:
        return "script";
    case TxKind::Replay:
        return "replay";
    }
    return "?";
}

PacedLine::PacedLine(unsigned baud)
    : FByteTime(10'000'000'000LL / std::max(1u, baud)),
      FBatch(static_cast<std::size_t>(std::max<Nanos>(1, Millisecond / FByteTime)))
{
}

void PacedLine::Push(OutItem item, bool urgent, Nanos now, bool continuous)
{
    if (Idle() && FLineTime < now && (!continuous || FLineTime < now - MaxCatchUp))
        FLineTime = now;
    (urgent ? FUrgent : FNormal).push_back(std::move(item));
}

Nanos PacedLine::FreeAt(Nanos now) const
{
    if (Idle())
        return now;
    Nanos t = std::max(FLineTime, now - MaxCatchUp);
    auto add = [&](const OutItem& item, std::size_t from, std::size_t nextPause) {
        t += static_cast<Nanos>(item.bytes.size() - from) * FByteTime;
        for (std::size_t i = nextPause; i < item.pauses.size(); ++i)
            t += item.pauses[i].second;
    };
    if (FCurrent)
        add(FCurrent->item, FCurrent->offset, FCurrent->nextPause);
    for (const auto& item : FUrgent)
        add(item, 0, 0);
    for (const auto& item : FNormal)
        add(item, 0, 0);
    return t;
}

std::size_t PacedLine::SegmentEnd(const Current& c) const
{
    if (c.nextPause < c.item.pauses.size())
        return std::min(c.item.pauses[c.nextPause].first, c.item.bytes.size());
    return c.item.bytes.size();
}

bool PacedLine::StartNext()
{
    if (FCurrent)
        return true;
    auto& queue = !FUrgent.empty() ? FUrgent : FNormal;
    if (queue.empty())
        return false;
    FCurrent = Current{std::move(queue.front())};
    queue.pop_front();
    return true;
}

std::optional<Nanos> PacedLine::NextDue(Nanos now) const
{
    if (Idle())
        return std::nullopt;
    if (!FCurrent)
        return std::max(FLineTime, now - MaxCatchUp);
    const std::size_t left = SegmentEnd(*FCurrent) - FCurrent->offset;
    const std::size_t wanted = std::clamp<std::size_t>(left, 1, FBatch);
    return std::max(FLineTime, now - MaxCatchUp) + static_cast<Nanos>(wanted - 1) * FByteTime;
}

void PacedLine::Pump(Nanos now, const std::function<std::size_t(ByteSpan)>& write,
                     const std::function<void(const OutItem&)>& sent)
{
    if (Idle())
        return; // an idle line keeps its clock: Push decides how the next item starts
    FLineTime = std::max(FLineTime, now - MaxCatchUp);
    while (StartNext()) {
        Current& c = *FCurrent;
        // A pause counts from when the piece before it went out, even if that was late:
        // the far end must see the quiet time.
        while (c.nextPause < c.item.pauses.size() && c.item.pauses[c.nextPause].first <= c.offset)
            FLineTime = std::max(FLineTime, now) + c.item.pauses[c.nextPause++].second;
        const std::size_t end = SegmentEnd(c);
        if (c.offset < end) {
            if (FLineTime > now)
                return;
            const auto due = static_cast<std::size_t>((now - FLineTime) / FByteTime) + 1;
            const std::size_t n = std::min(due, end - c.offset);
            const std::size_t written =
                std::min(n, write(ByteSpan(c.item.bytes).subspan(c.offset, n)));
            if (written == 0)
                return;
            c.offset += written;
            FLineTime += static_cast<Nanos>(written) * FByteTime;
            if (written < n)
                return;
            continue;
        }
        if (c.offset >= c.item.bytes.size()) {
            const OutItem done = std::move(c.item);
            FCurrent.reset();
            sent(done);
        }
    }
}

} // namespace qtr290::sim
