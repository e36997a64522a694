// The program's command line: --help, --version, --language. The options of Qt's window
// system (-platform, -style, …) are accepted here and left to the application object, so
// that the command line can be read before that object needs a display.
#pragma once

#include <QString>
#include <QStringList>

namespace qtr290 {

struct CommandLine {
    enum class Action {
        Run,     // start the window
        Help,    // print `output` to standard output and end with status 0
        Version, // the same
        Misuse,  // print `output` (the error and the usage) to standard error, status 2
    };
    Action action = Action::Run;
    QString language; // --language; empty: the settings file decides
    QString output;
};

// The arguments as the process got them, the program's path first. Needs a
// QCoreApplication for the program's name in the usage.
CommandLine ParseCommandLine(const QStringList& arguments);

} // namespace qtr290
