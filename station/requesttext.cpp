#include "station/requesttext.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace qtr290 {

namespace {

constexpr double LongestWaitSeconds = 86400;

std::string Upper(std::string_view text)
{
    std::string s(text);
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string_view WithoutHexPrefix(std::string_view text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    return text;
}

} // namespace

std::optional<std::uint32_t> ParseHex(std::string_view text, std::uint32_t limit)
{
    text = WithoutHexPrefix(text);
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size() || value > limit)
        return std::nullopt;
    return value;
}

std::optional<unsigned long> ParseDecimal(std::string_view text, unsigned long limit)
{
    unsigned long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > limit)
        return std::nullopt;
    return value;
}

namespace {

std::string Quoted(std::string_view name, std::string_view value)
{
    return std::string(name) + " '" + std::string(value) + "'";
}

} // namespace

std::string AreaName(std::uint8_t code)
{
    return std::string(MemoryAreaName(code));
}

std::optional<std::uint8_t> ParseArea(std::string_view text, std::string& why)
{
    const std::string upper = Upper(text);
    for (const MemoryAreaEntry& area : MemoryAreas)
        if (upper == area.name)
            return area.code;
    if (const auto code = ParseHex(text, 0xFF); code && !AreaName(*code).empty())
        return static_cast<std::uint8_t>(*code);
    why = Quoted("AREA", text) +
          ": not a memory area (RAM290, FRAM290, RTC290, FLASH290, ROM290, FLROM290, "
          "RAMBIT290 or a code 0x00, 0x10 ... 0x60)";
    return std::nullopt;
}

std::optional<std::uint32_t> ParseAddress(std::string_view text, std::string& why)
{
    if (const auto value = ParseHex(text, 0xFFFFFF))
        return value;
    why = Quoted("ADDRESS", text) + ": not a hexadecimal address of at most 24 bits (0 to FFFFFF)";
    return std::nullopt;
}

std::optional<std::uint8_t> ParseReadCount(std::string_view text, std::string& why)
{
    if (const auto value = ParseDecimal(text, 255))
        return static_cast<std::uint8_t>(*value);
    why = Quoted("COUNT", text) + ": not a decimal number from 0 to 255";
    return std::nullopt;
}

std::optional<std::uint8_t> ParseStation(std::string_view text, std::string& why)
{
    if (const auto value = ParseHex(text, 0xFF))
        return static_cast<std::uint8_t>(*value);
    why = "'" + std::string(text) + "': not a hexadecimal station address from 00 to FF";
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ParseData(std::string_view text, std::string& why)
{
    std::vector<std::uint8_t> bytes;
    std::size_t start = 0;
    while (start < text.size()) {
        // Each group between spaces is whole bytes: "1 2" is no byte 0x12.
        const std::size_t end = std::min(text.find(' ', start), text.size());
        const std::string_view group = text.substr(start, end - start);
        start = end + 1;
        for (const char c : group) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                why = Quoted("BYTE", text) + ": not hexadecimal";
                return std::nullopt;
            }
        }
        if (group.size() % 2 != 0) {
            why = Quoted("BYTE", text) + ": '" + std::string(group) +
                  "' has an odd number of hex digits (" + std::to_string(group.size()) +
                  "); every byte takes two";
            return std::nullopt;
        }
        for (std::size_t i = 0; i < group.size(); i += 2)
            bytes.push_back(static_cast<std::uint8_t>(*ParseHex(group.substr(i, 2), 0xFF)));
    }
    if (bytes.empty()) {
        why = "BYTE: no data bytes to write";
        return std::nullopt;
    }
    if (bytes.size() > static_cast<std::size_t>(MaxWriteCount)) {
        why = "BYTE: " + std::to_string(bytes.size()) + " bytes; a write carries at most " +
              std::to_string(MaxWriteCount);
        return std::nullopt;
    }
    return bytes;
}

std::optional<double> ParseSeconds(std::string_view text, std::string& why)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (!text.empty() && ec == std::errc() && end == text.data() + text.size() &&
        std::isfinite(value) && value > 0 && value <= LongestWaitSeconds)
        return value;
    why = "'" + std::string(text) + "': not a number of seconds above 0 (at most 86400)";
    return std::nullopt;
}

} // namespace qtr290
