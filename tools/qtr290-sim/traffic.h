// What the simulated master puts on the bus besides the device's replies: the faults it
// injects into telegrams and the traffic between other stations that saturates the bus.
#pragma once

#include "tools/qtr290-sim/line.h"
#include "tools/qtr290-sim/options.h"

#include <random>

namespace qtr290::sim {

using Random = std::mt19937;

// Decides per telegram whether a fault of one kind fires.
class RateGate {
public:
    explicit RateGate(Rate rate) : FRate(rate) {}
    bool Fire(Random& random);

private:
    Rate FRate;
    unsigned long long FSeen = 0;
};

// Turns a telegram into what goes on the line: maybe noise before it, maybe a damaged
// header or block, maybe cut into pieces.
class FaultInjector {
public:
    explicit FaultInjector(const SimOptions& options);

    // Returns the items to queue, in order: an optional noise burst, then the telegram.
    std::vector<OutItem> Prepare(Bytes telegram, TxKind kind, Random& random);

private:
    RateGate FHeader;
    RateGate FBlock;
    RateGate FNoise;
    RateGate FSplit;
    unsigned FNoiseMax;
    Nanos FSplitDelay;
};

// Changes bytes[index] to another value that is no sync byte.
void Damage(Bytes& bytes, std::size_t index, Random& random);

// Traffic between the master and stations 0x10..0x1F (other than the device, the polled
// station and the master): requests with their replies and short non-poll telegrams.
class FillerTraffic {
public:
    explicit FillerTraffic(const SimOptions& options);

    // The next telegram of at most maxLength bytes; empty when nothing fits (below 7).
    Bytes Next(std::size_t maxLength, Random& random);

private:
    Bytes ShortTelegram(std::size_t maxLength, Random& random);

    std::uint8_t FMaster;
    std::vector<std::uint8_t> FStations;
    Bytes FPendingReply; // a station's reply to the request just sent
};

} // namespace qtr290::sim
