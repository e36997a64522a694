// Hexadecimal text of the traffic display and the capture file, and the decision
// whether a received telegram is shown at all.
#pragma once

#include "telegram.h"

#include <QStringView>

#include <cstdint>
#include <string>

namespace qtr290 {

// Two upper-case hex digits.
std::string HexByte(std::uint8_t value);

// Upper-case hex, at least two digits ("0A", "FF", "100"): the composer's fields.
std::string HexNumber(unsigned value);

// The displayed telegram text: "XX " per byte, CR LF after every byte whose 1-based
// position is a multiple of bytesPerLine. A bytesPerLine of 0 or below means no line
// breaks: the operator's 0 reads as "no limit", and the text stays one line per telegram.
std::string TelegramText(ByteSpan bytes, int bytesPerLine);

// "XX " per byte without line breaks: a chunk in a capture line.
std::string ChunkText(ByteSpan bytes);

// The operator's display settings that decide whether a received telegram is shown.
struct DisplayFilter {
    bool showReceived = true; // Rgp_PrijataData "Zobrazuj"
    bool filterOn = false;    // Chk_Filtr
    QStringView filterFrom{}; // Edt_FiltrOd, the sender
    QStringView filterTo{};   // Edt_FiltrPro, the addressee
    bool hidePolls = false;   // Chk_NezobrazujVyzvy
};

// True when a good telegram with these To and From bytes is to be shown. With the
// filter on, each byte's two hex digits must equal the filter text upper-cased,
// exactly: "f0" matches 0xF0, "F" and " F0" do not.
bool ZobrazitTLG(std::uint8_t to, std::uint8_t from, bool isPoll, const DisplayFilter& filter);

} // namespace qtr290
