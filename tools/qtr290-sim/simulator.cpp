#include "tools/qtr290-sim/simulator.h"

#include "link/framer.h"

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
    : options_(std::move(options)), random_(options_.seed), device_(options_.deviceAddress),
      line_(options_.baud), faults_(options_), filler_(options_)
{
}

Simulator::~Simulator()
{
    RemoveLink();
    if (log_ && log_ != stderr)
        std::fclose(log_);
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
}

Nanos Simulator::Now() const
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

bool Simulator::OpenDevice()
{
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
        std::cerr << "qtr290-sim: openpty failed: " << std::strerror(errno) << '\n';
        return false;
    }
    // Raw before anyone can open it: the far end must never echo or translate bytes.
    termios tio{};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    const char* name = ::ttyname(slave_);
    if (!name) {
        std::cerr << "qtr290-sim: no name for the pseudo-terminal\n";
        return false;
    }
    slavePath_ = name;
    return true;
}

bool Simulator::CreateLink()
{
    const std::string& path = options_.linkPath;
    char existing[4096];
    if (::readlink(path.c_str(), existing, sizeof existing) < 0 && errno != ENOENT) {
        std::cerr << "qtr290-sim: " << path << " exists and is no symbolic link\n";
        return false;
    }
    // A new link renamed over the old one, so the path never dangles mid-way.
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    if (::symlink(slavePath_.c_str(), temporary.c_str()) != 0 ||
        ::rename(temporary.c_str(), path.c_str()) != 0) {
        std::cerr << "qtr290-sim: cannot link " << path << ": " << std::strerror(errno) << '\n';
        ::unlink(temporary.c_str());
        return false;
    }
    linkCreated_ = true;
    return true;
}

void Simulator::RemoveLink()
{
    if (!linkCreated_)
        return;
    linkCreated_ = false;
    char target[4096];
    const ssize_t n = ::readlink(options_.linkPath.c_str(), target, sizeof target - 1);
    // Only our own link: another simulator may have taken the path over meanwhile.
    if (n > 0 && std::string_view(target, static_cast<std::size_t>(n)) == slavePath_)
        ::unlink(options_.linkPath.c_str());
}

void Simulator::Log(const char* direction, std::string_view kind, ByteSpan bytes,
                    std::string_view extra)
{
    if (!log_)
        return;
    const double ms = static_cast<double>(Now() - start_) / 1e6;
    std::fprintf(log_, "%.3f %s %.*s%s%s%.*s\n", ms, direction, static_cast<int>(kind.size()),
                 kind.data(), bytes.empty() ? "" : " ", Hex(bytes).c_str(),
                 static_cast<int>(extra.size()), extra.data());
}

void Simulator::Emit(Bytes telegram, TxKind kind, bool urgent, Nanos now, bool continuous)
{
    for (auto& item : faults_.Prepare(std::move(telegram), kind, random_))
        line_.Push(std::move(item), urgent, now, continuous);
}

void Simulator::QueuePoll(Nanos now)
{
    ++pollsQueued_;
    bool shortPoll = options_.pollKind == PollKind::Short;
    if (options_.pollKind == PollKind::Mixed) {
        shortPoll = nextPollShort_;
        nextPollShort_ = !nextPollShort_;
    }
    Emit(BuildPoll(shortPoll, options_.pollStation, options_.masterAddress,
                   static_cast<std::uint8_t>(pollsQueued_)),
         TxKind::Poll, false, now);
}

void Simulator::QueueFiller(Nanos now)
{
    std::size_t room = 263;
    if (options_.pollIntervalMs > 0) {
        const Nanos gap = nextPoll_ - line_.FreeAt(now);
        room = gap <= 0 ? 0 : std::min<std::size_t>(room, gap / line_.ByteTime());
    }
    Bytes telegram = filler_.Next(room, random_);
    if (!telegram.empty())
        Emit(std::move(telegram), TxKind::Filler, false, now, true);
}

void Simulator::BeginStop(Nanos now)
{
    if (stopping_)
        return;
    stopping_ = true;
    drainUntil_ = now + Nanos{options_.lingerMs} * Millisecond;
}

