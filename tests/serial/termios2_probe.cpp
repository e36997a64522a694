#include "tests/serial/termios2_probe.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

std::optional<std::uint32_t> OutputRateOf(int fd)
{
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return std::nullopt;
    return settings.c_ospeed;
}
