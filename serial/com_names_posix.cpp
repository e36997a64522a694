// COM numbers on Linux: fixed device ranges; other Win32 device names stand for nothing.
#include "serial/com_names_p.h"

namespace qtr290::detail {

std::string DefaultComDevice(int number)
{
    if (number >= 1 && number <= 32)
        return "/dev/ttyS" + std::to_string(number - 1);
    if (number >= 33 && number <= 64)
        return "/dev/ttyUSB" + std::to_string(number - 33);
    if (number >= 65 && number <= 96)
        return "/dev/ttyACM" + std::to_string(number - 65);
    return {};
}

std::string NativeDeviceName(const std::string& name, std::optional<int> comNumber)
{
    if (comNumber)
        return DefaultComDevice(*comNumber);
    // Some other Win32 device-namespace name: nothing on this system stands for it.
    if (StartsWithDeviceNamespace(name))
        return {};
    return name;
}

} // namespace qtr290::detail
