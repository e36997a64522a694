// The simulated QTR290 device: seven memory areas that answer read requests and apply
// write requests addressed to its station.
#pragma once

#include "tools/qtr290-sim/frames.h"

#include <array>
#include <cstdint>

namespace qtr290::sim {

enum class DeviceOutcome {
    NotForDevice, // not a request, or addressed to another station
    ReadAnswered,
    WriteApplied,
    Rejected, // answered with a status reply carrying an error status
};

struct DeviceAnswer {
    DeviceOutcome outcome = DeviceOutcome::NotForDevice;
    ReplyStatus status = ReplyStatus::Applied;
    Bytes reply; // empty for NotForDevice
};

class SimDevice {
public:
    explicit SimDevice(std::uint8_t address);

    // Reacts to one intact telegram from the bus.
    DeviceAnswer Handle(ByteSpan telegram);

private:
    std::uint8_t FAddress;
    // Indexed by area code >> 4; code 0x70 has no area.
    std::array<Bytes, MemoryAreaCount> FAreas;
};

} // namespace qtr290::sim
