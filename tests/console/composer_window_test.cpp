// The telegram composer of the main window: the fields it shows while the operator types,
// the data line's keys, and what the send buttons put into the link's queue and on the line.
#include "app/application.h"
#include "tests/support/window_fixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace qtr290;
using namespace qtr290::test;

namespace {

const char* const ComposerEdits[] = {"Edt_Sync",  "Edt_To",      "Edt_From",     "Edt_Dev",
                                     "Edt_RW",    "Edt_CRCHead", "Edt_DataLen",  "Edt_Addr1",
                                     "Edt_Addr2", "Edt_Addr3",   "Edt_CRCWrite", "Edt_CRCTLG"};

QLineEdit* Edit(TForm1& f, const QString& name)
{
    return f.findChild<QLineEdit*>(name);
}

// Types into an edit as the operator would after selecting its whole text.
void Retype(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    else
        QTest::keyClicks(edit, text);
}

void TypeData(TForm1& f, const QString& text)
{
    control<QComboBox>(f, "Cmb_Data")->lineEdit()->selectAll();
    if (text.isEmpty())
        QTest::keyClick(control<QComboBox>(f, "Cmb_Data"), Qt::Key_Backspace);
    else
        QTest::keyClicks(control<QComboBox>(f, "Cmb_Data"), text);
}

QMap<QString, QString> Snapshot(TForm1& f)
{
    QMap<QString, QString> texts;
    for (const char* name : ComposerEdits)
        texts[QLatin1String(name)] = Edit(f, QLatin1String(name))->text();
    texts[QStringLiteral("Lbl_PocetBytu")] = control<QLabel>(f, "Lbl_PocetBytu")->text();
    return texts;
}

// The composer fields that are marked as not saying the byte sent, with their tooltips.
QMap<QString, QString> Marks(TForm1& f)
{
    QMap<QString, QString> marks;
    for (const char* name : ComposerEdits) {
        QLineEdit* edit = Edit(f, QLatin1String(name));
        const bool warned = edit->palette().color(QPalette::Text) !=
                            QApplication::palette(edit).color(QPalette::Text);
        if (warned || !edit->toolTip().isEmpty())
            marks[QLatin1String(name)] = warned ? edit->toolTip() : QStringLiteral("(no colour)");
    }
    return marks;
}

Bytes WithLead(const Bytes& telegram)
{
    Bytes bytes = telegram;
    bytes.insert(bytes.begin(), 0xFF);
    return bytes;
}

} // namespace

class ComposerWindowTest : public QObject {
    Q_OBJECT

private slots:
    void stateAfterStartUp();
    void shownFields_data();
    void shownFields();
    void dataLineKeys();
    void shownFieldsThatDifferFromTheTelegramAreMarked_data();
    void shownFieldsThatDifferFromTheTelegramAreMarked();
    void writeWithAHandEditedCountGoesOutAtThePoll();
    void writeAboveTheQueueLimitIsRefused();
    void sendNowAlwaysSendsTheOldestOnAPseudoTerminal();
    void framWriteGoesOutAtThePollOnAPseudoTerminal();
    void startQueuesTheTestRead_data();
    void startQueuesTheTestRead();
    void sendNow_data();
    void sendNow();
    void clearingTheQueueLeavesThePollUnanswered();
};

void ComposerWindowTest::stateAfterStartUp()
{
    WindowFixture w;
    TForm1& f = *w.form;
    QCOMPARE(control<QLineEdit>(f, "Edt_Dev")->text(), QStringLiteral("0A"));
    QCOMPARE(control<QLineEdit>(f, "Edt_RW")->text(), QStringLiteral("03"));
    QCOMPARE(control<QLineEdit>(f, "Edt_CRCHead")->text(), QStringLiteral("5D"));
    QCOMPARE(control<QLineEdit>(f, "Edt_DataLen")->text(), QStringLiteral("01"));
    QCOMPARE(control<QLabel>(f, "Lbl_PocetBytu")->text(), QStringLiteral("1"));
    QCOMPARE(control<QLineEdit>(f, "Edt_CRCWrite")->text(), QStringLiteral("CD"));
    QVERIFY(!control<QLineEdit>(f, "Edt_CRCWrite")->isEnabled());
    QCOMPARE(control<QLineEdit>(f, "Edt_CRCTLG")->text(), QStringLiteral("FF"));
    QCOMPARE(control<QComboBox>(f, "Cmb_Data")->currentText(), QStringLiteral("00"));
    QCOMPARE(f.ComposerData(), Bytes{0x00});
    QCOMPARE(f.AreaCode(), std::uint8_t(0));
}

