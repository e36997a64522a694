// The bus at a glance: counts of what the link does (telegrams and polls received, polls
// answered, damage, transmissions, bytes) and of capture lines lost. Fed by the link's
// reports and the window's chunks, whatever the display shows; widget-free.
#pragma once

#include "link/Komunikace.h"

#include <cstddef>
#include <cstdint>

namespace qtr290 {

struct BusCounts {
    std::uint64_t telegrams = 0;    // intact telegrams received, polls included
    std::uint64_t polls = 0;        // polls received, whichever station they name
    std::uint64_t answers = 0;      // polls answered with a transmission
    std::uint64_t headerErrors = 0; // "Vadne CRC hlavicky" lines
    std::uint64_t blockErrors = 0;  // "Vadne CRC dat" lines
    std::uint64_t sent = 0;         // telegrams transmitted, at a poll or at once
    std::uint64_t bytes = 0;        // bytes received
    std::uint64_t captureLost = 0;  // capture lines that could not be written

    bool operator==(const BusCounts&) const = default;
};

class BusStatistics final : public LinkObserver {
public:
    const BusCounts& Counts() const { return FCounts; }

    void AddBytes(std::size_t count) { FCounts.bytes += count; }
    void CaptureLineLost() { ++FCounts.captureLost; }
    void Reset() { FCounts = {}; }

    void Received(ByteSpan, bool isPoll) override
    {
        ++FCounts.telegrams;
        FCounts.polls += isPoll ? 1 : 0;
    }
    void Damaged(FramerError error) override
    {
        ++(error == FramerError::HeaderChecksum ? FCounts.headerErrors : FCounts.blockErrors);
    }
    void Sent(ByteSpan, bool answeringPoll) override
    {
        ++FCounts.sent;
        FCounts.answers += answeringPoll ? 1 : 0;
    }

private:
    BusCounts FCounts;
};

} // namespace qtr290
