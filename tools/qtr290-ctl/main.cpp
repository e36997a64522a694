// qtr290-ctl: reads, writes and watches the QTR290 bus from the command line.
#include "process/standard_descriptors.h"
#include "tools/qtr290-ctl/ctl_station.h"

#include <QCoreApplication>

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv)
{
    qtr290::OpenNullOnClosedStandardDescriptors();
    QCoreApplication app(argc, argv);
    qtr290::ctl::InstallStopHandlers();
    return qtr290::ctl::Run(std::vector<std::string>(argv + 1, argv + argc), STDIN_FILENO,
                            std::cout, std::cerr);
}
