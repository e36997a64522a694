#include "tests/support/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qtr290::test {

Pty::Pty()
{
    char name[128] = {};
    if (::openpty(&FMaster, &FSlave, name, nullptr, nullptr) != 0) {
        FMaster = FSlave = -1;
        return;
    }
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    ::fcntl(FMaster, F_SETFD, FD_CLOEXEC);
    ::fcntl(FSlave, F_SETFD, FD_CLOEXEC);
    FPath = name;
}

Pty::~Pty()
{
    closeMaster();
    if (FSlave >= 0)
        ::close(FSlave);
}

void Pty::closeMaster()
{
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
}

bool Pty::send(const Bytes& bytes) const
{
    std::size_t sent = 0;
    for (int attempt = 0; sent < bytes.size() && attempt < 200; ++attempt) {
        const ssize_t n = ::write(FMaster, bytes.data() + sent, bytes.size() - sent);
        if (n > 0)
            sent += static_cast<std::size_t>(n);
        else
            ::usleep(1000);
    }
    return sent == bytes.size();
}

Pty::Bytes Pty::receive() const
{
    Bytes bytes;
    std::uint8_t buffer[4096];
    ssize_t n;
    while ((n = ::read(FMaster, buffer, sizeof buffer)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    return bytes;
}

Pty::Bytes Pty::receive(std::size_t count) const
{
    Bytes got;
    for (int i = 0; i < 200 && got.size() < count; ++i) {
        pollfd p{FMaster, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0)
            continue;
        const Bytes more = receive();
        got.insert(got.end(), more.begin(), more.end());
    }
    return got;
}

bool Pty::waitQueued(int count) const
{
    for (int i = 0; i < 200; ++i) {
        int queued = 0;
        if (::ioctl(FSlave, FIONREAD, &queued) == 0 && queued >= count)
            return queued == count;
        ::usleep(5000);
    }
    return false;
}

termios Pty::settings() const
{
    termios tio{};
    ::tcgetattr(FSlave, &tio);
    return tio;
}

int Pty::exclusive() const
{
    int flag = -1;
    ::ioctl(FSlave, TIOCGEXCL, &flag);
    return flag;
}

} // namespace qtr290::test
