#include "tools/qtr290-sim/traffic.h"

#include <algorithm>
#include <set>

namespace qtr290::sim {

namespace {

unsigned Uniform(Random& random, unsigned low, unsigned high)
{
    return std::uniform_int_distribution<unsigned>(low, high)(random);
}

std::uint8_t RandomByte(Random& random)
{
    return static_cast<std::uint8_t>(Uniform(random, 0, 255));
}

Bytes RandomBytes(Random& random, std::size_t n)
{
    Bytes b(n);
    for (auto& x : b)
        x = RandomByte(random);
    return b;
}

} // namespace

bool RateGate::Fire(Random& random)
{
    ++FSeen;
    if (FRate.every > 0)
        return FSeen % FRate.every == 0;
    if (FRate.probability > 0.0)
        return std::uniform_real_distribution<double>(0.0, 1.0)(random) < FRate.probability;
    return false;
}

void Damage(Bytes& bytes, std::size_t index, Random& random)
{
    std::uint8_t damaged = 0;
    do
        damaged = static_cast<std::uint8_t>(bytes[index] ^ Uniform(random, 1, 255));
    while (IsSync(damaged));
    bytes[index] = damaged;
}

FaultInjector::FaultInjector(const SimOptions& options)
    : FHeader(options.headerErrors), FBlock(options.blockErrors), FNoise(options.noise),
      FSplit(options.splitWrites), FNoiseMax(options.noiseMax),
      FSplitDelay(Nanos{options.splitDelayMs} * 1'000'000)
{
}

std::vector<OutItem> FaultInjector::Prepare(Bytes telegram, TxKind kind, Random& random)
{
    std::vector<OutItem> items;
    // Every gate is asked once per telegram, so "every Nth" counts telegrams exactly.
    const bool noise = FNoise.Fire(random);
    const bool header = FHeader.Fire(random);
    const bool block = FBlock.Fire(random);
    const bool split = FSplit.Fire(random) && telegram.size() > 1;

    if (noise) {
        OutItem burst;
        burst.kind = TxKind::Noise;
        const unsigned n = Uniform(random, 1, FNoiseMax);
        while (burst.bytes.size() < n) {
            const std::uint8_t b = RandomByte(random);
            if (!IsSync(b))
                burst.bytes.push_back(b);
        }
        items.push_back(std::move(burst));
    }

    OutItem item;
    item.bytes = std::move(telegram);
    item.kind = kind;
    const auto lengths = TelegramLength(item.bytes);
    if (lengths && lengths->total() == item.bytes.size()) {
        if (header) {
            Damage(item.bytes, lengths->header - 1, random);
            item.fault = TxFault::Header;
        } else if (block) {
            Damage(item.bytes,
                   Uniform(random, static_cast<unsigned>(lengths->header),
                           static_cast<unsigned>(item.bytes.size() - 1)),
                   random);
            item.fault = TxFault::Block;
        }
    }
    if (split) {
        const unsigned pieces = Uniform(random, 2, 4);
        std::set<std::size_t> cuts;
        for (unsigned i = 1; i < pieces; ++i)
            cuts.insert(Uniform(random, 1, static_cast<unsigned>(item.bytes.size() - 1)));
        for (auto cut : cuts)
            item.pauses.emplace_back(cut, FSplitDelay);
    }
    items.push_back(std::move(item));
    return items;
}

FillerTraffic::FillerTraffic(const SimOptions& options) : FMaster(options.masterAddress)
{
    for (unsigned s = 0x10; s <= 0x1F; ++s)
        if (s != options.deviceAddress && s != options.pollStation && s != options.masterAddress)
            FStations.push_back(static_cast<std::uint8_t>(s));
}

Bytes FillerTraffic::ShortTelegram(std::size_t maxLength, Random& random)
{
    if (maxLength < MinTelegramLength)
        return {};
    const std::size_t longest = std::min<std::size_t>(maxLength - MinTelegramLength, 31);
    const std::size_t blockLength = Uniform(random, 0, static_cast<unsigned>(longest));
    // Every kind but 4, which would make it a poll.
    static constexpr std::uint8_t kinds[] = {0, 1, 2, 3, 5, 6, 7};
    const std::uint8_t kind = kinds[Uniform(random, 0, std::size(kinds) - 1)];
    const std::uint8_t station = FStations[Uniform(random, 0, FStations.size() - 1)];
    const bool fromMaster = Uniform(random, 0, 1) == 0;
    return BuildShort(fromMaster ? station : FMaster, fromMaster ? FMaster : station, kind,
                      RandomBytes(random, blockLength + 1));
}

Bytes FillerTraffic::Next(std::size_t maxLength, Random& random)
{
    if (!FPendingReply.empty()) {
        if (FPendingReply.size() > maxLength)
            return ShortTelegram(maxLength, random);
        return std::exchange(FPendingReply, {});
    }

    const unsigned choice = Uniform(random, 0, 9);
    const std::uint8_t station = FStations[Uniform(random, 0, FStations.size() - 1)];
    const auto area = static_cast<std::uint8_t>(Uniform(random, 0, MemoryAreaCount - 1) << 4);
    const RequestTarget target{FMaster, station, area, Uniform(random, 0, 0xFFFF)};
    Bytes request;
    if (choice < 4) {
        const auto count = static_cast<std::uint8_t>(Uniform(random, 1, 64));
        request = BuildReadRequest(target, count);
        FPendingReply =
            BuildReadReply(FMaster, station, area, target.address, RandomBytes(random, count));
    } else if (choice < 6) {
        const auto data = RandomBytes(random, Uniform(random, 1, 32));
        request = BuildWriteRequest(target, data);
        FPendingReply =
            BuildStatusReply(FMaster, station, area, true, static_cast<std::uint8_t>(data.size()),
                             target.address, ReplyStatus::Applied);
    } else {
        return ShortTelegram(maxLength, random);
    }
    if (request.size() > maxLength) {
        FPendingReply.clear();
        return ShortTelegram(maxLength, random);
    }
    return request;
}

} // namespace qtr290::sim
