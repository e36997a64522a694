// How the POSIX backend expresses a SerialDCB in termios and errno in its open failures (internal
// to the backend; the tests check the mapping without a device).
#pragma once

#include "serial/platform.h"

#include <termios.h>

namespace qtr290::posix {

// Turns tio (as read from the device) into raw mode with the DCB's frame format, flow
// control and rate. False for settings termios cannot express (rate 0 would mean "hang
// up"). A rate without a B constant leaves a placeholder and sets needsArbitraryRate: the
// caller follows with SetArbitraryRate.
bool FillTermios(const SerialDCB& dcb, termios& tio, bool& needsArbitraryRate);

// The reason for a failed open, flock or TIOCEXCL, from its errno. A held flock reports
// EWOULDBLOCK, a tty with TIOCEXCL set by its holder EBUSY: both are "Busy".
OpenFailure OpenFailureOf(int error);

} // namespace qtr290::posix
