// The overview in the main window: the counters and the queue list against what the link
// does, the panel's and the time stamps' choices in the settings file, time stamps in the
// memos, and the status-bar notices of lost capture lines and an unreadable settings file.
#include "console/buspanel.h"
#include "tests/support/lock_holder.h"
#include "tests/support/window_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>

using namespace qtr290;
using namespace qtr290::test;

namespace {

const Bytes DamagedHeader = {0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5E, 0x01, 0x57, 0x01, 0x00, 0xA7};
const Bytes DamagedBlock = {0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5D, 0x01, 0x57, 0x01, 0x00, 0xA8};

const char* const CounterNames[] = {"Lbl_StatTelegramy",     "Lbl_StatVyzvy",    "Lbl_StatOdpovedi",
                                    "Lbl_StatChybyHlavicky", "Lbl_StatChybyDat", "Lbl_StatOdeslano",
                                    "Lbl_StatFronta",        "Lbl_StatBajty"};

// The counters' texts in the order of CounterNames.
QStringList Counters(const TForm1& f)
{
    QStringList texts;
    for (const char* name : CounterNames)
        texts << f.findChild<QLabel*>(QLatin1String(name))->text();
    return texts;
}

QStringList Items(const QListWidget* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

QString Notice(const TForm1& f)
{
    const QLabel* notice = control<QLabel>(f, "StatusBar1Prehled");
    return notice->isVisible() ? notice->text() : QString();
}

} // namespace

class OverviewWindowTest : public QObject {
    Q_OBJECT

private slots:
    void panelAndStampsAreKeptInTheirOwnSection();
    void countersAndQueueFollowTheLinkWhateverIsShown();
    void timeStamps_data();
    void timeStamps();
    void problemsAreNotedInTheStatusBarWithoutADialog();
};

void OverviewWindowTest::panelAndStampsAreKeptInTheirOwnSection()
{
    WindowFixture w;
    auto* panel = w.Control<QWidget>("Pnl_Prehled");
    auto* panelBox = w.Control<QCheckBox>("Chk_Prehled");
    auto* stamps = w.Control<QCheckBox>("Chk_CasoveZnacky");
    // A first start: the panel hidden, its check box in sight, the window at its plain size.
    QVERIFY(!panel->isVisible() && panelBox->isVisible() && !panelBox->isChecked());
    QVERIFY(!stamps->isChecked());
    const QSize plain = w.form->size();
    for (const char* name : CounterNames)
        QCOMPARE(w.Control<QLabel>(name)->accessibleDescription(), QLatin1String(name));
    QCOMPARE(Counters(*w.form), QStringList(8, QStringLiteral("0")));
    w.form->close();
    QCOMPARE(w.Written("Prehled", "Zobrazit"), std::string("<missing>"));
    QCOMPARE(w.Written("Prehled", "Casove znacky"), std::string("<missing>"));

    // Shown on request, beside the other controls; the window grows with it.
    w.Open(WindowFixture::ScriptedLine);
    panel = w.Control<QWidget>("Pnl_Prehled");
    QCOMPARE(w.form->size(), plain);
    w.Click(w.Control<QCheckBox>("Chk_Prehled"));
    w.Click(w.Control<QCheckBox>("Chk_CasoveZnacky"));
    QVERIFY(panel->isVisible());
    QVERIFY(panel->mapTo(w.form.get(), QPoint(0, 0)).x() >
            w.Control<QWidget>("Button1")->mapTo(w.form.get(), QPoint(0, 0)).x());
    QVERIFY(w.form->width() > plain.width() + 200);
    w.form->close();
    QCOMPARE(w.Written("Prehled", "Zobrazit"), std::string("1"));
    QCOMPARE(w.Written("Prehled", "Casove znacky"), std::string("1"));

    // Kept; hidden again, the window is back at its plain size and the key says so.
    w.Open(WindowFixture::ScriptedLine);
    QVERIFY(w.Control<QWidget>("Pnl_Prehled")->isVisible());
    QVERIFY(w.Control<QCheckBox>("Chk_CasoveZnacky")->isChecked());
    w.Click(w.Control<QCheckBox>("Chk_Prehled"));
    QVERIFY(!w.Control<QWidget>("Pnl_Prehled")->isVisible());
    QCOMPARE(w.form->size(), plain);
    w.form->close();
    QCOMPARE(w.Written("Prehled", "Zobrazit"), std::string("0"));
}

// Five sends at once and a poll put six requests on the bus, as the queue works; the panel shows
// why: one pending telegram sent six times, removed by the reply. Nothing is shown in Memo1
// (filter and hidden polls), nor in the panel until it is shown, yet everything is counted.
void OverviewWindowTest::countersAndQueueFollowTheLinkWhateverIsShown()
{
    WindowFixture w;
    TForm1& f = *w.form;
    control<QCheckBox>(f, "Chk_Filtr")->setChecked(true);
    control<QLineEdit>(f, "Edt_FiltrOd")->setText(QStringLiteral("77"));
    control<QCheckBox>(f, "Chk_NezobrazujVyzvy")->setChecked(true);

    for (int i = 0; i < 5; ++i)
        w.Click(control<QPushButton>(f, "Button4"));
    w.Receive(Poll);
    w.Receive(DamagedHeader);
    w.Receive(DamagedBlock);
    const Bytes reply = {0xA6, 0xF0, 0x00, 0x0B, 0x05, 0x5A, 0x01,
                         0x57, 0x01, 0x00, 0x56, 0x3E, 0x13};
    w.Receive(reply);
    const int bytes = int(Poll.size() + DamagedHeader.size() + DamagedBlock.size() + reply.size());

    QCOMPARE(Lines(control<LineMemo>(f, "Memo1")),
             (QStringList{"Vadne CRC dat", "Vadne CRC hlavicky"}));
    QCOMPARE(Lines(control<LineMemo>(f, "Memo3")).size(), 6);
    // Counted while the panel was hidden; shown, it has the figures at once.
    w.Click(w.Control<QCheckBox>("Chk_Prehled"));
    QTRY_COMPARE(Counters(f),
                 (QStringList{"2", "1", "1", "1", "1", "6", "4", QString::number(bytes)}));
    // Each counter shows its number as a label of its size, font and colours would.
    for (const char* name : CounterNames) {
        const QLabel* counter = control<QLabel>(f, name);
        QLabel label(counter->text());
        label.setTextFormat(Qt::PlainText);
        label.setAlignment(counter->alignment());
        QFont shaped = counter->font();
        shaped.setStyleStrategy(QFont::PreferDefault);
        label.setFont(shaped);
        label.setPalette(counter->palette());
        label.setAutoFillBackground(true);
        label.setFixedSize(counter->size());
        QCOMPARE(const_cast<QLabel*>(counter)->grab().toImage(), label.grab().toImage());
    }
    // The lists follow at their slower pace.
    QTRY_COMPARE(control<QListWidget>(f, "Lst_ZaznamFronty")->count(), 1);
    const QStringList pending = Items(control<QListWidget>(f, "Lst_Fronta"));
    QCOMPARE(pending.size(), 4);
    for (const QString& item : pending)
        QCOMPARE(item.section(QLatin1Char('\n'), 0, 1),
                 QStringLiteral("Čtení RAM290 0x000000 ×1 → 00\nneodesláno"));
    const QStringList log = Items(control<QListWidget>(f, "Lst_ZaznamFronty"));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} Čtení RAM290 "
                                               "0x000000 ×1 → 00\nodebrán odpovědí po \\d+ ms "
                                               "\\(odesláno 6×\\)$"))
                 .match(log[0])
                 .hasMatch(),
             qPrintable(log[0]));

    w.Click(control<QPushButton>(f, "Btn_StatVynulovat"));
    QTRY_COMPARE(Counters(f), (QStringList{"0", "0", "0", "0", "0", "0", "4", "0"}));
    w.Click(control<QPushButton>(f, "Btn_TestKomunikace")); // clears the four, queues its own read
    QTRY_COMPARE(control<QListWidget>(f, "Lst_Fronta")->count(), 1);
    QCOMPARE(Counters(f)[6], QStringLiteral("1"));
    QCOMPARE(control<QListWidget>(f, "Lst_ZaznamFronty")->count(), 5);
    QVERIFY(control<QListWidget>(f, "Lst_ZaznamFronty")
                ->item(0)
                ->text()
                .endsWith(QStringLiteral("\nvymazán (Vymaž buffer/START)")));
    QVERIFY(w.messages.empty());
}

