// The traffic display and the capture file of the main window, fed with byte chunks
// through the port's polling as the serial line delivers them.
#include "app/application.h"
#include "link/telegram.h"
#include "tests/support/lock_holder.h"
#include "tests/support/window_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>

#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qtr290;
using namespace qtr290::test;

namespace {

const QString HeaderError = QStringLiteral("Vadne CRC hlavicky");
const QString BlockError = QStringLiteral("Vadne CRC dat");

// The read request with a wrong header checksum, and with a wrong block checksum.
const Bytes DamagedHeader = {0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5E, 0x01, 0x57, 0x01, 0x00, 0xA7};
const Bytes DamagedBlock = {0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5D, 0x01, 0x57, 0x01, 0x00, 0xA8};

void SetBytesPerLine(TForm1& f, const QString& text)
{
    control<QLineEdit>(f, "Edt_PocetBytu")->setText(text);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(control<QLineEdit>(f, "Edt_PocetBytu"), &focusOut);
}

QString Numbered(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << QStringLiteral("L%1").arg(i);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class DisplayTest : public QObject {
    Q_OBJECT

private slots:
    void goodTelegramInChunks_data();
    void goodTelegramInChunks();
    void layout_data();
    void layout();
    void newestFirstScrollsToTheTopNewestLastDoesNotScroll();
    void filter_data();
    void filter();
    void hiddenTelegramsStillReachErrorsSentAndCapture_data();
    void hiddenTelegramsStillReachErrorsSentAndCapture();
    void lineLimits_data();
    void lineLimits();
    void captureFileThatCannotBeWritten_data();
    void captureFileThatCannotBeWritten();
    void clearButtonsClearTheirOwnMemo();
    void longestTelegramsAreShownWhole();
    void receiveErrorIsReportedAfterTheTickOnce();
    void pollInAChunkIsAnsweredBeforeTheChunkIsShown_data();
    void pollInAChunkIsAnsweredBeforeTheChunkIsShown();
    void pcapngBesideTheCaptureFileWhenAsked_data();
    void pcapngBesideTheCaptureFileWhenAsked();
    void pcapngGoesOnlyIntoARegularFile_data();
    void pcapngGoesOnlyIntoARegularFile();
};

void DisplayTest::goodTelegramInChunks_data()
{
    QTest::addColumn<QList<int>>("cuts");
    QTest::addColumn<bool>("capture");

    QTest::newRow("one chunk") << QList<int>{} << true;
    QTest::newRow("cut in the header") << QList<int>{3} << true;
    QTest::newRow("cut before the last byte") << QList<int>{10} << true;
    QTest::newRow("three chunks") << QList<int>{1, 7} << true;
    QTest::newRow("capture off") << QList<int>{5} << false;
}

void DisplayTest::goodTelegramInChunks()
{
    QFETCH(QList<int>, cuts);
    QFETCH(bool, capture);

    WindowFixture w;
    TForm1& f = *w.form;
    control<QCheckBox>(f, "Chk_VystupDoSouboru")->setChecked(capture);
    const QDateTime before = QDateTime::currentDateTime();
    int from = 0;
    cuts << int(ReadRequest.size());
    for (int cut : cuts) {
        w.Receive(Bytes(ReadRequest.begin() + from, ReadRequest.begin() + cut));
        from = cut;
    }
    const QDateTime after = QDateTime::currentDateTime();

    // One entry, ending in a space: the telegram is shown once it is complete.
    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")), QStringList{ReadRequestText});
    QVERIFY(f.ReceiveBacklog() == 0);
    QVERIFY(Lines(control<LineMemo>(f, "Memo3")) == QStringList{QString()});

    if (!capture) {
        QVERIFY(!QFile::exists(w.CapturePath()));
        return;
    }
    // One line per chunk: DDMMYYYY hh:mm:ss:zzz>, the chunk's bytes, CR LF.
    const QList<QByteArray> lines = w.CaptureLines();
    QCOMPARE(lines.size(), cuts.size());
    const QRegularExpression layout(
        QStringLiteral("^(\\d\\d)(\\d\\d)(\\d{4}) (\\d\\d):(\\d\\d):(\\d\\d):(\\d{3})>"
                       "((?:[0-9A-F]{2} )+)\\r$"));
    QString joined;
    for (const QByteArray& line : lines) {
        const auto match = layout.match(QString::fromLatin1(line));
        QVERIFY2(match.hasMatch(), line.constData());
        const QDateTime at(
            QDate(match.captured(3).toInt(), match.captured(2).toInt(), match.captured(1).toInt()),
            QTime(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt(),
                  match.captured(7).toInt()));
        QVERIFY2(at >= before.addMSecs(-1) && at <= after.addMSecs(1), line.constData());
        joined += match.captured(8);
    }
    QCOMPARE(joined, ReadRequestText);
    QVERIFY(w.messages.empty());
}

void DisplayTest::layout_data()
{
    QTest::addColumn<QString>("perLine");
    QTest::addColumn<int>("ordering");
    QTest::addColumn<QStringList>("lines"); // after the read request, then a poll

    const QString newest = PollText;
    QTest::newRow("32, newest last") << "32" << 1 << QStringList{ReadRequestText, newest};
    QTest::newRow("32, newest first") << "32" << 0 << QStringList{newest, ReadRequestText};
    // 11 bytes end in a line break, which leaves an empty line after them.
    QTest::newRow("11, newest last") << "11" << 1 << QStringList{ReadRequestText, "", newest};
    QTest::newRow("11, newest first") << "11" << 0 << QStringList{newest, ReadRequestText, ""};
    QTest::newRow("4, newest first")
        << "4" << 0 << QStringList{"A6 F0 01 00 ", "00 69 01 FF ", "",
                                   "A6 00 F0 0A ", "03 5D 01 57 ", "01 00 A7 "};
    // One byte per line: every byte on its own line, each telegram closed by an empty one.
    const auto perByte = [](const QString& text) {
        QStringList lines;
        for (const QString& byte : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            lines << byte + QLatin1Char(' ');
        return lines << QString();
    };
    QTest::newRow("1, newest last") << "1" << 1 << perByte(ReadRequestText) + perByte(PollText);
    // Zero or below cannot lay out a line: the setting falls back to 32.
    QTest::newRow("0 falls back to 32") << "0" << 1 << QStringList{ReadRequestText, newest};
    QTest::newRow("-5 falls back to 32") << "-5" << 0 << QStringList{newest, ReadRequestText};
}

void DisplayTest::layout()
{
    QFETCH(QString, perLine);
    QFETCH(int, ordering);
    QFETCH(QStringList, lines);

    WindowFixture w;
    TForm1& f = *w.form;
    SetBytesPerLine(f, perLine);
    w.Select(control<TRadioGroup>(f, "Rgp_Razeni"), ordering);
    w.Receive(ReadRequest);
    w.Receive(Poll);
    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")), lines);
}

void DisplayTest::newestFirstScrollsToTheTopNewestLastDoesNotScroll()
{
    WindowFixture w;
    TForm1& f = *w.form;
    QScrollBar* bar = control<LineMemo>(f, "Memo1")->verticalScrollBar();
    control<LineMemo>(f, "Memo1")->SetText(Numbered(300));
    QVERIFY(bar->maximum() > 100);

    w.Select(control<TRadioGroup>(f, "Rgp_Razeni"), 0);
    bar->setValue(bar->maximum());
    w.Receive(ReadRequest);
    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")).first(), ReadRequestText);
    QCOMPARE(bar->value(), 0);

    w.Select(control<TRadioGroup>(f, "Rgp_Razeni"), 1);
    bar->setValue(bar->maximum() / 2);
    const int where = bar->value();
    w.Receive(Poll);
    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")).last(), PollText);
    QCOMPARE(bar->value(), where);
}

void DisplayTest::filter_data()
{
    QTest::addColumn<bool>("on");
    QTest::addColumn<QString>("od");
    QTest::addColumn<QString>("pro");
    QTest::addColumn<bool>("shown");

    // The read request comes from F0 and goes to 00.
    QTest::newRow("lower case matches") << true << "f0"
                                        << "00" << true;
    QTest::newRow("upper case matches") << true << "F0"
                                        << "00" << true;
    QTest::newRow("one digit is no match") << true << "F"
                                           << "00" << false;
    QTest::newRow("leading blank is no match") << true << " F0"
                                               << "00" << false;
    QTest::newRow("other addressee") << true << "F0"
                                     << "01" << false;
    QTest::newRow("sender and addressee swapped") << true << "00"
                                                  << "F0" << false;
    QTest::newRow("filter off") << false << "zz"
                                << "" << true;
}

void DisplayTest::filter()
{
    QFETCH(bool, on);
    QFETCH(QString, od);
    QFETCH(QString, pro);
    QFETCH(bool, shown);

    WindowFixture w;
    TForm1& f = *w.form;
    control<QCheckBox>(f, "Chk_Filtr")->setChecked(on);
    control<QLineEdit>(f, "Edt_FiltrOd")->setText(od);
    control<QLineEdit>(f, "Edt_FiltrPro")->setText(pro);
    w.Receive(ReadRequest);
    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")),
             shown ? QStringList{ReadRequestText} : QStringList{QString()});
}

void DisplayTest::hiddenTelegramsStillReachErrorsSentAndCapture_data()
{
    QTest::addColumn<int>("prijataData");
    QTest::addColumn<bool>("hidePolls");
    QTest::addColumn<QString>("filterFrom");
    QTest::addColumn<QStringList>("memo1");

    const QStringList errors = {HeaderError, BlockError};
    QTest::newRow("everything shown")
        << 0 << false << QString() << errors + QStringList{PollText, ReadRequestText};
    QTest::newRow("Nezobrazuj") << 1 << false << QString() << errors;
    QTest::newRow("Nezobrazuj výzvy")
        << 0 << true << QString() << errors + QStringList{ReadRequestText};
    QTest::newRow("filter lets nothing through") << 0 << false << "12" << errors;
}

void DisplayTest::hiddenTelegramsStillReachErrorsSentAndCapture()
{
    QFETCH(int, prijataData);
    QFETCH(bool, hidePolls);
    QFETCH(QString, filterFrom);
    QFETCH(QStringList, memo1);

    WindowFixture w;
    TForm1& f = *w.form;
    w.Select(control<TRadioGroup>(f, "Rgp_Razeni"), 1);
    w.Select(control<TRadioGroup>(f, "Rgp_PrijataData"), prijataData);
    control<QCheckBox>(f, "Chk_NezobrazujVyzvy")->setChecked(hidePolls);
    if (!filterFrom.isEmpty()) {
        control<QCheckBox>(f, "Chk_Filtr")->setChecked(true);
        control<QLineEdit>(f, "Edt_FiltrOd")->setText(filterFrom);
    }
    control<QCheckBox>(f, "Chk_VystupDoSouboru")->setChecked(true);

    // START queues the read request; the poll sends it, the read request that follows
    // (as a non-poll telegram) drops it again.
    w.Click(control<QPushButton>(f, "Btn_TestKomunikace"));
    QCOMPARE(f.Link()->PendingCount(), size_t(1));
    for (const Bytes& chunk : {DamagedHeader, DamagedBlock, Poll, ReadRequest})
        w.Receive(chunk);

    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")), memo1);
    Bytes sent = ReadRequest;
    sent.insert(sent.begin(), 0xFF);
    QCOMPARE(w.line->written, sent);
    QCOMPARE(Lines(control<LineMemo>(f, "Memo3")),
             QStringList{QStringLiteral("FF ") + ReadRequestText});
    QCOMPARE(f.Link()->PendingCount(), size_t(0));

    const QList<QByteArray> capture = w.CaptureLines();
    QCOMPARE(capture.size(), 5);
    QVERIFY(capture[0].endsWith(">Cteni dat\r"));
    QVERIFY(capture[1].endsWith(">A6 00 F0 0A 03 5E 01 57 01 00 A7 \r"));
    QVERIFY(capture[2].endsWith(">A6 00 F0 0A 03 5D 01 57 01 00 A8 \r"));
    QVERIFY(capture[3].endsWith('>' + PollText.toLatin1() + '\r'));
    QVERIFY(capture[4].endsWith('>' + ReadRequestText.toLatin1() + '\r'));
    QVERIFY(w.messages.empty());
}

void DisplayTest::lineLimits_data()
{
    QTest::addColumn<int>("memo");    // 1 or 3
    QTest::addColumn<int>("initial"); // numbered lines in the memo beforehand
    QTest::addColumn<int>("ordering");
    QTest::addColumn<QString>("arrival"); // "telegram", "error" or "sent"
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QStringList>("last");
    QTest::addColumn<int>("count");

    const QString sent = QStringLiteral("FF ") + ReadRequestText;
    QTest::newRow("1000 lines stay")
        << 1 << 1000 << 0 << "telegram" << QStringList{ReadRequestText, "L0"} << QStringList{"L999"}
        << 1001;
    QTest::newRow("1001 lines are emptied")
        << 1 << 1001 << 0 << "telegram" << QStringList{ReadRequestText}
        << QStringList{ReadRequestText} << 1;
    QTest::newRow("1001 lines, newest last")
        << 1 << 1001 << 1 << "telegram" << QStringList{ReadRequestText}
        << QStringList{ReadRequestText} << 1;
    QTest::newRow("an error line never empties")
        << 1 << 1001 << 0 << "error" << QStringList{HeaderError, "L0"} << QStringList{"L1000"}
        << 1002;
    QTest::newRow("Memo3 is emptied as well")
        << 3 << 1001 << 0 << "sent" << QStringList{sent} << QStringList{sent} << 1;
    // Error lines alone: the oldest line goes, the memo keeps its newest lines.
    QTest::newRow("error lines at the cap, newest first")
        << 1 << ErrorLineLimit << 0 << "error" << QStringList{HeaderError, "L0"}
        << QStringList{QStringLiteral("L%1").arg(ErrorLineLimit - 2)} << ErrorLineLimit;
    QTest::newRow("error lines at the cap, newest last")
        << 1 << ErrorLineLimit << 1 << "error" << QStringList{"L1"}
        << QStringList{QStringLiteral("L%1").arg(ErrorLineLimit - 1), HeaderError}
        << ErrorLineLimit;
}

void DisplayTest::lineLimits()
{
    QFETCH(int, memo);
    QFETCH(int, initial);
    QFETCH(int, ordering);
    QFETCH(QString, arrival);
    QFETCH(QStringList, first);
    QFETCH(QStringList, last);
    QFETCH(int, count);

    WindowFixture w;
    TForm1& f = *w.form;
    LineMemo* target = memo == 1 ? control<LineMemo>(f, "Memo1") : control<LineMemo>(f, "Memo3");
    w.Select(control<TRadioGroup>(f, "Rgp_Razeni"), ordering);
    target->SetText(Numbered(initial));
    QCOMPARE(target->LineCount(), initial);

    if (arrival == "telegram") {
        w.Receive(ReadRequest);
    } else if (arrival == "error") {
        w.Receive(DamagedHeader);
    } else {
        w.Click(control<QPushButton>(f, "Btn_TestKomunikace"));
        w.Receive(Poll);
    }
    const QStringList lines = Lines(target);
    QCOMPARE(lines.size(), count);
    QCOMPARE(lines.mid(0, first.size()), first);
    QCOMPARE(lines.mid(lines.size() - last.size()), last);
}

void DisplayTest::captureFileThatCannotBeWritten_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::newRow("locked by another program") << "lock";
    QTest::newRow("a directory in the way") << "directory";
}

void DisplayTest::captureFileThatCannotBeWritten()
{
    QFETCH(QString, obstacle);

    WindowFixture w;
    TForm1& f = *w.form;
    control<QCheckBox>(f, "Chk_VystupDoSouboru")->setChecked(true);
    w.Receive({0x01});
    QCOMPARE(w.CaptureLines().size(), 1);

    std::unique_ptr<LockHolder> holder;
    if (obstacle == "lock") {
        holder = std::make_unique<LockHolder>(w.CapturePath());
        QVERIFY(holder->Locked());
    } else {
        QVERIFY(QFile::rename(w.CapturePath(), w.dir.filePath("saved.txt")));
        QVERIFY(QDir(w.dir.path()).mkdir(QStringLiteral("incoming.txt")));
    }
    QElapsedTimer timer;
    timer.start();
    w.Receive({0x02});
    w.Click(control<QPushButton>(f, "Btn_TestKomunikace")); // its "Cteni dat" line is lost as well
    w.Receive({0x03});
    QVERIFY2(timer.elapsed() < 1000, "the window waited for the file");
    QVERIFY(w.messages.empty());

    if (holder) {
        holder->Release();
    } else {
        QVERIFY(QDir(w.dir.path()).rmdir(QStringLiteral("incoming.txt")));
        QVERIFY(QFile::rename(w.dir.filePath("saved.txt"), w.CapturePath()));
    }
    w.Receive({0x04});
    const QList<QByteArray> lines = w.CaptureLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].endsWith(">01 \r"));
    QVERIFY(lines[1].endsWith(">04 \r"));
    QVERIFY(w.messages.empty());
    // The display went on meanwhile.
    QCOMPARE(f.ReceiveBacklog(), size_t(4));
}

