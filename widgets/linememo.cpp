#include "widgets/linememo.h"

#include "widgets/linememoaccessible.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace qtr290 {

LineMemo::LineMemo(QWidget* parent) : QAbstractScrollArea(parent)
{
    InstallLineMemoAccessibility();
    viewport()->setCursor(Qt::IBeamCursor);
    setFocusPolicy(Qt::StrongFocus);
    // Long lines wrap: there is nothing to scroll sideways.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    UpdateMetrics();
    UpdateRanges();
}

QStringList LineMemo::Lines() const
{
    QStringList lines;
    lines.reserve(qsizetype(FLines.size()));
    for (const MemoLine& line : FLines)
        lines << line.text;
    return lines;
}

QString LineMemo::Text() const
{
    return Lines().join(QLatin1Char('\n'));
}

void LineMemo::Clear()
{
    TellRemoved(0, int(FLines.size()));
    FLines.clear();
    FRowCount = 0;
    FAnchor = FCaret = Place{};
    UpdateRanges();
    verticalScrollBar()->setValue(0);
    Repaint(viewport()->rect());
}

void LineMemo::SetText(const QString& text)
{
    Clear();
    const QStringList lines = text.split(QLatin1Char('\n'));
    Append(std::span<const QString>(lines.data(), std::size_t(lines.size())));
}

void LineMemo::InsertAtTop(std::span<const QString> lines)
{
    const bool wasEmpty = FLines.empty();
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        FLines.push_front(Measured(*line));
        FRowCount += FLines.front().rows;
    }
    Added(0, int(lines.size()));
    if (!FLines.empty())
        TellInserted(0, lines, false, !wasEmpty);
    // Every line in view moved down.
    Repaint(viewport()->rect());
}

void LineMemo::Append(std::span<const QString> lines)
{
    const int first = int(FLines.size());
    const int offset = ReaderListens() ? CharacterCount() : 0;
    for (const QString& line : lines) {
        FLines.push_back(Measured(line));
        FRowCount += FLines.back().rows;
    }
    Added(first, int(lines.size()));
    if (!FLines.empty())
        TellInserted(offset, lines, first > 0, false);
    UpdateLines(first, int(lines.size()));
}

void LineMemo::RemoveFirst(int count)
{
    count = std::min(count, int(FLines.size()));
    if (count <= 0)
        return;
    TellRemoved(0, count);
    for (int i = 0; i < count; ++i) {
        FRowCount -= FLines.front().rows;
        FLines.pop_front();
    }
    Removed(0, count);
    Repaint(viewport()->rect());
}

void LineMemo::RemoveLast(int count)
{
    count = std::min(count, int(FLines.size()));
    if (count <= 0)
        return;
    const int first = int(FLines.size()) - count;
    TellRemoved(first, count);
    UpdateLines(first, count);
    for (int i = 0; i < count; ++i) {
        FRowCount -= FLines.back().rows;
        FLines.pop_back();
    }
    Removed(first, count);
}

void LineMemo::ScrollToTop()
{
    const bool moved = FAnchor != Place{} || FCaret != Place{};
    if (HasSelection())
        Repaint(viewport()->rect());
    FAnchor = FCaret = Place{};
    if (moved)
        TellSelection();
    verticalScrollBar()->setValue(0);
}

QString LineMemo::SelectedText() const
{
    const auto [from, to] = std::minmax(FAnchor, FCaret);
    if (from == to || FLines.empty())
        return {};
    if (from.line == to.line)
        return Line(from.line).mid(from.column, to.column - from.column);
    QStringList parts{Line(from.line).mid(from.column)};
    for (int line = from.line + 1; line < to.line; ++line)
        parts << Line(line);
    parts << Line(to.line).left(to.column);
    return parts.join(QLatin1Char('\n'));
}

void LineMemo::SelectAll()
{
    if (FLines.empty())
        return;
    FAnchor = Place{};
    FCaret = Place{int(FLines.size()) - 1, int(Line(int(FLines.size()) - 1).size())};
    Repaint(viewport()->rect());
    TellSelection();
}

void LineMemo::CopySelection() const
{
    if (HasSelection())
        QGuiApplication::clipboard()->setText(SelectedText());
}

int LineMemo::CharacterCount() const
{
    if (FLines.empty())
        return 0;
    int count = int(FLines.size()) - 1;
    for (const MemoLine& line : FLines)
        count += int(line.text.size());
    return count;
}

