#include "hextext.h"

#include <algorithm>
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
    if (bytesPerLine <= 0)
        return ChunkText(bytes);
    const auto perLine = static_cast<std::size_t>(bytesPerLine);
    std::string text(bytes.size() * 3 + bytes.size() / perLine * 2, '\0');
    char* out = text.data();
    for (std::size_t at = 0; at < bytes.size(); at += perLine) {
        const std::size_t count = std::min(perLine, bytes.size() - at);
        out = WriteHexBytes(out, bytes.subspan(at, count));
        if (count == perLine) {
            *out++ = '\r';
            *out++ = '\n';
        }
    }
    return text;
}

std::string ChunkText(ByteSpan bytes)
{
    std::string text(bytes.size() * 3, '\0');
    WriteHexBytes(text.data(), bytes);
    return text;
}

} // namespace qtr290
