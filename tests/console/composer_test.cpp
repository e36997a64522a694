// The composer's arithmetic: hex fields, the data line, the previews it shows and which
// byte of the telegram each field stands for. The window's handler chain over these is
// tested on the real window (composer_window_test).
#include "console/composer.h"
#include "tests/support/telegrams.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <string_view>
#include <vector>

using namespace qtr290;

namespace {

using Bytes = std::vector<std::uint8_t>;

} // namespace

TEST(Composer, HexNaByte)
{
    struct Row {
        const char16_t* text;
        std::uint8_t value;
    };
    const std::vector<Row> rows = {
        {u"a6", 0xA6},
        {u"1A6", 0xA6},
        {u"F", 0x0F},
        {u"", 0x00},
        {u"ff", 0xFF},
        {u"00", 0x00},
        {u"100", 0x00},
        {u"zz12", 0x12},
        // Anything that is not a hex digit counts as 0.
        {u"G", 0x00},
        {u"1G", 0x10},
        {u"G1", 0x01},
        {u" F", 0x0F},
        {u"F ", 0xF0},
        {u"-1", 0x01},
        // One character outside the BMP is one character, not two.
        {u"A\U0001F600", 0xA0},
    };
    for (const auto& row : rows) {
        const QString text = QString::fromUtf16(row.text);
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(HexNaByte(text), row.value);
    }
}

TEST(Composer, ParseDataLineAndOdstranZnak)
{
    EXPECT_EQ(OdstranZnak(u" 12 3 4 ", QLatin1Char(' ')), QStringLiteral("1234"));
    EXPECT_EQ(OdstranZnak(u"abc", QLatin1Char('x')), QStringLiteral("abc"));

    struct Row {
        const char* text;
        Bytes bytes;
    };
    const std::vector<Row> rows = {
        {"00", {0x00}},
        {"1234", {0x12, 0x34}},
        {"12 34", {0x12, 0x34}},
        {" 1 2 3  4 ", {0x12, 0x34}},
        {"123", {0x12, 0x03}},
        {"1", {0x01}},
        {"", {}},
        {"   ", {}},
        {"aBcD", {0xAB, 0xCD}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ParseDataLine(QString::fromLatin1(row.text)), row.bytes);
    }
}

TEST(Composer, AreaItemsAndCodes)
{
    const std::vector<const char*> items = {
        "RAM290     =$00;", "FRAM290   =$10;", "RTC290      =$20;", "FLASH290  =$30;",
        "ROM290     =$40;", "FLROM290 =$50;",  "RAMBIT290=$60;"};
    ASSERT_EQ(AreaItemTexts.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_STREQ(AreaItemTexts[i], items[i]);
        EXPECT_EQ(AreaCodeFromIndex(static_cast<int>(i)), i * 0x10);
    }
    EXPECT_EQ(AreaCodeFromIndex(-1), 0x00);
    EXPECT_EQ(AreaCodeFromIndex(7), 0x00);
}

// Worked examples: the read A6 00 F0 0A 03 5D 01 57 01 00 A7 and the FRAM290 write
// A6 00 F0 9A 06 CA 02 57 01 00 12 34 87 D9; the rest as the window shows them.
TEST(Composer, PreviewRows)
{
    // The edits as typed, separated by blanks: Sync To From Device R/W, and DataLen and the
    // three address bytes. CRC8 "-": no value shown by the worked examples.
    struct Row {
        const char* source;
        const char* header;
        const char* crcHead;
        const char* block;
        Bytes data;
        bool write;
        const char* crcWrite;
        const char* crcTlg;
    };
    const std::vector<Row> rows = {
        {"read request", "A6 00 F0 0A 03", "5D", "01 57 01 00", {0x00}, false, "-", "A7"},
        {"start-up state", "A6 00 F0 0A 03", "5D", "01 00 00 00", {0x00}, false, "CD", "FF"},
        {"FRAM write", "A6 00 F0 9A 06", "CA", "02 57 01 00", {0x12, 0x34}, true, "87", "D9"},
        {"empty write", "A6 00 F0 8A 04", "DC", "00 57 01 00", {}, true, "C5", "E3"},
        {"DataLen typed", "A6 00 F0 8A 06", "DA", "05 57 01 00", {0x12, 0x34}, true, "02", "5B"},
        {"typed Device", "A6 00 F0 ff 03", "68", "01 57 01 00", {0x00}, false, "-", "A7"},
        {"typed Sync", "a5 00 F0 0A 03", "5E", "01 57 01 00", {0x00}, false, "-", "A7"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source);
        const QStringList h = QString::fromLatin1(row.header).split(QLatin1Char(' '));
        const QStringList b = QString::fromLatin1(row.block).split(QLatin1Char(' '));
        EXPECT_EQ(PrepocitejHlavicku(h[0], h[1], h[2], h[3], h[4]), QLatin1String(row.crcHead));
        const DataPreview preview = PrepocitejData(b[0], b[1], b[2], b[3], row.data, row.write);
        if (std::string_view(row.crcWrite) != "-") {
            EXPECT_EQ(preview.crcWrite, QLatin1String(row.crcWrite));
        }
        EXPECT_EQ(preview.crcTlg, QLatin1String(row.crcTlg));
    }
}

