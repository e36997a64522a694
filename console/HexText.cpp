#include "HexText.h"

#include <cstdio>

namespace qtr290 {

namespace {

constexpr char Digits[] = "0123456789ABCDEF";

void AppendByte(std::string& text, std::uint8_t value)
{
    text += Digits[value >> 4];
    text += Digits[value & 0x0F];
    text += ' ';
}

// Only a to z are folded, as the original's UpperCase did: no Unicode case mapping
// may turn some other character into a hex digit.
char16_t AsciiUpper(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool MatchesFilter(std::uint8_t value, QStringView filterText)
{
    const std::string hex = HexByte(value);
    if (filterText.size() != static_cast<qsizetype>(hex.size()))
        return false;
    for (qsizetype i = 0; i < filterText.size(); ++i) {
        if (AsciiUpper(filterText[i].unicode()) != static_cast<char16_t>(hex[i]))
            return false;
    }
    return true;
}

} // namespace

std::string HexByte(std::uint8_t value)
{
    return {Digits[value >> 4], Digits[value & 0x0F]};
}

std::string HexNumber(unsigned value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.2X", value);
    return buffer;
}

std::string TelegramText(ByteSpan bytes, int bytesPerLine)
{
    std::string text;
    text.reserve(bytes.size() * 3 + (bytesPerLine > 0 ? bytes.size() / bytesPerLine * 2 : 0));
    std::size_t position = 0;
    for (std::uint8_t b : bytes) {
        AppendByte(text, b);
        ++position;
        if (bytesPerLine > 0 && position % static_cast<std::size_t>(bytesPerLine) == 0)
            text += "\r\n";
    }
    return text;
}

std::string ChunkText(ByteSpan bytes)
{
    return TelegramText(bytes, 0);
}

bool ZobrazitTLG(std::uint8_t to, std::uint8_t from, bool isPoll, const DisplayFilter& filter)
{
    if (!filter.showReceived)
        return false;
    if (filter.filterOn) {
        if (!MatchesFilter(from, filter.filterFrom))
            return false;
        if (!MatchesFilter(to, filter.filterTo))
            return false;
    }
    if (filter.hidePolls && isPoll)
        return false;
    return true;
}

} // namespace qtr290
