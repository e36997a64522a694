#include "tools/qtr290-sim/simulator.h"

#include "link/framer.h"
#include "tools/standard_output.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace qtr290::sim {

namespace {

constexpr Nanos Millisecond = 1'000'000;

volatile std::sig_atomic_t g_signals = 0;

extern "C" void OnSignal(int)
{
    g_signals = g_signals + 1;
}

std::string Hex(ByteSpan bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (auto b : bytes) {
        if (!s.empty())
            s += ' ';
        s += digits[b >> 4];
        s += digits[b & 0x0F];
    }
    return s;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "A6 00 F0" or "A600F0"; nullopt on anything else.
std::optional<Bytes> ParseHexLine(std::string_view line)
{
    Bytes bytes;
    int high = -1;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == ',')
            continue;
        const int d = HexDigit(c);
        if (d < 0)
            return std::nullopt;
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | d));
            high = -1;
        }
    }
    if (high >= 0 || bytes.empty())
        return std::nullopt;
    return bytes;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string_view ReceivedKind(ByteSpan telegram)
{
    if (IsPoll(telegram))
        return "poll";
    if (telegram[0] == SyncLong && (telegram[3] & 0x0F) == RequestFunctionBits)
        return (telegram[3] & WriteFlag) ? "write-request" : "read-request";
    return "telegram";
}

} // namespace

void SimStats::Write(std::ostream& out) const
{
    const std::pair<const char*, std::uint64_t> rows[] = {
        {"elapsed_ms", elapsedMs},
        {"polls_sent", pollsSent},
        {"tx_telegrams", txTelegrams},
        {"tx_read_replies", txReadReplies},
        {"tx_status_replies", txStatusReplies},
        {"tx_filler", txFiller},
        {"tx_script", txScript},
        {"tx_noise", txNoise},
        {"tx_bytes", txBytes},
        {"rx_bytes", rxBytes},
        {"rx_telegrams", rxTelegrams},
        {"rx_header_errors", rxHeaderErrors},
        {"rx_block_errors", rxBlockErrors},
        {"rx_requests", rxRequests},
        {"reads_answered", readsAnswered},
        {"writes_applied", writesApplied},
        {"requests_rejected", requestsRejected},
        {"injected_header_errors", injectedHeaderErrors},
        {"injected_block_errors", injectedBlockErrors},
        {"injected_noise_bytes", injectedNoiseBytes},
        {"split_telegrams", splitTelegrams},
        {"line_telegrams", lineTelegrams},
        {"line_polls", linePolls},
        {"line_header_errors", lineHeaderErrors},
        {"line_block_errors", lineBlockErrors},
        {"backlog_flushes", backlogFlushes},
        {"replay_lines", replayLines},
        {"replay_packets", replayPackets},
        {"replay_bytes", replayBytes},
        {"replay_span_ms", replaySpanMs},
        {"replay_skipped", replaySkipped},
        {"replay_passes", replayPasses},
    };
    for (const auto& [key, value] : rows)
        out << key << '=' << value << '\n';
}

Simulator::Simulator(SimOptions options)
    : FOptions(std::move(options)), FRandom(FOptions.seed), FDevice(FOptions.deviceAddress),
      FLine(FOptions.baud), FFaults(FOptions), FFiller(FOptions)
{
}

Simulator::~Simulator()
{
    RemoveLink();
    if (FLog && FLog != stderr)
        std::fclose(FLog);
    if (FMaster >= 0)
        ::close(FMaster);
    if (FSlave >= 0)
        ::close(FSlave);
}

Nanos Simulator::Now() const
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

