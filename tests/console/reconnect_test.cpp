// A device that goes and comes back: how it is recognised (by-id links, links to
// pseudo-terminals), the watch's checks, and the window on pseudo-terminals reached through
// a symbolic link named in [Porty].
#include "app/application.h"
#include "console/reconnect.h"
#include "tests/support/window_fixture.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <filesystem>

#include <sys/resource.h>
#include <unistd.h>

using namespace qtr290;

namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Pty;
using Window = test::WindowFixture;

// Points `link` at `target`, replacing what was there.
void LinkTo(const fs::path& link, const std::string& target)
{
    std::error_code ignored;
    fs::remove(link, ignored);
    fs::create_symlink(target, link);
}

// Descriptors of this process open on the device at `path`.
int DescriptorsOn(const std::string& path)
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = fs::read_symlink(entry.path(), error).string();
        if (!error && (target == path || target == path + " (deleted)"))
            ++count;
    }
    return count;
}

// CPU time this process used while its event loop ran for `ms` (QTest::qWait would add its
// own 10 ms wake-ups).
double CpuMsWhileWaiting(int ms)
{
    const auto cpu = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    };
    const double before = cpu();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return cpu() - before;
}

std::string Dir(const QTemporaryDir& dir, const char* name)
{
    return dir.filePath(QLatin1String(name)).toStdString();
}

} // namespace

class ReconnectTest : public QObject {
    Q_OBJECT

private slots:
    void identityByIdLinksAndLinksToPseudoTerminals();
    void onlyARecognisableDeviceIsTakenBack();
    void watchChecksOnlyWhileWaitingAndReopensOnce();
    void portListMarksDevicesAndFollowsTheirComingAndGoing();
    void lostDeviceIsClosedAwaitedAndReopened();
    void lostBarePseudoTerminalIsLeftToItsNextOwner();
};

void ReconnectTest::identityByIdLinksAndLinksToPseudoTerminals()
{
    QTemporaryDir dir;
    const fs::path byId = Dir(dir, "by-id");
    fs::create_directory(byId);
    const std::string ttyUSB0 = Dir(dir, "ttyUSB0");

    // Adapter A as ttyUSB0, with its by-id link.
    auto a = std::make_unique<Pty>();
    LinkTo(ttyUSB0, a->path());
    LinkTo(byId / "usb-FTDI_A", a->path());
    const DeviceIdentity lost = IdentifyDevice(ttyUSB0, byId);
    QCOMPARE(lost.node, a->path());
    QCOMPARE(lost.byId, std::vector<std::string>{"usb-FTDI_A"});
    const DeviceIdentity lostById = IdentifyDevice((byId / "usb-FTDI_A").string(), byId);
    QCOMPARE(lostById.byId, std::vector<std::string>{"usb-FTDI_A"});

    a.reset(); // pulled: its node goes, udev removes the links
    fs::remove(ttyUSB0);
    fs::remove(byId / "usb-FTDI_A");
    QVERIFY(IdentifyDevice(ttyUSB0, byId).node.empty());
    QVERIFY(!SameDeviceBack(lost, IdentifyDevice(ttyUSB0, byId)));

    // Adapter B takes the name ttyUSB0: not the lost device.
    Pty b;
    LinkTo(ttyUSB0, b.path());
    LinkTo(byId / "usb-FTDI_B", b.path());
    QVERIFY(!SameDeviceBack(lost, IdentifyDevice(ttyUSB0, byId)));
    QVERIFY(!SameDeviceBack(lostById, IdentifyDevice(lostById.path, byId)));

    // A is back as ttyUSB1: its by-id path follows it; ttyUSB0 still is B.
    Pty a2;
    LinkTo(Dir(dir, "ttyUSB1"), a2.path());
    LinkTo(byId / "usb-FTDI_A", a2.path());
    QVERIFY(!SameDeviceBack(lost, IdentifyDevice(ttyUSB0, byId)));
    QVERIFY(SameDeviceBack(lostById, IdentifyDevice(lostById.path, byId)));

    // B goes, A takes ttyUSB0 again: the same path and the same adapter.
    LinkTo(ttyUSB0, a2.path());
    QVERIFY(SameDeviceBack(lost, IdentifyDevice(ttyUSB0, byId)));

    // A link to a pseudo-terminal, no by-id links: the same device whenever the link leads to
    // a tty again, and only then.
    const std::string ttyQTR = Dir(dir, "ttyQTR");
    auto first = std::make_unique<Pty>();
    LinkTo(ttyQTR, first->path());
    const DeviceIdentity pty = IdentifyDevice(ttyQTR, byId);
    QVERIFY(pty.byId.empty());
    first.reset();
    QVERIFY2(!SameDeviceBack(pty, IdentifyDevice(ttyQTR, byId)), "a dangling link");
    LinkTo(ttyQTR, dir.filePath(QStringLiteral("by-id")).toStdString());
    QVERIFY2(!SameDeviceBack(pty, IdentifyDevice(ttyQTR, byId)), "a link to no tty");
    Pty second;
    LinkTo(ttyQTR, second.path());
    QVERIFY(SameDeviceBack(pty, IdentifyDevice(ttyQTR, byId)));

    // The link left as it was: whatever now holds its pseudo-terminal is a stranger.
    const DeviceIdentity held = IdentifyDevice(ttyQTR, byId);
    QVERIFY(!held.link.empty());
    QVERIFY(!SameDeviceBack(held, IdentifyDevice(ttyQTR, byId)));
    QVERIFY(IdentifyDevice(second.path(), byId).link.empty());

    // A Win32 device name: only opening it tells.
    QVERIFY(SameDeviceBack(IdentifyDevice("\\\\.\\COM3"), IdentifyDevice("\\\\.\\COM3")));
}

