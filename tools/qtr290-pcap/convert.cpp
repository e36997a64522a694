#include "tools/qtr290-pcap/convert.h"

#include "capture/capture_text.h"

#include <sstream>

namespace qtr290::pcap {

using capture::CaptureLine;
using capture::CaptureLineResult;
using capture::LineReader;
using capture::ParseCaptureLine;

ConvertStatus ConvertCapture(std::istream& in, const std::string& name, PcapngWriter& writer,
                             const ConvertOptions& options, ConvertSummary& summary,
                             std::ostream& errors)
{
    BusCapture capture([&](const Packet& packet) { writer.Write(packet); });
    LineReader reader(in);
    std::string text;
    bool tooLong = false;
    std::int64_t lastTime = 0;
    writer.WriteHeader();
    while (writer.Ok() && reader.Next(text, tooLong)) {
        ++summary.lines;
        const CaptureLineResult parsed =
            tooLong ? CaptureLineResult{std::nullopt,
                                        "longer than " + std::to_string(LineReader::MaxLineLength) +
                                            " characters: expected a capture line"}
                    : ParseCaptureLine(text);
        if (!parsed.line) {
            ++summary.malformed;
            errors << name << ':' << reader.LineNumber() << ": " << parsed.error << '\n';
            if (!options.keepGoing)
                return ConvertStatus::Malformed;
            continue;
        }
        if (parsed.line->kind == CaptureLine::Kind::Queued) {
            ++summary.queued;
            continue;
        }
        ++summary.chunks;
        summary.chunkBytes += parsed.line->bytes.size();
        lastTime = parsed.line->timeUs;
        capture.Received(parsed.line->bytes, lastTime);
    }
    if (!reader.ReadError().empty()) {
        errors << name << ": read error: " << reader.ReadError() << '\n';
        return ConvertStatus::ReadFailed;
    }
    capture.Finish(lastTime);
    summary.tally = capture.Counts();
    summary.packets = writer.PacketCount();
    if (!writer.Ok())
        return ConvertStatus::WriteFailed;
    return summary.malformed == 0 ? ConvertStatus::Converted : ConvertStatus::ConvertedWithGaps;
}

std::string SummaryText(const ConvertSummary& s)
{
    const BusCapture::Tally& t = s.tally;
    std::ostringstream out;
    out << "lines: " << s.lines << " (chunks " << s.chunks << " with " << s.chunkBytes
        << " bytes, queued requests " << s.queued << ", malformed " << s.malformed << ")\n"
        << "telegrams: " << t.telegrams << "\n"
        << "polls: " << t.polls << "\n"
        << "damaged: " << t.damaged() << " (header " << t.headerErrors << ", block "
        << t.blockErrors << ")\n"
        << "noise bytes: " << t.skippedBytes << " in " << t.skippedRuns << " runs\n"
        << "incomplete bytes at the end: " << t.incompleteBytes << "\n"
        << "packets: " << s.packets << "\n";
    return out.str();
}

} // namespace qtr290::pcap