int LineMemo::OffsetOf(Place place) const
{
    int offset = 0;
    for (int line = 0; line < place.line; ++line)
        offset += int(Line(line).size()) + 1;
    return offset + place.column;
}

LineMemo::Place LineMemo::PlaceOf(int offset) const
{
    offset = std::max(0, offset);
    for (int line = 0; line < int(FLines.size()); ++line) {
        const int length = int(Line(line).size());
        if (offset <= length)
            return {line, offset};
        offset -= length + 1;
    }
    return Clamped({int(FLines.size()), 0});
}

int LineMemo::CaretOffset() const
{
    return OffsetOf(FCaret);
}

std::pair<int, int> LineMemo::SelectionOffsets() const
{
    const auto [from, to] = std::minmax(FAnchor, FCaret);
    return {OffsetOf(from), OffsetOf(to)};
}

void LineMemo::SetSelectionOffsets(int anchor, int caret)
{
    FAnchor = PlaceOf(anchor);
    FCaret = PlaceOf(caret);
    Repaint(viewport()->rect());
    TellSelection();
}

int LineMemo::RowOf(Place place) const
{
    int row = 0;
    for (int line = 0; line < place.line; ++line)
        row += FLines[std::size_t(line)].rows;
    if (place.line >= int(FLines.size()))
        return row;
    const QString& text = Line(place.line);
    for (int end = RowEnd(text, 0); end < text.size() && end <= place.column;
         end = RowEnd(text, end))
        ++row;
    return row;
}

int LineMemo::ColumnAt(const QString& row, qreal x) const
{
    // The boundary between characters nearest to x.
    const QFontMetricsF metrics(font());
    qreal left = 0;
    for (int column = 0; column < row.size(); ++column) {
        const qreal width = metrics.horizontalAdvance(row[column]);
        if (x < left + width / 2)
            return column;
        left += width;
    }
    return int(row.size()) + std::max(0, int(std::lround((x - left) / FCharWidth)));
}

QRectF LineMemo::CharacterRect(int offset) const
{
    if (FLines.empty())
        return {};
    const Place place = PlaceOf(offset);
    const int row = RowOf(place) - verticalScrollBar()->value();
    if (row < 0 || row > RowsInView())
        return {};
    const QString& text = Line(place.line);
    int start = 0;
    while (RowEnd(text, start) < text.size() && RowEnd(text, start) <= place.column)
        start = RowEnd(text, start);
    const QFontMetricsF metrics(font());
    const qreal left = Margin + metrics.horizontalAdvance(text.mid(start, place.column - start));
    const qreal width =
        place.column < text.size() ? metrics.horizontalAdvance(text[place.column]) : FCharWidth;
    return QRectF(left, TopOffset() + row * FRowHeight, width, FRowHeight);
}

int LineMemo::OffsetAt(QPoint viewportPoint) const
{
    return OffsetOf(PlaceAt(viewportPoint));
}

void LineMemo::ScrollToOffset(int offset)
{
    const int row = RowOf(PlaceOf(offset));
    QScrollBar* vertical = verticalScrollBar();
    if (row < vertical->value())
        vertical->setValue(row);
    else if (row >= vertical->value() + RowsInView())
        vertical->setValue(row - std::max(1, RowsInView()) + 1);
}

void LineMemo::TellInserted(int offset, std::span<const QString> lines, bool newlineBefore,
                            bool newlineAfter) const
{
    if (!ReaderListens())
        return;
    QString text;
    if (newlineBefore)
        text += QLatin1Char('\n');
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += QLatin1Char('\n');
        text += lines[i];
    }
    if (newlineAfter)
        text += QLatin1Char('\n');
    QAccessibleTextInsertEvent event(const_cast<LineMemo*>(this), offset, text);
    TellReader(&event);
}

void LineMemo::TellRemoved(int firstLine, int count) const
{
    if (!ReaderListens() || count <= 0)
        return;
    const int last = firstLine + count - 1;
    // The '\n' that joined the removed lines to the rest goes with them: the one before them,
    // or after them when they are the first.
    QString text;
    if (firstLine > 0)
        text += QLatin1Char('\n');
    for (int line = firstLine; line <= last; ++line) {
        if (line > firstLine)
            text += QLatin1Char('\n');
        text += Line(line);
    }
    if (firstLine == 0 && last + 1 < int(FLines.size()))
        text += QLatin1Char('\n');
    const int start =
        firstLine > 0 ? OffsetOf(Place{firstLine - 1, int(Line(firstLine - 1).size())}) : 0;
    QAccessibleTextRemoveEvent event(const_cast<LineMemo*>(this), start, text);
    TellReader(&event);
}

