// The soak: saturated traffic from qtr290-sim with polls, received by the real main window
// (offscreen) through the real driver, its 40 ms timer and a pseudo-terminal, with the
// display and the capture file on, and the window answering the polls. A read request is
// always pending: every intact telegram that is no poll drops the oldest pending one, so a
// timer keeps the link's queue topped up.
//
// What the window did is observed from outside it: the telegrams shown in Memo1 and the
// answers shown in Memo3 are read back from the memos' documents as they go in; the capture
// file is read back into bytes at the end. Those are set beside the simulator's log (every
// telegram written, in order) and summary, and the poll-answer latencies are taken from the
// log as poll_latency does. Peak resident memory (VmHWM) is read after the warm-up and at
// the end.
//
// Usage: soak [--seconds N] [--warmup N] [--baud N] [--poll-interval MS] [--sim PATH]
//             [--check-counts] [--share-cpus]
// With --check-counts the exit status is 1 when a telegram was lost or garbled; timings and
// memory never decide it. Unless --share-cpus, the simulator gets a CPU of its own (it stands
// in for the device and the line, which do not wait for the utility's process).
#include "bench/bench_options.h"
#include "bench/sim_process.h"
#include "bench/window_probe.h"
#include "link/telegram.h"
#include "tests/support/mixed_stream.h"
#include "tests/support/window_fixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

using namespace qtr290;

namespace {

struct Options {
    double seconds = 600;
    double warmup = 30;
    int baud = 115200;
    // Not a multiple of the 40 ms polling tick: the phase between them drifts.
    int pollInterval = 127;
    QString sim = QStringLiteral(QTR290_SIM_PATH);
    bool checkCounts = false;
    bool shareCpus = false;
};

bool ParseArgs(const QStringList& args, Options& o)
{
    bench::CommandLine line;
    line.Value("--seconds", o.seconds)
        .Value("--warmup", o.warmup)
        .Value("--baud", o.baud)
        .Value("--poll-interval", o.pollInterval)
        .Value("--sim", o.sim)
        .Flag("--check-counts", o.checkCounts, true)
        .Flag("--share-cpus", o.shareCpus, true);
    if (!line.Parse(args))
        return false;
    // A short run keeps most of its time for the soak itself.
    if (!line.Given("--warmup"))
        o.warmup = std::min(o.warmup, o.seconds / 4);
    return o.seconds > 0 && o.warmup >= 0 && o.warmup < o.seconds && o.baud > 0 &&
           o.pollInterval > 0;
}

double LoadAverage()
{
    double load = -1;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

// Count and FNV-1a hash of telegrams in order, each with its length.
struct TelegramDigest {
    long long count = 0;
    std::uint64_t hash = 14695981039346656037ULL;
    void Add(const std::vector<std::uint8_t>& telegram)
    {
        ++count;
        Mix(static_cast<std::uint8_t>(telegram.size() & 0xFF));
        Mix(static_cast<std::uint8_t>(telegram.size() >> 8));
        for (std::uint8_t byte : telegram)
            Mix(byte);
    }
    void Mix(std::uint8_t byte) { hash = (hash ^ byte) * 1099511628211ULL; }
    bool operator==(const TelegramDigest&) const = default;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options o;
    if (!ParseArgs(app.arguments(), o)) {
        std::fprintf(stderr, "usage: soak [--seconds N] [--warmup N] [--baud N] "
                             "[--poll-interval MS] [--sim PATH] [--check-counts] [--share-cpus]\n");
        return 2;
    }

    bench::SimProcess sim(o.sim);
    const QString device = sim.StartSaturated(o.baud, o.pollInterval, o.seconds);
    if (device.isEmpty()) {
        std::fprintf(stderr, "soak: %s\n", qPrintable(sim.Error()));
        return 1;
    }
    const QString cpus =
        o.shareCpus ? QStringLiteral("shared by the simulator and the window") : sim.KeepApart();
    const double loadAtStart = LoadAverage();

    test::WindowFixture window(bench::MeasuringSettings(device, o.baud),
                               test::WindowFixture::System);
    TForm1& form = *window.form;
    bench::ShowEverything(form);
    if (!form.Link() || !form.Link()->SeriovyPort().Connected()) {
        std::fprintf(stderr, "soak: the window did not open %s\n", qPrintable(device));
        return 1;
    }

    // Memo1: every telegram shown, in order; for each poll, whether a request was pending
    // (the display runs before the poll reaction). Memo3: each answer, with the sequence
    // number of the poll it answered.
    // Held as a count and a running hash, not the telegrams: the harness must not grow the
    // memory it measures.
    TelegramDigest shown;
    long long shownGarbled = 0;
    long long polls = 0;
    long long pollsWithPending = 0;
    std::uint8_t lastPoll = 0;
    std::vector<std::uint8_t> answeredSequence;
    long long answersGarbled = 0;
    // The simulator writes from its start, the window reads from when it opened the port (and
    // emptied its buffers): the first bytes it sees may be the tail of a telegram, which
    // makes checksum-error lines before the first telegram shown.
    long long headErrorLines = 0;
    bench::MemoWatch* memo1Ref = nullptr;
    bench::MemoWatch memo1(test::control<LineMemo>(form, "Memo1"),
                           [&](const std::vector<std::uint8_t>& telegram) {
                               if (shown.count == 0 && memo1Ref)
                                   headErrorLines = memo1Ref->ErrorLines();
                               if (!test::Intact(telegram))
                                   ++shownGarbled;
                               if (IsPoll(telegram)) {
                                   ++polls;
                                   if (form.Link()->PendingCount() > 0)
                                       ++pollsWithPending;
                                   lastPoll = telegram[TelegramLength(telegram)->header];
                               }
                               shown.Add(telegram);
                           });
    memo1Ref = &memo1;
    bench::MemoWatch memo3(
        test::control<LineMemo>(form, "Memo3"), [&](const std::vector<std::uint8_t>& sent) {
            // The lead byte 0xFF and the request.
            if (sent.empty() || sent[0] != 0xFF || !test::Intact(ByteSpan(sent).subspan(1)))
                ++answersGarbled;
            answeredSequence.push_back(lastPoll);
        });

    // Keep requests pending: the traffic between polls drops one per telegram.
    std::uint32_t address = 0;
    auto fill = [&] {
        memo1.KeepShort();
        while (form.Link() && form.Link()->PendingCount() < 64)
            form.Link()->ZaradTLG(0xF0, 0x00, false, 0x00, address++ & 0xFFFF, 1);
    };
    fill();
    QTimer topUp;
    QObject::connect(&topUp, &QTimer::timeout, fill);
    topUp.start(5);

    // A stall of the whole process shows as a late tick here.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    long long stalls = 0;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        longestGap = std::max(longestGap, gap);
        // A tick of the window takes up to about 15 ms; beyond 30 ms the process was held
        // off the CPU (or the loop was blocked).
        if (gap > 30)
            ++stalls;
    });
    sinceTick.start();
    watch.start(10);

