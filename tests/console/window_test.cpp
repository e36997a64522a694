// The main window on the offscreen platform: start-up from the settings file, the port
// switch, shutdown, and the general error reporting. Ports are pseudo-terminals made
// here and named through the settings file's [Porty] section.
#include "app/application.h"
#include "console/main.h"
#include "settings/iniprofile.h"
#include "tests/support/window_fixture.h"
#include "widgets/radiogroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace qtr290;

namespace {

using test::Pty;
using Window = test::WindowFixture;
using test::Message;
using test::PortWarning;

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void firstStartWithoutSettingsFile();
    void controlsCarryTheirNamesTextsAndPlaces();
    void portSelection_data();
    void portSelection();
    void port256FailsToOpenAndIsKept();
    void missingDeviceIsNamedInTheStatusBar();
    void filterSwitch_data();
    void filterSwitch();
    void bytesPerLine_data();
    void bytesPerLine();
    void bytesPerLineIsReadWhenTheEditLosesFocus();
    void reconnectReopensTheSamePortAtTheNewBaudRate();
    void reconnectAfterAFailedStartAttachesTheReceiver();
    void nonNumericBaudRateIsReportedAndTheWindowRunsOn();
    void badSettingsFiles_data();
    void badSettingsFiles();
    void failedSettingsWriteKeepsTheOldFile();
    void filesFollowTheProgramDirectory_data();
    void filesFollowTheProgramDirectory();
    void settingsBesideAReadOnlyProgramStartTheUsersFile();
    void uncaughtErrorIsShownAndTheLoopRunsOn();
};

void WindowTest::firstStartWithoutSettingsFile()
{
    Window w({}, Window::Absent);
    TForm1& f = *w.form;
    QCOMPARE(test::control<QComboBox>(f, "Cmb_ComPort")->count(), 256);
    QCOMPARE(test::control<QComboBox>(f, "Cmb_ComPort")->itemText(0), QStringLiteral("COM1"));
    QCOMPARE(test::control<QComboBox>(f, "Cmb_ComPort")->itemText(255), QStringLiteral("COM256"));
    QCOMPARE(test::control<QComboBox>(f, "Cmb_ComPort")->currentText(), QStringLiteral("COM1"));
    QCOMPARE(test::control<QLineEdit>(f, "Edt_BaudRate")->text(), QStringLiteral("4800"));
    QVERIFY(!test::control<QCheckBox>(f, "Chk_Filtr")->isChecked());
    QCOMPARE(test::control<QLineEdit>(f, "Edt_FiltrOd")->text(), QStringLiteral("00"));
    QCOMPARE(test::control<QLineEdit>(f, "Edt_FiltrPro")->text(), QStringLiteral("3f"));
    QCOMPARE(test::control<QLineEdit>(f, "Edt_PocetBytu")->text(), QStringLiteral("32"));
    QCOMPARE(f.BytesPerLine(), 32);
    QCOMPARE(f.ProgramDir(), QDir::cleanPath(w.dir.path()));

    // The port was asked for by its Windows name, refused, and the operator warned once.
    QCOMPARE(w.Opened(), std::vector<std::string>{"\\\\.\\COM1"});
    QCOMPARE(w.messages.size(), size_t(1));
    QCOMPARE(w.messages[0].kind, MessageKind::Warning);
    QCOMPARE(w.messages[0].text, PortWarning);
    QVERIFY2(w.Status().startsWith(QStringLiteral("COM1")), qPrintable(w.Status()));

    QVERIFY(!QFile::exists(w.SettingsPath()));
    f.close();
    QCOMPARE(w.Settings(),
             std::string("[Seriovy port]\r\nPort=1\r\nBaud rate=4800\r\n\r\n"
                         "[Filtruj prichozi]\r\nZapnuto=0\r\nZarizeni=00\r\nAdresat=3f\r\n\r\n"
                         "[Program]\r\nPocet bytu na radku=32\r\n"));
    QVERIFY(!f.Link());
}

