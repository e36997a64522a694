#include "tools/qtr290-gateway/station_adapter.h"

#include "station/requestjson.h"
#include "tools/qtr290-ctl/ctl_commands.h"
#include "tools/qtr290-ctl/ctl_output.h"
#include "tools/qtr290-ctl/ctl_signals.h"

#include <QCoreApplication>

namespace qtr290::gateway {

std::variant<PortChoice, std::string> ChoosePort(const std::optional<std::string>& device,
                                                 const std::optional<unsigned>& baud)
{
    ctl::Options options;
    options.device = device;
    options.baud = baud;
    auto chosen = ctl::ChoosePortChecked(
        options, ctl::SettingsFileToRead(QCoreApplication::applicationDirPath()));
    if (auto* refused = std::get_if<ctl::UsageError>(&chosen))
        return std::move(refused->message);
    return std::get<PortChoice>(std::move(chosen));
}

std::variant<BusRequest, std::string> ParseRequest(std::string_view line)
{
    auto parsed = ParseRequestLine(line, StationRequest{});
    if (auto* refused = std::get_if<RequestError>(&parsed))
        return std::move(refused->message);
    return std::get<StationRequest>(std::move(parsed));
}

const char* RequestOp(const BusRequest& request)
{
    return request.write ? "write" : "read";
}

std::string EventTime()
{
    return ctl::TimeNow();
}

std::string TelegramJson(ByteSpan telegram)
{
    return ctl::FormatTelegram(EventTime(), telegram, true);
}

std::string DamageJson(FramerError error)
{
    return ctl::FormatDamage(EventTime(), error, true);
}

} // namespace qtr290::gateway

namespace qtr290::gateway {

void InstallStopSignals()
{
    ctl::InstallStopHandlers();
}

bool StopSignalled()
{
    return ctl::StopRequested();
}

} // namespace qtr290::gateway
