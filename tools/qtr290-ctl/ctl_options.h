// qtr290-ctl's command line: what the user asked for, checked before any port is touched.
// Every refusal names the argument it is about.
#pragma once

#include "station/request.h"
#include "station/requestjson.h"
#include "station/requesttext.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qtr290::ctl {

enum class Command { None, Read, Write, Monitor, Batch };

using Request = StationRequest;
using UsageError = RequestError; // names the argument: "ADDRESS '1000000': more than 24 bits"

// --broker: the commands carried to a gateway over MQTT instead of a local port. The URL is
// checked where the connection is made; the password is read there too.
struct BrokerOptions {
    std::string url;
    std::string bus, prefix = "qtr290"; // topic levels, checked here
    std::string username;
    std::optional<std::string> passwordFile; // else QTR290_MQTT_PASSWORD
    std::string caFile, certFile, keyFile;
};

struct Options {
    Command command = Command::None;
    bool help = false, version = false, json = false, verbose = false;
    std::optional<std::string> device;
    std::optional<unsigned> baud;
    Request request; // read/write; its to, from, now and timeout are the batch's defaults
    // monitor
    std::optional<unsigned long> stopAfterCount;
    std::optional<double> durationSeconds;
    bool noPolls = false;
    std::optional<std::uint8_t> filterFrom, filterTo;
    std::optional<BrokerOptions> broker;
};

inline constexpr unsigned LowestBaud = 50;
inline constexpr unsigned HighestBaud = 4000000;

// The arguments after the program's name. Needs no QCoreApplication.
std::variant<Options, UsageError> ParseArguments(const std::vector<std::string>& args);

// One batch line, the command line's request as its defaults.
inline std::variant<Request, UsageError> ParseBatchLine(std::string_view line,
                                                        const Request& defaults)
{
    return ParseRequestLine(line, defaults);
}

} // namespace qtr290::ctl
