// The driver's line settings as the Win32 DCB that SetCommState takes, and the errors that
// mean a port's device has gone (Windows builds only).
#pragma once

#include "platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>

namespace qtr290::win32 {

// A zero-filled DCB (length 28) carrying the fields the driver sets; all other flags stay clear.
DCB ToWin32DCB(const SerialDCB& settings);

// The DCB's packed flags word (the bit fields after BaudRate), as one number.
std::uint32_t DCBFlagsWord(const DCB& dcb);

// Whether a comm call that failed with this GetLastError() code found its device removed.
bool DeviceGoneError(DWORD error);

} // namespace qtr290::win32
