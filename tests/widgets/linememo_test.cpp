// The memo wraps a long line into as many rows as a rich text view of the same size does, and
// the operator selects, copies and scrolls it with the mouse and the keys; a selection stays on
// its text while lines come in on top.
#include "widgets/linememo.h"

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

QTEST_MAIN(LineMemoTest)
#include "linememo_test.moc"
