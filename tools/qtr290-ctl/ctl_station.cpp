#include "tools/qtr290-ctl/ctl_station.h"

#include "settings/settings.h"
#include "settings/textconv.h"

#include <algorithm>

namespace qtr290::ctl {

namespace {

constexpr int HighestPortItem = 256; // the window's port list: COM1 .. COM256
constexpr unsigned DefaultBaud = 4800;

} // namespace

std::string PortChoice::Describe() const
{
    const std::string device = names.Device(number);
    return "COM" + std::to_string(number) + " (" + (device.empty() ? "no device" : device) + ")";
}

std::variant<PortChoice, UsageError> ChoosePortChecked(const Options& options,
                                                       const QString& settingsFile)
{
    IniProfile ini(settingsFile);
    ini.Load(); // an unreadable file reads as the defaults, as in the window
    const Settings settings = ReadSettings(ini);
    PortChoice port;
    if (options.device) {
        port.number = 1;
        port.names = ComPortNames({{1, *options.device}});
    } else {
        // The window's list item, and the link's one-byte port number for it.
        const int item = settings.port >= 1 && settings.port <= HighestPortItem ? settings.port : 0;
        port.number = static_cast<std::uint8_t>(item);
        port.names = settings.ports;
    }
    if (options.baud) {
        port.baud = *options.baud;
        return port;
    }
    const auto rate = ParseInteger(settings.baudRate.toStdString());
    if (!rate || *rate < static_cast<long long>(LowestBaud) ||
        *rate > static_cast<long long>(HighestBaud))
        return UsageError{settingsFile.toStdString() + ": [Seriovy port] \"Baud rate\" '" +
                          settings.baudRate.toStdString() +
                          "' is not a whole number from 50 to 4000000"};
    port.baud = static_cast<unsigned>(*rate);
    return port;
}

PortChoice ChoosePort(const Options& options, const QString& settingsFile)
{
    auto chosen = ChoosePortChecked(options, settingsFile);
    if (auto* port = std::get_if<PortChoice>(&chosen))
        return *port;
    Options withRate = options;
    withRate.baud = DefaultBaud;
    return std::get<PortChoice>(ChoosePortChecked(withRate, settingsFile));
}

std::string OpenFailureText(OpenFailure failure)
{
    switch (failure) {
    case OpenFailure::NoDevice:
        return "no device is assigned to this COM number ([Porty] in nastaveni.ini)";
    case OpenFailure::NotFound:
        return "the device does not exist";
    case OpenFailure::NoPermission:
        return "permission denied (is the user in the group dialout?)";
    case OpenFailure::Busy:
        return "the port is in use by another program";
    case OpenFailure::Settings:
        return "the device refused the line settings (not a serial port?)";
    case OpenFailure::None:
        break;
    }
    return "the port could not be opened";
}

Station::Station(PortChoice port) : FPort(std::move(port)), FLink(MakeSystemPlatform(FPort.names))
{
    FLink.AddObserver(&FStatistics);
    FLink.AddObserver(&FQueue);
    FLink.AddObserver(this);
    FLink.NastavVychozi();
    FLink.NastavPort(static_cast<std::uint8_t>(FPort.number));
    FLink.SeriovyPort().SetOnDeviceLost([this](TSerialPortDriver&) {
        FLost = true;
        Close();
        Abandon(RequestResult::Removed::PortLost);
        if (onLost)
            onLost();
    });
}

Station::~Station()
{
    Close();
    FLink.RemoveObserver(this);
    FLink.RemoveObserver(&FQueue);
    FLink.RemoveObserver(&FStatistics);
}

bool Station::Open(std::string& why)
{
    if (!FLink.Otevri(static_cast<int>(FPort.baud))) {
        why = OpenFailureText(FLink.SeriovyPort().LastOpenFailure());
        return false;
    }
    FLink.NastavDTR(false);
    FLink.NastavPrijem([this](TSerialPortDriver&, std::span<const std::uint8_t> chunk) {
        FStatistics.AddBytes(chunk.size());
        FAccumulator.insert(FAccumulator.end(), chunk.begin(), chunk.end());
        FLink.ZpracujPrijem(FAccumulator, {});
    });
    std::uint64_t overruns = 0;
    if (FLink.SeriovyPort().InputOverruns(overruns))
        FOverrunsAtOpen = overruns;
    return true;
}

std::optional<std::uint64_t> Station::Overruns()
{
    std::uint64_t overruns = 0;
    if (!FOverrunsAtOpen || !FLink.SeriovyPort().InputOverruns(overruns))
        return std::nullopt;
    return overruns - std::min(overruns, *FOverrunsAtOpen);
}

void Station::Close()
{
    if (FLink.SeriovyPort().Connected()) {
        FLink.NastavDTR(false);
        FLink.Zavri();
    }
}

void Station::Start(const Request& request, RequestFollower::Done done)
{
    FFollower.Start(request, std::move(done));
}

void Station::Received(ByteSpan telegram, bool isPoll)
{
    if (onTelegram)
        onTelegram(telegram, isPoll);
}

void Station::Damaged(FramerError error)
{
    if (onDamage)
        onDamage(error);
}

} // namespace qtr290::ctl
