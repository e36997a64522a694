// qtr290-gateway: a QTR290 bus on an MQTT broker. Runs in the foreground until SIGTERM or
// SIGINT; systemd runs it as qtr290-gateway@BUS.
#include "tools/qtr290-gateway/gateway.h"

#include <QCoreApplication>
#include <QTimer>

#include <iostream>

#ifndef QTR290_VERSION
#define QTR290_VERSION "0"
#endif

namespace {

constexpr int ExitUsage = 4;
constexpr int StopCheckMs = 50;

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qtr290-gateway"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QTR290_VERSION));
    using qtr290::gateway::CommandLine;
    const CommandLine line = qtr290::gateway::ParseCommandLine(QCoreApplication::arguments());
    switch (line.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        std::cout << line.output << std::flush;
        return 0;
    case CommandLine::Action::Misuse:
        std::cerr << "qtr290-gateway: " << line.output << std::flush;
        return ExitUsage;
    case CommandLine::Action::Run:
        break;
    }

    qtr290::gateway::InstallStopSignals();
    qtr290::gateway::Gateway gateway(line.options);
    gateway.onLog = [](const std::string& text) {
        std::cerr << "qtr290-gateway: " << text << std::endl;
    };
    std::string why;
    if (!gateway.Start(why)) {
        std::cerr << "qtr290-gateway: " << why << '\n';
        return ExitUsage; // TLS files, credentials or a settings file that cannot be used
    }
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, [&] {
        if (!qtr290::gateway::StopSignalled())
            return;
        stopWatch.stop();
        gateway.Stop();
        QCoreApplication::exit(0);
    });
    stopWatch.start(StopCheckMs);
    return QCoreApplication::exec();
}
