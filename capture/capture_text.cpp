#include "capture/capture_text.h"

#include "link/hextext.h"

#include <cerrno>
#include <cstring>
#include <ios>

#include <ctime>

namespace qtr290::capture {

namespace {

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value)
{
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

std::string Column(std::size_t index)
{
    return "column " + std::to_string(index + 1);
}

constexpr std::string_view StampLayout = "DDMMYYYY hh:mm:ss:zzz>";
constexpr std::string_view QueuedText = "Cteni dat";

} // namespace

std::optional<std::int64_t> LocalTimeUs(int year, int month, int day, int hour, int minute,
                                        int second, int millisecond)
{
    static constexpr int DaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1970 || month < 1 || month > 12 || day < 1 ||
        day > DaysIn[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 || minute > 59 ||
        second > 59 || millisecond > 999)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1; // the zone's own rule for that date
    const std::time_t seconds = std::mktime(&tm);
    if (seconds == static_cast<std::time_t>(-1))
        return std::nullopt;
    return static_cast<std::int64_t>(seconds) * 1000000 + millisecond * 1000;
}

CaptureLineResult ParseCaptureLine(std::string_view text)
{
    CaptureLineResult result;
    // DDMMYYYY hh:mm:ss:zzz>
    static constexpr std::size_t Fields[][2] = {{0, 2},  {2, 2},  {4, 4}, {9, 2},
                                                {12, 2}, {15, 2}, {18, 3}};
    int value[7] = {};
    for (std::size_t i = 0; i < 7; ++i) {
        if (!Digits(text, Fields[i][0], Fields[i][1], value[i])) {
            result.error = Column(Fields[i][0]) + ": expected the time stamp \"" +
                           std::string(StampLayout) + "\"";
            return result;
        }
    }
    for (const std::size_t at :
         {std::size_t{8}, std::size_t{11}, std::size_t{14}, std::size_t{17}, std::size_t{21}}) {
        const char expected = StampLayout[at];
        if (at >= text.size() || text[at] != expected) {
            result.error = Column(at) + ": expected '" + std::string(1, expected) +
                           "' of the time stamp \"" + std::string(StampLayout) + "\"";
            return result;
        }
    }
    const auto time =
        LocalTimeUs(value[2], value[1], value[0], value[3], value[4], value[5], value[6]);
    if (!time) {
        result.error = "column 1: the time stamp \"" + std::string(text.substr(0, 21)) +
                       "\" is no valid date and time";
        return result;
    }

    CaptureLine line;
    line.timeUs = *time;
    const std::string_view rest = text.substr(StampLayout.size());
    if (rest == QueuedText) {
        line.kind = CaptureLine::Kind::Queued;
        result.line = std::move(line);
        return result;
    }
    line.bytes.reserve(rest.size() / 3 + 1);
    for (std::size_t i = 0; i < rest.size(); i += 3) {
        const int high = HexDigitValue(rest[i]);
        const int low = i + 1 < rest.size() ? HexDigitValue(rest[i + 1]) : -1;
        const bool blank = i + 2 >= rest.size() || rest[i + 2] == ' ';
        if (high < 0 || low < 0 || !blank) {
            result.error = Column(StampLayout.size() + i) +
                           ": expected two hexadecimal digits and a blank per byte, or \"" +
                           std::string(QueuedText) + "\"";
            return result;
        }
        line.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    result.line = std::move(line);
    return result;
}

bool LineReader::ReadLine(std::string& line, std::size_t& length)
{
    bool any = false;
    std::streambuf* in = FIn.rdbuf();
    if (!in)
        return false;
    using Traits = std::char_traits<char>;
    for (Traits::int_type c = in->sbumpc(); c != Traits::eof(); c = in->sbumpc()) {
        any = true;
        if (c == '\n')
            break;
        ++length;
        if (length <= MaxLineLength)
            line.push_back(Traits::to_char_type(c));
    }
    return any;
}

bool LineReader::Next(std::string& line, bool& tooLong)
{
    line.clear();
    tooLong = false;
    std::size_t length = 0;
    if (!FReadError.empty())
        return false;
    try {
        if (!ReadLine(line, length))
            return false;
    } catch (const std::ios_base::failure&) {
        // A file stream's buffer throws on a failed read (a directory, an I/O error).
        const int error = errno;
        FReadError = error ? std::strerror(error) : "input/output error";
        line.clear();
        return false;
    }
    ++FLineNumber;
    if (!line.empty() && line.back() == '\r' && length <= MaxLineLength)
        line.pop_back();
    if (length > MaxLineLength) {
        tooLong = true;
        line.clear();
    }
    return true;
}

} // namespace qtr290::capture
