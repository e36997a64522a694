// A built program run by a test as a child process: its standard error kept for the test to
// read, its standard output's first line (the simulator's device path) read when asked for, a
// pipe to its standard input when asked for. Killed if it is still there at the end.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace qtr290::test {

class ChildProcess {
public:
    struct Options {
        std::vector<std::string> environment; // "NAME=value", added to the test's own
        bool keepErrors = true;               // false: the child writes to the test's stderr
        bool withStdin = false;               // Send and CloseStdin write to its stdin
        bool readFirstLine = false;           // FirstLine is its stdout's first line
    };

    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const Options& options);
    ChildProcess(const std::string& program, const std::vector<std::string>& args)
        : ChildProcess(program, args, Options{})
    {
    }
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    const std::string& FirstLine() const { return FFirstLine; }
    pid_t Pid() const { return FPid; }
    bool Send(const std::string& line); // a line on its stdin
    void CloseStdin();
    void Signal(int signal) const;
    // The exit status (128 + signal for a killed child), or nothing while it still runs.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    // All it has written to stderr so far (with keepErrors).
    std::string Errors();

private:
    pid_t FPid = -1;
    int FStdin = -1;
    int FStdout = -1;
    int FStderr = -1;
    std::optional<int> FStatus;
    std::string FFirstLine;
    std::string FErrors;
};

} // namespace qtr290::test
