// qtr290-ctl's commands: read and write (one request), monitor and batch, each run on the
// event loop to its exit status.
#pragma once

#include "tools/qtr290-ctl/ctl_options.h"
#include "tools/qtr290-ctl/ctl_signals.h"
#include "tools/qtr290-ctl/ctl_station.h"

#include <QString>

#include <iosfwd>
#include <string>
#include <vector>

namespace qtr290::ctl {

// Exit statuses.
inline constexpr int ExitDone = 0;
inline constexpr int ExitInterrupted = 1; // SIGINT, SIGTERM or SIGHUP during read, write, batch
inline constexpr int ExitTimeout = 2;
inline constexpr int ExitPort = 3;
inline constexpr int ExitUsage = 4;
inline constexpr int ExitStream = 5; // standard input unreadable, standard output unwritable

// The status of a request's removal: 0 by a reply or the once-only rule, 2 cleared or timed
// out, 1 interrupted, 3 the port lost.
int ExitFor(RequestResult::Removed removed);

// The settings file ctl reads: QTR290_SETTINGS; else the window's rule for a program in
// `programDir` (beside a portable program, else the user's file, or while that does not
// exist the seed beside the program).
QString SettingsFileToRead(const QString& programDir);

// The whole program after QCoreApplication exists: parses the arguments, runs the command,
// returns the exit status. Batch requests are read from `inputFd` as they are consumed
// (-1: standard input was closed).
int Run(const std::vector<std::string>& args, int inputFd, std::ostream& out, std::ostream& err);

// The usage; with a settings file (--verbose), the one this run would read.
std::string HelpText(const std::string& settingsFile);

} // namespace qtr290::ctl
