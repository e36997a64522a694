// A scripted SerialPlatform for tests. The line's state lives in a FakeLine that the test
// keeps through a shared pointer, so it can be inspected after the driver (which owns the
// platform) is gone:
//
//     auto line = std::make_shared<qtr290::test::FakeLine>();
//     qtr290::TSerialPortDriver port(std::make_unique<qtr290::test::FakePlatform>(line));
#pragma once

#include "serial/platform.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace qtr290::test {

struct FakeLine {
    // Switches that make a call fail (open also fails while !present).
    struct Failures {
        bool open = false;
        bool configure = false;
        bool setupQueues = false;
        bool purge = false;
        bool setTimeouts = false;
        bool queueCounts = false;
        bool read = false;
        bool write = false;
        bool escapeDTR = false;
        bool modemStatus = false;
    };
    Failures fail;

    // The device.
    bool present = true;      // false: missing or in use elsewhere
    bool gone = false;        // it vanished: every port call fails as on a removed device, open too
    bool reportsLoss = false; // deviceLost() says so, whichever calls fail (fail.* above)
    OpenFailure openFailure = OpenFailure::NotFound; // what a failed open reports
    bool open = false;
    std::vector<std::string> openAttempts; // every name open was called with
    int closes = 0;
    int callsWhileClosed = 0; // port operations issued while closed (clock and timer excluded)
    int portCalls = 0;        // port operations issued while open (clock and timer excluded)
    int lossChecks = 0;       // deviceLost() calls

    // What the driver applied.
    std::vector<SerialDCB> configured;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> queueSizes;
    std::vector<std::uint32_t> purges; // masks; a purge also empties the named queues
    std::optional<CommTimeouts> timeouts;

    // Input: the bytes the line has delivered and the driver has not read yet.
    std::deque<std::uint8_t> input;
    std::size_t readCap = std::numeric_limits<std::size_t>::max(); // a read returns at most this
    std::optional<std::uint32_t> reportedInQueue; // reported instead of input.size()
    // A terminal's count: only this many bytes (its line discipline's buffer) are counted. They
    // are taken in on delivery; the rest only by a read that finds none counted.
    std::optional<std::size_t> disciplineSize;
    std::size_t counted = 0;
    int reads = 0;

    void deliver(std::span<const std::uint8_t> bytes)
    {
        input.insert(input.end(), bytes.begin(), bytes.end());
        TakeIntoDiscipline();
    }
    void deliver(std::initializer_list<std::uint8_t> bytes)
    {
        input.insert(input.end(), bytes);
        TakeIntoDiscipline();
    }
    void TakeIntoDiscipline()
    {
        if (disciplineSize)
            counted = std::min(input.size(), *disciplineSize);
    }

    // Output.
    std::vector<std::uint8_t> written;
    std::uint32_t outQueue = 0;      // bytes reported waiting in the output queue
    bool writesFillOutQueue = false; // written bytes stay queued: the output never drains
    std::size_t writeCap = std::numeric_limits<std::size_t>::max(); // a write accepts at most this
    int writes = 0;
    std::vector<std::uint32_t> writeTimes; // clock value at each successful write

    // Modem lines.
    std::uint32_t modemBits = 0;           // Ms* bits reported by modemStatus
    std::optional<std::uint64_t> overruns; // the device's count of bytes lost; none: no count
    struct DtrChange {
        bool raised;
        std::uint32_t at; // clock value at the change
    };
    std::vector<DtrChange> dtrLog; // successful changes only

    // One clock serves TickCount and MultimediaTime.
    std::uint32_t now = 0;
    std::uint32_t autoAdvance = 0; // added after every clock read, so busy waits end
    std::uint64_t clockReads = 0;
    void advance(std::uint32_t ms) { now += ms; }

    // The periodic tick.
    bool timerRunning = false;
    std::uint32_t timerPeriod = 0;
    int timerStarts = 0;
    int timerStops = 0;
    std::function<void()> onTick;
    // Runs one tick if the timer is running; true if it ran.
    bool tick()
    {
        if (!timerRunning || !onTick)
            return false;
        const auto handler = onTick; // the tick may restart the timer
        handler();
        return true;
    }
};

class FakePlatform final : public SerialPlatform {
public:
    explicit FakePlatform(std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>())
        : FLine(std::move(line))
    {
    }

    FakeLine& line() { return *FLine; }

    bool open(const std::string& deviceName) override
    {
        FLine->openAttempts.push_back(deviceName);
        if (FLine->open || FLine->fail.open || !FLine->present || FLine->gone) {
            FFailure = FLine->open ? OpenFailure::Busy : FLine->openFailure;
            return false;
        }
        FLine->open = true;
        FFailure = OpenFailure::None;
        return true;
    }

    OpenFailure lastOpenFailure() const override { return FFailure; }

