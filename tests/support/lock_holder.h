// Holds the capture file's exclusive lock from a second open file description.
#pragma once

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qtr290::test {

// Another open file description holding the exclusive lock, as another program would.
class LockHolder {
public:
    explicit LockHolder(const QString& path)
        : FFd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666))
    {
        FLocked = FFd >= 0 && ::flock(FFd, LOCK_EX | LOCK_NB) == 0;
    }
    ~LockHolder() { Release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    bool Locked() const { return FLocked; }
    void Release()
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }

private:
    int FFd;
    bool FLocked = false;
};

} // namespace qtr290::test
