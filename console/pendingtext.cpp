#include "console/pendingtext.h"

#include "link/hextext.h"

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>

namespace qtr290 {

namespace {

QString TimeText(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch)
        .time()
        .toString(QStringLiteral("hh:mm:ss.zzz"));
}

QString Hex2(std::uint8_t value)
{
    return QString::fromLatin1(HexByte(value));
}

} // namespace

QString DescribeRequest(ByteSpan telegram)
{
    if (telegram.size() < 2)
        return QCoreApplication::translate("qtr290::PendingQueue", "TLG");
    const QString to = Hex2(telegram[1]);
    const bool request = telegram.size() >= 11 && telegram[0] == SyncLong &&
                         (telegram[3] & 0x0F) == RequestFunctionBits;
    if (!request)
        return QCoreApplication::translate("qtr290::PendingQueue", "TLG → %1").arg(to);
    const auto areaCode = static_cast<std::uint8_t>(telegram[3] & 0x70);
    const std::string_view name = MemoryAreaName(areaCode);
    const QString areaName =
        !name.empty()
            ? QString::fromLatin1(name.data(), qsizetype(name.size()))
            : QCoreApplication::translate("qtr290::PendingQueue", "oblast %1").arg(Hex2(areaCode));
    const unsigned address = telegram[7] | (telegram[8] << 8) | (telegram[9] << 16);
    return QStringLiteral("%1 %2 0x%3 ×%4 → %5")
        .arg((telegram[3] & WriteFlag)
                 ? QCoreApplication::translate("qtr290::PendingQueue", "Zápis")
                 : QCoreApplication::translate("qtr290::PendingQueue", "Čtení"),
             areaName, QStringLiteral("%1").arg(address, 6, 16, QLatin1Char('0')).toUpper())
        .arg(telegram[6])
        .arg(to);
}

QString ShortHex(ByteSpan telegram, std::size_t maxBytes)
{
    const std::size_t shown = std::min(telegram.size(), maxBytes);
    QString text = QString::fromLatin1(ChunkText(telegram.first(shown))).trimmed();
    if (shown < telegram.size())
        text += QStringLiteral(" …");
    return text;
}

QString PendingText(const PendingQueue::Item& item)
{
    const QString sends =
        item.sends == 0
            ? QCoreApplication::translate("qtr290::PendingQueue", "neodesláno")
            : QCoreApplication::translate("qtr290::PendingQueue", "odesláno %1×, naposledy %2")
                  .arg(item.sends)
                  .arg(TimeText(item.lastSent));
    return DescribeRequest(item.telegram) + QLatin1Char('\n') + sends + QLatin1Char('\n') +
           ShortHex(item.telegram, PendingHexBytes);
}

QString DepartureText(const PendingQueue::Departure& departure)
{
    QString why;
    switch (departure.why) {
    case LinkObserver::Removal::Reply:
        why = departure.item.sends == 0
                  ? QCoreApplication::translate("qtr290::PendingQueue",
                                                "odebrán dřív, než byl odeslán")
                  : QCoreApplication::translate("qtr290::PendingQueue",
                                                "odebrán odpovědí po %1 ms (odesláno %2×)")
                        .arg(departure.replyMs())
                        .arg(departure.item.sends);
        break;
    case LinkObserver::Removal::OnceOnly:
        why = QCoreApplication::translate("qtr290::PendingQueue", "odeslán jen jednou a odebrán");
        break;
    case LinkObserver::Removal::Cleared:
        why = QCoreApplication::translate("qtr290::PendingQueue", "vymazán (Vymaž buffer/START)");
        break;
    }
    return TimeText(departure.when) + QLatin1Char(' ') + DescribeRequest(departure.item.telegram) +
           QLatin1Char('\n') + why;
}

} // namespace qtr290