void ComposerWindowTest::shownFields_data()
{
    QTest::addColumn<int>("area");
    QTest::addColumn<int>("kind"); // 0 read, 1 write; 2, 3 the same after a switch
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("dataLen"); // typed after the data line; empty: left alone
    // Device, R/W, header CRC, DataLen, byte count, CRC8, CRC8 enabled ("1"), block CRC
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("FRAM write of 12 34")
        << 1 << 1 << "12 34"
        << "" << QStringList{"9A", "06", "CA", "02", "2", "87", "1", "D9"};
    QTest::newRow("three bytes, read")
        << 0 << 0 << "AA BB CC"
        << "" << QStringList{"0A", "03", "5D", "03", "3", "F5", "0", "A5"};
    QTest::newRow("three bytes, write")
        << 0 << 1 << "AABBCC"
        << "" << QStringList{"8A", "07", "D9", "03", "3", "F5", "1", "7F"};
    // Kind 2: typed as a read, then switched to a write; 3: the other way round.
    QTest::newRow("three bytes, switched to write")
        << 0 << 2 << "AA BB CC"
        << "" << QStringList{"8A", "07", "D9", "03", "3", "F5", "1", "7F"};
    QTest::newRow("three bytes, switched to read")
        << 0 << 3 << "AA BB CC"
        << "" << QStringList{"0A", "03", "5D", "03", "3", "F5", "0", "A5"};
    QTest::newRow("empty data line, write")
        << 0 << 1 << ""
        << "" << QStringList{"8A", "04", "DC", "00", "0", "C5", "1", "E3"};
    QTest::newRow("hand-edited DataLen")
        << 0 << 1 << "1234"
        << "05" << QStringList{"8A", "06", "DA", "05", "2", "02", "1", "5B"};
    // 256 data bytes: the counts are shown whole; DataLen reads back by its last two digits.
    QTest::newRow("256 bytes, write") << 0 << 1 << QString(512, QLatin1Char('e')) << ""
                                      << QStringList{"8A", "104", "DC", "100", "256", "", "1", ""};
    QTest::newRow("odd digit count") << 0 << 0 << "1 23"
                                     << "" << QStringList{"0A", "03", "5D", "02", "2", "", "0", ""};
}

void ComposerWindowTest::shownFields()
{
    QFETCH(int, area);
    QFETCH(int, kind);
    QFETCH(QString, data);
    QFETCH(QString, dataLen);
    QFETCH(QStringList, shown);

    WindowFixture w;
    TForm1& f = *w.form;
    Retype(control<QLineEdit>(f, "Edt_Addr1"), QStringLiteral("57"));
    Retype(control<QLineEdit>(f, "Edt_Addr2"), QStringLiteral("01"));
    w.Select(control<TRadioGroup>(f, "Rgp_Zarizeni"), area);
    w.Select(control<TRadioGroup>(f, "Rgp_druhTLG"), kind >= 2 ? kind - 2 : kind);
    TypeData(f, data);
    if (kind >= 2)
        w.Select(control<TRadioGroup>(f, "Rgp_druhTLG"), 3 - kind);
    const Bytes parsed = f.ComposerData();
    if (!dataLen.isEmpty())
        Retype(control<QLineEdit>(f, "Edt_DataLen"), dataLen);

    QCOMPARE(control<QLineEdit>(f, "Edt_Dev")->text(), shown[0]);
    QCOMPARE(control<QLineEdit>(f, "Edt_RW")->text(), shown[1]);
    QCOMPARE(control<QLineEdit>(f, "Edt_CRCHead")->text(), shown[2]);
    QCOMPARE(control<QLineEdit>(f, "Edt_DataLen")->text(), shown[3]);
    QCOMPARE(control<QLabel>(f, "Lbl_PocetBytu")->text(), shown[4]);
    if (!shown[5].isEmpty())
        QCOMPARE(control<QLineEdit>(f, "Edt_CRCWrite")->text(), shown[5]);
    QCOMPARE(control<QLineEdit>(f, "Edt_CRCWrite")->isEnabled(), shown[6] == "1");
    if (!shown[7].isEmpty())
        QCOMPARE(control<QLineEdit>(f, "Edt_CRCTLG")->text(), shown[7]);
    // A hand-edited count leaves the data alone.
    QCOMPARE(f.ComposerData(), parsed);
    QCOMPARE(f.AreaCode(), std::uint8_t(area * 0x10));
    if (data == "1 23")
        QCOMPARE(f.ComposerData(), (Bytes{0x12, 0x03}));
}

