// The serial platform on POSIX ttys (Linux): termios, a non-blocking descriptor, exclusive
// use through TIOCEXCL and flock, and the periodic tick on the Qt event loop.
#include "serial/platform.h"
#include "serial/poll_timer.h"
#include "serial/posix_tty.h"
#include "serial/termios_map.h"

#include <array>
#include <cerrno>
#include <ctime>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace qtr290 {

namespace {

constexpr std::array<std::pair<std::uint32_t, speed_t>, 30> StandardRates = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

std::optional<speed_t> StandardSpeed(std::uint32_t rate)
{
    for (const auto& [value, code] : StandardRates) {
        if (value == rate)
            return code;
    }
    return std::nullopt;
}

bool NothingDone(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// What a tty answers once its device has gone: a USB adapter pulled, a hung-up pty.
bool DeviceGoneError(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV;
}

} // namespace

namespace posix {

OpenFailure OpenFailureOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
    case ELOOP: // a symbolic link that never reaches a device
    case ENAMETOOLONG:
        return OpenFailure::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return OpenFailure::NoPermission;
    case EBUSY:
    case EWOULDBLOCK:
        return OpenFailure::Busy;
    case ENOTTY:
    case EISDIR:
        return OpenFailure::Settings;
    default:
        return OpenFailure::Busy;
    }
}

bool FillTermios(const SerialDCB& dcb, termios& tio, bool& needsArbitraryRate)
{
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 ||
        dcb.StopBits > 2)
        return false;
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    static constexpr std::array<tcflag_t, 4> Sizes = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= Sizes[dcb.ByteSize - 5u];
    switch (dcb.Parity) {
    case 1: // odd
        tio.c_cflag |= PARENB | PARODD;
        break;
    case 2: // even
        tio.c_cflag |= PARENB;
        break;
    case 3: // mark
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4: // space
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    // One and a half stop bits have no termios form; two is the nearest.
    if (dcb.StopBits != 0)
        tio.c_cflag |= CSTOPB;
    // Linux has one switch for both directions of the RTS/CTS handshake.
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == SerialDCB::RtsHandshake)
        tio.c_cflag |= CRTSCTS;
    if (dcb.fOutX)
        tio.c_iflag |= IXON;
    if (dcb.fInX)
        tio.c_iflag |= IXOFF;
    // XonLim/XoffLim have no counterpart: the kernel picks its own thresholds.
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const auto standard = StandardSpeed(dcb.BaudRate);
    needsArbitraryRate = !standard;
    return ::cfsetspeed(&tio, standard.value_or(B38400)) == 0;
}

} // namespace posix

namespace {

class PosixPlatform final : public SerialPlatform {
public:
    explicit PosixPlatform(ComPortNames names) : FNames(std::move(names)) {}
    ~PosixPlatform() override
    {
        FTimer.stop();
        close();
    }

    bool open(const std::string& deviceName) override
    {
        close();
        FLost = false;
        FLastOpenFailure = OpenDevice(FNames.Resolve(deviceName));
        return FLastOpenFailure == OpenFailure::None;
    }

    OpenFailure lastOpenFailure() const override { return FLastOpenFailure; }

    void close() override
    {
        if (FFd < 0)
            return;
        // The terminal as it was found: a terminal named by mistake is not left raw.
        if (FFound)
            ::tcsetattr(FFd, TCSANOW, &*FFound);
        FFound.reset();
        ::ioctl(FFd, TIOCNXCL); // fails harmlessly on a device that has gone
        ::close(FFd);           // also releases the flock
        FFd = -1;
        FLost = false;
    }

    bool isOpen() const override { return FFd >= 0; }

    bool configure(const SerialDCB& dcb) override
    {
        termios tio{};
        bool arbitraryRate = false;
        if (FFd < 0 || ::tcgetattr(FFd, &tio) != 0 ||
            !posix::FillTermios(dcb, tio, arbitraryRate) || ::tcsetattr(FFd, TCSANOW, &tio) != 0)
            return false;
        if (arbitraryRate && !posix::SetArbitraryRate(FFd, dcb.BaudRate))
            return false;
        // Line levels are best effort: devices without modem lines (pseudo-terminals,
        // some adapters) still carry data with the frame format above.
        if (dcb.fDtrControl == SerialDCB::DtrEnable)
            SetModemLine(TIOCM_DTR, true);
        else if (dcb.fDtrControl == SerialDCB::DtrDisable)
            SetModemLine(TIOCM_DTR, false);
        if (dcb.fRtsControl == SerialDCB::RtsEnable)
            SetModemLine(TIOCM_RTS, true);
        else if (dcb.fRtsControl == SerialDCB::RtsDisable)
            SetModemLine(TIOCM_RTS, false);
        return true;
    }

    // Linux sizes its tty queues itself.
    bool setupQueues(std::uint32_t, std::uint32_t) override { return FFd >= 0; }

    bool purge(std::uint32_t mask) override
    {
        if (FFd < 0)
            return false;
        const bool rx = mask & (PurgeRxAbort | PurgeRxClear);
        const bool tx = mask & (PurgeTxAbort | PurgeTxClear);
        if (!rx && !tx)
            return true;
        return ::tcflush(FFd, rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH)) == 0 ||
               Failed(errno);
    }

