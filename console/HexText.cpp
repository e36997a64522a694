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

} // namespace qtr290