// What a lost device was and what the same path leads to now: only an adapter with its by-id
// name or a link pointed anew is the device back; a bare terminal path may be anybody's.
void ReconnectTest::onlyARecognisableDeviceIsTakenBack()
{
    const DeviceIdentity adapter{"/dev/ttyUSB0", "/dev/ttyUSB0", {"usb-FTDI_A"}, ""};
    const DeviceIdentity link{"/tmp/ttyQTR", "/dev/pts/7", {}, "12:1000"};
    const DeviceIdentity pts{"/dev/pts/7", "/dev/pts/7", {}, ""};
    const DeviceIdentity ttyS{"/dev/ttyS0", "/dev/ttyS0", {}, ""};
    const struct {
        const char* what;
        DeviceIdentity lost, now;
        bool back;
    } cases[] = {
        {"the adapter, by its by-id name", adapter, adapter, true},
        {"another adapter under its name",
         adapter,
         {"/dev/ttyUSB0", "/dev/ttyUSB0", {"usb-B"}, ""},
         false},
        {"not there", adapter, {"/dev/ttyUSB0", "", {}, ""}, false},
        {"a link pointed at a new terminal",
         link,
         {"/tmp/ttyQTR", "/dev/pts/7", {}, "13:1001"},
         true},
        {"a link left as it was", link, link, false},
        {"a link now a plain node", link, {"/tmp/ttyQTR", "/dev/pts/7", {}, ""}, false},
        {"a bare pseudo-terminal taken by the next program", pts, pts, false},
        {"a bare serial port", ttyS, ttyS, false},
        {"a Win32 device name",
         {"\\\\.\\COM3", "\\\\.\\COM3", {}, ""},
         {"\\\\.\\COM3", "\\\\.\\COM3", {}, ""},
         true},
    };
    for (const auto& c : cases)
        QVERIFY2(SameDeviceBack(c.lost, c.now) == c.back, c.what);
    // Whether a wait for it is worth starting at all.
    QVERIFY(Recognisable(adapter));
    QVERIFY(Recognisable(link));
    QVERIFY(!Recognisable(pts));
    QVERIFY(!Recognisable(ttyS));
}

void ReconnectTest::watchChecksOnlyWhileWaitingAndReopensOnce()
{
    DeviceIdentity now{"", "/dev/ttyUSB0", {"usb-FTDI_A"}};
    int identified = 0;
    PortProbe probe;
    probe.devices = [] { return std::vector<SerialDevice>{}; };
    probe.identify = [&](const std::string& path) {
        ++identified;
        DeviceIdentity identity = now;
        identity.path = path;
        return identity;
    };
    PortWatch watch(probe);
    int reopened = 0;
    bool reopens = false;
    const auto reopen = [&] {
        ++reopened;
        return reopens;
    };

    watch.WaitForReturn(reopen);
    QVERIFY2(!watch.Waiting(), "nothing was opened, nothing to wait for");
    watch.Opened("/dev/ttyUSB0");
    QCOMPARE(watch.OpenedDevice().byId, std::vector<std::string>{"usb-FTDI_A"});
    watch.Check();
    QCOMPARE(identified, 1);

    watch.WaitForReturn(reopen);
    QVERIFY(watch.Waiting());
    const struct {
        DeviceIdentity seen;
        bool reopens;
        int reopened;
        bool waiting;
    } steps[] = {
        {{"", "", {}}, false, 0, true},                         // not back
        {{"", "/dev/ttyUSB0", {"usb-FTDI_B"}}, false, 0, true}, // another adapter
        {{"", "/dev/ttyUSB0", {"usb-FTDI_A"}}, false, 1, true}, // back, but refuses to open
        {{"", "/dev/ttyUSB0", {"usb-FTDI_A"}}, true, 2, false}, // opened
        {{"", "/dev/ttyUSB0", {"usb-FTDI_A"}}, true, 2, false}, // no more checks
    };
    for (const auto& step : steps) {
        now = step.seen;
        reopens = step.reopens;
        watch.Check();
        QCOMPARE(reopened, step.reopened);
        QCOMPARE(watch.Waiting(), step.waiting);
    }

    // The timer drives the checks while waiting; Stop ends them.
    now = {"", "", {}};
    watch.WaitForReturn(reopen);
    identified = 0;
    QTRY_VERIFY_WITH_TIMEOUT(identified >= 2, 2000);
    watch.Stop();
    identified = 0;
    QTest::qWait(3 * PortWatch::CheckPeriodMs);
    QCOMPARE(identified, 0);
}

