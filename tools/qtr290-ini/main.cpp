// qtr290-ini: reads and writes keys of a settings file through the utility's own profile
// code, so that the scripts change a file exactly as the utility would. Build-only.
#include "process/standard_descriptors.h"
#include "settings/iniprofile.h"
#include "tools/standard_output.h"

#include <iostream>
#include <string_view>
#include <vector>

namespace {

constexpr char Usage[] = R"(Usage: qtr290-ini FILE get SECTION KEY [DEFAULT]
       qtr290-ini FILE set SECTION KEY VALUE [SECTION KEY VALUE...]
get prints the value (or DEFAULT; without one a missing key exits with 1).
set writes the keys as the utility does and keeps everything else in the file.
)";

int Fail(const std::string& message, int status)
{
    std::cerr << "qtr290-ini: " << message << '\n';
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    qtr290::OpenNullOnClosedStandardDescriptors();
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << Usage;
        return qtr290::ExitStatusAfterOutput("qtr290-ini", 0);
    }
    const bool get = args.size() >= 2 && args[1] == "get" && (args.size() == 4 || args.size() == 5);
    const bool set = args.size() >= 5 && args[1] == "set" && (args.size() - 2) % 3 == 0;
    if (!get && !set) {
        std::cerr << Usage;
        return 2;
    }

    qtr290::IniProfile ini(QString::fromLocal8Bit(argv[1]));
    if (!ini.Load())
        return Fail(std::string(args[0]) + " cannot be read", 1);
    if (get) {
        const auto value = ini.Find(args[2], args[3]);
        if (!value && args.size() == 4)
            return 1;
        std::cout << (value ? *value : std::string(args[4])) << '\n';
        return qtr290::ExitStatusAfterOutput("qtr290-ini", 0);
    }
    for (std::size_t i = 2; i < args.size(); i += 3)
        ini.WriteString(args[i], args[i + 1], args[i + 2]);
    if (!ini.Save())
        return Fail(std::string(args[0]) + " cannot be written", 1);
    return 0;
}
