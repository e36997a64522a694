// The built program in a writable directory of its own, offscreen: a request to end it
// (a kill, Ctrl-C, a closed terminal) closes the window as the operator would, whether
// start-up waits in its port warning or the port is open, and the settings file is written
// beside the program, with nothing in the user's home.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Whether the process has a handler for the signal (the SigCgt mask of /proc).
bool Catches(pid_t pid, int signal)
{
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

class Pty {
public:
    Pty()
    {
        FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (FMaster >= 0 && grantpt(FMaster) == 0 && unlockpt(FMaster) == 0)
            FPath = ptsname(FMaster);
    }
    ~Pty()
    {
        if (FMaster >= 0)
            ::close(FMaster);
    }
    const std::string& path() const { return FPath; }

private:
    int FMaster = -1;
    std::string FPath;
};

struct QuitCase {
    const char* what;
    int signal;
    bool portOpens;                   // false: start-up shows its port warning
    std::chrono::milliseconds settle; // after the handler is there: into the warning's loop
    int before = 0;                   // a signal sent first, which the program must live through
};

// A case prints as its name: ctest lists it so (".../SigintDuringStartUp").
void PrintTo(const QuitCase& c, std::ostream* out)
{
    *out << c.what;
}

template <class Case> class ProgramFixture : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/qtr290-program-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root = name;
        fs::create_directories(root / "bin");
        fs::create_directories(root / "home");
        fs::copy_file(QTR290_PATH, root / "bin" / "qtr290");
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    pid_t Start() { return Spawn({}, {"QT_QPA_PLATFORM=offscreen"}, "/dev/null", "/dev/null"); }

    // The copied program with these arguments and, beside HOME and PATH, this environment;
    // its standard output and error into the files.
    pid_t Spawn(const std::vector<std::string>& args, std::vector<std::string> env,
                const std::string& out, const std::string& err)
    {
        env.push_back("HOME=" + (root / "home").string());
        env.push_back("PATH=/usr/bin:/bin");
        for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char* value = std::getenv(keep))
                env.push_back(std::string(keep) + "=" + value);
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string program = (root / "bin" / "qtr290").string();
        std::vector<std::string> words = args;
        words.insert(words.begin(), program);
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        const int error =
            posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        return error == 0 ? pid : -1;
    }

    // The exit status, or -1 when it did not end in time (it is then killed).
    static int WaitForExit(pid_t pid, std::chrono::seconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    fs::path root;
};

using ProgramTest = ProgramFixture<QuitCase>;

