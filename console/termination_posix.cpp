// SIGTERM, SIGINT and SIGHUP through a self-pipe: the handler writes one byte, the event
// loop reads it through a socket notifier and the window closes from there.
#include "termination.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qtr290 {

namespace {

constexpr std::array<int, 3> Signals = {SIGTERM, SIGINT, SIGHUP};

// The handler can reach nothing but globals.
int SignalPipe[2] = {-1, -1};
std::array<struct sigaction, Signals.size()> PreviousActions{};

extern "C" void OnTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(SignalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationRequests::TerminationRequests(QObject* parent) : QObject(parent)
{
    if (SignalPipe[0] >= 0 || ::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    FInstalled = true;
    auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(SignalPipe[0], bytes, sizeof bytes) > 0) {
        }
        emit Requested();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < Signals.size(); ++i)
        ::sigaction(Signals[i], &action, &PreviousActions[i]);
}

TerminationRequests::~TerminationRequests()
{
    if (!FInstalled)
        return;
    for (std::size_t i = 0; i < Signals.size(); ++i)
        ::sigaction(Signals[i], &PreviousActions[i], nullptr);
    ::close(SignalPipe[0]);
    ::close(SignalPipe[1]);
    SignalPipe[0] = SignalPipe[1] = -1;
}

} // namespace qtr290
