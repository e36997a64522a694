// What the window paints at a tick of a busy line: what changed and nothing else, and what is
// on the screen afterwards is what the controls would draw afresh.
#include "tests/support/window_fixture.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QScreen>
#include <QScrollBar>

#include <map>

using namespace qtr290;
using namespace qtr290::test;

namespace {

// Paint events per widget while it is installed.
class PaintCount : public QObject {
public:
    PaintCount() { qApp->installEventFilter(this); }
    ~PaintCount() override { qApp->removeEventFilter(this); }
    int operator[](const QObject* widget) const
    {
        const auto it = FPaints.find(widget);
        return it == FPaints.end() ? 0 : it->second;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++FPaints[watched];
        return false;
    }

private:
    std::map<const QObject*, int> FPaints;
};

Bytes Repeated(const Bytes& telegram, int times)
{
    Bytes chunk;
    for (int i = 0; i < times; ++i)
        chunk.insert(chunk.end(), telegram.begin(), telegram.end());
    return chunk;
}

// The widget as the window's backing store holds it, against the widget drawn afresh.
bool ScreenShowsCurrent(const QWidget& window, QWidget* widget)
{
    const QRect area(widget->mapTo(&window, QPoint(0, 0)), widget->size());
    const QImage shown =
        window.screen()
            ->grabWindow(window.winId(), area.x(), area.y(), area.width(), area.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    const QImage fresh = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    return !shown.isNull() && shown == fresh;
}

} // namespace

class RepaintTest : public QObject {
    Q_OBJECT

private slots:
    void aTickPaintsWhatChanged_data();
    void aTickPaintsWhatChanged();
};

void RepaintTest::aTickPaintsWhatChanged_data()
{
    QTest::addColumn<bool>("hidePolls");
    QTest::addColumn<Bytes>("chunk");
    QTest::addColumn<bool>("memoChanges");
    QTest::addColumn<QStringList>("countersThatChange");

    const QStringList bytesOnly = {"Lbl_StatBajty"};
    QTest::newRow("telegrams shown") << false << Repeated(ReadRequest, 20) << true
                                     << QStringList{"Lbl_StatTelegramy", "Lbl_StatBajty"};
    QTest::newRow("polls shown") << false << Repeated(Poll, 20) << true
                                 << QStringList{"Lbl_StatTelegramy", "Lbl_StatVyzvy",
                                                "Lbl_StatBajty"};
    QTest::newRow("polls not shown")
        << true << Repeated(Poll, 20) << false
        << QStringList{"Lbl_StatTelegramy", "Lbl_StatVyzvy", "Lbl_StatBajty"};
    QTest::newRow("bytes without a sync byte") << false << Bytes(16, 0x55) << false << bytesOnly;
    QTest::newRow("quiet tick") << false << Bytes() << false << QStringList();
}

void RepaintTest::aTickPaintsWhatChanged()
{
    QFETCH(bool, hidePolls);
    QFETCH(Bytes, chunk);
    QFETCH(bool, memoChanges);
    QFETCH(QStringList, countersThatChange);

    WindowFixture w("[Prehled]\r\nZobrazit=1\r\n");
    const TForm1& form = *w.form;
    auto* memo1 = w.Control<LineMemo>("Memo1");
    auto* panel = w.Control<QGroupBox>("Pnl_Prehled");
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    // Some hundred lines: the scroll bar's handle is as short as it gets.
    for (int i = 0; i < 10; ++i) {
        w.Receive(Repeated(ReadRequest, 20));
        QTest::qWait(5);
    }
    if (hidePolls)
        w.Click(w.Control<QCheckBox>("Chk_NezobrazujVyzvy"));
    QTest::qWait(100);

    const QStringList counters = {"Lbl_StatTelegramy",     "Lbl_StatVyzvy",    "Lbl_StatOdpovedi",
                                  "Lbl_StatChybyHlavicky", "Lbl_StatChybyDat", "Lbl_StatOdeslano",
                                  "Lbl_StatFronta",        "Lbl_StatBajty"};
    for (int tick = 0; tick < 3; ++tick) {
        const QStringList lines = Lines(memo1);
        PaintCount paints;
        w.Receive(chunk);
        QTest::qWait(60); // longer than a tick: the throttle has let the paint through
        QCOMPARE(Lines(memo1) != lines, memoChanges);

        QCOMPARE(paints[memo1->viewport()], memoChanges ? 1 : 0);
        for (const char* name : {"Memo2", "Memo3"})
            QCOMPARE(paints[w.Control<LineMemo>(name)->viewport()], 0);
        QCOMPARE(paints[memo1->verticalScrollBar()], 0);
        QCOMPARE(paints[memo1], 0);
        QCOMPARE(paints[panel], 0);
        QCOMPARE(paints[&form], 0);
        for (const QString& name : counters)
            QCOMPARE(paints[w.Control<QLabel>(qPrintable(name))],
                     countersThatChange.contains(name) ? 1 : 0);

        QVERIFY(ScreenShowsCurrent(form, memo1));
        QVERIFY(ScreenShowsCurrent(form, panel));
    }
}

QTEST_MAIN(RepaintTest)
#include "repaint_test.moc"
