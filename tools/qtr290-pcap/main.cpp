// qtr290-pcap: converts the capture file incoming.txt into pcapng for Wireshark.
#include "process/standard_descriptors.h"
#include "tools/qtr290-pcap/convert.h"
#include "tools/standard_output.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char Usage[] = R"(Usage: qtr290-pcap [--keep-going] [--quiet] INPUT [OUTPUT]

Converts a capture file of the QTR290 utility (incoming.txt) into pcapng, one telegram
per packet (link type USER0 = 147; dissector: wireshark/qtr290.lua). The chunks are framed
by the utility's own rules; each intact telegram carries the time of the chunk that
completed it. Damaged telegrams (packet flag "CRC error"), skipped bytes ("start frame
delimiter error") and bytes still incomplete at the end ("packet too short") get packets
of their own, so the packets hold every byte of the capture, in order. All packets are
marked as received (inbound). Time stamps are read as local time of this machine (TZ).

OUTPUT defaults to INPUT with the extension .pcapng; "-" writes to standard output.
  --keep-going  skip malformed lines (each is reported) instead of stopping at the first
  --quiet       no summary
Exit status: 0 converted, 1 malformed line or I/O error (no output is left), 2 usage,
3 converted with --keep-going but lines were skipped. A summary that standard output
does not take (a full disk) also gives 1, with a message; the output is then kept.
)";

int Fail(const std::string& message)
{
    std::cerr << "qtr290-pcap: " << message << '\n';
    return 1;
}

struct Arguments {
    enum class Action { Convert, Help, Misuse };
    Action action = Action::Convert;
    qtr290::pcap::ConvertOptions options;
    bool quiet = false;
    std::string input, output;
    std::string error; // for a misuse: what is wrong, or "" for the usage alone
};

Arguments ReadArguments(int argc, char** argv)
{
    Arguments a;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--keep-going") {
            a.options.keepGoing = true;
        } else if (arg == "--quiet") {
            a.quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            a.action = Arguments::Action::Help;
            return a;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            a.action = Arguments::Action::Misuse;
            a.error = "unknown option " + std::string(arg);
            return a;
        } else {
            files.emplace_back(arg);
        }
    }
    if (files.empty() || files.size() > 2) {
        a.action = Arguments::Action::Misuse;
        return a;
    }
    a.input = files[0];
    a.output = files.size() == 2 ? files[1] : "";
    if (a.output.empty())
        a.output = std::filesystem::path(a.input).replace_extension(".pcapng").string();
    return a;
}

// A new file of a unique name in the output's folder: created exclusively, so that neither an
// existing file (the input, say) nor a link planted there is ever written through. -1 on failure.
int CreateTemporary(const std::filesystem::path& output, std::string& name)
{
    const std::filesystem::path dir = output.has_parent_path() ? output.parent_path() : ".";
    name = (dir / ("." + output.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return -1;
    // mkstemp's 0600, widened to what a plainly created file would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    return fd;
}

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Where the pcapng goes: standard output ("-"), or a file written beside its final name and
// renamed at the end, so that a failed run leaves nothing half-written behind.
class Output {
public:
    explicit Output(std::string path) : FPath(std::move(path)), FToStdout(FPath == "-") {}
    ~Output()
    {
        Close();
        if (!FCommitted && !FTemporary.empty())
            ::unlink(FTemporary.c_str());
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    bool Open()
    {
        FFile = FToStdout ? -1 : CreateTemporary(FPath, FTemporary);
        return FToStdout || FFile >= 0;
    }
    bool Write(qtr290::ByteSpan bytes)
    {
        if (FToStdout) {
            std::cout.write(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<std::streamsize>(bytes.size()));
            FOk = FOk && std::cout.good();
        } else {
            FOk = FOk && WriteAll(FFile, bytes.data(), bytes.size());
        }
        return FOk;
    }
    // Everything written reached the file or standard output.
    bool Close()
    {
        if (FToStdout)
            return std::cout.flush().good() && FOk;
        if (FFile >= 0) {
            FOk = ::close(FFile) == 0 && FOk;
            FFile = -1;
        }
        return FOk;
    }
    // The file under its final name.
    bool Commit()
    {
        if (FToStdout)
            return true;
        std::error_code error;
        std::filesystem::rename(FTemporary, FPath, error);
        FCommitted = !error;
        return FCommitted;
    }
    bool ToStdout() const { return FToStdout; }
    const std::string& Name() const { return FToStdout ? StdoutName : FPath; }

private:
    static inline const std::string StdoutName = "standard output";
    std::string FPath;
    bool FToStdout;
    std::string FTemporary;
    int FFile = -1;
    bool FOk = true;
    bool FCommitted = false;
};

int Report(const Arguments& a, const Output& out, const qtr290::pcap::ConvertSummary& summary,
           qtr290::pcap::ConvertStatus status)
{
    if (!a.quiet)
        (out.ToStdout() ? std::cerr : std::cout)
            << SummaryText(summary) << (out.ToStdout() ? "" : "written to " + a.output + "\n");
    if (status == qtr290::pcap::ConvertStatus::ConvertedWithGaps) {
        std::cerr << "qtr290-pcap: " << summary.malformed << " malformed line"
                  << (summary.malformed == 1 ? "" : "s") << " skipped\n";
        return 3;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qtr290::OpenNullOnClosedStandardDescriptors();
    using namespace qtr290::pcap;
    namespace fs = std::filesystem;

    const Arguments a = ReadArguments(argc, argv);
    switch (a.action) {
    case Arguments::Action::Help:
        std::cout << Usage;
        return qtr290::ExitStatusAfterOutput("qtr290-pcap", 0);
    case Arguments::Action::Misuse:
        std::cerr << (a.error.empty() ? "" : "qtr290-pcap: " + a.error + "\n") << Usage;
        return 2;
    case Arguments::Action::Convert:
        break;
    }

    std::ifstream in(a.input, std::ios::binary);
    if (!in)
        return Fail("cannot open " + a.input);
    std::error_code same;
    if (a.output != "-" && fs::equivalent(a.input, a.output, same))
        return Fail(a.output + " is the input itself: name another output file");
    Output out(a.output);
    if (!out.Open())
        return Fail("cannot write " + a.output + ": " + std::strerror(errno));
    PcapngWriter writer([&out](qtr290::ByteSpan bytes) { return out.Write(bytes); }, "qtr290-pcap",
                        {fs::path(a.input).filename().string(), "capture file " + a.input});

    ConvertSummary summary;
    const ConvertStatus status = ConvertCapture(in, a.input, writer, a.options, summary, std::cerr);
    const bool closed = out.Close();
    if (status == ConvertStatus::Malformed)
        return Fail("stopped at the malformed line above; nothing written (--keep-going "
                    "converts the rest)");
    if (status == ConvertStatus::ReadFailed)
        return 1; // told above, with the input's name
    if (!closed || status == ConvertStatus::WriteFailed || !out.Commit())
        return Fail("cannot write " + out.Name());
    return qtr290::ExitStatusAfterOutput("qtr290-pcap", Report(a, out, summary, status));
}
