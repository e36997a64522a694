// The memos show what a text view following the same rules entry by entry shows: the text,
// the line count and the scroll position, over a bus stream with polls answered, damage and
// noise, in both orderings, with lines that wrap, the 1000-line rule met inside a chunk and
// the error-line cap, with time stamps off and on; a screen reader reads the same text through
// the memo's accessible interface and follows it by the memo's change events alone. And the
// window paints at most once per interval.
#include "console/trafficdisplay.h"
#include "link/Komunikace.h"
#include "link/hextext.h"
#include "tests/support/fake_platform.h"
#include "tests/support/mixed_stream.h"
#include "tests/support/telegrams.h"
#include "widgets/linememo.h"
#include "widgets/linememoaccessible.h"
#include "widgets/repaintthrottle.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextCursor>
#include <QtTest>

#include <map>
#include <random>

using namespace qtr290;

namespace {

// The reference: the rules applied one entry at a time to a rich text view, which keeps its
// own count of lines and its own scroll position.
QString Latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

void InsertAtTop(QPlainTextEdit* view, const QString& text)
{
    QTextCursor cursor(view->document());
    const bool empty = view->document()->isEmpty();
    cursor.insertText(text);
    if (!empty)
        cursor.insertBlock();
}

void AppendAtBottom(QPlainTextEdit* view, const QString& text)
{
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    if (!view->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text);
}

void ReferenceTelegram(QPlainTextEdit* view, ByteSpan bytes, const MemoLayout& layout,
                       std::string_view prefix)
{
    if (view->blockCount() > MemoLineLimit)
        view->clear();
    const QString text =
        Latin1(prefix) + QString::fromLatin1(TelegramText(bytes, layout.bytesPerLine));
    if (layout.newestOnTop) {
        InsertAtTop(view, text);
        view->setTextCursor(QTextCursor(view->document()));
        view->ensureCursorVisible();
    } else {
        AppendAtBottom(view, text);
    }
}

void ReferenceErrorLine(QPlainTextEdit* view, std::string_view line, bool newestOnTop,
                        std::string_view prefix)
{
    const QString text = Latin1(prefix) + Latin1(line);
    if (newestOnTop)
        InsertAtTop(view, text);
    else
        AppendAtBottom(view, text);
    if (view->blockCount() <= ErrorLineLimit)
        return;
    QTextCursor cursor(view->document());
    if (newestOnTop) {
        cursor.movePosition(QTextCursor::End);
        cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
    } else {
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
}

// What a screen reader knows of each memo, kept up to date by the memo's change events alone.
// A removal must take away exactly the text it names.
struct ReaderMirror {
    static inline std::map<QObject*, QString> texts;
    static inline QStringList faults;

    static void Handle(QAccessibleEvent* event)
    {
        QString& text = texts[event->object()];
        if (event->type() == QAccessible::TextInserted) {
            const auto* inserted = static_cast<QAccessibleTextInsertEvent*>(event);
            if (inserted->changePosition() > text.size())
                faults << QStringLiteral("insert past the end");
            text.insert(inserted->changePosition(), inserted->textInserted());
        } else if (event->type() == QAccessible::TextRemoved) {
            const auto* removed = static_cast<QAccessibleTextRemoveEvent*>(event);
            const int at = removed->changePosition();
            if (text.mid(at, removed->textRemoved().size()) != removed->textRemoved())
                faults << QStringLiteral("removed text %1 at %2 is not there")
                              .arg(removed->textRemoved().left(40))
                              .arg(at);
            text.remove(at, removed->textRemoved().size());
        }
    }
};

// A memo as the window has it beside the reference view, the same size.
struct MemoPair {
    QWidget window;
    LineMemo* memo = new LineMemo(&window);
    QPlainTextEdit* reference = new QPlainTextEdit(&window);

    MemoPair()
    {
        ReaderMirror::texts[memo].clear();
        const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        memo->setFont(fixed);
        reference->setFont(fixed);
        reference->setReadOnly(true);
        reference->setUndoRedoEnabled(false);
        // The same rows in view: the reference's text starts below its document margin too.
        memo->setFixedSize(760, 160);
        reference->setFixedSize(760, 160);
        auto* row = new QHBoxLayout(&window);
        row->addWidget(memo);
        row->addWidget(reference);
        window.show();
    }
    void Fill(int lines)
    {
        QStringList text;
        for (int i = 0; i < lines; ++i)
            text << QStringLiteral("old %1").arg(i);
        memo->SetText(text.join(QLatin1Char('\n')));
        reference->setPlainText(lines > 0 ? text.join(QLatin1Char('\n')) : QString());
    }
    void ScrollTo(int value)
    {
        memo->verticalScrollBar()->setValue(value);
        reference->verticalScrollBar()->setValue(value);
    }
};

// Compares what the operator can see of the two.
bool Same(const MemoPair& pair, QString& why)
{
    const LineMemo* a = pair.memo;
    const QPlainTextEdit* b = pair.reference;
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(pair.memo);
    QAccessibleTextInterface* text = reader ? reader->textInterface() : nullptr;
    if (!text)
        why = QStringLiteral("no accessible text");
    else if (a->Text() != b->toPlainText())
        why = QStringLiteral("text differs");
    else if (text->text(0, text->characterCount()) != b->toPlainText())
        why = QStringLiteral("accessible text differs");
    else if (ReaderMirror::texts[pair.memo] != b->toPlainText())
        why = QStringLiteral("text followed by change events differs");
    else if (!ReaderMirror::faults.isEmpty())
        why = ReaderMirror::faults.join(QStringLiteral("; "));
    else if (a->LineCount() != b->blockCount())
        why = QStringLiteral("line count %1 != %2").arg(a->LineCount()).arg(b->blockCount());
    // The reference counts a line it has not laid out yet as one row, so its scroll position
    // says little once lines wrap.
    else if (a->RowCount() != (a->IsEmpty() ? 0 : a->LineCount()))
        return true;
    else if (a->verticalScrollBar()->value() != b->verticalScrollBar()->value())
        why = QStringLiteral("scroll %1 != %2")
                  .arg(a->verticalScrollBar()->value())
                  .arg(b->verticalScrollBar()->value());
    else if (a->verticalScrollBar()->maximum() != b->verticalScrollBar()->maximum())
        why = QStringLiteral("scroll range %1 != %2")
                  .arg(a->verticalScrollBar()->maximum())
                  .arg(b->verticalScrollBar()->maximum());
    return why.isEmpty();
}

void ShowReference(const ChunkEntries& entries, QPlainTextEdit* received, QPlainTextEdit* sent,
                   const MemoLayout& layout)
{
    for (const ChunkEntries::Entry& entry : entries.Entries()) {
        if (entry.kind == ChunkEntries::Kind::ErrorLine)
            ReferenceErrorLine(received, entry.line, layout.newestOnTop, entry.prefix);
        else
            ReferenceTelegram(entry.kind == ChunkEntries::Kind::Received ? received : sent,
                              entry.bytes, layout, entry.prefix);
    }
}

} // namespace

class TrafficDisplayTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { ReaderMirror::faults.clear(); }
    void showsWhatTheReferenceShows_data();
    void showsWhatTheReferenceShows();
    void errorLineCapInsideAChunk_data();
    void errorLineCapInsideAChunk();
    void repaintsAtMostOncePerInterval();
};

