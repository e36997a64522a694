// The whole utility against the bus simulator over a pseudo-terminal: the real serial
// platform, the port's polling timer, the window's display, capture file and composer.
#include "app/application.h"
#include "console/buspanel.h"
#include "tests/support/window_fixture.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <map>

using namespace qtr290;
using namespace qtr290::test;

namespace {

class Simulator {
public:
    ~Simulator()
    {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished(2000);
        }
    }

    bool Start(QStringList extra)
    {
        QStringList args = {QStringLiteral("--stats"), FDir.filePath("stats.txt"),
                            QStringLiteral("--log"), FDir.filePath("log.txt"),
                            QStringLiteral("--quiet")};
        args += extra;
        FProcess.start(QStringLiteral(QTR290_SIM_PATH), args);
        if (!FProcess.waitForStarted(5000))
            return false;
        QElapsedTimer timer;
        timer.start();
        while (!FProcess.canReadLine() && timer.elapsed() < 5000)
            FProcess.waitForReadyRead(100);
        FDevice = QString::fromUtf8(FProcess.readLine()).trimmed();
        return !FDevice.isEmpty();
    }

    std::string Settings() const { return "[Porty]\r\nCOM1=" + FDevice.toStdString() + "\r\n"; }

    // A line of the simulator's script ("poll", hex bytes, "quit").
    void Command(const QByteArray& line) { FProcess.write(line + '\n'); }

    // Runs the event loop (the port's polling) until the simulator has exited.
    bool RunUntilFinished(int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (FProcess.state() != QProcess::NotRunning && timer.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            FProcess.waitForFinished(1);
        }
        // The last bytes the simulator wrote still wait for a tick or two.
        QTest::qWait(200);
        return FProcess.state() == QProcess::NotRunning;
    }

    std::map<QString, long> Stats() const
    {
        std::map<QString, long> stats;
        QFile file(FDir.filePath("stats.txt"));
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& line : file.readAll().split('\n')) {
                const auto eq = line.indexOf('=');
                if (eq > 0)
                    stats[QString::fromLatin1(line.left(eq).trimmed())] =
                        line.mid(eq + 1).trimmed().toLong();
            }
        return stats;
    }

    struct Sent {
        QByteArray kind;
        Bytes bytes;
        bool damaged;
    };
    // What the simulator put on the line, in order: "<ms> TX <kind> <hex bytes> [key=value]".
    std::vector<Sent> Transmitted() const
    {
        std::vector<Sent> sent;
        QFile file(FDir.filePath("log.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return sent;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 4 || fields[1] != "TX")
                continue;
            Sent item{fields[2], {}, false};
            for (qsizetype i = 3; i < fields.size(); ++i) {
                if (fields[i].contains('=')) {
                    item.damaged = item.damaged || fields[i].startsWith("fault=");
                    continue;
                }
                item.bytes.push_back(static_cast<std::uint8_t>(fields[i].toUInt(nullptr, 16)));
            }
            sent.push_back(std::move(item));
        }
        return sent;
    }

private:
    QTemporaryDir FDir;
    QProcess FProcess;
    QString FDevice;
};

// The bytes of the capture file's chunk lines, in order; "Cteni dat" lines are counted.
Bytes CapturedBytes(const WindowFixture& w, int* queuedLines = nullptr)
{
    Bytes bytes;
    for (const QByteArray& line : w.CaptureLines()) {
        const QByteArray text = line.mid(line.indexOf('>') + 1).trimmed();
        if (text == "Cteni dat") {
            if (queuedLines)
                ++*queuedLines;
            continue;
        }
        for (const QByteArray& hex : text.split(' '))
            bytes.push_back(static_cast<std::uint8_t>(hex.toUInt(nullptr, 16)));
    }
    return bytes;
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void trafficReachesTheDisplayAndEveryByteTheCaptureFile();
    void startIsSentAtThePollAndTheAnswerRemovesIt();
    void countersEqualTheSimulatorsFigures();
    void saturatedBusAt115200KeepsTheWindowResponsive();
};

