// The program: the application with its error reporting, the main window, the event loop.
#include "main.h"
#include "application.h"

int main(int argc, char** argv)
{
    qtr290::TApplication application(argc, argv);
    qtr290::TForm1 form;
    form.show();
    return application.exec();
}