void DisplayTest::clearButtonsClearTheirOwnMemo()
{
    WindowFixture w;
    TForm1& f = *w.form;
    const std::pair<LineMemo*, QPushButton*> pairs[] = {
        {control<LineMemo>(f, "Memo1"), control<QPushButton>(f, "Button1")},
        {control<LineMemo>(f, "Memo2"), control<QPushButton>(f, "Button2")},
        {control<LineMemo>(f, "Memo3"), control<QPushButton>(f, "Button3")}};
    for (const auto& [memo, button] : pairs) {
        for (const auto& other : pairs)
            other.first->SetText(QStringLiteral("x\ny"));
        w.Click(button);
        QVERIFY(memo->IsEmpty());
        for (const auto& other : pairs)
            if (other.first != memo)
                QCOMPARE(other.first->LineCount(), 2);
    }
    // A cleared memo starts again on its first line.
    w.Click(control<QPushButton>(f, "Button1"));
    w.Receive(ReadRequest);
    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")), QStringList{ReadRequestText});
}

void DisplayTest::longestTelegramsAreShownWhole()
{
    WindowFixture w;
    TForm1& f = *w.form;
    w.Select(control<TRadioGroup>(f, "Rgp_Razeni"), 1);

    // Received: a long telegram with block length 255, 263 bytes in all.
    Bytes longest = {0xA6, 0x20, 0x10, 0x0B, 0xFF};
    longest.push_back(KontrolniSoucet(longest));
    for (int i = 0; i < 256; ++i)
        longest.push_back(static_cast<std::uint8_t>(i * 7));
    longest.push_back(KontrolniSoucet(ByteSpan(longest).subspan(6)));
    QCOMPARE(longest.size(), MaxTelegramLength);
    w.Receive(longest);
    QCOMPARE(control<LineMemo>(f, "Memo1")->LineCount(),
             9); // 8 lines of 32 bytes and one of 7
    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")).join(QString()), HexText(longest));

    // Transmitted: a write of 243 bytes is 255 bytes, 256 on the line.
    w.Select(control<TRadioGroup>(f, "Rgp_druhTLG"), 1);
    control<QComboBox>(f, "Cmb_Data")->setEditText(QString(2 * 243, QLatin1Char('5')));
    w.Click(control<QPushButton>(f, "Button4"));
    QVERIFY(w.messages.empty());
    QCOMPARE(w.line->written.size(), size_t(256));
    QCOMPARE(Lines(control<LineMemo>(f, "Memo3")).join(QString()), HexText(w.line->written));
}