void LineMemo::TellSelection() const
{
    if (!ReaderListens())
        return;
    const auto [start, end] = SelectionOffsets();
    QAccessibleTextSelectionEvent event(const_cast<LineMemo*>(this), start, end);
    event.setCursorPosition(CaretOffset());
    TellReader(&event);
}

int LineMemo::TopOffset() const
{
    // The blank above the first line scrolls away with it.
    return verticalScrollBar()->value() == 0 ? Margin : 0;
}

int LineMemo::RowsInView() const
{
    // The blank below the last line counts as the one above the first does, so a memo of a
    // given height holds the rows a rich text view of that height holds.
    return std::max(0, (viewport()->height() - 2 * Margin - 1) / FRowHeight);
}

int LineMemo::RowEnd(const QString& text, int start) const
{
    const int length = int(text.size());
    // Blanks at the end of a row may run past the edge.
    int used = length;
    while (used > start && text[used - 1] == QLatin1Char(' '))
        --used;
    if (used - start <= FColumns)
        return length;
    for (int at = start + FColumns; at > start; --at) {
        if (text[at] != QLatin1Char(' '))
            continue;
        while (at < length && text[at] == QLatin1Char(' '))
            ++at;
        return at;
    }
    return start + FColumns;
}

LineMemo::MemoLine LineMemo::Measured(const QString& text) const
{
    int rows = 1;
    for (int start = RowEnd(text, 0); start < text.size(); start = RowEnd(text, start))
        ++rows;
    return {text, rows};
}

LineMemo::RowAt LineMemo::FirstInView() const
{
    const int top = verticalScrollBar()->value();
    if (FRowCount == int(FLines.size())) // nothing wraps
        return {top, 0};
    int row = 0;
    for (int line = 0; line < int(FLines.size()); ++line) {
        if (row + FLines[std::size_t(line)].rows > top)
            return {line, top - row};
        row += FLines[std::size_t(line)].rows;
    }
    return {int(FLines.size()), 0};
}

void LineMemo::Added(int first, int count)
{
    if (count <= 0)
        return;
    // A lone empty line is no text: the memo stays empty, as an empty text does.
    if (FLines.size() == 1 && FLines.front().text.isEmpty()) {
        FLines.clear();
        FRowCount = 0;
        UpdateRanges();
        return;
    }
    if (FLines.size() == std::size_t(count))
        FAnchor = FCaret = Place{};
    for (Place* place : {&FAnchor, &FCaret}) {
        if (place->line >= first && FLines.size() != std::size_t(count))
            place->line += count;
    }
    UpdateRanges();
    emit LinesAdded(first, count);
}

void LineMemo::Removed(int first, int count)
{
    for (Place* place : {&FAnchor, &FCaret}) {
        if (place->line >= first + count)
            place->line -= count;
        else if (place->line >= first)
            *place = Place{first, 0};
        *place = Clamped(*place);
    }
    UpdateRanges();
}

LineMemo::Place LineMemo::Clamped(Place place) const
{
    if (FLines.empty())
        return {};
    if (place.line >= int(FLines.size()))
        return {int(FLines.size()) - 1, int(Line(int(FLines.size()) - 1).size())};
    place.line = std::max(0, place.line);
    place.column = std::clamp(place.column, 0, int(Line(place.line).size()));
    return place;
}

void LineMemo::UpdateRanges()
{
    // Setting a range makes the scroll bar ask its style where the handle goes: once a batch.
    FRangesStale = FBatchDepth > 0;
    if (FRangesStale)
        return;
    const int rows = RowsInView();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setPageStep(std::max(1, rows));
    vertical->setSingleStep(1);
    vertical->setRange(0, std::max(0, FRowCount - rows));
}