void WindowTest::controlsCarryTheirNamesTextsAndPlaces()
{
    Window w({}, Window::Absent);
    TForm1& f = *w.form;
    QCOMPARE(f.windowTitle(), QStringLiteral("Komunikační utilita QTR290 v0.5"));
    QVERIFY(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(f.windowFlags() & Qt::WindowMaximizeButtonHint));

    // Texts as created; the composer's derived fields are left to its own tests.
    const std::pair<const char*, QString> texts[] = {
        {"Button1", QStringLiteral("Smaž")},
        {"Button3", QStringLiteral("Smaž")},
        {"Rgp_Razeni", QStringLiteral("Řazení zpráv")},
        {"Rgp_Stav", QStringLiteral("Stav COM portu")},
        {"Rgp_PrijataData", QStringLiteral("Přijatá data:")},
        {"Chk_Filtr", QStringLiteral("Filtruj příchozí")},
        {"Chk_NezobrazujVyzvy", QStringLiteral("Nezobrazuj výzvy")},
        {"Chk_VystupDoSouboru", QStringLiteral("Výstup do souboru")},
        {"Edt_Sync", QStringLiteral("A6")},
        {"Edt_From", QStringLiteral("F0")},
        {"Rgp_Zarizeni", QStringLiteral("Druh čtení/zápisu")},
        {"Rgp_druhTLG", QStringLiteral("Druh TLG")},
        {"Btn_PosliTLG", QStringLiteral("Pošli TLG (po příchodu výzvy)")},
        {"Button4", QStringLiteral("Pošli TLG (nečekej na výzvu)")},
        {"Btn_VymazBuffer", QStringLiteral("Vymaž buffer")},
        {"Btn_TestKomunikace", QStringLiteral("START")},
    };
    for (const auto& [name, expected] : texts) {
        QWidget* widget = f.findChild<QWidget*>(QLatin1String(name));
        QVERIFY2(widget, name);
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(widget))
            text = b->text();
        else if (auto* e = qobject_cast<QLineEdit*>(widget))
            text = e->text();
        else if (auto* g = qobject_cast<QGroupBox*>(widget))
            text = g->title();
        QCOMPARE(text, expected);
    }
    const char* const names[] = {"Memo1",        "Button2",       "Memo3",         "Cmb_ComPort",
                                 "Edt_BaudRate", "Edt_PocetBytu", "Edt_FiltrOd",   "Edt_FiltrPro",
                                 "Edt_To",       "Edt_Dev",       "Edt_RW",        "Edt_CRCHead",
                                 "Edt_DataLen",  "Edt_Addr1",     "Edt_Addr3",     "Cmb_Data",
                                 "Edt_CRCWrite", "Edt_CRCTLG",    "Lbl_PocetBytu", "StatusBar1"};
    for (const char* name : names) {
        QWidget* widget = f.findChild<QWidget*>(QLatin1String(name));
        QVERIFY2(widget, name);
        QCOMPARE(widget->accessibleDescription(), QLatin1String(name));
    }

    QStringList areas;
    for (int i = 0; i < test::control<TRadioGroup>(f, "Rgp_Zarizeni")->Count(); ++i)
        areas << test::control<TRadioGroup>(f, "Rgp_Zarizeni")->Item(i)->text();
    QCOMPARE(areas,
             (QStringList{QStringLiteral("RAM290     =$00;"), QStringLiteral("FRAM290   =$10;"),
                          QStringLiteral("RTC290      =$20;"), QStringLiteral("FLASH290  =$30;"),
                          QStringLiteral("ROM290     =$40;"), QStringLiteral("FLROM290 =$50;"),
                          QStringLiteral("RAMBIT290=$60;")}));
    QCOMPARE(test::control<TRadioGroup>(f, "Rgp_Stav")->Item(1)->text(),
             QStringLiteral("Odpojeno"));
    QCOMPARE(test::control<TRadioGroup>(f, "Rgp_PrijataData")->Item(1)->text(),
             QStringLiteral("Nezobrazuj"));
    // The memos show; typing into one changes nothing.
    for (LineMemo* memo : {test::control<LineMemo>(f, "Memo1"), test::control<LineMemo>(f, "Memo2"),
                           test::control<LineMemo>(f, "Memo3")}) {
        // Hex digits line up from line to line, whatever the font declares of itself, and a
        // line of 32 bytes takes one row.
        memo->SetText(QStringLiteral("0123456789ABCDEF :.+\nFEDCBA9876543210+.: "));
        for (int column = 0; column <= 20; ++column)
            QCOMPARE(memo->CharacterRect(21 + column).left(), memo->CharacterRect(column).left());
        memo->SetText(QStringLiteral("A6 ").repeated(32));
        QCOMPARE(memo->RowCount(), 1);
        memo->SetText(QStringLiteral("A6 01"));
        QTest::keyClicks(memo, QStringLiteral("x\b"));
        QTest::keyClick(memo, Qt::Key_Delete);
        QCOMPARE(memo->Text(), QStringLiteral("A6 01"));
        memo->Clear();
    }

    // Labels that name an edit are its buddy.
    const std::pair<QString, QWidget*> buddies[] = {
        {QStringLiteral("Počet bytů na řádku"), test::control<QLineEdit>(f, "Edt_PocetBytu")},
        {QStringLiteral("Pro"), test::control<QLineEdit>(f, "Edt_FiltrPro")},
        {QStringLiteral("Address"), test::control<QLineEdit>(f, "Edt_Addr1")},
        {QStringLiteral("CRC8"), test::control<QLineEdit>(f, "Edt_CRCWrite")},
    };
    const auto labels = f.findChildren<QLabel*>();
    for (const auto& [text, buddy] : buddies) {
        const auto it = std::find_if(labels.begin(), labels.end(),
                                     [&](QLabel* l) { return l->text() == text; });
        QVERIFY2(it != labels.end(), qPrintable(text));
        QCOMPARE((*it)->buddy(), buddy);
    }

    // Top to bottom; the clear buttons beside their memos.
    const auto top = [&](QWidget* widget) { return widget->mapTo(&f, QPoint(0, 0)).y(); };
    QVERIFY(top(test::control<LineMemo>(f, "Memo1")) < top(test::control<LineMemo>(f, "Memo2")) &&
            top(test::control<LineMemo>(f, "Memo2")) < top(test::control<LineMemo>(f, "Memo3")));
    QVERIFY(top(test::control<LineMemo>(f, "Memo3")) <
                top(test::control<QComboBox>(f, "Cmb_ComPort")) &&
            top(test::control<QComboBox>(f, "Cmb_ComPort")) <
                top(test::control<QLineEdit>(f, "Edt_Sync")));
    QVERIFY(top(test::control<QLineEdit>(f, "Edt_Sync")) <
                top(test::control<TRadioGroup>(f, "Rgp_Zarizeni")) &&
            top(test::control<TRadioGroup>(f, "Rgp_Zarizeni")) <
                top(test::control<QStatusBar>(f, "StatusBar1")));
    QCOMPARE(top(test::control<QPushButton>(f, "Button2")),
             top(test::control<LineMemo>(f, "Memo2")));
    QVERIFY(test::control<QPushButton>(f, "Button2")->mapTo(&f, QPoint(0, 0)).x() >=
            test::control<LineMemo>(f, "Memo2")
                ->mapTo(&f, QPoint(test::control<LineMemo>(f, "Memo2")->width(), 0))
                .x());
}