void DisplayTest::receiveErrorIsReportedAfterTheTickOnce()
{
    WindowFixture w;
    TForm1& f = *w.form;
    f.Guarded([] { throw std::runtime_error("porucha"); }, TForm1::ReportMode::Later);
    f.Guarded([] { throw std::runtime_error("porucha 2"); }, TForm1::ReportMode::Later);
    QVERIFY(w.messages.empty());
    QTRY_COMPARE(w.messages.size(), size_t(1));
    QCOMPARE(w.messages[0].kind, MessageKind::Error);
    QCOMPARE(w.messages[0].text, QStringLiteral("porucha"));
    // Once shown, the next error is reported again.
    f.Guarded([] { throw std::runtime_error("porucha 3"); }, TForm1::ReportMode::Later);
    QTRY_COMPARE(w.messages.size(), size_t(2));
    QCOMPARE(w.messages[1].text, QStringLiteral("porucha 3"));
}

void DisplayTest::pollInAChunkIsAnsweredBeforeTheChunkIsShown_data()
{
    QTest::addColumn<int>("ordering");

    QTest::newRow("newest on top") << 0;
    QTest::newRow("newest at the bottom") << 1;
}

// The answer must not wait for the display of the telegrams ahead of the poll; what the
// memos show and the capture file holds is the same as if each telegram were shown at once.
void DisplayTest::pollInAChunkIsAnsweredBeforeTheChunkIsShown()
{
    QFETCH(int, ordering);

    WindowFixture w;
    TForm1& f = *w.form;
    w.Select(control<TRadioGroup>(f, "Rgp_Razeni"), ordering);
    control<QCheckBox>(f, "Chk_VystupDoSouboru")->setChecked(true);
    // Two requests: the read request ahead of the poll drops the first.
    w.Click(control<QPushButton>(f, "Btn_TestKomunikace"));
    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
    QCOMPARE(f.Link()->PendingCount(), size_t(2));
    const int captureLinesBefore = int(w.CaptureLines().size());

    std::vector<std::size_t> writtenAtEachChange;
    std::vector<int> captureLinesAtEachChange;
    for (LineMemo* memo : {control<LineMemo>(f, "Memo1"), control<LineMemo>(f, "Memo3")})
        QObject::connect(memo, &LineMemo::LinesAdded, memo, [&] {
            writtenAtEachChange.push_back(w.line->written.size());
            captureLinesAtEachChange.push_back(int(w.CaptureLines().size()));
        });

    Bytes chunk = ReadRequest;
    for (const Bytes& part : {DamagedHeader, Poll, ReadRequest})
        chunk.insert(chunk.end(), part.begin(), part.end());
    w.Receive(chunk);

    Bytes sent = ReadRequest;
    sent.insert(sent.begin(), 0xFF);
    QCOMPARE(w.line->written, sent);
    QVERIFY(!writtenAtEachChange.empty());
    for (std::size_t written : writtenAtEachChange)
        QCOMPARE(written, sent.size());
    for (int lines : captureLinesAtEachChange)
        QCOMPARE(lines, captureLinesBefore + 1);

    QCOMPARE(f.Link()->PendingCount(), size_t(0));
    QStringList memo1 = {ReadRequestText, HeaderError, PollText, ReadRequestText};
    if (ordering == 0)
        std::reverse(memo1.begin(), memo1.end());
    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")), memo1);
    QCOMPARE(Lines(control<LineMemo>(f, "Memo3")),
             QStringList{QStringLiteral("FF ") + ReadRequestText});
    QCOMPARE(w.CaptureLines().back().right(qsizetype(HexText(chunk).size() + 1)),
             QByteArray(HexText(chunk).toLatin1() + '\r'));
}