void ComposerWindowTest::dataLineKeys()
{
    WindowFixture w;
    TForm1& f = *w.form;
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    control<QComboBox>(f, "Cmb_Data")->setFocus();
    QCOMPARE(QApplication::focusWidget(), control<QComboBox>(f, "Cmb_Data"));

    // Only hex digits, space and backspace get in: g and minus change nothing.
    TypeData(f, QStringLiteral("1g-2 aB+x"));
    QCOMPARE(control<QComboBox>(f, "Cmb_Data")->currentText(), QStringLiteral("12 aB"));
    QCOMPARE(f.ComposerData(), (Bytes{0x12, 0xAB}));
    QTest::keyClick(control<QComboBox>(f, "Cmb_Data"), Qt::Key_Backspace);
    QCOMPARE(control<QComboBox>(f, "Cmb_Data")->currentText(), QStringLiteral("12 a"));
    QCOMPARE(control<QLabel>(f, "Lbl_PocetBytu")->text(), QStringLiteral("2"));
    QTest::keyClicks(control<QComboBox>(f, "Cmb_Data"), QStringLiteral("B"));

    // Enter moves the focus on, and leaving puts the text into the list, every time.
    QTest::keyClick(control<QComboBox>(f, "Cmb_Data"), Qt::Key_Return);
    QVERIFY(QApplication::focusWidget() != control<QComboBox>(f, "Cmb_Data"));
    QCOMPARE(control<QComboBox>(f, "Cmb_Data")->count(), 1);
    QCOMPARE(control<QComboBox>(f, "Cmb_Data")->itemText(0), QStringLiteral("12 aB"));
    control<QComboBox>(f, "Cmb_Data")->setFocus();
    QTest::keyClick(control<QComboBox>(f, "Cmb_Data"), Qt::Key_Enter);
    QCOMPARE(control<QComboBox>(f, "Cmb_Data")->count(), 2);
    QCOMPARE(control<QComboBox>(f, "Cmb_Data")->itemText(1), QStringLiteral("12 aB"));
    QCOMPARE(control<QComboBox>(f, "Cmb_Data")->currentText(), QStringLiteral("12 aB"));

    // Choosing an entry brings its bytes back.
    control<QComboBox>(f, "Cmb_Data")->setFocus();
    TypeData(f, QStringLiteral("34"));
    QCOMPARE(f.ComposerData(), Bytes{0x34});
    QTest::keyClick(control<QComboBox>(f, "Cmb_Data"), Qt::Key_Down);
    QCOMPARE(control<QComboBox>(f, "Cmb_Data")->currentText(), QStringLiteral("12 aB"));
    QCOMPARE(f.ComposerData(), (Bytes{0x12, 0xAB}));
    QCOMPARE(control<QLineEdit>(f, "Edt_DataLen")->text(), QStringLiteral("02"));

    // Choosing the entry that is already the text runs the change handler all the same:
    // a hand-edited DataLen goes back to the entry's byte count.
    Retype(control<QLineEdit>(f, "Edt_DataLen"), QStringLiteral("07"));
    control<QComboBox>(f, "Cmb_Data")->showPopup();
    QAbstractItemView* list = control<QComboBox>(f, "Cmb_Data")->view();
    QVERIFY(QTest::qWaitForWindowExposed(list->window()));
    list->setCurrentIndex(list->model()->index(1, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(control<QComboBox>(f, "Cmb_Data")->currentText(), QStringLiteral("12 aB"));
    QCOMPARE(control<QLineEdit>(f, "Edt_DataLen")->text(), QStringLiteral("02"));
}

void ComposerWindowTest::shownFieldsThatDifferFromTheTelegramAreMarked_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("crcHead");
    // Marked fields as "name=byte sent"; the header CRC shown follows the typed text.
    QTest::addColumn<QStringList>("marked");
    QTest::addColumn<Bytes>("queued");

    // Sync, Device and R/W only show: typing into them changes the header CRC, not the telegram.
    QTest::newRow("Sync") << "Edt_Sync"
                          << "a5"
                          << "5E" << QStringList{"Edt_Sync=A6", "Edt_CRCHead=5D"} << ReadRequest;
    QTest::newRow("Device") << "Edt_Dev"
                            << "ff"
                            << "68" << QStringList{"Edt_Dev=0A", "Edt_CRCHead=5D"} << ReadRequest;
    QTest::newRow("R/W") << "Edt_RW"
                         << "07"
                         << "59" << QStringList{"Edt_RW=03", "Edt_CRCHead=5D"} << ReadRequest;
    QTest::newRow("block CRC") << "Edt_CRCTLG"
                               << "00"
                               << "5D" << QStringList{"Edt_CRCTLG=A7"} << ReadRequest;
    // An input that is no plain hex byte is read by its last two characters.
    QTest::newRow("To with a letter g")
        << "Edt_To"
        << "g1"
        << "5C" << QStringList{"Edt_To=01"}
        << Bytes{0xA6, 0x01, 0xF0, 0x0A, 0x03, 0x5C, 0x01, 0x57, 0x01, 0x00, 0xA7};
    QTest::newRow("lower case Sync says the same") << "Edt_Sync"
                                                   << "a6"
                                                   << "5D" << QStringList{} << ReadRequest;
    QTest::newRow("one digit says the byte") << "Edt_Addr3"
                                             << "0"
                                             << "5D" << QStringList{} << ReadRequest;
}

// Nothing is asked: the request is queued as the link builds it, and the field that says
// something else is marked, its tooltip naming the byte that goes out.
void ComposerWindowTest::shownFieldsThatDifferFromTheTelegramAreMarked()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, crcHead);
    QFETCH(QStringList, marked);
    QFETCH(Bytes, queued);

    WindowFixture w;
    TForm1& f = *w.form;
    control<QCheckBox>(f, "Chk_VystupDoSouboru")->setChecked(true);
    Retype(control<QLineEdit>(f, "Edt_Addr1"), QStringLiteral("57"));
    Retype(control<QLineEdit>(f, "Edt_Addr2"), QStringLiteral("01"));
    QMap<QString, QString> expected = Snapshot(f);
    QVERIFY(Marks(f).isEmpty());
    Retype(Edit(f, field), text);
    expected[field] = text;
    expected[QStringLiteral("Edt_CRCHead")] = crcHead;
    QCOMPARE(Snapshot(f), expected);
    QMap<QString, QString> marks;
    for (const QString& mark : marked)
        marks[mark.section(QLatin1Char('='), 0, 0)] =
            QStringLiteral("Odešle se: ") + mark.section(QLatin1Char('='), 1);
    QCOMPARE(Marks(f), marks);

    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
    QCOMPARE(f.Link()->PendingCount(), size_t(1));
    QCOMPARE(f.Link()->OldestPending(), queued);
    QCOMPARE(w.CaptureLines().size(), 1);
    QVERIFY(w.messages.empty());
}