void WindowTest::portSelection_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("written");

    QTest::newRow("hex 0x0A") << "0x0A" << 9 << "\\\\.\\COM10"
                              << "10";
    QTest::newRow("not a number") << "abc" << 0 << "\\\\.\\COM1"
                                  << "1";
    QTest::newRow("zero") << "0" << -1 << "\\\\.\\COM0"
                          << "0";
    QTest::newRow("above 256") << "300" << -1 << "\\\\.\\COM0"
                               << "0";
}

void WindowTest::portSelection()
{
    QFETCH(QString, port);
    QFETCH(int, index);
    QFETCH(QString, opened);
    QFETCH(QString, written);

    Window w("[Seriovy port]\r\nPort=" + port.toStdString() + "\r\n", Window::Absent);
    QCOMPARE(w.Control<QComboBox>("Cmb_ComPort")->currentIndex(), index);
    QCOMPARE(w.Opened(), std::vector<std::string>{opened.toStdString()});
    w.form->close();
    QCOMPARE(w.Written("Seriovy port", "Port"), written.toStdString());
}

void WindowTest::port256FailsToOpenAndIsKept()
{
    // The link's port number is one byte: COM256 becomes COM0, which has no device.
    Window w("[Seriovy port]\r\nPort=256\r\n", Window::System);
    QCOMPARE(w.Control<QComboBox>("Cmb_ComPort")->currentText(), QStringLiteral("COM256"));
    QCOMPARE(w.Port().PortName(), std::string("\\\\.\\COM0"));
    QVERIFY(!w.Port().Connected());
    QCOMPARE(w.messages.size(), size_t(1));
    QCOMPARE(w.messages[0].text, PortWarning);
    QVERIFY2(w.Status().contains(QStringLiteral("COM0: nemá přiřazené zařízení")),
             qPrintable(w.Status()));
    w.form->close();
    QCOMPARE(w.Written("Seriovy port", "Port"), std::string("256"));
}

