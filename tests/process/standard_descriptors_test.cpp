// A process started with standard input, output or error closed: the start-up function in a
// child of the test, and the built programs started as a service manager may start them
// (`<&- >&- 2>&-`), where the port they open must not become their standard output.
#include "process/standard_descriptors.h"

#include "tests/support/child_process.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/telegrams.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using qtr290::test::ChildProcess;
using qtr290::test::Pty;
using qtr290::test::TempDir;

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Each row closes some of the three in a child of the test; the others lead to a pipe.
TEST(StandardDescriptors, ClosedOnesLeadToNullOpenOnesStay)
{
    struct Case {
        const char* what;
        std::array<bool, 3> closed;
    };
    const Case cases[] = {
        {"none closed", {false, false, false}},    {"input", {true, false, false}},
        {"output", {false, true, false}},          {"error", {false, false, true}},
        {"input and output", {true, true, false}}, {"output and error", {false, true, true}},
        {"all three", {true, true, true}},
    };
    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int pipe[2] = {-1, -1};
            struct stat kept {};
            if (::pipe(pipe) != 0 || ::fstat(pipe[1], &kept) != 0)
                ::_exit(64);
            for (int fd = 0; fd < 3; ++fd) {
                if (c.closed[fd])
                    ::close(fd);
                else
                    ::dup2(pipe[1], fd);
            }
            qtr290::OpenNullOnClosedStandardDescriptors();
            // One bit per descriptor that does not lead where it should.
            int wrong = 0;
            for (int fd = 0; fd < 3; ++fd) {
                struct stat now {};
                const bool ok = ::fstat(fd, &now) == 0 &&
                                (c.closed[fd] ? S_ISCHR(now.st_mode) && now.st_rdev == null.st_rdev
                                              : SameFile(now, kept));
                wrong |= ok ? 0 : 1 << fd;
            }
            ::_exit(wrong);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "bit n set: descriptor n is wrong";
    }
}

// The program with its three standard descriptors closed by the shell that starts it.
std::unique_ptr<ChildProcess> StartClosed(const std::string& program,
                                          const std::vector<std::string>& args,
                                          const std::vector<std::string>& environment)
{
    std::vector<std::string> words = {"-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", program};
    words.insert(words.end(), args.begin(), args.end());
    ChildProcess::Options options;
    options.environment = environment;
    options.keepErrors = false;
    return std::make_unique<ChildProcess>("/bin/sh", words, options);
}

std::string LinkTarget(const std::string& path)
{
    std::error_code error;
    const fs::path target = fs::read_symlink(path, error);
    return error ? std::string() : target.string();
}

// Where descriptors 0, 1 and 2 of the running program lead, once it runs `program` and has all
// three; empty when that does not happen within the limit.
std::vector<std::string> StandardTargets(pid_t pid, const std::string& program)
{
    const std::string proc = "/proc/" + std::to_string(pid);
    const std::string executable = fs::canonical(program).string();
    const auto end = Clock::now() + 30s;
    while (Clock::now() < end) {
        std::vector<std::string> targets;
        if (LinkTarget(proc + "/exe") == executable) {
            for (int fd = 0; fd < 3; ++fd)
                targets.push_back(LinkTarget(proc + "/fd/" + std::to_string(fd)));
            if (std::find(targets.begin(), targets.end(), std::string()) == targets.end())
                return targets;
        }
        std::this_thread::sleep_for(10ms);
    }
    return {};
}

const std::vector<std::string> AllNull = {"/dev/null", "/dev/null", "/dev/null"};

class ClosedStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::create_directories(dir.Path() / "home"));
        ASSERT_TRUE(pty.valid());
    }
    std::vector<std::string> Environment() const
    {
        // No settings file: the defaults, and nothing of the user's.
        return {"HOME=" + (dir / "home"), "QTR290_SETTINGS=" + (dir / "nastaveni.ini"),
                "QT_QPA_PLATFORM=offscreen"};
    }

    TempDir dir;
    Pty pty;
};

#ifdef QTR290_CTL_PATH
// The monitor never transmits: the telegram it prints goes nowhere, not onto the line.
TEST_F(ClosedStart, MonitorPutsNothingOnTheLine)
{
    const auto ctl =
        StartClosed(QTR290_CTL_PATH, {"monitor", "--json", "--count", "1", "--device", pty.path()},
                    Environment());
    EXPECT_EQ(StandardTargets(ctl->Pid(), QTR290_CTL_PATH), AllNull);
    // The port is open once the monitor holds the device exclusively.
    const auto end = Clock::now() + 30s;
    while (pty.exclusive() != 1 && Clock::now() < end)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(pty.exclusive(), 1);
    ASSERT_TRUE(pty.send(qtr290::test::Poll));
    ASSERT_EQ(ctl->Wait(30s), 0);
    const Pty::Bytes line = pty.receive();
    EXPECT_EQ(std::string(line.begin(), line.end()), "");
}
#endif

// The simulator and the window, closed and running: each of the three leads to /dev/null.
TEST_F(ClosedStart, LongRunningProgramsHaveNullThere)
{
    struct Case {
        const char* what;
        std::string program;
        std::vector<std::string> args;
    };
    std::vector<Case> cases = {{"the simulator", QTR290_SIM_PATH, {"--poll-interval", "1000"}}};
#ifdef QTR290_PATH
    // A copy in a folder of its own: its settings file is written beside it at the end.
    ASSERT_TRUE(fs::create_directories(dir.Path() / "bin"));
    fs::copy_file(QTR290_PATH, dir.Path() / "bin" / "qtr290");
    std::ofstream(dir / "bin/nastaveni.ini") << "[Porty]\r\nCOM1=" << dir / "no-such-device"
                                             << "\r\n";
    cases.push_back({"the window", dir / "bin/qtr290", {}});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto child = StartClosed(c.program, c.args, Environment());
        EXPECT_EQ(StandardTargets(child->Pid(), c.program), AllNull);
        child->Signal(SIGTERM);
        EXPECT_TRUE(child->Wait(30s).has_value());
    }
}

} // namespace
