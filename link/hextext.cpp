#include "link/hextext.h"

#include <cstdio>

namespace qtr290 {

std::string HexByte(std::uint8_t value)
{
    return {detail::HexDigits[value >> 4], detail::HexDigits[value & 0x0F]};
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
    bool first = true;
    ForEachTelegramLine(bytes, bytesPerLine, [&](ByteSpan line) {
        if (!first)
            text += "\r\n";
        first = false;
        const std::size_t at = text.size();
        text.resize(at + line.size() * 3);
        WriteHexBytes(text.data() + at, line);
    });
    return text;
}

std::string ChunkText(ByteSpan bytes)
{
    std::string text(bytes.size() * 3, '\0');
    WriteHexBytes(text.data(), bytes);
    return text;
}

} // namespace qtr290
