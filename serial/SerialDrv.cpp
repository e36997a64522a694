#include "serial/SerialDrv.h"

#include <algorithm>
#include <array>
#include <limits>

namespace qtr290 {

namespace {

constexpr std::array<std::uint32_t, 16> BaudRates = {
    0,     110,   300,   600,   1200,  2400,   4800,   9600,
    14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000,
};

template <typename E> bool InRange(E value, E last)
{
    return static_cast<int>(value) >= 0 && static_cast<int>(value) <= static_cast<int>(last);
}

// Ends the polling step however it is left, including by a throwing handler.
class StepGuard {
public:
    explicit StepGuard(bool& flag) : FFlag(flag) { FFlag = true; }
    ~StepGuard() { FFlag = false; }
    StepGuard(const StepGuard&) = delete;
    StepGuard& operator=(const StepGuard&) = delete;

private:
    bool& FFlag;
};

} // namespace

std::uint32_t BaudRateOf(TBaudRate rate)
{
    return InRange(rate, br256000) ? BaudRates[static_cast<std::size_t>(rate)] : 0;
}

TSerialPortDriver::TSerialPortDriver(std::unique_ptr<SerialPlatform> platform)
    : FPlatform(platform ? std::move(platform) : MakeSystemPlatform()), FReadBuffer(FInBufSize, 0)
{
}

TSerialPortDriver::~TSerialPortDriver()
{
    Disconnect();
}

void TSerialPortDriver::SetPort(TPortNumber Value)
{
    if (Connected() || !InRange(Value, pnCOM25))
        return;
    FPort = Value;
    if (Value != pnCustom)
        FPortName = "\\\\.\\COM" + std::to_string(static_cast<int>(Value));
}

void TSerialPortDriver::SetPortName(const std::string& Value)
{
    if (Connected())
        return;
    FPort = pnCustom;
    FPortName = Value;
}

void TSerialPortDriver::SetBaudRate(TBaudRate Value)
{
    if (!InRange(Value, br256000))
        return;
    FBaudRate = Value;
    if (Value != brCustom)
        FBaudRateValue = BaudRateOf(Value);
    if (Connected())
        ApplySettings();
}

void TSerialPortDriver::SetBaudRateValue(std::uint32_t Value)
{
    FBaudRate = brCustom;
    FBaudRateValue = Value;
    if (Connected())
        ApplySettings();
}

void TSerialPortDriver::SetDataBits(TDataBits Value)
{
    if (!InRange(Value, db8BITS))
        return;
    FDataBits = Value;
    if (Connected())
        ApplySettings();
}

void TSerialPortDriver::SetStopBits(TStopBits Value)
{
    if (!InRange(Value, sb2BITS))
        return;
    FStopBits = Value;
    if (Connected())
        ApplySettings();
}

void TSerialPortDriver::SetParity(TParity Value)
{
    if (!InRange(Value, ptSPACE))
        return;
    FParity = Value;
    if (Connected())
        ApplySettings();
}

void TSerialPortDriver::SetHwFlow(THwFlowControl Value)
{
    if (!InRange(Value, hfRTSCTS))
        return;
    FHwFlow = Value;
    if (Connected())
        ApplySettings();
}

void TSerialPortDriver::SetSwFlow(TSwFlowControl Value)
{
    if (!InRange(Value, sfXONXOFF))
        return;
    FSwFlow = Value;
    if (Connected())
        ApplySettings();
}

void TSerialPortDriver::SetInBufSize(std::uint32_t Value)
{
    // The read buffer is never resized while open: a running step may be reading into it.
    if (Connected())
        return;
    FInBufSize = std::clamp(Value, MinBufSize, MaxBufSize);
    FReadBuffer.assign(FInBufSize, 0);
    SetPacketSize(FPacketSize);
}

void TSerialPortDriver::SetOutBufSize(std::uint32_t Value)
{
    if (Connected())
        return;
    FOutBufSize = std::clamp(Value, MinBufSize, MaxBufSize);
}

void TSerialPortDriver::SetPacketSize(std::int16_t Value)
{
    if (Value <= 0) {
        FPacketSize = -1;
        return;
    }
    const auto size = static_cast<std::uint32_t>(Value);
    if (size > MaxBufSize || (size > FInBufSize && Connected()))
        return; // no read buffer could hold one packet
    FPacketSize = Value;
    if (size > FInBufSize)
        SetInBufSize(size);
}

void TSerialPortDriver::SetPacketTimeout(std::int32_t Value)
{
    if (Value < 1)
        FPacketTimeout = -1;
    else if (Value < FPollingDelay)
        FPacketTimeout = FPollingDelay + (FPollingDelay * 40) / 100;
    else
        FPacketTimeout = Value;
}

void TSerialPortDriver::SetPollingDelay(std::uint16_t Value)
{
    Value = std::max(Value, MinPollingDelay);
    if (Value == FPollingDelay)
        return;
    const bool open = Connected();
    if (open)
        FPlatform->stopTimer();
    FPollingDelay = Value;
    if (open)
        FPlatform->startTimer(FPollingDelay, [this] { TimerWndProc(); });
    SetPacketTimeout(FPacketTimeout);
}

bool TSerialPortDriver::Connect()
{
    if (Connected())
        return true;
    if (!FPlatform->open(FPortName)) {
        FLastOpenFailure = FPlatform->lastOpenFailure();
        FPlatform->close(); // a backend that half-opened must not stay open
        return false;
    }
    ++FEpoch;
    FDeviceLost = false;
    if (!ApplySettings()) {
        FLastOpenFailure = OpenFailure::Settings;
        Disconnect();
        return false;
    }
    FLastOpenFailure = OpenFailure::None;
    CommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = 1;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 1;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 10;
    FPlatform->setTimeouts(timeouts);
    FPlatform->startTimer(FPollingDelay, [this] { TimerWndProc(); });
    return true;
}

void TSerialPortDriver::Disconnect()
{
    if (!Connected())
        return;
    FPlatform->stopTimer();
    FPlatform->close();
    ++FEpoch;
    FDeviceLost = false;
}

bool TSerialPortDriver::ApplySettings()
{
    if (!Connected())
        return false;
    SerialDCB dcb;
    dcb.BaudRate = FBaudRateValue;
    dcb.fBinary = true;
    dcb.fDtrControl = FEnableDTROnOpen ? SerialDCB::DtrEnable : SerialDCB::DtrDisable;
    switch (FHwFlow) {
    case hfNONERTSON:
        dcb.fRtsControl = SerialDCB::RtsEnable;
        break;
    case hfRTSCTS:
        dcb.fOutxCtsFlow = true;
        dcb.fRtsControl = SerialDCB::RtsHandshake;
        break;
    case hfNONE:
        break;
    }
    if (FSwFlow == sfXONXOFF) {
        dcb.fOutX = true;
        dcb.fInX = true;
    }
    dcb.XonLim = static_cast<std::uint16_t>(FInBufSize / 4);
    dcb.XoffLim = static_cast<std::uint16_t>(FInBufSize / 4);
    dcb.ByteSize = static_cast<std::uint8_t>(FDataBits + 5);
    dcb.Parity = static_cast<std::uint8_t>(FParity);
    dcb.StopBits = static_cast<std::uint8_t>(FStopBits);
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    if (!FPlatform->configure(dcb))
        return false;
    if (!FlushBuffers(true, true))
        return false;
    return FPlatform->setupQueues(FInBufSize, FOutBufSize);
}

bool TSerialPortDriver::FlushBuffers(bool InBuffer, bool OutBuffer)
{
    if (!Connected())
        return false;
    std::uint32_t mask = 0;
    if (OutBuffer)
        mask |= PurgeTxAbort | PurgeTxClear;
    if (InBuffer)
        mask |= PurgeRxAbort | PurgeRxClear;
    if (!FPlatform->purge(mask))
        return false;
    FPacketStartTick.reset();
    ++FEpoch;
    return true;
}

std::uint16_t TSerialPortDriver::OutputFreeSpace()
{
    if (!Connected())
        return 65535;
    std::uint32_t inQueue = 0;
    std::uint32_t outQueue = 0;
    // Unknown or overfull queue: report no room rather than a wrapped-around figure.
    if (!FPlatform->queueCounts(inQueue, outQueue) || outQueue >= FOutBufSize)
        return 0;
    return static_cast<std::uint16_t>(FOutBufSize - outQueue);
}

bool TSerialPortDriver::InputOverruns(std::uint64_t& count)
{
    return Connected() && FPlatform->inputOverruns(count);
}

TLineStatusSet TSerialPortDriver::GetLineStatus()
{
    TLineStatusSet status;
    std::uint32_t bits = 0;
    if (!Connected() || !FPlatform->modemStatus(bits))
        return status;
    if (bits & MsCtsOn)
        status.include(lsCTS);
    if (bits & MsDsrOn)
        status.include(lsDSR);
    if (bits & MsRingOn)
        status.include(lsRING);
    if (bits & MsRlsdOn)
        status.include(lsCD);
    return status;
}

std::uint32_t TSerialPortDriver::SendData(std::span<const std::uint8_t> Data)
{
    return SendDataTimeout(Data, FOutputTimeout);
}

std::uint32_t TSerialPortDriver::SendDataTimeout(std::span<const std::uint8_t> Data,
                                                 std::uint32_t Timeout)
{
    std::uint32_t sent = 0;
    if (!Connected())
        return 0;
    std::uint32_t lastProgress = FPlatform->TickCount();
    while (!Data.empty()) {
        const std::uint16_t room = OutputFreeSpace();
        if (room > 0) {
            if (FCheckLineStatus && GetLineStatus().empty())
                break;
            const std::size_t chunk = std::min<std::size_t>(room, Data.size());
            const auto written = FPlatform->write(Data.first(chunk));
            if (written && *written > 0) {
                const std::size_t count = std::min(*written, chunk); // never past the data
                sent += static_cast<std::uint32_t>(count);
                Data = Data.subspan(count);
                lastProgress = FPlatform->TickCount();
                continue;
            }
        }
        if (FPlatform->TickCount() - lastProgress > Timeout)
            break;
    }
    return sent;
}

void TSerialPortDriver::SetDTR(bool State)
{
    if (Connected())
        FPlatform->escapeDTR(State);
}

std::uint32_t TSerialPortDriver::BytesTransmitTime(std::uint32_t Count) const
{
    // Count * 10 bits * 1000 ms / rate, in exact integers so that halves are true halves.
    if (FBaudRateValue == 0)
        return 0;
    const std::uint64_t numerator = std::uint64_t(Count) * 10000u;
    const std::uint64_t rate = FBaudRateValue;
    std::uint64_t ms = numerator / rate;
    const std::uint64_t twiceRest = 2 * (numerator % rate);
    if (twiceRest > rate || (twiceRest == rate && (ms & 1u)))
        ++ms;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(ms, std::numeric_limits<std::uint32_t>::max()));
}

