// Fuzz target for a station's JSON request lines (qtr290-ctl's batch, a gateway's payloads):
// the input is one line. Checked on every input: an accepted request is one the link can
// queue (an area of the table, 24-bit address, a write of 1 to MaxWriteCount bytes whose
// Count is its data); a refusal names a key or says what the line is not; the error object
// and the result object of the request are JSON that reads back to the same texts.
#include "fuzz/fuzz_check.h"
#include "station/requestjson.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <string>

using namespace qtr290;

namespace {

QJsonObject Parsed(const std::string& json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    FUZZ_CHECK(error.error == QJsonParseError::NoError && doc.isObject());
    return doc.object();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);
    const auto parsed = ParseRequestLine(line, StationRequest{});
    if (const auto* refused = std::get_if<RequestError>(&parsed)) {
        FUZZ_CHECK(!refused->message.empty());
        const QJsonObject error = Parsed(ErrorJson(refused->message));
        FUZZ_CHECK(error.value(QLatin1String("error")).toString().toStdString() ==
                   QString::fromUtf8(refused->message).toStdString());
        return 0;
    }
    const StationRequest& r = std::get<StationRequest>(parsed);
    FUZZ_CHECK(!MemoryAreaName(r.area).empty());
    FUZZ_CHECK(r.address <= 0xFFFFFF);
    if (r.write) {
        FUZZ_CHECK(!r.data.empty() && r.data.size() <= static_cast<std::size_t>(MaxWriteCount));
        FUZZ_CHECK(r.count == r.data.size());
    }
    FUZZ_CHECK(r.timeoutSeconds > 0 && r.timeoutSeconds <= 86400);

    RequestTarget target{r.from, r.to, r.area, r.address};
    RequestResult result;
    result.request =
        r.write ? BuildWriteRequest(target, r.data) : BuildReadRequest(target, r.count);
    result.removed = RequestResult::Removed::Reply;
    result.releasedBy = result.request;
    const QJsonObject json = Parsed(ResultJson(result, r.write ? "write" : "read"));
    FUZZ_CHECK(json.value(QLatin1String("request")).toString().toStdString() ==
               HexText(result.request));
    FUZZ_CHECK(json.value(QLatin1String("reply_from")).toString().toStdString().size() == 2);
    return 0;
}
