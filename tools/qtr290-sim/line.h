// The simulator's side of the bus: a queue of outgoing items written at the pace of
// the baud rate (10 bit times per byte). Pure logic; time and the write call are given.
#pragma once

#include "tools/qtr290-sim/frames.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

namespace qtr290::sim {

using Nanos = std::int64_t;

enum class TxKind { Poll, ReadReply, StatusReply, Filler, Noise, Script, Replay };
enum class TxFault { None, Header, Block };

std::string_view TxKindName(TxKind kind);

struct OutItem {
    Bytes bytes;
    TxKind kind = TxKind::Filler;
    TxFault fault = TxFault::None;
    // (offset, pause): before the byte at offset the line stays quiet for the pause.
    std::vector<std::pair<std::size_t, Nanos>> pauses;
};

class PacedLine {
public:
    explicit PacedLine(unsigned baud);

    Nanos ByteTime() const { return FByteTime; }

    // Urgent items go out before the non-urgent ones queued, after the item in progress.
    // On an idle line the byte clock restarts at `now`, unless the item continues the
    // traffic before it (saturation), which keeps the clock running.
    void Push(OutItem item, bool urgent, Nanos now, bool continuous = false);
    bool Idle() const { return !FCurrent && FUrgent.empty() && FNormal.empty(); }
    // When the line has nothing left to write; `now` if it is idle.
    Nanos FreeAt(Nanos now) const;

    // When Pump should next be called, nullopt when idle. Small rates are batched so
    // that the caller wakes at most about once a millisecond.
    std::optional<Nanos> NextDue(Nanos now) const;

    // Writes what is due at `now`. `write` returns how many bytes it took (0: blocked);
    // `sent` is called for each item whose last byte has been written.
    void Pump(Nanos now, const std::function<std::size_t(ByteSpan)>& write,
              const std::function<void(const OutItem&)>& sent);

private:
    struct Current {
        OutItem item;
        std::size_t offset = 0;
        std::size_t nextPause = 0;
    };
    std::size_t SegmentEnd(const Current& c) const;
    bool StartNext();

    Nanos FByteTime;
    std::size_t FBatch;  // bytes per wake-up at high rates
    Nanos FLineTime = 0; // start time of the next byte
    std::optional<Current> FCurrent;
    std::deque<OutItem> FUrgent;
    std::deque<OutItem> FNormal;
};

} // namespace qtr290::sim
