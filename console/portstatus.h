// The status line's text: which device the port stands for and the port's state, as a pure
// function of what the window knows.
#pragma once

#include "serial/platform.h"

#include <QString>

#include <cstdint>
#include <string>

namespace qtr290 {

enum class PortState {
    Closed,
    Open,
    Failed,
    Lost, // the open device has gone; waiting for it to come back
    Gone, // the open device has gone and would not be recognised: the operator reopens
};

struct PortStatus {
    std::string portName; // the link's port name: "\\.\COM<n>" or a device path
    std::string device;   // what that name resolves to; "" for none
    PortState state = PortState::Closed;
    OpenFailure failure = OpenFailure::None; // why it failed, with PortState::Failed
    int chosenNumber = 0;                    // the link's number of the port chosen in Cmb_ComPort
    std::string chosenDevice;                // the device of that number
    QString adapter; // the open device's adapter ("FT232R USB UART, sériové č. A10K3"), if known
};

// The COM number the link uses for a Cmb_ComPort item's number: its port number is one byte.
inline int LinkPortNumber(int itemNumber)
{
    return static_cast<std::uint8_t>(itemNumber);
}

// "COM3 = /dev/ttyUSB0 (FT232R USB UART): připojeno"; a port chosen for the next start is
// named after it.
QString PortStatusText(const PortStatus& status);

// "COM3 = /dev/ttyUSB0", or "COM3 bez zařízení": a Cmb_ComPort item's tooltip.
QString ComPortDescription(int number, const std::string& device);

} // namespace qtr290
