// The settings file "nastaveni.ini": the six keys the window reads at start and writes at
// close, and the [Porty] section that maps COM numbers to devices (read only; readers of
// this file format ignore sections they do not know).
#pragma once

#include "serial/com_names.h"
#include "settings/filelocations.h"
#include "settings/iniprofile.h"

#include <QString>

namespace qtr290 {

struct Settings {
    int port = 1; // "Port": 1-based Cmb_ComPort item; outside 1 to 256 selects nothing
    QString baudRate = QStringLiteral("4800");
    bool filterOn = false;
    QString filterFrom = QStringLiteral("00");
    QString filterTo = QStringLiteral("3f");
    QString bytesPerLine = QStringLiteral("32");
    ComPortNames ports;  // [Porty]
    bool pcapng = false; // [Wireshark] Pcapng: the capture also as pcapng; read, never written
};

// Loads the profile the program keeps its settings in: the user's file, or while that does not
// exist yet the seed beside the program, whose contents a save then writes to the user's file.
// False when the settings file exists but cannot be read (a seed that cannot be read counts as
// none).
bool LoadSettingsProfile(IniProfile& ini, const FileLocations& where);

// Missing keys, and "Port" or "Zapnuto" values that are no integer, give the defaults above.
Settings ReadSettings(const IniProfile& ini);

// Writes every one of the six keys, changed or not; [Porty] and all else in the file stay.
void WriteSettings(IniProfile& ini, const Settings& settings);

// The overview's choices, in a section of their own ([Prehled]). The panel is an addition:
// hidden until the operator asks for it, so that the window starts as it always has.
struct OverviewSettings {
    bool panelShown = false; // "Zobrazit"
    bool timeStamps = false; // "Casove znacky"
};

OverviewSettings ReadOverviewSettings(const IniProfile& ini);

// A key is written only when the file has it already or its value is not the default: the
// file of an operator who never touched these options keeps only the six keys.
void WriteOverviewSettings(IniProfile& ini, const OverviewSettings& overview);

// The window's language ([Rozhrani] Jazyk): "cs" when the key is missing or blank. Only the
// operator writes it; the close leaves the section as it is.
QString ReadLanguage(const IniProfile& ini);

} // namespace qtr290
