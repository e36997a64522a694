#include "settings/settings.h"

#include <QFileInfo>

namespace qtr290 {

namespace {

constexpr char SectionPort[] = "Seriovy port";
constexpr char SectionFilter[] = "Filtruj prichozi";
constexpr char SectionProgram[] = "Program";
constexpr char SectionPorts[] = "Porty";
constexpr char SectionWireshark[] = "Wireshark";
constexpr char SectionOverview[] = "Prehled";
constexpr char SectionInterface[] = "Rozhrani";

constexpr char KeyPort[] = "Port";
constexpr char KeyBaudRate[] = "Baud rate";
constexpr char KeyFilterOn[] = "Zapnuto";
constexpr char KeyFilterFrom[] = "Zarizeni";
constexpr char KeyFilterTo[] = "Adresat";
constexpr char KeyBytesPerLine[] = "Pocet bytu na radku";
constexpr char KeyPcapng[] = "Pcapng";
constexpr char KeyPanelShown[] = "Zobrazit";
constexpr char KeyTimeStamps[] = "Casove znacky";
constexpr char KeyLanguage[] = "Jazyk";

QString Read(const IniProfile& ini, const char* section, const char* key, const QString& fallback)
{
    return QString::fromStdString(ini.ReadString(section, key, fallback.toStdString()));
}

} // namespace

bool LoadSettingsProfile(IniProfile& ini, const FileLocations& where)
{
    ini = IniProfile(where.settingsFile);
    const QFileInfo own(where.settingsFile);
    if (where.seedSettingsFile.isEmpty() || own.exists() || own.isSymLink())
        return ini.Load();
    IniProfile seed(where.seedSettingsFile);
    if (seed.Load()) {
        seed.MoveTo(where.settingsFile);
        ini = std::move(seed);
    }
    return true;
}

Settings ReadSettings(const IniProfile& ini)
{
    const Settings defaults;
    Settings settings;
    settings.port = ini.ReadInteger(SectionPort, KeyPort, defaults.port);
    settings.baudRate = Read(ini, SectionPort, KeyBaudRate, defaults.baudRate);
    settings.filterOn = ini.ReadInteger(SectionFilter, KeyFilterOn, 0) != 0;
    settings.filterFrom = Read(ini, SectionFilter, KeyFilterFrom, defaults.filterFrom);
    settings.filterTo = Read(ini, SectionFilter, KeyFilterTo, defaults.filterTo);
    settings.bytesPerLine = Read(ini, SectionProgram, KeyBytesPerLine, defaults.bytesPerLine);
    settings.ports = ComPortNames::FromEntries(ini.ReadSection(SectionPorts));
    settings.pcapng = ini.ReadInteger(SectionWireshark, KeyPcapng, 0) != 0;
    return settings;
}

void WriteSettings(IniProfile& ini, const Settings& settings)
{
    ini.WriteString(SectionPort, KeyPort, std::to_string(settings.port));
    ini.WriteString(SectionPort, KeyBaudRate, settings.baudRate.toStdString());
    ini.WriteString(SectionFilter, KeyFilterOn, settings.filterOn ? "1" : "0");
    ini.WriteString(SectionFilter, KeyFilterFrom, settings.filterFrom.toStdString());
    ini.WriteString(SectionFilter, KeyFilterTo, settings.filterTo.toStdString());
    ini.WriteString(SectionProgram, KeyBytesPerLine, settings.bytesPerLine.toStdString());
}

OverviewSettings ReadOverviewSettings(const IniProfile& ini)
{
    const OverviewSettings defaults;
    OverviewSettings overview;
    overview.panelShown = ini.ReadInteger(SectionOverview, KeyPanelShown, defaults.panelShown) != 0;
    overview.timeStamps = ini.ReadInteger(SectionOverview, KeyTimeStamps, defaults.timeStamps) != 0;
    return overview;
}

void WriteOverviewSettings(IniProfile& ini, const OverviewSettings& overview)
{
    const OverviewSettings defaults;
    const auto write = [&](const char* key, bool value, bool fallback) {
        if (value != fallback || ini.Find(SectionOverview, key))
            ini.WriteString(SectionOverview, key, value ? "1" : "0");
    };
    write(KeyPanelShown, overview.panelShown, defaults.panelShown);
    write(KeyTimeStamps, overview.timeStamps, defaults.timeStamps);
}

QString ReadLanguage(const IniProfile& ini)
{
    const QString language = Read(ini, SectionInterface, KeyLanguage, QString()).trimmed();
    return language.isEmpty() ? QStringLiteral("cs") : language;
}

} // namespace qtr290
