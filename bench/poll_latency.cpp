// Poll-answer latency of the link with the real driver, its event-loop timer and a
// pseudo-terminal: the bus simulator polls, the link answers each poll with a pending read
// request, the simulator's device replies and the reply drops it; a read request is queued
// whenever a poll finds the queue empty. From the simulator's log: the time from the
// moment the poll's last byte was written to the moment the answer was read back. Each
// answer is matched to its poll by the poll's sequence number, which the harness notes
// when the link answers.
//
// Usage: poll_latency [--polls N] [--interval MS] [--baud N] [--poll-kind long|short|mixed]
//                     [--sim PATH] [--samples FILE] [--share-cpus]
// Unless --share-cpus, the simulator gets a CPU of its own (see SimProcess::KeepApart).
#include "bench/bench_options.h"
#include "bench/sim_process.h"
#include "link/Komunikace.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

using namespace qtr290;

namespace {

struct Options {
    int polls = 1000;
    int intervalMs = 127; // not a multiple of the 40 ms polling tick: the phase between them drifts
    int baud = 4800;
    QString pollKind = QStringLiteral("long");
    QString sim = QStringLiteral(QTR290_SIM_PATH);
    std::string samples;
    bool shareCpus = false;
};

bool ParseArgs(const QStringList& args, Options& o)
{
    const bool read = bench::CommandLine()
                          .Value("--polls", o.polls)
                          .Value("--interval", o.intervalMs)
                          .Value("--baud", o.baud)
                          .Value("--poll-kind", o.pollKind)
                          .Value("--sim", o.sim)
                          .Value("--samples", o.samples)
                          .Flag("--share-cpus", o.shareCpus, true)
                          .Parse(args);
    return read && o.polls > 0 && o.intervalMs > 0 && o.baud > 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    if (!ParseArgs(app.arguments(), o)) {
        std::fprintf(stderr, "usage: poll_latency [--polls N] [--interval MS] [--baud N] "
                             "[--poll-kind long|short|mixed] [--sim PATH] [--samples FILE] "
                             "[--share-cpus]\n");
        return 2;
    }

    bench::SimProcess sim(o.sim);
    const QString device = sim.Start({"--baud", QString::number(o.baud), "--poll-interval",
                                      QString::number(o.intervalMs), "--count",
                                      QString::number(o.polls), "--poll-kind", o.pollKind});
    if (device.isEmpty()) {
        std::fprintf(stderr, "poll_latency: %s\n", qPrintable(sim.Error()));
        return 1;
    }
    const QString cpus =
        o.shareCpus ? QStringLiteral("shared by the simulator and the link") : sim.KeepApart();

    TKomunikace link(MakeSystemPlatform(ComPortNames({{1, device.toStdString()}})));
    link.NastavVychozi();
    link.NastavPort(1);
    if (!link.Otevri(o.baud)) {
        std::fprintf(stderr, "poll_latency: cannot open %s\n", qPrintable(device));
        return 1;
    }
    link.NastavDTR(false);

    // A poll never finds the queue empty: the display callback runs before the poll
    // reaction, so a request queued there is the one the poll sends.
    std::uint32_t address = 0;
    std::vector<std::uint8_t> acc;
    std::vector<std::uint8_t> answeredSequence; // the sequence number of each poll answered
    std::uint8_t lastPoll = 0;
    long answers = 0;
    long crcLines = 0;
    long telegrams = 0;
    link.NastavPrijem([&](TSerialPortDriver&, std::span<const std::uint8_t> chunk) {
        acc.insert(acc.end(), chunk.begin(), chunk.end());
        link.ZpracujPrijem(acc, {[&](ByteSpan t) {
                                     ++telegrams;
                                     if (!IsPoll(t))
                                         return;
                                     lastPoll = t[TelegramLength(t)->header];
                                     if (link.PendingCount() == 0)
                                         link.ZaradTLG(0xF0, 0x00, false, 0x00, address++ & 0xFFFF,
                                                       1);
                                 },
                                 [&](std::string_view) { ++crcLines; },
                                 [&](ByteSpan) {
                                     ++answers;
                                     answeredSequence.push_back(lastPoll);
                                 }});
    });

    // A stall of the whole process (scheduling, swapping) shows as a late tick here and
    // tells it apart from a slow link.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watch, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    sinceTick.start();
    watch.start(10);

    const int expectedMs = static_cast<int>(
        std::min<long long>(1LL * o.polls * o.intervalMs + 10000, std::numeric_limits<int>::max()));
    const bool finished = sim.RunUntilFinished(expectedMs);
    watch.stop();
    link.Zavri();
    if (!finished) {
        std::fprintf(stderr, "poll_latency: the simulator did not finish within %d ms\n",
                     expectedMs);
        return 1;
    }

    long polls = 0;
    const auto log = sim.Log();
    for (const auto& line : log)
        if (line.direction == "TX" && line.kind == "poll")
            ++polls;
    const std::vector<double> latencies = bench::PollAnswerLatencies(log, answeredSequence);
    if (!o.samples.empty()) {
        std::ofstream out(o.samples);
        for (double ms : latencies)
            out << ms << '\n';
    }
    if (latencies.empty()) {
        std::fprintf(stderr, "poll_latency: no poll was answered (log %s)\n",
                     qPrintable(sim.LogPath()));
        return 1;
    }

    std::vector<double> sorted = latencies;
    std::sort(sorted.begin(), sorted.end());
    const double mean =
        std::accumulate(sorted.begin(), sorted.end(), 0.0) / static_cast<double>(sorted.size());
    // The bound the design allows: one polling period, the two guard waits of more than
    // 2 ms on a millisecond clock (at most 3 ms each), the 12 answer bytes on the line.
    const double pollingDelay = 40.0;
    const double guardWaits = 2 * 3.0;
    const double transmission = 12 * 10 * 1000.0 / o.baud;
    const double bound = pollingDelay + guardWaits + transmission;
    const auto over =
        std::count_if(sorted.begin(), sorted.end(), [&](double ms) { return ms > bound; });
    const auto stats = sim.Stats();
    auto stat = [&](const char* key) {
        const auto it = stats.find(key);
        return it == stats.end() ? -1LL : it->second;
    };

    std::printf("poll-answer latency, %d baud, %s polls every %d ms\n", o.baud,
                qPrintable(o.pollKind), o.intervalMs);
    std::printf("  CPUs                  %s\n", qPrintable(cpus));
    std::printf("  polls sent            %ld\n", polls);
    std::printf("  answers               %ld sent by the link, %zu read back and timed\n", answers,
                latencies.size());
    std::printf("  min / mean            %.3f / %.3f ms\n", sorted.front(), mean);
    std::printf("  median                %.3f ms\n", bench::Percentile(sorted, 50));
    std::printf("  99th percentile       %.3f ms\n", bench::Percentile(sorted, 99));
    std::printf("  maximum               %.3f ms\n", sorted.back());
    std::printf(
        "  design bound          %.1f ms = PollingDelay %.0f + guard waits %.0f + 12 bytes %.1f\n",
        bound, pollingDelay, guardWaits, transmission);
    std::printf("  answers over bound    %ld\n", static_cast<long>(over));
    std::printf(
        "  simulator             rx_requests=%lld reads_answered=%lld rx_header_errors=%lld "
        "rx_block_errors=%lld\n",
        stat("rx_requests"), stat("reads_answered"), stat("rx_header_errors"),
        stat("rx_block_errors"));
    std::printf("  link                  telegrams=%ld crc_lines=%ld\n", telegrams, crcLines);
    std::printf("  event loop            longest gap between 10 ms ticks %lld ms\n",
                static_cast<long long>(longestGap));
    return 0;
}
