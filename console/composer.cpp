#include "console/composer.h"

#include "link/hextext.h"

#include <QList>

#include <algorithm>
#include <string_view>

namespace qtr290 {

namespace {

// The window's spacing, the link's names and codes (checked below).
constexpr std::array<std::string_view, MemoryAreaCount> ItemTexts = {
    "RAM290     =$00;", "FRAM290   =$10;", "RTC290      =$20;", "FLASH290  =$30;",
    "ROM290     =$40;", "FLROM290 =$50;",  "RAMBIT290=$60;",
};

constexpr bool ItemsSpellTheAreaTable()
{
    constexpr std::string_view Digits = "0123456789ABCDEF";
    for (std::size_t i = 0; i < MemoryAreas.size(); ++i) {
        const std::string_view item = ItemTexts[i];
        const MemoryAreaEntry& area = MemoryAreas[i];
        if (!item.starts_with(area.name) || item[item.size() - 3] != Digits[area.code >> 4] ||
            area.code != i * 0x10)
            return false;
    }
    return true;
}
static_assert(ItemsSpellTheAreaTable());

} // namespace

const std::array<const char*, MemoryAreaCount> AreaItemTexts = {
    ItemTexts[0].data(), ItemTexts[1].data(), ItemTexts[2].data(), ItemTexts[3].data(),
    ItemTexts[4].data(), ItemTexts[5].data(), ItemTexts[6].data(),
};

namespace {

unsigned DigitValue(char32_t c)
{
    const int value = HexDigitValue(c);
    return value < 0 ? 0u : unsigned(value);
}

// Characters are counted as code points, so a character outside the BMP is one
// character and not two halves.
std::uint8_t ByteOfLastTwo(const QList<uint>& chars, qsizetype begin, qsizetype end)
{
    unsigned value = 0;
    if (end - begin >= 1)
        value += DigitValue(chars[end - 1]);
    if (end - begin >= 2)
        value += DigitValue(chars[end - 2]) * 16;
    return static_cast<std::uint8_t>(value);
}

} // namespace

std::uint8_t HexNaByte(QStringView text)
{
    const QList<uint> chars = text.toUcs4();
    return ByteOfLastTwo(chars, 0, chars.size());
}

QString OdstranZnak(QStringView text, QChar character)
{
    return text.toString().remove(character);
}

QString FieldHex(unsigned value)
{
    return QString::fromLatin1(HexNumber(value));
}

std::vector<std::uint8_t> ParseDataLine(QStringView text)
{
    const QList<uint> chars = OdstranZnak(text, QLatin1Char(' ')).toUcs4();
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(chars.size() + 1) / 2);
    for (qsizetype i = 0; i < chars.size(); i += 2)
        bytes.push_back(ByteOfLastTwo(chars, i, std::min(i + 2, chars.size())));
    return bytes;
}

std::uint8_t AreaCodeFromIndex(int areaIndex)
{
    if (areaIndex < 0 || areaIndex >= MemoryAreaCount)
        return 0x00;
    return static_cast<std::uint8_t>(areaIndex * 0x10);
}

QString TextDev(std::uint8_t areaCode, bool write)
{
    return FieldHex(RequestDeviceByte(areaCode, write));
}

QString TextRW(bool write, std::size_t dataCount)
{
    // The count is shown whole: a long data line gives more than two digits.
    return write ? FieldHex(static_cast<unsigned>(dataCount + 4)) : QStringLiteral("03");
}

QString PrepocitejHlavicku(QStringView sync, QStringView to, QStringView from, QStringView dev,
                           QStringView rw)
{
    const std::array<std::uint8_t, 5> header = {HexNaByte(sync), HexNaByte(to), HexNaByte(from),
                                                HexNaByte(dev), HexNaByte(rw)};
    return FieldHex(KontrolniSoucet(header));
}

DataPreview PrepocitejData(QStringView dataLen, QStringView addr1, QStringView addr2,
                           QStringView addr3, ByteSpan dataTLG, bool write)
{
    std::vector<std::uint8_t> block = {HexNaByte(dataLen), HexNaByte(addr1), HexNaByte(addr2),
                                       HexNaByte(addr3)};
    block.insert(block.end(), dataTLG.begin(), dataTLG.end());
    const std::uint8_t crc = CRC8(block);

    DataPreview preview;
    preview.crcWrite = FieldHex(crc);
    if (write) {
        block.push_back(crc);
        preview.crcTlg = FieldHex(KontrolniSoucet(block));
    } else {
        preview.crcTlg = FieldHex(KontrolniSoucet(ByteSpan(block).first(4)));
    }
    return preview;
}

std::uint32_t AddressFromEdits(QStringView addr1, QStringView addr2, QStringView addr3)
{
    return std::uint32_t{HexNaByte(addr3)} * 0x10000 + std::uint32_t{HexNaByte(addr2)} * 0x100 +
           HexNaByte(addr1);
}

bool IsHexDigit(char32_t c)
{
    return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'F') || (c >= U'a' && c <= U'f');
}

bool FieldShowsByte(QStringView text, std::uint8_t value)
{
    if (text.isEmpty() || text.size() > 2)
        return false;
    for (const QChar c : text)
        if (!IsHexDigit(c.unicode()))
            return false;
    return HexNaByte(text) == value;
}

bool DataLineAccepts(QStringView keyText)
{
    for (const QChar c : keyText) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    }
    for (const QChar c : keyText) {
        if (c != QLatin1Char(' ') && !IsHexDigit(c.unicode()))
            return false;
    }
    return true;
}

std::array<std::optional<std::uint8_t>, ComposerFieldCount> FieldBytes(ByteSpan telegram,
                                                                       bool write)
{
    std::array<std::optional<std::uint8_t>, ComposerFieldCount> bytes{};
    if (telegram.size() < ReadRequestLength)
        return bytes;
    // Sync to Addr3 are the telegram's first ten bytes, in field order.
    for (std::size_t i = 0; i <= std::size_t(ComposerField::Addr3); ++i)
        bytes[i] = telegram[i];
    if (write)
        bytes[std::size_t(ComposerField::CRCWrite)] = telegram[telegram.size() - 2];
    bytes[std::size_t(ComposerField::CRCTLG)] = telegram.back();
    return bytes;
}

} // namespace qtr290
