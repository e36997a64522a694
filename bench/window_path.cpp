// The window's whole receive path offscreen: a chunk delivered by the port is kept, written
// as a capture line, framed, and each telegram shown in Memo1, with the display and the
// capture file on. The mixed stream of mixed_stream.h is handed to PrijmiData in chunks of the
// size the 40 ms polling tick reads from a saturated line, and the event loop is turned
// after each chunk, as between ticks, so that the window also lays out and paints.
//
// A timed pass runs without any observer. A second pass over the same stream watches
// Memo1's document and reads the capture file back, to check that what was timed is the
// whole path: every intact telegram shown, every byte captured in order.
//
// Usage: window_path [--mib N] [--chunk BYTES] [--seed N] [--without-display]
//                    [--without-capture] [--pcapng] [--without-overview]
#include "bench/bench_options.h"
#include "bench/window_probe.h"
#include "link/telegram.h"
#include "tests/support/mixed_stream.h"
#include "tests/support/window_fixture.h"
#include "widgets/radiogroup.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace qtr290;

namespace {

struct Options {
    double mib = 2;
    int chunk = 460; // 40 ms of a saturated 115200-baud line
    unsigned seed = 1;
    bool display = true; // off: only for telling the display's share from the rest
    bool capture = true;
    bool pcapng = false;  // the capture also as pcapng ([Wireshark] Pcapng=1)
    bool overview = true; // the overview panel, shown by default
};

bool ParseArgs(const QStringList& args, Options& o)
{
    const bool read = bench::CommandLine()
                          .Value("--mib", o.mib)
                          .Value("--chunk", o.chunk)
                          .Value("--seed", o.seed)
                          .Flag("--without-display", o.display, false)
                          .Flag("--without-capture", o.capture, false)
                          .Flag("--pcapng", o.pcapng, true)
                          .Flag("--without-overview", o.overview, false)
                          .Parse(args);
    return read && o.mib > 0 && o.chunk > 0;
}

struct Pass {
    double seconds = 0;
    long long shown = -1;
    long long errorLines = -1;
    long long intactShown = 0; // shown telegrams whose both checksums are right
    bool captureMatches = false;
    long long captureLines = 0;
    qint64 captureSize = 0;
};

Pass Run(const test::Bytes& stream, const Options& o, bool watch)
{
    test::WindowFixture window(
        bench::MeasuringSettings(QStringLiteral("/nonexistent/qtr290-bench-port"), 115200) +
            (o.pcapng ? "[Wireshark]\r\nPcapng=1\r\n" : ""),
        test::WindowFixture::System);
    TForm1& form = *window.form;
    bench::ShowEverything(form);
    if (!o.display)
        test::control<TRadioGroup>(form, "Rgp_PrijataData")->SetItemIndex(1);
    test::control<QCheckBox>(form, "Chk_VystupDoSouboru")->setChecked(o.capture);
    test::control<QCheckBox>(form, "Chk_Prehled")->setChecked(o.overview);
    std::unique_ptr<bench::MemoWatch> memo;
    Pass pass;
    if (watch)
        memo = std::make_unique<bench::MemoWatch>(test::control<LineMemo>(form, "Memo1"),
                                                  [&](const std::vector<std::uint8_t>& telegram) {
                                                      if (test::Intact(telegram))
                                                          ++pass.intactShown;
                                                  });
    QFile::remove(window.CapturePath());

    QElapsedTimer timer;
    timer.start();
    for (std::size_t at = 0; at < stream.size(); at += static_cast<std::size_t>(o.chunk)) {
        const std::size_t n = std::min(stream.size() - at, static_cast<std::size_t>(o.chunk));
        form.PrijmiData(form.Link()->SeriovyPort(), ByteSpan(stream.data() + at, n));
        QCoreApplication::processEvents();
        if (memo)
            memo->KeepShort();
    }
    pass.seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;

    if (memo) {
        pass.shown = memo->Telegrams();
        pass.errorLines = memo->ErrorLines();
    }
    pass.captureSize = QFile(window.CapturePath()).size();
    const auto captured = bench::CaptureBytes(window.CapturePath(), &pass.captureLines);
    pass.captureMatches = captured && *captured == stream;
    return pass;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options o;
    if (!ParseArgs(app.arguments(), o)) {
        std::fprintf(stderr,
                     "usage: window_path [--mib N] [--chunk BYTES] [--seed N] "
                     "[--without-display] [--without-capture] [--pcapng] [--without-overview]\n");
        return 2;
    }
    const auto stream =
        test::MakeMixedStream(static_cast<std::size_t>(o.mib * 1024 * 1024), o.seed);

    const Pass timed = Run(stream.bytes, o, false);
    const Pass checked = Run(stream.bytes, o, true);

    const double bytes = static_cast<double>(stream.bytes.size());
    const double telegrams = static_cast<double>(stream.intact);
    std::printf("window receive path, offscreen, display %s, capture file %s%s, overview %s, "
                "%d-byte chunks\n",
                o.display ? "on" : "off", o.capture ? "on" : "off", o.pcapng ? " (and pcapng)" : "",
                o.overview ? "shown" : "hidden", o.chunk);
    std::printf(
        "  stream                %.0f bytes: %zu intact telegrams (%zu polls), %zu damaged, "
        "%zu noise bytes\n",
        bytes, stream.intact, stream.polls, stream.damaged, stream.noise);
    std::printf(
        "  timed pass            %.3f s: %.0f telegrams/s, %.0f bytes/s = %.1f x a saturated "
        "115200-baud line, %.1f x 256000 baud\n",
        timed.seconds, telegrams / timed.seconds, bytes / timed.seconds,
        bytes / timed.seconds / 11520.0, bytes / timed.seconds / 25600.0);
    std::printf("  capture file          %lld lines, %lld bytes\n", timed.captureLines,
                static_cast<long long>(timed.captureSize));
    std::printf("  checked pass          %.3f s with Memo1 watched (%.0f telegrams/s)\n",
                checked.seconds, telegrams / checked.seconds);
    std::printf("  shown in Memo1        %lld telegrams (%lld intact), %lld checksum-error lines; "
                "put in: %zu intact\n",
                checked.shown, checked.intactShown, checked.errorLines, stream.intact);
    if (o.capture)
        std::printf("  captured in order     %s (timed pass), %s (checked pass)\n",
                    timed.captureMatches ? "every byte" : "NO",
                    checked.captureMatches ? "every byte" : "NO");
    const bool whole = (!o.display || (checked.shown == static_cast<long long>(stream.intact) &&
                                       checked.intactShown == checked.shown)) &&
                       (!o.capture || (timed.captureMatches && checked.captureMatches));
    std::printf("  whole path            %s\n", whole ? "yes: nothing missing from what is on"
                                                      : "NO: telegrams or bytes went missing");
    return whole ? 0 : 1;
}
