#include "tools/qtr290-sim/options.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <optional>

namespace qtr290::sim {

namespace {

// Decimal, or hexadecimal with a 0x prefix.
bool ParseUnsigned(std::string_view text, unsigned long long max, unsigned long long& out)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty())
        return false;
    unsigned long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc{} || end != text.data() + text.size() || value > max)
        return false;
    out = value;
    return true;
}

bool ParseDouble(std::string_view text, double& out)
{
    if (text.empty())
        return false;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return false;
    out = value;
    return true;
}

// "N" (a whole number): every Nth telegram, 0 = never; "P" with a decimal point: probability.
bool ParseRate(std::string_view text, Rate& out)
{
    Rate rate;
    if (text.find('.') != std::string_view::npos) {
        if (!ParseDouble(text, rate.probability) || rate.probability < 0.0 ||
            rate.probability > 1.0)
            return false;
    } else {
        unsigned long long every = 0;
        if (!ParseUnsigned(text, 1'000'000'000, every))
            return false;
        rate.every = static_cast<unsigned>(every);
    }
    out = rate;
    return true;
}

using ValueReader = std::function<bool(std::string_view)>;

ValueReader Number(unsigned long long min, unsigned long long max, auto& field)
{
    return [min, max, &field](std::string_view v) {
        unsigned long long n = 0;
        if (!ParseUnsigned(v, max, n) || n < min)
            return false;
        field = static_cast<std::remove_reference_t<decltype(field)>>(n);
        return true;
    };
}

ValueReader RateOf(Rate& field)
{
    return [&field](std::string_view v) { return ParseRate(v, field); };
}

ValueReader Text(std::string& field)
{
    return [&field](std::string_view v) {
        field = std::string(v);
        return !v.empty();
    };
}

bool ReadPollKind(std::string_view v, PollKind& kind)
{
    if (v == "long")
        kind = PollKind::Long;
    else if (v == "short")
        kind = PollKind::Short;
    else if (v == "mixed")
        kind = PollKind::Mixed;
    else
        return false;
    return true;
}

// The options that take a value, each with the reader that checks it into `o`.
std::map<std::string_view, ValueReader> ValuedOptions(SimOptions& o)
{
    return {
        {"--link", Text(o.linkPath)},
        {"--baud", Number(50, 4'000'000, o.baud)},
        {"--poll-interval", Number(0, 3'600'000, o.pollIntervalMs)},
        {"--poll-station", Number(0, 0xFF, o.pollStation)},
        {"--poll-kind", [&o](std::string_view v) { return ReadPollKind(v, o.pollKind); }},
        {"--master-address", Number(0, 0xFF, o.masterAddress)},
        {"--device-address", Number(0, 0xFF, o.deviceAddress)},
        {"--reply-delay", Number(0, 60'000, o.replyDelayMs)},
        {"--inject-header-errors", RateOf(o.headerErrors)},
        {"--inject-block-errors", RateOf(o.blockErrors)},
        {"--inject-noise", RateOf(o.noise)},
        {"--noise-length", Number(1, 1024, o.noiseMax)},
        {"--split-writes", RateOf(o.splitWrites)},
        {"--split-delay", Number(0, 60'000, o.splitDelayMs)},
        {"--seed", Number(0, 0xFFFFFFFF, o.seed)},
        {"--duration",
         [&o](std::string_view v) { return ParseDouble(v, o.durationSec) && o.durationSec >= 0; }},
        {"--count", Number(0, 1'000'000'000, o.pollCount)},
        {"--linger", Number(0, 60'000, o.lingerMs)},
        {"--log", Text(o.logPath)},
        {"--stats", Text(o.statsPath)},
        {"--replay", Text(o.replayPath)},
        {"--speed",
         [&o](std::string_view v) {
             return ParseDouble(v, o.speed) && o.speed >= 0 && o.speed <= 1e6;
         }},
    };
}

std::map<std::string_view, bool*> FlagOptions(SimOptions& o)
{
    return {
        {"--saturate", &o.saturate},
        {"--script", &o.script},
        {"--quiet", &o.quiet},
        {"--help", &o.help},
        {"-h", &o.help},
        {"--loop", &o.loop},
        {"--keep-going", &o.keepGoing},
        {"--with-master", &o.withMaster},
        {"--with-device", &o.withDevice},
    };
}

} // namespace

ParseResult ParseOptions(std::span<const std::string_view> args)
{
    ParseResult result;
    const auto valued = ValuedOptions(result.options);
    const auto flags = FlagOptions(result.options);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::optional<std::string_view> value; // --name=value, the one place that splits it
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        if (const auto flag = flags.find(arg); flag != flags.end() && !value) {
            *flag->second = true;
            continue;
        }
        const auto option = valued.find(arg);
        if (option == valued.end()) {
            result.error = "unknown option '" + std::string(args[i]) + "'";
            return result;
        }
        if (!value && i + 1 >= args.size()) {
            result.error = "option " + std::string(arg) + " needs a value";
            return result;
        }
        if (!value)
            value = args[++i];
        if (!option->second(*value)) {
            result.error =
                "invalid value '" + std::string(*value) + "' for option " + std::string(arg);
            return result;
        }
    }
    const SimOptions& o = result.options;
    if (o.replayPath.empty() && (o.loop || o.keepGoing || o.withMaster || o.withDevice))
        result.error = "--loop, --keep-going, --with-master and --with-device need --replay";
    return result;
}

namespace {

constexpr char Help[] = R"(Usage: qtr290-sim [options]

Simulates a QTR290 device bus on a pseudo-terminal: a bus master that polls one
station at a fixed interval, and one QTR290 device that answers read and write
requests. The first line on standard output is the device path to open (the
--link path if given, otherwise the pseudo-terminal itself). The terminal is
raw, 8N1; the simulator paces what it writes at 10 bit times per byte of the
configured baud rate. A summary (key=value lines) goes to standard error at exit,
also on SIGINT and SIGTERM; the exit status is then 0. When standard output does
not take the device line, the simulator says so and ends at once with status 1.

Bus:
  --link PATH            also make PATH a symbolic link to the device (replaces an
                         existing symbolic link; removed at exit)
  --baud N               pacing rate in baud (default 4800)
  --poll-interval MS     time between polls (default 200; 0 = no automatic polls)
  --poll-station ADDR    To of the polls (default 0xF0)
  --poll-kind KIND       long, short or mixed (alternating) polls (default long)
  --master-address ADDR  From of the polls and of the other traffic (default 0x01)
  --device-address ADDR  station address of the QTR290 device (default 0x00)
  --reply-delay MS       device's turnaround after a request (default 2)
  --saturate             fill the gaps between polls with traffic between the
                         master and other stations (0x10..0x1F): read requests and
                         replies, write requests and status replies, short
                         non-poll telegrams; the bus then carries baud/10 bytes/s

Faults (RATE is a whole number N = every Nth telegram, 0 = never, or a
probability with a decimal point, e.g. 0.25; they apply to the polls, the device's
replies and the saturating traffic):
  --inject-header-errors RATE  damage the header checksum byte
  --inject-block-errors RATE   damage one block byte (not when the header is damaged)
  --inject-noise RATE          put 1..--noise-length random bytes before a telegram
  --noise-length N             longest noise burst (default 8); noise never
                               contains the sync bytes 0xA5 and 0xA6
  --split-writes RATE          cut a telegram into 2 to 4 pieces with a pause
  --split-delay MS             the pause between pieces (default 50)
  --seed N                     seed of the random choices (default 1)
  Damaged bytes never become a sync byte.

Run:
  --duration SEC   stop after SEC seconds (decimals allowed)
  --count N        stop after the Nth poll
  --linger MS      after the last poll or the end of --duration, keep answering
                   for MS milliseconds before exiting (default 300); then wait up
                   to 0.5 s (0.2 s after a signal) for the far end to read what was
                   sent, as closing the pseudo-terminal discards unread bytes
  --script         read commands from standard input, one per line: "poll"
                   sends a poll now; hexadecimal bytes ("A6 00 F0 ..." or
                   "A600F0...") are sent as they are, without faults; "quit" or
                   the end of input stops the simulator; "#" starts a comment
  --replay FILE    write the bytes received in a capture onto the line, chunk by
                   chunk at their recorded time offsets: FILE is a capture file
                   (incoming.txt) or a pcapng file of this project (the window's
                   incoming-live.pcapng, qtr290-pcap's output; transmitted packets
                   are left out). The master and the device stay quiet unless
                   --with-master or --with-device is given. The replay ends the run
                   (after --linger) unless --loop; --duration and --count still
                   apply. A malformed line or block stops it with "FILE:LINE: ..."
                   on standard error and exit status 1 (for pcapng, LINE is the
                   block's number)
  --speed X        replay time scale: 2 = twice as fast, 0.5 = half; 0 = as fast
                   as the --baud pacing allows (default 1)
  --loop           start the replay over at its end
  --keep-going     report malformed lines or blocks, skip them and go on
                   (with --loop each is reported on the first pass only)
  --with-master    during a replay, also poll (and --saturate) as without it
  --with-device    during a replay, let the device answer requests
  --log FILE       one line per telegram sent or received ("-" = standard error)
  --stats FILE     write the summary to FILE at exit
  --quiet          no summary on standard error
  --help           this text

The device: seven memory areas, codes 0x00 (RAM290) to 0x60 (RAMBIT290), 64 KiB
each. Addresses are taken modulo 0x10000 (the high address byte is ignored and a
run past 0xFFFF continues at 0x0000). At start every cell holds
  (address & 0xFF) XOR ((address >> 8) & 0xFF) XOR area code.
A request is a long telegram with To = device address and Device bits 0..3 = 1010
(bit 7 set: write). Replies go to the request's From, with From = device address:
  read reply:    A6 To From (area|0B) L HC | Count Addr0 Addr1 Addr2 Data... CRC8 BC
                 Count = data bytes returned = the requested Count, at most 251;
                 CRC8 covers Count, the address and the data (as in a write request)
  status reply:  A6 To From (W|area|0C) 04 HC | Count Addr0 Addr1 Addr2 Status BC
                 W = 0x80 for a write; Count and address echo the request.
                 Status 00 = write applied, 01 = CRC8 mismatch (not applied),
                 02 = unknown area (code 0x70), 03 = block length does not fit Count.
A valid write is applied and answered with status 00; a faulty request of either
kind gets a status reply. HC and BC are the header and block checksums. Neither
reply is a poll. Telegrams to other stations, polls and short telegrams are only
logged and counted.
Polls: long A6 To From 00 00 HC Seq BC, short A5 To From 80 HC Seq BC, where Seq
is the poll's number modulo 256 (the first poll is 1).

Log lines: "<ms since start> TX|RX <kind> <hex bytes>[ fault=header|block]
[ split=N]", where TX kinds are poll, read-reply, status-reply, filler, noise,
script and replay (one per chunk replayed), and RX kinds are read-request,
write-request, poll, telegram; damaged telegrams received are logged as
"RX damaged header" or "RX damaged block".
TX lines are written when the last byte has gone out.

Summary keys:
  elapsed_ms, polls_sent, tx_telegrams (polls, replies and filler sent),
  tx_read_replies, tx_status_replies, tx_filler, tx_script, tx_noise, tx_bytes
  (every byte written), rx_bytes, rx_telegrams (intact), rx_header_errors,
  rx_block_errors, rx_requests (intact requests to the device), reads_answered,
  writes_applied, requests_rejected, injected_header_errors,
  injected_block_errors, injected_noise_bytes, split_telegrams,
  line_telegrams, line_polls, line_header_errors, line_block_errors (what a
  receiver that reads every byte sent finds, framing as the utility does),
  backlog_flushes (times nobody read the device and the 20 KiB or so that the
  pseudo-terminal holds were full; the unread bytes are then discarded, as on a bus
  nobody listens to, and the line_* counts no longer describe what a listener saw),
  replay_lines, replay_packets (chunks replayed from a capture file or a pcapng
  file, over every --loop pass), replay_bytes, replay_span_ms (capture time from
  the first to the last chunk of the file replayed), replay_skipped (malformed
  lines or blocks passed over with --keep-going, over every --loop pass),
  replay_passes (whole passes).
)";

} // namespace

std::string HelpText()
{
    return Help;
}

} // namespace qtr290::sim
