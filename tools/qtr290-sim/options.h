// Command line of qtr290-sim.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qtr290::sim {

// How often a fault is injected: every Nth telegram, or with a probability per telegram.
struct Rate {
    unsigned every = 0;
    double probability = 0.0;
    bool Enabled() const { return every > 0 || probability > 0.0; }
};

enum class PollKind { Long, Short, Mixed };

struct SimOptions {
    std::string linkPath;
    unsigned baud = 4800;
    unsigned pollIntervalMs = 200; // 0: no automatic polls
    std::uint8_t pollStation = 0xF0;
    PollKind pollKind = PollKind::Long;
    std::uint8_t masterAddress = 0x01;
    std::uint8_t deviceAddress = 0x00;
    unsigned replyDelayMs = 2;
    bool saturate = false;
    Rate headerErrors;
    Rate blockErrors;
    Rate noise;
    Rate splitWrites;
    unsigned noiseMax = 8;
    unsigned splitDelayMs = 50;
    std::uint32_t seed = 1;
    double durationSec = 0.0;    // 0: no time limit
    unsigned long pollCount = 0; // 0: no limit
    unsigned lingerMs = 300;
    std::string logPath;
    std::string statsPath;
    bool script = false;
    // Replay of a capture: the master's polls and filler and the device are off unless
    // withMaster / withDevice ask for them.
    std::string replayPath;
    double speed = 1.0; // time scale; 0: as fast as the pacing allows
    bool loop = false;
    bool keepGoing = false;
    bool withMaster = false;
    bool withDevice = false;
    bool quiet = false;
    bool help = false;
};

struct ParseResult {
    SimOptions options;
    std::string error; // empty when the command line was valid
};

// Parses the arguments after the program name.
ParseResult ParseOptions(std::span<const std::string_view> args);

std::string HelpText();

} // namespace qtr290::sim
