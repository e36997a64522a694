// Hexadecimal text of the traffic display, the capture file and the composer's fields.
#pragma once

#include "telegram.h"

#include <cstdint>
#include <string>

namespace qtr290 {

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
