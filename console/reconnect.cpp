#include "console/reconnect.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace qtr290 {

namespace {

bool DeviceNamespaceName(const std::string& path)
{
    return path.starts_with("\\\\.\\");
}

// Which symbolic link `path` is, if it is one.
std::string LinkStamp(const std::string& path)
{
#ifdef _WIN32
    (void)path;
    return {};
#else
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
        return {};
    return std::to_string(link.st_ino) + ':' + std::to_string(link.st_ctim.tv_sec) + '.' +
           std::to_string(link.st_ctim.tv_nsec);
#endif
}

// Where /dev is not a folder to watch (Windows), the list is read again this often.
constexpr int PollDevicesMs = 3000;

} // namespace

DeviceIdentity IdentifyDevice(const std::string& path, const std::string& byIdDir)
{
    namespace fs = std::filesystem;
    DeviceIdentity identity;
    identity.path = path;
    if (DeviceNamespaceName(path)) {
        identity.node = path;
        return identity;
    }
    std::error_code error;
    identity.link = LinkStamp(path);
    if (path.empty() || !fs::is_character_file(path, error))
        return identity;
    identity.node = fs::canonical(path, error).string();
    if (error) {
        identity.node.clear();
        return identity;
    }
    // No exceptions: this runs from a timer of the event loop.
    for (fs::directory_iterator entry(byIdDir, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code linkError;
        if (fs::canonical(entry->path(), linkError).string() == identity.node && !linkError)
            identity.byId.push_back(entry->path().filename().string());
    }
    std::sort(identity.byId.begin(), identity.byId.end());
    return identity;
}

bool Recognisable(const DeviceIdentity& device)
{
    return !device.byId.empty() || !device.link.empty() || DeviceNamespaceName(device.path);
}

bool SameDeviceBack(const DeviceIdentity& lost, const DeviceIdentity& now)
{
    if (now.node.empty() || now.path != lost.path)
        return false;
    if (lost.byId.empty()) {
        if (DeviceNamespaceName(lost.path))
            return true;
        return !lost.link.empty() && !now.link.empty() && now.link != lost.link;
    }
    return std::any_of(lost.byId.begin(), lost.byId.end(), [&](const std::string& name) {
        return std::find(now.byId.begin(), now.byId.end(), name) != now.byId.end();
    });
}

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
