// The system's request to end the program (SIGTERM, SIGINT, SIGHUP on POSIX: a logout, a
// kill, Ctrl-C in the terminal) closes the main window as the operator would, so that its
// settings are written, instead of ending the process on the spot.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

#include <memory>

namespace qtr290 {

class TQuitSignals {
public:
    // Catches the requests from now on: start-up may already show a message box.
    TQuitSignals();
    ~TQuitSignals();
    TQuitSignals(const TQuitSignals&) = delete;
    TQuitSignals& operator=(const TQuitSignals&) = delete;

    // The window to close; a request that came earlier is carried out once the event loop runs.
    void Attach(QWidget& window);

private:
    // Closes an open message box first, and the window only from the main event loop, so
    // that no handler below a message box finds the window gone when the box returns.
    void Close();

    QPointer<QWidget> FWindow;
    bool FRequested = false;
    std::unique_ptr<QObject> FWatch;
};

// The platform's part: calls `requested` on the GUI thread for each request; the returned
// object stops the watch when destroyed (null where the platform has nothing to watch).
std::unique_ptr<QObject> WatchQuitRequests(std::function<void()> requested);

} // namespace qtr290