namespace {
struct PcapngPacket {
    std::uint32_t flags = 0;
    Bytes bytes;
};

// The Enhanced Packet Blocks of a pcapng file (little-endian, as written here).
std::vector<PcapngPacket> PcapngPackets(const QByteArray& file)
{
    const auto u32 = [&](qsizetype at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | std::uint8_t(file[at + i]);
        return v;
    };
    std::vector<PcapngPacket> packets;
    for (qsizetype at = 0; at + 12 <= file.size();) {
        const std::uint32_t type = u32(at);
        const std::uint32_t length = u32(at + 4);
        if (length < 12 || at + length > file.size())
            break;
        if (type == 6) {
            const std::uint32_t captured = u32(at + 20);
            PcapngPacket packet;
            packet.bytes.assign(file.begin() + at + 28, file.begin() + at + 28 + captured);
            // The flags option (code 2) follows the padded data.
            const qsizetype options = at + 28 + ((captured + 3) & ~3u);
            if (options + 8 <= at + length && (u32(options) & 0xFFFF) == 2)
                packet.flags = u32(options + 4);
            packets.push_back(packet);
        }
        at += length;
    }
    return packets;
}
} // namespace

void DisplayTest::pcapngBesideTheCaptureFileWhenAsked_data()
{
    QTest::addColumn<bool>("asked");
    QTest::newRow("asked in the settings file") << true;
    QTest::newRow("not asked") << false;
}

