// wine_bus: the far end of a COM port for a test program running under Wine (a Linux host
// program, built with the host compiler).
//
//     wine_bus [--port com5] -- wine program.exe [args...]
//
// It makes a pseudo-terminal, sets it raw (it would echo until configured), links the
// slave as $WINEPREFIX/dosdevices/<port> and runs the command with QTR290_WINE_BUS=1. The
// program asks for actions on the master with lines "@bus <request>" on its standard output
// and reads one answer line ("ok ..." or "err ...") on its standard input; every other line
// is copied to this program's standard output. Requests:
//
//     write <hex>          write the bytes to the master                 -> ok
//     read <count> <ms>    read up to count bytes, waiting at most ms    -> ok <hex>
//     line                 the line settings the port was given   -> ok 4800/4800 stop=1 ...
//     hangup               close the master: the far end hangs up         -> ok
//     plug                 a new pseudo-terminal behind the same link     -> ok
//
// The exit status is the program's.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int RunLimitSeconds = 100;

std::string HexOf(const std::vector<unsigned char>& bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const unsigned char b : bytes) {
        text += Digits[b >> 4];
        text += Digits[b & 15];
    }
    return text;
}

bool ParseHex(std::string_view text, std::vector<unsigned char>& bytes)
{
    auto nibble = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    if (text.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]);
        const int low = nibble(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return true;
}

// The pseudo-terminal whose slave the Wine program opens as its COM port.
class Pty {
public:
    ~Pty() { Close(); }

