// POSIX: the signal handler only writes the signal's number into a socket pair; a socket
// notifier reads it on the GUI thread, where the window may be touched.
#include "app/quitsignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qtr290 {

namespace {

constexpr std::array<int, 3> QuitSignals = {SIGTERM, SIGINT, SIGHUP};
int WriteEnd = -1;

extern "C" void OnQuitSignal(int number)
{
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const auto written = ::write(WriteEnd, &byte, 1);
    errno = saved;
}

class QuitWatch : public QObject {
public:
    QuitWatch(int readEnd, int writeEnd, std::function<void()> requested)
        : FRead(readEnd), FWrite(writeEnd), FNotifier(readEnd, QSocketNotifier::Read)
    {
        QObject::connect(&FNotifier, &QSocketNotifier::activated, this,
                         [this, requested = std::move(requested)] {
                             char bytes[16];
                             bool any = false;
                             while (::read(FRead, bytes, sizeof bytes) > 0)
                                 any = true;
                             if (any)
                                 requested();
                         });
        WriteEnd = FWrite;
        struct sigaction action {};
        action.sa_handler = OnQuitSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int number : QuitSignals)
            sigaction(number, &action, nullptr);
        // A reader that goes away (a fifo, a pipe) makes a write fail with EPIPE, which is
        // handled where it is written, instead of ending the program unsaved.
        std::signal(SIGPIPE, SIG_IGN);
    }
    ~QuitWatch() override
    {
        for (const int number : QuitSignals)
            std::signal(number, SIG_DFL);
        WriteEnd = -1;
        ::close(FRead);
        ::close(FWrite);
    }

private:
    int FRead;
    int FWrite;
    QSocketNotifier FNotifier;
};

} // namespace

std::unique_ptr<QObject> WatchQuitRequests(std::function<void()> requested)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0)
        return nullptr; // the signals keep their default: the process ends at once
    return std::make_unique<QuitWatch>(ends[0], ends[1], std::move(requested));
}

} // namespace qtr290
