#include "mqtt/password.h"

#include <QFile>

namespace qtr290::mqtt {

namespace {
constexpr qint64 LongestPasswordLine = 4096;
} // namespace

std::optional<std::string> ReadPassword(const std::optional<std::string>& passwordFile,
                                        std::string& why)
{
    if (!passwordFile)
        return qEnvironmentVariable("QTR290_MQTT_PASSWORD").toStdString();
    QFile file(QString::fromStdString(*passwordFile));
    if (!file.open(QIODevice::ReadOnly)) {
        why = "--password-file '" + *passwordFile + "': " + file.errorString().toStdString();
        return std::nullopt;
    }
    QByteArray line = file.readLine(LongestPasswordLine);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line.toStdString();
}

} // namespace qtr290::mqtt
