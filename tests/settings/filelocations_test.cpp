#include "settings/filelocations.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace qtr290 {
namespace {

// Where each file goes, by the program directory and the user's folders.
TEST(LocateFilesTest, ChoosesOnePlaceForBothFiles)
{
    const QString config = QStringLiteral("/home/eva/.config");
    const QString data = QStringLiteral("/home/eva/.local/share");
    const QString roaming = QStringLiteral("C:/Users/eva/AppData/Roaming");
    struct Case {
        const char* what;
        FileFolders folders;
        const char* settings;
        const char* capture;
        const char* seed; // read at start while `settings` does not exist yet
    };
    const Case cases[] = {
        {"a portable copy",
         {QStringLiteral("/opt/qtr290"), true, config, data},
         "/opt/qtr290/nastaveni.ini",
         "/opt/qtr290/incoming.txt",
         ""},
        {"installed under /usr",
         {QStringLiteral("/usr/bin"), false, config, data},
         "/home/eva/.config/qtr290/nastaveni.ini",
         "/home/eva/.local/share/qtr290/incoming.txt",
         "/usr/bin/nastaveni.ini"},
        {"installed, run by root: the folder is writable, but no portable copy",
         {QStringLiteral("/usr/bin"), true, QStringLiteral("/root/.config"),
          QStringLiteral("/root/.local/share"), true},
         "/root/.config/qtr290/nastaveni.ini",
         "/root/.local/share/qtr290/incoming.txt",
         "/usr/bin/nastaveni.ini"},
        {"Windows, Program Files",
         {QStringLiteral("C:/Program Files/QTR290"), false, roaming, roaming},
         "C:/Users/eva/AppData/Roaming/qtr290/nastaveni.ini",
         "C:/Users/eva/AppData/Roaming/qtr290/incoming.txt",
         "C:/Program Files/QTR290/nastaveni.ini"},
        {"no per-user folder known: beside the program, whose failure is reported",
         {QStringLiteral("/usr/bin"), false, {}, {}, true},
         "/usr/bin/nastaveni.ini",
         "/usr/bin/incoming.txt",
         ""},
        {"trailing separators",
         {QStringLiteral("/usr/bin/"), false, config + "/", data},
         "/home/eva/.config/qtr290/nastaveni.ini",
         "/home/eva/.local/share/qtr290/incoming.txt",
         "/usr/bin/nastaveni.ini"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FileLocations where = LocateFiles(c.folders);
        EXPECT_EQ(where.settingsFile.toStdString(), c.settings);
        EXPECT_EQ(where.captureFile.toStdString(), c.capture);
        EXPECT_EQ(where.seedSettingsFile.toStdString(), c.seed);
    }
}

// The probe of this machine: a directory the user cannot create files in is not writable,
// and the probe leaves nothing behind in either.
TEST(SystemFoldersTest, ProbesTheProgramDirectoryByCreatingAFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(SystemFolders(dir.path()).programDirWritable);
    EXPECT_FALSE(SystemFolders(dir.filePath(QStringLiteral("missing"))).programDirWritable);
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
        EXPECT_FALSE(SystemFolders(dir.path()).programDirWritable);
        chmod(QFile::encodeName(dir.path()).constData(), 0755);
    }
    EXPECT_TRUE(QDir(dir.path())
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
    EXPECT_FALSE(SystemFolders(dir.path()).userConfigDir.isEmpty());
}

// An installed program keeps its files in the user's folders whoever runs it, root included:
// the system's binary folders and any folder its user does not own.
TEST(SystemFoldersTest, InstalledProgramKeepsNothingBesideItself)
{
    QTemporaryDir own;
    QTemporaryDir foreign;
    ASSERT_TRUE(own.isValid() && foreign.isValid());
    const uid_t stranger = geteuid() == 65534 ? 65533 : 65534;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(QFile::encodeName(foreign.path()).constData(), stranger, stranger), 0);
    }
    struct Case {
        QString dir;
        bool beside;
    };
    const Case cases[] = {
        {QStringLiteral("/usr/bin"), false},
        {QStringLiteral("/usr/local/bin/"), false},
        {QStringLiteral("/bin"), false},
        {geteuid() == 0 ? foreign.path() : QStringLiteral("/tmp"), false},
        {own.path(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir.toStdString());
        const FileLocations where = LocateFiles(SystemFolders(c.dir));
        EXPECT_EQ(where.settingsFile.startsWith(QDir::cleanPath(c.dir) + "/"), c.beside);
        EXPECT_EQ(where.captureFile.startsWith(QDir::cleanPath(c.dir) + "/"), c.beside);
    }
}

} // namespace
} // namespace qtr290
