#include "console/portstatus.h"

#include <QCoreApplication>

namespace qtr290 {

namespace {

QString FailureText(OpenFailure failure)
{
    switch (failure) {
    case OpenFailure::NoDevice:
        return QCoreApplication::translate(
            "qtr290::PortStatus", "nemá přiřazené zařízení (sekce [Porty] v nastaveni.ini)");
    case OpenFailure::NotFound:
        return QCoreApplication::translate("qtr290::PortStatus",
                                           "nelze otevřít, zařízení neexistuje");
    case OpenFailure::NoPermission:
        return QCoreApplication::translate(
            "qtr290::PortStatus",
            "nelze otevřít, chybí oprávnění (uživatel není ve skupině dialout)");
    case OpenFailure::Settings:
        return QCoreApplication::translate("qtr290::PortStatus",
                                           "nelze otevřít, zařízení nepřijalo nastavení linky");
    case OpenFailure::None:
    case OpenFailure::Busy:
        break;
    }
    return QCoreApplication::translate(
        "qtr290::PortStatus", "nelze otevřít, port používá jiný program nebo ho nelze nastavit");
}

} // namespace

QString ComPortDescription(int number, const std::string& device)
{
    return device.empty()
               ? QCoreApplication::translate("qtr290::PortStatus", "COM%1 bez zařízení").arg(number)
               : QStringLiteral("COM%1 = %2").arg(number).arg(QString::fromStdString(device));
}

QString PortStatusText(const PortStatus& status)
{
    const auto number = ComPortNumber(status.portName);
    QString text =
        number ? QStringLiteral("COM%1").arg(*number) : QString::fromStdString(status.portName);
    if (!status.device.empty() && status.device != status.portName)
        text += QStringLiteral(" = ") + QString::fromStdString(status.device);
    if (!status.adapter.isEmpty())
        text += QStringLiteral(" (") + status.adapter + QLatin1Char(')');
    text += QStringLiteral(": ");

    switch (status.state) {
    case PortState::Open:
        text += QCoreApplication::translate("qtr290::PortStatus", "připojeno");
        break;
    case PortState::Closed:
        text += QCoreApplication::translate("qtr290::PortStatus", "odpojeno");
        break;
    case PortState::Failed:
        text += FailureText(status.failure);
        break;
    case PortState::Lost:
        text += QCoreApplication::translate("qtr290::PortStatus",
                                            "zařízení odpojeno, čekám na jeho návrat");
        break;
    case PortState::Gone:
        text += QCoreApplication::translate("qtr290::PortStatus",
                                            "zařízení odpojeno, znovu otevře volba Připojeno");
        break;
    }

    // A new choice of port is stored at close and used from the next start on.
    if (!number || status.chosenNumber != *number)
        text += QCoreApplication::translate("qtr290::PortStatus", "  |  od příštího spuštění: ") +
                ComPortDescription(status.chosenNumber, status.chosenDevice);
    return text;
}

} // namespace qtr290