    void close() override
    {
        if (!FLine->open)
            return;
        FLine->open = false;
        ++FLine->closes;
    }

    bool isOpen() const override { return FLine->open; }

    bool configure(const SerialDCB& dcb) override
    {
        if (!Usable(FLine->fail.configure))
            return false;
        FLine->configured.push_back(dcb);
        return true;
    }

    bool setupQueues(std::uint32_t inQueue, std::uint32_t outQueue) override
    {
        if (!Usable(FLine->fail.setupQueues))
            return false;
        FLine->queueSizes.emplace_back(inQueue, outQueue);
        return true;
    }

    bool purge(std::uint32_t mask) override
    {
        if (!Usable(FLine->fail.purge))
            return false;
        FLine->purges.push_back(mask);
        if (mask & PurgeRxClear)
            FLine->input.clear();
        if (mask & PurgeTxClear)
            FLine->outQueue = 0;
        return true;
    }

    bool setTimeouts(const CommTimeouts& timeouts) override
    {
        if (!Usable(FLine->fail.setTimeouts))
            return false;
        FLine->timeouts = timeouts;
        return true;
    }

    bool queueCounts(std::uint32_t& inQueue, std::uint32_t& outQueue) override
    {
        if (!Usable(FLine->fail.queueCounts))
            return false;
        inQueue = FLine->reportedInQueue.value_or(static_cast<std::uint32_t>(
            FLine->disciplineSize ? FLine->counted : FLine->input.size()));
        outQueue = FLine->outQueue;
        return true;
    }

    bool deviceLost() override
    {
        ++FLine->lossChecks;
        return FLine->open && (FLine->gone || FLine->reportsLoss);
    }

    std::optional<std::size_t> read(std::span<std::uint8_t> into) override
    {
        ++FLine->reads;
        if (!Usable(FLine->fail.read))
            return std::nullopt;
        if (FLine->disciplineSize && FLine->counted == 0)
            FLine->TakeIntoDiscipline();
        const std::size_t available = FLine->disciplineSize ? FLine->counted : FLine->input.size();
        const std::size_t count = std::min({into.size(), available, FLine->readCap});
        if (FLine->disciplineSize)
            FLine->counted -= count;
        std::copy_n(FLine->input.begin(), count, into.begin());
        FLine->input.erase(FLine->input.begin(),
                           FLine->input.begin() + static_cast<std::ptrdiff_t>(count));
        return count;
    }

    std::optional<std::size_t> write(std::span<const std::uint8_t> from) override
    {
        ++FLine->writes;
        if (!Usable(FLine->fail.write))
            return std::nullopt;
        const std::size_t count = std::min(from.size(), FLine->writeCap);
        FLine->written.insert(FLine->written.end(), from.begin(),
                              from.begin() + static_cast<std::ptrdiff_t>(count));
        FLine->writeTimes.push_back(FLine->now);
        if (FLine->writesFillOutQueue)
            FLine->outQueue += static_cast<std::uint32_t>(count);
        return count;
    }

    bool escapeDTR(bool raise) override
    {
        if (!Usable(FLine->fail.escapeDTR))
            return false;
        FLine->dtrLog.push_back({raise, FLine->now});
        return true;
    }

    bool modemStatus(std::uint32_t& bits) override
    {
        if (!Usable(FLine->fail.modemStatus))
            return false;
        bits = FLine->modemBits;
        return true;
    }

    bool inputOverruns(std::uint64_t& count) override
    {
        if (!Usable(false) || !FLine->overruns)
            return false;
        count = *FLine->overruns;
        return true;
    }

    std::uint32_t TickCount() override { return ReadClock(); }
    std::uint32_t MultimediaTime() override { return ReadClock(); }

    void startTimer(std::uint32_t periodMs, std::function<void()> onTick) override
    {
        FLine->timerRunning = true;
        FLine->timerPeriod = periodMs;
        FLine->onTick = std::move(onTick);
        ++FLine->timerStarts;
    }

    void stopTimer() override
    {
        FLine->timerRunning = false;
        FLine->onTick = nullptr;
        ++FLine->timerStops;
    }

private:
    // A port operation may proceed: the port is open, its device there, and the call is not
    // switched to fail.
    bool Usable(bool failing)
    {
        if (!FLine->open) {
            ++FLine->callsWhileClosed;
            return false;
        }
        ++FLine->portCalls;
        return !failing && !FLine->gone;
    }

    std::uint32_t ReadClock()
    {
        ++FLine->clockReads;
        const std::uint32_t value = FLine->now;
        FLine->now += FLine->autoAdvance;
        return value;
    }

    std::shared_ptr<FakeLine> FLine;
    OpenFailure FFailure = OpenFailure::None;
};

} // namespace qtr290::test
