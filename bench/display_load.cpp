// The utility's CPU as an operator runs it: the real program, started from a folder of its own
// with a settings file that names the simulator's pseudo-terminal, on an X display (a private
// Xvfb unless --display names one), so that every paint the X server asks for is counted.
// qtr290-sim fills the line; after a warm-up the CPU time of the program's process (and of the
// X server, apart) over the measured span is read from /proc and set beside the wall time.
// Nothing is pending in the program, so no poll is answered.
//
// Usage: display_load [--seconds N] [--warmup N] [--baud N] [--poll-interval MS] [--panel 0|1]
//                     [--idle] [--display :N] [--perf FILE] [--screenshot FILE]
//                     [--program PATH] [--sim PATH] [-- PROGRAM ARGS]
// --panel writes [Prehled] Zobrazit; --idle opens a pseudo-terminal nobody writes to; --perf
// records the program's call graphs over the measured span (perf record -g); --screenshot
// saves the display at the end (ImageMagick's import). --program runs another program in the
// same place, with the arguments after "--": paint_floor, for the floor under the utility.
#include "bench/sim_process.h"
#include "tests/support/pseudo_terminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <optional>

#include <unistd.h>

using namespace qtr290;

namespace {

struct Options {
    double seconds = 60;
    double warmup = 5;
    int baud = 256000;
    int pollInterval = 127;
    int panel = 1;
    bool idle = false;
    QString display; // empty: a private Xvfb
    QString perf;
    QString screenshot;
    QString program = QStringLiteral(QTR290_PROGRAM_PATH);
    QStringList programArgs; // after "--"
    QString sim = QStringLiteral(QTR290_SIM_PATH);
};

bool ParseArgs(const QStringList& args, Options& o)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--") {
            o.programArgs = args.mid(i + 1);
            break;
        }
        const bool hasValue = i + 1 < args.size();
        bool ok = true;
        if (a == "--seconds" && hasValue)
            o.seconds = args[++i].toDouble(&ok);
        else if (a == "--warmup" && hasValue)
            o.warmup = args[++i].toDouble(&ok);
        else if (a == "--baud" && hasValue)
            o.baud = args[++i].toInt(&ok);
        else if (a == "--poll-interval" && hasValue)
            o.pollInterval = args[++i].toInt(&ok);
        else if (a == "--panel" && hasValue)
            o.panel = args[++i].toInt(&ok);
        else if (a == "--idle")
            o.idle = true;
        else if (a == "--display" && hasValue)
            o.display = args[++i];
        else if (a == "--perf" && hasValue)
            o.perf = args[++i];
        else if (a == "--screenshot" && hasValue)
            o.screenshot = args[++i];
        else if (a == "--program" && hasValue)
            o.program = args[++i];
        else if (a == "--sim" && hasValue)
            o.sim = args[++i];
        else
            return false;
        if (!ok)
            return false;
    }
    return o.seconds > 0 && o.warmup >= 0 && o.baud > 0 && o.pollInterval > 0 &&
           (o.panel == 0 || o.panel == 1);
}

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QString LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// A private X server on the first display number that no lock file claims.
class PrivateDisplay {
public:
    ~PrivateDisplay()
    {
        if (FServer.state() != QProcess::NotRunning) {
            FServer.terminate();
            FServer.waitForFinished(3000);
        }
    }

    QString Start()
    {
        for (int number = 90; number < 190; ++number) {
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
                continue;
            const QString name = QStringLiteral(":%1").arg(number);
            FServer.start(QStringLiteral("Xvfb"),
                          {name, "-screen", "0", "1920x1200x24", "-nolisten", "tcp", "-noreset"});
            if (!FServer.waitForStarted(3000))
                return {};
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
            QDeadlineTimer deadline(5000);
            while (!QFile::exists(socket) && FServer.state() == QProcess::Running &&
                   !deadline.hasExpired())
                QThread::msleep(20);
            if (FServer.state() == QProcess::Running && QFile::exists(socket))
                return name;
            FServer.kill();
            FServer.waitForFinished(1000);
        }
        return {};
    }

    qint64 Pid() const { return FServer.processId(); }

private:
    QProcess FServer;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    if (!ParseArgs(app.arguments(), o)) {
        std::fprintf(stderr, "usage: display_load [--seconds N] [--warmup N] [--baud N] "
                             "[--poll-interval MS] [--panel 0|1] [--idle] [--display :N] "
                             "[--perf FILE] [--screenshot FILE] [--program PATH] [--sim PATH] "
                             "[-- PROGRAM ARGS]\n");
        return 2;
    }