void LineMemo::UpdateMetrics()
{
    const QFontMetricsF metrics(font());
    // A row is as tall as a text layout makes a line of this font, whatever the font says
    // of its own spacing.
    QTextLayout layout(QStringLiteral("0"), font());
    layout.beginLayout();
    QTextLine sample = layout.createLine();
    sample.setLeadingIncluded(true);
    layout.endLayout();
    const qreal leading = sample.leading();
    FRowHeight =
        std::max(1, int(std::ceil(sample.height())) + (leading < 0 ? int(std::ceil(leading)) : 0));
    FBaseline = std::max<qreal>(0, metrics.leading()) + metrics.ascent();
    // A column as wide as the widest character the memos show, whether or not the font calls
    // itself fixed-pitch.
    static const QString shown = QStringLiteral("0123456789ABCDEF :.+msVadneCRhlvickyt");
    FCharWidth = 1;
    for (const QChar character : shown)
        FCharWidth = std::max(FCharWidth, metrics.horizontalAdvance(character));
    const int columns = std::max(1, int((viewport()->width() - 2 * Margin) / FCharWidth));
    if (columns == FColumns)
        return;
    FColumns = columns;
    FRowCount = 0;
    for (MemoLine& line : FLines) {
        line.rows = Measured(line.text).rows;
        FRowCount += line.rows;
    }
}

void LineMemo::UpdateLines(int first, int count)
{
    const int top = verticalScrollBar()->value();
    // Without wraps a line is a row and only the rows that changed are painted.
    if (FRowCount != int(FLines.size())) {
        Repaint(viewport()->rect());
        return;
    }
    const int from = std::max(first, top);
    const int to = std::min(first + count, top + RowsInView() + 1);
    if (from >= to)
        return;
    Repaint(QRect(0, TopOffset() + (from - top) * FRowHeight, viewport()->width(),
                  (to - from) * FRowHeight));
}

void LineMemo::Repaint(const QRect& rect)
{
    if (FBatchDepth > 0)
        FPendingRepaint |= rect;
    else
        viewport()->update(rect);
}

void LineMemo::EndBatch()
{
    if (FRangesStale)
        UpdateRanges();
    if (!FPendingRepaint.isEmpty())
        viewport()->update(FPendingRepaint);
    FPendingRepaint = QRect();
}

LineMemo::Place LineMemo::PlaceAt(QPoint point) const
{
    if (FLines.empty())
        return {};
    int rows = int(std::floor(qreal(point.y() - TopOffset()) / FRowHeight));
    if (rows < 0 && verticalScrollBar()->value() == 0)
        return {};
    const RowAt top = FirstInView();
    int line = top.line;
    rows += top.row;
    while (rows < 0 && line > 0)
        rows += FLines[std::size_t(--line)].rows;
    while (line < int(FLines.size()) && rows >= FLines[std::size_t(line)].rows)
        rows -= FLines[std::size_t(line++)].rows;
    if (line >= int(FLines.size()))
        return Clamped({line, 0});
    const QString& text = Line(line);
    int start = 0;
    for (; rows > 0; --rows)
        start = RowEnd(text, start);
    const int end = RowEnd(text, start);
    const int column = start + ColumnAt(text.mid(start, end - start), point.x() - Margin);
    // A place past a wrapped row's end is that row's end, not the next row's start.
    return Clamped({line, std::clamp(column, start, end < text.size() ? end - 1 : end)});
}

void LineMemo::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    painter.setFont(font());
    const QRect area = event->rect();
    const int offset = TopOffset();
    const int firstRow = std::max(0, (area.top() - offset) / FRowHeight);
    const int lastRow = std::max(0, (area.bottom() - offset) / FRowHeight);
    const auto [from, to] = std::minmax(FAnchor, FCaret);
    const QPalette& colours = palette();
    const QColor text = colours.color(QPalette::Text);
    painter.setPen(text);
    RowAt at = FirstInView();
    for (int row = 0; row <= lastRow && at.line < int(FLines.size()); ++row) {
        const MemoLine& line = FLines[std::size_t(at.line)];
        const int index = at.line;
        int start = 0;
        for (int skip = 0; skip < at.row; ++skip)
            start = RowEnd(line.text, start);
        const int end = RowEnd(line.text, start);
        if (++at.row == line.rows)
            at = {at.line + 1, 0};
        if (row < firstRow)
            continue;
        const int y = offset + row * FRowHeight;
        const QPointF origin(Margin, y + FBaseline);
        const QString shown =
            start == 0 && end == line.text.size() ? line.text : line.text.mid(start, end - start);
        painter.drawText(origin, shown);
        if (from == to || index < from.line || index > to.line)
            continue;
        // The selected part drawn again over the highlight; a selection running on marks
        // the line's end with one character's width.
        const int selectedFrom = std::max(start, index == from.line ? from.column : 0);
        const int selectedTo = std::min(end, index == to.line ? to.column : int(line.text.size()));
        const bool runsOn = index < to.line && end == line.text.size();
        if (selectedTo < selectedFrom || (selectedTo == selectedFrom && !runsOn))
            continue;
        const QFontMetricsF metrics(font());
        const qreal left = Margin + metrics.horizontalAdvance(shown.left(selectedFrom - start));
        const qreal right = Margin + metrics.horizontalAdvance(shown.left(selectedTo - start)) +
                            (runsOn ? FCharWidth : 0);
        const QRectF selected(left, y, right - left, FRowHeight);
        painter.save();
        painter.fillRect(selected, colours.brush(QPalette::Highlight));
        painter.setClipRect(selected);
        painter.setPen(colours.color(QPalette::HighlightedText));
        painter.drawText(origin, shown);
        painter.restore();
    }
}

