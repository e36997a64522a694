#include "serial/device_identity.h"

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

} // namespace qtr290
