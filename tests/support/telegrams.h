// Telegrams for tests: the worked examples and builders of telegrams with both checksums.
#pragma once

#include "link/telegram.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace qtr290::test {

using Bytes = std::vector<std::uint8_t>;

// The worked read request: one byte of RAM290 at 0x000157, from 0xF0 to 0x00 (not a poll).
inline const Bytes ReadRequest = {0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5D, 0x01, 0x57, 0x01, 0x00, 0xA7};
// The worked write request: 12 34 into FRAM290 at 0x000157, from 0xF0 to 0x00.
inline const Bytes WriteRequest = {0xA6, 0x00, 0xF0, 0x9A, 0x06, 0xCA, 0x02,
                                   0x57, 0x01, 0x00, 0x12, 0x34, 0x87, 0xD9};

// A long poll of station 0xF0 by the master 0x01, sequence number 1.
inline const Bytes Poll = {0xA6, 0xF0, 0x01, 0x00, 0x00, 0x69, 0x01, 0xFF};

// The bytes followed by their additive checksum.
inline Bytes WithChecksum(Bytes bytes)
{
    bytes.push_back(KontrolniSoucet(bytes));
    return bytes;
}

// A long telegram with both checksums; `block` is the block without its checksum.
inline Bytes LongTelegram(std::uint8_t to, std::uint8_t from, std::uint8_t device,
                          const Bytes& block)
{
    Bytes t =
        WithChecksum({SyncLong, to, from, device, static_cast<std::uint8_t>(block.size() - 1)});
    t.insert(t.end(), block.begin(), block.end());
    t.push_back(KontrolniSoucet(block));
    return t;
}

// A short telegram of the given kind (0 to 7); `block` without its checksum, 1 to 32 bytes.
inline Bytes ShortTelegram(std::uint8_t to, std::uint8_t from, std::uint8_t kind,
                           const Bytes& block)
{
    Bytes t = WithChecksum(
        {SyncShort, to, from, static_cast<std::uint8_t>((kind << 5) | (block.size() - 1))});
    t.insert(t.end(), block.begin(), block.end());
    t.push_back(KontrolniSoucet(block));
    return t;
}

// A short poll (kind 4, one data byte 00) of the station from the master 0x01.
inline Bytes ShortPoll(std::uint8_t to)
{
    return ShortTelegram(to, 0x01, 4, {0x00});
}

// The parts one after another, as one stream.
inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

} // namespace qtr290::test
