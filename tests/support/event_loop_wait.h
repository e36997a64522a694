// Tests of event-loop code: the QCoreApplication a GoogleTest program lacks, and a wait that
// runs the loop until a condition holds.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace qtr290::test {

inline void EnsureCoreApplication()
{
    static int argc = 1;
    static char name[] = "qtr290-test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

// Runs the event loop until `done()` or `timeoutMs`; whether `done()` held.
template <class Condition> bool RunUntil(Condition done, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake; // the loop wakes at least this often to look at the condition
    wake.start(10);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace qtr290::test
