// The one place the gateway meets qtr290-ctl's station: choosing and opening the port as
// qtr290-ctl does, following one request to its removal, the batch line's parsing and its
// JSON result, and the monitor's JSON lines. When the station's request and ctl's batch
// parsing move into a library of their own, only this file changes.
#pragma once

#include "link/framer.h"
#include "link/telegram.h"
#include "tools/qtr290-ctl/ctl_station.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace qtr290::gateway {

using BusStation = ctl::Station;
using PortChoice = ctl::PortChoice;
using BusRequest = ctl::Request;
using RequestResult = ctl::RequestResult;

// The port of --device/--baud, else of the settings file as qtr290-ctl finds it.
PortChoice ChoosePort(const std::optional<std::string>& device,
                      const std::optional<unsigned>& baud);

// A qtr290-ctl batch line (other keys, such as "id", are left alone); the refusal in words.
std::variant<BusRequest, std::string> ParseRequest(std::string_view line);
const char* RequestOp(const BusRequest& request); // "read" or "write"
// The batch result line, a JSON object with its "op".
std::string ResultJson(const RequestResult& result, const char* op);

// As `qtr290-ctl monitor --json` prints them.
std::string TelegramJson(ByteSpan telegram);
std::string DamageJson(FramerError error);
std::string JsonString(std::string_view text);
// The local time as the monitor lines give it: ISO 8601 with milliseconds.
std::string EventTime();

} // namespace qtr290::gateway

namespace qtr290::gateway {

// SIGINT and SIGTERM, noted for the event loop to look at (as qtr290-ctl does).
void InstallStopSignals();
bool StopSignalled();

} // namespace qtr290::gateway
