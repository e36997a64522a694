// The one place the gateway meets the station and qtr290-ctl: choosing and opening the port
// as qtr290-ctl does (its station follows one request at a time), the request lines and
// their JSON results (the station's), and the monitor's JSON lines (qtr290-ctl's).
#pragma once

#include "link/framer.h"
#include "link/telegram.h"
#include "station/request.h"
#include "tools/qtr290-ctl/ctl_station.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace qtr290::gateway {

using BusStation = ctl::Station;
using PortChoice = ctl::PortChoice;
using BusRequest = StationRequest;

// The port of --device/--baud, else of the settings file as qtr290-ctl finds it; a rate in the
// file that is no rate is refused in words naming the file and the key.
std::variant<PortChoice, std::string> ChoosePort(const std::optional<std::string>& device,
                                                 const std::optional<unsigned>& baud);

// A qtr290-ctl batch line (other keys, such as "id", are left alone); the refusal in words.
std::variant<BusRequest, std::string> ParseRequest(std::string_view line);
const char* RequestOp(const BusRequest& request); // "read" or "write"

// As `qtr290-ctl monitor --json` prints them.
std::string TelegramJson(ByteSpan telegram);
std::string DamageJson(FramerError error);
// The local time as the monitor lines give it: ISO 8601 with milliseconds (qtr290-ctl's).
std::string EventTime();

} // namespace qtr290::gateway

namespace qtr290::gateway {

// SIGINT and SIGTERM, noted for the event loop to look at (as qtr290-ctl does).
void InstallStopSignals();
bool StopSignalled();

} // namespace qtr290::gateway
