// The serial platform on Win32: the comm API on a handle opened for exclusive use, and the
// periodic tick as WM_TIMER on a hidden message-only window. Messages are pumped by the
// caller's event loop (Qt's loop on Windows dispatches them too); no thread of our own.
#include "serial/platform.h"
#include "serial/win32_dcb.h"

#include <mmsystem.h> // timeGetTime

#include <algorithm>
#include <cstring>
#include <utility>

namespace qtr290 {

namespace win32 {

static_assert(sizeof(DCB) == 28, "SetCommState expects the 28-byte DCB");

DCB ToWin32DCB(const SerialDCB& settings)
{
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = settings.BaudRate;
    dcb.fBinary = settings.fBinary ? 1 : 0;
    dcb.fOutxCtsFlow = settings.fOutxCtsFlow ? 1 : 0;
    dcb.fDtrControl = settings.fDtrControl & 3u;
    dcb.fOutX = settings.fOutX ? 1 : 0;
    dcb.fInX = settings.fInX ? 1 : 0;
    dcb.fRtsControl = settings.fRtsControl & 3u;
    dcb.XonLim = settings.XonLim;
    dcb.XoffLim = settings.XoffLim;
    dcb.ByteSize = settings.ByteSize;
    dcb.Parity = settings.Parity;
    dcb.StopBits = settings.StopBits;
    dcb.XonChar = settings.XonChar;
    dcb.XoffChar = settings.XoffChar;
    return dcb;
}

std::uint32_t DCBFlagsWord(const DCB& dcb)
{
    // The bit fields form the third DWORD, after DCBlength and BaudRate.
    std::uint32_t flags = 0;
    std::memcpy(&flags, reinterpret_cast<const unsigned char*>(&dcb) + 2 * sizeof(DWORD),
                sizeof flags);
    return flags;
}

DeviceSign DeviceSignOf(DWORD error)
{
    switch (error) {
    case ERROR_NOT_READY:   // Wine, for EIO from the tty
    case ERROR_BAD_COMMAND: // usbser.sys
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return DeviceSign::Removed;
    case ERROR_ACCESS_DENIED:     // some drivers once the adapter is pulled
    case ERROR_GEN_FAILURE:       // the same from others
    case ERROR_OPERATION_ABORTED: // I/O ended by the removal, or by a line error
        return DeviceSign::MaybeRemoved;
    default:
        return DeviceSign::None;
    }
}

void DeviceLossCheck::Failed(DWORD error)
{
    switch (DeviceSignOf(error)) {
    case DeviceSign::Removed:
        FLost = true;
        break;
    case DeviceSign::MaybeRemoved:
        FSuspected = true;
        break;
    case DeviceSign::None:
        break;
    }
}

bool DeviceLossCheck::Lost(const std::function<bool()>& statusFails,
                           const std::function<bool()>& nameGone)
{
    if (FSuspected && !FLost) {
        FSuspected = false;
        FLost = statusFails() || nameGone();
    }
    return FLost;
}

bool DeviceNameGone(const std::string& name)
{
    const HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return false;
    }
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

} // namespace win32

namespace {

constexpr UINT_PTR PollTimerId = 1;
constexpr const char* NotifyWindowClass = "QTR290SerialNotify";

class Win32Platform;
LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

HINSTANCE ThisModule()
{
    // The module that holds this code, also when it is linked into a DLL.
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&NotifyWindowProc), &module);
    return module;
}

bool RegisterNotifyClass()
{
    static const bool registered = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = NotifyWindowProc;
        windowClass.hInstance = ThisModule();
        windowClass.lpszClassName = NotifyWindowClass;
        return ::RegisterClassA(&windowClass) != 0 ||
               ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

OpenFailure OpenFailureOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
        return OpenFailure::NotFound;
    default:
        // A COM port held by another program answers with access denied, not with a
        // sharing violation; Windows has no per-user device permissions to tell apart.
        return OpenFailure::Busy;
    }
}

class Win32Platform final : public SerialPlatform {
public:
    explicit Win32Platform(ComPortNames names) : FNames(std::move(names)) { CreateNotifyWindow(); }