void OverviewWindowTest::timeStamps_data()
{
    QTest::addColumn<bool>("on");
    QTest::newRow("off") << false;
    QTest::newRow("on") << true;
}

// Off, the memos hold exactly what they always did; on, each entry's first line begins with
// its chunk's time, and received telegrams after the first with the gap since the previous.
void OverviewWindowTest::timeStamps()
{
    QFETCH(bool, on);
    WindowFixture w;
    TForm1& f = *w.form;
    w.Select(control<TRadioGroup>(f, "Rgp_Razeni"), 1);
    control<QLineEdit>(f, "Edt_PocetBytu")->setText(QStringLiteral("4"));
    f.Edt_PocetBytuExit();
    if (on)
        w.Click(control<QCheckBox>(f, "Chk_CasoveZnacky"));
    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));

    w.Receive(ReadRequest); // drops the pending request
    QTest::qWait(30);
    w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
    Bytes chunk = Poll;
    chunk.insert(chunk.end(), DamagedBlock.begin(), DamagedBlock.end());
    w.Receive(chunk);
    w.Click(control<QPushButton>(f, "Button4"));

    const QString time = on ? QStringLiteral("(\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) ") : QString();
    const QString gap = on ? QStringLiteral("\\+(\\d+) ms ") : QString();
    const QStringList memo1 = {time + "A6 00 F0 0A ",       "03 5D 01 57 ", "01 00 A7 ",
                               time + gap + "A6 F0 01 00 ", "00 69 01 FF ", "",
                               time + "Vadne CRC dat"};
    // 12 bytes fill their last line of 4: an empty line follows.
    const QStringList memo3 = {time + "FF A6 00 F0 ", "0A 03 5D 01 ", "00 00 00 FF ", "",
                               time + "FF A6 00 F0 ", "0A 03 5D 01 ", "00 00 00 FF ", ""};
    const QStringList lines1 = Lines(control<LineMemo>(f, "Memo1"));
    const QStringList lines3 = Lines(control<LineMemo>(f, "Memo3"));
    QCOMPARE(lines1.size(), memo1.size());
    QCOMPARE(lines3.size(), memo3.size());
    QList<QTime> times;
    qint64 shownGap = -1;
    for (const auto& [lines, patterns] : {std::pair{lines1, memo1}, std::pair{lines3, memo3}}) {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const auto match =
                QRegularExpression(QLatin1Char('^') + patterns[i] + '$').match(lines[i]);
            QVERIFY2(match.hasMatch(), qPrintable(lines[i] + " / " + patterns[i]));
            if (on && patterns[i].startsWith(time))
                times << QTime::fromString(match.captured(1), QStringLiteral("hh:mm:ss.zzz"));
            if (on && patterns[i].contains(gap))
                shownGap = match.captured(2).toLongLong();
        }
    }
    if (!on)
        return;
    // The gap is the time between the two chunks; the poll's answer has its chunk's time.
    QCOMPARE(times.size(), 5);
    QCOMPARE(shownGap, qint64(times[0].msecsTo(times[1])));
    QVERIFY(shownGap >= 30);
    QCOMPARE(times[1], times[2]);
    QCOMPARE(times[3], times[1]);
    QVERIFY(times[4] >= times[3]);
}

