// Reading a small regular file without blocking (POSIX).
#include "process/descriptor_posix.h"
#include "settings/regularfile.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qtr290 {

namespace {

using Result = RegularFileContents::Result;

bool Acceptable(const struct stat& status, qint64 limit)
{
    return S_ISREG(status.st_mode) && status.st_size <= limit;
}

Result MissingOrRefused(int error)
{
    return error == ENOENT || error == ENOTDIR ? Result::Missing : Result::Refused;
}

} // namespace

RegularFileContents ReadRegularFile(const QString& path, qint64 limit)
{
    const QByteArray name = QFile::encodeName(path);
    // A look first: a device is not even opened (opening a serial port raises its lines).
    struct stat look {};
    if (::stat(name.constData(), &look) != 0)
        return {MissingOrRefused(errno), {}};
    if (!Acceptable(look, limit))
        return {Result::Refused, {}};
    // Not blocking, and checked again: something else may have taken the name since the look.
    const Descriptor fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0)
        return {MissingOrRefused(errno), {}};
    struct stat opened {};
    if (::fstat(fd.Get(), &opened) != 0 || !Acceptable(opened, limit))
        return {Result::Refused, {}};

    // The file may grow while it is read: one byte past the limit is enough to know.
    QByteArray bytes(static_cast<qsizetype>(limit) + 1, Qt::Uninitialized);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.Get(), bytes.data() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {Result::Refused, {}};
        if (n == 0)
            break;
        done += n;
    }
    if (done > limit)
        return {Result::Refused, {}};
    bytes.truncate(static_cast<qsizetype>(done));
    return {Result::Read, bytes};
}

} // namespace qtr290
