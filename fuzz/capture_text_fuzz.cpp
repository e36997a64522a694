// Fuzz target for the capture file reader (what qtr290-pcap and the simulator's replay
// read): the input is the file. Checked on every input: lines are numbered one by one and
// none keeps its line break; every line parses to a chunk, a queued request or an error
// (exactly one); a chunk written back in the file's own layout parses to the same time and
// bytes; and the reader sees as many lines as the input has line ends.
#include "capture/capture_text.h"
#include "fuzz/fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

using namespace qtr290::capture;

std::string ChunkText(const CaptureLine& line, std::string_view stamp)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text(stamp);
    for (const std::uint8_t b : line.bytes) {
        text += Digits[b >> 4];
        text += Digits[b & 0x0F];
        text += ' ';
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Dates come out in one zone whatever the machine's.
    static const bool zoneSet = (::setenv("TZ", "UTC", 1), true);
    (void)zoneSet;
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::istringstream in(input);
    LineReader reader(in);
    std::string line;
    bool tooLong = false;
    std::uint64_t lines = 0;
    while (reader.Next(line, tooLong)) {
        ++lines;
        FUZZ_CHECK(reader.LineNumber() == lines);
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        FUZZ_CHECK(line.size() <= LineReader::MaxLineLength);
        if (tooLong) {
            FUZZ_CHECK(line.empty());
            continue;
        }
        const CaptureLineResult parsed = ParseCaptureLine(line);
        FUZZ_CHECK(parsed.line.has_value() != !parsed.error.empty());
        if (!parsed.line)
            continue;
        FUZZ_CHECK(line.size() >= 22 && line[21] == '>');
        if (parsed.line->kind == CaptureLine::Kind::Queued) {
            FUZZ_CHECK(parsed.line->bytes.empty());
            continue;
        }
        // Three characters per byte, the last blank may be missing.
        const std::size_t rest = line.size() - 22;
        FUZZ_CHECK(parsed.line->bytes.size() == (rest + 2) / 3);
        const CaptureLineResult again =
            ParseCaptureLine(ChunkText(*parsed.line, std::string_view(line).substr(0, 22)));
        FUZZ_CHECK(again.line.has_value());
        FUZZ_CHECK(again.line->timeUs == parsed.line->timeUs);
        // An empty chunk written back reads as an empty chunk, not as a queued request.
        FUZZ_CHECK(again.line->kind == CaptureLine::Kind::Chunk);
        FUZZ_CHECK(again.line->bytes == parsed.line->bytes);
    }
    const auto breaks = static_cast<std::uint64_t>(std::count(input.begin(), input.end(), '\n'));
    const bool unfinished = !input.empty() && input.back() != '\n';
    FUZZ_CHECK(lines == breaks + (unfinished ? 1 : 0));
    return 0;
}
