// Reading a small regular file (Win32): no fifo waits at a file name here, but a device name
// or a directory is still no settings file.
#include "settings/regularfile.h"

#include <QFile>
#include <QFileInfo>

namespace qtr290 {

RegularFileContents ReadRegularFile(const QString& path, qint64 limit)
{
    using Result = RegularFileContents::Result;
    const QFileInfo info(path);
    if (!info.exists())
        return {Result::Missing, {}};
    if (!info.isFile() || info.size() > limit)
        return {Result::Refused, {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {Result::Refused, {}};
    // The file may grow while it is read: one byte past the limit is enough to know.
    QByteArray bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > limit)
        return {Result::Refused, {}};
    return {Result::Read, bytes};
}

} // namespace qtr290
