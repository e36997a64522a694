// Byte streams like those on a busy bus, made up deterministically for tests and benchmarks.
#pragma once

#include "telegram.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qtr290::test {

using Bytes = std::vector<std::uint8_t>;

// A long telegram with both checksums; `block` is the block without its checksum.
Bytes LongTelegram(std::uint8_t to, std::uint8_t from, std::uint8_t device, ByteSpan block);
// A short telegram of the given kind (0 to 7); `block` without its checksum, 1 to 32 bytes.
Bytes ShortTelegram(std::uint8_t to, std::uint8_t from, std::uint8_t kind, ByteSpan block);

// Whole and of the length its header states, with both checksums right.
bool Intact(ByteSpan telegram);

struct MixedStream {
    Bytes bytes;
    std::size_t intact = 0; // telegrams put in whole (polls included)
    std::size_t polls = 0;
    std::size_t damaged = 0; // telegrams with a damaged header or block
    std::size_t noise = 0;   // noise bytes
};

// At least `minBytes` of traffic: long and short polls; read and write requests after the
// lead byte 0xFF; read replies and status replies; short telegrams that are no polls;
// telegrams with a damaged header or block; bursts of noise without sync bytes.
MixedStream MakeMixedStream(std::size_t minBytes, std::uint32_t seed = 1);

} // namespace qtr290::test