bool Simulator::OpenDevice()
{
    if (::openpty(&FMaster, &FSlave, nullptr, nullptr, nullptr) != 0) {
        std::cerr << "qtr290-sim: openpty failed: " << std::strerror(errno) << '\n';
        return false;
    }
    // Raw before anyone can open it: the far end must never echo or translate bytes.
    termios tio{};
    if (::tcgetattr(FSlave, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(FSlave, TCSANOW, &tio);
    }
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    ::fcntl(FMaster, F_SETFD, FD_CLOEXEC);
    ::fcntl(FSlave, F_SETFD, FD_CLOEXEC);
    const char* name = ::ttyname(FSlave);
    if (!name) {
        std::cerr << "qtr290-sim: no name for the pseudo-terminal\n";
        return false;
    }
    FSlavePath = name;
    return true;
}

bool Simulator::CreateLink()
{
    const std::string& path = FOptions.linkPath;
    char existing[4096];
    if (::readlink(path.c_str(), existing, sizeof existing) < 0 && errno != ENOENT) {
        std::cerr << "qtr290-sim: " << path << " exists and is no symbolic link\n";
        return false;
    }
    // A new link renamed over the old one, so the path never dangles mid-way.
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    if (::symlink(FSlavePath.c_str(), temporary.c_str()) != 0 ||
        ::rename(temporary.c_str(), path.c_str()) != 0) {
        std::cerr << "qtr290-sim: cannot link " << path << ": " << std::strerror(errno) << '\n';
        ::unlink(temporary.c_str());
        return false;
    }
    FLinkCreated = true;
    return true;
}

void Simulator::RemoveLink()
{
    if (!FLinkCreated)
        return;
    FLinkCreated = false;
    char target[4096];
    const ssize_t n = ::readlink(FOptions.linkPath.c_str(), target, sizeof target - 1);
    // Only our own link: another simulator may have taken the path over meanwhile.
    if (n > 0 && std::string_view(target, static_cast<std::size_t>(n)) == FSlavePath)
        ::unlink(FOptions.linkPath.c_str());
}

void Simulator::Log(const char* direction, std::string_view kind, ByteSpan bytes,
                    std::string_view extra)
{
    if (!FLog)
        return;
    const double ms = static_cast<double>(Now() - FStart) / 1e6;
    std::fprintf(FLog, "%.3f %s %.*s%s%s%.*s\n", ms, direction, static_cast<int>(kind.size()),
                 kind.data(), bytes.empty() ? "" : " ", Hex(bytes).c_str(),
                 static_cast<int>(extra.size()), extra.data());
}

void Simulator::Emit(Bytes telegram, TxKind kind, bool urgent, Nanos now, bool continuous)
{
    for (auto& item : FFaults.Prepare(std::move(telegram), kind, FRandom))
        FLine.Push(std::move(item), urgent, now, continuous);
}

void Simulator::QueuePoll(Nanos now)
{
    ++FPollsQueued;
    bool shortPoll = FOptions.pollKind == PollKind::Short;
    if (FOptions.pollKind == PollKind::Mixed) {
        shortPoll = FNextPollShort;
        FNextPollShort = !FNextPollShort;
    }
    Emit(BuildPoll(shortPoll, FOptions.pollStation, FOptions.masterAddress,
                   static_cast<std::uint8_t>(FPollsQueued)),
         TxKind::Poll, false, now);
}

void Simulator::QueueFiller(Nanos now)
{
    std::size_t room = 263;
    if (FOptions.pollIntervalMs > 0) {
        const Nanos gap = FNextPoll - FLine.FreeAt(now);
        room = gap <= 0 ? 0 : std::min<std::size_t>(room, gap / FLine.ByteTime());
    }
    Bytes telegram = FFiller.Next(room, FRandom);
    if (!telegram.empty())
        Emit(std::move(telegram), TxKind::Filler, false, now, true);
}

void Simulator::BeginStop(Nanos now)
{
    if (FStopping)
        return;
    FStopping = true;
    FDrainUntil = now + Nanos{FOptions.lingerMs} * Millisecond;
}

std::size_t Simulator::WriteToLine(ByteSpan bytes)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ssize_t n = ::write(FMaster, bytes.data(), bytes.size());
        if (n > 0) {
            const auto written = static_cast<std::size_t>(n);
            FStats.txBytes += written;
            FLineAccumulator.insert(FLineAccumulator.end(), bytes.begin(),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(written));
            ZpracujPrijem(FLineAccumulator, {[this](ByteSpan t) {
                                                 ++FStats.lineTelegrams;
                                                 FStats.linePolls += IsPoll(t) ? 1 : 0;
                                             },
                                             [this](FramerError e) {
                                                 ++(e == FramerError::HeaderChecksum
                                                        ? FStats.lineHeaderErrors
                                                        : FStats.lineBlockErrors);
                                             }});
            FBlocked = false;
            return written;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            std::cerr << "qtr290-sim: write failed: " << std::strerror(errno) << '\n';
            FFatal = true;
            return 0;
        }
        // Full: nobody has read the device for a long while. Drop the stale backlog, as a
        // bus drops bytes nobody listens to, rather than holding the bus up.
        if (attempt == 0) {
            ::tcflush(FSlave, TCIFLUSH);
            ++FStats.backlogFlushes;
        }
    }
    FBlocked = true;
    return 0;
}

