// Telegrams the simulator puts on the bus: polls, the device's replies, generic frames.
// The reply layouts are the simulator's own choice; the utility only has to frame them.
#pragma once

#include "link/telegram.h"

#include <cstdint>
#include <vector>

namespace qtr290::sim {

using Bytes = std::vector<std::uint8_t>;

// Each memory area holds 64 KiB; addresses are taken modulo this size.
inline constexpr std::uint32_t AreaSize = 0x10000;
// Function bits (Device bits 0 to 3) of the two reply kinds; neither is a poll.
inline constexpr std::uint8_t ReadReplyFunction = 0x0B;
inline constexpr std::uint8_t StatusReplyFunction = 0x0C;
inline constexpr std::uint8_t LongPollDevice = 0x00;
inline constexpr std::uint8_t ShortPollKind = 4;
// The most data a read reply carries: its block length (Count + 4) must fit one byte.
inline constexpr std::size_t MaxReplyCount = 251;

enum class ReplyStatus : std::uint8_t {
    Applied = 0x00,
    Crc8Mismatch = 0x01,
    UnknownArea = 0x02,
    Malformed = 0x03,
};

// The device's memory at start: low address byte XOR middle address byte XOR area code.
std::uint8_t PatternByte(std::uint8_t areaCode, std::uint32_t address);

// A long telegram; `block` is the block without its checksum (1 to 256 bytes).
Bytes BuildLong(std::uint8_t to, std::uint8_t from, std::uint8_t device, ByteSpan block);
// A short telegram of the given kind (0 to 7); `block` without its checksum (1 to 32 bytes).
Bytes BuildShort(std::uint8_t to, std::uint8_t from, std::uint8_t kind, ByteSpan block);

// A poll carries one block byte, the poll's sequence number modulo 256.
Bytes BuildPoll(bool shortKind, std::uint8_t to, std::uint8_t from, std::uint8_t sequence);

// Read reply: Device = area | 0x0B; block Count, address (3 bytes), data, CRC8 over
// Count..data, block checksum. Count is data.size() (at most MaxReplyCount).
Bytes BuildReadReply(std::uint8_t to, std::uint8_t from, std::uint8_t area, std::uint32_t address,
                     ByteSpan data);

// Status reply: Device = (0x80 for writes) | area | 0x0C; block Count, address (3 bytes),
// status, block checksum.
Bytes BuildStatusReply(std::uint8_t to, std::uint8_t from, std::uint8_t area, bool write,
                       std::uint8_t count, std::uint32_t address, ReplyStatus status);

} // namespace qtr290::sim