// A hand-typed Sync and a Count above the data line: queued without a word, and the poll
// carries what the link builds: Count 3, the unstaged third byte 00, checksums over that.
void ComposerWindowTest::writeWithAHandEditedCountGoesOutAtThePoll()
{
    WindowFixture w;
    TForm1& f = *w.form;
    control<QCheckBox>(f, "Chk_VystupDoSouboru")->setChecked(true);
    Retype(control<QLineEdit>(f, "Edt_Addr1"), QStringLiteral("57"));
    Retype(control<QLineEdit>(f, "Edt_Addr2"), QStringLiteral("01"));
    w.Select(control<TRadioGroup>(f, "Rgp_Zarizeni"), 1);
    w.Select(control<TRadioGroup>(f, "Rgp_druhTLG"), 1);
    TypeData(f, QStringLiteral("12 34"));
    Retype(control<QLineEdit>(f, "Edt_Sync"), QStringLiteral("A5"));
    Retype(control<QLineEdit>(f, "Edt_DataLen"), QStringLiteral("03"));
    const Bytes sent = {0xA6, 0x00, 0xF0, 0x9A, 0x07, 0xC9, 0x03, 0x57,
                        0x01, 0x00, 0x12, 0x34, 0x00, 0x32, 0x2D};
    // The previews cover the data line only; the marks tell what goes out instead.
    const QMap<QString, QString> marks = {{"Edt_Sync", "Odešle se: A6"},
                                          {"Edt_RW", "Odešle se: 07"},
                                          {"Edt_CRCHead", "Odešle se: C9"},
                                          {"Edt_CRCWrite", "Odešle se: 32"},
                                          {"Edt_CRCTLG", "Odešle se: 2D"}};
    QCOMPARE(Marks(f), marks);

    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
    QCOMPARE(f.Link()->OldestPending(), sent);
    QVERIFY(w.line->written.empty());
    w.Receive(Poll);
    QCOMPARE(w.line->written, WithLead(sent));
    QCOMPARE(Lines(control<LineMemo>(f, "Memo3")), QStringList{HexText(WithLead(sent))});
    QCOMPARE(w.CaptureLines().size(), 2); // the queued line and the poll's chunk
    QVERIFY(w.messages.empty());

    // A Count below the data line sends only the first Count bytes.
    Retype(control<QLineEdit>(f, "Edt_DataLen"), QStringLiteral("01"));
    w.Click(control<QPushButton>(f, "Btn_VymazBuffer"));
    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
    QCOMPARE(f.Link()->OldestPending(),
             (Bytes{0xA6, 0x00, 0xF0, 0x9A, 0x05, 0xCB, 0x01, 0x57, 0x01, 0x00, 0x12, 0x19, 0x7C}));
}