void WindowTest::missingDeviceIsNamedInTheStatusBar()
{
    QTemporaryDir elsewhere;
    const QString missing = elsewhere.filePath(QStringLiteral("ttyUSB7"));
    Window w("[porty]\r\ncom3=" + missing.toStdString() + "\r\n[Seriovy port]\r\nPort=3\r\n",
             Window::System);
    QCOMPARE(w.messages.size(), size_t(1));
    QCOMPARE(w.messages[0].text, PortWarning);
    QCOMPARE(w.Status(),
             QStringLiteral("COM3 = %1: nelze otevřít, zařízení neexistuje").arg(missing));
    QCOMPARE(w.Control<QComboBox>("Cmb_ComPort")->itemData(2, Qt::ToolTipRole).toString(),
             QStringLiteral("COM3 = %1").arg(missing));

    // A new choice shows its device and waits for the next start.
    w.Control<QComboBox>("Cmb_ComPort")->setCurrentIndex(2 + 1);
    QVERIFY2(w.Status().endsWith(QStringLiteral("od příštího spuštění: COM4 = /dev/ttyS3")),
             qPrintable(w.Status()));
    w.form->close();
    QCOMPARE(w.Written("Seriovy port", "Port"), std::string("4"));
    QCOMPARE(w.Written("Porty", "COM3"), missing.toStdString());
}

void WindowTest::filterSwitch_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("written");

    QTest::newRow("5 checks") << "5" << true << "1";
    QTest::newRow("hex zero") << "$0" << false << "0";
    QTest::newRow("not a number") << "ano" << false << "0";
}

void WindowTest::filterSwitch()
{
    QFETCH(QString, value);
    QFETCH(bool, checked);
    QFETCH(QString, written);

    Window w("[Filtruj prichozi]\r\nZapnuto=" + value.toStdString() +
                 "\r\nZarizeni=F0\r\nAdresat= 01 \r\n",
             Window::Absent);
    QCOMPARE(w.Control<QCheckBox>("Chk_Filtr")->isChecked(), checked);
    QCOMPARE(w.Control<QLineEdit>("Edt_FiltrOd")->text(), QStringLiteral("F0"));
    QCOMPARE(w.Control<QLineEdit>("Edt_FiltrPro")->text(), QStringLiteral("01"));
    w.form->close();
    QCOMPARE(w.Written("Filtruj prichozi", "Zapnuto"), written.toStdString());
}

