#include "capture/capturefile.h"
#include "settings/filelocations.h"
#include "tests/support/lock_holder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qtr290;
using qtr290::test::LockHolder;

namespace {

std::string ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll().toStdString();
}

std::size_t OpenDescriptors()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

QDateTime At(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

} // namespace

TEST(CaptureFile, Timestamps)
{
    struct Row {
        QDateTime when;
        const char* expected;
    };
    const std::vector<Row> rows = {
        {At(2026, 12, 7, 9, 5, 3, 42), "07122026 09:05:03:042"}, // documented example
        {At(1999, 12, 31, 23, 59, 59, 999), "31121999 23:59:59:999"},
        {At(2030, 1, 1, 0, 0, 0, 0), "01012030 00:00:00:000"},
        {At(800, 2, 3, 4, 5, 6, 7), "03020800 04:05:06:007"}, // year padded to four digits
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(CasovaZnacka(row.when), row.expected);
    }
}

TEST(CaptureFile, TimestampOfNow)
{
    const QDateTime before = QDateTime::currentDateTime();
    const std::string now = CasovaZnacka();
    const QDateTime after = QDateTime::currentDateTime();
    const QDateTime parsed =
        QDateTime::fromString(QString::fromStdString(now), QStringLiteral("ddMMyyyy hh:mm:ss:zzz"));
    ASSERT_TRUE(parsed.isValid()) << now;
    EXPECT_GE(parsed, before.addMSecs(-1));
    EXPECT_LE(parsed, after);
}

TEST(CaptureFile, Lines)
{
    const QDateTime when = At(2026, 12, 7, 9, 5, 3, 42);
    const std::vector<std::uint8_t> chunk = {0xA6, 0x00, 0xF0, 0x0A};
    EXPECT_EQ(CaptureChunkLine(chunk, when), "07122026 09:05:03:042>A6 00 F0 0A \r\n");
    EXPECT_EQ(CaptureChunkLine({}, when), "07122026 09:05:03:042>\r\n");
    EXPECT_EQ(CaptureQueuedLine(when), "07122026 09:05:03:042>Cteni dat\r\n");
    EXPECT_EQ(CaptureFilePath(QStringLiteral("/opt/qtr")), QStringLiteral("/opt/qtr/incoming.txt"));
}

TEST(CaptureFile, CreatesMissingDirectoriesAndAppends)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("a/b/c/incoming.txt"));
    EXPECT_TRUE(PripisDoSouboru(path, std::string_view("first\r\n")));
    EXPECT_TRUE(PripisDoSouboru(path, std::string_view("second\r\n")));
    EXPECT_EQ(ReadAll(path), "first\r\nsecond\r\n");

    // A file that is already there is appended to, never truncated.
    const QString existing = dir.filePath(QStringLiteral("existing.txt"));
    {
        QFile file(existing);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old\r\n");
    }
    const std::vector<std::uint8_t> bytes = {'n', 'e', 'w', 0x00, 0xFF};
    EXPECT_TRUE(PripisDoSouboru(existing, bytes));
    EXPECT_EQ(ReadAll(existing), std::string("old\r\nnew\0\xFF", 10));
}

TEST(CaptureFile, LockedFileLosesTheLineUntilReleased)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = CaptureFilePath(dir.path());
    ASSERT_TRUE(PripisDoSouboru(path, std::string_view("1\r\n")));

    LockHolder other(path);
    ASSERT_TRUE(other.Locked());
    EXPECT_FALSE(PripisDoSouboru(path, std::string_view("lost\r\n")));
    EXPECT_EQ(ReadAll(path), "1\r\n");

    other.Release();
    EXPECT_TRUE(PripisDoSouboru(path, std::string_view("2\r\n")));
    EXPECT_EQ(ReadAll(path), "1\r\n2\r\n");
}

TEST(CaptureFile, FailuresAreQuietAndReturnFalse)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString regular = dir.filePath(QStringLiteral("plain"));
    ASSERT_TRUE(PripisDoSouboru(regular, std::string_view("x")));
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);

    struct Row {
        const char* source;
        QString path;
    };
    const std::vector<Row> rows = {
        {"parent is a regular file (stops root too)", regular + QStringLiteral("/incoming.txt")},
        {"missing parent under a regular file", regular + QStringLiteral("/sub/incoming.txt")},
        {"the path is a directory", dir.path()},
        {"a FIFO is no capture file and must not block", fifo},
        {"empty path", QString()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source);
        EXPECT_FALSE(PripisDoSouboru(row.path, std::string_view("line\r\n")));
    }
    EXPECT_EQ(ReadAll(regular), "x");
}

TEST(CaptureFile, NoDescriptorLeaks)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = CaptureFilePath(dir.path());
    const QString blocked = path + QStringLiteral("/below-a-file.txt");
    ASSERT_TRUE(PripisDoSouboru(path, std::string_view("")));

    const std::size_t before = OpenDescriptors();
    {
        LockHolder other(path);
        ASSERT_TRUE(other.Locked());
        for (int i = 0; i < 20; ++i)
            EXPECT_FALSE(PripisDoSouboru(path, std::string_view("x")));
    }
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(PripisDoSouboru(path, std::string_view("y")));
        EXPECT_FALSE(PripisDoSouboru(blocked, std::string_view("z")));
    }
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(ReadAll(path), std::string(20, 'y'));
}

// A write that stops half-way (here: the file size limit) cuts its part off again.
TEST(CaptureFile, FailedWriteLeavesNoPartialLine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = CaptureFilePath(dir.path());
    ASSERT_TRUE(PripisDoSouboru(path, std::string_view("1\r\n")));

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written =
        PripisDoSouboru(path, std::string_view("a line longer than the limit\r\n"));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadAll(path), "1\r\n");
    EXPECT_TRUE(PripisDoSouboru(path, std::string_view("2\r\n")));
    EXPECT_EQ(ReadAll(path), "1\r\n2\r\n");
}
