#include "link/telegram.h"

namespace qtr290 {

std::uint8_t KontrolniSoucet(ByteSpan bytes)
{
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes)
        sum = static_cast<std::uint8_t>(sum + b);
    return static_cast<std::uint8_t>(0u - sum);
}

std::uint8_t CRC8(ByteSpan bytes, std::uint8_t initial)
{
    std::uint8_t crc = initial;
    for (std::uint8_t d : bytes) {
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = ((crc ^ d) & 0x01) != 0;
            crc = static_cast<std::uint8_t>(crc >> 1);
            if (carry)
                crc ^= 0x8C;
            d = static_cast<std::uint8_t>(d >> 1);
        }
    }
    return crc;
}

bool IsSync(std::uint8_t byte)
{
    return byte == SyncLong || byte == SyncShort;
}

std::optional<TelegramLengths> TelegramLength(ByteSpan start)
{
    if (start.empty())
        return std::nullopt;
    if (start[0] == SyncLong) {
        if (start.size() < 5)
            return std::nullopt;
        return TelegramLengths{LongHeaderLength, std::size_t{start[4]} + 2};
    }
    if (start[0] == SyncShort) {
        if (start.size() < 4)
            return std::nullopt;
        return TelegramLengths{ShortHeaderLength, std::size_t{start[3] & 0x1Fu} + 2};
    }
    return std::nullopt;
}

bool IsPoll(ByteSpan telegram)
{
    if (telegram.size() < 4)
        return false;
    if (telegram[0] == SyncShort)
        return (telegram[3] >> 5) == 4;
    return (telegram[3] & 0x07) == 0;
}

std::uint8_t TelegramTo(ByteSpan telegram)
{
    return telegram.size() > 1 ? telegram[1] : 0;
}

std::uint8_t TelegramFrom(ByteSpan telegram)
{
    return telegram.size() > 2 ? telegram[2] : 0;
}

std::uint8_t RequestDeviceByte(std::uint8_t area, bool write)
{
    return static_cast<std::uint8_t>(area | RequestFunctionBits | (write ? WriteFlag : 0));
}

namespace {

// Sync, To, From, Device, L, header checksum, Count, address (3 bytes, little-endian).
std::vector<std::uint8_t> RequestHead(const RequestTarget& target, bool write, std::uint8_t count,
                                      std::uint8_t blockLength)
{
    std::vector<std::uint8_t> t{SyncLong, target.to, target.from,
                                RequestDeviceByte(target.area, write), blockLength};
    t.push_back(KontrolniSoucet(t));
    t.push_back(count);
    t.push_back(static_cast<std::uint8_t>(target.address));
    t.push_back(static_cast<std::uint8_t>(target.address >> 8));
    t.push_back(static_cast<std::uint8_t>(target.address >> 16));
    return t;
}

ByteSpan BlockFromCount(const std::vector<std::uint8_t>& t)
{
    return ByteSpan(t).subspan(LongHeaderLength);
}

} // namespace

std::vector<std::uint8_t> BuildReadRequest(const RequestTarget& target, std::uint8_t count)
{
    auto t = RequestHead(target, false, count, 3);
    t.push_back(KontrolniSoucet(BlockFromCount(t)));
    return t;
}

std::vector<std::uint8_t> BuildWriteRequest(const RequestTarget& target, ByteSpan data)
{
    if (data.size() > MaxBuildableWriteCount)
        return {};
    const auto count = static_cast<std::uint8_t>(data.size());
    auto t = RequestHead(target, true, count, static_cast<std::uint8_t>(count + 4));
    t.reserve(data.size() + WriteRequestOverhead);
    t.insert(t.end(), data.begin(), data.end());
    t.push_back(CRC8(BlockFromCount(t)));
    t.push_back(KontrolniSoucet(BlockFromCount(t)));
    return t;
}

} // namespace qtr290
