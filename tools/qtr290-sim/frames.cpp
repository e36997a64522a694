#include "tools/qtr290-sim/frames.h"

#include <cassert>

namespace qtr290::sim {

std::uint8_t PatternByte(std::uint8_t areaCode, std::uint32_t address)
{
    address %= AreaSize;
    return static_cast<std::uint8_t>((address & 0xFF) ^ ((address >> 8) & 0xFF) ^ areaCode);
}

namespace {

void AppendBlock(Bytes& t, ByteSpan block)
{
    const std::size_t start = t.size();
    t.insert(t.end(), block.begin(), block.end());
    t.push_back(KontrolniSoucet(ByteSpan(t).subspan(start)));
}

void AppendAddress(Bytes& block, std::uint32_t address)
{
    block.push_back(static_cast<std::uint8_t>(address));
    block.push_back(static_cast<std::uint8_t>(address >> 8));
    block.push_back(static_cast<std::uint8_t>(address >> 16));
}

} // namespace

Bytes BuildLong(std::uint8_t to, std::uint8_t from, std::uint8_t device, ByteSpan block)
{
    assert(!block.empty() && block.size() <= 256);
    Bytes t{SyncLong, to, from, device, static_cast<std::uint8_t>(block.size() - 1)};
    t.push_back(KontrolniSoucet(t));
    AppendBlock(t, block);
    return t;
}

Bytes BuildShort(std::uint8_t to, std::uint8_t from, std::uint8_t kind, ByteSpan block)
{
    assert(!block.empty() && block.size() <= 32 && kind < 8);
    Bytes t{SyncShort, to, from, static_cast<std::uint8_t>((kind << 5) | (block.size() - 1))};
    t.push_back(KontrolniSoucet(t));
    AppendBlock(t, block);
    return t;
}

Bytes BuildPoll(bool shortKind, std::uint8_t to, std::uint8_t from, std::uint8_t sequence)
{
    const std::uint8_t block[] = {sequence};
    return shortKind ? BuildShort(to, from, ShortPollKind, block)
                     : BuildLong(to, from, LongPollDevice, block);
}

Bytes BuildReadReply(std::uint8_t to, std::uint8_t from, std::uint8_t area, std::uint32_t address,
                     ByteSpan data)
{
    assert(data.size() <= MaxReplyCount);
    Bytes block{static_cast<std::uint8_t>(data.size())};
    AppendAddress(block, address);
    block.insert(block.end(), data.begin(), data.end());
    block.push_back(CRC8(block));
    return BuildLong(to, from, static_cast<std::uint8_t>((area & 0x70) | ReadReplyFunction), block);
}

Bytes BuildStatusReply(std::uint8_t to, std::uint8_t from, std::uint8_t area, bool write,
                       std::uint8_t count, std::uint32_t address, ReplyStatus status)
{
    Bytes block{count};
    AppendAddress(block, address);
    block.push_back(static_cast<std::uint8_t>(status));
    const auto device =
        static_cast<std::uint8_t>((write ? WriteFlag : 0) | (area & 0x70) | StatusReplyFunction);
    return BuildLong(to, from, device, block);
}

} // namespace qtr290::sim
