// The platform's part of COM-name resolution (com_names_posix.cpp / com_names_win32.cpp);
// overrides and the parsing of "\\.\COM<n>" are shared (com_names.cpp).
#pragma once

#include <optional>
#include <string>

namespace qtr290::detail {

bool StartsWithDeviceNamespace(const std::string& name); // "\\.\"

// The device COM<number> stands for when the settings give no override; "" for none.
std::string DefaultComDevice(int number);

// What to open for `name` when no override applies; `comNumber` is set for "\\.\COM<n>".
std::string NativeDeviceName(const std::string& name, std::optional<int> comNumber);

} // namespace qtr290::detail
