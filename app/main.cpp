// The program: the command line, the application with its error reporting, the main window,
// the event loop.
#include "console/main.h"
#include "app/application.h"
#include "app/commandline.h"
#include "app/quitsignals.h"
#include "process/standard_descriptors.h"

#include <QCoreApplication>
#include <QIcon>

#include <cstdio>

int main(int argc, char** argv)
{
    qtr290::OpenNullOnClosedStandardDescriptors();
    QCoreApplication::setApplicationName(QStringLiteral("qtr290"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QTR290_VERSION));
    // The command line first, without the window system: --help and --version need no display.
    qtr290::CommandLine commandLine;
    {
        QCoreApplication process(argc, argv);
        commandLine = qtr290::ParseCommandLine(QCoreApplication::arguments());
    }
    switch (commandLine.action) {
    case qtr290::CommandLine::Action::Help:
    case qtr290::CommandLine::Action::Version:
        std::fputs(commandLine.output.toLocal8Bit().constData(), stdout);
        return 0;
    case qtr290::CommandLine::Action::Misuse:
        std::fputs(commandLine.output.toLocal8Bit().constData(), stderr);
        return 2;
    case qtr290::CommandLine::Action::Run:
        break;
    }

    qtr290::TApplication application(argc, argv);
    // The installed menu entry and icon (packaging/), for the window list and Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("qtr290"));
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("qtr290")));
    // Before the window: start-up may wait in a message box when the request comes.
    qtr290::TQuitSignals quitSignals;
    qtr290::TForm1Options options;
    options.language = commandLine.language;
    qtr290::TForm1 form(options);
    quitSignals.Attach(form);
    form.show();
    return application.exec();
}
