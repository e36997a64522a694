// The window's watch over the system's serial devices: the list of those that exist (read
// again when /dev changes), and, once the open device has gone, the wait for that same
// device to come back, checked on a timer of the GUI thread.
#pragma once

#include "console/portdevices.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>
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

// How the watch looks at the system; tests put their own in.
struct PortProbe {
    std::function<std::vector<SerialDevice>()> devices;              // empty: SystemSerialDevices
    std::function<DeviceIdentity(const std::string& path)> identify; // empty: IdentifyDevice
};

class PortWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int CheckPeriodMs = 250; // a device that is back opens within about 1 s
    static constexpr int SettleMs = 500;      // udev names and describes a new adapter meanwhile

    explicit PortWatch(PortProbe probe = {}, QObject* parent = nullptr);

    // The devices that existed at the last refresh.
    const std::vector<SerialDevice>& Devices() const { return FDevices; }
    // Lists the devices again; DevicesChanged when the list differs.
    void Refresh();

    // The port has opened the device at `path`: remember which device it is.
    void Opened(const std::string& path);
    const DeviceIdentity& OpenedDevice() const { return FOpened; }

    // The opened device has gone and its port is closed: from now on every CheckPeriodMs,
    // once the same device is back, `reopen` is called, until it returns true or Stop().
    // False, and no wait, when the device could not be recognised.
    bool WaitForReturn(std::function<bool()> reopen);
    void Stop();
    bool Waiting() const { return static_cast<bool>(FReopen); }
    // One check while waiting: the timer's tick.
    void Check();

signals:
    void DevicesChanged();

private:
    DeviceIdentity Identify(const std::string& path) const;

    PortProbe FProbe;
    std::vector<SerialDevice> FDevices;
    DeviceIdentity FOpened;
    std::function<bool()> FReopen;
    QTimer FCheckTimer;
    QTimer FRefreshTimer;
    QFileSystemWatcher FWatcher;
};

} // namespace qtr290
