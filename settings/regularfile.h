// A small file read without waiting on what may stand at its name: only a regular file (a
// symbolic link to one is followed) up to a size limit is read. A fifo or a device would
// block the opening or never end, a huge file would take the memory: each is refused unread.
// One backend per platform, chosen by CMake.
#pragma once

#include <QByteArray>
#include <QString>

namespace qtr290 {

struct RegularFileContents {
    enum class Result {
        Read,    // `bytes` holds the whole file
        Missing, // nothing at that name
        Refused, // no regular file, larger than the limit, or unreadable
    };
    Result result = Result::Missing;
    QByteArray bytes;
};

RegularFileContents ReadRegularFile(const QString& path, qint64 limit);

} // namespace qtr290
