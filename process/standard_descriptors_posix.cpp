#include "process/standard_descriptors.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace qtr290 {

void OpenNullOnClosedStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is this one: the ones below it are open by now.
        const int null = ::open("/dev/null", O_RDWR | O_NOCTTY);
        if (null < 0)
            ::_exit(127);
        if (null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

} // namespace qtr290
