// The bus simulator (qtr290-sim) as a child process of a benchmark harness: started on a
// pseudo-terminal, run in an event loop until it exits, its log and summary read
// back afterwards.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qtr290::bench {

struct SimLogLine {
    double ms = 0;                   // since the simulator's start, as it logged it
    std::string direction;           // "TX" or "RX"
    std::string kind;                // "poll", "read-request", "damaged header", ...
    std::vector<std::uint8_t> bytes; // the telegram, as logged
};

// One line of the simulator's --log; nullopt for anything else.
std::optional<SimLogLine> ParseSimLogLine(const std::string& line);

// Poll-answer latencies in ms from the simulator's log: from the moment it wrote a poll's
// last byte to the moment it read the answer back. The simulator reads the answers in the
// order they were sent; `answeredSequence` holds the sequence number of the poll each
// answered, and each goes with the latest poll of that number written before it was read.
std::vector<double> PollAnswerLatencies(const std::vector<SimLogLine>& log,
                                        const std::vector<std::uint8_t>& answeredSequence);

// User and system time of a process in seconds (fields 14 and 15 of /proc/PID/stat).
std::optional<double> ProcessCpuSeconds(qint64 pid);

// Nearest rank of a sorted sample (p in percent).
double Percentile(const std::vector<double>& sorted, double p);

class SimProcess {
public:
    explicit SimProcess(QString program);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts it with --log and --stats into a temporary folder plus `args`; returns the
    // device path it announces, or an empty string (the reason in Error()).
    QString Start(const QStringList& args);
    // A line kept full at `baud` for `seconds`, polls `pollIntervalMs` apart.
    QString StartSaturated(unsigned baud, int pollIntervalMs, double seconds)
    {
        return Start({"--baud", QString::number(baud), "--saturate", "--poll-interval",
                      QString::number(pollIntervalMs), "--duration", QString::number(seconds)});
    }
    // Runs an event loop until the simulator exits or `timeoutMs` pass.
    bool RunUntilFinished(int timeoutMs);
    void Stop();
    // Gives the running simulator a CPU of its own and keeps this process off it, as the
    // device and the line are other hardware: a harness that keeps the window busy must
    // not make the simulator late. Says what was done, or why nothing was (fewer than two
    // CPUs available).
    QString KeepApart();

    std::vector<SimLogLine> Log() const;
    std::map<std::string, long long> Stats() const;
    QString LogPath() const { return FDir.filePath(QStringLiteral("sim.log")); }
    QString Error() const { return FError; }

private:
    QString FProgram;
    QTemporaryDir FDir;
    QProcess FProcess;
    QString FError;
};

} // namespace qtr290::bench