void WindowTest::bytesPerLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");

    QTest::newRow("hex") << "$10" << 16;
    QTest::newRow("not a number") << "abc" << 32;
    // A line needs at least one byte.
    QTest::newRow("zero") << "0" << 32;
}

void WindowTest::bytesPerLine()
{
    QFETCH(QString, text);
    QFETCH(int, count);

    Window w("[Program]\r\nPocet bytu na radku=" + text.toStdString() + "\r\n", Window::Absent);
    QCOMPARE(w.Control<QLineEdit>("Edt_PocetBytu")->text(), text);
    QCOMPARE(w.form->BytesPerLine(), count);
    QCOMPARE(w.Count(MessageKind::Error), 0);
    w.form->close();
    QCOMPARE(w.Written("Program", "Pocet bytu na radku"), text.toStdString());
}

void WindowTest::bytesPerLineIsReadWhenTheEditLosesFocus()
{
    Window w({}, Window::Absent);
    w.Control<QLineEdit>("Edt_PocetBytu")->setText(QStringLiteral("12"));
    QCOMPARE(w.form->BytesPerLine(), 32);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(w.Control<QLineEdit>("Edt_PocetBytu"), &focusOut);
    QCOMPARE(w.form->BytesPerLine(), 12);
    w.Control<QLineEdit>("Edt_PocetBytu")->setText(QStringLiteral("x"));
    QCoreApplication::sendEvent(w.Control<QLineEdit>("Edt_PocetBytu"), &focusOut);
    QCOMPARE(w.form->BytesPerLine(), 32);
    QCOMPARE(w.Control<QLineEdit>("Edt_PocetBytu")->text(), QStringLiteral("x"));
}

void WindowTest::reconnectReopensTheSamePortAtTheNewBaudRate()
{
    Pty pty;
    QVERIFY(pty.valid());
    Window w(pty.Settings(), Window::System);
    QVERIFY(w.messages.empty());
    QVERIFY(w.Port().Connected());
    QCOMPARE(w.Port().PortName(), std::string("\\\\.\\COM1"));
    QCOMPARE(w.Port().BaudRateValue(), 4800u);
    QCOMPARE(w.Status(),
             QStringLiteral("COM1 = %1: připojeno").arg(QString::fromStdString(pty.path())));

    // Bytes on the line reach the receive accumulator (too few to be framed).
    QVERIFY(pty.send({0x01, 0x02, 0x03}));
    QTRY_COMPARE(w.form->ReceiveBacklog(), size_t(3));

    w.Select(w.Control<TRadioGroup>("Rgp_Stav"), 1);
    QVERIFY(!w.Port().Connected());
    QCOMPARE(w.Status(),
             QStringLiteral("COM1 = %1: odpojeno").arg(QString::fromStdString(pty.path())));

    w.Control<QLineEdit>("Edt_BaudRate")->setText(QStringLiteral("9600"));
    w.Select(w.Control<TRadioGroup>("Rgp_Stav"), 0);
    QVERIFY(w.Port().Connected());
    QCOMPARE(w.Port().PortName(), std::string("\\\\.\\COM1"));
    QCOMPARE(w.Port().BaudRateValue(), 9600u);
    QCOMPARE(w.Status(),
             QStringLiteral("COM1 = %1: připojeno").arg(QString::fromStdString(pty.path())));
    QVERIFY(pty.send({0x04, 0x05}));
    QTRY_COMPARE(w.form->ReceiveBacklog(), size_t(5));
    QVERIFY(w.messages.empty());

    w.form->close();
    QCOMPARE(w.Written("Seriovy port", "Baud rate"), std::string("9600"));
    QCOMPARE(w.Written("Porty", "COM1"), pty.path());
}

