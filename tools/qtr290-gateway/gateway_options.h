// qtr290-gateway's command line, read with QCommandLineParser as the window reads its own;
// every value checked before any port or connection is opened.
#pragma once

#include "mqtt/client.h"

#include <QStringList>

#include <optional>
#include <string>

namespace qtr290::gateway {

struct GatewayOptions {
    std::optional<std::string> device;
    std::optional<unsigned> baud;
    mqtt::BrokerAddress broker;
    std::string bus; // empty: the device's file name
    std::string prefix = "qtr290";
    std::string username, password;
    std::string caFile, certFile, keyFile;
    bool allowRequests = false;
    bool noPolls = false;
    int telegramQos = 1;
    int countersSeconds = 10;
    std::size_t bufferLimit = 100000;
};

struct CommandLine {
    enum class Action { Run, Help, Version, Misuse };
    Action action = Action::Run;
    GatewayOptions options;
    std::string output; // the help, the version, or the mistake followed by the usage
};

// `arguments` with the program's name first, as QCoreApplication::arguments() gives them.
// The password comes from --password-file (its first line) or QTR290_MQTT_PASSWORD.
CommandLine ParseCommandLine(const QStringList& arguments);

} // namespace qtr290::gateway
