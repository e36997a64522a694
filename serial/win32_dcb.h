// The driver's line settings as the Win32 DCB that SetCommState takes, and the errors that
// mean a port's device has gone or may have (Windows builds only).
#pragma once

#include "serial/platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace qtr290::win32 {

// A zero-filled DCB (length 28) carrying the fields the driver sets; all other flags stay clear.
DCB ToWin32DCB(const SerialDCB& settings);

// The DCB's packed flags word (the bit fields after BaudRate), as one number.
std::uint32_t DCBFlagsWord(const DCB& dcb);

// What a comm call's GetLastError() code says about its device: nothing, removed, or maybe
// removed. Access denied, a general failure and an aborted operation also come from a
// transient fault, so they need a second check.
enum class DeviceSign { None, Removed, MaybeRemoved };
DeviceSign DeviceSignOf(DWORD error);

// The loss of the device as the comm calls tell it. A "maybe removed" failure counts only when
// a second check, made when the loss is asked after, confirms it: the next status call fails
// too, or the device name no longer opens. A successful call in between clears the doubt.
class DeviceLossCheck {
public:
    void Failed(DWORD error);
    void Succeeded() { FSuspected = false; }
    void Reset() { FLost = FSuspected = false; }
    // `statusFails`: makes the status call, true when it fails; `nameGone`: true when the
    // device name no longer opens. Each is called only when needed.
    bool Lost(const std::function<bool()>& statusFails, const std::function<bool()>& nameGone);

private:
    bool FLost = false;
    bool FSuspected = false;
};

// Whether the device name no longer names a device: opening it fails as on a missing one
// (a device held by this or another program answers "access denied" and is there). A name
// that opens is closed again at once.
bool DeviceNameGone(const std::string& name);

} // namespace qtr290::win32
