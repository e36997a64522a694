#include "settings/filelocations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

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

// The folders a package manager installs programs into; a portable copy never lies there.
bool SystemBinaryDir(const QString& dir)
{
    static const QStringList system = {
        QStringLiteral("/bin"),           QStringLiteral("/sbin"),
        QStringLiteral("/usr/bin"),       QStringLiteral("/usr/sbin"),
        QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/local/sbin"),
        QStringLiteral("/usr/games"),     QStringLiteral("/opt/bin")};
    return system.contains(QDir::cleanPath(dir));
}

bool InstalledProgramDir(const QString& dir)
{
#ifdef Q_OS_WIN
    Q_UNUSED(dir);
    return false; // Program Files is not writable for its users: the probe decides
#else
    const QFileInfo info(dir);
    const QString real = info.canonicalFilePath();
    return SystemBinaryDir(dir) || (!real.isEmpty() && SystemBinaryDir(real)) ||
           (info.exists() && info.ownerId() != ::geteuid());
#endif
}

} // namespace

FileLocations LocateFiles(const FileFolders& folders)
{
    const QString beside = Join({folders.programDir, QLatin1String(SettingsFileName)});
    if ((folders.programDirWritable && !folders.programInstalled) ||
        folders.userConfigDir.isEmpty() || folders.userDataDir.isEmpty())
        return {beside, Join({folders.programDir, QLatin1String(CaptureFileName)}), {}};
    return {
        Join({folders.userConfigDir, QLatin1String(UserFolderName),
              QLatin1String(SettingsFileName)}),
        Join({folders.userDataDir, QLatin1String(UserFolderName), QLatin1String(CaptureFileName)}),
        beside};
}

FileFolders SystemFolders(const QString& programDir)
{
    FileFolders folders;
    folders.programDir = programDir;
    folders.programDirWritable = CanCreateFileIn(programDir);
    folders.programInstalled = InstalledProgramDir(programDir);
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