void ReconnectTest::portListMarksDevicesAndFollowsTheirComingAndGoing()
{
    Pty pty;
    QVERIFY(pty.valid());
    QTemporaryDir links;
    const std::string link = Dir(links, "ttyQTR");
    LinkTo(link, pty.path());
    std::vector<SerialDevice> devices = {
        {pty.path(), pty.path().substr(5), "FT232R USB UART", "FTDI", "A10K3", 0x0403, 0x6001},
        {"/dev/ttyS1", "ttyS1", "", "", "", std::nullopt, std::nullopt},
    };
    PortProbe probe;
    probe.devices = [&] { return devices; };
    Window w("[Porty]\r\nCOM1=" + link + "\r\n", Window::System, probe);
    QComboBox* combo = w.Control<QComboBox>("Cmb_ComPort");

    // COM1 through the link, COM2 by default ttyS1; texts stay as they are.
    QVERIFY(!combo->itemIcon(0).isNull());
    QVERIFY(!combo->itemIcon(1).isNull());
    QVERIFY(combo->itemIcon(2).isNull());
    QCOMPARE(combo->itemText(0), QStringLiteral("COM1"));
    QCOMPARE(combo->itemText(1), QStringLiteral("COM2"));
    QCOMPARE(combo->itemData(0, Qt::ToolTipRole).toString(),
             QStringLiteral("COM1 = %1\n%2 — FT232R USB UART, FTDI, sériové č. A10K3, 0403:6001")
                 .arg(QString::fromStdString(link), QString::fromStdString(pty.path().substr(5))));
    QCOMPARE(w.Status(), QStringLiteral("COM1 = %1 (FT232R USB UART, sériové č. A10K3): připojeno")
                             .arg(QString::fromStdString(link)));

    // ttyS1 goes, ttyS2 comes.
    devices[1].path = "/dev/ttyS2";
    devices[1].name = "ttyS2";
    auto* watch = w.form->findChild<PortWatch*>();
    QVERIFY(watch);
    QSignalSpy changed(watch, &PortWatch::DevicesChanged);
    watch->Refresh();
    watch->Refresh();
    QCOMPARE(changed.count(), 1);
    QVERIFY(combo->itemIcon(1).isNull());
    QVERIFY(!combo->itemIcon(2).isNull());
    QCOMPARE(combo->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("COM2 = /dev/ttyS1"));
    QCOMPARE(combo->count(), 256);
    QVERIFY(w.messages.empty());
}

