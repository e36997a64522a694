// The main window over a temporary program directory, for the display, composer and
// end-to-end tests. The port is a scripted line (bytes go in as the port's polling would
// deliver them, and what the window transmits is kept), or the system's serial platform.
#pragma once

#include "fake_platform.h"
#include "main.h"
#include "radiogroup.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace qtr290::test {

using Bytes = std::vector<std::uint8_t>;

// Worked telegrams: a read request from 0xF0 to 0x00 (not a poll) and a long poll of
// station 0xF0 by the master 0x01, sequence number 1.
inline const Bytes ReadRequest = {0xA6, 0x00, 0xF0, 0x0A, 0x03, 0x5D, 0x01, 0x57, 0x01, 0x00, 0xA7};
inline const Bytes Poll = {0xA6, 0xF0, 0x01, 0x00, 0x00, 0x69, 0x01, 0xFF};
inline const QString ReadRequestText = QStringLiteral("A6 00 F0 0A 03 5D 01 57 01 00 A7 ");
inline const QString PollText = QStringLiteral("A6 F0 01 00 00 69 01 FF ");

struct Message {
    MessageKind kind;
    QString text;
};

class WindowFixture {
public:
    enum Platform { ScriptedLine, System };

    explicit WindowFixture(const std::string& settings = {}, Platform platform = ScriptedLine)
    {
        if (!settings.empty()) {
            QFile file(dir.filePath(QStringLiteral("nastaveni.ini")));
            if (file.open(QIODevice::WriteOnly))
                file.write(settings.data(), qint64(settings.size()));
        }
        line->autoAdvance = 1; // the link's guard waits around a transmission end
        TForm1Options options;
        options.adresarProgramu = dir.path();
        options.zprava = [this](MessageKind kind, const QString& text) {
            messages.push_back({kind, text});
        };
        if (platform == ScriptedLine)
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

    void Select(TRadioGroup* group, int index)
    {
        QTest::mouseClick(group->Item(index), Qt::LeftButton);
    }
    void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    QTemporaryDir dir;
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    std::vector<Message> messages;
    std::unique_ptr<TForm1> form;
};

// The memo's lines (text blocks), top to bottom.
inline QStringList Lines(const QPlainTextEdit* memo)
{
    QStringList lines;
    for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    return lines;
}

// The master side of a pseudo-terminal; the window opens the slave as its serial port.
class Pty {
public:
    Pty()
    {
        FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (FMaster >= 0 && grantpt(FMaster) == 0 && unlockpt(FMaster) == 0)
            FPath = QString::fromLocal8Bit(ptsname(FMaster));
    }
    ~Pty()
    {
        if (FMaster >= 0)
            ::close(FMaster);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool valid() const { return !FPath.isEmpty(); }
    const QString& path() const { return FPath; }
    std::string Settings() const { return "[Porty]\r\nCOM1=" + FPath.toStdString() + "\r\n"; }
    bool send(const Bytes& bytes)
    {
        return ::write(FMaster, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    }
    // Whatever the slave side has written so far.
    Bytes receive()
    {
        Bytes bytes;
        std::uint8_t buffer[512];
        ssize_t n;
        while ((n = ::read(FMaster, buffer, sizeof buffer)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        return bytes;
    }

private:
    int FMaster = -1;
    QString FPath;
};

inline QString HexText(const Bytes& bytes)
{
    QString text;
    for (std::uint8_t b : bytes)
        text += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

} // namespace qtr290::test