void EndToEndTest::trafficReachesTheDisplayAndEveryByteTheCaptureFile()
{
    Simulator sim;
    QVERIFY(sim.Start({"--script", "--poll-interval", "0", "--inject-noise", "3",
                       "--inject-header-errors", "5", "--inject-block-errors", "7",
                       "--split-writes", "4", "--split-delay", "50"}));
    WindowFixture w(sim.Settings(), WindowFixture::System);
    TForm1& f = *w.form;
    QVERIFY(w.messages.empty());
    QVERIFY(f.Link()->SeriovyPort().Connected());
    w.Select(control<TRadioGroup>(f, "Rgp_Razeni"), 1);
    control<QCheckBox>(f, "Chk_VystupDoSouboru")->setChecked(true);

    for (int i = 0; i < 24; ++i) {
        sim.Command("poll");
        QTest::qWait(30);
    }
    sim.Command("quit");
    QVERIFY(sim.RunUntilFinished(15000));

    // The capture file holds every byte in the order it was sent, noise included.
    const auto sent = sim.Transmitted();
    Bytes onLine;
    QStringList intact;
    for (const auto& item : sent) {
        onLine.insert(onLine.end(), item.bytes.begin(), item.bytes.end());
        if (item.kind != "noise" && !item.damaged)
            intact << HexText(item.bytes);
    }
    const auto stats = sim.Stats();
    QCOMPARE(long(onLine.size()), stats.at("tx_bytes"));
    QCOMPARE(CapturedBytes(w), onLine);

    // Memo1 shows every intact poll and one line per damaged one.
    QStringList shown;
    long headerLines = 0;
    long blockLines = 0;
    for (const QString& line : Lines(control<LineMemo>(f, "Memo1"))) {
        if (line == QLatin1String("Vadne CRC hlavicky"))
            ++headerLines;
        else if (line == QLatin1String("Vadne CRC dat"))
            ++blockLines;
        else
            shown << line;
    }
    QCOMPARE(shown, intact);
    QCOMPARE(long(shown.size()), stats.at("line_telegrams"));
    QCOMPARE(headerLines, stats.at("line_header_errors"));
    QCOMPARE(blockLines, stats.at("line_block_errors"));
    QVERIFY(stats.at("injected_header_errors") > 0 && stats.at("injected_block_errors") > 0);
    QVERIFY(stats.at("injected_noise_bytes") > 0 && stats.at("split_telegrams") > 0);
    // Nothing was queued, so no poll was answered.
    QVERIFY(Lines(control<LineMemo>(f, "Memo3")) == QStringList{QString()});
    QCOMPARE(stats.at("rx_bytes"), 0L);
}

void EndToEndTest::startIsSentAtThePollAndTheAnswerRemovesIt()
{
    Simulator sim;
    QVERIFY(sim.Start({"--script", "--poll-interval", "0"}));
    WindowFixture w(sim.Settings(), WindowFixture::System);
    TForm1& f = *w.form;
    QVERIFY(f.Link()->SeriovyPort().Connected());
    w.Select(control<TRadioGroup>(f, "Rgp_Razeni"), 1);
    control<QCheckBox>(f, "Chk_VystupDoSouboru")->setChecked(true);

    w.Click(control<QPushButton>(f, "Btn_TestKomunikace"));
    QCOMPARE(f.Link()->OldestPending(), ReadRequest);
    sim.Command("poll");
    // The device's answer (to F0, from 00) is shown after the poll, and drops the request.
    QTRY_COMPARE_WITH_TIMEOUT(control<LineMemo>(f, "Memo1")->LineCount(), 2, 5000);
    QCOMPARE(f.Link()->PendingCount(), size_t(0));
    sim.Command("poll"); // nothing left to answer with
    QTRY_COMPARE_WITH_TIMEOUT(control<LineMemo>(f, "Memo1")->LineCount(), 3, 5000);
    sim.Command("quit");
    QVERIFY(sim.RunUntilFinished(10000));

    const QStringList memo1 = Lines(control<LineMemo>(f, "Memo1"));
    QCOMPARE(memo1.size(), 3);
    QVERIFY2(memo1[0].startsWith("A6 F0 01 00 00 "), qPrintable(memo1[0]));
    // Read reply: area 0 at 0x000157, one byte holding 0x57 ^ 0x01.
    QVERIFY2(memo1[1].startsWith("A6 F0 00 0B 05 ") && memo1[1].contains(" 01 57 01 00 56 "),
             qPrintable(memo1[1]));
    QVERIFY2(memo1[2].startsWith("A6 F0 01 00 00 "), qPrintable(memo1[2]));
    QCOMPARE(Lines(control<LineMemo>(f, "Memo3")),
             QStringList{QStringLiteral("FF ") + ReadRequestText});

    const auto stats = sim.Stats();
    QCOMPARE(stats.at("polls_sent"), 2L);
    QCOMPARE(stats.at("rx_requests"), 1L);
    QCOMPARE(stats.at("reads_answered"), 1L);
    QCOMPARE(stats.at("rx_bytes"), 12L);
    QCOMPARE(stats.at("rx_header_errors") + stats.at("rx_block_errors"), 0L);
    int queuedLines = 0;
    Bytes expected;
    for (const auto& item : sim.Transmitted())
        expected.insert(expected.end(), item.bytes.begin(), item.bytes.end());
    QCOMPARE(CapturedBytes(w, &queuedLines), expected);
    QCOMPARE(queuedLines, 1);
    QVERIFY(w.messages.empty());
}

