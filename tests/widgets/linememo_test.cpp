// The memo wraps a long line into as many rows as a rich text view of the same size does, and
// the operator selects, copies and scrolls it with the mouse and the keys; a selection stays on
// its text while lines come in on top. A screen reader reads, selects and finds its text
// through the accessible interface, and hears of changes only while it listens.
#include "widgets/linememo.h"
#include "widgets/linememoaccessible.h"

#include <QAccessible>

#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

using namespace qtr290;

namespace {

QString HexLine(int bytes, const QString& prefix = {})
{
    QString line = prefix;
    for (int i = 0; i < bytes; ++i)
        line += QStringLiteral("%1 ").arg(i % 256, 2, 16, QLatin1Char('0')).toUpper();
    return line;
}

// The centre of a character's cell in the viewport.
QPoint CellAt(const LineMemo& memo, int row, int column)
{
    const QFontMetricsF metrics(memo.font());
    return QPoint(int(LineMemo::Margin + (column + 0.1) * metrics.horizontalAdvance(u'0')),
                  int(LineMemo::Margin + (row + 0.5) * metrics.lineSpacing()));
}

} // namespace

class LineMemoTest : public QObject {
    Q_OBJECT

private slots:
    void wrapsAsARichTextViewDoes_data();
    void wrapsAsARichTextViewDoes();
    void selectsCopiesAndKeepsTheSelectionOnItsText();
    void readsAndSelectsThroughTheAccessibleInterface_data();
    void readsAndSelectsThroughTheAccessibleInterface();
    void tellsAReaderWhatChanged();
};

void LineMemoTest::wrapsAsARichTextViewDoes_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("text");
    for (const int width : {260, 420, 761}) {
        const QByteArray at = QByteArray::number(width);
        QTest::addRow("%s px, 32 bytes", at.data()) << width << HexLine(32);
        QTest::addRow("%s px, 300 bytes", at.data()) << width << HexLine(300);
        QTest::addRow("%s px, stamped", at.data())
            << width << HexLine(40, QStringLiteral("09:05:03.042 +12 ms "));
        QTest::addRow("%s px, a word longer than a row", at.data())
            << width
            << QStringLiteral("AB ") + QString(150, QLatin1Char('C')) + QStringLiteral(" D");
        QTest::addRow("%s px, blanks", at.data()) << width << QString(200, QLatin1Char(' '));
        QTest::addRow("%s px, lines", at.data())
            << width
            << HexLine(7) + QLatin1Char('\n') + HexLine(90) + QStringLiteral("\n\nVadne CRC dat");
    }
}

