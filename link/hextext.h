// Hexadecimal text of the traffic display, the capture file and the composer's fields.
#pragma once

#include "link/telegram.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace qtr290 {

namespace detail {
inline constexpr char HexDigits[] = "0123456789ABCDEF";
} // namespace detail

// Writes "XX " per byte from `out` on (three characters a byte); returns the end. For the
// hot paths that fill a buffer sized beforehand.
template <class Char> Char* WriteHexBytes(Char* out, ByteSpan bytes)
{
    for (const std::uint8_t b : bytes) {
        *out++ = static_cast<Char>(detail::HexDigits[b >> 4]);
        *out++ = static_cast<Char>(detail::HexDigits[b & 0x0F]);
        *out++ = static_cast<Char>(' ');
    }
    return out;
}

// The value of a hex digit of either case; -1 for any other character.
constexpr int HexDigitValue(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return int(c - U'0');
    if (c >= U'A' && c <= U'F')
        return int(c - U'A') + 10;
    if (c >= U'a' && c <= U'f')
        return int(c - U'a') + 10;
    return -1;
}

// Two upper-case hex digits.
std::string HexByte(std::uint8_t value);

// Upper-case hex, at least two digits ("0A", "FF", "100"): the composer's fields.
std::string HexNumber(unsigned value);

// The lines of a displayed telegram: `line` gets the bytes of each in turn, a new line after
// every byte whose 1-based position is a multiple of bytesPerLine, so bytes that fill their
// last line leave an empty line after it. A bytesPerLine of 0 or below means no line breaks:
// the operator's 0 reads as "no limit", and the telegram stays one line.
template <class Line> void ForEachTelegramLine(ByteSpan bytes, int bytesPerLine, Line&& line)
{
    if (bytesPerLine <= 0) {
        line(bytes);
        return;
    }
    const auto perLine = static_cast<std::size_t>(bytesPerLine);
    for (std::size_t at = 0;; at += perLine) {
        const std::size_t count = std::min(perLine, bytes.size() - at);
        line(bytes.subspan(at, count));
        if (count < perLine)
            return;
    }
}

// The displayed telegram text: "XX " per byte, its lines joined by CR LF.
std::string TelegramText(ByteSpan bytes, int bytesPerLine);

// "XX " per byte without line breaks: a chunk in a capture line.
std::string ChunkText(ByteSpan bytes);

} // namespace qtr290