std::size_t Simulator::WriteToLine(ByteSpan bytes)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n > 0) {
            const auto written = static_cast<std::size_t>(n);
            stats_.txBytes += written;
            lineAccumulator_.insert(lineAccumulator_.end(), bytes.begin(),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(written));
            ZpracujPrijem(lineAccumulator_, {[this](ByteSpan t) {
                                                 ++stats_.lineTelegrams;
                                                 stats_.linePolls += IsPoll(t) ? 1 : 0;
                                             },
                                             [this](FramerError e) {
                                                 ++(e == FramerError::HeaderChecksum
                                                        ? stats_.lineHeaderErrors
                                                        : stats_.lineBlockErrors);
                                             }});
            blocked_ = false;
            return written;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            std::cerr << "qtr290-sim: write failed: " << std::strerror(errno) << '\n';
            fatal_ = true;
            return 0;
        }
        // Full: nobody has read the device for a long while. Drop the stale backlog, as a
        // bus drops bytes nobody listens to, rather than holding the bus up.
        if (attempt == 0) {
            ::tcflush(slave_, TCIFLUSH);
            ++stats_.backlogFlushes;
        }
    }
    blocked_ = true;
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
        ++stats_.txNoise;
        stats_.injectedNoiseBytes += item.bytes.size();
        return;
    case TxKind::Script:
        ++stats_.txScript;
        return;
    case TxKind::Replay:
        ++(replay_ && replay_->FileFormat() == ReplayFile::Format::Packets ? stats_.replayPackets
                                                                           : stats_.replayLines);
        stats_.replayBytes += item.bytes.size();
        stats_.injectedHeaderErrors += item.fault == TxFault::Header ? 1 : 0;
        stats_.injectedBlockErrors += item.fault == TxFault::Block ? 1 : 0;
        stats_.splitTelegrams += item.pauses.empty() ? 0 : 1;
        return;
    case TxKind::Poll:
        ++stats_.pollsSent;
        break;
    case TxKind::ReadReply:
        ++stats_.txReadReplies;
        break;
    case TxKind::StatusReply:
        ++stats_.txStatusReplies;
        break;
    case TxKind::Filler:
        ++stats_.txFiller;
        break;
    }
    ++stats_.txTelegrams;
    stats_.injectedHeaderErrors += item.fault == TxFault::Header ? 1 : 0;
    stats_.injectedBlockErrors += item.fault == TxFault::Block ? 1 : 0;
    stats_.splitTelegrams += item.pauses.empty() ? 0 : 1;
}

void Simulator::OnTelegram(ByteSpan telegram, Nanos now)
{
    ++stats_.rxTelegrams;
    Log("RX", ReceivedKind(telegram), telegram);
    if (replay_ && !options_.withDevice)
        return;
    DeviceAnswer answer = device_.Handle(telegram);
    switch (answer.outcome) {
    case DeviceOutcome::NotForDevice:
        return;
    case DeviceOutcome::ReadAnswered:
        ++stats_.readsAnswered;
        break;
    case DeviceOutcome::WriteApplied:
        ++stats_.writesApplied;
        break;
    case DeviceOutcome::Rejected:
        ++stats_.requestsRejected;
        break;
    }
    ++stats_.rxRequests;
    const TxKind kind =
        answer.outcome == DeviceOutcome::ReadAnswered ? TxKind::ReadReply : TxKind::StatusReply;
    replies_.push_back(
        {now + Nanos{options_.replyDelayMs} * Millisecond, std::move(answer.reply), kind});
}

