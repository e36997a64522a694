// Appending to a file held exclusively for the moment of the write (POSIX).
#include "capture/append_exclusive.h"
#include "process/descriptor_posix.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qtr290 {

namespace {

bool WriteAll(int fd, ByteSpan bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

bool OpenRegularFileToAppend(QFile& file, const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat before {};
    if (::stat(name.constData(), &before) == 0) {
        if (!S_ISREG(before.st_mode))
            return false;
    } else if (!EnsureParentDirectory(std::filesystem::path(name.constData()))) {
        return false;
    }
    // Not blocking: something else may have taken the name since the look.
    const int fd = ::open(name.constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0)
        return false;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        !file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool AppendExclusive(const std::filesystem::path& file, ByteSpan bytes)
{
    const char* name = file.c_str();

    // Only a regular file is a capture file: opening a device or a FIFO could block
    // or have side effects.
    struct stat before {};
    if (::stat(name, &before) == 0) {
        if (!S_ISREG(before.st_mode))
            return false;
    } else if (!EnsureParentDirectory(file)) {
        return false;
    }

    Descriptor fd(
        ::open(name, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (fd.Get() < 0)
        return false;
    // Shared with nobody; a holder of the lock makes us drop the line, never wait.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    struct stat opened {};
    if (::fstat(fd.Get(), &opened) != 0 || !S_ISREG(opened.st_mode))
        return false;

    if (!WriteAll(fd.Get(), bytes)) {
        // Cut a partly written line off again; we hold the lock, so the old end is ours.
        if (::ftruncate(fd.Get(), opened.st_size) != 0) {
            // Nothing more can be done quietly.
        }
        return false;
    }
    return fd.Close();
}

} // namespace qtr290
