#include "portstatus.h"

#include <QFileInfo>
#include <QString>

namespace qtr290 {

PortFailure DiagnoseOpenFailure(const std::string& devicePath)
{
    if (devicePath.empty())
        return PortFailure::NoDevice;
    const QFileInfo info(QString::fromStdString(devicePath));
    if (!info.exists())
        return PortFailure::Missing;
    if (!info.isReadable() || !info.isWritable())
        return PortFailure::NoPermission;
    return PortFailure::Busy;
}

} // namespace qtr290
