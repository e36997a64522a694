#include "portstatus.h"

namespace qtr290 {

namespace {

QString FailureText(OpenFailure failure)
{
    switch (failure) {
    case OpenFailure::NoDevice:
        return QStringLiteral("nemá přiřazené zařízení (sekce [Porty] v nastaveni.ini)");
    case OpenFailure::NotFound:
        return QStringLiteral("nelze otevřít, zařízení neexistuje");
    case OpenFailure::NoPermission:
        return QStringLiteral("nelze otevřít, chybí oprávnění (uživatel není ve skupině dialout)");
    case OpenFailure::Settings:
        return QStringLiteral("nelze otevřít, zařízení nepřijalo nastavení linky");
    case OpenFailure::None:
    case OpenFailure::Busy:
        break;
    }
    return QStringLiteral("nelze otevřít, port používá jiný program nebo ho nelze nastavit");
}

} // namespace

QString ComPortDescription(int number, const std::string& device)
{
    return device.empty()
               ? QStringLiteral("COM%1 bez zařízení").arg(number)
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
        text += QStringLiteral("připojeno");
        break;
    case PortState::Closed:
        text += QStringLiteral("odpojeno");
        break;
    case PortState::Failed:
        text += FailureText(status.failure);
        break;
    case PortState::Lost:
        text += QStringLiteral("zařízení odpojeno, čekám na jeho návrat");
        break;
    case PortState::Gone:
        text += QStringLiteral("zařízení odpojeno, znovu otevře volba Připojeno");
        break;
    }

    // A new choice of port is stored at close and used from the next start on.
    if (!number || status.chosenNumber != *number)
        text += QStringLiteral("  |  od příštího spuštění: ") +
                ComPortDescription(status.chosenNumber, status.chosenDevice);
    return text;
}

} // namespace qtr290