// A screen reader listens throughout, so that the memos tell of every change.
void TrafficDisplayTest::initTestCase()
{
    SetReaderListener(&ReaderMirror::Handle);
    QVERIFY(ReaderListens());
}

void TrafficDisplayTest::showsWhatTheReferenceShows_data()
{
    QTest::addColumn<bool>("newestOnTop");
    QTest::addColumn<int>("bytesPerLine");
    QTest::addColumn<int>("filled"); // lines in Memo1 before the stream
    QTest::addColumn<bool>("stamps");

    for (const bool top : {true, false}) {
        for (const int perLine : {1, 5, 11, 32, 300}) {
            for (const int filled : {0, 990}) {
                for (const bool stamps : {false, true}) {
                    if (stamps && perLine != 5 && perLine != 300)
                        continue;
                    QTest::addRow("%s, %d bytes a line, %d lines%s",
                                  top ? "newest on top" : "newest last", perLine, filled,
                                  stamps ? ", time stamps" : "")
                        << top << perLine << filled << stamps;
                }
            }
        }
    }
}

// The stream goes through the link's framer and poll reaction in chunks of varying size,
// collected as the window collects them; each chunk's entries go into both memo pairs.
void TrafficDisplayTest::showsWhatTheReferenceShows()
{
    QFETCH(bool, newestOnTop);
    QFETCH(int, bytesPerLine);
    QFETCH(int, filled);
    QFETCH(bool, stamps);

    const test::MixedStream stream = test::MakeMixedStream(12000, std::uint32_t(bytesPerLine));
    auto line = std::make_shared<test::FakeLine>();
    line->autoAdvance = 1;
    TKomunikace link(std::make_unique<test::FakePlatform>(line));
    link.NastavVychozi();
    QVERIFY(link.Otevri(115200));

    MemoPair received;
    MemoPair sent;
    received.Fill(filled);
    received.ScrollTo(filled / 2);
    const MemoLayout layout{newestOnTop, bytesPerLine};

    std::mt19937 random(7);
    EntryStamps stamper;
    QDateTime chunkTime(QDate(2026, 12, 7), QTime(9, 5, 3, 42));
    std::vector<std::uint8_t> accumulator;
    int chunks = 0;
    int cleared = 0;
    int answers = 0;
    for (std::size_t at = 0; at < stream.bytes.size(); ++chunks) {
        const std::size_t size =
            std::min<std::size_t>(1 + random() % 700, stream.bytes.size() - at);
        accumulator.insert(accumulator.end(), stream.bytes.begin() + long(at),
                           stream.bytes.begin() + long(at + size));
        at += size;
        // Something is always pending, so that polls are answered into the sent memo.
        while (link.PendingCount() < 4)
            link.ZaradTLG(0xF0, 0x00, false, 0x10, 0x157, 2);
        chunkTime = chunkTime.addMSecs(40);
        ChunkEntries entries = stamps ? ChunkEntries(&stamper, chunkTime) : ChunkEntries();
        link.ZpracujPrijem(accumulator, {[&](ByteSpan t) { entries.AddReceived(t); },
                                         [&](std::string_view l) { entries.AddErrorLine(l); },
                                         [&](ByteSpan s) {
                                             entries.AddSent(s);
                                             ++answers;
                                         }});
        const int before = received.memo->LineCount();
        entries.LayOut(received.memo, sent.memo, layout);
        ShowReference(entries, received.reference, sent.reference, layout);
        cleared += received.memo->LineCount() < before ? 1 : 0;

        QString why;
        QVERIFY2(Same(received, why),
                 qPrintable(QStringLiteral("Memo1 after chunk %1: %2").arg(chunks).arg(why)));
        QVERIFY2(Same(sent, why),
                 qPrintable(QStringLiteral("Memo3 after chunk %1: %2").arg(chunks).arg(why)));
    }
    QVERIFY(answers > 10);
    // Stamped, each sent entry's first line begins with its chunk's time, and received
    // telegrams after the first carry the gap since the previous one.
    const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} FF A[56] "));
    int stampedSent = 0;
    for (const QString& sentLine : sent.memo->Lines())
        stampedSent += stamp.match(sentLine).hasMatch() ? 1 : 0;
    QCOMPARE(stampedSent, stamps ? answers : 0);
    QCOMPARE(received.memo->Text().contains(QStringLiteral(" ms A")), stamps);
    // A filled memo meets the 1000-line rule inside the first chunks.
    if (filled > 0)
        QVERIFY(cleared >= 1);
}

