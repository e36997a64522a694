// A read-only memo of text lines that draws only the lines in sight. A busy bus adds some forty
// lines a tick; a rich-text document would lay out and track every one of them, here a line is
// a string in a deque and the number of rows it takes. A line longer than the memo is wide
// wraps at its blanks (anywhere when a word is longer than a row); a row holds as many
// characters as the widest of those the memos show fits, whether or not the font declares
// itself fixed-pitch.
#pragma once

#include <QAbstractScrollArea>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <deque>
#include <span>
#include <utility>

namespace qtr290 {

class LineMemo : public QAbstractScrollArea {
    Q_OBJECT

public:
    // Blank pixels between the frame and the text, on every side.
    static constexpr int Margin = 4;

    explicit LineMemo(QWidget* parent = nullptr);

    // Lines top to bottom. An empty memo holds no line but still counts one, as an empty
    // text has one (empty) line: the 1000-line rule counts that way.
    int LineCount() const { return FLines.empty() ? 1 : int(FLines.size()); }
    bool IsEmpty() const { return FLines.empty(); }
    const QString& Line(int index) const { return FLines[std::size_t(index)].text; }
    QStringList Lines() const;
    QString Text() const; // the lines joined by '\n'

    void Clear();
    void SetText(const QString& text); // split at '\n'
    void InsertAtTop(std::span<const QString> lines);
    void Append(std::span<const QString> lines);
    void RemoveFirst(int count);
    void RemoveLast(int count);
    // The first line in view, the selection dropped (as after a telegram on top).
    void ScrollToTop();

    // Selection, in (line, column) pairs; the mouse, Ctrl+A and the context menu make one.
    bool HasSelection() const { return FAnchor != FCaret; }
    QString SelectedText() const;
    void SelectAll();
    void CopySelection() const;

    // Offsets into Text(), which counts the '\n' between lines: what assistive technology
    // speaks in. Offsets out of range are clamped.
    int CharacterCount() const;
    int CaretOffset() const;
    std::pair<int, int> SelectionOffsets() const; // start <= end; equal without a selection
    void SetSelectionOffsets(int anchor, int caret);
    QRectF CharacterRect(int offset) const; // in the viewport; empty when out of view
    int OffsetAt(QPoint viewportPoint) const;
    void ScrollToOffset(int offset); // the row holding it into view

    // Rows fully in view at the current height; characters a row holds at the current width.
    // The vertical scroll bar counts rows.
    int RowsInView() const;
    int Columns() const { return FColumns; }
    int RowCount() const { return FRowCount; }
    // Pixels from one row to the next, as a text layout of the font spaces its lines; the
    // width of a column, that of the widest character the memos show.
    int RowHeight() const { return FRowHeight; }
    qreal ColumnWidth() const { return FCharWidth; }

    // Changes made while one lives set the scroll bars and ask for a paint once, at its end.
    class Batch {
    public:
        explicit Batch(LineMemo* memo) : FMemo(memo) { ++FMemo->FBatchDepth; }
        ~Batch()
        {
            if (--FMemo->FBatchDepth == 0)
                FMemo->EndBatch();
        }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        LineMemo* FMemo;
    };

signals:
    // Lines [first, first + count) were added, numbered top to bottom after the change.
    void LinesAdded(int first, int count);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct MemoLine {
        QString text;
        int rows;
    };
    struct Place {
        int line = 0;
        int column = 0;
        auto operator<=>(const Place&) const = default;
    };

    MemoLine Measured(const QString& text) const;
    int RowEnd(const QString& text, int start) const; // where the row from `start` ends
    struct RowAt {
        int line;
        int row; // within the line
    };
    RowAt FirstInView() const; // where the top row lies
    int TopOffset() const;     // where the top row begins in the viewport
    void Added(int first, int count);
    void Removed(int first, int count);
    void UpdateRanges();
    void UpdateMetrics();
    void UpdateLines(int first, int count); // repaints those lines if they are in view
    void Repaint(const QRect& rect);
    void EndBatch();
    Place PlaceAt(QPoint point) const;
    Place Clamped(Place place) const;
    int OffsetOf(Place place) const;
    Place PlaceOf(int offset) const;
    int RowOf(Place place) const; // counted from the first line's first row
    int ColumnAt(const QString& row, qreal x) const;
    // Assistive technology told of a change, only while one listens.
    void TellInserted(int offset, std::span<const QString> lines, bool newlineBefore,
                      bool newlineAfter) const;
    void TellRemoved(int firstLine, int count) const;
    void TellSelection() const;

    std::deque<MemoLine> FLines;
    int FRowCount = 0; // the rows of all lines
    int FRowHeight = 1;
    qreal FBaseline = 0; // from a row's top
    qreal FCharWidth = 1;
    int FColumns = 1;
    Place FAnchor;
    Place FCaret;
    bool FSelecting = false;
    int FBatchDepth = 0;
    bool FRangesStale = false;
    QRect FPendingRepaint;
};

} // namespace qtr290
