// The program: the application with its error reporting, the main window, the event loop.
// A request from the system to end (SIGTERM, Ctrl-C, a hang-up, the session's end) closes
// the window as its own close does.
#include "main.h"
#include "application.h"
#include "termination.h"

int main(int argc, char** argv)
{
    qtr290::TApplication application(argc, argv);
    // Before the window: its start-up may wait in a warning box.
    qtr290::TerminationRequests termination;
    bool ending = false;
    QObject::connect(&termination, &qtr290::TerminationRequests::Requested, [&ending] {
        ending = true;
        qtr290::TerminationRequests::CloseDialogs();
    });
    qtr290::TForm1 form;
    QObject::connect(&termination, &qtr290::TerminationRequests::Requested, &form,
                     [&form] { form.close(); });
    if (ending) { // asked while the window was being made
        form.close();
        return 0;
    }
    form.show();
    return application.exec();
}