void TrafficDisplayTest::errorLineCapInsideAChunk_data()
{
    QTest::addColumn<bool>("newestOnTop");
    QTest::newRow("newest on top") << true;
    QTest::newRow("newest last") << false;
}

// Checksum-error lines never empty the memo; past the cap the oldest line goes, also when
// one chunk brings many of them and telegrams in between.
void TrafficDisplayTest::errorLineCapInsideAChunk()
{
    QFETCH(bool, newestOnTop);
    MemoPair received;
    MemoPair sent;
    received.Fill(ErrorLineLimit - 3);
    const MemoLayout layout{newestOnTop, 4};
    ChunkEntries entries;
    const std::vector<std::uint8_t>& telegram = test::ReadRequest;
    for (int i = 0; i < 6; ++i)
        entries.AddErrorLine(i % 2 ? "Vadne CRC dat" : "Vadne CRC hlavicky");
    entries.AddReceived(telegram); // the memo holds more than 1000 lines: emptied first
    for (int i = 0; i < 3; ++i)
        entries.AddErrorLine("Vadne CRC dat");
    entries.LayOut(received.memo, sent.memo, layout);
    ShowReference(entries, received.reference, sent.reference, layout);
    QString why;
    QVERIFY2(Same(received, why), qPrintable(why));
    QCOMPARE(received.memo->LineCount(), 3 + 3);

    received.Fill(ErrorLineLimit - 2);
    ChunkEntries errors;
    for (int i = 0; i < 5; ++i)
        errors.AddErrorLine("Vadne CRC hlavicky");
    errors.LayOut(received.memo, sent.memo, layout);
    ShowReference(errors, received.reference, sent.reference, layout);
    QVERIFY2(Same(received, why), qPrintable(why));
    QCOMPARE(received.memo->LineCount(), ErrorLineLimit);
}

namespace {
class PaintCounter : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};
} // namespace

// A change after a quiet spell is painted at once; a burst within the interval is painted
// once more at its end, with nothing left unpainted.
void TrafficDisplayTest::repaintsAtMostOncePerInterval()
{
    PaintCounter window;
    window.resize(100, 100);
    RepaintThrottle throttle(&window, 1000);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(1050);
    const int before = window.paints;

    window.update();
    QCoreApplication::processEvents();
    QCOMPARE(window.paints, before + 1);
    QElapsedTimer burst;
    burst.start();
    for (int i = 0; i < 50 && burst.elapsed() < 300; ++i) {
        window.update();
        QCoreApplication::processEvents();
    }
    QCOMPARE(window.paints, before + 1);
    QTRY_COMPARE_WITH_TIMEOUT(window.paints, before + 2, 3000);
}

QTEST_MAIN(TrafficDisplayTest)
#include "trafficdisplay_test.moc"
