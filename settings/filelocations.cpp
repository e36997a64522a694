#include "filelocations.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>

namespace qtr290 {

namespace {

QString Join(const QStringList& parts)
{
    return QDir::cleanPath(parts.join(QLatin1Char('/')));
}

// A real attempt: permission bits say nothing about read-only mounts, ACLs or Windows'
// Program Files, and the settings save needs to create a file there.
bool CanCreateFileIn(const QString& dir)
{
    QTemporaryFile probe(dir + QStringLiteral("/.qtr290-probe-XXXXXX"));
    return probe.open();
}

} // namespace

FileLocations LocateFiles(const FileFolders& folders)
{
    if (folders.programDirWritable || folders.userConfigDir.isEmpty() ||
        folders.userDataDir.isEmpty())
        return {Join({folders.programDir, QLatin1String(SettingsFileName)}),
                Join({folders.programDir, QLatin1String(CaptureFileName)})};
    return {
        Join({folders.userConfigDir, QLatin1String(UserFolderName),
              QLatin1String(SettingsFileName)}),
        Join({folders.userDataDir, QLatin1String(UserFolderName), QLatin1String(CaptureFileName)})};
}

FileFolders SystemFolders(const QString& programDir)
{
    FileFolders folders;
    folders.programDir = programDir;
    folders.programDirWritable = CanCreateFileIn(programDir);
#ifdef Q_OS_WIN
    // The roaming profile, as a Windows program keeps its settings; Qt names only
    // application-specific folders below it.
    folders.userConfigDir = folders.userDataDir =
        QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
#else
    folders.userConfigDir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    folders.userDataDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#endif
    return folders;
}

QString DescribeLocations(const FileLocations& locations)
{
    return QCoreApplication::translate("qtr290::FileLocations",
                                       "Nastavení: %1\nVýstup do souboru: %2")
        .arg(QDir::toNativeSeparators(locations.settingsFile),
             QDir::toNativeSeparators(locations.captureFile));
}

QString CaptureFilePath(const QString& programDir)
{
    return programDir + QLatin1Char('/') + QLatin1String(CaptureFileName);
}

} // namespace qtr290
