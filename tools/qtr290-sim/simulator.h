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
    bool Announce();
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
    void SayOnFirstPass(const std::string& message);
    bool LoadReplayChunk(Nanos now);
    void PumpReplay(Nanos now);
    void RunScriptLine(std::string_view line);
    void Finish();

    SimOptions FOptions;
    Random FRandom;
    SimDevice FDevice;
    PacedLine FLine;
    FaultInjector FFaults;
    FillerTraffic FFiller;
    SimStats FStats;

    int FMaster = -1;
    int FSlave = -1; // held open (never read) so the master never sees a hang-up
    std::string FSlavePath;
    bool FLinkCreated = false;
    std::FILE* FLog = nullptr;
    Nanos FStart = 0;
    sigset_t FWaitMask{};    // what ppoll lets through: the stop signals
    Nanos FPollInterval = 0; // 0: the master does not poll
    bool FSaturate = false;
    std::optional<Nanos> FStopAt; // --duration
    Nanos FNextPoll = 0;
    std::uint64_t FPollsQueued = 0;
    bool FNextPollShort = false;
    bool FStopping = false;
    Nanos FDrainUntil = 0;
    bool FBlocked = false; // the last write could not go out
    bool FFatal = false;
    bool FScriptOpen = false;
    std::string FScriptBuffer;
    std::vector<std::uint8_t> FRxAccumulator;
    std::vector<std::uint8_t> FLineAccumulator; // what a listener receives, for line_* counts
    std::vector<PendingReply> FReplies;

    std::unique_ptr<ReplayFile> FReplay; // set while a replay runs
    bool FReplayFailed = false;
    bool FPassStart = true;      // the next chunk read begins a pass over the file
    bool FPassHadChunks = false; // an empty pass ends a --loop
    bool FReplayLoaded = false;  // FReplayChunk waits for FReplayDue
    ReplayChunk FReplayChunk;
    Nanos FReplayDue = 0;
    Nanos FReplayBase = 0;         // when the pass's first chunk went out
    std::int64_t FPassFirstUs = 0; // its capture time
    std::int64_t FReplaySpanUs = 0;
};

} // namespace qtr290::sim
