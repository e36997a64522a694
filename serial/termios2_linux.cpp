#include "serial/posix_tty.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

// <sys/ioctl.h> would pull in the C library's termios definitions.
extern "C" int ioctl(int fd, unsigned long request, ...);

namespace qtr290::posix {

bool SetArbitraryRate(int fd, std::uint32_t rate)
{
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return false;
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = rate;
    settings.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &settings) == 0;
}

} // namespace qtr290::posix
