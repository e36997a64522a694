// What a frame costs without the utility: a window of the main window's size with one memo of
// Memo1's size and font, which every 40 ms gets as many new lines on top as a saturated bus
// brings, and nothing else (no port, no framing, no overview). Started by display_load
// (--program), it gives the floor that the utility's own figure stands on in the same harness:
// the toolkit's frame (the X server round trip, the fill, the flush) and the memo's rows.
//
// Usage: paint_floor [--lines N] [--bytes N] [--empty]
//   --lines  lines put on top a tick (80: about what 1024 bytes of the simulator's mix make)
//   --bytes  bytes a line (16, the utility's default)
//   --empty  no lines: the memo's empty viewport is repainted every tick (the toolkit alone)
#include "widgets/linememo.h"
#include "widgets/steadyscrollbar.h"

#include <QApplication>
#include <QFontDatabase>
#include <QTimer>

#include <cstdio>
#include <vector>

using namespace qtr290;

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    int linesPerTick = 80;
    int bytesPerLine = 16;
    bool empty = false;
    const QStringList args = application.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--lines") && hasValue)
            linesPerTick = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--bytes") && hasValue)
            bytesPerLine = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--empty"))
            empty = true;
        else {
            std::fprintf(stderr, "usage: paint_floor [--lines N] [--bytes N] [--empty]\n");
            return 2;
        }
    }

    // The main window's size at first start and Memo1's place, font and height in it.
    QWidget window;
    window.resize(976, 667);
    auto* memo = new LineMemo(&window);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setStyleStrategy(QFont::PreferNoShaping);
    memo->setFont(fixed);
    memo->setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical, memo));
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    const int margins = 2 * memo->frameWidth() + 2 * LineMemo::Margin + 4;
    memo->setGeometry(8, 8, 874, QFontMetrics(fixed).lineSpacing() * 12 + margins);
    window.show();

    // The lines are made from a table, so that the floor is the drawing, not the formatting.
    QStringList cells;
    for (int byte = 0; byte < 256; ++byte)
        cells << QStringLiteral("%1 ").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    unsigned counter = 0;
    std::vector<QString> lines(static_cast<std::size_t>(linesPerTick));
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(40);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (empty) {
            memo->viewport()->update();
            return;
        }
        for (QString& line : lines) {
            line = QString();
            line.reserve(3 * bytesPerLine);
            for (int i = 0; i < bytesPerLine; ++i)
                line += cells[(counter++ * 37) % 256];
        }
        const LineMemo::Batch batch(memo);
        if (memo->LineCount() > 1000)
            memo->Clear();
        memo->InsertAtTop(lines);
        memo->ScrollToTop();
    });
    tick.start();
    return application.exec();
}
