#include "bench/sim_process.h"

#include "link/telegram.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>
#include <utility>

namespace qtr290::bench {

std::optional<SimLogLine> ParseSimLogLine(const std::string& line)
{
    std::istringstream in(line);
    SimLogLine parsed;
    if (!(in >> parsed.ms >> parsed.direction >> parsed.kind))
        return std::nullopt;
    if (parsed.direction != "TX" && parsed.direction != "RX")
        return std::nullopt;
    if (parsed.kind == "damaged") { // "damaged header", "damaged block"
        std::string what;
        in >> what;
        parsed.kind += " " + what;
    }
    // Then the bytes, two hexadecimal digits each, up to the first word that is none.
    std::string word;
    while (in >> word && word.size() == 2 && std::isxdigit(static_cast<unsigned char>(word[0])) &&
           std::isxdigit(static_cast<unsigned char>(word[1])))
        parsed.bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
    return parsed;
}

std::vector<double> PollAnswerLatencies(const std::vector<SimLogLine>& log,
                                        const std::vector<std::uint8_t>& answeredSequence)
{
    std::vector<double> latencies;
    std::size_t answer = 0;
    std::map<std::uint8_t, double> pollWritten; // sequence number -> time of its last byte
    for (const auto& line : log) {
        if (line.direction == "TX" && line.kind == "poll") {
            if (const auto lengths = TelegramLength(line.bytes);
                lengths && line.bytes.size() > lengths->header)
                pollWritten[line.bytes[lengths->header]] = line.ms;
        } else if (line.direction == "RX" && line.kind == "read-request" &&
                   answer < answeredSequence.size()) {
            const auto poll = pollWritten.find(answeredSequence[answer++]);
            if (poll != pollWritten.end())
                latencies.push_back(line.ms - poll->second);
        }
    }
    return latencies;
}

// User and system time of a process in seconds (fields 14 and 15 of /proc/PID/stat).
std::optional<double> ProcessCpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray stat = file.readAll();
    // The command name may hold spaces; the fields that follow it start after its ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
}

double Percentile(const std::vector<double>& sorted, double p)
{
    const auto rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

QString SimProcess::KeepApart()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2)
        return QStringLiteral("fewer than two CPUs: the simulator shares them with the window");
    int simCpu = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed))
            simCpu = cpu;
    cpu_set_t sim;
    CPU_ZERO(&sim);
    CPU_SET(simCpu, &sim);
    cpu_set_t rest = allowed;
    CPU_CLR(simCpu, &rest);
    const auto pid = static_cast<pid_t>(FProcess.processId());
    if (pid <= 0 || ::sched_setaffinity(pid, sizeof sim, &sim) != 0 ||
        ::sched_setaffinity(0, sizeof rest, &rest) != 0)
        return QStringLiteral(
            "CPU affinity refused: the simulator shares the CPUs with the window");
    return QStringLiteral("simulator on CPU %1, this process on the other %2")
        .arg(simCpu)
        .arg(CPU_COUNT(&rest));
}

SimProcess::SimProcess(QString program) : FProgram(std::move(program)) {}

SimProcess::~SimProcess()
{
    Stop();
}

QString SimProcess::Start(const QStringList& args)
{
    if (!FDir.isValid()) {
        FError = QStringLiteral("no temporary folder");
        return {};
    }
    FProcess.setProcessChannelMode(QProcess::SeparateChannels);
    FProcess.start(FProgram, QStringList{"--log", LogPath(), "--stats",
                                         FDir.filePath(QStringLiteral("stats.txt")), "--quiet"} +
                                 args);
    if (!FProcess.waitForStarted(5000)) {
        FError = FProgram + QStringLiteral(" did not start: ") + FProcess.errorString();
        return {};
    }
    QElapsedTimer waited;
    waited.start();
    while (!FProcess.canReadLine() && FProcess.state() == QProcess::Running &&
           waited.elapsed() < 5000)
        FProcess.waitForReadyRead(100);
    const QString device = QString::fromUtf8(FProcess.readLine()).trimmed();
    if (device.isEmpty())
        FError = QStringLiteral("the simulator announced no device: ") +
                 QString::fromUtf8(FProcess.readAllStandardError());
    return device;
}

bool SimProcess::RunUntilFinished(int timeoutMs)
{
    // The caller's timers run in a plain event loop, as under the window's exec().
    if (FProcess.state() != QProcess::NotRunning) {
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        QObject::connect(&FProcess, &QProcess::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return FProcess.state() == QProcess::NotRunning;
}

void SimProcess::Stop()
{
    if (FProcess.state() == QProcess::NotRunning)
        return;
    FProcess.terminate(); // the simulator writes its summary on SIGTERM
    if (!FProcess.waitForFinished(3000)) {
        FProcess.kill();
        FProcess.waitForFinished(2000);
    }
}

std::vector<SimLogLine> SimProcess::Log() const
{
    std::vector<SimLogLine> lines;
    QFile file(LogPath());
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    while (!file.atEnd())
        if (auto line = ParseSimLogLine(file.readLine().trimmed().toStdString()))
            lines.push_back(std::move(*line));
    return lines;
}

std::map<std::string, long long> SimProcess::Stats() const
{
    std::map<std::string, long long> stats;
    QFile file(FDir.filePath(QStringLiteral("stats.txt")));
    if (!file.open(QIODevice::ReadOnly))
        return stats;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const auto eq = line.indexOf('=');
        if (eq > 0)
            stats[line.left(eq).trimmed().toStdString()] = line.mid(eq + 1).trimmed().toLongLong();
    }
    return stats;
}

} // namespace qtr290::bench