void LineMemoTest::wrapsAsARichTextViewDoes()
{
    QFETCH(int, width);
    QFETCH(QString, text);
    QWidget window;
    auto* memo = new LineMemo(&window);
    auto* reference = new QPlainTextEdit(&window);
    auto* row = new QHBoxLayout(&window);
    for (QAbstractScrollArea* view :
         {static_cast<QAbstractScrollArea*>(memo), static_cast<QAbstractScrollArea*>(reference)}) {
        view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        view->setFixedSize(width, 200);
        row->addWidget(view);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* layout = qobject_cast<QPlainTextDocumentLayout*>(reference->document()->documentLayout());
    QVERIFY(layout);
    const auto rowsOf = [&](const QString& shown) {
        memo->SetText(shown);
        reference->setPlainText(shown);
        int rows = 0;
        for (QTextBlock block = reference->document()->begin(); block.isValid();
             block = block.next()) {
            layout->ensureBlockLayout(block);
            rows += block.layout()->lineCount();
        }
        return rows;
    };
    // Lines that fill a row exactly, and by one more character.
    for (const int more : {0, 1}) {
        const QString full(memo->Columns() + more, QLatin1Char('E'));
        QCOMPARE(memo->RowCount(), rowsOf(full));
        QCOMPARE(memo->RowCount(), 1 + more);
    }
    const int rows = rowsOf(text);
    QCOMPARE(memo->RowCount(), rows);
    QCOMPARE(memo->Text(), text);
    // Pixel for pixel the same, at the top and, where no line wraps, a row further down (the
    // view puts a wrapped line's later rows a pixel apart from where a new line would go).
    reference->setReadOnly(true);
    for (const int value : {0, 1}) {
        if (value > memo->verticalScrollBar()->maximum() ||
            (value > 0 && memo->RowCount() != memo->LineCount()))
            break;
        memo->verticalScrollBar()->setValue(value);
        reference->verticalScrollBar()->setValue(value);
        QCOMPARE(memo->viewport()->grab().toImage(), reference->viewport()->grab().toImage());
    }
    QCOMPARE(memo->verticalScrollBar()->maximum(), std::max(0, rows - memo->RowsInView()));
}

void LineMemoTest::selectsCopiesAndKeepsTheSelectionOnItsText()
{
    LineMemo memo;
    memo.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    memo.resize(600, 200);
    memo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&memo));
    memo.SetText(QStringLiteral("A6 01 02\nA6 03 04 05\nVadne CRC dat"));
    QWidget* viewport = memo.viewport();
    QClipboard* clipboard = QGuiApplication::clipboard();

    // A drag from the second byte of the first line to the middle of the second.
    QTest::mousePress(viewport, Qt::LeftButton, {}, CellAt(memo, 0, 3));
    QTest::mouseMove(viewport, CellAt(memo, 1, 5));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, CellAt(memo, 1, 5));
    QCOMPARE(memo.SelectedText(), QStringLiteral("01 02\nA6 03"));
    QTest::keyClick(&memo, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("01 02\nA6 03"));

    // Lines on top move the selection with its text; lines at the end leave it.
    const QString newer[] = {QStringLiteral("A6 F0"), QStringLiteral("A6 F1")};
    memo.InsertAtTop(newer);
    memo.Append(newer);
    QCOMPARE(memo.SelectedText(), QStringLiteral("01 02\nA6 03"));
    // The oldest lines going take what was selected on them.
    memo.RemoveLast(4);
    QCOMPARE(memo.SelectedText(), QStringLiteral("01 02"));

    // A double click takes one byte; Ctrl+A all, which the context menu's entry does too.
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, CellAt(memo, 2, 4));
    QCOMPARE(memo.SelectedText(), QStringLiteral("01"));
    QTest::keyClick(&memo, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(memo.SelectedText(), memo.Text());

    // A telegram on top scrolls there and drops the selection; End and Home scroll the rows.
    QStringList many;
    for (int i = 0; i < 100; ++i)
        many << HexLine(4);
    memo.Append(std::span<const QString>(many.data(), std::size_t(many.size())));
    QTest::keyClick(&memo, Qt::Key_End);
    QCOMPARE(memo.verticalScrollBar()->value(), memo.RowCount() - memo.RowsInView());
    memo.ScrollToTop();
    QCOMPARE(memo.verticalScrollBar()->value(), 0);
    QVERIFY(!memo.HasSelection());
    QTest::keyClick(&memo, Qt::Key_PageDown);
    QCOMPARE(memo.verticalScrollBar()->value(), memo.RowsInView());
}

void LineMemoTest::readsAndSelectsThroughTheAccessibleInterface_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("selected");
    // Text: "A6 01 02\nA6 03 04 05\n\nVadne CRC dat"
    QTest::newRow("within a line") << 3 << 8 << QStringLiteral("01 02");
    QTest::newRow("across lines") << 6 << 14 << QStringLiteral("02\nA6 03");
    QTest::newRow("over the empty line") << 20 << 27 << QStringLiteral("\n\nVadne");
    QTest::newRow("all") << 0 << 35 << QStringLiteral("A6 01 02\nA6 03 04 05\n\nVadne CRC dat");
    QTest::newRow("backwards") << 14 << 9 << QStringLiteral("A6 03");
    QTest::newRow("past the end") << 28 << 500 << QStringLiteral("CRC dat");
}

