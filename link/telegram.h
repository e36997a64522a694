// Telegrams of the QTR290 device bus: layout, lengths, the poll test, the two
// checksums and the read/write requests the utility builds. Pure C++, no Qt.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace qtr290 {

using ByteSpan = std::span<const std::uint8_t>;

inline constexpr std::uint8_t SyncLong = 0xA6;
inline constexpr std::uint8_t SyncShort = 0xA5;
// Precedes every telegram the utility transmits; not part of the telegram.
inline constexpr std::uint8_t LeadByte = 0xFF;

inline constexpr std::size_t LongHeaderLength = 6;
inline constexpr std::size_t ShortHeaderLength = 5;
inline constexpr std::size_t MinTelegramLength = 7;   // short, L = 0
inline constexpr std::size_t MaxTelegramLength = 263; // long, L = 255

inline constexpr std::uint8_t RequestFunctionBits = 0x0A;
inline constexpr std::uint8_t WriteFlag = 0x80;
inline constexpr std::size_t ReadRequestLength = 11;
inline constexpr std::size_t WriteRequestOverhead = 12; // a write request is Count + 12 bytes
// Largest Count whose block length (Count + 4) still fits the length byte.
inline constexpr std::size_t MaxBuildableWriteCount = 251;
// Largest Count the link queues for a write: the queued request must fit 255 bytes.
inline constexpr int MaxWriteCount = 243;

// Memory-area codes: bits 4 to 6 of the Device byte.
enum class MemoryArea : std::uint8_t {
    RAM290 = 0x00,
    FRAM290 = 0x10,
    RTC290 = 0x20,
    FLASH290 = 0x30,
    ROM290 = 0x40,
    FLROM290 = 0x50,
    RAMBIT290 = 0x60,
};
inline constexpr int MemoryAreaCount = 7;

// The memory areas by name, in code order: the one spelling of every face (the composer's
// items, the queue texts, the command line and batch requests).
struct MemoryAreaEntry {
    std::string_view name;
    std::uint8_t code;
};
inline constexpr std::array<MemoryAreaEntry, MemoryAreaCount> MemoryAreas{{
    {"RAM290", 0x00},
    {"FRAM290", 0x10},
    {"RTC290", 0x20},
    {"FLASH290", 0x30},
    {"ROM290", 0x40},
    {"FLROM290", 0x50},
    {"RAMBIT290", 0x60},
}};

// The area's name, empty for a code outside the table.
constexpr std::string_view MemoryAreaName(std::uint8_t code)
{
    for (const MemoryAreaEntry& area : MemoryAreas)
        if (area.code == code)
            return area.name;
    return {};
}

// Additive checksum: 0 minus the 8-bit sum. Over bytes that include their own
// checksum byte it returns 0 exactly when they are intact.
std::uint8_t KontrolniSoucet(ByteSpan bytes);

// CRC-8/MAXIM (reflected polynomial 0x8C, no final XOR), bit-serial.
std::uint8_t CRC8(ByteSpan bytes, std::uint8_t initial = 0);

bool IsSync(std::uint8_t byte);

struct TelegramLengths {
    std::size_t header = 0; // 6 long, 5 short (checksum byte included)
    std::size_t block = 0;  // L + 2 (block checksum included)
    std::size_t total() const { return header + block; }
};

// Header and block length from the first bytes of a telegram. Needs the sync byte
// and the length field (5 bytes of a long telegram, 4 of a short one); nullopt
// when the first byte is no sync byte or the length field is not there yet.
std::optional<TelegramLengths> TelegramLength(ByteSpan start);

// The poll test of an intact telegram: long, Device bits 0 to 2 all clear;
// short, kind (bits 5 to 7 of offset 3) equal to 4. False for anything too short.
bool IsPoll(ByteSpan telegram);

std::uint8_t TelegramTo(ByteSpan telegram);   // offset 1; 0 when absent
std::uint8_t TelegramFrom(ByteSpan telegram); // offset 2; 0 when absent

struct RequestTarget {
    std::uint8_t from = 0xF0;
    std::uint8_t to = 0x00;
    std::uint8_t area = 0;     // memory-area code (0x00 .. 0x60)
    std::uint32_t address = 0; // low 24 bits used
};

std::uint8_t RequestDeviceByte(std::uint8_t area, bool write);

// A read request of Count bytes: always 11 bytes.
std::vector<std::uint8_t> BuildReadRequest(const RequestTarget& target, std::uint8_t count);

// A write request carrying `data` (Count = data.size()): Count + 12 bytes.
// Returns an empty vector when Count exceeds MaxBuildableWriteCount.
std::vector<std::uint8_t> BuildWriteRequest(const RequestTarget& target, ByteSpan data);

} // namespace qtr290