    ~Win32Platform() override
    {
        stopTimer();
        close();
        if (FNotifyWindow)
            ::DestroyWindow(FNotifyWindow);
    }

    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    bool open(const std::string& deviceName) override
    {
        close();
        FLoss.Reset();
        const std::string name = FNames.Resolve(deviceName);
        if (name.empty()) {
            FLastOpenFailure = OpenFailure::NoDevice;
            return false;
        }
        const HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            FLastOpenFailure = OpenFailureOf(::GetLastError());
            return false;
        }
        FLastOpenFailure = OpenFailure::None;
        FHandle = handle;
        FOpenedName = name;
        // A fresh handle may carry time-outs that block a read until its count is met; keep
        // reads from waiting until the driver sets its own.
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.WriteTotalTimeoutConstant = 10;
        ::SetCommTimeouts(FHandle, &timeouts);
        return true;
    }

    void close() override
    {
        if (FHandle == INVALID_HANDLE_VALUE)
            return;
        ::CloseHandle(FHandle);
        FHandle = INVALID_HANDLE_VALUE;
        FLoss.Reset();
    }

    bool isOpen() const override { return FHandle != INVALID_HANDLE_VALUE; }
    OpenFailure lastOpenFailure() const override { return FLastOpenFailure; }

    bool configure(const SerialDCB& settings) override
    {
        if (!isOpen())
            return false;
        DCB dcb = win32::ToWin32DCB(settings);
        return Succeeded(::SetCommState(FHandle, &dcb));
    }

    bool setupQueues(std::uint32_t inQueue, std::uint32_t outQueue) override
    {
        return isOpen() && Succeeded(::SetupComm(FHandle, inQueue, outQueue));
    }

    bool purge(std::uint32_t mask) override
    {
        return isOpen() && Succeeded(::PurgeComm(FHandle, mask));
    }

    bool setTimeouts(const CommTimeouts& timeouts) override
    {
        if (!isOpen())
            return false;
        COMMTIMEOUTS native{};
        native.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
        native.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
        native.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
        native.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
        native.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
        return ::SetCommTimeouts(FHandle, &native) != 0;
    }

    bool queueCounts(std::uint32_t& inQueue, std::uint32_t& outQueue) override
    {
        DWORD errors = 0;
        COMSTAT status{};
        if (!isOpen() || !Succeeded(::ClearCommError(FHandle, &errors, &status)))
            return false;
        inQueue = status.cbInQue;
        outQueue = status.cbOutQue;
        return true;
    }

    std::optional<std::size_t> read(std::span<std::uint8_t> into) override
    {
        if (!isOpen())
            return std::nullopt;
        DWORD got = 0;
        const auto count = static_cast<DWORD>(std::min<std::size_t>(into.size(), MAXDWORD));
        if (count > 0 && !Succeeded(::ReadFile(FHandle, into.data(), count, &got, nullptr)))
            return std::nullopt;
        return got;
    }

    std::optional<std::size_t> write(std::span<const std::uint8_t> from) override
    {
        if (!isOpen())
            return std::nullopt;
        DWORD written = 0;
        const auto count = static_cast<DWORD>(std::min<std::size_t>(from.size(), MAXDWORD));
        // A write that runs into the time-out succeeds with fewer bytes: that is progress.
        if (count > 0 && !Succeeded(::WriteFile(FHandle, from.data(), count, &written, nullptr)))
            return std::nullopt;
        return written;
    }

    bool deviceLost() override
    {
        if (!isOpen())
            return false;
        // ClearCommError, the status call, also clears the error state a line fault leaves.
        const auto statusFails = [this] {
            DWORD errors = 0;
            COMSTAT status{};
            return ::ClearCommError(FHandle, &errors, &status) == 0;
        };
        return FLoss.Lost(statusFails, [this] { return win32::DeviceNameGone(FOpenedName); });
    }

    bool escapeDTR(bool raise) override
    {
        return isOpen() && Succeeded(::EscapeCommFunction(FHandle, raise ? SETDTR : CLRDTR));
    }

    bool modemStatus(std::uint32_t& bits) override
    {
        DWORD status = 0;
        if (!isOpen() || !Succeeded(::GetCommModemStatus(FHandle, &status)))
            return false;
        bits = status & (MsCtsOn | MsDsrOn | MsRingOn | MsRlsdOn);
        return true;
    }

    // ClearCommError flags overruns without counting the bytes.
    bool inputOverruns(std::uint64_t&) override { return false; }

    std::uint32_t TickCount() override { return ::GetTickCount(); }
    std::uint32_t MultimediaTime() override { return ::timeGetTime(); }

    void startTimer(std::uint32_t periodMs, std::function<void()> onTick) override
    {
        stopTimer();
        if (!FNotifyWindow && !CreateNotifyWindow())
            return;
        FOnTick = std::move(onTick);
        if (::SetTimer(FNotifyWindow, PollTimerId, periodMs, nullptr) == 0)
            FOnTick = nullptr;
    }

    void stopTimer() override
    {
        if (FNotifyWindow)
            ::KillTimer(FNotifyWindow, PollTimerId);
        // A WM_TIMER already queued finds no tick and does nothing.
        FOnTick = nullptr;
    }

    // WM_TIMER on the notification window; false when no tick is running.
    bool Tick()
    {
        if (!FOnTick)
            return false;
        // A copy: the tick may stop or restart the timer, which replaces FOnTick.
        const auto tick = FOnTick;
        tick();
        return true;
    }

private:
    // A comm call's result; what a failure says about the device is kept.
    bool Succeeded(BOOL result)
    {
        if (result)
            FLoss.Succeeded();
        else
            FLoss.Failed(::GetLastError());
        return result != 0;
    }

    bool CreateNotifyWindow()
    {
        if (!RegisterNotifyClass())
            return false;
        FNotifyWindow = ::CreateWindowExA(0, NotifyWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, ThisModule(), nullptr);
        if (!FNotifyWindow)
            return false;
        ::SetWindowLongPtrA(FNotifyWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        return true;
    }

    ComPortNames FNames;
    HANDLE FHandle = INVALID_HANDLE_VALUE;
    std::string FOpenedName;      // what CreateFileA opened, for the second check of a loss
    win32::DeviceLossCheck FLoss; // what the comm calls' failures say about the device
    OpenFailure FLastOpenFailure = OpenFailure::None;
    HWND FNotifyWindow = nullptr;
    std::function<void()> FOnTick;
};

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER) {
        auto* platform =
            reinterpret_cast<Win32Platform*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (platform && platform->Tick())
            return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

std::unique_ptr<SerialPlatform> MakeSystemPlatform(ComPortNames names)
{
    return std::make_unique<Win32Platform>(std::move(names));
}

} // namespace qtr290
