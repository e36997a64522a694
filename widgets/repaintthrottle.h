// Paints a window at most once per interval. A busy bus changes the memos at every tick, and
// faster still when the event loop falls behind; a burst of changes is painted once, at the
// end of the interval, instead of once per change. A change after a quiet interval is painted
// at once, so that typing and clicking feel no delay.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

namespace qtr290 {

class RepaintThrottle : public QObject {
public:
    RepaintThrottle(QWidget* window, int intervalMs);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PaintNow();

    QWidget* FWindow;
    int FIntervalMs;
    QElapsedTimer FSincePaint;
    QTimer FLater;
    bool FDue = false; // the update posted by FLater is on its way
};

} // namespace qtr290