// Damaged polls and replies, noise, and requests pending so that intact polls are answered: the
// panel's counters against what the simulator wrote (framed as a listener would) and read.
void EndToEndTest::countersEqualTheSimulatorsFigures()
{
    Simulator sim;
    QVERIFY(sim.Start({"--script", "--poll-interval", "0", "--inject-noise", "4",
                       "--inject-header-errors", "5", "--inject-block-errors", "3"}));
    WindowFixture w(sim.Settings(), WindowFixture::System);
    TForm1& f = *w.form;
    QVERIFY(f.Link()->SeriovyPort().Connected());
    w.Click(w.Control<QCheckBox>("Chk_Prehled")); // the panel is hidden at a first start
    w.Click(control<QPushButton>(f, "Btn_TestKomunikace"));
    for (int i = 0; i < 30; ++i) {
        if (i % 6 == 0)
            w.Click(control<QPushButton>(f, "Btn_PosliTLG"));
        sim.Command("poll");
        QTest::qWait(40);
    }
    sim.Command("quit");
    QVERIFY(sim.RunUntilFinished(15000));

    const auto stats = sim.Stats();
    qInfo("simulator: %ld bytes, %ld telegrams, %ld polls, %ld answers read, %ld header and %ld "
          "block errors",
          stats.at("tx_bytes"), stats.at("line_telegrams"), stats.at("line_polls"),
          stats.at("rx_telegrams"), stats.at("line_header_errors"), stats.at("line_block_errors"));
    const auto shown = [&](const char* name) { return control<QLabel>(f, name)->text().toLong(); };
    QTRY_COMPARE(shown("Lbl_StatBajty"), stats.at("tx_bytes"));
    QCOMPARE(shown("Lbl_StatTelegramy"), stats.at("line_telegrams"));
    QCOMPARE(shown("Lbl_StatVyzvy"), stats.at("line_polls"));
    QCOMPARE(shown("Lbl_StatChybyHlavicky"), stats.at("line_header_errors"));
    QCOMPARE(shown("Lbl_StatChybyDat"), stats.at("line_block_errors"));
    QCOMPARE(shown("Lbl_StatOdpovedi"), stats.at("rx_telegrams"));
    QCOMPARE(shown("Lbl_StatOdeslano"), stats.at("rx_telegrams"));
    QCOMPARE(shown("Lbl_StatFronta"), long(f.Link()->PendingCount()));
    // Damage both ways, and polls both answered and not (damaged ones, or nothing pending).
    QVERIFY(stats.at("line_header_errors") > 0 && stats.at("line_block_errors") > 0);
    QVERIFY(stats.at("rx_telegrams") > 3);
    QVERIFY(stats.at("rx_telegrams") < stats.at("line_polls"));
    QCOMPARE(stats.at("rx_header_errors") + stats.at("rx_block_errors"), 0L);
    QCOMPARE(stats.at("backlog_flushes"), 0L);
    QTRY_VERIFY(control<QListWidget>(f, "Lst_ZaznamFronty")->count() >= 3);
    QVERIFY(w.messages.empty());
}

void EndToEndTest::saturatedBusAt115200KeepsTheWindowResponsive()
{
    Simulator sim;
    QVERIFY(
        sim.Start({"--baud", "115200", "--saturate", "--poll-interval", "20", "--duration", "3"}));
    WindowFixture w(sim.Settings() + "[Seriovy port]\r\nBaud rate=115200\r\n",
                    WindowFixture::System);
    TForm1& f = *w.form;
    QVERIFY(f.Link()->SeriovyPort().Connected());
    control<QCheckBox>(f, "Chk_VystupDoSouboru")->setChecked(true);

    // How long the event loop goes without serving a 10 ms timer.
    QElapsedTimer sinceLast;
    sinceLast.start();
    qint64 longestGap = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout,
            [&] { longestGap = std::max(longestGap, sinceLast.restart()); });
    probe.start(10);
    QElapsedTimer run;
    run.start();
    QVERIFY(sim.RunUntilFinished(15000));
    probe.stop();

    const auto stats = sim.Stats();
    qInfo("%ld bytes in %lld ms, %ld telegrams; longest gap of the event loop %lld ms",
          stats.at("tx_bytes"), run.elapsed(), stats.at("line_telegrams"), longestGap);
    QVERIFY(stats.at("tx_bytes") > 20000);
    QCOMPARE(stats.at("backlog_flushes"), 0L);
    QVERIFY2(longestGap < 250, qPrintable(QString::number(longestGap)));
    // The line limit keeps the memo small: at most one telegram's lines above it.
    QVERIFY(control<LineMemo>(f, "Memo1")->LineCount() <= MemoLineLimit + 10);
    QVERIFY(control<LineMemo>(f, "Memo1")->LineCount() > 10);
    QVERIFY(CapturedBytes(w).size() > 20000);
    QVERIFY(w.messages.empty());
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    EndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "e2e_test.moc"
