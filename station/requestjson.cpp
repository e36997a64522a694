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

// A key that holds telegram bytes, or null where `nullable`.
std::optional<RequestError> ReadBytes(const QJsonObject& o, const char* key, bool nullable,
                                      std::vector<std::uint8_t>& into)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (nullable && v.isNull())
        return std::nullopt;
    const auto bytes = v.isString() ? BytesOfHexText(v.toString().toStdString()) : std::nullopt;
    if (!bytes)
        return Refuse(key, "not hexadecimal bytes \"XX XX\"");
    into = *bytes;
    return std::nullopt;
}

// A key that holds milliseconds or null.
std::optional<RequestError> ReadMilliseconds(const QJsonObject& o, const char* key,
                                             std::optional<long long>& into)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isNull())
        return std::nullopt;
    if (!v.isDouble() || v.toDouble() < 0 || v.toDouble() != std::floor(v.toDouble()))
        return Refuse(key, "neither null nor a whole number of milliseconds");
    into = v.toInteger();
    return std::nullopt;
}

std::optional<RequestResult::Removed> RemovedOfWord(const QString& word)
{
    using R = RequestResult::Removed;
    for (const R removed :
         {R::Reply, R::OnceOnly, R::Cleared, R::Timeout, R::Interrupted, R::PortLost})
        if (word == QLatin1String(RemovedWord(removed)))
            return removed;
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

std::optional<std::vector<std::uint8_t>> BytesOfHexText(std::string_view text)
{
    // Two digits a byte, one blank between bytes.
    if (text.empty() || text.size() % 3 != 2)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at < text.size(); at += 3) {
        const int high = HexDigitValue(static_cast<unsigned char>(text[at]));
        const int low = HexDigitValue(static_cast<unsigned char>(text[at + 1]));
        if (high < 0 || low < 0 || (at + 2 < text.size() && text[at + 2] != ' '))
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return bytes;
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

std::variant<RequestResult, RequestError> ParseResultJson(std::string_view text)
{
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(text.data(), static_cast<qsizetype>(text.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        return RequestError{"not a JSON object"};
    const QJsonObject o = doc.object();
    RequestResult r;
    if (auto e = ReadBytes(o, "request", false, r.request))
        return *e;
    const QJsonValue sent = o.value(QLatin1String("sent"));
    if (!sent.isDouble() || sent.toDouble() < 0 || sent.toDouble() > 1e9 ||
        sent.toDouble() != std::floor(sent.toDouble()))
        return Refuse("sent", "not a whole number");
    r.sent = sent.toInt();
    const auto removed = RemovedOfWord(o.value(QLatin1String("removed")).toString());
    if (!removed)
        return Refuse("removed", "not a word of removal (\"reply\", \"timeout\", ...)");
    r.removed = *removed;
    if (auto e = ReadBytes(o, "released_by", true, r.releasedBy))
        return *e;
    if (auto e = ReadMilliseconds(o, "wait_ms", r.waitMs))
        return *e;
    if (auto e = ReadMilliseconds(o, "reply_ms", r.replyMs))
        return *e;
    return r;
}

std::string RequestJson(const StationRequest& r, std::string_view extraMembers)
{
    const std::string area = AreaName(r.area);
    std::string s = std::string("{\"op\":") + (r.write ? "\"write\"" : "\"read\"") +
                    ",\"area\":" + (area.empty() ? std::to_string(r.area) : JsonString(area)) +
                    ",\"address\":" + JsonString(HexNumber(r.address));
    if (r.write) {
        std::string data = ChunkText(r.data);
        std::erase(data, ' ');
        s += ",\"data\":" + JsonString(data);
    } else {
        s += ",\"count\":" + std::to_string(r.count);
    }
    s += ",\"to\":" + JsonString(HexByte(r.to)) + ",\"from\":" + JsonString(HexByte(r.from)) +
         ",\"now\":" + (r.now ? "true" : "false") +
         ",\"timeout\":" + QByteArray::number(r.timeoutSeconds, 'g', 17).toStdString();
    if (!extraMembers.empty())
        s += "," + std::string(extraMembers);
    return s + "}";
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
        const std::string t =
            v.isDouble() ? QByteArray::number(v.toDouble(), 'g', 17).toStdString() : "?";
        const auto seconds = v.isDouble() ? ParseSeconds(t, why) : std::nullopt;
        if (!seconds)
            return Refuse("timeout", "not a number of seconds above 0");
        r.timeoutSeconds = *seconds;
    }
    return r;
}

} // namespace qtr290
