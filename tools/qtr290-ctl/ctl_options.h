// qtr290-ctl's command line and batch requests: what the user asked for, checked before
// any port is touched. Every refusal names the argument it is about.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qtr290::ctl {

enum class Command { None, Read, Write, Monitor, Batch };

// One read or write of device memory, as the link queues it.
struct Request {
    bool write = false;
    std::uint8_t area = 0;     // area code 0x00 .. 0x60
    std::uint32_t address = 0; // 24 bits
    std::uint8_t count = 0;    // bytes to read; for a write the number of data bytes
    std::vector<std::uint8_t> data;
    std::uint8_t to = 0x00;
    std::uint8_t from = 0xF0;
    bool now = false; // transmit at once instead of at the next poll
    double timeoutSeconds = 5.0;
};

struct Options {
    Command command = Command::None;
    bool help = false, version = false, json = false;
    std::optional<std::string> device;
    std::optional<unsigned> baud;
    Request request; // read/write; its to, from, now and timeout are the batch's defaults
    // monitor
    std::optional<unsigned long> stopAfterCount;
    std::optional<double> durationSeconds;
    bool noPolls = false;
    std::optional<std::uint8_t> filterFrom, filterTo;
};

struct UsageError {
    std::string message; // names the argument: "ADDRESS '1000000': more than 24 bits"
};

std::variant<Options, UsageError> ParseArguments(const std::vector<std::string>& args);

// The pieces, also used for batch requests. Each gives nullopt and sets `why` on refusal.
std::optional<std::uint8_t> ParseArea(std::string_view text, std::string& why);
std::optional<std::uint32_t> ParseAddress(std::string_view text, std::string& why);
std::optional<std::uint8_t> ParseReadCount(std::string_view text, std::string& why);
std::optional<std::uint8_t> ParseStation(std::string_view text, std::string& why);
// Hex digits, spaces between them ignored; an even number of digits, 1 to 243 bytes.
std::optional<std::vector<std::uint8_t>> ParseData(std::string_view text, std::string& why);
std::optional<double> ParseSeconds(std::string_view text, std::string& why);

// The area's name in the composer's list ("FRAM290"), "" for a code outside it.
std::string AreaName(std::uint8_t code);

// One batch line, a JSON object: {"op":"read","area":"FRAM290","address":"157","count":2}
// or {"op":"write",...,"data":"1234"}, optional "to", "from", "now", "timeout" over the
// defaults. The error text names the offending key.
std::variant<Request, UsageError> ParseBatchLine(std::string_view line, const Request& defaults);

} // namespace qtr290::ctl
