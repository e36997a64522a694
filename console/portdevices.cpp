#include "console/portdevices.h"

#include "console/portstatus.h"
#include "widgets/plaintext.h"

#include <QColor>
#include <QComboBox>
#include <QCoreApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSerialPortInfo>

#include <filesystem>
#include <system_error>

namespace qtr290 {

namespace {

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QString Hex4(std::uint16_t value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

// A small filled circle: the mark of a COM number whose device exists.
QIcon PresentMarker()
{
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0x1B, 0x5E, 0x20));
    painter.setBrush(QColor(0x43, 0xA0, 0x47));
    painter.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    return QIcon(pixmap);
}

} // namespace

std::vector<SerialDevice> SystemSerialDevices()
{
    std::vector<SerialDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialDevice device;
        device.path = info.systemLocation().toStdString();
        device.name = info.portName().toStdString();
        device.description = info.description().toStdString();
        device.manufacturer = info.manufacturer().toStdString();
        device.serialNumber = info.serialNumber().toStdString();
        if (info.hasVendorIdentifier())
            device.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            device.productId = info.productIdentifier();
        devices.push_back(std::move(device));
    }
    return devices;
}

std::string DevicePathOf(const std::string& name)
{
    std::error_code error;
    const auto path = std::filesystem::canonical(name, error);
    return error ? name : path.string();
}

QString AdapterDetails(const SerialDevice& device)
{
    QStringList parts;
    for (const std::string* text : {&device.description, &device.manufacturer}) {
        if (!text->empty())
            parts << Text(*text);
    }
    if (!device.serialNumber.empty())
        parts << QCoreApplication::translate("qtr290::PortDevices", "sériové č. ") +
                     Text(device.serialNumber);
    if (device.vendorId && device.productId)
        parts << Hex4(*device.vendorId) + QLatin1Char(':') + Hex4(*device.productId);
    return parts.join(QStringLiteral(", "));
}

QString AdapterName(const SerialDevice& device)
{
    QStringList parts;
    if (!device.description.empty())
        parts << Text(device.description);
    else if (!device.manufacturer.empty())
        parts << Text(device.manufacturer);
    if (!device.serialNumber.empty())
        parts << QCoreApplication::translate("qtr290::PortDevices", "sériové č. ") +
                     Text(device.serialNumber);
    return parts.join(QStringLiteral(", "));
}

const SerialDevice* FindDevice(const std::vector<SerialDevice>& devices, const std::string& path,
                               const std::function<std::string(const std::string&)>& pathOf)
{
    if (path.empty())
        return nullptr;
    const std::string node = pathOf ? pathOf(path) : path;
    for (const SerialDevice& device : devices) {
        if (device.path == path || device.path == node)
            return &device;
    }
    return nullptr;
}

std::vector<ComPortItem> ComPortItems(const std::vector<SerialDevice>& devices,
                                      const ComPortNames& names, int count,
                                      const std::function<std::string(const std::string&)>& pathOf)
{
    std::vector<ComPortItem> items;
    for (int item = 1; item <= count; ++item) {
        const int number = LinkPortNumber(item);
        const std::string path = names.Device(number);
        ComPortItem entry;
        entry.toolTip = ComPortDescription(number, path);
        if (const SerialDevice* device = FindDevice(devices, path, pathOf)) {
            const QString details = AdapterDetails(*device);
            entry.present = true;
            entry.toolTip += QLatin1Char('\n') + Text(device->name) + QStringLiteral(" — ") +
                             (details.isEmpty() ? QCoreApplication::translate("qtr290::PortDevices",
                                                                              "zařízení existuje")
                                                : details);
        }
        items.push_back(std::move(entry));
    }
    return items;
}

void ShowComPortItems(QComboBox* combo, const std::vector<ComPortItem>& items)
{
    const QIcon marker = PresentMarker();
    for (int i = 0; i < combo->count() && i < int(items.size()); ++i) {
        const ComPortItem& item = items[std::size_t(i)];
        combo->setItemData(i, PlainToolTip(item.toolTip), Qt::ToolTipRole);
        combo->setItemData(i, item.present ? QVariant(marker) : QVariant(), Qt::DecorationRole);
    }
}

} // namespace qtr290
