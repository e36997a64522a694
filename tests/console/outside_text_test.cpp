// Texts from outside the program (device names of the settings file, the adapters' descriptor
// strings, file paths) reach labels and tooltips as plain text: markup in them is shown, never
// followed. A file that markup would load is watched for being opened.
#include "app/application.h"
#include "tests/support/window_fixture.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QtTest>

#include <sys/inotify.h>
#include <unistd.h>

using namespace qtr290;

namespace {

// Counts the opens of one file from now on.
class OpenWatch {
public:
    explicit OpenWatch(const QString& file)
    {
        FFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ::inotify_add_watch(FFd, QFile::encodeName(file).constData(), IN_OPEN);
    }
    ~OpenWatch() { ::close(FFd); }
    int Opens() const
    {
        alignas(inotify_event) char buffer[4096];
        int opens = 0;
        ssize_t n;
        while ((n = ::read(FFd, buffer, sizeof buffer)) > 0) {
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                opens += (event->mask & IN_OPEN) != 0;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return opens;
    }

private:
    int FFd = -1;
};

// Paints the window and shows every tooltip it carries the way a tooltip shows it: a label
// that decides by itself whether the text is markup.
void PaintTextsAndTips(QWidget& window)
{
    (void)window.grab();
    QStringList tips;
    for (const QWidget* widget : window.findChildren<QWidget*>())
        tips << widget->toolTip();
    for (const QComboBox* combo : window.findChildren<QComboBox*>()) {
        for (int i = 0; i < combo->count(); ++i)
            tips << combo->itemData(i, Qt::ToolTipRole).toString();
    }
    for (const QString& tip : tips) {
        if (tip.isEmpty())
            continue;
        QLabel shown(tip);
        shown.adjustSize();
        (void)shown.grab();
    }
}

} // namespace

class OutsideTextTest : public QObject {
    Q_OBJECT

private slots:
    void markupFromOutsideIsShownNotFollowed_data();
    void markupFromOutsideIsShownNotFollowed();
};

void OutsideTextTest::markupFromOutsideIsShownNotFollowed_data()
{
    QTest::addColumn<QString>("device");      // COM1 in [Porty]; %1: the watched file
    QTest::addColumn<QString>("adapter");     // the descriptor strings of COM1's adapter
    QTest::addColumn<QString>("programName"); // the program folder's name
    QTest::addColumn<bool>("settingsUnreadable");
    const QString img = QStringLiteral("<img src=\"%1\">");
    QTest::newRow("a device name in the settings file")
        << QStringLiteral("/dev/") + img << QString() << QStringLiteral("bin") << false;
    QTest::newRow("an adapter's descriptor strings")
        << QStringLiteral("/dev/ttyQTR0") << img << QStringLiteral("bin") << false;
    QTest::newRow("the program's folder, with an unreadable settings file")
        << QStringLiteral("/dev/ttyQTR0") << QString() << QStringLiteral("<img src=probe>") << true;
}

void OutsideTextTest::markupFromOutsideIsShownNotFollowed()
{
    QFETCH(QString, device);
    QFETCH(QString, adapter);
    QFETCH(QString, programName);
    QFETCH(bool, settingsUnreadable);
    QTemporaryDir root;
    const QString probe = root.filePath(QStringLiteral("probe"));
    QFile file(probe);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not an image") > 0);
    file.close();
    QVERIFY(QDir::setCurrent(root.path())); // where a relative source would be looked for
    const QString program = root.filePath(programName);
    QVERIFY(QDir().mkpath(program));
    if (settingsUnreadable)
        QVERIFY(QDir(program).mkdir(QStringLiteral("nastaveni.ini")));
    const QString devicePath = QString(device).replace(QStringLiteral("%1"), probe);

    SerialDevice usb;
    usb.path = devicePath.toStdString();
    usb.name = "ttyQTR0";
    const QString adapterText = QString(adapter).replace(QStringLiteral("%1"), probe);
    usb.description = usb.manufacturer = usb.serialNumber = adapterText.toStdString();
    PortProbe ports;
    ports.devices = [&] { return std::vector<SerialDevice>{usb}; };
    ports.identify = [](const std::string& path) {
        DeviceIdentity identity;
        identity.path = identity.node = path;
        return identity;
    };

    auto line = std::make_shared<test::FakeLine>();
    line->autoAdvance = 1;
    TForm1Options options;
    options.programDir = program;
    options.folders = [&](const QString& dir) {
        return FileFolders{dir, true, root.filePath(QStringLiteral("config")), root.path()};
    };
    options.platform = [line] { return std::make_unique<test::FakePlatform>(line); };
    options.portProbe = ports;
    options.message = [](MessageKind, const QString&) {};
    if (!settingsUnreadable) {
        QFile settings(program + QStringLiteral("/nastaveni.ini"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(("[Porty]\r\nCOM1=" + devicePath + "\r\n").toUtf8());
    }

    OpenWatch opens(probe);
    TForm1 form(options);
    form.show();
    PaintTextsAndTips(form);
    QCOMPARE(opens.Opens(), 0);

    // The texts themselves are shown as they are.
    const QLabel* status = test::control<QLabel>(form, "StatusBar1Panel");
    if (!settingsUnreadable)
        QVERIFY2(status->text().contains(QStringLiteral("COM1 = ") + devicePath),
                 qPrintable(status->text()));
    if (!adapter.isEmpty())
        QVERIFY2(status->text().contains(adapterText), qPrintable(status->text()));
    form.close();
    QVERIFY(QDir::setCurrent(QDir::tempPath()));
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    OutsideTextTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "outside_text_test.moc"
