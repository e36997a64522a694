// The program: the application with its error reporting, the main window, the event loop.
#include "main.h"
#include "application.h"
#include "quitsignals.h"

#include <QIcon>

int main(int argc, char** argv)
{
    qtr290::TApplication application(argc, argv);
    // The installed menu entry and icon (packaging/), for the window list and Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("qtr290"));
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("qtr290")));
    // Before the window: start-up may wait in a message box when the request comes.
    qtr290::TQuitSignals quitSignals;
    qtr290::TForm1 form;
    quitSignals.Attach(form);
    form.show();
    return application.exec();
}