TEST_P(ProgramTest, EndsKeepingItsSettings)
{
    const QuitCase& c = GetParam();
    Pty pty;
    ASSERT_FALSE(pty.path().empty());
    const std::string device = c.portOpens ? pty.path() : (root / "no-such-device").string();
    const std::string before = "[Porty]\r\nCOM1=" + device + "\r\n";
    std::ofstream(root / "bin" / "nastaveni.ini", std::ios::binary) << before;

    const pid_t pid = Start();
    ASSERT_GT(pid, 0);
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (!Catches(pid, c.signal) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(Catches(pid, c.signal)) << c.what << ": the program never got ready";
    std::this_thread::sleep_for(c.settle);
    if (c.before) {
        kill(pid, c.before);
        std::this_thread::sleep_for(200ms);
    }
    kill(pid, c.signal);
    ASSERT_EQ(WaitForExit(pid, 60s), 0) << c.what;

    const std::string after = ReadFile(root / "bin" / "nastaveni.ini");
    EXPECT_EQ(after.rfind(before, 0), 0u) << c.what << ": the [Porty] section stays first\n"
                                          << after;
    for (const char* key : {"Port=1\r\n", "Baud rate=4800\r\n", "Zapnuto=0\r\n", "Zarizeni=00\r\n",
                            "Adresat=3f\r\n", "Pocet bytu na radku=32"})
        EXPECT_NE(after.find(key), std::string::npos) << c.what << ": " << key << " in\n" << after;
    EXPECT_TRUE(fs::is_empty(root / "home")) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ProgramTest,
    ::testing::Values(QuitCase{"SigtermWhileThePortWarningWaits", SIGTERM, false, 500ms},
                      QuitCase{"SigintDuringStartUp", SIGINT, false, 0ms},
                      QuitCase{"SighupWithThePortOpen", SIGHUP, true, 500ms},
                      // A write to a reader that went away fails instead.
                      QuitCase{"SigpipeIsLivedThrough", SIGTERM, true, 500ms, SIGPIPE}));

struct SettingsCase {
    const char* what;
    std::function<bool(const fs::path& settings)> make;
};

void PrintTo(const SettingsCase& c, std::ostream* out)
{
    *out << c.what;
}

using SettingsFileTest = ProgramFixture<SettingsCase>;

// What lies at nastaveni.ini is read only when it is a small regular file: the window neither
// waits for a fifo's writer nor reads a device without end. It runs on the defaults, ends when
// asked, and leaves the thing as it was.
TEST_P(SettingsFileTest, OnlyARegularFileIsRead)
{
    const SettingsCase& c = GetParam();
    const fs::path settings = root / "bin" / "nastaveni.ini";
    ASSERT_TRUE(c.make(settings)) << c.what;
    const auto before = fs::symlink_status(settings);
    const auto size = fs::is_regular_file(before) ? fs::file_size(settings) : 0;

    const pid_t pid = Start();
    ASSERT_GT(pid, 0);
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (!Catches(pid, SIGTERM) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(Catches(pid, SIGTERM)) << c.what << ": the program never got ready";
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitForExit(pid, 30s), 0) << c.what;

    const auto after = fs::symlink_status(settings);
    EXPECT_EQ(after.type(), before.type()) << c.what;
    if (fs::is_regular_file(after)) {
        EXPECT_EQ(fs::file_size(settings), size) << c.what;
    }
    EXPECT_TRUE(fs::is_empty(root / "home")) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingsFileTest,
    ::testing::Values(
        SettingsCase{"Fifo", [](const fs::path& p) { return mkfifo(p.c_str(), 0600) == 0; }},
        SettingsCase{"LinkToDevZero",
                     [](const fs::path& p) { return symlink("/dev/zero", p.c_str()) == 0; }},
        SettingsCase{"SixteenMiBOfBlankLines", [](const fs::path& p) {
                         std::ofstream(p, std::ios::binary) << std::string(16 << 20, '\n');
                         return fs::file_size(p) == 16u << 20;
                     }}));

struct CommandLineCase {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string out; // standard output holds this; "" : it is empty
    std::string err; // the same for standard error
};

void PrintTo(const CommandLineCase& c, std::ostream* out)
{
    *out << c.what;
}

using CommandLineTest = ProgramFixture<CommandLineCase>;

// No display at all and Qt told to use the X11 one: a program that made its GUI application
// before answering would abort instead.
TEST_P(CommandLineTest, AnswersWithoutADisplay)
{
    const CommandLineCase& c = GetParam();
    const std::string out = (root / "out").string();
    const std::string err = (root / "err").string();
    const pid_t pid = Spawn(c.args, {"QT_QPA_PLATFORM=xcb"}, out, err);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WaitForExit(pid, 60s), c.status) << c.what << ReadFile(err);
    for (const auto& [path, expected] : {std::pair{out, c.out}, std::pair{err, c.err}}) {
        const std::string text = ReadFile(path);
        if (expected.empty())
            EXPECT_EQ(text, "") << c.what;
        else
            EXPECT_NE(text.find(expected), std::string::npos) << c.what << ": " << text;
    }
    EXPECT_TRUE(fs::is_empty(root / "home")) << c.what;
    EXPECT_FALSE(fs::exists(root / "bin" / "nastaveni.ini")) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"Help", {"--help"}, 0, "--language <code>", ""},
        CommandLineCase{"ShortHelp", {"-h"}, 0, "Usage: ", ""},
        CommandLineCase{"HelpAll", {"--help-all"}, 0, "Usage: ", ""},
        CommandLineCase{"HelpWinsOverAMistake", {"--bogus", "--help"}, 0, "--version", ""},
        CommandLineCase{"QtOptionsAreNamed", {"--help"}, 0, "-platform NAME", ""},
        CommandLineCase{"Version", {"--version"}, 0, "qtr290 " QTR290_VERSION "\n", ""},
        CommandLineCase{"UnknownOption", {"--bogus"}, 2, "", "Unknown option 'bogus'."},
        CommandLineCase{"UsageWithTheError", {"-x"}, 2, "", "Usage: "},
        CommandLineCase{"LanguageWithoutCode", {"--language"}, 2, "", "Missing value after"},
        CommandLineCase{"StrayArgument", {"incoming.txt"}, 2, "", "Unexpected argument"}));

// Qt's own options reach Qt: -platform offscreen instead of the environment's xcb, beside
// --language. The window runs until asked to end, and ends as usual.
TEST_F(CommandLineTest, QtOptionsAndLanguageStartTheWindow)
{
    const std::string out = (root / "out").string();
    const std::string err = (root / "err").string();
    const pid_t pid = Spawn({"-platform", "offscreen", "--language", "en", "-reverse"},
                            {"QT_QPA_PLATFORM=xcb"}, out, err);
    ASSERT_GT(pid, 0);
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (!Catches(pid, SIGTERM) && std::chrono::steady_clock::now() < end &&
           waitpid(pid, nullptr, WNOHANG) == 0)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(Catches(pid, SIGTERM)) << ReadFile(err);
    kill(pid, SIGTERM);
    ASSERT_EQ(WaitForExit(pid, 60s), 0) << ReadFile(err);
    const std::string settings = ReadFile(root / "bin" / "nastaveni.ini");
    EXPECT_NE(settings.find("Baud rate=4800"), std::string::npos) << settings;
    // The run's language is not the operator's setting.
    EXPECT_EQ(settings.find("Rozhrani"), std::string::npos) << settings;
}

} // namespace
