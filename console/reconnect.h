// The window's watch over the system's serial devices: the list of those that exist (read
// again when /dev changes), and, once the open device has gone, the wait for that same
// device to come back, checked on a timer of the GUI thread.
#pragma once

#include "console/portdevices.h"
#include "serial/device_identity.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

namespace qtr290 {

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
