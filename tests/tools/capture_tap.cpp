// Test helper: listens on a serial device with the project's driver at the link's port
// settings and writes every chunk to a capture file exactly as the window does (the same
// line builder and exclusive append). Stops after IDLE_MS without bytes once something
// arrived, or after MAX_MS in all.
// Usage: qtr290-capture-tap DEVICE FILE [IDLE_MS [MAX_MS]]
#include "capture/capturefile.h"
#include "serial/SerialDrv.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    using namespace qtr290;
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: qtr290-capture-tap DEVICE FILE [IDLE_MS [MAX_MS]]\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[2]);
    const qint64 idleMs = argc > 3 ? std::atoll(argv[3]) : 1500;
    const qint64 maxMs = argc > 4 ? std::atoll(argv[4]) : 60000;

    TSerialPortDriver port;
    port.SetPortName(argv[1]);
    port.SetBaudRateValue(4800);
    port.SetDataBits(db8BITS);
    port.SetParity(ptNONE);
    port.SetStopBits(sb1BITS);
    port.SetHwFlow(hfNONERTSON);
    port.SetSwFlow(sfNONE);
    port.SetEnableDTROnOpen(false);
    port.SetPollingDelay(40);
    QElapsedTimer sinceLast;
    bool any = false;
    std::size_t bytes = 0;
    port.SetOnReceiveData([&](TSerialPortDriver&, std::span<const std::uint8_t> data) {
        PripisDoSouboru(file, CaptureChunkLine(data, QDateTime::currentDateTime()));
        any = true;
        bytes += data.size();
        sinceLast.restart();
    });
    if (!port.Connect()) {
        std::fprintf(stderr, "qtr290-capture-tap: cannot open %s\n", argv[1]);
        return 1;
    }
    QElapsedTimer total;
    total.start();
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if ((any && sinceLast.elapsed() > idleMs) || total.elapsed() > maxMs)
            app.quit();
    });
    check.start(50);
    app.exec();
    port.Disconnect();
    std::printf("%zu bytes captured\n", bytes);
    return any ? 0 : 1;
}