void ComposerWindowTest::writeAboveTheQueueLimitIsRefused()
{
    WindowFixture w;
    TForm1& f = *w.form;
    w.Click(control<QPushButton>(f, "Btn_TestKomunikace")); // an older telegram waits
    w.Select(control<TRadioGroup>(f, "Rgp_druhTLG"), 1);
    const QString refused = QStringLiteral("Počet dat je větší než 243 !\nTLG nebyl zařazen.");

    // 244 data bytes, and a count typed above the limit over two bytes.
    control<QComboBox>(f, "Cmb_Data")->setEditText(QString(2 * 244, QLatin1Char('a')));
    QCOMPARE(control<QLineEdit>(f, "Edt_DataLen")->text(), QStringLiteral("F4"));
    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
    TypeData(f, QStringLiteral("1234"));
    Retype(control<QLineEdit>(f, "Edt_DataLen"), QStringLiteral("F5"));
    w.Click(control<QPushButton>(f, "Button4"));

    QCOMPARE(w.messages.size(), size_t(2));
    for (const Message& m : w.messages) {
        QCOMPARE(m.kind, MessageKind::Warning);
        QCOMPARE(m.text, refused);
    }
    // Nothing joined the queue; "send now" still sent the oldest pending telegram.
    QCOMPARE(f.Link()->PendingCount(), size_t(1));
    QCOMPARE(f.Link()->OldestPending(), ReadRequest);
    QCOMPARE(w.line->written, WithLead(ReadRequest));
    QCOMPARE(Lines(control<LineMemo>(f, "Memo3")), QStringList{HexText(WithLead(ReadRequest))});
}