    std::fprintf(stderr, "soak: %s, %.0f s (warm-up %.0f s)\n", qPrintable(device), o.seconds,
                 o.warmup);
    bench::RunEventLoop(static_cast<int>(o.warmup * 1000));
    const bench::Memory atStart = bench::ResidentMemory();
    const long long shownAtStart = shown.count;
    const bool finished =
        sim.RunUntilFinished(static_cast<int>((o.seconds - o.warmup) * 1000) + 15000);
    topUp.stop();
    // What the simulator wrote last is read at the next tick or two.
    bench::RunEventLoop(500);
    watch.stop();
    const bench::Memory atEnd = bench::ResidentMemory();
    const double loadAtEnd = LoadAverage();
    std::vector<QString> messages;
    for (const test::Message& message : window.messages)
        messages.push_back(message.text);
    if (!finished) {
        std::fprintf(stderr, "soak: the simulator did not finish\n");
        return 1;
    }

    const auto stats = sim.Stats();
    auto stat = [&](const char* key) {
        const auto it = stats.find(key);
        return it == stats.end() ? -1LL : it->second;
    };

    // The capture file must hold what the simulator wrote from some point on: all of it
    // after the window opened the port.
    long long captureLines = 0;
    const auto captured = bench::CaptureBytes(window.CapturePath(), &captureLines);
    const qint64 captureSize = QFile(window.CapturePath()).size();
    const auto totalSent = static_cast<std::size_t>(std::max(0LL, stat("tx_bytes")));
    const std::size_t opened =
        captured && captured->size() <= totalSent ? totalSent - captured->size() : 0;

    // The simulator's side, from its log: every telegram written, in order, and all the bytes;
    // what the window is to show is what was written whole after it opened the port.
    std::vector<std::uint8_t> sentBytes;
    TelegramDigest sentIntact;
    long long pollsAfterOpen = 0;
    const auto log = sim.Log();
    for (const auto& line : log) {
        if (line.direction == "TX") {
            const std::size_t at = sentBytes.size();
            sentBytes.insert(sentBytes.end(), line.bytes.begin(), line.bytes.end());
            if (at < opened)
                continue;
            if (line.kind != "noise")
                sentIntact.Add(line.bytes);
            if (line.kind == "poll")
                ++pollsAfterOpen;
        }
    }
    const std::vector<double> latencies = bench::PollAnswerLatencies(log, answeredSequence);
    const bool captureWhole = captured && sentBytes.size() == totalSent &&
                              std::equal(captured->begin(), captured->end(),
                                         sentBytes.begin() + static_cast<std::ptrdiff_t>(opened));
    const bool shownWhole = shown == sentIntact;

    std::vector<double> sorted = latencies;
    std::sort(sorted.begin(), sorted.end());
    const double bound = 40.0 + 2 * 3.0 + 12 * 10 * 1000.0 / o.baud;
    const auto over =
        std::count_if(sorted.begin(), sorted.end(), [&](double ms) { return ms > bound; });

