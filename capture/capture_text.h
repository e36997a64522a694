// Reading the capture file "incoming.txt": one line per received chunk,
// "DDMMYYYY hh:mm:ss:zzz>" followed by two hexadecimal digits and a blank per byte, or
// the same time stamp followed by "Cteni dat" when a request was queued. Lines end in CR LF.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qtr290::capture {

struct CaptureLine {
    enum class Kind { Chunk, Queued };
    Kind kind = Kind::Chunk;
    std::int64_t timeUs = 0; // the local time stamp, as microseconds since 1970-01-01 UTC
    std::vector<std::uint8_t> bytes;
};

struct CaptureLineResult {
    std::optional<CaptureLine> line;
    std::string error; // what was expected where, when line is empty
};

// One line without its line break.
CaptureLineResult ParseCaptureLine(std::string_view text);

// Microseconds since the epoch of a local date and time (the machine's time zone);
// nullopt for a date or time that does not exist.
std::optional<std::int64_t> LocalTimeUs(int year, int month, int day, int hour, int minute,
                                        int second, int millisecond);

// Splits a stream into lines ending in CR LF (a bare LF is taken too). A line longer than
// MaxLineLength is not kept: Next reports it with `tooLong` and goes on after it.
class LineReader {
public:
    static constexpr std::size_t MaxLineLength = 1 << 20;

    explicit LineReader(std::istream& in) : FIn(in) {}

    // False at the end of the input or at a read error. A last line without a line break
    // still counts.
    bool Next(std::string& line, bool& tooLong);
    std::uint64_t LineNumber() const { return FLineNumber; }
    // Why the input could not be read ("Is a directory"); empty when it could.
    const std::string& ReadError() const { return FReadError; }

private:
    bool ReadLine(std::string& line, std::size_t& length);

    std::istream& FIn;
    std::uint64_t FLineNumber = 0;
    std::string FReadError;
};

} // namespace qtr290::capture
