// The built tools as child processes, on what the world may hand them: directories for input,
// outputs planted beside them, a device that goes, a fifo that Wireshark closes or never opens,
// a stop signal at any moment, a standard output that cannot be written.
#include "tests/support/child_process.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using qtr290::test::TempDir;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return in ? bytes.str() : "<missing>";
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

using Child = qtr290::test::ChildProcess;

const std::string CaptureLine = "01032026 10:00:00:000>A6 F0 01 00 00 69 01 FF \r\n";

// Inputs that are no file to read, and outputs whose temporary name is taken by the input or by
// a planted link: the input and the link's target stay as they were, nothing is left behind.
TEST(PcapToolTest, ReadErrorsAndPlantedTemporariesLoseNothing)
{
    struct Case {
        const char* what;
        std::vector<std::string> args; // relative to the case's folder
        int status;
        const char* message; // expected on standard error; "" for none
        const char* output;  // the converted file that must exist afterwards; "" for none
        bool outputExists;
    };
    const Case cases[] = {
        {"a directory as input",
         {"somedir", "out.pcapng"},
         1,
         "somedir: read error: ",
         "out.pcapng",
         false},
        {"the input named as the output's temporary", {"cap.part", "cap"}, 0, "", "cap", true},
        {"a link planted at the old temporary name",
         {"in.txt", "out.pcapng"},
         0,
         "",
         "out.pcapng",
         true},
        {"the input itself as output", {"in.txt", "in.txt"}, 1, "is the input itself", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        fs::create_directory(dir / "somedir");
        WriteFile(dir / "cap.part", CaptureLine);
        WriteFile(dir / "in.txt", CaptureLine);
        WriteFile(dir / "victim", "keep me");
        fs::create_symlink(dir / "victim", dir / "out.pcapng.part");
        std::vector<std::string> args;
        for (const std::string& arg : c.args)
            args.push_back(dir / arg);
        Child pcap(QTR290_PCAP_PATH, args);
        EXPECT_EQ(pcap.Wait(milliseconds(10000)), c.status);
        if (*c.message) {
            EXPECT_NE(pcap.Errors().find(c.message), std::string::npos) << pcap.Errors();
        }
        EXPECT_EQ(ReadFile(dir / "cap.part"), CaptureLine);
        EXPECT_EQ(ReadFile(dir / "in.txt"), CaptureLine);
        EXPECT_EQ(ReadFile(dir / "victim"), "keep me");
        if (*c.output) {
            EXPECT_EQ(fs::exists(dir / c.output), c.outputExists);
            if (c.outputExists) {
                EXPECT_EQ(ReadFile(dir / c.output).substr(0, 4), std::string("\x0A\x0D\x0D\x0A"));
            }
        }
        // Only what the case set up, and its output.
        int entries = 0;
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            entries += entry.path().filename() != c.output;
        EXPECT_EQ(entries, 5);
    }
}

// The extcap on a pseudo-terminal named COM1, streaming into a fifo of the test.
class ExtcapRun {
public:
    explicit ExtcapRun(const std::string& device)
    {
        WriteFile(FDir / "nastaveni.ini", "[Porty]\r\nCOM1=" + device + "\r\n");
        ::mkfifo((FDir / "fifo").c_str(), 0600);
        Child::Options options;
        options.environment = {"QTR290_SETTINGS=" + (FDir / "nastaveni.ini")};
        FChild.emplace(QTR290_EXTCAP_PATH,
                       std::vector<std::string>{"--capture", "--extcap-interface", "qtr290-COM1",
                                                "--fifo", FDir / "fifo"},
                       options);
    }
    ~ExtcapRun()
    {
        FChild.reset();
        if (FReader >= 0)
            ::close(FReader);
    }

    // Wireshark opens the fifo and reads the section header: the capture runs.
    bool Read()
    {
        FReader = ::open((FDir / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const auto deadline = Clock::now() + milliseconds(5000);
        char header[4];
        while (Clock::now() < deadline) {
            if (::read(FReader, header, sizeof header) > 0)
                return true;
            std::this_thread::sleep_for(milliseconds(10));
        }
        return false;
    }
    void CloseReader()
    {
        ::close(FReader);
        FReader = -1;
    }
    Child& Process() { return *FChild; }

private:
    TempDir FDir;
    std::optional<Child> FChild;
    int FReader = -1;
};

// Whatever ends the capture (the device goes, Wireshark closes the fifo on a quiet bus, a stop
// while no reader has come yet), the extcap ends within a second and leaves the port free.
TEST(ExtcapToolTest, EndsAtOnceWhenTheDeviceOrTheFifoGoesOrAStopComes)
{
    enum Event { DeviceLost, FifoClosed, StopBeforeReader };
    struct Case {
        const char* what;
        Event event;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"device lost", DeviceLost, 1, "COM1"},
        {"fifo closed on a quiet bus", FifoClosed, 0, ""},
        {"stopped while waiting for the reader", StopBeforeReader, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qtr290::test::Pty pty;
        ASSERT_TRUE(pty.valid());
        ExtcapRun run(pty.path());
        if (c.event == StopBeforeReader) {
            std::this_thread::sleep_for(milliseconds(300)); // blocked in the fifo's open
            EXPECT_EQ(pty.exclusive(), 0) << "the port waits for the fifo's reader";
            run.Process().Signal(SIGTERM);
        } else {
            ASSERT_TRUE(run.Read());
            const auto deadline = Clock::now() + milliseconds(3000);
            while (pty.exclusive() == 0 && Clock::now() < deadline)
                std::this_thread::sleep_for(milliseconds(10));
            EXPECT_EQ(pty.exclusive(), 1);
            if (c.event == DeviceLost)
                pty.closeMaster();
            else
                run.CloseReader();
        }
        EXPECT_EQ(run.Process().Wait(milliseconds(1000)), c.status);
        if (*c.message) {
            EXPECT_NE(run.Process().Errors().find(c.message), std::string::npos);
        }
        if (c.event != DeviceLost) {
            EXPECT_EQ(pty.exclusive(), 0);
        }
    }
}

// What a tool prints must reach standard output: written to a full device, the run fails with
// a message instead of passing for a success. Each call also runs with its output going to
// /dev/null, where it succeeds.
TEST(ToolOutputTest, AFailedWriteToStandardOutputFailsTheRun)
{
    struct Case {
        const char* what;
        const char* program;
        std::vector<std::string> args; // "DIR/" is the case's folder
    };
    const Case cases[] = {
        {"simulator help", QTR290_SIM_PATH, {"--help"}},
        {"simulator's device line", QTR290_SIM_PATH, {"--duration", "0.1", "--quiet"}},
        {"converter help", QTR290_PCAP_PATH, {"--help"}},
        {"converter summary", QTR290_PCAP_PATH, {"DIR/in.txt", "DIR/out.pcapng"}},
        {"converter's pcapng", QTR290_PCAP_PATH, {"--quiet", "DIR/in.txt", "-"}},
        {"extcap help", QTR290_EXTCAP_PATH, {"--help"}},
        {"extcap interfaces", QTR290_EXTCAP_PATH, {"--extcap-interfaces"}},
        {"extcap link types",
         QTR290_EXTCAP_PATH,
         {"--extcap-interface", "qtr290-COM1", "--extcap-dlts"}},
        {"extcap options",
         QTR290_EXTCAP_PATH,
         {"--extcap-interface", "qtr290-COM1", "--extcap-config"}},
        {"settings helper help", QTR290_INI_PATH, {"--help"}},
        {"settings helper value", QTR290_INI_PATH, {"DIR/nastaveni.ini", "get", "Porty", "COM1"}},
    };
    for (const Case& c : cases) {
        for (const char* output : {"/dev/null", "/dev/full"}) {
            SCOPED_TRACE(std::string(c.what) + " to " + output);
            TempDir dir;
            WriteFile(dir / "in.txt", CaptureLine);
            WriteFile(dir / "nastaveni.ini", "[Porty]\r\nCOM1=/dev/null\r\n");
            std::vector<std::string> args;
            for (const std::string& arg : c.args)
                args.push_back(arg.rfind("DIR/", 0) == 0 ? dir / arg.substr(4) : arg);
            Child::Options options;
            options.environment = {"QTR290_SETTINGS=" + (dir / "nastaveni.ini")};
            options.stdoutFile = output;
            Child tool(c.program, args, options);
            const std::optional<int> status = tool.Wait(milliseconds(10000));
            ASSERT_TRUE(status.has_value());
            if (std::string(output) == "/dev/null") {
                EXPECT_EQ(*status, 0) << tool.Errors();
                continue;
            }
            EXPECT_EQ(*status, 1);
            EXPECT_NE(tool.Errors().find("standard output"), std::string::npos) << tool.Errors();
        }
    }
}

} // namespace
