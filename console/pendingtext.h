// The pending queue in the window's words: a request decoded, its hex cut short, a pending
// telegram and a departure as the overview lists them.
#pragma once

#include "station/pendingqueue.h"

#include <QString>

#include <cstddef>

namespace qtr290 {

// "Zápis FRAM290 0x000157 ×2 → 00": kind, area, address, Count and addressee of a request;
// "TLG → 00" for anything else.
QString DescribeRequest(ByteSpan telegram);

// The telegram in hex, cut after `maxBytes` bytes with " …".
QString ShortHex(ByteSpan telegram, std::size_t maxBytes);

// A pending telegram in three lines: decoded; how often and when last sent; its first
// PendingHexBytes bytes.
inline constexpr std::size_t PendingHexBytes = 12;
QString PendingText(const PendingQueue::Item& item);

// Two lines: "12:00:01.300 Čtení RAM290 0x000157 ×1 → 00",
// "odebrán odpovědí po 12 ms (odesláno 2×)".
QString DepartureText(const PendingQueue::Departure& departure);

} // namespace qtr290
