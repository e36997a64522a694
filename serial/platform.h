// The operations the serial port driver needs from the operating system, and nothing more.
// Backends turn system-call failures into plain success/failure, counts, one closed set of
// opening failures and the loss of the device: no errno above this header. The POSIX
// backend is platform_posix.cpp.
#pragma once

#include "serial/com_names.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace qtr290 {

// Line settings as the driver fills them: the fields of a Win32 DCB that it uses.
struct SerialDCB {
    enum DtrControl : std::uint8_t { DtrDisable = 0, DtrEnable = 1, DtrHandshake = 2 };
    enum RtsControl : std::uint8_t {
        RtsDisable = 0,
        RtsEnable = 1,
        RtsHandshake = 2,
        RtsToggle = 3
    };

    std::uint32_t BaudRate = 0; // bits per second
    std::uint8_t ByteSize = 0;  // 5..8
    std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    bool fBinary = false;
    std::uint8_t fDtrControl = DtrDisable;
    std::uint8_t fRtsControl = RtsDisable;
    bool fOutxCtsFlow = false;
    bool fOutX = false;
    bool fInX = false;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    char XonChar = 0;
    char XoffChar = 0;

    // The flag bits packed as the Win32 DCB's flags word (fBinary bit 0, fOutxCtsFlow bit 2,
    // fDtrControl bits 4-5, fOutX bit 8, fInX bit 9, fRtsControl bits 12-13).
    std::uint32_t Flags() const
    {
        return (fBinary ? 0x0001u : 0u) | (fOutxCtsFlow ? 0x0004u : 0u) |
               (std::uint32_t(fDtrControl & 3u) << 4) | (fOutX ? 0x0100u : 0u) |
               (fInX ? 0x0200u : 0u) | (std::uint32_t(fRtsControl & 3u) << 12);
    }
};

struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

// Purge mask bits (the Win32 PURGE_* values).
inline constexpr std::uint32_t PurgeTxAbort = 0x0001;
inline constexpr std::uint32_t PurgeRxAbort = 0x0002;
inline constexpr std::uint32_t PurgeTxClear = 0x0004;
inline constexpr std::uint32_t PurgeRxClear = 0x0008;

// Modem status bits (the Win32 MS_*_ON values).
inline constexpr std::uint32_t MsCtsOn = 0x0010;
inline constexpr std::uint32_t MsDsrOn = 0x0020;
inline constexpr std::uint32_t MsRingOn = 0x0040;
inline constexpr std::uint32_t MsRlsdOn = 0x0080;

// Why a device would not open, mapped from the system's error in one place per backend.
enum class OpenFailure {
    None,         // it opened
    NoDevice,     // the name stands for no device at all (a COM number without one)
    NotFound,     // no such device (file missing, or its driver is gone)
    NoPermission, // it exists, but this user may not read and write it
    Busy,         // another program holds it
    Settings,     // it opened but refused the line settings (or is no serial device)
};

class SerialPlatform {
public:
    virtual ~SerialPlatform() = default;

    // Opens the device for exclusive use. The name is "\\.\COM<n>" (resolved through the
    // platform's ComPortNames) or a device path. False leaves the platform closed, and
    // lastOpenFailure() says why.
    virtual bool open(const std::string& deviceName) = 0;
    virtual OpenFailure lastOpenFailure() const = 0;
    virtual void close() = 0; // harmless while closed
    virtual bool isOpen() const = 0;

    virtual bool configure(const SerialDCB& dcb) = 0;
    virtual bool setupQueues(std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool purge(std::uint32_t mask) = 0; // Purge* bits
    virtual bool setTimeouts(const CommTimeouts& timeouts) = 0;
    // Bytes waiting in the input queue and in the output queue.
    virtual bool queueCounts(std::uint32_t& inQueue, std::uint32_t& outQueue) = 0;
    // Whether the open device has gone (adapter unplugged, its driver removed, the far end of
    // a pseudo-terminal hung up), as opposed to a call that merely failed. Worth asking after
    // a failed call; false while closed. Cleared by open and close.
    virtual bool deviceLost() = 0;

    // Never wait. The count is what was transferred (0: nothing could be); nullopt: failure.
    virtual std::optional<std::size_t> read(std::span<std::uint8_t> into) = 0;
    virtual std::optional<std::size_t> write(std::span<const std::uint8_t> from) = 0;

    virtual bool escapeDTR(bool raise) = 0;
    virtual bool modemStatus(std::uint32_t& bits) = 0; // Ms* bits
    // Received bytes the device has counted as lost (its receiver overrun, or the system's
    // buffers full), a running total; false where it keeps no such count (a pseudo-terminal).
    virtual bool inputOverruns(std::uint64_t& count) = 0;

    // 32-bit millisecond counters (GetTickCount and timeGetTime); compare by unsigned difference.
    virtual std::uint32_t TickCount() = 0;
    virtual std::uint32_t MultimediaTime() = 0;

    // A periodic tick on the GUI thread's event loop; starting again replaces the running one.
    virtual void startTimer(std::uint32_t periodMs, std::function<void()> onTick) = 0;
    virtual void stopTimer() = 0;
};

// The system's serial ports, COM names resolved through `names`.
std::unique_ptr<SerialPlatform> MakeSystemPlatform(ComPortNames names = {});

} // namespace qtr290
