#include "settings/iniprofile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <random>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qtr290 {
namespace {

class IniProfileTest : public ::testing::Test {
protected:
    QString FilePath() const { return dir.filePath(QStringLiteral("nastaveni.ini")); }

    void WriteFile(const std::string& bytes)
    {
        QFile file(FilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), qint64(bytes.size()));
    }

    std::string ReadFile() const
    {
        QFile file(FilePath());
        if (!file.open(QIODevice::ReadOnly))
            return "<missing>";
        return file.readAll().toStdString();
    }

    IniProfile Loaded(const std::string& bytes)
    {
        WriteFile(bytes);
        IniProfile ini(FilePath());
        EXPECT_TRUE(ini.Load());
        return ini;
    }

    QStringList OtherFiles() const
    {
        QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        names.removeAll(QStringLiteral("nastaveni.ini"));
        return names;
    }

    QTemporaryDir dir;
};

struct ReadCase {
    const char* what;
    std::string file;
    const char* section;
    const char* key;
    std::optional<std::string> value;
};

// Lookups as the private-profile functions make them.
TEST_F(IniProfileTest, FindsValuesByPrivateProfileRules)
{
    const ReadCase cases[] = {
        {"plain", "[Seriovy port]\r\nPort=5\r\n", "Seriovy port", "Port", "5"},
        {"names ignore case", "[seriovy PORT]\nport=5\n", "Seriovy port", "Port", "5"},
        {"blanks around names and value", "  [ Seriovy port ]  \n  Port  =  7 \t\n", "Seriovy port",
         "Port", "7"},
        {"quotes are stripped", "[A]\nk=\"9 9\"\n", "A", "k", "9 9"},
        {"single quotes too", "[A]\nk='x'\n", "A", "k", "x"},
        {"unmatched quote stays", "[A]\nk=\"x\n", "A", "k", "\"x"},
        {"empty value is a value", "[A]\nk=\n", "A", "k", ""},
        {"first section wins", "[A]\nk=1\n[a]\nk=2\n", "A", "k", "1"},
        {"keys of a later duplicate section are not seen", "[A]\nx=1\n[A]\nk=2\n", "A", "k",
         std::nullopt},
        {"first key wins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
        {"key before any section", "k=1\n[A]\n", "A", "k", std::nullopt},
        {"key in another section", "[B]\nk=1\n[A]\nj=2\n", "A", "k", std::nullopt},
        {"value keeps its equals signs", "[A]\nk=a=b\n", "A", "k", "a=b"},
        {"byte order mark", "\xEF\xBB\xBF[A]\r\nk=1\r\n", "A", "k", "1"},
        {"nothing after a NUL", std::string("[A]\nk=12\0\x01zz\n", 12), "A", "k", "12"},
        {"last line without break", "[A]\nk=3", "A", "k", "3"},
        {"section without closing bracket", "[A\nk=4\n", "A", "k", "4"},
        {"missing file section", "", "A", "k", std::nullopt},
        {"comment is not the key", "[A]\n;k=1\nk=2\n", "A", "k", "2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const IniProfile ini = Loaded(c.file);
        EXPECT_EQ(ini.Find(c.section, c.key), c.value);
    }
}

TEST_F(IniProfileTest, OverlongValueIsCutAtACharacterBoundary)
{
    // 'č' is two bytes; the cut must not split it.
    std::string value =
        std::string(IniProfile::MaxValueLength - 1, '9') + "\xC4\x8D" + std::string(5000, '9');
    const IniProfile ini = Loaded("[A]\nk=" + value + "\n[B]\nj=1\n");
    const auto read = ini.Find("A", "k");
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, std::string(IniProfile::MaxValueLength - 1, '9'));
    EXPECT_EQ(ini.Find("B", "j"), "1");
}

TEST_F(IniProfileTest, BinaryGarbageNeitherCrashesNorHidesSectionsAfterIt)
{
    std::mt19937 random(290);
    std::string garbage(64 * 1024, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random());
    const IniProfile ini = Loaded(garbage + "\n[Program]\nPocet bytu na radku=16\n");
    EXPECT_EQ(ini.Find("Program", "Pocet bytu na radku"), "16");
}

TEST_F(IniProfileTest, ReadSectionListsTheFirstSectionInOrder)
{
    const IniProfile ini = Loaded(
        "[porty]\nCOM1=/dev/pts/3\nnoise\nCOM2 = /dev/ttyUSB0\nCOM1=/dev/null\n[Porty]\nCOM9=x\n");
    const auto entries = ini.ReadSection("Porty");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"COM1", "/dev/pts/3"}, {"COM2", "/dev/ttyUSB0"}, {"COM1", "/dev/null"}};
    EXPECT_EQ(entries, expected);
    EXPECT_TRUE(ini.ReadSection("Chybi").empty());
}

