// Fuzz target for the framer. The input is a chunk plan followed by the received stream:
//   byte 0      k = byte & 7, the number of plan bytes that follow
//   k bytes     chunk sizes, used in turn (0 is an empty chunk); none, or all zero: one
//               byte at a time
//   the rest    the bytes as they came off the line
// The stream is framed twice (padded, see below), in one piece and in the planned chunks.
// Checked on every input: each telegram handed on is intact, as long as its header says,
// and lies in the stream after the one before; after every pass the accumulator holds only
// what still waits for bytes and is the tail of what was delivered; both framings report
// the same, and that is what a plain scan of the stream finds.
#include "fuzz/fuzz_check.h"
#include "link/framer.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

namespace {

using namespace qtr290;
using Bytes = std::vector<std::uint8_t>;
using Event = std::variant<Bytes, FramerError>;

void CheckTelegram(ByteSpan t)
{
    FUZZ_CHECK(t.size() >= MinTelegramLength && t.size() <= MaxTelegramLength);
    const auto lengths = TelegramLength(t);
    FUZZ_CHECK(lengths.has_value());
    FUZZ_CHECK(lengths->total() == t.size());
    FUZZ_CHECK(KontrolniSoucet(t.first(lengths->header)) == 0);
    FUZZ_CHECK(KontrolniSoucet(t.subspan(lengths->header)) == 0);
}

// What the framer leaves behind may only be waiting for more bytes: fewer than seven
// bytes, a single byte, or a telegram whose header is intact and whose block is not
// complete yet, with the sync-free bytes before it that go when it completes.
void CheckAccumulator(const Bytes& acc, ByteSpan delivered)
{
    FUZZ_CHECK(acc.size() <= delivered.size());
    FUZZ_CHECK(std::equal(acc.begin(), acc.end(),
                          delivered.end() - static_cast<std::ptrdiff_t>(acc.size())));
    if (acc.size() < MinTelegramLength || acc.size() == 1)
        return;
    const auto sync = std::find_if(acc.begin(), acc.end() - 1, IsSync);
    FUZZ_CHECK(sync != acc.end() - 1);
    const ByteSpan waiting(&*sync, static_cast<std::size_t>(acc.end() - sync));
    const auto lengths = TelegramLength(waiting);
    FUZZ_CHECK(lengths.has_value());
    FUZZ_CHECK(waiting.size() >= lengths->header);
    FUZZ_CHECK(KontrolniSoucet(waiting.first(lengths->header)) == 0);
    FUZZ_CHECK(lengths->total() > waiting.size());
}

// Delivers the stream in chunks of chunkSize(0), chunkSize(1), ... bytes, framing after each.
template <typename ChunkSize> std::vector<Event> Frame(ByteSpan stream, ChunkSize chunkSize)
{
    std::vector<Event> events;
    std::size_t cursor = 0; // where the next telegram may start in the stream
    const FramerHandlers handlers{
        [&](ByteSpan t) {
            CheckTelegram(t);
            const auto found = std::search(stream.begin() + static_cast<std::ptrdiff_t>(cursor),
                                           stream.end(), t.begin(), t.end());
            FUZZ_CHECK(found != stream.end());
            cursor = static_cast<std::size_t>(found - stream.begin()) + t.size();
            events.emplace_back(Bytes(t.begin(), t.end()));
        },
        [&](FramerError e) { events.emplace_back(e); },
    };

    Bytes acc;
    std::size_t done = 0;
    std::size_t step = 0;
    while (done < stream.size()) {
        const std::size_t n = std::min<std::size_t>(chunkSize(step++), stream.size() - done);
        acc.insert(acc.end(), stream.begin() + static_cast<std::ptrdiff_t>(done),
                   stream.begin() + static_cast<std::ptrdiff_t>(done + n));
        done += n;
        ZpracujPrijem(acc, handlers);
        CheckAccumulator(acc, stream.first(done));
    }
    // Each damage report costs the stream at least its sync byte.
    FUZZ_CHECK(events.size() <= stream.size());
    return events;
}

// The rule the framer follows, written as a plain scan over the whole stream: at each sync
// byte a telegram whose header and block check out is taken whole, any other sync byte is
// reported and skipped. Only valid where every sync byte has a full telegram's length of
// bytes after it.
std::vector<Event> Reference(ByteSpan stream)
{
    std::vector<Event> events;
    std::size_t i = 0;
    while (i + MaxTelegramLength <= stream.size()) {
        if (!IsSync(stream[i])) {
            ++i;
            continue;
        }
        const ByteSpan from = stream.subspan(i);
        const auto lengths = TelegramLength(from);
        FUZZ_CHECK(lengths.has_value());
        if (KontrolniSoucet(from.first(lengths->header)) != 0) {
            events.emplace_back(FramerError::HeaderChecksum);
            ++i;
        } else if (KontrolniSoucet(from.subspan(lengths->header, lengths->block)) != 0) {
            events.emplace_back(FramerError::BlockChecksum);
            ++i;
        } else {
            events.emplace_back(
                Bytes(from.begin(), from.begin() + static_cast<std::ptrdiff_t>(lengths->total())));
            i += lengths->total();
        }
    }
    return events;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t k = std::min<std::size_t>(data[0] & 0x07, size - 1);
    const ByteSpan plan(data + 1, k);
    // The framer decides nothing on fewer than seven bytes, so the two deliveries may stop
    // short of different points. Non-sync padding longer than any telegram makes both
    // decide on every sync byte in the stream; padding alone frames nothing.
    Bytes stream(data + 1 + k, data + size);
    stream.resize(stream.size() + MaxTelegramLength + MinTelegramLength, 0x00);

    const bool planUsable =
        std::any_of(plan.begin(), plan.end(), [](std::uint8_t b) { return b != 0; });
    const auto inOnePiece = Frame(stream, [&](std::size_t) { return stream.size(); });
    const auto inChunks = Frame(stream, [&](std::size_t step) -> std::size_t {
        return planUsable ? plan[step % plan.size()] : 1;
    });
    FUZZ_CHECK(inOnePiece == inChunks);
    FUZZ_CHECK(inOnePiece == Reference(stream));
    return 0;
}