void LineMemo::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateMetrics();
    UpdateRanges();
}

void LineMemo::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        FColumns = 0; // measure every line anew
        UpdateMetrics();
        UpdateRanges();
        viewport()->update();
    }
}

void LineMemo::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    FCaret = PlaceAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier))
        FAnchor = FCaret;
    FSelecting = true;
    viewport()->update();
}

void LineMemo::mouseMoveEvent(QMouseEvent* event)
{
    if (!FSelecting)
        return;
    const QPoint point = event->position().toPoint();
    // Dragging past an edge scrolls a row at a time.
    QScrollBar* vertical = verticalScrollBar();
    if (point.y() < 0)
        vertical->setValue(vertical->value() - 1);
    else if (point.y() > viewport()->height())
        vertical->setValue(vertical->value() + 1);
    FCaret = PlaceAt(point);
    viewport()->update();
}

void LineMemo::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !FSelecting)
        return;
    FSelecting = false;
    TellSelection();
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (HasSelection() && clipboard->supportsSelection())
        clipboard->setText(SelectedText(), QClipboard::Selection);
}

void LineMemo::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || FLines.empty())
        return;
    // A word: the run of non-blank characters under the pointer, a hex byte say.
    const Place place = PlaceAt(event->position().toPoint());
    const QString& line = Line(place.line);
    int start = std::min(place.column, int(line.size()));
    int end = start;
    while (start > 0 && !line[start - 1].isSpace())
        --start;
    while (end < line.size() && !line[end].isSpace())
        ++end;
    FAnchor = {place.line, start};
    FCaret = {place.line, end};
    FSelecting = false;
    viewport()->update();
    TellSelection();
}

void LineMemo::keyPressEvent(QKeyEvent* event)
{
    if (event == QKeySequence::Copy) {
        CopySelection();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        SelectAll();
        return;
    }
    QScrollBar* vertical = verticalScrollBar();
    if (event == QKeySequence::MoveToStartOfDocument || event->key() == Qt::Key_Home) {
        vertical->setValue(vertical->minimum());
        return;
    }
    if (event == QKeySequence::MoveToEndOfDocument || event->key() == Qt::Key_End) {
        vertical->setValue(vertical->maximum());
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void LineMemo::contextMenuEvent(QContextMenuEvent* event)
{
    // The same entries, in the same words, as the toolkit's own text views offer.
    static const char* const context = "QWidgetTextControl";
    static const char* const copyText = "&Copy";
    static const char* const selectAllText = "Select All";
    QMenu menu(this);
    QAction* copy =
        menu.addAction(QCoreApplication::translate(context, copyText) + QLatin1Char('\t') +
                       QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText));
    copy->setEnabled(HasSelection());
    connect(copy, &QAction::triggered, this, &LineMemo::CopySelection);
    QAction* all =
        menu.addAction(QCoreApplication::translate(context, selectAllText) + QLatin1Char('\t') +
                       QKeySequence(QKeySequence::SelectAll).toString(QKeySequence::NativeText));
    all->setEnabled(!FLines.empty());
    connect(all, &QAction::triggered, this, &LineMemo::SelectAll);
    menu.exec(event->globalPos());
}

void LineMemo::scrollContentsBy(int, int)
{
    viewport()->update();
}

} // namespace qtr290
