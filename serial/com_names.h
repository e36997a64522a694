// COM port names: the operator speaks of ports by number, the link names them "\\.\COM<n>",
// and each platform resolves that name to what it opens. The settings may map a number to
// a device of the operator's choice; that map is a value handed to the platform when it is
// made, so nothing about it is process-wide.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qtr290 {

// "COM<n>", the letters in any case, n decimal digits only (at most nine): n.
std::optional<int> ParseComNumber(std::string_view text);

// The COM number of a "\\.\COM<n>" device name; nullopt for anything else.
std::optional<int> ComPortNumber(std::string_view name);

class ComPortNames {
public:
    ComPortNames() = default;
    // COM number -> device; empty devices are ignored.
    explicit ComPortNames(std::map<int, std::string> overrides);
    // The settings' "COM<n>=device" entries in file order; the first entry for a number
    // wins and keys that are no COM name are ignored.
    static ComPortNames
    FromEntries(const std::vector<std::pair<std::string, std::string>>& entries);

    // "\\.\COM<n>" (the COM letters in any case) stands for the override of COM<n> if one
    // is set, else the platform's default. Linux: COM1-32 /dev/ttyS0-31, COM33-64
    // /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31; any other "\\.\" name, or a COM number
    // without a device, resolves to "" (opening fails). Windows: the name itself. Every
    // other name is a path, returned unchanged.
    std::string Resolve(const std::string& name) const;
    // The device that COM<number> stands for, "" when none: for showing it to the operator.
    std::string Device(int number) const;
    const std::map<int, std::string>& Overrides() const { return FOverrides; }

private:
    std::map<int, std::string> FOverrides;
};

} // namespace qtr290