void Simulator::Sent(const OutItem& item)
{
    std::string extra;
    if (item.fault != TxFault::None)
        extra = item.fault == TxFault::Header ? " fault=header" : " fault=block";
    if (!item.pauses.empty())
        extra += " split=" + std::to_string(item.pauses.size() + 1);
    Log("TX", TxKindName(item.kind), item.bytes, extra);

    switch (item.kind) {
    case TxKind::Noise:
        ++FStats.txNoise;
        FStats.injectedNoiseBytes += item.bytes.size();
        return;
    case TxKind::Script:
        ++FStats.txScript;
        return;
    case TxKind::Replay:
        ++(FReplay && FReplay->FileFormat() == ReplayFile::Format::Packets ? FStats.replayPackets
                                                                           : FStats.replayLines);
        FStats.replayBytes += item.bytes.size();
        FStats.injectedHeaderErrors += item.fault == TxFault::Header ? 1 : 0;
        FStats.injectedBlockErrors += item.fault == TxFault::Block ? 1 : 0;
        FStats.splitTelegrams += item.pauses.empty() ? 0 : 1;
        return;
    case TxKind::Poll:
        ++FStats.pollsSent;
        break;
    case TxKind::ReadReply:
        ++FStats.txReadReplies;
        break;
    case TxKind::StatusReply:
        ++FStats.txStatusReplies;
        break;
    case TxKind::Filler:
        ++FStats.txFiller;
        break;
    }
    ++FStats.txTelegrams;
    FStats.injectedHeaderErrors += item.fault == TxFault::Header ? 1 : 0;
    FStats.injectedBlockErrors += item.fault == TxFault::Block ? 1 : 0;
    FStats.splitTelegrams += item.pauses.empty() ? 0 : 1;
}

void Simulator::OnTelegram(ByteSpan telegram, Nanos now)
{
    ++FStats.rxTelegrams;
    Log("RX", ReceivedKind(telegram), telegram);
    if (FReplay && !FOptions.withDevice)
        return;
    DeviceAnswer answer = FDevice.Handle(telegram);
    switch (answer.outcome) {
    case DeviceOutcome::NotForDevice:
        return;
    case DeviceOutcome::ReadAnswered:
        ++FStats.readsAnswered;
        break;
    case DeviceOutcome::WriteApplied:
        ++FStats.writesApplied;
        break;
    case DeviceOutcome::Rejected:
        ++FStats.requestsRejected;
        break;
    }
    ++FStats.rxRequests;
    const TxKind kind =
        answer.outcome == DeviceOutcome::ReadAnswered ? TxKind::ReadReply : TxKind::StatusReply;
    FReplies.push_back(
        {now + Nanos{FOptions.replyDelayMs} * Millisecond, std::move(answer.reply), kind});
}

void Simulator::ReadFromLine(Nanos now)
{
    std::uint8_t chunk[4096];
    for (;;) {
        const ssize_t n = ::read(FMaster, chunk, sizeof chunk);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return; // EAGAIN; EIO cannot happen while we hold the slave open
        }
        FStats.rxBytes += static_cast<std::size_t>(n);
        FRxAccumulator.insert(FRxAccumulator.end(), chunk, chunk + n);
        ZpracujPrijem(FRxAccumulator,
                      {[this, now](ByteSpan t) { OnTelegram(t, now); },
                       [this](FramerError e) {
                           const bool header = e == FramerError::HeaderChecksum;
                           ++(header ? FStats.rxHeaderErrors : FStats.rxBlockErrors);
                           Log("RX", header ? "damaged header" : "damaged block", {});
                       }});
    }
}