    bench::SimProcess sim(o.sim);
    test::Pty quiet;
    const double total = o.warmup + o.seconds + 5;
    const QString device = o.idle ? QString::fromStdString(quiet.path())
                                  : sim.StartSaturated(o.baud, o.pollInterval, total);
    if (device.isEmpty()) {
        std::fprintf(stderr, "display_load: %s\n", qPrintable(sim.Error()));
        return 1;
    }
    // The X server and the program start after this and keep to the harness's CPUs.
    const QString cpus = o.idle ? QStringLiteral("no simulator") : sim.KeepApart();

    PrivateDisplay server;
    const QString display = o.display.isEmpty() ? server.Start() : o.display;
    if (display.isEmpty()) {
        std::fprintf(stderr, "display_load: no X server (is Xvfb installed?)\n");
        return 1;
    }

    // A folder of its own: the program keeps its settings file and capture file beside it.
    QTemporaryDir folder;
    const QString program = folder.filePath(QFileInfo(o.program).fileName());
    if (!folder.isValid() || !QFile::copy(o.program, program)) {
        std::fprintf(stderr, "display_load: cannot copy %s\n", qPrintable(o.program));
        return 1;
    }
    QFile settings(folder.filePath(QStringLiteral("nastaveni.ini")));
    if (!settings.open(QIODevice::WriteOnly))
        return 1;
    settings.write(
        QStringLiteral("[Seriovy port]\r\nPort=1\r\nBaud rate=%1\r\n[Porty]\r\nCOM1=%2\r\n"
                       "[Prehled]\r\nZobrazit=%3\r\n")
            .arg(o.baud)
            .arg(device)
            .arg(o.panel)
            .toUtf8());
    settings.close();

    QProcess utility;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    utility.setProcessEnvironment(environment);
    utility.setProcessChannelMode(QProcess::ForwardedChannels);
    utility.start(program, o.programArgs);
    if (!utility.waitForStarted(5000)) {
        std::fprintf(stderr, "display_load: %s did not start\n", qPrintable(program));
        return 1;
    }
    const qint64 pid = utility.processId();
    const QString loadBefore = LoadAverage();

    Wait(int(o.warmup * 1000));
    QProcess perf;
    if (!o.perf.isEmpty()) {
        perf.start(QStringLiteral("perf"),
                   {"record", "-g", "-q", "-o", o.perf, "-p", QString::number(pid), "--", "sleep",
                    QString::number(o.seconds)});
        perf.waitForStarted(5000);
    }
    const auto cpu0 = bench::ProcessCpuSeconds(pid);
    const auto server0 = bench::ProcessCpuSeconds(server.Pid());
    QElapsedTimer wall;
    wall.start();
    Wait(int(o.seconds * 1000));
    const auto cpu1 = bench::ProcessCpuSeconds(pid);
    const auto server1 = bench::ProcessCpuSeconds(server.Pid());
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const QString loadAfter = LoadAverage();
    if (!o.perf.isEmpty())
        perf.waitForFinished(int(o.seconds * 1000) + 30000);
    if (!o.screenshot.isEmpty())
        QProcess::execute(QStringLiteral("import"),
                          {"-display", display, "-window", "root", o.screenshot});

    const bool running = utility.state() == QProcess::Running;
    utility.terminate(); // the window closes through its own close
    if (!utility.waitForFinished(5000))
        utility.kill();
    if (!running || !cpu0 || !cpu1) {
        std::fprintf(stderr, "display_load: the program ended during the run\n");
        return 1;
    }

    std::printf("utility CPU on %s, real display %s, overview panel %s, capture off, "
                "nothing pending\n",
                o.idle ? "a quiet line"
                       : qPrintable(QStringLiteral("a saturated %1-baud bus").arg(o.baud)),
                qPrintable(display), o.panel ? "shown" : "hidden");
    if (!o.idle) {
        sim.RunUntilFinished(20000);
        const auto stats = sim.Stats();
        const auto stat = [&](const char* key) {
            const auto it = stats.find(key);
            return it == stats.end() ? -1LL : it->second;
        };
        std::printf("  CPUs                  %s\n", qPrintable(cpus));
        std::printf("  bus                   %lld bytes in %.1f s, %lld polls\n", stat("tx_bytes"),
                    stat("elapsed_ms") / 1000.0, stat("polls_sent"));
    }
    std::printf("  load average          %s before, %s after\n", qPrintable(loadBefore),
                qPrintable(loadAfter));
    std::printf("  measured              %.1f s after a %.0f s warm-up\n", seconds, o.warmup);
    std::printf("  CPU                   %.2f s = %.2f %% of one core\n", *cpu1 - *cpu0,
                100.0 * (*cpu1 - *cpu0) / seconds);
    if (server0 && server1)
        std::printf("  X server              %.2f s = %.2f %% of one core\n", *server1 - *server0,
                    100.0 * (*server1 - *server0) / seconds);
    return 0;
}
