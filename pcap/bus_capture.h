// Turns what the utility sees on the bus into packets, one telegram per packet. Received
// chunks are framed by the window's own framer; every received byte lands in exactly one
// packet, in order: intact telegrams, damaged runs (from the sync byte of a telegram whose
// checksum failed, as far as its header claims), skipped bytes, and at the end whatever the
// framer still held. Pure C++, no Qt.
#pragma once

#include "pcap/pcapng.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace qtr290::pcap {

class BusCapture {
public:
    using PacketHandler = std::function<void(const Packet& packet)>;

    struct Tally {
        std::uint64_t telegrams = 0; // intact, received
        std::uint64_t polls = 0;     // of them
        std::uint64_t headerErrors = 0;
        std::uint64_t blockErrors = 0;
        std::uint64_t skippedBytes = 0; // in skipped runs (noise, lead bytes, rests of damage)
        std::uint64_t skippedRuns = 0;
        std::uint64_t incompleteBytes = 0; // held by the framer when the capture finished
        std::uint64_t transmitted = 0;
        std::uint64_t damaged() const { return headerErrors + blockErrors; }
    };

    explicit BusCapture(PacketHandler onPacket);

    // A chunk as the port delivered it, with the time it arrived. Each packet carries the
    // time of the chunk during which the framer decided on it.
    void Received(ByteSpan chunk, std::int64_t timeUs);
    // The bytes the utility put on the line for one telegram (0xFF lead byte and telegram).
    void Transmitted(ByteSpan lineBytes, std::int64_t timeUs);
    // Ends the capture: an open run, then the bytes the framer still holds, become packets.
    // Capturing may go on afterwards as from a fresh start.
    void Finish(std::int64_t timeUs);

    const Tally& Counts() const { return FTally; }

private:
    enum class RunKind { None, Skipped, Damaged };

    void Discarded(ByteSpan bytes, std::int64_t timeUs);
    void CloseRun();
    void Emit(ByteSpan bytes, std::uint32_t flags, std::int64_t timeUs);

    PacketHandler FOnPacket;
    std::vector<std::uint8_t> FAccumulator;
    RunKind FRunKind = RunKind::None;
    std::vector<std::uint8_t> FRun;
    std::size_t FRunClaimed = 0; // a damaged run's length by its header; 0 while unknown
    std::int64_t FRunTime = 0;
    bool FDamageReported = false; // the next discarded byte is a damaged telegram's sync
    Tally FTally;
};

} // namespace qtr290::pcap