    bool Plug(const std::string& linkPath, std::string& error)
    {
        Close();
        FMaster = ::open("/dev/ptmx", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
            return Fail("no pseudo-terminal", error);
        const char* slaveName = ::ptsname(FMaster);
        if (!slaveName)
            return Fail("ptsname", error);
        const std::string slave = slaveName;
        // Raw before Wine opens it: a fresh pty echoes and maps CR/LF until configured.
        termios tio{};
        if (::tcgetattr(FMaster, &tio) != 0)
            return Fail("tcgetattr", error);
        ::cfmakeraw(&tio);
        if (::tcsetattr(FMaster, TCSANOW, &tio) != 0)
            return Fail("tcsetattr", error);
        // Holding the slave open keeps master reads from failing while Wine has it closed.
        FSlave = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (FSlave < 0)
            return Fail("open " + slave, error);
        // Replace the link in one step: Wine may be looking it up.
        const std::string temporary = linkPath + ".new";
        ::unlink(temporary.c_str());
        if (::symlink(slave.c_str(), temporary.c_str()) != 0 ||
            ::rename(temporary.c_str(), linkPath.c_str()) != 0)
            return Fail("cannot link " + linkPath, error);
        return true;
    }

    void Close()
    {
        if (FSlave >= 0)
            ::close(FSlave);
        if (FMaster >= 0)
            ::close(FMaster);
        FSlave = FMaster = -1;
    }

    bool Write(const std::vector<unsigned char>& bytes, std::string& error)
    {
        std::size_t done = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (done < bytes.size()) {
            if (FMaster < 0)
                return Fail("hung up", error);
            const ssize_t n = ::write(FMaster, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return Fail(std::string("write: ") + std::strerror(errno), error);
            if (Clock::now() > deadline)
                return Fail("write stalled", error);
            pollfd p{FMaster, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        return true;
    }

    bool Read(std::size_t count, int ms, std::vector<unsigned char>& bytes, std::string& error)
    {
        if (FMaster < 0)
            return Fail("hung up", error);
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        unsigned char buffer[4096];
        while (bytes.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{FMaster, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            const ssize_t n =
                ::read(FMaster, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (n > 0)
                bytes.insert(bytes.end(), buffer, buffer + n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return Fail(std::string("read: ") + std::strerror(errno), error);
        }
        return true;
    }

    // The termios the port was given, as "<in>/<out> stop=<n> crtscts=.. ixon=.. ixoff=..
    // raw=..". No data bits or parity: a Linux pseudo-terminal forces 8 bits, no parity.
    bool Line(std::string& text, std::string& error)
    {
        termios tio{};
        if (FMaster < 0 || ::tcgetattr(FMaster, &tio) != 0)
            return Fail("tcgetattr", error);
        const bool raw = !(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) &&
                         !(tio.c_oflag & OPOST) &&
                         !(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP));
        char buffer[160];
        std::snprintf(buffer, sizeof buffer, "%u/%u stop=%d crtscts=%d ixon=%d ixoff=%d raw=%d",
                      SpeedOf(::cfgetispeed(&tio)), SpeedOf(::cfgetospeed(&tio)),
                      (tio.c_cflag & CSTOPB) ? 2 : 1, (tio.c_cflag & CRTSCTS) ? 1 : 0,
                      (tio.c_iflag & IXON) ? 1 : 0, (tio.c_iflag & IXOFF) ? 1 : 0, raw ? 1 : 0);
        text = buffer;
        return true;
    }

private:
    static unsigned SpeedOf(speed_t code)
    {
        static constexpr struct {
            speed_t code;
            unsigned rate;
        } Rates[] = {{B0, 0},          {B110, 110},     {B300, 300},     {B600, 600},
                     {B1200, 1200},    {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                     {B19200, 19200},  {B38400, 38400}, {B57600, 57600}, {B115200, 115200},
                     {B230400, 230400}};
        for (const auto& r : Rates) {
            if (r.code == code)
                return r.rate;
        }
        return 1; // some rate without a name here
    }

    bool Fail(const std::string& what, std::string& error)
    {
        error = what;
        return false;
    }

    int FMaster = -1;
    int FSlave = -1;
};

class Harness {
public:
    Harness(std::string linkPath) : FLinkPath(std::move(linkPath)) {}
    ~Harness() { ::unlink(FLinkPath.c_str()); }
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    bool Plug(std::string& error) { return FPty.Plug(FLinkPath, error); }

    std::string Answer(std::string_view request)
    {
        const auto space = request.find(' ');
        const std::string_view verb = request.substr(0, space);
        const std::string_view rest =
            space == std::string_view::npos ? std::string_view() : request.substr(space + 1);
        std::string error;
        if (verb == "write") {
            std::vector<unsigned char> bytes;
            if (!ParseHex(rest, bytes))
                return "err bad hex";
            return FPty.Write(bytes, error) ? "ok" : "err " + error;
        }
        if (verb == "read") {
            std::size_t count = 0;
            int ms = 0;
            if (std::sscanf(std::string(rest).c_str(), "%zu %d", &count, &ms) != 2)
                return "err bad read request";
            std::vector<unsigned char> bytes;
            if (!FPty.Read(count, ms, bytes, error))
                return "err " + error;
            return "ok " + HexOf(bytes);
        }
        if (verb == "line") {
            std::string text;
            return FPty.Line(text, error) ? "ok " + text : "err " + error;
        }
        if (verb == "hangup") {
            FPty.Close();
            return "ok";
        }
        if (verb == "plug")
            return Plug(error) ? "ok" : "err " + error;
        return "err unknown request";
    }

private:
    std::string FLinkPath;
    Pty FPty;
};

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int Usage()
{
    std::fprintf(stderr, "usage: wine_bus [--port com5] -- command [args...]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string port = "com5";
    int first = 1;
    while (first < argc && std::string_view(argv[first]) != "--") {
        if (std::string_view(argv[first]) == "--port" && first + 1 < argc) {
            port = argv[first + 1];
            first += 2;
        } else {
            return Usage();
        }
    }
    if (first + 1 >= argc)
        return Usage();
    char** command = argv + first + 1;

    const char* prefixEnv = std::getenv("WINEPREFIX");
    const char* home = std::getenv("HOME");
    const std::string prefix =
        prefixEnv && *prefixEnv ? prefixEnv : std::string(home ? home : "") + "/.wine";
    Harness harness(prefix + "/dosdevices/" + port);
    std::string error;
    if (!harness.Plug(error)) {
        std::fprintf(stderr, "wine_bus: %s\n", error.c_str());
        return 1;
    }

    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
        std::perror("wine_bus: pipe");
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("wine_bus: fork");
        return 1;
    }
    if (child == 0) {
        ::dup2(toChild[0], STDIN_FILENO);
        ::dup2(fromChild[1], STDOUT_FILENO);
        ::setenv("QTR290_WINE_BUS", "1", 1);
        ::execvp(command[0], command);
        std::perror("wine_bus: exec");
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);

    const auto deadline = Clock::now() + std::chrono::seconds(RunLimitSeconds);
    std::string pending;
    bool timedOut = false;
    bool exited = false;
    int status = 0;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        // Wine's own services may inherit the output pipe and keep it open after the
        // program has ended: its exit, not the end of the pipe, ends the run.
        pollfd p{fromChild[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
        if (ready == 0) {
            if (exited)
                break; // exited and nothing more to read
            exited = ::waitpid(child, &status, WNOHANG) == child;
            continue;
        }
        if (ready < 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(fromChild[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.rfind("@bus ", 0) == 0) {
                WriteAll(toChild[1], harness.Answer(std::string_view(line).substr(5)) + "\n");
            } else {
                std::fwrite(line.data(), 1, line.size(), stdout);
                std::fputc('\n', stdout);
                std::fflush(stdout);
            }
        }
    }
    if (!pending.empty())
        std::fwrite(pending.data(), 1, pending.size(), stdout);
    std::fflush(stdout);
    ::close(toChild[1]);
    ::close(fromChild[0]);
    if (timedOut) {
        std::fprintf(stderr, "wine_bus: no end after %d s, stopping the program\n",
                     RunLimitSeconds);
        ::kill(child, SIGKILL);
    }
    if (!exited)
        ::waitpid(child, &status, 0);
    if (timedOut)
        return 1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    std::fprintf(stderr, "wine_bus: the program ended by signal %d\n", WTERMSIG(status));
    return 1;
}
