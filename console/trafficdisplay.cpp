#include "trafficdisplay.h"

#include "HexText.h"

#include <QPlainTextEdit>
#include <QString>
#include <QTextCursor>
#include <QTextDocument>

namespace qtr290 {

namespace {

// Only a to z are folded, as the original's UpperCase did: no Unicode case mapping
// may turn some other character into a hex digit.
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

// Inserts the text as one or more paragraphs before the first one.
void InsertAtTop(QPlainTextEdit* memo, const QString& text)
{
    QTextCursor cursor(memo->document());
    const bool empty = memo->document()->isEmpty();
    cursor.insertText(text);
    if (!empty)
        cursor.insertBlock();
}

// Appends the text as one or more paragraphs after the last one.
void AppendAtBottom(QPlainTextEdit* memo, const QString& text)
{
    QTextCursor cursor(memo->document());
    cursor.movePosition(QTextCursor::End);
    if (!memo->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text);
}

// Removes the first or the last paragraph with its break.
void RemoveEdgeParagraph(QPlainTextEdit* memo, bool last)
{
    QTextCursor cursor(memo->document());
    if (last) {
        cursor.movePosition(QTextCursor::End);
        cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
    } else {
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
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

void ShowTelegram(QPlainTextEdit* memo, ByteSpan bytes, const MemoLayout& layout)
{
    if (memo->blockCount() > MemoLineLimit)
        memo->clear();
    const QString text = QString::fromLatin1(TelegramText(bytes, layout.bytesPerLine));
    if (layout.newestOnTop) {
        InsertAtTop(memo, text);
        memo->setTextCursor(QTextCursor(memo->document()));
        memo->ensureCursorVisible();
    } else {
        AppendAtBottom(memo, text);
    }
}

void ShowErrorLine(QPlainTextEdit* memo, std::string_view line, bool newestOnTop)
{
    const QString text = QString::fromLatin1(line.data(), qsizetype(line.size()));
    if (newestOnTop)
        InsertAtTop(memo, text);
    else
        AppendAtBottom(memo, text);
    if (memo->blockCount() > ErrorLineLimit)
        RemoveEdgeParagraph(memo, newestOnTop);
}

void ChunkEntries::LayOut(QPlainTextEdit* received, QPlainTextEdit* sent,
                          const MemoLayout& layout) const
{
    for (const Entry& entry : FEntries) {
        switch (entry.kind) {
        case Kind::Received:
            ShowTelegram(received, entry.bytes, layout);
            break;
        case Kind::ErrorLine:
            ShowErrorLine(received, entry.line, layout.newestOnTop);
            break;
        case Kind::Sent:
            ShowTelegram(sent, entry.bytes, layout);
            break;
        }
    }
}

} // namespace qtr290