// The traffic also goes into incoming-live.pcapng when the settings file asks for it and the
// capture is on: received telegrams inbound, transmissions (lead byte kept) outbound, in the order
// they happened. The capture file's lines are the same either way.
void DisplayTest::pcapngBesideTheCaptureFileWhenAsked()
{
    QFETCH(bool, asked);
    WindowFixture w(asked ? "[Wireshark]\r\nPcapng=1\r\n" : "");
    TForm1& f = *w.form;
    control<QCheckBox>(f, "Chk_VystupDoSouboru")->setChecked(true);
    w.Click(control<QPushButton>(f, "Btn_TestKomunikace"));
    w.Receive(Poll);
    w.Receive(Bytes(ReadRequest.begin(), ReadRequest.begin() + 4));
    w.Receive(Bytes(ReadRequest.begin() + 4, ReadRequest.end()));
    w.Click(control<QPushButton>(f, "Btn_TestKomunikace"));
    w.Click(control<QPushButton>(f, "Button4"));
    f.close();

    QCOMPARE(w.CaptureLines().size(), 6); // three queued lines, three chunks
    const QString pcapng = w.dir.filePath(QStringLiteral("incoming-live.pcapng"));
    QCOMPARE(QFile::exists(pcapng), asked);
    if (!asked)
        return;
    QFile file(pcapng);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith(QByteArray::fromHex("0a0d0d0a")));
    Bytes sent = ReadRequest;
    sent.insert(sent.begin(), 0xFF);
    const std::vector<PcapngPacket> packets = PcapngPackets(bytes);
    QCOMPARE(packets.size(), size_t(4));
    QCOMPARE(packets[0].bytes, Poll);
    QCOMPARE(packets[0].flags & 3u, 1u); // inbound
    QCOMPARE(packets[1].bytes, sent);
    QCOMPARE(packets[1].flags & 3u, 2u); // outbound
    QCOMPARE(packets[2].bytes, ReadRequest);
    QCOMPARE(packets[3].bytes, sent);
    QCOMPARE(packets[3].flags & 3u, 2u);
}

