// qtr290-ctl's logic run in the test's own process (its event loop, the test's fixtures
// around it), batch input through a pipe: status, output and the output's lines.
#pragma once

#include "tools/qtr290-ctl/ctl_commands.h"

#include <QElapsedTimer>

#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace qtr290::test {

struct CtlOutcome {
    int status = -1;
    std::string out, err;
    std::vector<std::string> outLines;
    long long elapsedMs = 0;
};

inline CtlOutcome RunCtlInProcess(const std::vector<std::string>& args,
                                  const std::string& input = {})
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    if (!input.empty() && ::write(fds[1], input.data(), input.size()) < 0)
        return {};
    ::close(fds[1]);
    std::ostringstream out, err;
    QElapsedTimer t;
    t.start();
    CtlOutcome o;
    o.status = ctl::Run(args, fds[0], out, err);
    o.elapsedMs = t.elapsed();
    ::close(fds[0]);
    o.out = out.str();
    o.err = err.str();
    std::istringstream lines(o.out);
    for (std::string line; std::getline(lines, line);)
        o.outLines.push_back(line);
    return o;
}

} // namespace qtr290::test