void ReconnectTest::lostDeviceIsClosedAwaitedAndReopened()
{
    QTemporaryDir links;
    const std::string link = Dir(links, "ttyQTR");
    auto pty = std::make_unique<Pty>();
    LinkTo(link, pty->path());
    Window w("[Porty]\r\nCOM1=" + link + "\r\n", Window::System);
    TForm1& f = *w.form;
    const QString connected =
        QStringLiteral("COM1 = %1: připojeno").arg(QString::fromStdString(link));
    const QString waiting = QStringLiteral("COM1 = %1: zařízení odpojeno, čekám na jeho návrat")
                                .arg(QString::fromStdString(link));
    QVERIFY(w.Port().Connected());
    QCOMPARE(w.Status(), connected);

    // A read request waits in the link's queue.
    w.Click(test::control<QPushButton>(f, "Btn_PosliTLG"));
    QCOMPARE(f.Link()->PendingCount(), size_t(1));
    Bytes expected = {0xFF};
    const Bytes queued = f.Link()->OldestPending();
    expected.insert(expected.end(), queued.begin(), queued.end());

    // Pulled: the far end hangs up and the link goes.
    const std::string oldPath = pty->path();
    QCOMPARE(DescriptorsOn(oldPath), 2); // the test's own and the window's
    pty->closeMaster();
    fs::remove(link);
    QTRY_COMPARE_WITH_TIMEOUT(w.Status(), waiting, 1000);
    QVERIFY(!w.Port().Connected());
    QCOMPARE(DescriptorsOn(oldPath), 1);
    QVERIFY(w.messages.empty());
    QCOMPARE(f.Link()->PendingCount(), size_t(1));
    QCOMPARE(test::control<TRadioGroup>(f, "Rgp_Stav")->ItemIndex(), 0);
    const double cpu = CpuMsWhileWaiting(2000);
    qInfo("CPU while waiting: %.1f ms in 2000 ms", cpu);
    QVERIFY2(cpu < 10, qPrintable(QStringLiteral("%1 ms: above 0.5 %").arg(cpu)));
    pty.reset();

    // A rate typed meanwhile waits for the operator; the device comes back at its own.
    test::control<QLineEdit>(f, "Edt_BaudRate")->setText(QStringLiteral("9600"));
    Pty back;
    LinkTo(link, back.path());
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(w.Port().Connected(), 3000);
    qInfo("reopened %lld ms after the link came back", clock.elapsed());
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(w.Status(), connected);
    QCOMPARE(w.Port().BaudRateValue(), 4800u);
    const termios line = back.settings();
    QCOMPARE(::cfgetospeed(&line), speed_t(B4800));
    QVERIFY(w.messages.empty());

    // The queued request answers the next poll, byte for byte.
    QVERIFY(back.send(test::Poll));
    QTRY_COMPARE(test::Lines(test::control<LineMemo>(f, "Memo3")).first(), test::HexText(expected));
    QCOMPARE(back.receive(expected.size()), expected);

    // Lost again; "Odpojeno" ends the wait: a device that comes back stays closed.
    back.closeMaster();
    fs::remove(link);
    QTRY_COMPARE_WITH_TIMEOUT(w.Status(), waiting, 1000);
    w.Select(test::control<TRadioGroup>(f, "Rgp_Stav"), 1);
    QCOMPARE(w.Status(), QStringLiteral("COM1 = %1: odpojeno").arg(QString::fromStdString(link)));
    Pty third;
    LinkTo(link, third.path());
    QTest::qWait(4 * PortWatch::CheckPeriodMs);
    QVERIFY(!w.Port().Connected());
    QCOMPARE(test::control<TRadioGroup>(f, "Rgp_Stav")->ItemIndex(), 1);
    QCOMPARE(third.exclusive(), 0);

    // "Připojeno" opens it as always, at the rate now in the edit.
    w.Select(test::control<TRadioGroup>(f, "Rgp_Stav"), 0);
    QVERIFY(w.Port().Connected());
    QCOMPARE(w.Port().BaudRateValue(), 9600u);
    QVERIFY(w.messages.empty());
}

// No stable name: the status bar says the device is gone, nothing opens by itself whatever
// appears at the path, and "Odpojeno" then "Připojeno" opens by hand.
void ReconnectTest::lostBarePseudoTerminalIsLeftToItsNextOwner()
{
    auto pty = std::make_unique<Pty>();
    const std::string path = pty->path();
    Window w(pty->Settings(), Window::System);
    QVERIFY(w.Port().Connected());
    const auto status = w.form->findChild<QLabel*>(QStringLiteral("StatusBar1Panel"));
    pty->closeMaster();
    QTRY_VERIFY_WITH_TIMEOUT(!w.Port().Connected(), 1000);
    pty.reset();

    Pty next; // the next program's terminal, at the same path as a rule
    qInfo("lost %s, the next terminal is %s", path.c_str(), next.path().c_str());
    QTest::qWait(4 * PortWatch::CheckPeriodMs);
    QCOMPARE(next.exclusive(), 0);
    QCOMPARE(DescriptorsOn(next.path()), 1);
    QVERIFY(!w.Port().Connected());
    QCOMPARE(status->text(), QStringLiteral("COM1 = %1: zařízení odpojeno, znovu otevře volba "
                                            "Připojeno")
                                 .arg(QString::fromStdString(path)));

    if (next.path() == path) {
        auto* state = test::control<TRadioGroup>(*w.form, "Rgp_Stav");
        w.Select(state, 1);
        w.Select(state, 0);
        QVERIFY(w.Port().Connected());
        QCOMPARE(next.exclusive(), 1);
    }
    QVERIFY(w.messages.empty());
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    ReconnectTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "reconnect_test.moc"
