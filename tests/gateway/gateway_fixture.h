// What the gateway's tests and qtr290-ctl --broker's tests share: the bus simulator on a
// pseudo-terminal, the gateway's options for a test broker, JSON payloads read back, and a
// fixture that keeps this machine's settings file out of the way.
#pragma once

#include "tools/qtr290-ctl/ctl_signals.h"
#include "tools/qtr290-gateway/gateway_options.h"

#include "tests/support/child_process.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

namespace qtr290::test {

inline QJsonObject Json(const std::string& text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

inline std::string Str(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString().toStdString();
}

// The bus simulator on a pseudo-terminal; `Stop()` takes it away before its time.
struct Simulator {
    explicit Simulator(std::vector<std::string> args = {"--baud", "38400", "--poll-interval", "20",
                                                        "--quiet"})
    {
        ChildProcess::Options options;
        options.readFirstLine = true;
        process = std::make_unique<ChildProcess>(QTR290_SIM_PATH, args, options);
        device = process->FirstLine();
    }
    ~Simulator() { Stop(); }
    void Stop()
    {
        if (!process)
            return;
        process->Signal(SIGTERM);
        process->Wait(std::chrono::seconds(5));
        process.reset();
    }
    std::unique_ptr<ChildProcess> process;
    std::string device;
};

// A gateway of the bus "rig1" on `device` at 38400 Bd, publishing to `broker`.
inline gateway::GatewayOptions For(const MosquittoBroker& broker, const std::string& device)
{
    gateway::GatewayOptions o;
    std::string why;
    o.broker = *mqtt::ParseBrokerUrl(broker.Url(), why);
    o.device = device;
    o.baud = 38400;
    o.bus = "rig1";
    o.countersSeconds = 1;
    return o;
}

class GatewayFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        // No settings file of this machine's user is read.
        qputenv("QTR290_SETTINGS", QByteArray::fromStdString(settings / "nastaveni.ini"));
        ctl::ResetStop();
    }
    TempDir settings;
};

} // namespace qtr290::test
