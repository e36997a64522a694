#include "portstatus.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

#include <unistd.h>

namespace qtr290 {
namespace {

TEST(DiagnoseOpenFailure, TellsTheCausesApart)
{
    QTemporaryDir dir;
    const QString present = dir.filePath(QStringLiteral("tty"));
    QFile file(present);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    EXPECT_EQ(DiagnoseOpenFailure(""), PortFailure::NoDevice);
    EXPECT_EQ(DiagnoseOpenFailure(dir.filePath(QStringLiteral("chybi")).toStdString()),
              PortFailure::Missing);
    EXPECT_EQ(DiagnoseOpenFailure(present.toStdString()), PortFailure::Busy);
}

// A device this user may not open (the usual case: not in the dialout group). Root may
// open anything, so the check runs in a child that has become an unprivileged user.
TEST(DiagnoseOpenFailureDeathTest, DeviceWithoutPermission)
{
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther);
    const QString path = dir.filePath(QStringLiteral("ttyS0"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(QFile::setPermissions(path, geteuid() == 0
                                                ? QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                : QFileDevice::Permissions()));
    const std::string device = path.toStdString();

    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                std::_Exit(2);
            std::_Exit(DiagnoseOpenFailure(device) == PortFailure::NoPermission ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace qtr290
