#include "console/trafficdisplay.h"

#include "link/hextext.h"

#include "widgets/linememo.h"

#include <QString>

#include <algorithm>

namespace qtr290 {

namespace {

QString Latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// Upper case, as the display compares it: only a to z are folded, so that no Unicode case
// mapping may turn some other character into a hex digit.
char16_t AsciiUpper(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool MatchesFilter(std::uint8_t value, QStringView filterText)
{
    const std::string hex = HexByte(value);
    if (filterText.size() != static_cast<qsizetype>(hex.size()))
        return false;
    for (qsizetype i = 0; i < filterText.size(); ++i) {
        if (AsciiUpper(filterText[i].unicode()) != static_cast<char16_t>(hex[i]))
            return false;
    }
    return true;
}

} // namespace

bool ZobrazitTLG(std::uint8_t to, std::uint8_t from, bool isPoll, const DisplayFilter& filter)
{
    if (!filter.showReceived)
        return false;
    if (filter.filterOn) {
        if (!MatchesFilter(from, filter.filterFrom))
            return false;
        if (!MatchesFilter(to, filter.filterTo))
            return false;
    }
    if (filter.hidePolls && isPoll)
        return false;
    return true;
}

std::string EntryStamps::Time(const QDateTime& chunk)
{
    if (FTimeText.empty() || chunk != FTimeOf) {
        FTimeOf = chunk;
        FTimeText = chunk.time().toString(QStringLiteral("hh:mm:ss.zzz ")).toStdString();
    }
    return FTimeText;
}

std::string EntryStamps::Received(const QDateTime& chunk)
{
    std::string stamp = Time(chunk);
    // A clock set back gives no negative gap.
    if (FPreviousReceived)
        stamp +=
            '+' + std::to_string(std::max<qint64>(0, FPreviousReceived->msecsTo(chunk))) + " ms ";
    FPreviousReceived = chunk;
    return stamp;
}

namespace {

// "XX " per byte: one memo line.
QString HexLine(ByteSpan bytes)
{
    QString line(qsizetype(bytes.size() * 3), Qt::Uninitialized);
    WriteHexBytes(reinterpret_cast<char16_t*>(line.data()), bytes);
    return line;
}

// The lines of an entry, its time stamp in front of the first.
std::vector<QString> EntryLines(ByteSpan bytes, int bytesPerLine, std::string_view prefix)
{
    std::vector<QString> lines;
    ForEachTelegramLine(bytes, bytesPerLine,
                        [&lines](ByteSpan line) { lines.push_back(HexLine(line)); });
    if (!prefix.empty())
        lines.front().prepend(Latin1(prefix));
    return lines;
}

} // namespace

void ShowTelegram(LineMemo* memo, ByteSpan bytes, const MemoLayout& layout, std::string_view prefix)
{
    if (memo->LineCount() > MemoLineLimit)
        memo->Clear();
    const std::vector<QString> lines = EntryLines(bytes, layout.bytesPerLine, prefix);
    if (layout.newestOnTop) {
        memo->InsertAtTop(lines);
        memo->ScrollToTop();
    } else {
        memo->Append(lines);
    }
}

void ShowErrorLine(LineMemo* memo, std::string_view line, bool newestOnTop, std::string_view prefix)
{
    const QString text = Latin1(prefix) + Latin1(line);
    const std::span<const QString> lines(&text, 1);
    if (newestOnTop)
        memo->InsertAtTop(lines);
    else
        memo->Append(lines);
    if (memo->LineCount() > ErrorLineLimit) {
        if (newestOnTop)
            memo->RemoveLast(1);
        else
            memo->RemoveFirst(1);
    }
}

void ChunkEntries::LayOut(LineMemo* received, LineMemo* sent, const MemoLayout& layout) const
{
    const LineMemo::Batch receivedBatch(received);
    const LineMemo::Batch sentBatch(sent);
    for (const Entry& entry : FEntries) {
        if (entry.kind == Kind::ErrorLine)
            ShowErrorLine(received, entry.line, layout.newestOnTop, entry.prefix);
        else
            ShowTelegram(entry.kind == Kind::Received ? received : sent, entry.bytes, layout,
                         entry.prefix);
    }
}

} // namespace qtr290
