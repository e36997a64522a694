// qtr290-ctl --broker: read, write, batch and monitor carried to a qtr290-gateway over MQTT
// instead of a local port, with the result lines and exit statuses of the local commands.
// Requests go to PREFIX/BUS/request with a response topic of this run's own
// (PREFIX/BUS/result/TOKEN) and correlation data; the gateway's retained status must say
// "online" before anything is sent.
#pragma once

#include "tools/qtr290-ctl/ctl_options.h"

#include <iosfwd>

namespace qtr290::ctl {

// How long a result may take beyond the request's own timeout (the gateway's queue, the
// broker) before the gateway is taken for one that does not serve requests.
inline constexpr int RemoteResultGraceMs = 5000;

// The run once the arguments are read and name a broker: status 4 for a broker URL or a
// password file that cannot be used, 3 when the broker or an online gateway is not there
// within --timeout, otherwise as the local commands.
int RunRemote(const Options& options, int inputFd, std::ostream& out, std::ostream& err);

} // namespace qtr290::ctl
