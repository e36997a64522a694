// Where the settings file and the capture file lie. Beside the program when its directory
// is writable (a portable copy keeps its files with it, in the program's directory);
// otherwise, for a program installed where its user cannot write, in the user's own
// folders. Nothing is moved or looked for between the two places.
#pragma once

#include <QString>

namespace qtr290 {

inline constexpr char SettingsFileName[] = "nastaveni.ini";
inline constexpr char CaptureFileName[] = "incoming.txt";
// The subfolder of the user's folders that holds the program's files.
inline constexpr char UserFolderName[] = "qtr290";

// What the choice depends on.
struct FileFolders {
    QString programDir; // the directory of the executable
    bool programDirWritable = true;
    QString userConfigDir; // the user's settings folder: $XDG_CONFIG_HOME, %APPDATA%
    QString userDataDir;   // the user's data folder: $XDG_DATA_HOME, %APPDATA%
};

struct FileLocations {
    QString settingsFile; // "nastaveni.ini"
    QString captureFile;  // "incoming.txt"
};

// The rule itself: pure. Without a per-user folder the files stay beside the program,
// where a failed write is then reported as usual.
FileLocations LocateFiles(const FileFolders& folders);

// This machine's answer for the program directory: whether a file can be created there,
// and the user's folders.
FileFolders SystemFolders(const QString& programDir);

// A program directory joined with "incoming.txt".
QString CaptureFilePath(const QString& programDir);

// For the operator: where the two files are (a tooltip).
QString DescribeLocations(const FileLocations& locations);

} // namespace qtr290
