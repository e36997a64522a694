// Byte streams like those on a busy bus, made up deterministically for tests and benchmarks.
#pragma once

#include "link/telegram.h"
#include "tests/support/telegrams.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qtr290::test {

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
