// The program: the application with its error reporting, the main window, the event loop.
#include "main.h"
#include "application.h"
#include "quitsignals.h"

int main(int argc, char** argv)
{
    qtr290::TApplication application(argc, argv);
    // Before the window: start-up may wait in a message box when the request comes.
    qtr290::TQuitSignals quitSignals;
    qtr290::TForm1 form;
    quitSignals.Attach(form);
    form.show();
    return application.exec();
}
