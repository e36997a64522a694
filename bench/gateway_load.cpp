// qtr290-gateway under load: saturated buses from qtr290-sim, one gateway process per bus,
// one mosquitto, one subscriber to qtr290/+/telegram in this process. Prints the gateways'
// and the broker's CPU (% of one core), the latency from a telegram's last byte on the line
// (the simulator's log) to the subscriber, and the telegrams lost against the simulator's
// log. With --requests, the first bus (not saturated) has its gateway take read requests
// (about 200 kept pending) and the broker is stopped (SIGSTOP) for --stall seconds in the middle:
// the poll answers, from the simulator's log (a poll's last byte to the answer read back), must not
// be later while the broker does not read. A measurement, not a test: the figures go to
// docs/PERFORMANCE.md.
//
//   gateway_load [--seconds 60] [--gateways 1] [--baud 256000] [--poll-interval 50]
//                [--requests] [--stall 10]
#include "bench/bench_options.h"
#include "bench/sim_process.h"
#include "mqtt/client.h"
#include "tests/support/mosquitto_broker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace qtr290;

namespace {

struct Options {
    double seconds = 60;
    int gateways = 1;
    unsigned baud = 256000;
    int pollIntervalMs = 50;
    bool requests = false;
    double stallSeconds = 10;
};

constexpr int RequestsKeptPending = 200;

// Poll answers from the simulator's log: each request the gateway wrote, timed from the
// latest poll before it; split by whether it was written while the broker was stopped.
struct AnswerTimes {
    std::vector<double> normal, stalled;
};

AnswerTimes PollAnswers(const std::vector<bench::SimLogLine>& log, double stallFrom, double stallTo)
{
    AnswerTimes times;
    double lastPoll = -1;
    for (const auto& line : log) {
        if (line.direction == "TX" && line.kind == "poll")
            lastPoll = line.ms;
        else if (line.direction == "RX" && line.kind == "read-request" && lastPoll >= 0)
            (line.ms >= stallFrom && line.ms <= stallTo ? times.stalled : times.normal)
                .push_back(line.ms - lastPoll);
    }
    std::sort(times.normal.begin(), times.normal.end());
    std::sort(times.stalled.begin(), times.stalled.end());
    return times;
}

void PrintAnswers(const char* what, const std::vector<double>& sorted)
{
    if (sorted.empty()) {
        std::printf("poll answers %s: none\n", what);
        return;
    }
    std::printf("poll answers %s: %zu, p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", what,
                sorted.size(), bench::Percentile(sorted, 50), bench::Percentile(sorted, 99),
                sorted.back());
}

double MonotonicMs()
{
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Bus {
    std::unique_ptr<bench::SimProcess> sim;
    double simStartMs = 0; // monotonic, when its device line was read: its log's zero
    std::unique_ptr<QProcess> gateway;
    std::vector<std::pair<std::string, double>> received; // hex, monotonic ms
};

// The simulator's intact telegrams as it put them on the line: hex and monotonic ms.
std::vector<std::pair<std::string, double>> LineTelegrams(const Bus& bus)
{
    std::vector<std::pair<std::string, double>> sent;
    for (const auto& line : bus.sim->Log()) {
        if (line.direction != "TX" || line.bytes.empty() || line.kind == "noise" ||
            line.kind.find("damaged") != std::string::npos)
            continue;
        QByteArray hex = QByteArray(reinterpret_cast<const char*>(line.bytes.data()),
                                    static_cast<qsizetype>(line.bytes.size()))
                             .toHex(' ')
                             .toUpper();
        sent.emplace_back(hex.toStdString(), bus.simStartMs + line.ms);
    }
    return sent;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    bench::CommandLine line;
    line.Value("--seconds", o.seconds)
        .Value("--gateways", o.gateways)
        .Value("--baud", o.baud)
        .Value("--poll-interval", o.pollIntervalMs)
        .Flag("--requests", o.requests, true)
        .Value("--stall", o.stallSeconds);
    if (!line.Parse(app.arguments()) || o.gateways < 1 || o.seconds <= 0) {
        std::fprintf(stderr, "usage: gateway_load [--seconds S] [--gateways N] [--baud B] "
                             "[--poll-interval MS] [--requests] [--stall S]\n");
        return 2;
    }

    test::MosquittoBroker broker;
    if (!broker.Start()) {
        std::fprintf(stderr, "gateway_load: %s\n", broker.Error().c_str());
        return 1;
    }
    std::vector<Bus> buses(static_cast<std::size_t>(o.gateways));
    std::map<std::string, Bus*> byTopic;

    mqtt::ClientOptions subscriberOptions;
    std::string why;
    subscriberOptions.broker = *mqtt::ParseBrokerUrl(broker.Url(), why);
    mqtt::Client subscriber(subscriberOptions);
    subscriber.onMessage = [&](const mqtt::Message& m) {
        const double now = MonotonicMs();
        if (m.topic == "qtr290/bus0/result") { // one answered: the next one in
            subscriber.Publish(
                {"qtr290/bus0/request",
                 R"({"op":"read","area":"FRAM290","address":"157","count":2,"timeout":600})",
                 1,
                 false,
                 {},
                 {}});
            return;
        }
        const auto found = byTopic.find(m.topic);
        if (found == byTopic.end())
            return;
        const QJsonObject t =
            QJsonDocument::fromJson(QByteArray::fromStdString(m.payload)).object();
        found->second->received.emplace_back(t.value("hex").toString().toStdString(), now);
    };
    subscriber.Subscribe("qtr290/+/telegram", 1);
    if (o.requests)
        subscriber.Subscribe("qtr290/bus0/result", 1);
    subscriber.Start(why);

    // The gateways open their ports a moment after the simulators start: the line's
    // telegrams before the first one received are not counted.
    for (int i = 0; i < o.gateways; ++i) {
        Bus& bus = buses[static_cast<std::size_t>(i)];
        bus.sim = std::make_unique<bench::SimProcess>(QStringLiteral(QTR290_SIM_PATH));
        // The bus with requests is not saturated: there, other stations' telegrams would take
        // each request out of the queue before its poll came (the queue's rule).
        const QString device =
            o.requests && i == 0
                ? bus.sim->Start({"--baud", QString::number(o.baud), "--poll-interval",
                                  QString::number(o.pollIntervalMs), "--duration",
                                  QString::number(o.seconds)})
                : bus.sim->StartSaturated(o.baud, o.pollIntervalMs, o.seconds);
        bus.simStartMs = MonotonicMs();
        if (device.isEmpty()) {
            std::fprintf(stderr, "gateway_load: %s\n", qPrintable(bus.sim->Error()));
            return 1;
        }
        const std::string name = "bus" + std::to_string(i);
        byTopic["qtr290/" + name + "/telegram"] = &bus;
        bus.gateway = std::make_unique<QProcess>();
        bus.gateway->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args = {"--device", device,
                            "--baud",   QString::number(o.baud),
                            "--broker", QString::fromStdString(broker.Url()),
                            "--bus",    QString::fromStdString(name)};
        if (o.requests && i == 0)
            args << "--allow-requests";
        bus.gateway->start(QStringLiteral(QTR290_GATEWAY_PATH), args);
        bus.gateway->waitForStarted();
    }

    QElapsedTimer wall;
    wall.start();
    std::map<qint64, double> cpuAtStart;
    cpuAtStart[broker.Pid()] = bench::ProcessCpuSeconds(broker.Pid()).value_or(0);
    for (const Bus& bus : buses)
        cpuAtStart[bus.gateway->processId()] =
            bench::ProcessCpuSeconds(bus.gateway->processId()).value_or(0);

    // Requests for the first bus, once its gateway has subscribed; the broker stopped for
    // --stall seconds in the middle of the run.
    double stallFrom = -1, stallTo = -1; // the first simulator's log time
    if (o.requests) {
        QTimer::singleShot(1000, &app, [&] {
            for (int i = 0; i < RequestsKeptPending; ++i)
                subscriber.Publish(
                    {"qtr290/bus0/request",
                     R"({"op":"read","area":"FRAM290","address":"157","count":2,"timeout":600})",
                     1,
                     false,
                     {},
                     {}});
        });
        const int stallAt = static_cast<int>(o.seconds * 1000 / 2 - o.stallSeconds * 500);
        QTimer::singleShot(std::max(2000, stallAt), &app, [&] {
            ::kill(static_cast<pid_t>(broker.Pid()), SIGSTOP);
            stallFrom = MonotonicMs() - buses[0].simStartMs;
            QTimer::singleShot(static_cast<int>(o.stallSeconds * 1000), &app, [&] {
                stallTo = MonotonicMs() - buses[0].simStartMs;
                ::kill(static_cast<pid_t>(broker.Pid()), SIGCONT);
            });
        });
    }

    // The simulators stop after --seconds; what is on its way arrives meanwhile.
    QTimer::singleShot(static_cast<int>(o.seconds * 1000), &app, [&] {
        const double elapsed = wall.elapsed() / 1000.0;
        double gatewaysCpu = 0;
        for (const Bus& bus : buses) {
            const qint64 pid = bus.gateway->processId();
            gatewaysCpu += bench::ProcessCpuSeconds(pid).value_or(0) - cpuAtStart[pid];
        }
        const double brokerCpu =
            bench::ProcessCpuSeconds(broker.Pid()).value_or(0) - cpuAtStart[broker.Pid()];
        std::printf("gateways: %d, %.1f s, %u Bd saturated%s, polls every %d ms\n", o.gateways,
                    elapsed, o.baud, o.requests ? " (but the first bus, with requests)" : "",
                    o.pollIntervalMs);
        std::printf("gateway CPU: %.2f %% of a core in total, %.2f %% each\n",
                    100 * gatewaysCpu / elapsed, 100 * gatewaysCpu / elapsed / o.gateways);
        std::printf("broker CPU: %.2f %% of a core\n", 100 * brokerCpu / elapsed);
        QTimer::singleShot(2000, &app, [&] { app.quit(); });
    });
    app.exec();

    std::vector<double> latencies;
    long long onLine = 0, lost = 0, mismatched = 0;
    for (Bus& bus : buses) {
        bus.sim->RunUntilFinished(5000);
        const auto sent = LineTelegrams(bus);
        if (bus.received.empty()) {
            std::printf("%s: nothing received\n", qPrintable(bus.sim->LogPath()));
            continue;
        }
        // Where the received sequence begins on the line: the first telegram sent after the
        // gateway's start with the same bytes as the first received, and the next ones too.
        std::size_t first = 0;
        auto matchesFrom = [&](std::size_t at) {
            for (std::size_t k = 0; k < 8 && k < bus.received.size(); ++k)
                if (at + k >= sent.size() || sent[at + k].first != bus.received[k].first)
                    return false;
            return true;
        };
        while (first < sent.size() && !matchesFrom(first))
            ++first;
        onLine += static_cast<long long>(sent.size() - first);
        std::size_t r = 0;
        for (std::size_t s = first; s < sent.size(); ++s) {
            if (r < bus.received.size() && bus.received[r].first == sent[s].first) {
                latencies.push_back(bus.received[r].second - sent[s].second);
                ++r;
            } else {
                ++lost;
            }
        }
        mismatched += static_cast<long long>(bus.received.size() - r);
    }
    if (o.requests) {
        const AnswerTimes answers = PollAnswers(buses[0].sim->Log(), stallFrom, stallTo);
        std::printf("broker stopped from %.1f s to %.1f s of the first bus's run\n",
                    stallFrom / 1000, stallTo / 1000);
        PrintAnswers("with the broker running", answers.normal);
        PrintAnswers("while the broker was stopped", answers.stalled);
    }
    for (Bus& bus : buses) {
        bus.gateway->terminate();
        bus.gateway->waitForFinished(5000);
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("telegrams on the line (after the gateway opened): %lld; received: %zu; lost: "
                "%lld; received but not on the line: %lld\n",
                onLine, latencies.size(), lost, mismatched);
    if (!latencies.empty())
        std::printf("latency line -> subscriber: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
                    bench::Percentile(latencies, 50), bench::Percentile(latencies, 99),
                    latencies.back());
    return 0;
}