struct WriteCase {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

// Writing changes the one line it must and keeps every other byte.
TEST_F(IniProfileTest, WriteKeepsEverythingElse)
{
    const WriteCase cases[] = {
        {"existing key, CR LF kept",
         "; comment\r\n[Jine]\r\nX=1\r\n\r\n[Seriovy port]\r\nPort=3\r\nBaud rate=9600\r\n",
         "Seriovy port", "Port", "10",
         "; comment\r\n[Jine]\r\nX=1\r\n\r\n[Seriovy port]\r\nPort=10\r\nBaud rate=9600\r\n"},
        {"key spelling of the file kept", "[A]\n  PORT = 3 \n", "a", "Port", "4", "[A]\nPORT=4\n"},
        {"new key after the last entry, before the blank separator", "[A]\nk=1\n\n[B]\nj=2\n", "A",
         "n", "5", "[A]\nk=1\nn=5\n\n[B]\nj=2\n"},
        {"new key in an empty last section without line break", "[A]", "A", "k", "1",
         "[A]\r\nk=1\r\n"},
        {"new section after content, LF style kept", "[A]\nk=1\n", "B", "j", "2",
         "[A]\nk=1\n\n[B]\nj=2\n"},
        {"new section after a last line without break", "[A]\r\nk=1", "B", "j", "2",
         "[A]\r\nk=1\r\n\r\n[B]\r\nj=2\r\n"},
        {"new file uses CR LF", "", "A", "k", "1", "[A]\r\nk=1\r\n"},
        {"only the first duplicate section changes", "[A]\nk=1\n[A]\nk=2\n", "A", "k", "3",
         "[A]\nk=3\n[A]\nk=2\n"},
        {"only the first duplicate key changes", "[A]\nk=1\nk=2\n", "A", "k", "3",
         "[A]\nk=3\nk=2\n"},
        {"line breaks in a value stay on one line", "[A]\nk=1\n", "A", "k", "a\r\nb\nc",
         "[A]\nk=a  b c\n"},
        {"binary lines elsewhere untouched", std::string("\x01\xFF\x00[\n[A]\nk=1\n", 13), "A", "k",
         "2", std::string("\x01\xFF\x00[\n[A]\nk=2\n", 13)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IniProfile ini = Loaded(c.before);
        ini.WriteString(c.section, c.key, c.value);
        EXPECT_EQ(ini.Contents(), c.after);
    }
}

TEST_F(IniProfileTest, SaveReplacesTheFileAndLeavesNoTemporaryFile)
{
    IniProfile ini = Loaded("[Jine]\r\nX=1\r\n");
    ini.WriteString("Program", "Pocet bytu na radku", "32");
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ(ReadFile(), "[Jine]\r\nX=1\r\n\r\n[Program]\r\nPocet bytu na radku=32\r\n");
    EXPECT_TRUE(OtherFiles().isEmpty()) << OtherFiles().join(QLatin1Char(' ')).toStdString();

    IniProfile again(FilePath());
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(again.Find("program", "pocet bytu na radku"), "32");
}

// A write that fails half way (here: the file size limit, which binds root too) must leave
// the old file as it was.
TEST_F(IniProfileTest, FailedWriteKeepsTheOldFile)
{
    const std::string old = "[Seriovy port]\r\nPort=3\r\n";
    IniProfile ini = Loaded(old);
    ini.WriteString("Seriovy port", "Port", "4");
    ini.WriteString("Jine", "Dlouhy", std::string(4096, 'x'));

    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool saved_ok = ini.Save();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(ReadFile(), old);
    EXPECT_TRUE(OtherFiles().isEmpty()) << OtherFiles().join(QLatin1Char(' ')).toStdString();
}

TEST_F(IniProfileTest, OversizedFileIsNeverOverwritten)
{
    {
        QFile file(FilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[A]\nk=1\n");
        ASSERT_TRUE(file.resize(IniProfile::MaxFileSize + 1));
    }
    IniProfile ini(FilePath());
    EXPECT_FALSE(ini.Load());
    EXPECT_EQ(ini.ReadString("A", "k", "def"), "def");
    ini.WriteString("A", "k", "2");
    EXPECT_FALSE(ini.Save());
    EXPECT_EQ(QFileInfo(FilePath()).size(), IniProfile::MaxFileSize + 1);
}

} // namespace
} // namespace qtr290

namespace qtr290 {
namespace {

// What Load returned in a child of the test; nothing when it did not return within 10 s or
// threw. A load that waits for a fifo's writer or reads a device without end must not hold
// the test.
std::optional<bool> LoadInAChild(const QString& path)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10);
        try {
            IniProfile ini(path);
            ::_exit(ini.Load() ? 1 : 0);
        } catch (...) {
            ::_exit(2);
        }
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) > 1)
        return std::nullopt;
    return WEXITSTATUS(status) == 1;
}