    // The descriptor is non-blocking: reads and writes never wait.
    bool setTimeouts(const CommTimeouts&) override { return FFd >= 0; }

    bool queueCounts(std::uint32_t& inQueue, std::uint32_t& outQueue) override
    {
        int in = 0;
        int out = 0;
        if (FFd < 0)
            return false;
        if (::ioctl(FFd, FIONREAD, &in) != 0 || ::ioctl(FFd, TIOCOUTQ, &out) != 0)
            return Failed(errno);
        inQueue = in > 0 ? static_cast<std::uint32_t>(in) : 0;
        outQueue = out > 0 ? static_cast<std::uint32_t>(out) : 0;
        return true;
    }

    std::optional<std::size_t> read(std::span<std::uint8_t> into) override
    {
        if (FFd < 0)
            return std::nullopt;
        if (into.empty())
            return 0;
        const ssize_t n = ::read(FFd, into.data(), into.size());
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (NothingDone(errno))
            return 0;
        Failed(errno);
        return std::nullopt;
    }

    std::optional<std::size_t> write(std::span<const std::uint8_t> from) override
    {
        if (FFd < 0)
            return std::nullopt;
        if (from.empty())
            return 0;
        const ssize_t n = ::write(FFd, from.data(), from.size());
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (NothingDone(errno))
            return 0;
        Failed(errno);
        return std::nullopt;
    }

    bool deviceLost() override
    {
        if (FFd < 0)
            return false;
        if (FLost)
            return true;
        // A hang-up, or a node that was removed while open, also mean the device is gone.
        pollfd state{FFd, POLLIN, 0};
        struct stat node {};
        FLost = (::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL))) ||
                (::fstat(FFd, &node) == 0 && node.st_nlink == 0);
        return FLost;
    }

    bool escapeDTR(bool raise) override
    {
        return FFd >= 0 && (SetModemLine(TIOCM_DTR, raise) || Failed(errno));
    }

    bool modemStatus(std::uint32_t& bits) override
    {
        int lines = 0;
        if (FFd < 0)
            return false;
        if (::ioctl(FFd, TIOCMGET, &lines) != 0)
            return Failed(errno);
        bits = ((lines & TIOCM_CTS) ? MsCtsOn : 0u) | ((lines & TIOCM_DSR) ? MsDsrOn : 0u) |
               ((lines & TIOCM_RNG) ? MsRingOn : 0u) | ((lines & TIOCM_CAR) ? MsRlsdOn : 0u);
        return true;
    }

    bool inputOverruns(std::uint64_t& count) override
    {
        // Not every tty counts (ENOTTY on a pseudo-terminal): no count, and no failure either.
        serial_icounter_struct counters{};
        if (FFd < 0 || ::ioctl(FFd, TIOCGICOUNT, &counters) != 0)
            return false;
        count = std::uint64_t(static_cast<unsigned>(counters.overrun)) +
                static_cast<unsigned>(counters.buf_overrun);
        return true;
    }

    std::uint32_t TickCount() override { return MonotonicMs(); }
    std::uint32_t MultimediaTime() override { return MonotonicMs(); }

    void startTimer(std::uint32_t periodMs, std::function<void()> onTick) override
    {
        FTimer.start(periodMs, std::move(onTick));
    }

    void stopTimer() override { FTimer.stop(); }

private:
    OpenFailure OpenDevice(const std::string& path)
    {
        if (path.empty())
            return OpenFailure::NoDevice;
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return posix::OpenFailureOf(errno);
        // TIOCEXCL keeps out other openers, flock also root (whom TIOCEXCL does not stop).
        // A refused opener closes without TIOCNXCL, which would lift the holder's guard.
        OpenFailure failure = OpenFailure::None;
        if (!::isatty(fd))
            failure = OpenFailure::Settings;
        else if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0)
            failure = posix::OpenFailureOf(errno);
        if (failure != OpenFailure::None) {
            ::close(fd);
            return failure;
        }
        FFd = fd;
        termios found{};
        if (::tcgetattr(fd, &found) == 0)
            FFound = found;
        return OpenFailure::None;
    }

    // Notes a failed call's error; false, for returning it.
    bool Failed(int error)
    {
        if (DeviceGoneError(error))
            FLost = true;
        return false;
    }

    bool SetModemLine(int line, bool raise)
    {
        return ::ioctl(FFd, raise ? TIOCMBIS : TIOCMBIC, &line) == 0;
    }

    static std::uint32_t MonotonicMs()
    {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                        static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
        return static_cast<std::uint32_t>(ms); // truncated: callers take unsigned differences
    }

    ComPortNames FNames;
    int FFd = -1;
    std::optional<termios> FFound; // the settings at open, restored at close
    bool FLost = false;            // a call failed as on a device that has gone
    OpenFailure FLastOpenFailure = OpenFailure::None;
    PollTimer FTimer;
};

} // namespace

std::unique_ptr<SerialPlatform> MakeSystemPlatform(ComPortNames names)
{
    return std::make_unique<PosixPlatform>(std::move(names));
}

} // namespace qtr290