    const long long shownErrorLines = memo1.ErrorLines() - headErrorLines;
    std::printf("soak: %.0f s of saturated %d-baud traffic, polls every %d ms, window offscreen "
                "with display and capture file on\n",
                o.seconds, o.baud, o.pollInterval);
    std::printf("  CPUs                  %s\n", qPrintable(cpus));
    std::printf("  load average          %.2f at the start, %.2f at the end\n", loadAtStart,
                loadAtEnd);
    std::printf("  before the port open  %zu bytes written (emptied when the window opened the "
                "port; %lld checksum lines from the cut telegram)\n",
                opened, headErrorLines);
    std::printf("  after it              %22s %14s\n", "simulator", "window");
    std::printf("  telegrams             %22lld %14lld   (written whole / shown in Memo1)\n",
                sentIntact.count, shown.count);
    std::printf("  polls                 %22lld %14lld   (shown; %lld found a request pending)\n",
                pollsAfterOpen, polls, pollsWithPending);
    std::printf("  answers               %22lld %14zu   (rx_requests / shown in Memo3)\n",
                stat("rx_requests"), answeredSequence.size());
    std::printf("  bytes                 %22zu %14lld   (written / in the capture file, read "
                "back)\n",
                sentBytes.size() - opened,
                captured ? static_cast<long long>(captured->size()) : -1LL);
    std::printf("  damaged               %22lld %14lld   (rx errors / checksum lines in Memo1)\n",
                stat("rx_header_errors") + stat("rx_block_errors"), shownErrorLines);
    std::printf("  whole run             tx_bytes=%lld tx_telegrams=%lld polls_sent=%lld "
                "line_telegrams=%lld line_header_errors=%lld line_block_errors=%lld "
                "backlog_flushes=%lld\n",
                stat("tx_bytes"), stat("tx_telegrams"), stat("polls_sent"), stat("line_telegrams"),
                stat("line_header_errors"), stat("line_block_errors"), stat("backlog_flushes"));
    std::printf("  capture file          %lld lines, %lld bytes on disk\n", captureLines,
                static_cast<long long>(captureSize));
    std::printf("  in order              shown = written: %s (count and hash of all, in order); "
                "capture = written: %s\n",
                shownWhole ? "yes" : "NO", captureWhole ? "yes" : "NO");
    std::printf("  garbled               %lld shown, %lld answers\n", shownGarbled, answersGarbled);
    if (!sorted.empty()) {
        const double mean =
            std::accumulate(sorted.begin(), sorted.end(), 0.0) / static_cast<double>(sorted.size());
        std::printf("  poll-answer latency   %zu timed: min %.3f, mean %.3f, median %.3f, 90th "
                    "percentile %.3f, 99th percentile %.3f, maximum %.3f ms; design bound %.1f "
                    "ms, %ld over\n",
                    sorted.size(), sorted.front(), mean, bench::Percentile(sorted, 50),
                    bench::Percentile(sorted, 90), bench::Percentile(sorted, 99), sorted.back(),
                    bound, static_cast<long>(over));
    }
    std::printf(
        "  event loop            longest gap between 10 ms ticks %lld ms, %lld gaps over 30 ms\n",
        static_cast<long long>(longestGap), stalls);
    std::printf("  peak resident memory  %lld KiB after the warm-up (%lld telegrams shown), "
                "%lld KiB at the end: growth %lld KiB (resident now %lld KiB)\n",
                atStart.peakKiB, shownAtStart, atEnd.peakKiB, atEnd.peakKiB - atStart.peakKiB,
                atEnd.residentKiB);
    for (const QString& message : messages)
        std::printf("  message to operator   %s\n", qPrintable(message));

    const bool noneLost = shownWhole && captureWhole && shownGarbled == 0 && answersGarbled == 0 &&
                          stat("rx_header_errors") == 0 && stat("rx_block_errors") == 0 &&
                          stat("backlog_flushes") == 0 && shownErrorLines == 0 && shown.count > 0;
    const bool allAnswered = polls == pollsAfterOpen && pollsWithPending == polls &&
                             static_cast<long long>(answeredSequence.size()) == polls &&
                             stat("rx_requests") == polls &&
                             static_cast<long long>(latencies.size()) == polls;
    const bool memoryFlat = atEnd.peakKiB - atStart.peakKiB < 2048;
    std::printf("targets\n");
    std::printf("  no telegram lost or garbled          %s\n", noneLost ? "MET" : "NOT MET");
    std::printf("  memory growth under 2 MiB            %s (%lld KiB)\n",
                memoryFlat ? "MET" : "NOT MET", atEnd.peakKiB - atStart.peakKiB);
    std::printf("  every poll answered within %.1f ms   %s (%lld polls, %zu answers timed, "
                "%ld over)\n",
                bound, allAnswered && over == 0 ? "MET" : "NOT MET", polls, latencies.size(),
                static_cast<long>(over));
    return o.checkCounts && !noneLost ? 1 : 0;
}
