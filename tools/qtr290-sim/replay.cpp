#include "tools/qtr290-sim/replay.h"

#include "capture/capture_text.h"
#include "pcap/pcapng_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>
#include <sys/stat.h>

namespace qtr290::sim {

std::int64_t ReplayOffsetUs(std::int64_t firstUs, std::int64_t timeUs)
{
    std::int64_t offset = 0;
    if (__builtin_sub_overflow(timeUs, firstUs, &offset))
        return timeUs > firstUs ? std::numeric_limits<std::int64_t>::max() : 0;
    return std::max<std::int64_t>(0, offset);
}

std::int64_t ReplayDueNs(std::int64_t baseNs, std::int64_t offsetUs, double speed)
{
    constexpr double LongestWaitNs = 1e17;
    if (speed <= 0)
        return baseNs;
    const double waitNs = std::min(static_cast<double>(offsetUs) * 1e3 / speed, LongestWaitNs);
    std::int64_t due = 0;
    if (__builtin_add_overflow(baseNs, static_cast<std::int64_t>(waitNs), &due))
        return std::numeric_limits<std::int64_t>::max();
    return due;
}

ReplayFile::ReplayFile() = default;
ReplayFile::~ReplayFile() = default;

bool ReplayFile::Open(const std::string& path, std::string& error)
{
    // Only a regular file: opening a FIFO or a device would wait or never end.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    FIn.open(path, std::ios::binary);
    if (!FIn) {
        error = path + ": cannot be read";
        return false;
    }
    FPath = path;
    std::uint8_t magic[4] = {};
    const std::streamsize got = FIn.rdbuf()->sgetn(reinterpret_cast<char*>(magic), 4);
    FFormat =
        pcap::LooksLikePcapng(magic, static_cast<std::size_t>(std::max<std::streamsize>(got, 0)))
            ? Format::Packets
            : Format::Lines;
    return Rewind();
}

bool ReplayFile::Rewind()
{
    FIn.clear();
    FIn.seekg(0);
    if (!FIn)
        return false;
    FLines.reset();
    FPackets.reset();
    if (FFormat == Format::Packets)
        FPackets = std::make_unique<pcap::PcapngReader>(FIn);
    else
        FLines = std::make_unique<capture::LineReader>(FIn);
    return true;
}

void ReplayFile::Count(const ReplayChunk& chunk)
{
    if (FCounts.items == 0)
        FCounts.firstUs = chunk.timeUs;
    ++FCounts.items;
    FCounts.bytes += chunk.bytes.size();
    FCounts.lastUs = chunk.timeUs;
}

ReplayFile::Result ReplayFile::Next(ReplayChunk& chunk, bool keepGoing, std::string& message)
{
    // A failing disk or a file cut off under us ends the replay with a message, not an abort.
    try {
        return FFormat == Format::Packets ? NextPacket(chunk, keepGoing, message)
                                          : NextLine(chunk, keepGoing, message);
    } catch (const std::exception& e) {
        message = FPath + ": cannot be read: " + e.what();
        return Result::Malformed;
    }
}

ReplayFile::Result ReplayFile::NextLine(ReplayChunk& chunk, bool keepGoing, std::string& message)
{
    std::string text;
    bool tooLong = false;
    while (FLines->Next(text, tooLong)) {
        const capture::CaptureLineResult parsed =
            tooLong ? capture::CaptureLineResult{std::nullopt,
                                                 "longer than " +
                                                     std::to_string(
                                                         capture::LineReader::MaxLineLength) +
                                                     " characters: expected a capture line"}
                    : capture::ParseCaptureLine(text);
        if (!parsed.line) {
            message = FPath + ':' + std::to_string(FLines->LineNumber()) + ": " + parsed.error;
            if (!keepGoing)
                return Result::Malformed;
            ++FCounts.skipped;
            return Result::Skipped;
        }
        // A queued request is no byte on the line.
        if (parsed.line->kind != capture::CaptureLine::Kind::Chunk || parsed.line->bytes.empty())
            continue;
        chunk.timeUs = parsed.line->timeUs;
        chunk.bytes = parsed.line->bytes;
        Count(chunk);
        return Result::Chunk;
    }
    return Result::End;
}

ReplayFile::Result ReplayFile::NextPacket(ReplayChunk& chunk, bool keepGoing, std::string& message)
{
    pcap::ReadPacket packet;
    for (;;) {
        const auto status = FPackets->Next(packet);
        if (status == pcap::PcapngReader::Status::End)
            return Result::End;
        std::string error;
        if (status == pcap::PcapngReader::Status::Malformed)
            error = FPackets->Error();
        else if (packet.linkType != pcap::LinkTypeUser0)
            error = "packet of link type " + std::to_string(packet.linkType) + ", expected " +
                    std::to_string(pcap::LinkTypeUser0);
        if (!error.empty()) {
            message = FPath + ':' + std::to_string(FPackets->BlockNumber()) + ": block at byte " +
                      std::to_string(FPackets->BlockOffset()) + ": " + error;
            if (!keepGoing)
                return Result::Malformed;
            ++FCounts.skipped;
            // Once the block structure is lost, the rest of the file is out of reach.
            return FPackets->CanGoOn() ? Result::Skipped : Result::Malformed;
        }
        // What the utility transmitted was never received from the bus.
        if ((packet.flags & 0x3) == pcap::FlagOutbound || packet.bytes.empty())
            continue;
        chunk.timeUs = packet.timeUs;
        chunk.bytes = std::move(packet.bytes);
        Count(chunk);
        return Result::Chunk;
    }
}

} // namespace qtr290::sim
