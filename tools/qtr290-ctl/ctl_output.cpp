#include "tools/qtr290-ctl/ctl_output.h"

#include "link/hextext.h"
#include "station/requestjson.h"

#include <QDateTime>

#include <ostream>

namespace qtr290::ctl {

std::string FormatResult(const RequestResult& r, bool json, const char* op)
{
    if (json)
        return ResultJson(r, op);
    std::string s;
    switch (r.removed) {
    case RequestResult::Removed::Reply:
        s = "reply " + HexText(r.releasedBy);
        break;
    case RequestResult::Removed::OnceOnly:
        s = "sent once (a once-only station's telegram)";
        break;
    default:
        s = std::string(RemovedWord(r.removed)) + ": no reply, request taken out of the queue";
        break;
    }
    s += "  [request " + HexText(r.request) + ", sent " + std::to_string(r.sent) + "x";
    if (r.waitMs)
        s += ", waited " + std::to_string(*r.waitMs) + " ms";
    if (r.replyMs)
        s += ", reply after " + std::to_string(*r.replyMs) + " ms";
    return s + "]";
}

std::string FormatTelegram(const std::string& time, ByteSpan t, bool json)
{
    if (!json)
        return time + "  " + HexText(t);
    const bool isLong = t[0] == SyncLong;
    std::string s = "{\"time\":" + JsonString(time) + ",\"hex\":" + JsonString(HexText(t)) +
                    ",\"kind\":" + (isLong ? "\"long\"" : "\"short\"") +
                    ",\"to\":" + JsonString(HexByte(TelegramTo(t))) +
                    ",\"from\":" + JsonString(HexByte(TelegramFrom(t))) +
                    ",\"poll\":" + (IsPoll(t) ? "true" : "false");
    if (isLong)
        s += ",\"device\":" + JsonString(HexByte(t[3])) + ",\"length\":" + std::to_string(t[4]);
    return s + "}";
}

std::string FormatDamage(const std::string& time, FramerError error, bool json)
{
    if (!json)
        return time + "  " + std::string(FramerErrorText(error));
    return "{\"time\":" + JsonString(time) +
           ",\"error\":" + (error == FramerError::HeaderChecksum ? "\"header\"" : "\"block\"") +
           "}";
}

std::string FormatSummary(const BusCounts& c, std::optional<std::uint64_t> overruns)
{
    return "telegrams=" + std::to_string(c.telegrams) + " polls=" + std::to_string(c.polls) +
           " answers=" + std::to_string(c.answers) +
           " header_errors=" + std::to_string(c.headerErrors) +
           " block_errors=" + std::to_string(c.blockErrors) + " sent=" + std::to_string(c.sent) +
           " bytes=" + std::to_string(c.bytes) +
           (overruns ? " overruns=" + std::to_string(*overruns) : std::string());
}

std::string TimeNow()
{
    // The telegrams of one chunk come within the same millisecond: the local time (which
    // costs a look at the time zone file) is made once for them.
    static qint64 lastMs = -1;
    static std::string lastText;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now != lastMs) {
        lastMs = now;
        lastText = QDateTime::fromMSecsSinceEpoch(now).toString(Qt::ISODateWithMs).toStdString();
    }
    return lastText;
}

bool PrintLine(std::ostream& out, std::ostream& err, const std::string& line)
{
    out << line << '\n';
    out.flush();
    if (out.good())
        return true;
    err << "qtr290-ctl: cannot write to standard output; stopped\n";
    return false;
}

} // namespace qtr290::ctl