TEST(Composer, DeviceAndLengthFields)
{
    EXPECT_EQ(TextDev(0x00, false), QStringLiteral("0A"));
    EXPECT_EQ(TextDev(0x10, true), QStringLiteral("9A"));
    EXPECT_EQ(TextDev(0x60, true), QStringLiteral("EA"));
    EXPECT_EQ(TextRW(false, 40), QStringLiteral("03"));
    EXPECT_EQ(TextRW(true, 0), QStringLiteral("04"));
    EXPECT_EQ(TextRW(true, 3), QStringLiteral("07"));
    // 256 data bytes: the counts are shown whole, and DataLen reads back by its last two digits.
    EXPECT_EQ(TextRW(true, 256), QStringLiteral("104"));
    EXPECT_EQ(FieldHex(256), QStringLiteral("100"));
    EXPECT_EQ(HexNaByte(FieldHex(256)), 0x00);
    EXPECT_EQ(AddressFromEdits(u"57", u"01", u"00"), 0x000157u);
    EXPECT_EQ(AddressFromEdits(u"1ff", u"g", u"12"), 0x1200FFu);
}

TEST(Composer, DataLineKeys)
{
    const struct {
        const char16_t* text;
        bool accepted;
    } rows[] = {
        {u"a", true},  {u"F", true},       {u"7", true},    {u" ", true},  {u"", true},
        {u"\b", true}, {u"\r", true},      {u"\x7f", true}, {u"g", false}, {u"-", false},
        {u"+", false}, {u"\u00e1", false}, {u"1g", false},  {u"12", true},
    };
    for (const auto& row : rows) {
        const QString text = QString::fromUtf16(row.text);
        EXPECT_EQ(DataLineAccepts(text), row.accepted) << text.toStdString();
    }
}

TEST(Composer, FieldBytesOfTheTelegram)
{
    const Bytes& read = test::ReadRequest;
    const auto r = FieldBytes(read, false);
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(r[i], read[i]) << i;
    EXPECT_EQ(r[std::size_t(ComposerField::CRCWrite)], std::nullopt);
    EXPECT_EQ(r[std::size_t(ComposerField::CRCTLG)], 0xA7);

    const Bytes& write = test::WriteRequest;
    const auto w = FieldBytes(write, true);
    EXPECT_EQ(w[std::size_t(ComposerField::Dev)], 0x9A);
    EXPECT_EQ(w[std::size_t(ComposerField::CRCWrite)], 0x87);
    EXPECT_EQ(w[std::size_t(ComposerField::CRCTLG)], 0xD9);

    for (const auto& none : FieldBytes({}, true))
        EXPECT_EQ(none, std::nullopt);
}

TEST(Composer, FieldShowsByteRows)
{
    struct Row {
        const char* text;
        std::uint8_t value;
        bool shows;
    };
    const std::vector<Row> rows = {
        {"A6", 0xA6, true},  {"a6", 0xA6, true},   {"0", 0x00, true},    {"F", 0x0F, true},
        {"A5", 0xA6, false}, {"", 0x00, false},    {"1A6", 0xA6, false}, {"g1", 0x01, false},
        {" 1", 0x01, false}, {"100", 0x00, false}, {"0F", 0x0F, true},   {"ff", 0xFF, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(FieldShowsByte(QString::fromLatin1(row.text), row.value), row.shows);
    }
}
