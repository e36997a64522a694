#include "Composer.h"

#include <gtest/gtest.h>

#include <QString>

#include <vector>

using namespace qtr290;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The composer after start-up, with the address of the worked examples typed in.
ComposerState AfterStartWithAddress()
{
    ComposerState c;
    c.Obnov();
    c.addr1 = QStringLiteral("57");
    c.Edt_DataLenChange();
    c.addr2 = QStringLiteral("01");
    c.Edt_DataLenChange();
    return c;
}

void SelectArea(ComposerState& c, int index)
{
    c.zarizeni = index;
    c.Rgp_ZarizeniClick();
}

void SelectWrite(ComposerState& c, bool write)
{
    c.zapis = write;
    c.Rgp_druhTLGClick();
}

void TypeData(ComposerState& c, const char* text)
{
    c.data = QString::fromUtf8(text);
    c.Cmb_DataChange();
}

struct Shown {
    const char* dev;
    const char* rw;
    const char* crcHead;
    const char* dataLen;
    const char* pocetBytu;
    const char* crcWrite;
    const char* crcTlg;
    bool crcWriteEnabled;
};

void ExpectShown(const ComposerState& c, const Shown& s)
{
    EXPECT_EQ(c.dev, QString::fromLatin1(s.dev));
    EXPECT_EQ(c.rw, QString::fromLatin1(s.rw));
    EXPECT_EQ(c.crcHead, QString::fromLatin1(s.crcHead));
    EXPECT_EQ(c.dataLen, QString::fromLatin1(s.dataLen));
    EXPECT_EQ(c.pocetBytu, QString::fromLatin1(s.pocetBytu));
    EXPECT_EQ(c.crcWrite, QString::fromLatin1(s.crcWrite));
    EXPECT_EQ(c.crcTlg, QString::fromLatin1(s.crcTlg));
    EXPECT_EQ(c.crcWriteEnabled, s.crcWriteEnabled);
}

// What the link would send for the composer's present state.
Bytes RequestOf(const ComposerState& c)
{
    const RequestTarget target{.from = HexNaByte(c.from),
                               .to = HexNaByte(c.to),
                               .area = c.KodOblasti,
                               .address = c.Adresa()};
    if (!c.zapis)
        return BuildReadRequest(target, c.Count());
    return BuildWriteRequest(target, c.DataTLG);
}

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

TEST(Composer, RozeberDataAndOdstranZnak)
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
        EXPECT_EQ(RozeberData(QString::fromLatin1(row.text)), row.bytes);
    }
}

TEST(Composer, AreaItemsAndCodes)
{
    const std::vector<const char*> items = {
        "RAM290     =$00;", "FRAM290   =$10;", "RTC290      =$20;", "FLASH290  =$30;",
        "ROM290     =$40;", "FLROM290 =$50;",  "RAMBIT290=$60;"};
    ASSERT_EQ(ZarizeniItems.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_STREQ(ZarizeniItems[i], items[i]);
        EXPECT_EQ(KodOblastiZIndexu(static_cast<int>(i)), i * 0x10);
    }
    EXPECT_EQ(KodOblastiZIndexu(-1), 0x00);
    EXPECT_EQ(KodOblastiZIndexu(7), 0x00);
}

TEST(Composer, StateAfterStartUp)
{
    ComposerState c;
    c.Obnov();
    ExpectShown(c, {"0A", "03", "5D", "01", "1", "CD", "FF", false});
    EXPECT_EQ(c.DataTLG, Bytes{0x00});
    EXPECT_EQ(c.KodOblasti, 0x00);
}

// FRAM290 write of 12 34 from F0 to 00 at 0x000157.
TEST(Composer, FramWriteExample)
{
    ComposerState c = AfterStartWithAddress();
    SelectArea(c, 1);
    SelectWrite(c, true);
    TypeData(c, "12 34");
    ExpectShown(c, {"9A", "06", "CA", "02", "2", "87", "D9", true});
    EXPECT_EQ(RequestOf(c), (Bytes{0xA6, 0x00, 0xF0, 0x9A, 0x06, 0xCA, 0x02, 0x57, 0x01, 0x00, 0x12,
                                   0x34, 0x87, 0xD9}));
}

