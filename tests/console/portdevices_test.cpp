// What Cmb_ComPort shows of the system's serial devices: a fake list mapped onto the COM
// numbers, and the list of this machine.
#include "console/portdevices.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace qtr290 {
namespace {

const std::string ByIdFtdi = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3-if00-port0";

std::vector<SerialDevice> FakeList()
{
    return {
        {"/dev/ttyUSB0", "ttyUSB0", "FT232R USB UART", "FTDI", "A10K3", 0x0403, 0x6001},
        {"/dev/ttyS0", "ttyS0", "", "", "", std::nullopt, std::nullopt},
        {"/dev/ttyACM1", "ttyACM1", "", "Arduino (www.arduino.cc)", "", 0x2341, 0x0043},
    };
}

// The by-id link leads to ttyUSB0; every other name is its own node.
std::string FakePathOf(const std::string& name)
{
    return name == ByIdFtdi ? "/dev/ttyUSB0" : name;
}

TEST(ComPortItems, DevicesOfTheListAreMarkedOnTheirNumbers)
{
    const ComPortNames names({{4, ByIdFtdi}, {5, "/dev/ttyUSB9"}, {40, "/dev/ttyACM1"}});
    const auto items = ComPortItems(FakeList(), names, 256, FakePathOf);
    ASSERT_EQ(items.size(), 256u);

    const QString ftdi =
        QStringLiteral("ttyUSB0 — FT232R USB UART, FTDI, sériové č. A10K3, 0403:6001");
    const struct {
        int item;
        bool present;
        QString toolTip;
    } rows[] = {
        // Defaults: COM1 is ttyS0, COM33 ttyUSB0, COM66 ttyACM1.
        {1, true, QStringLiteral("COM1 = /dev/ttyS0\nttyS0 — zařízení existuje")},
        {2, false, QStringLiteral("COM2 = /dev/ttyS1")},
        {33, true, QStringLiteral("COM33 = /dev/ttyUSB0\n") + ftdi},
        {66, true,
         QStringLiteral("COM66 = /dev/ttyACM1\nttyACM1 — Arduino (www.arduino.cc), 2341:0043")},
        // [Porty]: a by-id path names the adapter whatever the kernel called it.
        {4, true, QString::fromStdString("COM4 = " + ByIdFtdi + "\n") + ftdi},
        {5, false, QStringLiteral("COM5 = /dev/ttyUSB9")},
        {40, true,
         QStringLiteral("COM40 = /dev/ttyACM1\nttyACM1 — Arduino (www.arduino.cc), 2341:0043")},
        {200, false, QStringLiteral("COM200 bez zařízení")},
        // The link's port number is one byte: item 256 is COM0.
        {256, false, QStringLiteral("COM0 bez zařízení")},
    };
    for (const auto& row : rows) {
        const ComPortItem& item = items[std::size_t(row.item - 1)];
        EXPECT_EQ(item.present, row.present) << row.item;
        EXPECT_EQ(item.toolTip.toStdString(), row.toolTip.toStdString()) << row.item;
    }
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](const auto& i) { return i.present; }),
              5);

    const ComPortItem gone = ComPortItems({}, names, 256, FakePathOf)[32];
    EXPECT_FALSE(gone.present) << "a device that went loses its marker and its adapter";
    EXPECT_EQ(gone.toolTip.toStdString(), "COM33 = /dev/ttyUSB0");
}

TEST(ComPortItems, TheStatusLineNamesTheAdapterInAFewWords)
{
    const auto list = FakeList();
    const SerialDevice* ftdi = FindDevice(list, ByIdFtdi, FakePathOf);
    ASSERT_NE(ftdi, nullptr);
    EXPECT_EQ(AdapterName(*ftdi).toStdString(), "FT232R USB UART, sériové č. A10K3");
    EXPECT_EQ(AdapterName(list[2]).toStdString(), "Arduino (www.arduino.cc)");
    EXPECT_TRUE(AdapterName(list[1]).isEmpty());
    EXPECT_EQ(FindDevice(list, "/dev/ttyUSB1", FakePathOf), nullptr);
    EXPECT_EQ(FindDevice(list, "", FakePathOf), nullptr);
}

TEST(SystemSerialDevices, ThisMachinesSerialPortIsListedByItsPath)
{
    if (!std::filesystem::is_character_file("/dev/ttyS0"))
        GTEST_SKIP() << "no /dev/ttyS0 on this machine";
    const auto devices = SystemSerialDevices();
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [](const SerialDevice& d) { return d.path == "/dev/ttyS0"; });
    ASSERT_NE(found, devices.end());
    EXPECT_EQ(found->name, "ttyS0");
    EXPECT_TRUE(ComPortItems(devices, ComPortNames(), 1)[0].present);
}

} // namespace
} // namespace qtr290
