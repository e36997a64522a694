// The serial devices of the system, as Qt Serial Port lists them (enumeration only: all I/O
// stays in the driver), and what Cmb_ComPort shows of them: a marker and a tooltip on the
// item of every COM number whose device exists. The item texts stay "COM1".."COM256".
#pragma once

#include "serial/com_names.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QComboBox;

namespace qtr290 {

struct SerialDevice {
    std::string path; // "/dev/ttyUSB0"; "\\.\COM3" on Windows
    std::string name; // "ttyUSB0", "COM3"
    std::string description;
    std::string manufacturer;
    std::string serialNumber;
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
    friend bool operator==(const SerialDevice&, const SerialDevice&) = default;
};

// The serial devices that exist now.
std::vector<SerialDevice> SystemSerialDevices();

// The path a device name leads to (symbolic links followed); the name itself when it leads
// nowhere or is no path.
std::string DevicePathOf(const std::string& name);

// "FT232R USB UART, FTDI, sériové č. A10K3, 0403:6001": what is known of the adapter.
QString AdapterDetails(const SerialDevice& device);
// "FT232R USB UART, sériové č. A10K3": the adapter in a few words, for the status line.
QString AdapterName(const SerialDevice& device);

// The listed device that `path` stands for (directly or through a link), if any.
const SerialDevice* FindDevice(const std::vector<SerialDevice>& devices, const std::string& path,
                               const std::function<std::string(const std::string&)>& pathOf);

struct ComPortItem {
    bool present = false; // the COM number's device exists: the item carries the marker
    QString toolTip;
};

// The items 1..count of Cmb_ComPort: item n stands for the link's port number n (one byte
// wide, so item 256 is COM0) and for the device `names` gives that number. `pathOf`
// follows links from a configured name to the device node.
std::vector<ComPortItem>
ComPortItems(const std::vector<SerialDevice>& devices, const ComPortNames& names, int count,
             const std::function<std::string(const std::string&)>& pathOf = DevicePathOf);

// Puts the items' markers and tooltips on the combo box; its texts stay as they are.
void ShowComPortItems(QComboBox* combo, const std::vector<ComPortItem>& items);

} // namespace qtr290
