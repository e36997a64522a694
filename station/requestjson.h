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

// The request as a line ParseRequestLine reads back to the same request, every key written
// (no defaults of the reader's count); `extraMembers` (`"id":7`) before the closing brace.
std::string RequestJson(const StationRequest& request, std::string_view extraMembers = {});

// The result as one JSON object; `op` ("read", "write") first when given.
std::string ResultJson(const RequestResult& result, const char* op = nullptr);
// A result as ResultJson wrote it, back into its fields; other keys ("op", "id") are left
// alone. The refusal names the key.
std::variant<RequestResult, RequestError> ParseResultJson(std::string_view text);
// {"error":"..."}
std::string ErrorJson(std::string_view message);

// The word of a removal in results: "reply", "once-only", "cleared", "timeout", ...
const char* RemovedWord(RequestResult::Removed removed);

// A JSON string literal: quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view text);
// Bytes as "XX XX ...", no trailing blank.
std::string HexText(ByteSpan bytes);
// HexText's text back into bytes (either case); nothing for any other text.
std::optional<std::vector<std::uint8_t>> BytesOfHexText(std::string_view text);

} // namespace qtr290