void WindowTest::reconnectAfterAFailedStartAttachesTheReceiver()
{
    Pty pty;
    QVERIFY(pty.valid());
    // Another program holds the device.
    const int holder = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(holder >= 0);
    QCOMPARE(flock(holder, LOCK_EX | LOCK_NB), 0);

    Window w(pty.Settings(), Window::System);
    QCOMPARE(w.messages.size(), size_t(1));
    QCOMPARE(w.messages[0].text, PortWarning);
    QVERIFY(!w.Port().Connected());
    QVERIFY2(w.Status().endsWith(
                 QStringLiteral("nelze otevřít, port používá jiný program nebo ho nelze nastavit")),
             qPrintable(w.Status()));

    ::close(holder);
    w.Select(w.Control<TRadioGroup>("Rgp_Stav"), 1);
    w.Select(w.Control<TRadioGroup>("Rgp_Stav"), 0);
    QVERIFY(w.Port().Connected());
    QCOMPARE(w.messages.size(), size_t(1));
    QVERIFY(pty.send({0x0A, 0x0B}));
    QTRY_COMPARE(w.form->ReceiveBacklog(), size_t(2));
}

void WindowTest::nonNumericBaudRateIsReportedAndTheWindowRunsOn()
{
    Pty pty;
    QVERIFY(pty.valid());
    Window w(pty.Settings() + "[Seriovy port]\r\nBaud rate=48OO\r\n", Window::System);
    // Steps after the conversion are skipped: no opening, so no warning either.
    QCOMPARE(w.messages.size(), size_t(1));
    QCOMPARE(w.messages[0].kind, MessageKind::Error);
    QCOMPARE(w.messages[0].text, QStringLiteral("'48OO' is not a valid integer value"));
    QVERIFY(!w.Port().Connected());
    QCOMPARE(w.Control<QLineEdit>("Edt_BaudRate")->text(), QStringLiteral("48OO"));

    w.Select(w.Control<TRadioGroup>("Rgp_Stav"), 1);
    w.Select(w.Control<TRadioGroup>("Rgp_Stav"), 0);
    QCOMPARE(w.messages.size(), size_t(2));
    QCOMPARE(w.messages[1].text, QStringLiteral("'48OO' is not a valid integer value"));
    QVERIFY(!w.Port().Connected());

    // The window still works: a good rate opens the port.
    w.Select(w.Control<TRadioGroup>("Rgp_Stav"), 1);
    w.Control<QLineEdit>("Edt_BaudRate")->setText(QStringLiteral("19200"));
    w.Select(w.Control<TRadioGroup>("Rgp_Stav"), 0);
    QVERIFY(w.Port().Connected());
    QCOMPARE(w.Port().BaudRateValue(), 19200u);
    QCOMPARE(w.messages.size(), size_t(2));
}

void WindowTest::badSettingsFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("perLine");
    QTest::addColumn<QByteArray>("kept"); // must still be in the file after close

    std::mt19937 random(1000);
    QByteArray garbage(32 * 1024, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random() % 0x5B); // no '[' : no section by chance
    QByteArray overlong = "[Jine]\r\nX=" + QByteArray(128 * 1024, 'y') + "\r\n";

    QTest::newRow("empty") << QByteArray() << "COM1"
                           << "4800"
                           << "32" << QByteArray();
    QTest::newRow("binary") << garbage << "COM1"
                            << "4800"
                            << "32" << garbage;
    QTest::newRow("binary then settings") << garbage + "\n[Seriovy port]\nPort=7\n"
                                          << "COM7"
                                          << "4800"
                                          << "32" << garbage;
    QTest::newRow("overlong line") << overlong + "[Seriovy port]\r\nPort=2\r\n"
                                   << "COM2"
                                   << "4800"
                                   << "32" << overlong;
    QTest::newRow("duplicate sections and keys")
        << QByteArray("[Seriovy port]\r\nPort=3\r\nport=4\r\n[SERIOVY PORT]\r\nPort=5\r\nBaud "
                      "rate=1200\r\n[Program]\r\n"
                      "Pocet bytu na radku=8\r\n[program]\r\nPocet bytu na radku=9\r\n")
        << "COM3"
        << "4800"
        << "8" << QByteArray("[SERIOVY PORT]\r\nPort=5\r\nBaud rate=1200\r\n");
    QTest::newRow("out of range") << QByteArray(
                                         "[Seriovy port]\r\nPort=99999999999\r\n[Jine]\r\nA=1\r\n")
                                  << "COM1"
                                  << "4800"
                                  << "32" << QByteArray("[Jine]\r\nA=1\r\n");
}

