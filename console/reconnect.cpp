#include "console/reconnect.h"

#include <filesystem>

namespace qtr290 {

namespace {

// Where /dev is not a folder to watch (Windows), the list is read again this often.
constexpr int PollDevicesMs = 3000;

} // namespace

PortWatch::PortWatch(PortProbe probe, QObject* parent) : QObject(parent), FProbe(std::move(probe))
{
    if (!FProbe.devices)
        FProbe.devices = SystemSerialDevices;
    FCheckTimer.setInterval(CheckPeriodMs);
    connect(&FCheckTimer, &QTimer::timeout, this, &PortWatch::Check);

    // Devices come and go with their nodes in /dev: read the list once the change has
    // settled. inotify costs nothing while nothing changes.
    connect(&FRefreshTimer, &QTimer::timeout, this, &PortWatch::Refresh);
    for (const char* dir : {"/dev", DefaultByIdDir}) {
        if (std::filesystem::is_directory(dir))
            FWatcher.addPath(QString::fromLatin1(dir));
    }
    if (FWatcher.directories().isEmpty()) {
        FRefreshTimer.start(PollDevicesMs);
    } else {
        FRefreshTimer.setSingleShot(true);
        FRefreshTimer.setInterval(SettleMs);
        connect(&FWatcher, &QFileSystemWatcher::directoryChanged, &FRefreshTimer,
                qOverload<>(&QTimer::start));
    }
    FDevices = FProbe.devices();
}

void PortWatch::Refresh()
{
    // The by-id folder comes with the first adapter and goes with the last.
    if (!FWatcher.directories().isEmpty() && std::filesystem::is_directory(DefaultByIdDir) &&
        !FWatcher.directories().contains(QLatin1String(DefaultByIdDir)))
        FWatcher.addPath(QLatin1String(DefaultByIdDir));
    std::vector<SerialDevice> devices = FProbe.devices();
    if (devices == FDevices)
        return;
    FDevices = std::move(devices);
    emit DevicesChanged();
}

DeviceIdentity PortWatch::Identify(const std::string& path) const
{
    return FProbe.identify ? FProbe.identify(path) : IdentifyDevice(path);
}

void PortWatch::Opened(const std::string& path)
{
    FOpened = Identify(path);
}

bool PortWatch::WaitForReturn(std::function<bool()> reopen)
{
    if (FOpened.path.empty() || !reopen || !Recognisable(FOpened))
        return false;
    FReopen = std::move(reopen);
    FCheckTimer.start();
    Refresh();
    return true;
}

void PortWatch::Stop()
{
    FCheckTimer.stop();
    FReopen = nullptr;
}

void PortWatch::Check()
{
    if (!FReopen || !SameDeviceBack(FOpened, Identify(FOpened.path)))
        return;
    // A copy: reopening tells this watch about the opening, and may stop it.
    const auto reopen = FReopen;
    if (!reopen())
        return; // there, but not yet usable (udev still setting its permissions): next tick
    Stop();
    Refresh();
}

} // namespace qtr290
