// A chunk's memo entries laid out in one edit give the memos exactly what showing them one
// entry at a time gives: the text, the lines, the caret and the scroll position, over a bus
// stream with polls answered, damage and noise, in both orderings, with lines that wrap, the
// 1000-line rule met inside a chunk and the error-line cap, with time stamps off and on. And
// the window paints at most once per interval.
#include "Komunikace.h"
#include "fake_platform.h"
#include "mixed_stream.h"
#include "repaintthrottle.h"
#include "telegrams.h"
#include "trafficdisplay.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include <random>

using namespace qtr290;

namespace {

// Two memos alike: one laid out per chunk, one entry by entry.
struct MemoPair {
    QWidget window;
    QPlainTextEdit* batched = Make();
    QPlainTextEdit* oneByOne = Make();

    MemoPair()
    {
        auto* row = new QHBoxLayout(&window);
        row->addWidget(batched);
        row->addWidget(oneByOne);
        window.show();
    }
    QPlainTextEdit* Make()
    {
        auto* memo = new QPlainTextEdit(&window);
        memo->setReadOnly(true);
        memo->setUndoRedoEnabled(false);
        memo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        memo->setFixedSize(420, 160);
        return memo;
    }
    void Fill(int lines)
    {
        QStringList text;
        for (int i = 0; i < lines; ++i)
            text << QStringLiteral("old %1").arg(i);
        for (QPlainTextEdit* memo : {batched, oneByOne})
            memo->setPlainText(lines > 0 ? text.join(QLatin1Char('\n')) : QString());
    }
};

// Compares everything the operator can see of the two memos, and where the caret stands.
bool Same(const MemoPair& pair, QString& why)
{
    const QPlainTextEdit* a = pair.batched;
    const QPlainTextEdit* b = pair.oneByOne;
    if (a->toPlainText() != b->toPlainText())
        why = QStringLiteral("text differs");
    else if (a->blockCount() != b->blockCount())
        why = QStringLiteral("line count %1 != %2").arg(a->blockCount()).arg(b->blockCount());
    else if (a->textCursor().position() != b->textCursor().position() ||
             a->textCursor().anchor() != b->textCursor().anchor())
        why = QStringLiteral("caret %1 != %2")
                  .arg(a->textCursor().position())
                  .arg(b->textCursor().position());
    else if (a->verticalScrollBar()->value() != b->verticalScrollBar()->value())
        why = QStringLiteral("scroll %1 != %2")
                  .arg(a->verticalScrollBar()->value())
                  .arg(b->verticalScrollBar()->value());
    return why.isEmpty();
}

void ShowOneByOne(const ChunkEntries& entries, QPlainTextEdit* received, QPlainTextEdit* sent,
                  const MemoLayout& layout)
{
    for (const ChunkEntries::Entry& entry : entries.Entries()) {
        if (entry.kind == ChunkEntries::Kind::ErrorLine)
            ShowErrorLine(received, entry.line, layout.newestOnTop, entry.prefix);
        else
            ShowTelegram(entry.kind == ChunkEntries::Kind::Received ? received : sent, entry.bytes,
                         layout, entry.prefix);
    }
}

} // namespace

class TrafficDisplayTest : public QObject {
    Q_OBJECT

private slots:
    void batchedEqualsOneByOne_data();
    void batchedEqualsOneByOne();
    void errorLineCapInsideAChunk_data();
    void errorLineCapInsideAChunk();
    void repaintsAtMostOncePerInterval();
};

void TrafficDisplayTest::batchedEqualsOneByOne_data()
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
void TrafficDisplayTest::batchedEqualsOneByOne()
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
    received.batched->verticalScrollBar()->setValue(filled / 2);
    received.oneByOne->verticalScrollBar()->setValue(filled / 2);
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
        const int before = received.batched->blockCount();
        entries.LayOut(received.batched, sent.batched, layout);
        ShowOneByOne(entries, received.oneByOne, sent.oneByOne, layout);
        cleared += received.batched->blockCount() < before ? 1 : 0;

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
    for (QTextBlock block = sent.batched->document()->begin(); block.isValid();
         block = block.next())
        stampedSent += stamp.match(block.text()).hasMatch() ? 1 : 0;
    QCOMPARE(stampedSent, stamps ? answers : 0);
    QCOMPARE(received.batched->toPlainText().contains(QStringLiteral(" ms A")), stamps);
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
    entries.LayOut(received.batched, sent.batched, layout);
    ShowOneByOne(entries, received.oneByOne, sent.oneByOne, layout);
    QString why;
    QVERIFY2(Same(received, why), qPrintable(why));
    QCOMPARE(received.batched->blockCount(), 3 + 3);

    received.Fill(ErrorLineLimit - 2);
    ChunkEntries errors;
    for (int i = 0; i < 5; ++i)
        errors.AddErrorLine("Vadne CRC hlavicky");
    errors.LayOut(received.batched, sent.batched, layout);
    ShowOneByOne(errors, received.oneByOne, sent.oneByOne, layout);
    QVERIFY2(Same(received, why), qPrintable(why));
    QCOMPARE(received.batched->blockCount(), ErrorLineLimit);
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