void LineMemoTest::readsAndSelectsThroughTheAccessibleInterface()
{
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QString, selected);
    LineMemo memo;
    memo.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    memo.setAccessibleName(QStringLiteral("Přijaté telegramy"));
    memo.setAccessibleDescription(QStringLiteral("Memo1"));
    memo.resize(600, 200);
    memo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&memo));
    memo.SetText(QStringLiteral("A6 01 02\nA6 03 04 05\n\nVadne CRC dat"));

    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(&memo);
    QVERIFY(reader);
    QCOMPARE(reader->role(), QAccessible::EditableText);
    QVERIFY(reader->state().readOnly && reader->state().multiLine && reader->state().focusable);
    QVERIFY(!reader->state().editable);
    QCOMPARE(reader->text(QAccessible::Name), QStringLiteral("Přijaté telegramy"));
    QCOMPARE(reader->text(QAccessible::Description), QStringLiteral("Memo1"));
    QCOMPARE(reader->text(QAccessible::Value), memo.Text());
    QAccessibleTextInterface* text = reader->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), int(memo.Text().size()));
    QCOMPARE(text->text(0, text->characterCount()), memo.Text());
    QCOMPARE(text->text(9, 20), QStringLiteral("A6 03 04 05"));

    // The selection set through the interface is the operator's, and reads back the same.
    text->setSelection(0, start, end);
    QCOMPARE(memo.SelectedText(), selected);
    QCOMPARE(text->selectionCount(), 1);
    int from = -1;
    int to = -1;
    text->selection(0, &from, &to);
    QCOMPARE(text->text(from, to), selected);
    QCOMPARE(text->cursorPosition(), std::min(end, text->characterCount()));
    text->removeSelection(0);
    QCOMPARE(text->selectionCount(), 0);
    QVERIFY(memo.SelectedText().isEmpty());
    text->setCursorPosition(start);
    QCOMPARE(text->cursorPosition(), start);

    // Lines, words and characters around an offset, as a reader moves through them.
    int at = -1;
    int until = -1;
    QCOMPARE(text->textAtOffset(11, QAccessible::LineBoundary, &at, &until).trimmed(),
             QStringLiteral("A6 03 04 05"));
    QCOMPARE(at, 9);
    QCOMPARE(text->textAtOffset(12, QAccessible::WordBoundary, &at, &until).trimmed(),
             QStringLiteral("03"));
    QCOMPARE(text->textAfterOffset(11, QAccessible::LineBoundary, &at, &until).trimmed(),
             QString());
    QCOMPARE(text->textBeforeOffset(11, QAccessible::LineBoundary, &at, &until).trimmed(),
             QStringLiteral("A6 01 02"));
    QCOMPARE(text->textAtOffset(1, QAccessible::CharBoundary, &at, &until), QStringLiteral("6"));

    // Every character in view is found again where the interface says it is.
    for (int offset = 0; offset < text->characterCount(); ++offset) {
        const QRect cell = text->characterRect(offset);
        QVERIFY2(!cell.isEmpty(), qPrintable(QString::number(offset)));
        if (memo.Text()[offset] != QLatin1Char('\n'))
            QCOMPARE(text->offsetAtPoint(cell.topLeft() + QPoint(1, cell.height() / 2)), offset);
    }
    QCOMPARE(text->offsetAtPoint(memo.viewport()->mapToGlobal(QPoint(-5, -5))), -1);

    // A range out of sight is scrolled into view when the reader asks for it.
    memo.SetText(QStringLiteral("A6 01\n").repeated(100) + QStringLiteral("Vadne CRC dat"));
    const int last = text->characterCount() - 3;
    QVERIFY(text->characterRect(last).isEmpty());
    text->scrollToSubstring(last, last + 3);
    QVERIFY(!text->characterRect(last).isEmpty());
    QCOMPARE(text->offsetAtPoint(text->characterRect(last).topLeft() + QPoint(1, 2)), last);
}

// A reader is told what was inserted and removed, where.
void LineMemoTest::tellsAReaderWhatChanged()
{
    static QStringList told;
    told.clear();
    const auto listen = [](QAccessibleEvent* event) {
        if (event->type() == QAccessible::TextInserted) {
            const auto* inserted = static_cast<QAccessibleTextInsertEvent*>(event);
            told << QStringLiteral("+%1:%2")
                        .arg(inserted->changePosition())
                        .arg(inserted->textInserted());
        } else if (event->type() == QAccessible::TextRemoved) {
            const auto* removed = static_cast<QAccessibleTextRemoveEvent*>(event);
            told << QStringLiteral("-%1:%2")
                        .arg(removed->changePosition())
                        .arg(removed->textRemoved());
        }
    };
    LineMemo memo;
    const QString first[] = {QStringLiteral("A6 01"), QStringLiteral("02 ")};
    const QString newer[] = {QStringLiteral("A6 F0")};
    const QString empty[] = {QString()};

    // Nobody listens: the memo works as it does without a reader.
    QVERIFY(!ReaderListens());
    memo.Append(first);
    memo.InsertAtTop(newer);

    SetReaderListener(listen);
    memo.Append(newer);
    memo.InsertAtTop(first);
    memo.RemoveLast(2);
    memo.RemoveFirst(1);
    memo.Clear();
    memo.Append(empty); // a lone empty line is no text
    memo.InsertAtTop(newer);
    memo.InsertAtTop(empty);
    SetReaderListener(nullptr);
    const QStringList expected = {
        // "A6 F0\n" "A6 01\n" "02 ": one line more at the end, two on top
        QStringLiteral("+15:\nA6 F0"),
        QStringLiteral("+0:A6 01\n02 \n"),
        // "A6 01\n" "02 \n" "A6 F0\n" "A6 01\n" "02 \n" "A6 F0": the last two, then the first
        QStringLiteral("-21:\n02 \nA6 F0"),
        QStringLiteral("-0:A6 01\n"),
        QStringLiteral("-0:02 \nA6 F0\nA6 01"),
        QStringLiteral("+0:A6 F0"),
        QStringLiteral("+0:\n"),
    };
    QCOMPARE(told, expected);
    QCOMPARE(memo.Text(), QStringLiteral("\nA6 F0"));
}

QTEST_MAIN(LineMemoTest)
#include "linememo_test.moc"
