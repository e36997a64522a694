#include "tools/qtr290-ctl/ctl_signals.h"

#include <csignal>

namespace qtr290::ctl {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int)
{
    g_stop = 1;
}

} // namespace

void InstallStopHandlers()
{
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGHUP, OnStopSignal);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested()
{
    return g_stop != 0;
}

void ResetStop()
{
    g_stop = 0;
}

} // namespace qtr290::ctl
