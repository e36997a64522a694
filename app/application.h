// The application object with the general error reporting: an exception that an event
// handler lets through is shown to the operator and the event loop goes on.
#pragma once

#include <QApplication>

namespace qtr290 {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // An error that no handler caught, in a message box over the active window.
    static void ShowUncaughtError(const QString& message);
};

} // namespace qtr290
