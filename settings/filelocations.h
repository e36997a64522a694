// Where the settings file and the capture file lie. Beside the program when its directory
// is writable (a portable copy keeps its files with it, in the program's directory);
// otherwise, and always for an installed program (in the system's binary folder or in a
// folder its user does not own, whoever runs it, root included), in the user's own folders.
// There a settings file beside the program (an administrator's, an old copy's) gives the
// starting settings until the user has a file of their own; it is never written.
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
    QString userConfigDir;         // the user's settings folder: $XDG_CONFIG_HOME, %APPDATA%
    QString userDataDir;           // the user's data folder: $XDG_DATA_HOME, %APPDATA%
    bool programInstalled = false; // in a system binary folder or one its user does not own
};

struct FileLocations {
    QString settingsFile; // "nastaveni.ini"
    QString captureFile;  // "incoming.txt"
    // Read instead of settingsFile while that does not exist yet; never written. Empty when
    // the files lie beside the program.
    QString seedSettingsFile;
};

// The rule itself: pure. Without a per-user folder the files stay beside the program,
// where a failed write is then reported as usual.
FileLocations LocateFiles(const FileFolders& folders);

// This machine's answer for the program directory: whether a file can be created there,
// whether it holds an installed program, and the user's folders.
FileFolders SystemFolders(const QString& programDir);

// A program directory joined with "incoming.txt".
QString CaptureFilePath(const QString& programDir);

// For the operator: where the two files are (a tooltip).
QString DescribeLocations(const FileLocations& locations);

} // namespace qtr290
