// COM numbers on Windows: "\\.\COM<n>" is already what CreateFileA opens.
#include "serial/com_names_p.h"

namespace qtr290::detail {

std::string DefaultComDevice(int number)
{
    if (number < 1)
        return {};
    return "\\\\.\\COM" + std::to_string(number);
}

std::string NativeDeviceName(const std::string& name, std::optional<int>)
{
    return name;
}

} // namespace qtr290::detail