void DisplayTest::pcapngGoesOnlyIntoARegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a fifo, whose reader comes late and goes") << QStringLiteral("fifo");
    QTest::newRow("a directory") << QStringLiteral("directory");
}

// What lies at incoming-live.pcapng is opened only if it is a regular file: nothing waits for a
// fifo's reader or dies when the reader goes, and every chunk it did not get is counted in the
// status bar, as for the capture file's lines, which go on as usual.
void DisplayTest::pcapngGoesOnlyIntoARegularFile()
{
    QFETCH(QString, kind);
    WindowFixture w("[Wireshark]\r\nPcapng=1\r\n");
    const QByteArray path =
        QFile::encodeName(w.dir.filePath(QStringLiteral("incoming-live.pcapng")));
    pid_t reader = -1;
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        reader = ::fork();
        if (reader == 0) { // comes after 2 s, reads a little, goes
            ::sleep(2);
            const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK);
            ::usleep(300000);
            char buffer[64];
            (void)!::read(fd, buffer, sizeof buffer);
            ::_exit(0);
        }
    } else {
        QVERIFY(QDir().mkdir(QString::fromLocal8Bit(path)));
    }
    w.Control<QCheckBox>("Chk_VystupDoSouboru")->setChecked(true);
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer took;
        took.start();
        w.Receive(Poll);
        QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
        QTest::qWait(400); // past the reader's coming and going
    }
    const QLabel* notice = w.Control<QLabel>("StatusBar1Prehled");
    QTRY_COMPARE(notice->text(), QStringLiteral("Výstup do souboru: ztracené řádky 3"));
    QCOMPARE(w.CaptureLines().size(), 3);
    w.form->close();
    if (reader > 0) {
        ::kill(reader, SIGKILL);
        ::waitpid(reader, nullptr, 0);
    }
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    DisplayTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "display_test.moc"
