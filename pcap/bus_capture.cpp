#include "pcap/bus_capture.h"

#include "link/framer.h"

#include <algorithm>
#include <utility>

namespace qtr290::pcap {

BusCapture::BusCapture(PacketHandler onPacket) : FOnPacket(std::move(onPacket)) {}

void BusCapture::Emit(ByteSpan bytes, std::uint32_t flags, std::int64_t timeUs)
{
    if (FOnPacket)
        FOnPacket(Packet{timeUs, flags, bytes});
}

void BusCapture::CloseRun()
{
    if (FRunKind == RunKind::Skipped) {
        ++FTally.skippedRuns;
        Emit(FRun, FlagInbound | FlagNoFrameStart, FRunTime);
    } else if (FRunKind == RunKind::Damaged) {
        Emit(FRun, FlagInbound | FlagCrcError, FRunTime);
    }
    FRunKind = RunKind::None;
    FRun.clear();
    FRunClaimed = 0;
}

void BusCapture::Discarded(ByteSpan bytes, std::int64_t timeUs)
{
    if (FDamageReported) {
        // The sync byte of the damaged telegram starts a run of its own.
        FDamageReported = false;
        CloseRun();
        FRunKind = RunKind::Damaged;
        FRun.assign(bytes.begin(), bytes.end());
        FRunTime = timeUs;
        return;
    }
    while (!bytes.empty()) {
        std::size_t take = 0;
        if (FRunKind == RunKind::Damaged) {
            // The rest of a damaged telegram, as far as its header claims, stays with it;
            // first up to its length field, then up to that length.
            const std::size_t want = FRunClaimed != 0 ? FRunClaimed : (FRun[0] == SyncLong ? 5 : 4);
            take = std::min(bytes.size(), want - FRun.size());
        } else {
            FRunKind = RunKind::Skipped;
            take = std::min(bytes.size(), MaxPacketLength - FRun.size());
            FTally.skippedBytes += take;
        }
        FRun.insert(FRun.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        FRunTime = timeUs;
        if (FRunKind == RunKind::Damaged && FRunClaimed == 0) {
            if (const auto lengths = TelegramLength(FRun))
                FRunClaimed = lengths->total();
        } else if (FRun.size() >= (FRunKind == RunKind::Damaged ? FRunClaimed : MaxPacketLength)) {
            CloseRun();
        }
    }
}

void BusCapture::Received(ByteSpan chunk, std::int64_t timeUs)
{
    FAccumulator.insert(FAccumulator.end(), chunk.begin(), chunk.end());
    FramerHandlers handlers;
    handlers.onTelegram = [&](ByteSpan telegram) {
        CloseRun();
        ++FTally.telegrams;
        if (IsPoll(telegram))
            ++FTally.polls;
        Emit(telegram, FlagInbound, timeUs);
    };
    handlers.onError = [&](FramerError error) {
        ++(error == FramerError::HeaderChecksum ? FTally.headerErrors : FTally.blockErrors);
        FDamageReported = true;
    };
    handlers.onDiscard = [&](ByteSpan bytes) { Discarded(bytes, timeUs); };
    ZpracujPrijem(FAccumulator, handlers);
}

void BusCapture::Transmitted(ByteSpan lineBytes, std::int64_t timeUs)
{
    if (lineBytes.empty())
        return;
    ++FTally.transmitted;
    Emit(lineBytes.first(std::min(lineBytes.size(), MaxPacketLength)), FlagOutbound, timeUs);
}

void BusCapture::Finish(std::int64_t timeUs)
{
    // A damaged telegram whose end the framer still holds gets it, as far as it claims.
    std::size_t absorbed = 0;
    while (FRunKind == RunKind::Damaged && absorbed < FAccumulator.size()) {
        const std::size_t want = FRunClaimed != 0 ? FRunClaimed : (FRun[0] == SyncLong ? 5 : 4);
        if (FRun.size() >= want)
            break;
        FRun.push_back(FAccumulator[absorbed++]);
        FRunTime = timeUs;
        if (FRunClaimed == 0)
            if (const auto lengths = TelegramLength(FRun))
                FRunClaimed = lengths->total();
    }
    FAccumulator.erase(FAccumulator.begin(),
                       FAccumulator.begin() + static_cast<std::ptrdiff_t>(absorbed));
    CloseRun();
    FDamageReported = false;
    if (FAccumulator.empty())
        return;
    FTally.incompleteBytes += FAccumulator.size();
    Emit(FAccumulator, FlagInbound | FlagTooShort, timeUs);
    FAccumulator.clear();
}

} // namespace qtr290::pcap
