// Stop requests from SIGINT, SIGTERM and SIGHUP (a closed terminal), polled by the commands;
// SIGPIPE ignored, so that a reader that went away is a failed write and the port is closed
// as usual.
#pragma once

namespace qtr290::ctl {

void InstallStopHandlers();
bool StopRequested();
void ResetStop();

} // namespace qtr290::ctl
