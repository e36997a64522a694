// SIGTERM, SIGINT and SIGHUP to the real program: the window closes as its own close does,
// the settings are written and the program ends with status 0. The program runs offscreen
// from a copy in a temporary folder, which is then its program directory.
#include "iniprofile.h"
#include "pseudo_terminal.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fstream>
#include <string>

using qtr290::IniProfile;
using qtr290::test::Pty;

namespace {

// Whether the process has a handler for the signal (the SigCgt mask of /proc/PID/status).
bool Catches(qint64 pid, int signal)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1u;
    }
    return false;
}

} // namespace

class TerminationTest : public QObject {
    Q_OBJECT

private slots:
    void signalClosesTheWindowAsItsOwnCloseDoes_data();
    void signalClosesTheWindowAsItsOwnCloseDoes();
};

void TerminationTest::signalClosesTheWindowAsItsOwnCloseDoes_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("device");

    QTest::newRow("SIGTERM, port open") << SIGTERM << true;
    QTest::newRow("SIGINT, port open") << SIGINT << true;
    QTest::newRow("SIGHUP, port open") << SIGHUP << true;
    // No device: the start-up warning box is open (or about to be) when the signal comes.
    QTest::newRow("SIGTERM at the start-up warning") << SIGTERM << false;
}

void TerminationTest::signalClosesTheWindowAsItsOwnCloseDoes()
{
    QFETCH(int, signal);
    QFETCH(bool, device);

    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("qtr290"));
    QVERIFY(QFile::copy(QStringLiteral(QTR290_APP_PATH), program));
    QVERIFY(QFile::setPermissions(program, QFile::permissions(QStringLiteral(QTR290_APP_PATH))));
    Pty pty;
    QVERIFY(pty.valid());
    const std::string settings =
        device
            ? "[Seriovy port]\r\nPort=1\r\nBaud rate=9600\r\n[Porty]\r\nCOM1=" + pty.path() + "\r\n"
            : "[Seriovy port]\r\nPort=200\r\n";
    std::ofstream(dir.filePath(QStringLiteral("nastaveni.ini")).toStdString()) << settings;

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {});
    QVERIFY(process.waitForStarted());
    // Ready when the handler is in place (and, with a device, the port is open).
    QTRY_VERIFY_WITH_TIMEOUT(Catches(process.processId(), signal), 5000);
    if (device)
        QTRY_COMPARE_WITH_TIMEOUT(pty.exclusive(), 1, 5000);

    QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    IniProfile ini(dir.filePath(QStringLiteral("nastaveni.ini")));
    ini.Load();
    const std::pair<const char*, const char*> keys[] = {
        {"Seriovy port", "Port"},        {"Seriovy port", "Baud rate"},
        {"Filtruj prichozi", "Zapnuto"}, {"Filtruj prichozi", "Zarizeni"},
        {"Filtruj prichozi", "Adresat"}, {"Program", "Pocet bytu na radku"},
    };
    const std::string written[] = {
        device ? "1" : "200", device ? "9600" : "4800", "0", "00", "3f", "32"};
    for (std::size_t i = 0; i < std::size(keys); ++i)
        QCOMPARE(ini.ReadString(keys[i].first, keys[i].second, "<missing>"), written[i]);
    QCOMPARE(pty.exclusive(), 0);
}

QTEST_GUILESS_MAIN(TerminationTest)

#include "termination_test.moc"
