#include "widgets/repaintthrottle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace qtr290 {

RepaintThrottle::RepaintThrottle(QWidget* window, int intervalMs)
    : QObject(window), FWindow(window), FIntervalMs(intervalMs)
{
    FLater.setSingleShot(true);
    connect(&FLater, &QTimer::timeout, this, &RepaintThrottle::PaintNow);
    window->installEventFilter(this);
}

bool RepaintThrottle::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != FWindow || event->type() != QEvent::UpdateRequest)
        return false;
    // The widgets' dirty regions stay marked while an update waits; the one let through
    // paints them all.
    if (FDue || !FSincePaint.isValid() || FSincePaint.elapsed() >= FIntervalMs) {
        FDue = false;
        FSincePaint.restart();
        return false;
    }
    if (!FLater.isActive())
        FLater.start(int(FIntervalMs - FSincePaint.elapsed()));
    return true;
}

void RepaintThrottle::PaintNow()
{
    FDue = true;
    QCoreApplication::postEvent(FWindow, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

} // namespace qtr290
