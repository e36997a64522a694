// A periodic tick delivered by the Qt event loop of the thread that starts it (QtCore only;
// the header itself stays free of Qt).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace qtr290 {

class PollTimer {
public:
    PollTimer();
    ~PollTimer();
    PollTimer(const PollTimer&) = delete;
    PollTimer& operator=(const PollTimer&) = delete;

    // Replaces a running tick. The tick may stop or restart this timer.
    void start(std::uint32_t periodMs, std::function<void()> onTick);
    void stop();
    bool running() const;

private:
    class Object;
    std::unique_ptr<Object> FObject;
};

} // namespace qtr290
