// The utility's CPU on a saturated bus: qtr290-sim fills the line at the given baud rate with
// polls and other stations' traffic, the real main window (offscreen) receives it through the
// real driver and a pseudo-terminal with the display and the capture file on, and answers
// every poll (a timer keeps a read request pending). Nothing watches the memos: after a
// warm-up, the process's user and system time over the measured span is set beside the wall
// time.
//
// Usage: cpu_load [--seconds N] [--warmup N] [--baud N] [--poll-interval MS] [--sim PATH]
//                 [--share-cpus] [--no-answers] [--idle] [--without-overview]
// Every answer to a poll costs two guard waits of more than 2 ms each, which spin on the clock
// by design; --no-answers leaves the queue empty to tell the receive path's share apart.
// --without-overview hides the overview panel (shown by default) to tell its share apart.
#include "bench/bench_options.h"
#include "bench/sim_process.h"
#include "bench/window_probe.h"
#include "console/main.h"
#include "tests/support/window_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <cstdio>

#include <sys/resource.h>

using namespace qtr290;

namespace {

struct Options {
    double seconds = 60;
    double warmup = 5;
    int baud = 256000;
    int pollInterval = 127;
    QString sim = QStringLiteral(QTR290_SIM_PATH);
    bool shareCpus = false;
    bool answer = true; // off: no request pending, so no poll is answered
    bool idle = false;  // a quiet line: the port open on a pseudo-terminal nobody writes to
    bool overview = true;
};

bool ParseArgs(const QStringList& args, Options& o)
{
    const bool read = bench::CommandLine()
                          .Value("--seconds", o.seconds)
                          .Value("--warmup", o.warmup)
                          .Value("--baud", o.baud)
                          .Value("--poll-interval", o.pollInterval)
                          .Value("--sim", o.sim)
                          .Flag("--share-cpus", o.shareCpus, true)
                          .Flag("--no-answers", o.answer, false)
                          .Flag("--idle", o.idle, true)
                          .Flag("--without-overview", o.overview, false)
                          .Parse(args);
    return read && o.seconds > 0 && o.warmup >= 0 && o.baud > 0 && o.pollInterval > 0;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options o;
    if (!ParseArgs(app.arguments(), o)) {
        std::fprintf(stderr, "usage: cpu_load [--seconds N] [--warmup N] [--baud N] "
                             "[--poll-interval MS] [--sim PATH] [--share-cpus] [--no-answers] "
                             "[--idle] [--without-overview]\n");
        return 2;
    }

    bench::SimProcess sim(o.sim);
    test::Pty quiet;
    const double total = o.warmup + o.seconds + 1;
    const QString device = o.idle ? QString::fromStdString(quiet.path())
                                  : sim.StartSaturated(o.baud, o.pollInterval, total);
    if (device.isEmpty()) {
        std::fprintf(stderr, "cpu_load: %s\n", qPrintable(sim.Error()));
        return 1;
    }
    const QString cpus = o.idle        ? QStringLiteral("no simulator")
                         : o.shareCpus ? QStringLiteral("shared by the simulator and the window")
                                       : sim.KeepApart();

    // The window's own defaults (32 bytes a line), the port and rate of the run.
    const std::string settings = "[Seriovy port]\r\nPort=1\r\nBaud rate=" + std::to_string(o.baud) +
                                 "\r\n[Porty]\r\nCOM1=" + device.toStdString() + "\r\n";
    test::WindowFixture window(settings, test::WindowFixture::System);
    TForm1& form = *window.form;
    bench::ShowEverything(form);
    test::control<QCheckBox>(form, "Chk_Prehled")->setChecked(o.overview);
    if (!form.Link() || !form.Link()->SeriovyPort().Connected()) {
        std::fprintf(stderr, "cpu_load: the window did not open %s\n", qPrintable(device));
        return 1;
    }
    std::uint32_t address = 0;
    QTimer topUp;
    QObject::connect(&topUp, &QTimer::timeout, [&] {
        while (form.Link() && form.Link()->PendingCount() < 512)
            form.Link()->ZaradTLG(0xF0, 0x00, false, 0x00, address++ & 0xFFFF, 1);
    });
    // A non-poll telegram drops one pending request: some 1300 a second at 256000 baud.
    if (o.answer)
        topUp.start(100);

    bench::RunEventLoop(int(o.warmup * 1000));
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    bench::RunEventLoop(int(o.seconds * 1000));
    const double cpu = CpuSeconds() - cpu0;
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    topUp.stop();
    if (o.idle) {
        std::printf("utility CPU with the port open on a quiet line\n");
        std::printf("  measured              %.1f s after a %.0f s warm-up\n", seconds, o.warmup);
        std::printf("  CPU                   %.3f s = %.2f %% of one core\n", cpu,
                    100.0 * cpu / seconds);
        return 0;
    }
    sim.RunUntilFinished(15000);

    const auto stats = sim.Stats();
    const auto stat = [&](const char* key) {
        const auto it = stats.find(key);
        return it == stats.end() ? -1LL : it->second;
    };
    const double lineBytesPerSecond = o.baud / 10.0;
    std::printf("utility CPU on a saturated %d-baud bus, display and capture file on, polls %s\n",
                o.baud, o.answer ? "answered" : "not answered (nothing pending)");
    std::printf("  CPUs                  %s\n", qPrintable(cpus));
    std::printf("  overview panel        %s\n", o.overview ? "shown" : "hidden");
    std::printf("  bus                   %lld bytes in %.1f s = %.0f %% of the line; %lld polls, "
                "%lld requests answered\n",
                stat("tx_bytes"), stat("elapsed_ms") / 1000.0,
                100.0 * stat("tx_bytes") / (lineBytesPerSecond * stat("elapsed_ms") / 1000.0),
                stat("polls_sent"), stat("rx_requests"));
    std::printf("  measured              %.1f s after a %.0f s warm-up\n", seconds, o.warmup);
    std::printf("  CPU                   %.2f s = %.2f %% of one core\n", cpu,
                100.0 * cpu / seconds);
    std::printf("  capture file          %lld bytes\n",
                static_cast<long long>(QFile(window.CapturePath()).size()));
    return 0;
}
