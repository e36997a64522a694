// qtr290-sim: a QTR290 device bus on a pseudo-terminal, for tests, demos and development.
#include "process/standard_descriptors.h"
#include "tools/qtr290-sim/options.h"
#include "tools/qtr290-sim/simulator.h"
#include "tools/standard_output.h"

#include <iostream>
#include <vector>

int main(int argc, char** argv)
{
    qtr290::OpenNullOnClosedStandardDescriptors();
    using namespace qtr290::sim;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParseResult parsed = ParseOptions(args);
    if (!parsed.error.empty()) {
        std::cerr << "qtr290-sim: " << parsed.error << "\nTry 'qtr290-sim --help'.\n";
        return 2;
    }
    if (parsed.options.help) {
        std::cout << HelpText();
        return qtr290::ExitStatusAfterOutput("qtr290-sim", 0);
    }
    Simulator simulator(parsed.options);
    return simulator.Run();
}