void WindowTest::badSettingsFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, port);
    QFETCH(QString, baud);
    QFETCH(QString, perLine);
    QFETCH(QByteArray, kept);

    Window w(file.toStdString(), Window::Absent);
    QCOMPARE(w.Control<QComboBox>("Cmb_ComPort")->currentText(), port);
    QCOMPARE(w.Control<QLineEdit>("Edt_BaudRate")->text(), baud);
    QCOMPARE(w.Control<QLineEdit>("Edt_PocetBytu")->text(), perLine);
    QCOMPARE(w.Count(MessageKind::Error), 0);
    w.form->close();
    const QByteArray after = QByteArray::fromStdString(w.Settings());
    QVERIFY(after.contains(kept));
    QCOMPARE(w.Written("Seriovy port", "Port"),
             std::to_string(w.Control<QComboBox>("Cmb_ComPort")->currentIndex() + 1));
}

void WindowTest::failedSettingsWriteKeepsTheOldFile()
{
    const std::string old = "[Seriovy port]\r\nPort=2\r\n[Jine]\r\nX=1\r\n";
    Window w(old, Window::Absent);
    w.Control<QLineEdit>("Edt_BaudRate")->setText(QString(4096, QLatin1Char('9')));

    // A file size limit makes the write fail half way, for root as well.
    struct rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    w.form->close();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(w.Settings(), old);
    QVERIFY(!w.form->isVisible());
    QVERIFY(!w.form->Link());
    QCOMPARE(w.Count(MessageKind::Error), 1);
    QVERIFY2(w.messages.back().text.startsWith(QStringLiteral("Nastavení nelze uložit do souboru")),
             qPrintable(w.messages.back().text));
    QCOMPARE(QDir(w.dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("nastaveni.ini")});
}

void WindowTest::filesFollowTheProgramDirectory_data()
{
    QTest::addColumn<bool>("writable");
    QTest::newRow("writable: beside the program") << true;
    QTest::newRow("read-only: the user's folders") << false;
}

// A save and a reload, and a capture line, through the real window.
void WindowTest::filesFollowTheProgramDirectory()
{
    QFETCH(bool, writable);
    QTemporaryDir root;
    const QString program = root.filePath(QStringLiteral("bin"));
    const QString config = root.filePath(QStringLiteral("config"));
    const QString data = root.filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(program));
    const QString settings = writable ? program + QStringLiteral("/nastaveni.ini")
                                      : config + QStringLiteral("/qtr290/nastaveni.ini");
    const QString capture = writable ? program + QStringLiteral("/incoming.txt")
                                     : data + QStringLiteral("/qtr290/incoming.txt");

    auto line = std::make_shared<test::FakeLine>();
    line->autoAdvance = 1;
    std::vector<Message> messages;
    const auto start = [&] {
        TForm1Options options;
        options.programDir = program;
        options.folders = [&](const QString& dir) {
            return FileFolders{dir, writable, config, data};
        };
        options.platform = [line] { return std::make_unique<test::FakePlatform>(line); };
        options.message = [&](MessageKind kind, const QString& text) {
            messages.push_back({kind, text});
        };
        auto form = std::make_unique<TForm1>(options);
        form->show();
        return form;
    };

    auto first = start();
    QCOMPARE(first->ProgramDir(), QDir::cleanPath(program));
    const QString tip = first->findChild<QLabel*>(QStringLiteral("StatusBar1Panel"))->toolTip();
    QVERIFY2(tip.contains(QDir::toNativeSeparators(settings)), qPrintable(tip));
    test::control<QLineEdit>(*first, "Edt_BaudRate")->setText(QStringLiteral("9600"));
    test::control<QCheckBox>(*first, "Chk_VystupDoSouboru")->setChecked(true);
    line->deliver(test::ReadRequest);
    line->tick();
    first->close();

    QFile written(capture);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(written.readAll().endsWith(">" + test::ReadRequestText.toLatin1() + "\r\n"));
    // Nothing lands in the other place: the user's folders appear only when used.
    const QStringList beside = {QStringLiteral("incoming.txt"), QStringLiteral("nastaveni.ini")};
    QCOMPARE(QDir(program).entryList(QDir::Files | QDir::Hidden),
             writable ? beside : QStringList());
    QCOMPARE(QFile::exists(config), !writable);
    QCOMPARE(QFile::exists(data), !writable);

    auto second = start();
    QCOMPARE(test::control<QLineEdit>(*second, "Edt_BaudRate")->text(), QStringLiteral("9600"));
    second->close();
    IniProfile ini(settings);
    QVERIFY(ini.Load());
    QCOMPARE(ini.ReadString("Seriovy port", "Baud rate", "<missing>"), std::string("9600"));
    QVERIFY(messages.empty());
}

