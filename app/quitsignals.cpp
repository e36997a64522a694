#include "app/quitsignals.h"

#include <QApplication>
#include <QThread>
#include <QTimer>

namespace qtr290 {

TQuitSignals::TQuitSignals()
    : FWatch(WatchQuitRequests([this] {
          FRequested = true;
          Close();
      }))
{
}

TQuitSignals::~TQuitSignals() = default;

void TQuitSignals::Attach(QWidget& window)
{
    FWindow = &window;
    if (FRequested)
        QTimer::singleShot(0, &window, [this] { Close(); });
}

void TQuitSignals::Close()
{
    if (QWidget* box = QApplication::activeModalWidget())
        box->close();
    if (!FWindow)
        return; // start-up goes on; Attach finishes the job
    if (QApplication::activeModalWidget() || QThread::currentThread()->loopLevel() > 1) {
        // Still inside a message box's own loop: again once it has returned.
        QTimer::singleShot(50, FWindow, [this] { Close(); });
        return;
    }
    FWindow->close();
}

} // namespace qtr290
