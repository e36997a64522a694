// The window in English on request: every text a control shows is translated, while what
// leaves the window (memo lines, the capture file, the settings file) stays as in Czech and
// the controls keep their names. The language comes from --language or [Rozhrani] Jazyk;
// one the program does not have gives the Czech window with a note in the status bar.
#include "console/buspanel.h"
#include "tests/support/window_fixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

using namespace qtr290;
using namespace qtr290::test;

namespace {

const Bytes DamagedHeader = {0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5E, 0x01, 0x57, 0x01, 0x00, 0xA7};
const Bytes DamagedBlock = {0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5D, 0x01, 0x57, 0x01, 0x00, 0xA8};

// A widget as a script finds it, and the texts it shows.
struct Shown {
    QString name;
    QString description;
    QStringList texts;
};

// Everything the window and its children show, in the order of creation.
QList<Shown> ShownTexts(const QWidget& window)
{
    QList<Shown> all;
    QList<QWidget*> widgets = window.findChildren<QWidget*>();
    widgets.prepend(const_cast<QWidget*>(&window));
    for (const QWidget* widget : widgets) {
        Shown shown{widget->objectName(), widget->accessibleDescription(), {}};
        shown.texts << widget->windowTitle() << widget->toolTip();
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            shown.texts << label->text();
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            shown.texts << button->text();
        if (const auto* box = qobject_cast<const QGroupBox*>(widget))
            shown.texts << box->title();
        if (const auto* list = qobject_cast<const QListWidget*>(widget))
            for (int i = 0; i < list->count(); ++i)
                shown.texts << list->item(i)->text();
        if (const auto* combo = qobject_cast<const QComboBox*>(widget))
            for (int i = 0; i < combo->count(); ++i)
                shown.texts << combo->itemText(i) << combo->itemData(i, Qt::ToolTipRole).toString();
        shown.texts.removeAll(QString());
        all << shown;
    }
    return all;
}

// The same in both languages: field names of the telegram, values, names of areas and ports.
bool SameInBoth(const QString& text)
{
    static const QStringList words = {"CRC",  "CRC8",      "Sync",   "START", "Hex",
                                      "Port", "Baud rate", "To",     "From",  "Device",
                                      "R/W",  "DataLen",   "Address"};
    static const QRegularExpression value(
        QStringLiteral("^([0-9A-Fa-f ]*|COM[0-9]+( = /dev/\\S+)?|[A-Z0-9]+ *=\\$[0-9A-F]{2};)$"));
    return words.contains(text) || value.match(text).hasMatch();
}

bool HasCzechLetters(const QString& text)
{
    static const QRegularExpression czech(QStringLiteral("[áčďéěíňóřšťúůýžÁČĎÉĚÍŇÓŘŠŤÚŮÝŽ]"));
    return czech.match(text).hasMatch();
}

// A capture line without its time stamp (DDMMYYYY hh:mm:ss:mmm).
QString WithoutStamp(const QByteArray& line)
{
    static const QRegularExpression stamp(QStringLiteral("^[0-9]{8} [0-9:]{12}"));
    QString text = QString::fromLatin1(line);
    const QRegularExpressionMatch match = stamp.match(text);
    return match.hasMatch() ? text.mid(match.capturedLength())
                            : QStringLiteral("no stamp: ") + text;
}

// One run of a window in the language: a queued request answered on a poll, a request sent
// at once, damaged telegrams, the capture on; what it showed and wrote, and its close.
struct Run {
    QList<Shown> shown;
    QStringList memo1;
    QStringList memo3;
    QStringList capture;
    std::string settings;
};

Run RunWindow(const QString& language)
{
    Run run;
    WindowFixture w({}, WindowFixture::ScriptedLine, {}, language);
    w.Control<QCheckBox>("Chk_VystupDoSouboru")->setChecked(true);
    w.Click(w.Control<QPushButton>("Btn_PosliTLG"));
    w.Click(w.Control<QPushButton>("Btn_PosliTLG"));
    w.Click(w.Control<QPushButton>("Button4"));
    w.Receive(ReadRequest);
    w.Receive(Poll);
    w.Receive(DamagedHeader);
    w.Receive(DamagedBlock);
    // The queue's lists follow at their own pace.
    QTest::qWait(BusPanel::ListIntervalMs + 100);
    w.Control<BusPanel>("Pnl_Prehled")->Refresh();
    run.shown = ShownTexts(*w.form);
    run.memo1 = Lines(w.Control<LineMemo>("Memo1"));
    run.memo3 = Lines(w.Control<LineMemo>("Memo3"));
    w.form->close();
    for (const QByteArray& line : w.CaptureLines())
        run.capture << WithoutStamp(line);
    run.settings = w.Settings();
    return run;
}

} // namespace

class LanguageWindowTest : public QObject {
    Q_OBJECT

private slots:
    void englishTranslatesEveryTextAndKeepsNames();
    void memosCaptureAndSettingsStayCzech();
    void choice_data();
    void choice();
};

