#include "trafficdisplay.h"

#include "hextext.h"

#include <QPlainTextEdit>
#include <QString>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <deque>

namespace qtr290 {

namespace {

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

void ShowTelegram(QPlainTextEdit* memo, ByteSpan bytes, const MemoLayout& layout,
                  std::string_view prefix)
{
    if (memo->blockCount() > MemoLineLimit)
        memo->clear();
    const QString text = QString::fromLatin1(prefix.data(), qsizetype(prefix.size())) +
                         QString::fromLatin1(TelegramText(bytes, layout.bytesPerLine));
    if (layout.newestOnTop) {
        InsertAtTop(memo, text);
        memo->setTextCursor(QTextCursor(memo->document()));
        memo->ensureCursorVisible();
    } else {
        AppendAtBottom(memo, text);
    }
}

void ShowErrorLine(QPlainTextEdit* memo, std::string_view line, bool newestOnTop,
                   std::string_view prefix)
{
    const QString text = QString::fromLatin1(prefix.data(), qsizetype(prefix.size())) +
                         QString::fromLatin1(line.data(), qsizetype(line.size()));
    if (newestOnTop)
        InsertAtTop(memo, text);
    else
        AppendAtBottom(memo, text);
    if (memo->blockCount() > ErrorLineLimit)
        RemoveEdgeParagraph(memo, newestOnTop);
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

// The lines a telegram's text makes in a memo: a new line after every bytesPerLine bytes, so
// bytes that fill their last line leave an empty line after it.
void AppendTelegramLines(std::vector<QString>& lines, ByteSpan bytes, int bytesPerLine)
{
    if (bytesPerLine <= 0) {
        lines.push_back(HexLine(bytes));
        return;
    }
    const auto perLine = static_cast<std::size_t>(bytesPerLine);
    for (std::size_t at = 0;; at += perLine) {
        const std::size_t count = std::min(perLine, bytes.size() - at);
        lines.push_back(HexLine(bytes.subspan(at, count)));
        if (count < perLine)
            break;
    }
}

// One memo's entries of a chunk, laid out in one edit. The memo's rules are followed entry by
// entry on a model of the document (its line count, the lines added and how many of its old
// lines are left), and only the result touches the document.
class MemoBatch {
public:
    MemoBatch(QPlainTextEdit* memo, bool newestOnTop)
        : FMemo(memo), FTop(newestOnTop), FLineCount(memo->blockCount()),
          FEmpty(memo->document()->isEmpty()), FOldCount(FLineCount), FOldKept(FLineCount)
    {
    }

    void Add(const std::vector<QString>& lines, bool telegram)
    {
        if (telegram && FLineCount > MemoLineLimit) {
            FCleared = true;
            FFresh.clear();
            FOldKept = 0;
            FLineCount = 1;
            FEmpty = true;
        }
        const int added = int(lines.size());
        if (FEmpty) {
            // The text takes the place of the empty document's one empty line.
            FOldKept = 0;
            FLineCount = added;
        } else {
            FLineCount += added;
        }
        FEmpty = false;
        if (FTop)
            FFresh.insert(FFresh.begin(), lines.begin(), lines.end());
        else
            FFresh.insert(FFresh.end(), lines.begin(), lines.end());
        if (telegram) {
            FTelegramShown = true;
            FLinesAfterTelegram = 0;
        } else {
            FLinesAfterTelegram += added;
            if (FLineCount > ErrorLineLimit)
                DropOldestLine();
        }
    }

    void Apply()
    {
        if (FFresh.empty() && !FCleared && FOldKept == FOldCount)
            return;
        if (FCleared)
            FMemo->clear();
        QTextCursor cursor(FMemo->document());
        cursor.beginEditBlock();
        if (!FCleared)
            DropOldLines(cursor);
        if (FTop) {
            // Lines added after the chunk's last telegram lie above it, and the caret, put at
            // the start for that telegram, moved down with them.
            const auto split = FTelegramShown ? FFresh.begin() + FLinesAfterTelegram : FFresh.end();
            if (FTelegramShown)
                InsertAboveCaretAtTop(cursor, split, FFresh.end());
            else
                InsertLinesAtTop(cursor, split, FFresh.end());
            cursor.endEditBlock();
            if (split != FFresh.begin()) {
                QTextCursor top(FMemo->document());
                top.beginEditBlock();
                InsertLinesAtTop(top, FFresh.begin(), split);
                top.endEditBlock();
            }
        } else {
            cursor.movePosition(QTextCursor::End);
            if (!FMemo->document()->isEmpty() && !FFresh.empty())
                cursor.insertBlock();
            cursor.insertText(Joined(FFresh.begin(), FFresh.end()));
            cursor.endEditBlock();
        }
    }

private:
    // Lines go in at the front (newest on top) or the back: a deque takes either at once.
    using Lines = std::deque<QString>;

    // Inserts the lines at the top with the caret at the very start and the memo scrolled to
    // it, as after showing a telegram. Text inserted where the caret stands pushes it down,
    // and putting it back makes the memo find where it was, laying out every line between:
    // so only the first character goes in ahead of the caret, which then goes back over it,
    // and the rest goes in behind the caret.
    void InsertAboveCaretAtTop(QTextCursor& cursor, Lines::const_iterator from,
                               Lines::const_iterator to) const
    {
        const QString text = Joined(from, to);
        const bool empty = FMemo->document()->isEmpty();
        cursor.setPosition(0);
        cursor.insertText(text.left(1));
        cursor.endEditBlock();
        FMemo->setTextCursor(QTextCursor(FMemo->document()));
        FMemo->ensureCursorVisible();
        cursor.beginEditBlock();
        cursor.setPosition(1);
        cursor.insertText(text.mid(1));
        if (!empty)
            cursor.insertBlock();
    }

    void DropOldestLine()
    {
        --FLineCount;
        if (FOldKept > 0)
            --FOldKept;
        else if (FTop)
            FFresh.pop_back();
        else
            FFresh.pop_front();
    }

    // The old lines the error-line cap took: at the far end from where lines go in.
    void DropOldLines(QTextCursor& cursor) const
    {
        const int dropped = FOldCount - FOldKept;
        if (dropped <= 0)
            return;
        QTextDocument* document = FMemo->document();
        if (FOldKept == 0) {
            cursor.select(QTextCursor::Document);
        } else if (FTop) {
            const QTextBlock lastKept = document->findBlockByNumber(FOldKept - 1);
            cursor.setPosition(lastKept.position() + lastKept.length() - 1);
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        } else {
            cursor.setPosition(0);
            cursor.setPosition(document->findBlockByNumber(dropped).position(),
                               QTextCursor::KeepAnchor);
        }
        cursor.removeSelectedText();
    }

    void InsertLinesAtTop(QTextCursor& cursor, Lines::const_iterator from,
                          Lines::const_iterator to) const
    {
        if (from == to)
            return;
        const bool empty = FMemo->document()->isEmpty();
        cursor.setPosition(0);
        cursor.insertText(Joined(from, to));
        if (!empty)
            cursor.insertBlock();
    }

    static QString Joined(Lines::const_iterator from, Lines::const_iterator to)
    {
        qsizetype length = 0;
        for (auto line = from; line != to; ++line)
            length += line->size() + 1;
        QString text;
        text.reserve(length);
        for (auto line = from; line != to; ++line) {
            if (line != from)
                text += QLatin1Char('\n');
            text += *line;
        }
        return text;
    }

    QPlainTextEdit* FMemo;
    bool FTop;
    int FLineCount; // lines the memo holds by now
    bool FEmpty;    // the memo holds no text by now
    int FOldCount;  // lines it held before the chunk
    int FOldKept;   // of those, the lines still there
    bool FCleared = false;
    Lines FFresh; // the lines added and still there, in document order
    bool FTelegramShown = false;
    int FLinesAfterTelegram = 0; // lines added after the last telegram (error lines)
};

} // namespace

void ChunkEntries::LayOut(QPlainTextEdit* received, QPlainTextEdit* sent,
                          const MemoLayout& layout) const
{
    MemoBatch receivedBatch(received, layout.newestOnTop);
    MemoBatch sentBatch(sent, layout.newestOnTop);
    std::vector<QString> lines;
    for (const Entry& entry : FEntries) {
        lines.clear();
        if (entry.kind == Kind::ErrorLine) {
            lines.push_back(QString::fromLatin1(entry.line.data(), qsizetype(entry.line.size())));
        } else {
            AppendTelegramLines(lines, entry.bytes, layout.bytesPerLine);
        }
        if (!entry.prefix.empty())
            lines.front().prepend(
                QString::fromLatin1(entry.prefix.data(), qsizetype(entry.prefix.size())));
        if (entry.kind == Kind::ErrorLine)
            receivedBatch.Add(lines, false);
        else
            (entry.kind == Kind::Received ? receivedBatch : sentBatch).Add(lines, true);
    }
    receivedBatch.Apply();
    sentBatch.Apply();
}

} // namespace qtr290
