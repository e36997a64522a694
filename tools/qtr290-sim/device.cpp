#include "tools/qtr290-sim/device.h"

#include <algorithm>

namespace qtr290::sim {

SimDevice::SimDevice(std::uint8_t address) : FAddress(address)
{
    for (std::size_t i = 0; i < FAreas.size(); ++i) {
        auto& area = FAreas[i];
        area.resize(AreaSize);
        for (std::uint32_t a = 0; a < AreaSize; ++a)
            area[a] = PatternByte(static_cast<std::uint8_t>(i << 4), a);
    }
}

DeviceAnswer SimDevice::Handle(ByteSpan telegram)
{
    DeviceAnswer answer;
    if (telegram.size() < MinTelegramLength + 1 || telegram[0] != SyncLong ||
        TelegramTo(telegram) != FAddress || (telegram[3] & 0x0F) != RequestFunctionBits)
        return answer;

    const std::uint8_t requester = TelegramFrom(telegram);
    const bool write = (telegram[3] & WriteFlag) != 0;
    const auto area = static_cast<std::uint8_t>(telegram[3] & 0x70);
    const std::size_t blockLength = telegram[4];
    // The block without its checksum; the framer has already checked the telegram's length.
    const ByteSpan block = telegram.subspan(LongHeaderLength, blockLength + 1);

    std::uint8_t field[4] = {};
    std::copy_n(block.begin(), std::min<std::size_t>(4, block.size()), field);
    const std::uint8_t count = field[0];
    const std::uint32_t address = field[1] | (field[2] << 8) | (std::uint32_t{field[3]} << 16);

    auto reject = [&](ReplyStatus status) {
        answer.outcome = DeviceOutcome::Rejected;
        answer.status = status;
        answer.reply = BuildStatusReply(requester, FAddress, area, write, count, address, status);
        return answer;
    };

    const bool wellFormed = write ? blockLength == std::size_t{count} + 4 : blockLength == 3;
    if (!wellFormed)
        return reject(ReplyStatus::Malformed);
    const std::size_t index = area >> 4;
    if (index >= FAreas.size())
        return reject(ReplyStatus::UnknownArea);
    Bytes& memory = FAreas[index];

    if (!write) {
        const std::size_t n = std::min<std::size_t>(count, MaxReplyCount);
        Bytes data(n);
        for (std::size_t i = 0; i < n; ++i)
            data[i] = memory[(address + i) % AreaSize];
        answer.outcome = DeviceOutcome::ReadAnswered;
        answer.reply = BuildReadReply(requester, FAddress, area, address, data);
        return answer;
    }

    // The CRC8 covers Count, the address and the data; it follows the data.
    if (CRC8(block.first(std::size_t{count} + 4)) != block[std::size_t{count} + 4])
        return reject(ReplyStatus::Crc8Mismatch);
    for (std::size_t i = 0; i < count; ++i)
        memory[(address + i) % AreaSize] = block[4 + i];
    answer.outcome = DeviceOutcome::WriteApplied;
    answer.reply =
        BuildStatusReply(requester, FAddress, area, true, count, address, ReplyStatus::Applied);
    return answer;
}

} // namespace qtr290::sim
