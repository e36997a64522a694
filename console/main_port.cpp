// TForm1's serial port: opening it, the port list and the status line, and what the window
// does when the open device goes and comes back (the watch itself is reconnect.h).
#include "console/main.h"

#include "settings/textconv.h"
#include "widgets/radiogroup.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace qtr290 {

void TForm1::DescribePorts()
{
    ShowComPortItems(Cmb_ComPort, ComPortItems(FPortWatch->Devices(), FPortNames, PortCount));
}

bool TForm1::OpenPort()
{
    const int baudRate = ParseIntegerOrThrow(Edt_BaudRate->text().toStdString());
    if (!Komunikace->Otevri(baudRate)) {
        FPortState = PortState::Failed;
        return false;
    }
    PortOpened();
    return true;
}

void TForm1::PortOpened()
{
    Komunikace->NastavDTR(false);
    // Attached at every opening: an operator who reconnects expects to see traffic.
    Komunikace->NastavPrijem(
        [this](TSerialPortDriver& sender, std::span<const std::uint8_t> bytes) {
            PrijmiData(sender, bytes);
        });
    FPortState = PortState::Open;
    FPortWatch->Opened(PortDevice());
}

void TForm1::PortLost()
{
    // The descriptor goes at once, so the kernel can give the adapter its old name again;
    // the link's queue stays, and no box interrupts the operator.
    Komunikace->Zavri();
    // A path that anybody's terminal may take next is not reopened by itself.
    FPortState = FPortWatch->WaitForReturn([this] { return ReopenLostPort(); }) ? PortState::Lost
                                                                                : PortState::Gone;
    UpdateStatus();
}

bool TForm1::ReopenLostPort()
{
    // At the rate it had: a rate typed meanwhile waits for the operator's "Připojeno".
    if (!Komunikace || Rgp_Stav->ItemIndex() != 0 ||
        !Komunikace->Otevri(static_cast<int>(Komunikace->SeriovyPort().BaudRateValue())))
        return false;
    PortOpened();
    UpdateStatus();
    return true;
}

std::string TForm1::PortDevice() const
{
    return Komunikace ? FPortNames.Resolve(Komunikace->SeriovyPort().PortName()) : std::string();
}

QString TForm1::StatusText() const
{
    if (!Komunikace)
        return {};
    PortStatus status;
    status.portName = Komunikace->SeriovyPort().PortName();
    status.device = PortDevice();
    status.state = FPortState;
    status.failure = Komunikace->SeriovyPort().LastOpenFailure();
    status.chosenNumber = LinkPortNumber(Cmb_ComPort->currentIndex() + 1);
    status.chosenDevice = FPortNames.Device(status.chosenNumber);
    if (FPortState == PortState::Open) {
        if (const SerialDevice* device =
                FindDevice(FPortWatch->Devices(), status.device, DevicePathOf))
            status.adapter = AdapterName(*device);
    }
    return PortStatusText(status);
}

void TForm1::UpdateStatus()
{
    FStatusPanel->setText(StatusText());
}

} // namespace qtr290
