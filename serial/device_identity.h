// Which device a path leads to, told apart beyond its name, and whether a device that went
// away is the same one when its path leads to a device again: the rule by which a lost port
// is reopened by itself (the window, the gateway). Looks at the filesystem only.
#pragma once

#include <string>
#include <vector>

namespace qtr290 {

// Where udev keeps the links that name a USB adapter by its make and serial number.
inline constexpr char DefaultByIdDir[] = "/dev/serial/by-id";

// What tells a device apart beyond its path.
struct DeviceIdentity {
    std::string path;              // as named: "/dev/ttyUSB0", a by-id link, a link to a pty
    std::string node;              // the tty the path leads to; "" when it leads to none
    std::vector<std::string> byId; // the names of the by-id links that lead to the same node
    // When the path is a symbolic link, which one ("inode:change time"): a link made anew or
    // pointed elsewhere differs. "" when the path is no link.
    std::string link{};
};

// Looks at the filesystem now. A Win32 device name ("\\.\COM3") is its own node: only
// opening it tells whether it is there.
DeviceIdentity IdentifyDevice(const std::string& path, const std::string& byIdDir = DefaultByIdDir);

// Whether a device can be told again when it comes back: an adapter with by-id links, a
// symbolic link (pointed anew at the device that replaces it), a Win32 device name. A bare
// terminal path cannot: what takes it next may be another program's (a pseudo-terminal).
bool Recognisable(const DeviceIdentity& device);

// Whether `now` (the same path, looked at again) is the device that was lost: the path leads
// to a tty again and, where the lost device had by-id links, one of them leads there too, so
// that another adapter that took its ttyUSB name is not taken for it; a symbolic link without
// them must have been made anew. A device that is not Recognisable never comes back.
bool SameDeviceBack(const DeviceIdentity& lost, const DeviceIdentity& now);

} // namespace qtr290