// An administrator's file beside a read-only program seeds the user's own, which the close
// writes with everything the seed held; the file beside the program is never written.
void WindowTest::settingsBesideAReadOnlyProgramStartTheUsersFile()
{
    QTemporaryDir root;
    const QString program = root.filePath(QStringLiteral("bin"));
    const QString config = root.filePath(QStringLiteral("config"));
    QVERIFY(QDir().mkpath(program));
    const QByteArray seed = "; by the administrator\r\n[Seriovy port]\r\nBaud rate=9600\r\n"
                            "[Porty]\r\nCOM1=/dev/ttyQTR\r\n";
    QFile beside(program + QStringLiteral("/nastaveni.ini"));
    QVERIFY(beside.open(QIODevice::WriteOnly) && beside.write(seed) == seed.size());
    beside.close();
    auto line = std::make_shared<test::FakeLine>();
    const auto start = [&] {
        TForm1Options options;
        options.programDir = program;
        options.folders = [&](const QString& dir) {
            return FileFolders{dir, false, config, root.filePath(QStringLiteral("data"))};
        };
        options.platform = [line] { return std::make_unique<test::FakePlatform>(line); };
        options.message = [](MessageKind, const QString&) {};
        auto form = std::make_unique<TForm1>(options);
        form->show();
        return form;
    };
    const auto baudRate = [](const TForm1& form) {
        return test::control<QLineEdit>(form, "Edt_BaudRate")->text();
    };

    auto first = start();
    QCOMPARE(baudRate(*first), QStringLiteral("9600"));
    test::control<QLineEdit>(*first, "Edt_BaudRate")->setText(QStringLiteral("19200"));
    first->close();
    IniProfile users(config + QStringLiteral("/qtr290/nastaveni.ini"));
    QVERIFY(users.Load());
    QCOMPARE(users.ReadString("Seriovy port", "Baud rate", "<missing>"), std::string("19200"));
    QCOMPARE(users.ReadString("Porty", "COM1", "<missing>"), std::string("/dev/ttyQTR"));

    // From now on the user's file counts; the seed stays as the administrator wrote it.
    auto second = start();
    QCOMPARE(baudRate(*second), QStringLiteral("19200"));
    second->close();
    QVERIFY(beside.open(QIODevice::ReadOnly));
    QCOMPARE(beside.readAll(), seed);
    QCOMPARE(QDir(program).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("nastaveni.ini")});
}

namespace {
class Throwing : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw std::runtime_error("porucha");
        return QObject::event(e);
    }
};
} // namespace

void WindowTest::uncaughtErrorIsShownAndTheLoopRunsOn()
{
    QString shown;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    closer.start(10);

    Throwing target;
    QEvent user(QEvent::User);
    QCoreApplication::sendEvent(&target, &user);
    QCOMPARE(shown, QStringLiteral("porucha"));

    bool ranOn = false;
    QTimer::singleShot(0, [&] { ranOn = true; });
    QTRY_VERIFY(ranOn);
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
