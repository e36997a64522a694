// The console's Ctrl-C, Ctrl-Break and close, and the end of the session. The console
// handler runs on a thread of the system's: it only posts the request to the GUI thread, and
// for a close, a log-off or a shut-down (after which the system ends the process as soon as
// the handler returns) it waits until the window has closed.
#include "termination.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QSessionManager>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>

namespace qtr290 {

namespace {

std::atomic<TerminationRequests*> Instance = nullptr;
HANDLE Closed = nullptr; // set once the window has closed and the program is ending

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    TerminationRequests* requests = Instance;
    if (!requests)
        return FALSE;
    QMetaObject::invokeMethod(
        requests, [requests] { emit requests->Requested(); }, Qt::QueuedConnection);
    // The system allows a few seconds after a close before it ends the process.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        ::WaitForSingleObject(Closed, 4000);
    return TRUE;
}

} // namespace

TerminationRequests::TerminationRequests(QObject* parent) : QObject(parent)
{
    if (Instance)
        return;
    FInstalled = true;
    Instance = this;
    Closed = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    // The end of the session reaches a window program as WM_QUERYENDSESSION.
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(application, &QGuiApplication::commitDataRequest, this,
                &TerminationRequests::Requested);
}

TerminationRequests::~TerminationRequests()
{
    if (!FInstalled)
        return;
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    Instance = nullptr;
    if (Closed)
        ::SetEvent(Closed); // the handle stays: a waiting handler may still hold it
}

} // namespace qtr290
