// qtr290-pcap: converts the capture file incoming.txt into pcapng for Wireshark.
#include "process/standard_descriptors.h"
#include "tools/qtr290-pcap/convert.h"

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
3 converted with --keep-going but lines were skipped.
)";

int Fail(const std::string& message)
{
    std::cerr << "qtr290-pcap: " << message << '\n';
    return 1;
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

} // namespace

int main(int argc, char** argv)
{
    qtr290::OpenNullOnClosedStandardDescriptors();
    using namespace qtr290::pcap;
    namespace fs = std::filesystem;

    ConvertOptions options;
    bool quiet = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--keep-going")
            options.keepGoing = true;
        else if (arg == "--quiet")
            quiet = true;
        else if (arg == "--help" || arg == "-h") {
            std::cout << Usage;
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            std::cerr << "qtr290-pcap: unknown option " << arg << "\n" << Usage;
            return 2;
        } else
            files.emplace_back(arg);
    }
    if (files.empty() || files.size() > 2) {
        std::cerr << Usage;
        return 2;
    }
    const std::string input = files[0];
    std::string output = files.size() == 2 ? files[1] : "";
    if (output.empty())
        output = fs::path(input).replace_extension(".pcapng").string();

    std::ifstream in(input, std::ios::binary);
    if (!in)
        return Fail("cannot open " + input);
    std::error_code same;
    if (output != "-" && fs::equivalent(input, output, same))
        return Fail(output + " is the input itself: name another output file");

    // A file is written beside its final name and renamed at the end: a failed run leaves
    // nothing half-written behind.
    const bool toStdout = output == "-";
    std::string temporary;
    int file = -1;
    if (!toStdout) {
        file = CreateTemporary(output, temporary);
        if (file < 0)
            return Fail("cannot write " + output + ": " + std::strerror(errno));
    }
    bool writeOk = true;
    PcapngWriter writer(
        [&](qtr290::ByteSpan bytes) {
            if (toStdout) {
                std::cout.write(reinterpret_cast<const char*>(bytes.data()),
                                static_cast<std::streamsize>(bytes.size()));
                writeOk = std::cout.good();
            } else {
                writeOk = WriteAll(file, bytes.data(), bytes.size());
            }
            return writeOk;
        },
        "qtr290-pcap", {fs::path(input).filename().string(), "capture file " + input});

    ConvertSummary summary;
    const ConvertStatus status = ConvertCapture(in, input, writer, options, summary, std::cerr);
    if (!toStdout)
        writeOk = ::close(file) == 0 && writeOk;
    else
        writeOk = std::cout.flush().good() && writeOk;
    const bool written =
        (status == ConvertStatus::Converted || status == ConvertStatus::ConvertedWithGaps) &&
        writeOk;
    std::error_code error;
    if (!written) {
        if (!toStdout)
            fs::remove(temporary, error);
        if (status == ConvertStatus::Malformed)
            return Fail("stopped at the malformed line above; nothing written (--keep-going "
                        "converts the rest)");
        if (status == ConvertStatus::ReadFailed)
            return 1; // told above, with the input's name
        return Fail("cannot write " + (toStdout ? std::string("standard output") : output));
    }
    if (!toStdout) {
        fs::rename(temporary, output, error);
        if (error) {
            fs::remove(temporary, error);
            return Fail("cannot write " + output);
        }
    }
    if (!quiet)
        (toStdout ? std::cerr : std::cout)
            << SummaryText(summary) << (toStdout ? "" : "written to " + output + "\n");
    if (status == ConvertStatus::ConvertedWithGaps) {
        std::cerr << "qtr290-pcap: " << summary.malformed << " malformed line"
                  << (summary.malformed == 1 ? "" : "s") << " skipped\n";
        return 3;
    }
    return 0;
}
