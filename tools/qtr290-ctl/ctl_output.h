// What qtr290-ctl prints: results, monitor lines and the monitor's summary, as readable lines
// or JSON objects (the JSON of results is the station's, shared with every JSON face).
#pragma once

#include "link/framer.h"
#include "station/busstatistics.h"
#include "station/request.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace qtr290::ctl {

// The result line: one JSON object (with "op" for a batch) or one readable line.
std::string FormatResult(const RequestResult& result, bool json, const char* op = nullptr);
// One monitor line: a telegram, or a damage.
std::string FormatTelegram(const std::string& time, ByteSpan telegram, bool json);
std::string FormatDamage(const std::string& time, FramerError error, bool json);
// "telegrams=... polls=... answers=... header_errors=... block_errors=... sent=... bytes=...",
// then " overruns=..." where the device counts the received bytes it lost.
std::string FormatSummary(const BusCounts& counts,
                          std::optional<std::uint64_t> overruns = std::nullopt);
// One line out, flushed; false, with the message on `err`, when standard output failed.
bool PrintLine(std::ostream& out, std::ostream& err, const std::string& line);
// The local time, ISO 8601 with milliseconds.
std::string TimeNow();

} // namespace qtr290::ctl