bool TSerialPortDriver::ReadInto(std::size_t count, std::size_t& got)
{
    // Callers keep count within the buffer; the clamps keep a faulty backend inside it too.
    count = std::min(count, FReadBuffer.size());
    const auto result = FPlatform->read(std::span(FReadBuffer).first(count));
    if (!result) {
        CheckDeviceLost(); // callers end the step on a failed read
        return false;
    }
    got = std::min(*result, count);
    return true;
}

void TSerialPortDriver::CheckDeviceLost()
{
    if (FDeviceLost || !FPlatform->deviceLost())
        return;
    // Nothing will come from it again: polling on would only spin through failing calls.
    FDeviceLost = true;
    FPlatform->stopTimer();
    FPacketStartTick.reset();
    ++FEpoch;
    if (FOnDeviceLost) {
        const DeviceLostHandler handler = FOnDeviceLost;
        handler(*this);
    }
}

void TSerialPortDriver::ReadWithoutPackets(std::size_t queued, std::uint32_t epoch)
{
    // What the step finds, a buffer at a time. A step that finds a full buffer or more
    // (a high rate) reads on until the queue is empty: what stays queued is lost once the
    // system's queue fills. At most MaxDrainPerStep, so that a step always ends.
    const bool busyLine = queued >= FInBufSize;
    std::size_t drained = 0, got = 0;
    std::uint32_t inQueue = 0, outQueue = 0;
    while (queued > 0 && drained < MaxDrainPerStep) {
        const std::size_t wanted = std::min<std::size_t>(queued, FInBufSize);
        if (!ReadInto(wanted, got) || got == 0)
            return;
        drained += got;
        if (FOnReceiveData) {
            const TReceiveDataEvent handler = FOnReceiveData; // survives reassignment
            handler(*this, std::span<const std::uint8_t>(FReadBuffer.data(), got));
            if (FEpoch != epoch || !Connected())
                return;
        }
        // A short read: the device had less than it reported; the next step asks again.
        if (got < wanted)
            return;
        if (!busyLine) {
            queued -= got;
            continue;
        }
        if (!FPlatform->queueCounts(inQueue, outQueue))
            return;
        queued = inQueue;
        // A terminal counts only what its line discipline holds (4 KiB on Linux); the rest
        // waits in the kernel's buffers, moved in later or by a read that finds none counted.
        // One more read takes it now; a read of nothing ends the step.
        if (queued == 0)
            queued = FInBufSize;
    }
}

