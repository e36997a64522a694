#include "tools/qtr290-ctl/ctl_commands.h"

#include "settings/filelocations.h"
#include "tools/qtr290-ctl/ctl_input.h"
#include "tools/qtr290-ctl/ctl_output.h"
#include "tools/qtr290-ctl/ctl_remote.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <memory>
#include <ostream>

#ifndef QTR290_VERSION
#define QTR290_VERSION "0"
#endif

namespace qtr290::ctl {

namespace {

constexpr int StopCheckMs = 20;
constexpr int OverrunCheckMs = 1000;

bool EndedByTheStation(const RequestResult& result)
{
    return result.removed == RequestResult::Removed::PortLost ||
           result.removed == RequestResult::Removed::Interrupted;
}

// One run of a command on an open station: the event loop, the stop signals, the lost port
// and the output, whose failure ends the run.
class Session {
public:
    Session(const Options& options, Station& station, std::ostream& out, std::ostream& err)
        : FOptions(options), FStation(station), FOut(out), FErr(err)
    {
    }
    int Run(int inputFd);

private:
    void WatchStopsAndLoss();
    void WatchOverruns();
    void StartRequest();
    void StartMonitor();
    void StartBatch(int inputFd);
    void PumpBatch();
    bool Print(const std::string& line);
    void End(int status)
    {
        FEnded = true;
        FLoop.exit(status);
    }