void Simulator::RunScriptLine(std::string_view line)
{
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty())
        return;
    if (line == "poll") {
        QueuePoll(Now());
    } else if (line == "quit") {
        BeginStop(Now());
    } else if (auto bytes = ParseHexLine(line)) {
        OutItem item;
        item.bytes = std::move(*bytes);
        item.kind = TxKind::Script;
        FLine.Push(std::move(item), false, Now());
    } else {
        std::cerr << "qtr290-sim: script line ignored: " << line << '\n';
    }
}

void Simulator::ReadScript()
{
    char chunk[4096];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR)
        return;
    if (n <= 0) {
        FScriptOpen = false;
        BeginStop(Now());
        return;
    }
    FScriptBuffer.append(chunk, static_cast<std::size_t>(n));
    std::size_t eol;
    while ((eol = FScriptBuffer.find('\n')) != std::string::npos) {
        const std::string line = FScriptBuffer.substr(0, eol);
        FScriptBuffer.erase(0, eol + 1);
        RunScriptLine(line);
    }
}

void Simulator::SayOnFirstPass(const std::string& message)
{
    // Every --loop pass meets the same lines again: they are told once and counted each time.
    if (FStats.replayPasses == 0)
        std::cerr << "qtr290-sim: " << message << '\n';
}

bool Simulator::LoadReplayChunk(Nanos now)
{
    for (;;) {
        std::string message;
        switch (FReplay->Next(FReplayChunk, FOptions.keepGoing, message)) {
        case ReplayFile::Result::Chunk: {
            if (FPassStart) {
                FPassStart = false;
                FPassFirstUs = FReplayChunk.timeUs;
                FReplayBase = std::max(now, FReplayDue);
            }
            FPassHadChunks = true;
            const std::int64_t offsetUs = ReplayOffsetUs(FPassFirstUs, FReplayChunk.timeUs);
            FReplaySpanUs = std::max(FReplaySpanUs, offsetUs);
            FReplayDue = std::max(FReplayDue, ReplayDueNs(FReplayBase, offsetUs, FOptions.speed));
            FReplayLoaded = true;
            return true;
        }
        case ReplayFile::Result::Skipped:
            SayOnFirstPass(message);
            continue;
        case ReplayFile::Result::Malformed:
            if (!FOptions.keepGoing) {
                std::cerr << "qtr290-sim: " << message << '\n';
                FReplayFailed = true;
                BeginStop(now);
                return false;
            }
            SayOnFirstPass(message);
            [[fallthrough]];
        case ReplayFile::Result::End:
            ++FStats.replayPasses;
            if (FOptions.loop && FPassHadChunks && FReplay->Rewind()) {
                FPassStart = true;
                FPassHadChunks = false;
                continue;
            }
            BeginStop(now);
            return false;
        }
    }
}

void Simulator::PumpReplay(Nanos now)
{
    // One chunk on the line at a time: a capture faster than --baud then slips in time
    // instead of piling up in memory (over and over with --loop).
    while (!FStopping && FLine.Idle()) {
        if (!FReplayLoaded && !LoadReplayChunk(now))
            return;
        if (FOptions.speed > 0 && FReplayDue > now)
            return;
        FReplayLoaded = false;
        Emit(std::move(FReplayChunk.bytes), TxKind::Replay, false, now);
    }
}

void Simulator::Finish()
{
    FStats.elapsedMs = static_cast<std::uint64_t>((Now() - FStart) / Millisecond);
    if (FReplay) {
        FStats.replaySkipped = FReplay->Counts().skipped;
        FStats.replaySpanMs = static_cast<std::uint64_t>(FReplaySpanUs / 1000);
    }
    if (!FOptions.statsPath.empty()) {
        // Written beside and renamed, so a reader never sees half a file.
        const std::string temporary = FOptions.statsPath + ".tmp";
        {
            std::ofstream out(temporary, std::ios::trunc);
            FStats.Write(out);
        }
        if (std::rename(temporary.c_str(), FOptions.statsPath.c_str()) != 0)
            std::cerr << "qtr290-sim: cannot write " << FOptions.statsPath << '\n';
    }
    if (FReplay && !FOptions.quiet) {
        const bool packets = FReplay->FileFormat() == ReplayFile::Format::Packets;
        std::cerr << "qtr290-sim: replayed "
                  << (packets ? FStats.replayPackets : FStats.replayLines)
                  << (packets ? " packets, " : " lines, ") << FStats.replayBytes << " bytes, "
                  << static_cast<double>(FReplaySpanUs) / 1e6 << " s of capture time from "
                  << FOptions.replayPath;
        if (FStats.replaySkipped > 0)
            std::cerr << " (" << FStats.replaySkipped << " malformed skipped)";
        std::cerr << '\n';
    }
    if (!FOptions.quiet) {
        std::cerr << "qtr290-sim summary:\n";
        FStats.Write(std::cerr);
    }
    if (FLog)
        std::fflush(FLog);
}

