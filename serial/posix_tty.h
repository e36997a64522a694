// Linux-only helpers of the POSIX backend that cannot share a translation unit with
// <termios.h> (the kernel's termios2 clashes with the C library's termios).
#pragma once

#include <cstdint>

namespace qtr290::posix {

// Sets both directions to any rate through termios2/BOTHER. False when the kernel refuses.
bool SetArbitraryRate(int fd, std::uint32_t rate);

} // namespace qtr290::posix
