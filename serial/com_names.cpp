// COM port names: parsing and the settings' overrides, shared by every platform.
#include "serial/com_names.h"
#include "serial/com_names_p.h"

namespace qtr290 {

namespace {

constexpr std::string_view DeviceNamespace = "\\\\.\\";

} // namespace

bool detail::StartsWithDeviceNamespace(const std::string& name)
{
    return std::string_view(name).starts_with(DeviceNamespace);
}

std::optional<int> ParseComNumber(std::string_view text)
{
    if (text.size() < 4 || text.size() > 3 + 9) // at most nine digits: no overflow
        return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i) {
        if ((text[i] & ~0x20) != "COM"[i])
            return std::nullopt;
    }
    int number = 0;
    for (const char c : text.substr(3)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + (c - '0');
    }
    return number;
}

std::optional<int> ComPortNumber(std::string_view name)
{
    if (!name.starts_with(DeviceNamespace))
        return std::nullopt;
    return ParseComNumber(name.substr(DeviceNamespace.size()));
}

ComPortNames::ComPortNames(std::map<int, std::string> overrides) : FOverrides(std::move(overrides))
{
    std::erase_if(FOverrides, [](const auto& entry) { return entry.second.empty(); });
}

ComPortNames
ComPortNames::FromEntries(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::map<int, std::string> overrides;
    for (const auto& [key, value] : entries) {
        if (const auto number = ParseComNumber(key))
            overrides.emplace(*number, value); // emplace keeps the first, even an empty one
    }
    return ComPortNames(std::move(overrides));
}

std::string ComPortNames::Device(int number) const
{
    if (const auto found = FOverrides.find(number); found != FOverrides.end())
        return found->second;
    return detail::DefaultComDevice(number);
}

std::string ComPortNames::Resolve(const std::string& name) const
{
    const auto number = ComPortNumber(name);
    if (number) {
        if (const auto found = FOverrides.find(*number); found != FOverrides.end())
            return found->second;
    }
    return detail::NativeDeviceName(name, number);
}

} // namespace qtr290
