// Message pumping for Win32 tests: what an application's event loop does between events.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <functional>

namespace qtr290::test {

// Dispatches this thread's messages until done() holds or ms milliseconds have passed;
// returns done(). Without a condition it simply runs the loop for ms.
inline bool PumpUntil(const std::function<bool()>& done, DWORD ms)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        if (done && done())
            return true;
        if (::GetTickCount() - start >= ms)
            return done ? done() : true;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

inline void PumpFor(DWORD ms)
{
    PumpUntil(nullptr, ms);
}

} // namespace qtr290::test