// Only a regular file up to the limit is read; anything else at the name reads as an
// unreadable file does (the defaults, and never replaced), and is left as it was.
TEST_F(IniProfileTest, OnlyASmallRegularFileIsRead)
{
    const std::string atTheEnd = "[A]\nk=1\n";
    const std::string largest =
        std::string(std::size_t(IniProfile::MaxFileSize) - atTheEnd.size(), '\n') + atTheEnd;
    struct Case {
        const char* what;
        std::function<bool(const QString& path)> make; // false: not made
        bool read;
    };
    const Case cases[] = {
        {"a fifo without a writer",
         [](const QString& path) { return ::mkfifo(QFile::encodeName(path), 0600) == 0; }, false},
        {"a link to /dev/zero",
         [](const QString& path) { return QFile::link(QStringLiteral("/dev/zero"), path); }, false},
        {"a directory", [](const QString& path) { return QDir().mkdir(path); }, false},
        {"one byte over the limit",
         [&](const QString& path) {
             QFile file(path);
             return file.open(QIODevice::WriteOnly) &&
                    file.write(QByteArray::fromStdString(largest + "\n")) ==
                        qint64(largest.size() + 1);
         },
         false},
        {"the limit, its key at the end",
         [&](const QString& path) {
             QFile file(path);
             return file.open(QIODevice::WriteOnly) &&
                    file.write(QByteArray::fromStdString(largest)) == qint64(largest.size());
         },
         true},
        {"a link to a regular file",
         [&](const QString& path) {
             QFile target(dir.filePath(QStringLiteral("elsewhere.ini")));
             return target.open(QIODevice::WriteOnly) && target.write(atTheEnd.data()) > 0 &&
                    QFile::link(target.fileName(), path);
         },
         true},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.filePath(QStringLiteral("case%1.ini").arg(++number));
        ASSERT_TRUE(c.make(path));
        struct stat before {};
        ASSERT_EQ(::lstat(QFile::encodeName(path), &before), 0);

        const std::optional<bool> loaded = LoadInAChild(path);
        if (!loaded) {
            ADD_FAILURE() << "the load did not return";
            continue;
        }
        EXPECT_EQ(*loaded, c.read);
        IniProfile ini(path);
        EXPECT_EQ(ini.Load(), c.read);
        EXPECT_EQ(ini.ReadString("A", "k", "default"), c.read ? "1" : "default");
        if (c.read)
            continue;
        ini.WriteString("A", "k", "2");
        EXPECT_FALSE(ini.Save());
        struct stat after {};
        ASSERT_EQ(::lstat(QFile::encodeName(path), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, before.st_size);
    }
}

} // namespace
} // namespace qtr290
