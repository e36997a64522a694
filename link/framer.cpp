#include "link/framer.h"

#include <algorithm>

namespace qtr290 {

std::string_view FramerErrorText(FramerError error)
{
    return error == FramerError::HeaderChecksum ? "Vadne CRC hlavicky" : "Vadne CRC dat";
}

namespace {

void DropFront(std::vector<std::uint8_t>& buf, std::size_t count)
{
    buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(std::min(count, buf.size())));
}

// Reports the bytes [begin, end) of the accumulator as discarded, if anyone listens.
void Discarded(const FramerHandlers& handlers, const std::vector<std::uint8_t>& buf,
               std::size_t begin, std::size_t end)
{
    if (handlers.onDiscard && end > begin)
        handlers.onDiscard(ByteSpan(buf.data() + begin, end - begin));
}

} // namespace

void ZpracujPrijem(std::vector<std::uint8_t>& accumulator, const FramerHandlers& handlers)
{
    // The telegram is copied out before it is handed on: a handler may append to the
    // accumulator or transmit, and the whole telegram (up to 263 bytes) must stay intact.
    std::array<std::uint8_t, MaxTelegramLength> frame{};

    while (accumulator.size() >= MinTelegramLength) {
        // The last byte is never tested but stays in the accumulator.
        const auto last = accumulator.end() - 1;
        const auto sync = std::find_if(accumulator.begin(), last, IsSync);
        const std::size_t pos = static_cast<std::size_t>(sync - accumulator.begin());

        if (accumulator.size() - pos < 6) {
            Discarded(handlers, accumulator, 0, pos);
            DropFront(accumulator, pos);
            return;
        }

        const ByteSpan from(accumulator.data() + pos, accumulator.size() - pos);
        const auto lengths = TelegramLength(from);
        if (!lengths)
            return; // unreachable: a sync byte with at least six bytes always has a length
        if (KontrolniSoucet(from.first(lengths->header)) != 0) {
            Discarded(handlers, accumulator, 0, pos);
            if (handlers.onError)
                handlers.onError(FramerError::HeaderChecksum);
            Discarded(handlers, accumulator, pos, pos + 1);
            DropFront(accumulator, pos + 1);
            continue;
        }
        if (from.size() < lengths->total())
            return;
        if (KontrolniSoucet(from.subspan(lengths->header, lengths->block)) != 0) {
            Discarded(handlers, accumulator, 0, pos);
            if (handlers.onError)
                handlers.onError(FramerError::BlockChecksum);
            Discarded(handlers, accumulator, pos, pos + 1);
            DropFront(accumulator, pos + 1);
            continue;
        }

        const std::size_t length = lengths->total();
        std::copy_n(from.begin(), length, frame.begin());
        Discarded(handlers, accumulator, 0, pos);
        DropFront(accumulator, pos + length);
        if (handlers.onTelegram)
            handlers.onTelegram(ByteSpan(frame.data(), length));
    }
}

} // namespace qtr290