// "Send now" after a refused write and after a queued one: each time the oldest pending
// telegram goes on the line at once.
void ComposerWindowTest::sendNowAlwaysSendsTheOldestOnAPseudoTerminal()
{
    Pty pty;
    QVERIFY(pty.valid());
    WindowFixture w(pty.Settings(), WindowFixture::System);
    TForm1& f = *w.form;
    QVERIFY(f.Link()->SeriovyPort().Connected());
    w.Click(control<QPushButton>(f, "Btn_TestKomunikace"));
    w.Select(control<TRadioGroup>(f, "Rgp_druhTLG"), 1);
    control<QComboBox>(f, "Cmb_Data")->setEditText(QString(2 * 244, QLatin1Char('a')));
    w.Click(control<QPushButton>(f, "Button4"));
    QCOMPARE(w.messages.size(), size_t(1));
    QCOMPARE(ReceiveWhileRunning(pty, WithLead(ReadRequest).size()), WithLead(ReadRequest));

    TypeData(f, QStringLiteral("12 34"));
    w.Click(control<QPushButton>(f, "Button4"));
    QCOMPARE(f.Link()->PendingCount(), size_t(2));
    QCOMPARE(ReceiveWhileRunning(pty, WithLead(ReadRequest).size()), WithLead(ReadRequest));
    QCOMPARE(Lines(control<LineMemo>(f, "Memo3")),
             (QStringList{HexText(WithLead(ReadRequest)), HexText(WithLead(ReadRequest))}));
    QCOMPARE(w.messages.size(), size_t(1));
}

void ComposerWindowTest::framWriteGoesOutAtThePollOnAPseudoTerminal()
{
    Pty pty;
    QVERIFY(pty.valid());
    WindowFixture w(pty.Settings(), WindowFixture::System);
    TForm1& f = *w.form;
    QVERIFY(w.messages.empty());
    QVERIFY(f.Link()->SeriovyPort().Connected());

    Retype(control<QLineEdit>(f, "Edt_Addr1"), QStringLiteral("57"));
    Retype(control<QLineEdit>(f, "Edt_Addr2"), QStringLiteral("01"));
    w.Select(control<TRadioGroup>(f, "Rgp_Zarizeni"), 1);
    w.Select(control<TRadioGroup>(f, "Rgp_druhTLG"), 1);
    TypeData(f, QStringLiteral("12 34"));
    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
    QVERIFY(w.messages.empty());
    QCOMPARE(f.Link()->OldestPending(), WriteRequest);
    QTest::qWait(100);
    QVERIFY(pty.receive().empty()); // nothing goes out before a poll

    QVERIFY(pty.send(Poll));
    const Bytes expected = WithLead(WriteRequest);
    QCOMPARE(ReceiveWhileRunning(pty, expected.size()), expected);
    QCOMPARE(Lines(control<LineMemo>(f, "Memo3")), QStringList{HexText(expected)});
    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")), QStringList{PollText});
}

void ComposerWindowTest::startQueuesTheTestRead_data()
{
    QTest::addColumn<QString>("dataLen");
    QTest::addColumn<Bytes>("queued");
    QTest::addColumn<QString>("crcTlg");

    QTest::newRow("DataLen 01") << "01" << ReadRequest << "A7";
    QTest::newRow("DataLen 04") << "04" << Bytes{0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5D,
                                                 0x04, 0x57, 0x01, 0x00, 0xA4}
                                << "A4";
}

