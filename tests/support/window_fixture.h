// The main window over a temporary program directory, for the window tests and the
// benchmarks alike. The port is a scripted line (bytes go in as the port's polling would
// deliver them, and what the window transmits is kept), a scripted line whose device is
// absent, or the system's serial platform.
#pragma once

#include "console/main.h"
#include "settings/iniprofile.h"
#include "tests/support/fake_platform.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/telegrams.h"
#include "tests/support/window_controls.h"
#include "widgets/radiogroup.h"

#include "widgets/linememo.h"
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace qtr290::test {

// The worked telegrams as the memos show them.
inline const QString ReadRequestText = QStringLiteral("A6 00 F0 0A 03 5D 01 57 01 00 A7 ");
inline const QString PollText = QStringLiteral("A6 F0 01 00 00 69 01 FF ");
inline const QString PortWarning =
    QStringLiteral("Daný sériový port neexistuje nebo se právě používá !");

struct Message {
    MessageKind kind;
    QString text;
};

class WindowFixture {
public:
    enum Platform {
        ScriptedLine, // a FakeLine whose device is there
        Absent,       // a FakeLine whose device never opens
        System,       // the system's serial ports, named through the settings file
    };

    // `settings`: the bytes of nastaveni.ini; empty: no file. `probe`: how the window lists
    // and recognises serial devices; empty: the system's. `language`: as --language gives it.
    explicit WindowFixture(const std::string& settings = {}, Platform platform = ScriptedLine,
                           PortProbe portProbe = {}, QString windowLanguage = {})
        : probe(std::move(portProbe)), language(std::move(windowLanguage))
    {
        if (!settings.empty())
            WriteSettings(settings);
        Open(platform);
    }

    ~WindowFixture()
    {
        if (form)
            form->close(); // FormClose once, as when the operator closes it
    }

    // Makes a new window over the same directory (the previous one is dropped unclosed).
    void Open(Platform platform)
    {
        form.reset();
        line->present = platform != Absent;
        line->autoAdvance = 1; // the link's guard waits around a transmission end
        TForm1Options options;
        options.programDir = dir.path();
        options.message = [this](MessageKind kind, const QString& text) {
            messages.push_back({kind, text});
        };
        options.portProbe = probe;
        options.language = language;
        if (platform != System)
            options.platform = [this] { return std::make_unique<FakePlatform>(line); };
        form = std::make_unique<TForm1>(options);
        form->show();
    }

    // One chunk through the port's polling, as the serial line would deliver it.
    void Receive(const Bytes& chunk)
    {
        line->deliver(chunk);
        line->tick();
    }

    // The names the window tried to open.
    const std::vector<std::string>& Opened() const { return line->openAttempts; }

    QString SettingsPath() const { return dir.filePath(QStringLiteral("nastaveni.ini")); }
    void WriteSettings(const std::string& bytes) const
    {
        QFile file(SettingsPath());
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes.data(), qint64(bytes.size()));
    }
    std::string Settings() const
    {
        QFile file(SettingsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString()
                                              : std::string("<missing>");
    }
    std::string Written(const char* section, const char* key) const
    {
        IniProfile ini(SettingsPath());
        ini.Load();
        return ini.ReadString(section, key, "<missing>");
    }

    QString CapturePath() const { return dir.filePath(QStringLiteral("incoming.txt")); }
    QByteArray Capture() const
    {
        QFile file(CapturePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QList<QByteArray> CaptureLines() const
    {
        QList<QByteArray> lines = Capture().split('\n');
        if (!lines.isEmpty() && lines.back().isEmpty())
            lines.removeLast();
        return lines;
    }

    QString Status() const
    {
        return form->findChild<QLabel*>(QStringLiteral("StatusBar1Panel"))->text();
    }
    int Count(MessageKind kind) const
    {
        return int(std::count_if(messages.begin(), messages.end(),
                                 [kind](const Message& m) { return m.kind == kind; }));
    }
    TSerialPortDriver& Port() { return form->Link()->SeriovyPort(); }

    // A control of the window by its object name.
    template <class Widget> Widget* Control(const char* name) const
    {
        return control<Widget>(*form, name);
    }

    void Select(TRadioGroup* group, int index)
    {
        QTest::mouseClick(group->Item(index), Qt::LeftButton);
    }
    void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    PortProbe probe;
    QString language;
    QTemporaryDir dir;
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    std::vector<Message> messages;
    std::unique_ptr<TForm1> form;
};

// The memo's lines, top to bottom; an empty memo reads as the one empty line it counts.
inline QStringList Lines(const LineMemo* memo)
{
    return memo->IsEmpty() ? QStringList{QString()} : memo->Lines();
}

// What the device side of the pseudo-terminal has written, waiting up to `ms` for `count`
// bytes with the event loop running (the window answers from its polling tick).
inline Bytes ReceiveWhileRunning(const Pty& pty, std::size_t count, int ms = 3000)
{
    Bytes line;
    QElapsedTimer waited;
    waited.start();
    while (line.size() < count && waited.elapsed() < ms) {
        QTest::qWait(5);
        const Bytes more = pty.receive();
        line.insert(line.end(), more.begin(), more.end());
    }
    return line;
}

inline QString HexText(const Bytes& bytes)
{
    QString text;
    for (std::uint8_t b : bytes)
        text += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

} // namespace qtr290::test
