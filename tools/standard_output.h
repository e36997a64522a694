// The end of a command-line tool's run: whatever it printed must have reached standard output.
// A write that failed there (a full disk, a reader that went away) is told on standard error
// and ends the run with a failure, never with the status of a success.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string_view>

namespace qtr290 {

// True when everything written to std::cout and stdout so far has gone out; else false, and
// the reason on standard error as "<program>: cannot write to standard output: <why>".
inline bool FlushStandardOutput(std::string_view program)
{
    errno = 0;
    const bool written =
        std::cout.flush().good() && std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (written)
        return true;
    const int reason = errno;
    std::cerr << program << ": cannot write to standard output";
    if (reason != 0)
        std::cerr << ": " << std::strerror(reason);
    std::cerr << '\n';
    return false;
}

// The status to exit with after the output: `status`, or 1 when the output was lost and
// `status` said success.
inline int ExitStatusAfterOutput(std::string_view program, int status)
{
    if (FlushStandardOutput(program))
        return status;
    return status == 0 ? 1 : status;
}

} // namespace qtr290
