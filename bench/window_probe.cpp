#include "bench/window_probe.h"

#include "link/hextext.h"
#include "tests/support/window_controls.h"
#include "widgets/linememo.h"
#include "widgets/radiogroup.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>

namespace qtr290::bench {

std::vector<std::uint8_t> HexBytes(const QString& text)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(text.size() / 3 + 1));
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        const int high = HexDigitValue(text[i].unicode());
        const int low = HexDigitValue(text[i + 1].unicode());
        if (high >= 0 && low >= 0) {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
            ++i;
        }
    }
    return bytes;
}

MemoWatch::MemoWatch(LineMemo* memo, Telegram onTelegram)
    : FMemo(memo), FOnTelegram(std::move(onTelegram))
{
    FConnection = QObject::connect(FMemo, &LineMemo::LinesAdded,
                                   [this](int first, int count) { Added(first, count); });
}

MemoWatch::~MemoWatch()
{
    QObject::disconnect(FConnection);
}

void MemoWatch::Added(int first, int count)
{
    for (int line = first; line < first + count; ++line) {
        const QString& text = FMemo->Line(line);
        if (text.isEmpty())
            continue;
        if (text.startsWith(QStringLiteral("Vadne"))) {
            ++FErrorLines;
            continue;
        }
        ++FTelegrams;
        if (FOnTelegram)
            FOnTelegram(HexBytes(text));
    }
}

void MemoWatch::KeepShort(int lines)
{
    if (FMemo->LineCount() > lines)
        FMemo->Clear();
}

void RunEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::string MeasuringSettings(const QString& device, int baud)
{
    return "[Seriovy port]\r\nPort=1\r\nBaud rate=" + std::to_string(baud) +
           "\r\n[Program]\r\nPocet bytu na radku=300\r\n[Porty]\r\nCOM1=" + device.toStdString() +
           "\r\n";
}

void ShowEverything(TForm1& form)
{
    test::control<TRadioGroup>(form, "Rgp_PrijataData")->SetItemIndex(0);
    test::control<TRadioGroup>(form, "Rgp_Razeni")->SetItemIndex(0);
    test::control<QCheckBox>(form, "Chk_Filtr")->setChecked(false);
    test::control<QCheckBox>(form, "Chk_NezobrazujVyzvy")->setChecked(false);
    test::control<QCheckBox>(form, "Chk_VystupDoSouboru")->setChecked(true);
}

std::optional<std::vector<std::uint8_t>> CaptureBytes(const QString& path, long long* lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    long long count = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        const auto mark = line.indexOf('>');
        if (mark < 0 || !line.endsWith("\r\n"))
            return std::nullopt;
        const QByteArray hex = line.mid(mark + 1, line.size() - mark - 3);
        // "XX " per byte, nothing else.
        if (hex.size() % 3 != 0)
            return std::nullopt;
        for (qsizetype i = 0; i < hex.size(); i += 3) {
            const int high = HexDigitValue(static_cast<char16_t>(hex[i]));
            const int low = HexDigitValue(static_cast<char16_t>(hex[i + 1]));
            if (high < 0 || low < 0 || hex[i + 2] != ' ')
                return std::nullopt;
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
        ++count;
    }
    if (lines)
        *lines = count;
    return bytes;
}

Memory ResidentMemory()
{
    Memory memory;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream in(line);
        std::string key;
        long long kib = 0;
        if (!(in >> key >> kib))
            continue;
        if (key == "VmHWM:")
            memory.peakKiB = kib;
        else if (key == "VmRSS:")
            memory.residentKiB = kib;
    }
    return memory;
}

} // namespace qtr290::bench