    const Options& FOptions;
    Station& FStation;
    std::ostream& FOut;
    std::ostream& FErr;
    QEventLoop FLoop;
    QTimer FWatch, FDuration, FOverrunWatch;
    std::uint64_t FOverrunsTold = 0;
    std::unique_ptr<LineInput> FInput;
    unsigned long FShown = 0;
    bool FEnded = false;
};

bool Session::Print(const std::string& line)
{
    if (FEnded)
        return false;
    if (PrintLine(FOut, FErr, line))
        return true;
    FStation.Abandon(RequestResult::Removed::Interrupted);
    End(ExitStream);
    return false;
}

void Session::WatchStopsAndLoss()
{
    FStation.onLost = [this] {
        FErr << "qtr290-ctl: " << FStation.Port().Describe() << ": the device went away\n";
        End(ExitPort);
    };
    QObject::connect(&FWatch, &QTimer::timeout, [this] {
        if (!StopRequested() || FEnded)
            return;
        FStation.Abandon(RequestResult::Removed::Interrupted);
        End(FOptions.command == Command::Monitor ? ExitDone : ExitInterrupted);
    });
    FWatch.start(StopCheckMs);
}

// Bytes the device lost are told as such, not left to show up as checksum errors.
void Session::WatchOverruns()
{
    QObject::connect(&FOverrunWatch, &QTimer::timeout, [this] {
        const auto overruns = FStation.Overruns();
        if (!overruns || *overruns <= FOverrunsTold || FEnded)
            return;
        FOverrunsTold = *overruns;
        FErr << "qtr290-ctl: " << FStation.Port().Describe() << ": " << *overruns
             << " received bytes lost to overruns so far (the line is faster than they are read)\n";
    });
    FOverrunWatch.start(OverrunCheckMs);
}

void Session::StartRequest()
{
    FStation.Start(FOptions.request, [this](const RequestResult& r) {
        if (EndedByTheStation(r) || !Print(FormatResult(r, FOptions.json)))
            return;
        End(ExitFor(r.removed));
    });
}

void Session::StartMonitor()
{
    const Options& o = FOptions;
    FStation.onTelegram = [this, &o](ByteSpan t, bool isPoll) {
        if ((o.noPolls && isPoll) || (o.filterFrom && TelegramFrom(t) != *o.filterFrom) ||
            (o.filterTo && TelegramTo(t) != *o.filterTo))
            return;
        if (Print(FormatTelegram(TimeNow(), t, o.json)) && o.stopAfterCount &&
            ++FShown >= *o.stopAfterCount)
            End(ExitDone);
    };
    FStation.onDamage = [this, &o](FramerError e) { Print(FormatDamage(TimeNow(), e, o.json)); };
    if (o.durationSeconds) {
        FDuration.setSingleShot(true);
        QObject::connect(&FDuration, &QTimer::timeout, [this] { End(ExitDone); });
        FDuration.start(static_cast<int>(*o.durationSeconds * 1000));
    }
}

void Session::StartBatch(int inputFd)
{
    FInput = std::make_unique<LineInput>(inputFd, [this] { PumpBatch(); });
    QTimer::singleShot(0, &FLoop, [this] { PumpBatch(); });
}

// Takes the next line only when the request before it is done: input waits in its pipe.
void Session::PumpBatch()
{
    while (!FStation.Busy() && !FEnded && !FStation.DeviceLost()) {
        const BatchStep step = NextBatchRequest(*FInput, FOptions.request,
                                                [this](const std::string& line) { Print(line); });
        if (step.kind == BatchStep::Kind::Failure) {
            FErr << "qtr290-ctl: standard input: " << FInput->Failure() << '\n';
            End(ExitStream);
        }
        if (step.kind == BatchStep::Kind::End)
            End(ExitDone);
        if (step.kind != BatchStep::Kind::Ready)
            return;
        const Request& r = step.request;
        FStation.Start(r, [this, op = r.write ? "write" : "read"](const RequestResult& result) {
            if (!EndedByTheStation(result) && Print(FormatResult(result, true, op)))
                PumpBatch();
        });
    }
}

int Session::Run(int inputFd)
{
    WatchStopsAndLoss();
    WatchOverruns();
    switch (FOptions.command) {
    case Command::Read:
    case Command::Write:
        StartRequest();
        break;
    case Command::Monitor:
        StartMonitor();
        break;
    case Command::Batch:
        StartBatch(inputFd);
        break;
    case Command::None:
        return ExitUsage;
    }
    const int status = FLoop.exec();
    const auto overruns = FStation.Overruns();
    FStation.Close();
    if (FOptions.command == Command::Monitor)
        FErr << "qtr290-ctl: " << FormatSummary(FStation.Counts(), overruns) << '\n';
    return status;
}

// --help and --version, whose output may fail too.
int PrintAndEnd(const std::string& text, std::ostream& out, std::ostream& err)
{
    out << text;
    out.flush();
    if (out.good())
        return ExitDone;
    err << "qtr290-ctl: cannot write to standard output\n";
    return ExitStream;
}

} // namespace

int ExitFor(RequestResult::Removed removed)
{
    switch (removed) {
    case RequestResult::Removed::Reply:
    case RequestResult::Removed::OnceOnly:
        return ExitDone;
    case RequestResult::Removed::Cleared:
    case RequestResult::Removed::Timeout:
        return ExitTimeout;
    case RequestResult::Removed::Interrupted:
        return ExitInterrupted;
    case RequestResult::Removed::PortLost:
        break;
    }
    return ExitPort;
}

QString SettingsFileToRead(const QString& programDir)
{
    const QString named = qEnvironmentVariable("QTR290_SETTINGS");
    if (!named.isEmpty())
        return named;
    const FileLocations where = LocateFiles(SystemFolders(programDir));
    if (!where.seedSettingsFile.isEmpty() && !QFileInfo::exists(where.settingsFile) &&
        QFileInfo::exists(where.seedSettingsFile))
        return where.seedSettingsFile;
    return where.settingsFile;
}

int Run(const std::vector<std::string>& args, int inputFd, std::ostream& out, std::ostream& err)
{
    const auto parsed = ParseArguments(args);
    if (const auto* usage = std::get_if<UsageError>(&parsed)) {
        err << "qtr290-ctl: " << usage->message << "\nTry 'qtr290-ctl --help'.\n";
        return ExitUsage;
    }
    const Options& o = std::get<Options>(parsed);
    if (o.broker && !o.help && !o.version)
        return RunRemote(o, inputFd, out, err);
    const QString settingsFile = SettingsFileToRead(QCoreApplication::applicationDirPath());
    if (o.help)
        return PrintAndEnd(HelpText(o.verbose ? settingsFile.toStdString() : std::string()), out,
                           err);
    if (o.version)
        return PrintAndEnd(std::string("qtr290-ctl ") + QTR290_VERSION + '\n', out, err);

    const auto chosen = ChoosePortChecked(o, settingsFile);
    if (const auto* refused = std::get_if<UsageError>(&chosen)) {
        err << "qtr290-ctl: " << refused->message << '\n';
        return ExitUsage;
    }
    Station station(std::get<PortChoice>(chosen));
    if (o.verbose)
        err << "qtr290-ctl: settings file " << settingsFile.toStdString() << "; port "
            << station.Port().Describe() << " at " << station.Port().baud << " baud\n";
    std::string why;
    if (!station.Open(why)) {
        err << "qtr290-ctl: cannot open " << station.Port().Describe() << ": " << why << '\n';
        return ExitPort;
    }
    return Session(o, station, out, err).Run(inputFd);
}

} // namespace qtr290::ctl
