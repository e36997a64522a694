// A POSIX file descriptor owned: closed when it goes out of scope, or now by Close() where a
// close error must be seen.
#pragma once

#include <unistd.h>

namespace qtr290 {

class Descriptor {
public:
    explicit Descriptor(int fd) : FFd(fd) {}
    ~Descriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return FFd; }
    // Closes now so that a close error can be reported.
    bool Close()
    {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0; // Linux releases the descriptor even on EINTR: no retry
    }

private:
    int FFd;
};

} // namespace qtr290
