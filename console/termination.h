// The system's requests to end the program, turned into a signal on the GUI thread so that
// the window closes as its own close does: SIGTERM, SIGINT and SIGHUP on POSIX (through a
// self-pipe: the handler only wakes the event loop); on Windows the console's Ctrl-C,
// Ctrl-Break and close, and the end of the session.
#pragma once

#include <QObject>

namespace qtr290 {

class TerminationRequests : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; one instance at a time. Requests that come before an event
    // loop runs wait for it.
    explicit TerminationRequests(QObject* parent = nullptr);
    // Restores the previous handlers.
    ~TerminationRequests() override;
    TerminationRequests(const TerminationRequests&) = delete;
    TerminationRequests& operator=(const TerminationRequests&) = delete;

    // Rejects the dialogs that are open (message boxes), so that their loops end.
    static void CloseDialogs();

signals:
    void Requested();

private:
    bool FInstalled = false; // this instance installed the handlers
};

} // namespace qtr290
