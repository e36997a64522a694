#include "serial/poll_timer.h"

#include <QObject>
#include <QTimerEvent>

#include <algorithm>
#include <climits>

namespace qtr290 {

class PollTimer::Object : public QObject {
public:
    std::function<void()> onTick;
    int id = 0;

protected:
    void timerEvent(QTimerEvent* event) override
    {
        if (event->timerId() != id) {
            QObject::timerEvent(event);
            return;
        }
        // A copy: the tick may replace onTick (restart) while it runs.
        const auto tick = onTick;
        if (tick)
            tick();
    }
};

PollTimer::PollTimer() = default;

PollTimer::~PollTimer()
{
    stop();
}

void PollTimer::start(std::uint32_t periodMs, std::function<void()> onTick)
{
    if (!FObject)
        FObject = std::make_unique<Object>();
    stop();
    FObject->onTick = std::move(onTick);
    const int period = static_cast<int>(std::min<std::uint32_t>(periodMs, INT_MAX));
    FObject->id = FObject->startTimer(period, Qt::PreciseTimer);
}

void PollTimer::stop()
{
    if (!FObject)
        return;
    if (FObject->id != 0)
        FObject->killTimer(FObject->id);
    FObject->id = 0;
    FObject->onTick = nullptr;
}

bool PollTimer::running() const
{
    return FObject && FObject->id != 0;
}

} // namespace qtr290
