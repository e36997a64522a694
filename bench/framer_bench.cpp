// Framer throughput on a busy bus's mixed traffic delivered in port-sized chunks, and the
// two checksums. The line rate of a saturated 256000-baud bus is 25600 bytes/s (10 bits
// per byte); "x_line_256000" is how many such buses one framer would keep up with.
#include "link/framer.h"
#include "tests/support/mixed_stream.h"

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

using namespace qtr290;

constexpr double LineRate256000 = 256000.0 / 10.0;

const test::MixedStream& Stream()
{
    static const test::MixedStream stream = test::MakeMixedStream(1 << 20);
    return stream;
}

// Argument: chunk size. 1024 bytes is what the 40 ms polling tick reads from a saturated
// 256000-baud line, 20 bytes from a 4800-baud one; 1 is the worst case.
void BM_FramerMixedStream(benchmark::State& state)
{
    const test::Bytes& bytes = Stream().bytes;
    const auto chunk = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> acc;
    std::size_t telegrams = 0;
    std::size_t errors = 0;
    const FramerHandlers handlers{
        [&](ByteSpan t) {
            benchmark::DoNotOptimize(t.data());
            ++telegrams;
        },
        [&](FramerError) { ++errors; },
    };

    for (auto _ : state) {
        acc.clear();
        for (std::size_t at = 0; at < bytes.size(); at += chunk) {
            const auto end =
                bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at + chunk, bytes.size()));
            acc.insert(acc.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at), end);
            ZpracujPrijem(acc, handlers);
        }
    }

    // A stream that did not frame as made would measure something else.
    const auto passes = static_cast<std::size_t>(state.iterations());
    if (passes > 0 && telegrams / passes < Stream().intact)
        state.SkipWithError("fewer telegrams framed than the stream holds");

    const double total = static_cast<double>(bytes.size()) * static_cast<double>(passes);
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
    state.counters["x_line_256000"] =
        benchmark::Counter(total / LineRate256000, benchmark::Counter::kIsRate);
    state.counters["telegrams"] =
        benchmark::Counter(static_cast<double>(telegrams), benchmark::Counter::kIsRate);
    state.counters["crc_lines"] =
        benchmark::Counter(static_cast<double>(errors), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FramerMixedStream)->Arg(1024)->Arg(20)->Arg(1)->Unit(benchmark::kMillisecond);

std::vector<std::uint8_t> Pattern(std::size_t n)
{
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return bytes;
}

// Argument: bytes summed: a read request's block, a long block, the longest block.
void BM_KontrolniSoucet(benchmark::State& state)
{
    const auto bytes = Pattern(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(KontrolniSoucet(bytes));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_KontrolniSoucet)->Arg(5)->Arg(64)->Arg(257);

// Argument: bytes covered: a write request with 1 data byte, and with the most data.
void BM_CRC8(benchmark::State& state)
{
    const auto bytes = Pattern(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(CRC8(bytes));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CRC8)->Arg(5)->Arg(247);

} // namespace
