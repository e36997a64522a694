#include "platform.h"

#include <cctype>

namespace qtr290 {

namespace {

const std::string DeviceNamespace = "\\\\.\\";

std::map<int, std::string>& Overrides()
{
    static std::map<int, std::string> overrides;
    return overrides;
}

bool StartsWithDeviceNamespace(const std::string& name)
{
    return name.compare(0, DeviceNamespace.size(), DeviceNamespace) == 0;
}

} // namespace

std::optional<int> ComPortNumber(const std::string& name)
{
    if (!StartsWithDeviceNamespace(name))
        return std::nullopt;
    const std::string rest = name.substr(DeviceNamespace.size());
    if (rest.size() < 4 || rest.size() > 3 + 9) // at most nine digits: no overflow
        return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(rest[i])) != "COM"[i])
            return std::nullopt;
    }
    int number = 0;
    for (std::size_t i = 3; i < rest.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(rest[i])))
            return std::nullopt;
        number = number * 10 + (rest[i] - '0');
    }
    return number;
}

std::string ComPortDevice(int number)
{
    const auto& overrides = Overrides();
    if (const auto found = overrides.find(number); found != overrides.end())
        return found->second;
    if (number >= 1 && number <= 32)
        return "/dev/ttyS" + std::to_string(number - 1);
    if (number >= 33 && number <= 64)
        return "/dev/ttyUSB" + std::to_string(number - 33);
    if (number >= 65 && number <= 96)
        return "/dev/ttyACM" + std::to_string(number - 65);
    return {};
}

std::string ResolveDeviceName(const std::string& name)
{
    if (const auto number = ComPortNumber(name))
        return ComPortDevice(*number);
    // Some other Win32 device-namespace name: nothing on this system stands for it.
    if (StartsWithDeviceNamespace(name))
        return {};
    return name;
}

void SetComPortOverrides(std::map<int, std::string> overrides)
{
    std::erase_if(overrides, [](const auto& entry) { return entry.second.empty(); });
    Overrides() = std::move(overrides);
}

const std::map<int, std::string>& ComPortOverrides()
{
    return Overrides();
}

} // namespace qtr290
