// qtr290-pcap: converts the capture file incoming.txt into pcapng for Wireshark.
#include "convert.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

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

} // namespace

int main(int argc, char** argv)
{
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
    const std::string temporary = toStdout ? "" : output + ".part";
    std::ofstream file;
    if (!toStdout) {
        file.open(temporary, std::ios::binary | std::ios::trunc);
        if (!file)
            return Fail("cannot write " + temporary);
    }
    std::ostream& out = toStdout ? std::cout : file;
    PcapngWriter writer(
        [&](qtr290::ByteSpan bytes) {
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
            return out.good();
        },
        "qtr290-pcap", {fs::path(input).filename().string(), "capture file " + input});

    ConvertSummary summary;
    const ConvertStatus status = ConvertCapture(in, input, writer, options, summary, std::cerr);
    if (!toStdout)
        file.close();
    else
        std::cout.flush();
    const bool written =
        (status == ConvertStatus::Converted || status == ConvertStatus::ConvertedWithGaps) &&
        (toStdout ? std::cout.good() : !file.fail());
    std::error_code error;
    if (!written) {
        if (!toStdout)
            fs::remove(temporary, error);
        if (status == ConvertStatus::Malformed)
            return Fail("stopped at the malformed line above; nothing written (--keep-going "
                        "converts the rest)");
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
