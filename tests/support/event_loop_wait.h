// Tests of event-loop code: a wait that runs the loop until a condition holds (the
// QCoreApplication it needs: tests/support/core_application.h).
#pragma once

#include "tests/support/core_application.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace qtr290::test {

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