// Capture lines lost while another program holds the file are counted, and an unreadable
// settings file is named and left as it is; no message box either way.
void OverviewWindowTest::problemsAreNotedInTheStatusBarWithoutADialog()
{
    WindowFixture w;
    TForm1& f = *w.form;
    control<QCheckBox>(f, "Chk_VystupDoSouboru")->setChecked(true);
    QCOMPARE(control<QCheckBox>(f, "Chk_VystupDoSouboru")->toolTip(),
             QDir::toNativeSeparators(w.CapturePath()));
    {
        LockHolder holder(w.CapturePath());
        QVERIFY(holder.Locked());
        w.Receive({0x02});
        w.Click(control<QPushButton>(f, "Btn_PosliTLG")); // its "Cteni dat" line is lost as well
        w.Receive({0x03});
    }
    w.Receive({0x04});
    QCOMPARE(w.CaptureLines().size(), 1);
    w.Click(
        control<QCheckBox>(f, "Chk_Prehled")); // the notice is the status bar's, panel shown or not
    QTRY_COMPARE(Notice(f), QStringLiteral("Výstup do souboru: ztracené řádky 3"));
    QVERIFY(control<QLabel>(f, "StatusBar1Prehled")
                ->toolTip()
                .contains(QDir::toNativeSeparators(w.CapturePath())));
    w.Click(control<QPushButton>(f, "Btn_StatVynulovat"));
    QTRY_COMPARE(Notice(f), QString());

    QVERIFY(QDir(w.dir.path()).mkdir(QStringLiteral("nastaveni.ini")));
    w.Open(WindowFixture::Absent);
    QCOMPARE(Notice(*w.form),
             QStringLiteral("Nastavení nelze přečíst: platí výchozí, soubor se nepřepíše"));
    QCOMPARE(w.Control<QLabel>("StatusBar1Prehled")->toolTip(),
             QDir::toNativeSeparators(w.SettingsPath()));
    QVERIFY2(w.Status().startsWith(QStringLiteral("COM1")), qPrintable(w.Status()));
    w.form->close();
    QVERIFY(QFileInfo(w.SettingsPath()).isDir());
    QCOMPARE(w.Count(MessageKind::Error), 0);
}

QTEST_MAIN(OverviewWindowTest)
#include "overview_window_test.moc"
