// incoming.txt to pcapng: the chunks are framed as the window frames them, one packet per
// telegram, damaged or skipped run (BusCapture).
#pragma once

#include "pcap/bus_capture.h"
#include "pcap/pcapng.h"

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

namespace qtr290::pcap {

struct ConvertSummary {
    std::uint64_t lines = 0;
    std::uint64_t chunks = 0;
    std::uint64_t chunkBytes = 0;
    std::uint64_t queued = 0;    // "Cteni dat" lines
    std::uint64_t malformed = 0; // lines that were not converted
    BusCapture::Tally tally;
    std::uint64_t packets = 0;
};

struct ConvertOptions {
    bool keepGoing = false; // skip malformed lines instead of stopping at the first
};

enum class ConvertStatus {
    Converted,         // every line
    ConvertedWithGaps, // keepGoing: malformed lines were skipped
    Malformed,         // stopped at a malformed line
    WriteFailed,
    ReadFailed, // the input could not be read: reported as "<name>: read error: <why>"
};

// Each malformed line is reported to `errors` as "<name>:<line>: <what was expected>".
ConvertStatus ConvertCapture(std::istream& in, const std::string& name, PcapngWriter& writer,
                             const ConvertOptions& options, ConvertSummary& summary,
                             std::ostream& errors);

// The summary as printed: lines, telegrams, polls, damaged, noise bytes, packets.
std::string SummaryText(const ConvertSummary& summary);

} // namespace qtr290::pcap