void ComposerWindowTest::startQueuesTheTestRead()
{
    QFETCH(QString, dataLen);
    QFETCH(Bytes, queued);
    QFETCH(QString, crcTlg);

    WindowFixture w;
    TForm1& f = *w.form;
    // Something else set up and queued before.
    Retype(control<QLineEdit>(f, "Edt_To"), QStringLiteral("12"));
    Retype(control<QLineEdit>(f, "Edt_Addr3"), QStringLiteral("44"));
    w.Select(control<TRadioGroup>(f, "Rgp_Zarizeni"), 3);
    w.Select(control<TRadioGroup>(f, "Rgp_druhTLG"), 1);
    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
    QCOMPARE(f.Link()->PendingCount(), size_t(2));
    Retype(control<QLineEdit>(f, "Edt_DataLen"), dataLen);
    Retype(control<QLineEdit>(f, "Edt_Sync"),
           QStringLiteral("A5")); // hand-typed: queued all the same

    w.Click(control<QPushButton>(f, "Btn_TestKomunikace"));
    QCOMPARE(f.Link()->PendingCount(), size_t(1));
    QCOMPARE(f.Link()->OldestPending(), queued);
    QCOMPARE(control<QLineEdit>(f, "Edt_To")->text(), QStringLiteral("00"));
    QCOMPARE(control<QLineEdit>(f, "Edt_From")->text(), QStringLiteral("F0"));
    QCOMPARE(control<QLineEdit>(f, "Edt_Addr1")->text() +
                 control<QLineEdit>(f, "Edt_Addr2")->text() +
                 control<QLineEdit>(f, "Edt_Addr3")->text(),
             QStringLiteral("570100"));
    QCOMPARE(control<TRadioGroup>(f, "Rgp_Zarizeni")->ItemIndex(), 0);
    QCOMPARE(control<TRadioGroup>(f, "Rgp_druhTLG")->ItemIndex(), 0);
    QCOMPARE(control<QLineEdit>(f, "Edt_Dev")->text(), QStringLiteral("0A"));
    QCOMPARE(control<QLineEdit>(f, "Edt_CRCHead")->text(), QStringLiteral("5E"));
    QCOMPARE(control<QLineEdit>(f, "Edt_CRCTLG")->text(), crcTlg);
    QVERIFY(!control<QLineEdit>(f, "Edt_CRCWrite")->isEnabled());
    QVERIFY(w.messages.empty());
    QVERIFY(w.line->written.empty()); // it waits for the poll
}

void ComposerWindowTest::sendNow_data()
{
    QTest::addColumn<bool>("olderPending");
    QTest::addColumn<Bytes>("sent");

    QTest::newRow("empty queue: the new telegram") << false << ReadRequest;
    // The oldest goes out; the new one waits behind it.
    QTest::newRow("older telegram pending: that one")
        << true << Bytes{0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5D, 0x04, 0x57, 0x01, 0x00, 0xA4};
}

void ComposerWindowTest::sendNow()
{
    QFETCH(bool, olderPending);
    QFETCH(Bytes, sent);

    WindowFixture w;
    TForm1& f = *w.form;
    w.Click(control<QPushButton>(f, "Btn_TestKomunikace"));
    if (olderPending) {
        Retype(control<QLineEdit>(f, "Edt_DataLen"), QStringLiteral("04"));
        w.Click(control<QPushButton>(f, "Btn_TestKomunikace"));
        Retype(control<QLineEdit>(f, "Edt_DataLen"), QStringLiteral("01"));
    } else {
        w.Click(control<QPushButton>(f, "Btn_VymazBuffer"));
    }
    w.Click(control<QPushButton>(f, "Button4"));

    QCOMPARE(w.line->written, WithLead(sent));
    QCOMPARE(Lines(control<LineMemo>(f, "Memo3")), QStringList{HexText(WithLead(sent))});
    // Sending does not remove it: it stays for the next poll until an answer drops it.
    QCOMPARE(f.Link()->OldestPending(), sent);
    QCOMPARE(f.Link()->PendingCount(), size_t(olderPending ? 2 : 1));
    QVERIFY(w.messages.empty());
}

void ComposerWindowTest::clearingTheQueueLeavesThePollUnanswered()
{
    WindowFixture w;
    TForm1& f = *w.form;
    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
    QCOMPARE(f.Link()->PendingCount(), size_t(2));
    w.Click(control<QPushButton>(f, "Btn_VymazBuffer"));
    QCOMPARE(f.Link()->PendingCount(), size_t(0));
    w.Receive(Poll);
    QVERIFY(w.line->written.empty());
    QVERIFY(Lines(control<LineMemo>(f, "Memo3")) == QStringList{QString()});
    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")), QStringList{PollText});
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    ComposerWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "composer_window_test.moc"