void Simulator::ReadFromLine(Nanos now)
{
    std::uint8_t chunk[4096];
    for (;;) {
        const ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return; // EAGAIN; EIO cannot happen while we hold the slave open
        }
        stats_.rxBytes += static_cast<std::size_t>(n);
        rxAccumulator_.insert(rxAccumulator_.end(), chunk, chunk + n);
        ZpracujPrijem(rxAccumulator_,
                      {[this, now](ByteSpan t) { OnTelegram(t, now); },
                       [this](FramerError e) {
                           const bool header = e == FramerError::HeaderChecksum;
                           ++(header ? stats_.rxHeaderErrors : stats_.rxBlockErrors);
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
        line_.Push(std::move(item), false, Now());
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
        scriptOpen_ = false;
        BeginStop(Now());
        return;
    }
    scriptBuffer_.append(chunk, static_cast<std::size_t>(n));
    std::size_t eol;
    while ((eol = scriptBuffer_.find('\n')) != std::string::npos) {
        const std::string line = scriptBuffer_.substr(0, eol);
        scriptBuffer_.erase(0, eol + 1);
        RunScriptLine(line);
    }
}

bool Simulator::LoadReplayChunk(Nanos now)
{
    for (;;) {
        std::string message;
        switch (replay_->Next(replayChunk_, options_.keepGoing, message)) {
        case ReplayFile::Result::Chunk: {
            if (passStart_) {
                passStart_ = false;
                passFirstUs_ = replayChunk_.timeUs;
                replayBase_ = std::max(now, replayDue_);
            }
            passHadChunks_ = true;
            // A clock set back during the capture does not reorder the chunks.
            const std::int64_t offsetUs =
                std::max<std::int64_t>(0, replayChunk_.timeUs - passFirstUs_);
            replaySpanUs_ = std::max(replaySpanUs_, offsetUs);
            const double scaled =
                options_.speed > 0 ? static_cast<double>(offsetUs) * 1e3 / options_.speed : 0.0;
            const Nanos due = replayBase_ + static_cast<Nanos>(std::min(scaled, 1e17));
            replayDue_ = std::max(replayDue_, due);
            replayLoaded_ = true;
            return true;
        }
        case ReplayFile::Result::Skipped:
            std::cerr << "qtr290-sim: " << message << '\n';
            continue;
        case ReplayFile::Result::Malformed:
            std::cerr << "qtr290-sim: " << message << '\n';
            if (!options_.keepGoing) {
                replayFailed_ = true;
                BeginStop(now);
                return false;
            }
            [[fallthrough]];
        case ReplayFile::Result::End:
            ++stats_.replayPasses;
            if (options_.loop && passHadChunks_ && replay_->Rewind()) {
                passStart_ = true;
                passHadChunks_ = false;
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
    while (!stopping_ && line_.Idle()) {
        if (!replayLoaded_ && !LoadReplayChunk(now))
            return;
        if (options_.speed > 0 && replayDue_ > now)
            return;
        replayLoaded_ = false;
        Emit(std::move(replayChunk_.bytes), TxKind::Replay, false, now);
    }
}

void Simulator::Finish()
{
    stats_.elapsedMs = static_cast<std::uint64_t>((Now() - start_) / Millisecond);
    if (replay_) {
        stats_.replaySkipped = replay_->Counts().skipped;
        stats_.replaySpanMs = static_cast<std::uint64_t>(replaySpanUs_ / 1000);
    }
    if (!options_.statsPath.empty()) {
        // Written beside and renamed, so a reader never sees half a file.
        const std::string temporary = options_.statsPath + ".tmp";
        {
            std::ofstream out(temporary, std::ios::trunc);
            stats_.Write(out);
        }
        if (std::rename(temporary.c_str(), options_.statsPath.c_str()) != 0)
            std::cerr << "qtr290-sim: cannot write " << options_.statsPath << '\n';
    }
    if (replay_ && !options_.quiet) {
        const bool packets = replay_->FileFormat() == ReplayFile::Format::Packets;
        std::cerr << "qtr290-sim: replayed "
                  << (packets ? stats_.replayPackets : stats_.replayLines)
                  << (packets ? " packets, " : " lines, ") << stats_.replayBytes << " bytes, "
                  << static_cast<double>(replaySpanUs_) / 1e6 << " s of capture time from "
                  << options_.replayPath;
        if (stats_.replaySkipped > 0)
            std::cerr << " (" << stats_.replaySkipped << " malformed skipped)";
        std::cerr << '\n';
    }
    if (!options_.quiet) {
        std::cerr << "qtr290-sim summary:\n";
        stats_.Write(std::cerr);
    }
    if (log_)
        std::fflush(log_);
}

bool Simulator::OpenFiles()
{
    if (!options_.logPath.empty()) {
        log_ = options_.logPath == "-" ? stderr : std::fopen(options_.logPath.c_str(), "w");
        if (!log_) {
            std::cerr << "qtr290-sim: cannot open " << options_.logPath << '\n';
            return false;
        }
        std::setvbuf(log_, nullptr, _IOLBF, 0);
    }
    if (!options_.replayPath.empty()) {
        replay_ = std::make_unique<ReplayFile>();
        std::string error;
        if (!replay_->Open(options_.replayPath, error)) {
            std::cerr << "qtr290-sim: " << error << '\n';
            return false;
        }
    }
    return OpenDevice() && (options_.linkPath.empty() || CreateLink());
}

void Simulator::CatchStopSignals()
{
    // Signals are blocked except inside ppoll, so a stop request is never missed between
    // the check of the flag and the wait.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&blocked, s);
    ::sigprocmask(SIG_BLOCK, &blocked, &waitMask_);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = OnSignal;
        ::sigaction(s, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

void Simulator::Announce()
{
    const std::string announced = options_.linkPath.empty() ? slavePath_ : options_.linkPath;
    std::fprintf(stdout, "%s\n", announced.c_str());
    std::fflush(stdout);
    if (!options_.quiet)
        std::cerr << "qtr290-sim: device " << slavePath_ << ", " << options_.baud << " baud\n";
}

void Simulator::Schedule()
{
    start_ = Now();
    // A replay is the bus's traffic: the master joins in only when asked.
    const bool master = !replay_ || options_.withMaster;
    pollInterval_ = master ? Nanos{options_.pollIntervalMs} * Millisecond : 0;
    saturate_ = master && options_.saturate;
    nextPoll_ = start_ + pollInterval_;
    if (options_.durationSec > 0)
        stopAt_ = start_ + static_cast<Nanos>(options_.durationSec * 1e9);
    scriptOpen_ = options_.script;
}

void Simulator::SendDueReplies(Nanos now)
{
    // The device's replies go ahead of the master's traffic.
    for (auto it = replies_.begin(); it != replies_.end();) {
        if (it->due <= now) {
            Emit(std::move(it->telegram), it->kind, true, now);
            it = replies_.erase(it);
        } else {
            ++it;
        }
    }
}

void Simulator::PollIfDue(Nanos now)
{
    if (stopping_ || pollInterval_ == 0 || now < nextPoll_)
        return;
    QueuePoll(now);
    nextPoll_ += pollInterval_;
    if (nextPoll_ <= now) // fell behind (stalled): no burst of polls
        nextPoll_ = now + pollInterval_;
    if (options_.pollCount > 0 && pollsQueued_ >= options_.pollCount)
        BeginStop(now);
}

Simulator::Step Simulator::DoWhatIsDue(Nanos now)
{
    if (stopAt_ && now >= *stopAt_)
        BeginStop(now);
    SendDueReplies(now);
    PollIfDue(now);
    if (replay_)
        PumpReplay(now);
    if (!blocked_)
        line_.Pump(
            now, [this](ByteSpan b) { return WriteToLine(b); },
            [this](const OutItem& item) { Sent(item); });
    // The last item may have gone out just now: refill before going to sleep.
    // The replay goes ahead of the filler traffic.
    if (replay_ && !stopping_ && !blocked_ && line_.Idle()) {
        PumpReplay(now);
        if (!line_.Idle())
            return Step::Again;
    }
    if (saturate_ && !stopping_ && !blocked_ && line_.Idle()) {
        QueueFiller(now);
        if (!line_.Idle())
            return Step::Again;
    }
    if (stopping_ && now >= drainUntil_ && line_.Idle() && replies_.empty())
        return Step::Done;
    return Step::Sleep;
}

std::optional<Nanos> Simulator::NextWake(Nanos now) const
{
    std::optional<Nanos> wake;
    auto consider = [&](Nanos t) { wake = wake ? std::min(*wake, t) : t; };
    if (!blocked_)
        if (const auto due = line_.NextDue(now))
            consider(*due);
    for (const auto& r : replies_)
        consider(r.due);
    if (!stopping_ && pollInterval_ > 0)
        consider(nextPoll_);
    if (!stopping_ && stopAt_)
        consider(*stopAt_);
    if (!stopping_ && replayLoaded_ && options_.speed > 0)
        consider(replayDue_);
    if (stopping_)
        consider(drainUntil_);
    return wake;
}

void Simulator::WaitForEvents(std::optional<Nanos> wake)
{
    pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (blocked_ ? POLLOUT : 0)), 0},
                     {STDIN_FILENO, POLLIN, 0}};
    const nfds_t count = scriptOpen_ ? 2 : 1;
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (wake) {
        const Nanos left = std::max<Nanos>(0, *wake - Now());
        timeout.tv_sec = left / 1'000'000'000;
        timeout.tv_nsec = left % 1'000'000'000;
        timeoutPtr = &timeout;
    }
    if (::ppoll(fds, count, timeoutPtr, &waitMask_) < 0) {
        if (errno == EINTR)
            return;
        std::cerr << "qtr290-sim: ppoll failed: " << std::strerror(errno) << '\n';
        fatal_ = true;
        return;
    }
    const Nanos now = Now();
    if (fds[0].revents & POLLIN)
        ReadFromLine(now);
    if (fds[0].revents & POLLOUT)
        blocked_ = false;
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
        pollfd unread{slave_, POLLIN, 0};
        if (::poll(&unread, 1, 0) < 0)
            break;
        emptyReadings = (unread.revents & POLLIN) ? 0 : emptyReadings + 1;
        ::ppoll(nullptr, 0, &pollStep, &waitMask_);
    }
}

int Simulator::Run()
{
    if (!OpenFiles())
        return 1;
    CatchStopSignals();
    Announce();
    Schedule();
    while (g_signals == 0 && !fatal_) {
        const Nanos now = Now();
        const Step step = DoWhatIsDue(now);
        if (step == Step::Done)
            break;
        if (step == Step::Sleep)
            WaitForEvents(NextWake(now));
    }
    if (!fatal_)
        LetTheListenerRead();
    Finish();
    RemoveLink();
    return fatal_ || replayFailed_ ? 1 : 0;
}

} // namespace qtr290::sim
