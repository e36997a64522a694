// The telegram composer's arithmetic: reading its hex edits, parsing the data line, the
// header and block bytes it shows while the operator types, and which byte of the telegram
// each field stands for. Widget-free; the window runs the steps from its handlers.
#pragma once

#include "link/telegram.h"

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace qtr290 {

// The items of Rgp_Zarizeni; item i selects area code i * 0x10.
extern const std::array<const char*, MemoryAreaCount> AreaItemTexts;

// The value of a byte edit: the last character counts 1, the one before it 16, all
// earlier ones nothing; a to f as A to F. Any other character counts as the digit 0,
// so a pasted "1G" reads as 0x10 and never as some accidental value. Empty gives 0.
std::uint8_t HexNaByte(QStringView text);

// The text with every occurrence of the character removed.
QString OdstranZnak(QStringView text, QChar character);

// Composer display of a number: upper-case hex, at least two digits.
QString FieldHex(unsigned value);

// The data line as bytes: spaces removed, then pairs of characters from the left
// (a last single one alone), each read with HexNaByte. "12 3" gives 0x12 0x03.
std::vector<std::uint8_t> ParseDataLine(QStringView text);

// Area code of a Rgp_Zarizeni index; an index outside the seven items gives RAM290's
// 0x00, so no code can ever reach the write flag bit.
std::uint8_t AreaCodeFromIndex(int areaIndex);

// Edt_Dev: area code OR 0x0A, OR 0x80 for a write.
QString TextDev(std::uint8_t areaCode, bool write);

// Edt_RW: "03" for a read; the number of data bytes plus 4 for a write.
QString TextRW(bool write, std::size_t dataCount);

// Edt_CRCHead: the additive checksum of the five header edits, read as they stand.
QString PrepocitejHlavicku(QStringView sync, QStringView to, QStringView from, QStringView dev,
                           QStringView rw);

struct DataPreview {
    QString crcWrite; // Edt_CRCWrite: CRC8 of Count, address and data (shown for a read too)
    QString crcTlg;   // Edt_CRCTLG: the block checksum
};

// The block Count, Addr1..3 (read from the edits) and the data; the previews of a
// read or a write request over it.
DataPreview PrepocitejData(QStringView dataLen, QStringView addr1, QStringView addr2,
                           QStringView addr3, ByteSpan dataTLG, bool write);

// Address of the request from the three address edits (low, middle, high).
std::uint32_t AddressFromEdits(QStringView addr1, QStringView addr2, QStringView addr3);

bool IsHexDigit(char32_t c);

// Whether a composer field's text plainly says this byte: one or two hex digits of its value.
// A field that does not ("1A6", "g1", a hand-typed checksum) is read or sent all the same.
bool FieldShowsByte(QStringView text, std::uint8_t value);

// Whether a key's text may go into the data line: hex digits, spaces and control characters
// (editing keys, shortcuts and backspace carry those); anything else is dropped.
bool DataLineAccepts(QStringView keyText);

// The composer's twelve byte fields, left to right.
enum class ComposerField {
    Sync,
    To,
    From,
    Dev,
    RW,
    CRCHead,
    DataLen,
    Addr1,
    Addr2,
    Addr3,
    CRCWrite,
    CRCTLG
};
inline constexpr std::size_t ComposerFieldCount = 12;

// The byte of `telegram` (a read or write request as the link builds it) that each field
// stands for; none where the telegram has no such byte (a read's CRC8, or no telegram).
std::array<std::optional<std::uint8_t>, ComposerFieldCount> FieldBytes(ByteSpan telegram,
                                                                       bool write);

} // namespace qtr290