void LanguageWindowTest::englishTranslatesEveryTextAndKeepsNames()
{
    const Run czech = RunWindow(QString());
    const Run english = RunWindow(QStringLiteral("en"));

    QCOMPARE(english.shown.size(), czech.shown.size());
    int compared = 0;
    for (qsizetype i = 0; i < czech.shown.size(); ++i) {
        const Shown& cs = czech.shown[i];
        const Shown& en = english.shown[i];
        QCOMPARE(en.name, cs.name);
        QCOMPARE(en.description, cs.description);
        if (!cs.description.isEmpty())
            QCOMPARE(cs.description, cs.name);
        QVERIFY2(en.texts.size() == cs.texts.size(),
                 qPrintable(cs.name + ": " + cs.texts.join('|') + " / " + en.texts.join('|')));
        for (qsizetype t = 0; t < cs.texts.size(); ++t) {
            const QString& source = cs.texts[t];
            const QString& shown = en.texts[t];
            QVERIFY2(!HasCzechLetters(shown), qPrintable(cs.name + ": " + shown));
            QVERIFY2(shown != source || SameInBoth(source),
                     qPrintable(cs.name + ": not translated: " + source));
            ++compared;
        }
    }
    // The whole window was seen: controls, overview with its queue lists, status bar.
    QVERIFY2(compared > 120, qPrintable(QString::number(compared)));
    qInfo("%d texts compared", compared);
}

void LanguageWindowTest::memosCaptureAndSettingsStayCzech()
{
    const Run czech = RunWindow(QString());
    const Run english = RunWindow(QStringLiteral("en"));

    QVERIFY(czech.memo1.contains(QStringLiteral("Vadne CRC hlavicky")));
    QVERIFY(czech.memo1.contains(QStringLiteral("Vadne CRC dat")));
    QCOMPARE(english.memo1, czech.memo1);
    QCOMPARE(english.memo3, czech.memo3);
    QVERIFY(czech.capture.size() >= 6);
    QVERIFY2(czech.capture.filter(QStringLiteral("no stamp")).isEmpty(),
             qPrintable(czech.capture.join('\n')));
    QCOMPARE(english.capture, czech.capture);
    QVERIFY(czech.settings.find("[Seriovy port]") != std::string::npos);
    QCOMPARE(english.settings, czech.settings);
}

void LanguageWindowTest::choice_data()
{
    QTest::addColumn<QString>("setting"); // [Rozhrani] Jazyk; empty: no such section
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<bool>("english");
    QTest::addColumn<QString>("note"); // in the status bar; empty: none

    QTest::newRow("default") << ""
                             << "" << false << "";
    QTest::newRow("settings en") << "en"
                                 << "" << true << "";
    QTest::newRow("settings cs") << "cs"
                                 << "" << false << "";
    QTest::newRow("command line en") << ""
                                     << "en" << true << "";
    QTest::newRow("command line wins") << "en"
                                       << "cs" << false << "";
    QTest::newRow("case and blanks") << ""
                                     << " EN " << true << "";
    QTest::newRow("unknown in settings") << "de"
                                         << "" << false << "„de“";
    QTest::newRow("unknown on command line") << "en"
                                             << "fr" << false << "„fr“";
    QTest::newRow("a path is no language") << ""
                                           << "../en" << false << "„../en“";
    QTest::newRow("no markup in the note") << "<b>x</b>"
                                           << "" << false << "„bx/b“";
}

void LanguageWindowTest::choice()
{
    QFETCH(QString, setting);
    QFETCH(QString, commandLine);
    QFETCH(bool, english);
    QFETCH(QString, note);

    const std::string file =
        setting.isEmpty() ? std::string() : "[Rozhrani]\r\nJazyk=" + setting.toStdString() + "\r\n";
    std::vector<Message> messages;
    std::string written;
    std::string settingsAfter;
    {
        WindowFixture w(file, WindowFixture::Absent, {}, commandLine);
        QCOMPARE(w.Control<QCheckBox>("Chk_Filtr")->text(),
                 english ? QStringLiteral("Filter incoming") : QStringLiteral("Filtruj příchozí"));
        QCOMPARE(w.form->windowTitle(), english
                                            ? QStringLiteral("QTR290 Communication Utility v0.5")
                                            : QStringLiteral("Komunikační utilita QTR290 v0.5"));
        const auto* notice = w.Control<QLabel>("StatusBar1Prehled");
        if (note.isEmpty()) {
            QVERIFY(notice->isHidden());
        } else {
            QVERIFY(!notice->isHidden());
            QVERIFY2(notice->text().contains(note), qPrintable(notice->text()));
            QVERIFY(!notice->text().contains(QLatin1Char('<')));
        }
        messages = w.messages;
        w.form->close();
        written = w.Written("Rozhrani", "Jazyk");
        settingsAfter = w.Settings();
    }
    // The port warning of start-up in the window's language.
    QCOMPARE(messages.size(), std::size_t(1));
    QCOMPARE(messages[0].text, english
                                   ? QStringLiteral("The serial port does not exist or is in use!")
                                   : PortWarning);
    // The close leaves the operator's key as it was and writes none of its own.
    if (setting.isEmpty())
        QVERIFY2(settingsAfter.find("Rozhrani") == std::string::npos, settingsAfter.c_str());
    else
        QCOMPARE(QString::fromStdString(written), setting);
}

QTEST_MAIN(LanguageWindowTest)
#include "language_window_test.moc"
