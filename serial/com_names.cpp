// COM port names: "\\.\COM<n>" parsing and the settings' overrides, shared by every platform.
#include "com_names_p.h"
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

} // namespace

bool detail::StartsWithDeviceNamespace(const std::string& name)
{
    return name.compare(0, DeviceNamespace.size(), DeviceNamespace) == 0;
}

std::optional<int> ComPortNumber(const std::string& name)
{
    if (!detail::StartsWithDeviceNamespace(name))
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
    return detail::DefaultComDevice(number);
}

std::string ResolveDeviceName(const std::string& name)
{
    const auto number = ComPortNumber(name);
    if (number) {
        const auto& overrides = Overrides();
        if (const auto found = overrides.find(*number); found != overrides.end())
            return found->second;
    }
    return detail::NativeDeviceName(name, number);
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
