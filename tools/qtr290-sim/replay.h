// A capture played back: the chunks received at a site, read from a capture file
// (incoming.txt) or from this project's pcapng (inbound packets only), with their times.
// The file is read as the replay goes, so its size does not matter.
#pragma once

#include "tools/qtr290-sim/frames.h"

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

namespace qtr290::capture {
class LineReader;
} // namespace qtr290::capture
namespace qtr290::pcap {
class PcapngReader;
} // namespace qtr290::pcap

namespace qtr290::sim {

struct ReplayChunk {
    std::int64_t timeUs = 0;
    Bytes bytes;
};

struct ReplayCounts {
    std::uint64_t items = 0; // lines or packets replayed
    std::uint64_t bytes = 0;
    std::uint64_t skipped = 0; // malformed lines or blocks passed over
    std::int64_t firstUs = 0;
    std::int64_t lastUs = 0;
};

// How long after the pass's first chunk (captured at firstUs) a chunk captured at timeUs goes
// out: never negative, so that a clock set back during the capture keeps the order; saturated
// at the end of the range instead of overflowing.
std::int64_t ReplayOffsetUs(std::int64_t firstUs, std::int64_t timeUs);

// When that chunk is due on the monotonic clock, the pass having begun at baseNs, at `speed`
// (0: at once). An offset at the end of the range is due in about three years, never past the
// clock's range.
std::int64_t ReplayDueNs(std::int64_t baseNs, std::int64_t offsetUs, double speed);

class ReplayFile {
public:
    enum class Format { Lines, Packets };
    enum class Result {
        Chunk,     // `chunk` holds the next one
        End,       // of the file
        Skipped,   // keepGoing: a malformed line or block, counted and passed over
        Malformed, // the replay cannot go on from here
    };

    ReplayFile();
    ~ReplayFile();
    ReplayFile(const ReplayFile&) = delete;
    ReplayFile& operator=(const ReplayFile&) = delete;

    // Opens the file and tells its format by its first bytes; false with `error` set.
    bool Open(const std::string& path, std::string& error);
    // Starts over from the first line or block (for --loop); the counts go on.
    bool Rewind();

    // The next chunk to write. Skipped and Malformed set `message` to "file:line: what"
    // (for a pcapng file the block's number stands for the line). With keepGoing a bad line
    // or block is Skipped, unless nothing after it can be read (then counted and Malformed).
    Result Next(ReplayChunk& chunk, bool keepGoing, std::string& message);

    Format FileFormat() const { return FFormat; }
    const ReplayCounts& Counts() const { return FCounts; }

private:
    Result NextLine(ReplayChunk& chunk, bool keepGoing, std::string& message);
    Result NextPacket(ReplayChunk& chunk, bool keepGoing, std::string& message);
    void Count(const ReplayChunk& chunk);

    std::string FPath;
    std::ifstream FIn;
    Format FFormat = Format::Lines;
    std::unique_ptr<capture::LineReader> FLines;
    std::unique_ptr<pcap::PcapngReader> FPackets;
    ReplayCounts FCounts;
};

} // namespace qtr290::sim
