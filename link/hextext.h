// Hexadecimal text of the traffic display, the capture file and the composer's fields.
#pragma once

#include "telegram.h"

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

// The displayed telegram text: "XX " per byte, CR LF after every byte whose 1-based
// position is a multiple of bytesPerLine. A bytesPerLine of 0 or below means no line
// breaks: the operator's 0 reads as "no limit", and the text stays one line per telegram.
std::string TelegramText(ByteSpan bytes, int bytesPerLine);

// "XX " per byte without line breaks: a chunk in a capture line.
std::string ChunkText(ByteSpan bytes);

} // namespace qtr290