bool Simulator::OpenFiles()
{
    if (!FOptions.logPath.empty()) {
        FLog = FOptions.logPath == "-" ? stderr : std::fopen(FOptions.logPath.c_str(), "w");
        if (!FLog) {
            std::cerr << "qtr290-sim: cannot open " << FOptions.logPath << '\n';
            return false;
        }
        std::setvbuf(FLog, nullptr, _IOLBF, 0);
    }
    if (!FOptions.replayPath.empty()) {
        FReplay = std::make_unique<ReplayFile>();
        std::string error;
        if (!FReplay->Open(FOptions.replayPath, error)) {
            std::cerr << "qtr290-sim: " << error << '\n';
            return false;
        }
    }
    return OpenDevice() && (FOptions.linkPath.empty() || CreateLink());
}

void Simulator::CatchStopSignals()
{
    // Signals are blocked except inside ppoll, so a stop request is never missed between
    // the check of the flag and the wait.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&blocked, s);
    ::sigprocmask(SIG_BLOCK, &blocked, &FWaitMask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = OnSignal;
        ::sigaction(s, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

bool Simulator::Announce()
{
    // Whoever started the simulator learns the device from this line: without it, no run.
    const std::string announced = FOptions.linkPath.empty() ? FSlavePath : FOptions.linkPath;
    std::fprintf(stdout, "%s\n", announced.c_str());
    if (!FlushStandardOutput("qtr290-sim"))
        return false;
    if (!FOptions.quiet)
        std::cerr << "qtr290-sim: device " << FSlavePath << ", " << FOptions.baud << " baud\n";
    return true;
}

void Simulator::Schedule()
{
    FStart = Now();
    // A replay is the bus's traffic: the master joins in only when asked.
    const bool master = !FReplay || FOptions.withMaster;
    FPollInterval = master ? Nanos{FOptions.pollIntervalMs} * Millisecond : 0;
    FSaturate = master && FOptions.saturate;
    FNextPoll = FStart + FPollInterval;
    // Saturated, not converted out of range: a duration longer than the clock can count
    // (--duration 1e10) is a run without end, not one that stops at once.
    constexpr double LongestRunNs = 1e18; // about 31 years
    if (FOptions.durationSec > 0)
        FStopAt = FStart + static_cast<Nanos>(std::min(FOptions.durationSec * 1e9, LongestRunNs));
    FScriptOpen = FOptions.script;
}

void Simulator::SendDueReplies(Nanos now)
{
    // The device's replies go ahead of the master's traffic.
    for (auto it = FReplies.begin(); it != FReplies.end();) {
        if (it->due <= now) {
            Emit(std::move(it->telegram), it->kind, true, now);
            it = FReplies.erase(it);
        } else {
            ++it;
        }
    }
}

void Simulator::PollIfDue(Nanos now)
{
    if (FStopping || FPollInterval == 0 || now < FNextPoll)
        return;
    QueuePoll(now);
    FNextPoll += FPollInterval;
    if (FNextPoll <= now) // fell behind (stalled): no burst of polls
        FNextPoll = now + FPollInterval;
    if (FOptions.pollCount > 0 && FPollsQueued >= FOptions.pollCount)
        BeginStop(now);
}

Simulator::Step Simulator::DoWhatIsDue(Nanos now)
{
    if (FStopAt && now >= *FStopAt)
        BeginStop(now);
    SendDueReplies(now);
    PollIfDue(now);
    if (FReplay)
        PumpReplay(now);
    if (!FBlocked)
        FLine.Pump(
            now, [this](ByteSpan b) { return WriteToLine(b); },
            [this](const OutItem& item) { Sent(item); });
    // The last item may have gone out just now: refill before going to sleep.
    // The replay goes ahead of the filler traffic.
    if (FReplay && !FStopping && !FBlocked && FLine.Idle()) {
        PumpReplay(now);
        if (!FLine.Idle())
            return Step::Again;
    }
    if (FSaturate && !FStopping && !FBlocked && FLine.Idle()) {
        QueueFiller(now);
        if (!FLine.Idle())
            return Step::Again;
    }
    if (FStopping && now >= FDrainUntil && FLine.Idle() && FReplies.empty())
        return Step::Done;
    return Step::Sleep;
}

std::optional<Nanos> Simulator::NextWake(Nanos now) const
{
    std::optional<Nanos> wake;
    auto consider = [&](Nanos t) { wake = wake ? std::min(*wake, t) : t; };
    if (!FBlocked)
        if (const auto due = FLine.NextDue(now))
            consider(*due);
    for (const auto& r : FReplies)
        consider(r.due);
    if (!FStopping && FPollInterval > 0)
        consider(FNextPoll);
    if (!FStopping && FStopAt)
        consider(*FStopAt);
    if (!FStopping && FReplayLoaded && FOptions.speed > 0)
        consider(FReplayDue);
    if (FStopping)
        consider(FDrainUntil);
    return wake;
}

void Simulator::WaitForEvents(std::optional<Nanos> wake)
{
    pollfd fds[2] = {{FMaster, static_cast<short>(POLLIN | (FBlocked ? POLLOUT : 0)), 0},
                     {STDIN_FILENO, POLLIN, 0}};
    const nfds_t count = FScriptOpen ? 2 : 1;
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (wake) {
        const Nanos left = std::max<Nanos>(0, *wake - Now());
        timeout.tv_sec = left / 1'000'000'000;
        timeout.tv_nsec = left % 1'000'000'000;
        timeoutPtr = &timeout;
    }
    if (::ppoll(fds, count, timeoutPtr, &FWaitMask) < 0) {
        if (errno == EINTR)
            return;
        std::cerr << "qtr290-sim: ppoll failed: " << std::strerror(errno) << '\n';
        FFatal = true;
        return;
    }
    const Nanos now = Now();
    if (fds[0].revents & POLLIN)
        ReadFromLine(now);
    if (fds[0].revents & POLLOUT)
        FBlocked = false;
    if (count > 1 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
        ReadScript();
}

void Simulator::LetTheListenerRead()
{
    // Closing the master hangs the far end up and discards what it has not read yet, so the
    // listener gets a moment to take the last bytes; a second signal cuts this short. Polling
    // the slave (not FIONREAD) also sees bytes the kernel has not yet moved to its queue.
    static constexpr timespec pollStep{0, 5'000'000};
    const std::sig_atomic_t signals = g_signals;
    const Nanos giveUp = Now() + (signals == 0 ? 500 : 200) * Millisecond;
    int emptyReadings = 0;
    while (emptyReadings < 3 && Now() < giveUp && g_signals == signals) {
        pollfd unread{FSlave, POLLIN, 0};
        if (::poll(&unread, 1, 0) < 0)
            break;
        emptyReadings = (unread.revents & POLLIN) ? 0 : emptyReadings + 1;
        ::ppoll(nullptr, 0, &pollStep, &FWaitMask);
    }
}

int Simulator::Run()
{
    if (!OpenFiles())
        return 1;
    CatchStopSignals();
    if (!Announce())
        return 1;
    Schedule();
    while (g_signals == 0 && !FFatal) {
        const Nanos now = Now();
        const Step step = DoWhatIsDue(now);
        if (step == Step::Done)
            break;
        if (step == Step::Sleep)
            WaitForEvents(NextWake(now));
    }
    if (!FFatal)
        LetTheListenerRead();
    Finish();
    RemoveLink();
    return FFatal || FReplayFailed ? 1 : 0;
}

} // namespace qtr290::sim
