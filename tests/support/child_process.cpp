#include "tests/support/child_process.h"

#include <csignal>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qtr290::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

void Close(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const Options& options)
{
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if ((options.withStdin && ::pipe2(in, O_CLOEXEC) != 0) ||
        (options.readFirstLine && ::pipe2(out, O_CLOEXEC) != 0) ||
        (options.keepErrors && ::pipe2(err, O_CLOEXEC) != 0))
        return;
    if (!options.readFirstLine && !options.stdoutFile.empty())
        out[1] = ::open(options.stdoutFile.c_str(), O_WRONLY | O_CLOEXEC);
    // Everything the child needs is made before the fork: it only redirects and starts.
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = options.environment;

    FPid = ::fork();
    if (FPid == 0) {
        if (in[0] >= 0)
            ::dup2(in[0], STDIN_FILENO);
        if (out[1] >= 0)
            ::dup2(out[1], STDOUT_FILENO);
        if (err[1] >= 0)
            ::dup2(err[1], STDERR_FILENO);
        for (std::string& variable : environment)
            ::putenv(variable.data());
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    for (int* unused : {&in[0], &out[1], &err[1]})
        Close(*unused);
    FStdin = in[1];
    FStdout = out[0];
    FStderr = err[0];
    if (FStderr >= 0)
        ::fcntl(FStderr, F_SETFL, O_NONBLOCK);
    // The first line, or what came of it within 5 s.
    pollfd ready{FStdout, POLLIN, 0};
    char c = 0;
    while (options.readFirstLine && FPid > 0 && ::poll(&ready, 1, 5000) > 0 &&
           ::read(FStdout, &c, 1) == 1 && c != '\n')
        FFirstLine += c;
}

ChildProcess::~ChildProcess()
{
    if (FPid > 0 && !FStatus) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
    Close(FStdin);
    Close(FStdout);
    Close(FStderr);
}

bool ChildProcess::Send(const std::string& line)
{
    const std::string text = line + "\n";
    return FStdin >= 0 && ::write(FStdin, text.data(), text.size()) == ssize_t(text.size());
}

void ChildProcess::CloseStdin()
{
    Close(FStdin);
}

void ChildProcess::Signal(int signal) const
{
    if (FPid > 0)
        ::kill(FPid, signal);
}

std::optional<int> ChildProcess::Wait(milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!FStatus && FPid > 0) {
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid)
            FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        else if (Clock::now() >= deadline)
            break;
        else
            std::this_thread::sleep_for(milliseconds(5));
    }
    return FStatus;
}

std::string ChildProcess::Errors()
{
    char buffer[4096];
    ssize_t n = 0;
    while (FStderr >= 0 && (n = ::read(FStderr, buffer, sizeof buffer)) > 0)
        FErrors.append(buffer, static_cast<std::size_t>(n));
    return FErrors;
}

} // namespace qtr290::test
