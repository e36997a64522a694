// A station's requests and results as JSON lines, for every face that speaks JSON
// (qtr290-ctl's batch and --json, a gateway): one object a request, one object a result.
#pragma once

#include "station/request.h"

#include <string>
#include <string_view>
#include <variant>

namespace qtr290 {

struct RequestError {
    std::string message; // names the offending key: "\"address\": ..."
};

// Batch lines longer than this are refused whole, never cut.
inline constexpr std::size_t LongestRequestLine = 64 * 1024;

// One line, a JSON object: {"op":"read","area":"FRAM290","address":"157","count":2} or
// {"op":"write",...,"data":"1234"}, optional "to", "from", "now", "timeout" over the
// defaults.
std::variant<StationRequest, RequestError> ParseRequestLine(std::string_view line,
                                                            const StationRequest& defaults);

// The result as one JSON object; `op` ("read", "write") first when given.
std::string ResultJson(const RequestResult& result, const char* op = nullptr);
// {"error":"..."}
std::string ErrorJson(std::string_view message);

// The word of a removal in results: "reply", "once-only", "cleared", "timeout", ...
const char* RemovedWord(RequestResult::Removed removed);

// A JSON string literal: quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view text);
// Bytes as "XX XX ...", no trailing blank.
std::string HexText(ByteSpan bytes);

} // namespace qtr290
