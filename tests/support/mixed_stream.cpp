#include "tests/support/mixed_stream.h"

#include <random>

namespace qtr290::test {

namespace {

class Maker {
public:
    explicit Maker(std::uint32_t seed) : FRandom(seed) {}

    unsigned Below(unsigned n)
    {
        return std::uniform_int_distribution<unsigned>(0, n - 1)(FRandom);
    }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Below(256)); }
    std::uint8_t NonSync()
    {
        std::uint8_t b = 0;
        do
            b = Byte();
        while (IsSync(b));
        return b;
    }
    Bytes Data(std::size_t n)
    {
        Bytes d(n);
        for (auto& b : d)
            b = Byte();
        return d;
    }
    RequestTarget Target()
    {
        return {0xF0, 0x00, static_cast<std::uint8_t>(Below(MemoryAreaCount) << 4), Below(0x10000)};
    }
    // A reply block: Count, address, data, CRC8 over them.
    Bytes ReplyBlock(std::size_t count)
    {
        Bytes block = {static_cast<std::uint8_t>(count), Byte(), Byte(), 0x00};
        const Bytes data = Data(count);
        block.insert(block.end(), data.begin(), data.end());
        block.push_back(CRC8(block));
        return block;
    }

    std::mt19937 FRandom;
};

} // namespace

MixedStream MakeMixedStream(std::size_t minBytes, std::uint32_t seed)
{
    Maker m(seed);
    MixedStream s;
    std::uint8_t sequence = 0;
    auto put = [&](const Bytes& bytes) {
        s.bytes.insert(s.bytes.end(), bytes.begin(), bytes.end());
    };

    while (s.bytes.size() < minBytes) {
        const unsigned pick = m.Below(100);
        Bytes t;
        if (pick < 20) {
            const Bytes block = {++sequence};
            t = LongTelegram(0xF0, 0x01, 0x00, block);
            ++s.polls;
        } else if (pick < 30) {
            const Bytes block = {++sequence};
            t = ShortTelegram(0xF0, 0x01, 4, block);
            ++s.polls;
        } else if (pick < 45) {
            s.bytes.push_back(LeadByte);
            t = BuildReadRequest(m.Target(), static_cast<std::uint8_t>(1 + m.Below(64)));
        } else if (pick < 55) {
            s.bytes.push_back(LeadByte);
            t = BuildWriteRequest(m.Target(), m.Data(1 + m.Below(32)));
        } else if (pick < 70) {
            t = LongTelegram(0xF0, 0x00, static_cast<std::uint8_t>((m.Below(7) << 4) | 0x0B),
                             m.ReplyBlock(1 + m.Below(64)));
        } else if (pick < 80) {
            const Bytes block = {4, m.Byte(), m.Byte(), 0x00, 0x00};
            t = LongTelegram(0xF0, 0x00, static_cast<std::uint8_t>(0x80 | (m.Below(7) << 4) | 0x0C),
                             block);
        } else if (pick < 90) {
            t = ShortTelegram(static_cast<std::uint8_t>(0x10 + m.Below(16)), 0x01,
                              static_cast<std::uint8_t>(m.Below(4)), m.Data(1 + m.Below(32)));
        } else if (pick < 96) {
            // A damaged copy of a reply: its header checksum or one block byte, never
            // turned into a sync byte.
            t = LongTelegram(0xF0, 0x00, 0x0B, m.ReplyBlock(1 + m.Below(32)));
            const std::size_t at = pick < 93 ? 5 : 6 + m.Below(static_cast<unsigned>(t.size() - 6));
            std::uint8_t damaged = t[at];
            do
                damaged = static_cast<std::uint8_t>(t[at] ^ (1u << m.Below(8)));
            while (IsSync(damaged));
            t[at] = damaged;
            ++s.damaged;
            put(t);
            continue;
        } else {
            const unsigned n = 1 + m.Below(8);
            for (unsigned i = 0; i < n; ++i)
                s.bytes.push_back(m.NonSync());
            s.noise += n;
            continue;
        }
        put(t);
        ++s.intact;
    }
    return s;
}

bool Intact(ByteSpan telegram)
{
    const auto lengths = TelegramLength(telegram);
    return lengths && telegram.size() == std::size_t{lengths->header} + lengths->block &&
           KontrolniSoucet(telegram.first(lengths->header)) == 0 &&
           KontrolniSoucet(telegram.subspan(lengths->header)) == 0;
}

} // namespace qtr290::test
