// Cuts checked telegrams out of the received byte stream.
#pragma once

#include "link/telegram.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace qtr290 {

enum class FramerError { HeaderChecksum, BlockChecksum };

// The operator's lines for the two damage kinds: "Vadne CRC hlavicky", "Vadne CRC dat".
std::string_view FramerErrorText(FramerError error);

struct FramerHandlers {
    // Each intact telegram, whole (7 to 263 bytes); valid during the call only.
    std::function<void(ByteSpan telegram)> onTelegram;
    std::function<void(FramerError error)> onError;
    // Optional: every byte the framer deletes without handing it on in a telegram, in
    // stream order, before the report of the same step. Bytes before a sync byte (or all but
    // the last when there is none) come as one span; after onError, the sync byte at which
    // the damaged telegram began comes alone. With onTelegram it accounts for every byte.
    // (Its initialiser keeps two-handler braces free of missing-initialiser warnings.)
    std::function<void(ByteSpan discarded)> onDiscard = nullptr;
};

// Frames the accumulator: removes every intact or damaged telegram it can decide on,
// reporting each, and leaves what still has to wait for more bytes. After a pass the
// accumulator is shorter than 7 bytes, or a single byte (no sync found), or holds a sync
// byte with an intact header whose telegram is incomplete; the bytes before that sync
// byte stay until the telegram completes or proves damaged.
void ZpracujPrijem(std::vector<std::uint8_t>& accumulator, const FramerHandlers& handlers);

} // namespace qtr290
