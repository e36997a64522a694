#include "station/requestjson.h"

#include "link/hextext.h"
#include "station/requesttext.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>

namespace qtr290 {

namespace {

std::string JsonHexOrNull(const std::vector<std::uint8_t>& bytes)
{
    return bytes.empty() ? "null" : JsonString(HexText(bytes));
}

std::string JsonNumberOrNull(const std::optional<long long>& value)
{
    return value ? std::to_string(*value) : "null";
}

RequestError Refuse(const char* key, const std::string& reason)
{
    return RequestError{std::string("\"") + key + "\": " + reason};
}

// A JSON number is a value: whole, from 0 to `limit`. Anything else (a fraction, a
// negative, 1e300) is refused before it is converted.
std::optional<std::uint32_t> WholeNumber(const QJsonValue& v, std::uint32_t limit)
{
    const double d = v.toDouble();
    if (!v.isDouble() || !(d >= 0 && d <= limit) || d != std::floor(d))
        return std::nullopt;
    return static_cast<std::uint32_t>(d);
}

// One key of a request: a string through its field parser, a number as a value up to
// `limit`.
template <class Value, class Parse>
std::optional<RequestError> ReadKey(const QJsonObject& o, const char* key, Parse parse,
                                    std::uint32_t limit, Value& into)
{
    const QJsonValue v = o.value(QLatin1String(key));
    std::string why;
    if (v.isString()) {
        const auto parsed = parse(v.toString().toStdString(), why);
        if (!parsed)
            return Refuse(key, why);
        into = *parsed;
        return std::nullopt;
    }
    const auto number = WholeNumber(v, limit);
    if (!number)
        return Refuse(key, v.isDouble()
                               ? "the number " + QString::number(v.toDouble()).toStdString() +
                                     " is not a whole number from 0 to " + std::to_string(limit)
                               : "missing or neither a string nor a number");
    into = static_cast<Value>(*number);
    return std::nullopt;
}

} // namespace

std::string JsonString(std::string_view text)
{
    std::string s = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            s += '\\';
            s += c;
        } else if (u < 0x20) {
            static constexpr char digits[] = "0123456789abcdef";
            s += "\\u00";
            s += digits[u >> 4];
            s += digits[u & 0x0F];
        } else {
            s += c;
        }
    }
    return s + '"';
}

std::string HexText(ByteSpan bytes)
{
    std::string text = ChunkText(bytes);
    if (!text.empty())
        text.pop_back(); // "XX XX", no trailing blank
    return text;
}

const char* RemovedWord(RequestResult::Removed removed)
{
    switch (removed) {
    case RequestResult::Removed::Reply:
        return "reply";
    case RequestResult::Removed::OnceOnly:
        return "once-only";
    case RequestResult::Removed::Cleared:
        return "cleared";
    case RequestResult::Removed::Timeout:
        return "timeout";
    case RequestResult::Removed::Interrupted:
        return "interrupted";
    case RequestResult::Removed::PortLost:
        break;
    }
    return "port-lost";
}

std::string ResultJson(const RequestResult& r, const char* op)
{
    std::string s = "{";
    if (op)
        s += "\"op\":" + JsonString(op) + ",";
    s += "\"request\":" + JsonHexOrNull(r.request) + ",\"sent\":" + std::to_string(r.sent) +
         ",\"removed\":" + JsonString(RemovedWord(r.removed)) +
         ",\"released_by\":" + JsonHexOrNull(r.releasedBy) + ",\"reply_from\":" +
         (r.releasedBy.empty() ? std::string("null")
                               : JsonString(HexByte(TelegramFrom(r.releasedBy)))) +
         ",\"wait_ms\":" + JsonNumberOrNull(r.waitMs) +
         ",\"reply_ms\":" + JsonNumberOrNull(r.replyMs) + "}";
    return s;
}

std::string ErrorJson(std::string_view message)
{
    return "{\"error\":" + JsonString(message) + "}";
}

std::variant<StationRequest, RequestError> ParseRequestLine(std::string_view line,
                                                            const StationRequest& defaults)
{
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(line.data(), static_cast<qsizetype>(line.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        return RequestError{"not a JSON object"};
    const QJsonObject o = doc.object();
    StationRequest r = defaults;
    r.data.clear();
    std::string why;

    const QString op = o.value(QLatin1String("op")).toString();
    if (op != QLatin1String("read") && op != QLatin1String("write"))
        return Refuse("op", "must be \"read\" or \"write\"");
    r.write = op == QLatin1String("write");

    if (!o.contains(QLatin1String("area")))
        return Refuse("area", "missing");
    if (auto e = ReadKey(o, "area", ParseArea, 0xFF, r.area))
        return *e;
    if (MemoryAreaName(r.area).empty())
        return Refuse("area", "the number " + std::to_string(r.area) +
                                  " is no area code (0, 16, 32 ... 96; or a name, \"FRAM290\")");
    if (!o.contains(QLatin1String("address")))
        return Refuse("address", "missing (a hexadecimal string, \"157\", or a number)");
    if (auto e = ReadKey(o, "address", ParseAddress, 0xFFFFFF, r.address))
        return *e;

    if (r.write) {
        const QJsonValue data = o.value(QLatin1String("data"));
        if (!data.isString())
            return Refuse("data", "missing (hexadecimal bytes, \"1234\")");
        if (const auto bytes = ParseData(data.toString().toStdString(), why))
            r.data = *bytes;
        else
            return Refuse("data", why);
        r.count = static_cast<std::uint8_t>(r.data.size());
    } else {
        if (!o.contains(QLatin1String("count")))
            return Refuse("count", "missing (0 to 255)");
        if (auto e = ReadKey(o, "count", ParseReadCount, 255, r.count))
            return *e;
    }
    for (const char* key : {"to", "from"}) {
        if (!o.contains(QLatin1String(key)))
            continue;
        std::uint8_t& station = std::string_view(key) == "to" ? r.to : r.from;
        if (auto e = ReadKey(o, key, ParseStation, 0xFF, station))
            return *e;
    }
    if (o.contains(QLatin1String("now"))) {
        if (!o.value(QLatin1String("now")).isBool())
            return Refuse("now", "must be true or false");
        r.now = o.value(QLatin1String("now")).toBool();
    }
    if (o.contains(QLatin1String("timeout"))) {
        const auto v = o.value(QLatin1String("timeout"));
        const std::string t = v.isDouble() ? std::to_string(v.toDouble()) : "?";
        const auto seconds = v.isDouble() ? ParseSeconds(t, why) : std::nullopt;
        if (!seconds)
            return Refuse("timeout", "not a number of seconds above 0");
        r.timeoutSeconds = *seconds;
    }
    return r;
}

} // namespace qtr290
