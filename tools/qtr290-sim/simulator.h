// The simulator's event loop: a pseudo-terminal, the paced line, the polling master and
// the device, driven by ppoll() on one thread.
#pragma once

#include "tools/qtr290-sim/device.h"
#include "tools/qtr290-sim/line.h"
#include "tools/qtr290-sim/options.h"
#include "tools/qtr290-sim/replay.h"
#include "tools/qtr290-sim/traffic.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace qtr290::sim {

struct SimStats {
    std::uint64_t elapsedMs = 0;
    std::uint64_t pollsSent = 0;
    std::uint64_t txTelegrams = 0;
    std::uint64_t txReadReplies = 0;
    std::uint64_t txStatusReplies = 0;
    std::uint64_t txFiller = 0;
    std::uint64_t txScript = 0;
    std::uint64_t txNoise = 0;
    std::uint64_t txBytes = 0;
    std::uint64_t rxBytes = 0;
    std::uint64_t rxTelegrams = 0;
    std::uint64_t rxHeaderErrors = 0;
    std::uint64_t rxBlockErrors = 0;
    std::uint64_t rxRequests = 0;
    std::uint64_t readsAnswered = 0;
    std::uint64_t writesApplied = 0;
    std::uint64_t requestsRejected = 0;
    std::uint64_t injectedHeaderErrors = 0;
    std::uint64_t injectedBlockErrors = 0;
    std::uint64_t injectedNoiseBytes = 0;
    std::uint64_t splitTelegrams = 0;
    std::uint64_t lineTelegrams = 0;
    std::uint64_t linePolls = 0;
    std::uint64_t lineHeaderErrors = 0;
    std::uint64_t lineBlockErrors = 0;
    std::uint64_t backlogFlushes = 0;
    std::uint64_t replayLines = 0;
    std::uint64_t replayPackets = 0;
    std::uint64_t replayBytes = 0;
    std::uint64_t replaySpanMs = 0;
    std::uint64_t replaySkipped = 0;
    std::uint64_t replayPasses = 0;

    // key=value lines, one per count, in a fixed order.
    void Write(std::ostream& out) const;
};

class Simulator {
public:
    explicit Simulator(SimOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Runs until a stop condition or a signal; returns the process exit status.
    int Run();

private:
    struct PendingReply {
        Nanos due;
        Bytes telegram;
        TxKind kind;
    };

    enum class Step { Again, Sleep, Done };

    bool OpenFiles();
    void CatchStopSignals();
    void Announce();
    void Schedule();
    Step DoWhatIsDue(Nanos now);
    void SendDueReplies(Nanos now);
    void PollIfDue(Nanos now);
    std::optional<Nanos> NextWake(Nanos now) const;
    void WaitForEvents(std::optional<Nanos> wake);
    void LetTheListenerRead();
    bool OpenDevice();
    bool CreateLink();
    void RemoveLink();
    Nanos Now() const;
    void Log(const char* direction, std::string_view kind, ByteSpan bytes,
             std::string_view extra = {});
    void Emit(Bytes telegram, TxKind kind, bool urgent, Nanos now, bool continuous = false);
    void QueuePoll(Nanos now);
    void QueueFiller(Nanos now);
    void BeginStop(Nanos now);
    std::size_t WriteToLine(ByteSpan bytes);
    void Sent(const OutItem& item);
    void ReadFromLine(Nanos now);
    void OnTelegram(ByteSpan telegram, Nanos now);
    void ReadScript();
    bool LoadReplayChunk(Nanos now);
    void PumpReplay(Nanos now);
    void RunScriptLine(std::string_view line);
    void Finish();

    SimOptions options_;
    Random random_;
    SimDevice device_;
    PacedLine line_;
    FaultInjector faults_;
    FillerTraffic filler_;
    SimStats stats_;

    int master_ = -1;
    int slave_ = -1; // held open (never read) so the master never sees a hang-up
    std::string slavePath_;
    bool linkCreated_ = false;
    std::FILE* log_ = nullptr;
    Nanos start_ = 0;
    sigset_t waitMask_{};    // what ppoll lets through: the stop signals
    Nanos pollInterval_ = 0; // 0: the master does not poll
    bool saturate_ = false;
    std::optional<Nanos> stopAt_; // --duration
    Nanos nextPoll_ = 0;
    std::uint64_t pollsQueued_ = 0;
    bool nextPollShort_ = false;
    bool stopping_ = false;
    Nanos drainUntil_ = 0;
    bool blocked_ = false; // the last write could not go out
    bool fatal_ = false;
    bool scriptOpen_ = false;
    std::string scriptBuffer_;
    std::vector<std::uint8_t> rxAccumulator_;
    std::vector<std::uint8_t> lineAccumulator_; // what a listener receives, for line_* counts
    std::vector<PendingReply> replies_;

    std::unique_ptr<ReplayFile> replay_; // set while a replay runs
    bool replayFailed_ = false;
    bool passStart_ = true;      // the next chunk read begins a pass over the file
    bool passHadChunks_ = false; // an empty pass ends a --loop
    bool replayLoaded_ = false;  // replayChunk_ waits for replayDue_
    ReplayChunk replayChunk_;
    Nanos replayDue_ = 0;
    Nanos replayBase_ = 0;         // when the pass's first chunk went out
    std::int64_t passFirstUs_ = 0; // its capture time
    std::int64_t replaySpanUs_ = 0;
};

} // namespace qtr290::sim
