// The status line's text for each port state and failure reason.
#include "console/portstatus.h"

#include <gtest/gtest.h>

namespace qtr290 {
namespace {

TEST(PortStatusText, StatesAndReasons)
{
    const std::string com3 = "\\\\.\\COM3";
    const struct {
        PortStatus status;
        const char* text;
    } rows[] = {
        {{com3, "/dev/ttyUSB0", PortState::Open, OpenFailure::None, 3, "/dev/ttyUSB0", {}},
         "COM3 = /dev/ttyUSB0: připojeno"},
        {{com3, "/dev/ttyUSB0", PortState::Closed, OpenFailure::None, 3, "/dev/ttyUSB0", {}},
         "COM3 = /dev/ttyUSB0: odpojeno"},
        {{"\\\\.\\COM0", "", PortState::Failed, OpenFailure::NoDevice, 0, "", {}},
         "COM0: nemá přiřazené zařízení (sekce [Porty] v nastaveni.ini)"},
        {{com3, "/dev/x", PortState::Failed, OpenFailure::NotFound, 3, "/dev/x", {}},
         "COM3 = /dev/x: nelze otevřít, zařízení neexistuje"},
        {{com3, "/dev/x", PortState::Failed, OpenFailure::NoPermission, 3, "/dev/x", {}},
         "COM3 = /dev/x: nelze otevřít, chybí oprávnění (uživatel není ve skupině dialout)"},
        {{com3, "/dev/x", PortState::Failed, OpenFailure::Busy, 3, "/dev/x", {}},
         "COM3 = /dev/x: nelze otevřít, port používá jiný program nebo ho nelze nastavit"},
        {{com3, "/dev/x", PortState::Failed, OpenFailure::Settings, 3, "/dev/x", {}},
         "COM3 = /dev/x: nelze otevřít, zařízení nepřijalo nastavení linky"},
        // Windows: the name is the device; another choice waits for the next start.
        {{com3, com3, PortState::Open, OpenFailure::None, 4, "\\\\.\\COM4", {}},
         "COM3: připojeno  |  od příštího spuštění: COM4 = \\\\.\\COM4"},
        {{"/dev/pts/4", "/dev/pts/4", PortState::Open, OpenFailure::None, 200, "", {}},
         "/dev/pts/4: připojeno  |  od příštího spuštění: COM200 bez zařízení"},
        // The adapter of the open port; a device that has gone and is awaited.
        {{com3, "/dev/serial/by-id/usb-FTDI_A10K3", PortState::Open, OpenFailure::None, 3,
          "/dev/serial/by-id/usb-FTDI_A10K3", QStringLiteral("FT232R USB UART, sériové č. A10K3")},
         "COM3 = /dev/serial/by-id/usb-FTDI_A10K3 (FT232R USB UART, sériové č. A10K3): připojeno"},
        {{com3, "/tmp/ttyQTR", PortState::Lost, OpenFailure::None, 3, "/tmp/ttyQTR", {}},
         "COM3 = /tmp/ttyQTR: zařízení odpojeno, čekám na jeho návrat"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(PortStatusText(row.status).toStdString(), row.text);
}

} // namespace
} // namespace qtr290
