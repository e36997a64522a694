// qtr290-ctl: reads, writes and watches the QTR290 bus from the command line.
#include "process/standard_descriptors.h"
#include "tools/qtr290-ctl/ctl_commands.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <iostream>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Before anything opens descriptors of its own: a closed standard input must not become
    // one of them for the batch to read, nor /dev/null, which would read as an empty batch.
    const int inputFd = ::fcntl(STDIN_FILENO, F_GETFD) == -1 ? -1 : STDIN_FILENO;
    qtr290::OpenNullOnClosedStandardDescriptors();
    QCoreApplication app(argc, argv);
    qtr290::ctl::InstallStopHandlers();
    return qtr290::ctl::Run(std::vector<std::string>(argv + 1, argv + argc), inputFd, std::cout,
                            std::cerr);
}