TEST(Composer, StartTestRead)
{
    ComposerState c;
    c.Obnov();
    SelectArea(c, 3);
    SelectWrite(c, true);
    c.to = QStringLiteral("12");
    c.Edt_SyncChange();

    c.NastavTest();
    EXPECT_EQ(c.crcTlg, QStringLiteral("A7"));
    EXPECT_EQ(c.crcHead, QStringLiteral("5D"));
    EXPECT_EQ(c.dev, QStringLiteral("0A"));
    EXPECT_FALSE(c.crcWriteEnabled);
    EXPECT_EQ(RequestOf(c),
              (Bytes{0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5D, 0x01, 0x57, 0x01, 0x00, 0xA7}));
}

TEST(Composer, ReadToWriteWithThreeBytes)
{
    ComposerState c = AfterStartWithAddress();
    TypeData(c, "AA BB CC");
    ExpectShown(c, {"0A", "03", "5D", "03", "3", "F5", "A5", false});

    SelectWrite(c, true);
    // The block checksum follows the switch as well, so it shows what the link sends.
    ExpectShown(c, {"8A", "07", "D9", "03", "3", "F5", "7F", true});
    const Bytes sent = RequestOf(c);
    EXPECT_EQ(sent[5], 0xD9);
    EXPECT_EQ(sent.back(), 0x7F);

    SelectWrite(c, false);
    ExpectShown(c, {"0A", "03", "5D", "03", "3", "F5", "A5", false});
}

TEST(Composer, EmptyDataLine)
{
    ComposerState c = AfterStartWithAddress();
    TypeData(c, "");
    EXPECT_TRUE(c.DataTLG.empty());
    EXPECT_EQ(c.dataLen, QStringLiteral("00"));
    EXPECT_EQ(c.pocetBytu, QStringLiteral("0"));
    SelectWrite(c, true);
    EXPECT_EQ(c.rw, QStringLiteral("04"));
    EXPECT_EQ(c.crcWrite, QStringLiteral("C5"));
    EXPECT_EQ(c.crcTlg, QStringLiteral("E3"));
    EXPECT_EQ(RequestOf(c).size(), 12u);
}

// A hand-edited DataLen: the data stay, the previews start from the edited Count, and
// R/W still counts the data bytes.
TEST(Composer, HandEditedDataLen)
{
    ComposerState c = AfterStartWithAddress();
    SelectWrite(c, true);
    TypeData(c, "1234");
    c.dataLen = QStringLiteral("05");
    c.Edt_DataLenChange();
    EXPECT_EQ(c.DataTLG, (Bytes{0x12, 0x34}));
    EXPECT_EQ(c.rw, QStringLiteral("06"));
    EXPECT_EQ(c.crcWrite, QStringLiteral("02"));
    EXPECT_EQ(c.crcTlg, QStringLiteral("5B"));
    EXPECT_EQ(c.Count(), 5);
}

// Typing into Sync, Device or R/W changes only the header preview, nothing that is sent.
TEST(Composer, ShownOnlyFieldsChangeOnlyTheHeaderPreview)
{
    ComposerState c = AfterStartWithAddress();
    const Bytes before = RequestOf(c);
    c.dev = QStringLiteral("ff");
    c.Edt_SyncChange();
    EXPECT_EQ(c.crcHead, QStringLiteral("68"));
    EXPECT_EQ(c.crcTlg, QStringLiteral("A7"));
    EXPECT_EQ(RequestOf(c), before);
}

// 256 data bytes: the counts are shown whole; DataLen is read by its last two digits.
TEST(Composer, LongDataLine)
{
    ComposerState c;
    c.Obnov();
    SelectWrite(c, true);
    TypeData(c, std::string(512, 'e').c_str());
    EXPECT_EQ(c.DataTLG.size(), 256u);
    EXPECT_EQ(c.pocetBytu, QStringLiteral("256"));
    EXPECT_EQ(c.dataLen, QStringLiteral("100"));
    EXPECT_EQ(c.rw, QStringLiteral("104"));
    EXPECT_EQ(c.Count(), 0x00);
    EXPECT_FALSE(FieldShowsByte(c.dataLen, c.Count()));
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