void TSerialPortDriver::TimerWndProc()
{
    // A handler that runs a nested event loop would otherwise re-enter and overwrite the
    // buffer that the outer handler is still reading.
    if (FInStep || !Connected() || FDeviceLost)
        return;
    StepGuard guard(FInStep);
    const std::uint32_t epoch = FEpoch;

    std::uint32_t inQueue = 0;
    std::uint32_t outQueue = 0;
    if (!FPlatform->queueCounts(inQueue, outQueue)) {
        CheckDeviceLost();
        return;
    }
    std::size_t queued = inQueue;
    std::size_t got = 0;

    if (FPacketSize <= 0) {
        ReadWithoutPackets(queued, epoch);
        return;
    }

    // Fixed for the whole step; the buffer cannot shrink while the port stays open.
    const auto packetSize = static_cast<std::size_t>(FPacketSize);
    if (queued >= packetSize) {
        while (queued >= packetSize) {
            // Nothing readable now: the bytes stay queued for the next step instead of
            // spinning through a count that a failing device keeps reporting.
            if (!ReadInto(packetSize, got) || got == 0)
                return;
            if (FOnReceivePacket) {
                const TReceivePacketEvent handler = FOnReceivePacket;
                handler(*this, std::span<const std::uint8_t>(FReadBuffer.data(), got));
                // Closed, reopened or purged inside the handler: the count is stale.
                if (FEpoch != epoch)
                    return;
            }
            if (FPacketStartTick)
                *FPacketStartTick += BytesTransmitTime(static_cast<std::uint32_t>(packetSize));
            queued -= packetSize;
            if (queued == 0)
                FPacketStartTick.reset();
        }
        return;
    }

    const std::uint32_t now = FPlatform->TickCount();
    // Signed difference: a start estimated slightly ahead of now is not a time-out.
    if (FPacketTimeout > 0 && FPacketStartTick &&
        static_cast<std::int32_t>(now - *FPacketStartTick) > FPacketTimeout) {
        FPacketStartTick.reset();
        if (queued == 0 || !ReadInto(queued, got))
            return;
        if (FPacketMode == pmPass && got > 0 && FOnReceivePacket) {
            const TReceivePacketEvent handler = FOnReceivePacket;
            handler(*this, std::span<const std::uint8_t>(FReadBuffer.data(), got));
        }
        return;
    }
    if (queued > 0 && !FPacketStartTick)
        FPacketStartTick = now;
}

} // namespace qtr290
