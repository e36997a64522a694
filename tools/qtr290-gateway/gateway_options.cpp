#include "tools/qtr290-gateway/gateway_options.h"

#include "mqtt/password.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <charconv>

namespace qtr290::gateway {

namespace {

constexpr unsigned LowestBaud = 50;
constexpr unsigned HighestBaud = 4000000;
constexpr long LongestCountersSeconds = 86400;
constexpr long LargestBuffer = 100000000;

std::optional<long> Whole(const QString& text, long lowest, long highest)
{
    const std::string s = text.toStdString();
    long value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value < lowest ||
        value > highest)
        return std::nullopt;
    return value;
}

// The usage names the program as it is known, not by the path it was started with.
std::string Usage(const QCommandLineParser& parser, const QString& startedAs)
{
    QString text = parser.helpText();
    if (!startedAs.isEmpty())
        text.replace(QStringLiteral("Usage: ") + startedAs,
                     QStringLiteral("Usage: qtr290-gateway"));
    return text.toStdString();
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Publishes a QTR290 bus to an MQTT broker: its status, every telegram, checksum errors and "
        "the bus counters under PREFIX/BUS/; with --allow-requests it also takes read and write "
        "requests (qtr290-ctl batch lines) from PREFIX/BUS/request.\n"
        "The password is the first line of --password-file, or QTR290_MQTT_PASSWORD."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    auto valued = [&](const char* name, const char* description, const char* value) {
        QCommandLineOption option(QString::fromLatin1(name), QString::fromUtf8(description),
                                  QString::fromLatin1(value));
        parser.addOption(option);
        return option;
    };
    auto flag = [&](const char* name, const char* description) {
        QCommandLineOption option(QString::fromLatin1(name), QString::fromUtf8(description));
        parser.addOption(option);
        return option;
    };
    const auto device = valued("device",
                               "The serial device (else the port of the settings file, "
                               "as qtr290-ctl finds it).",
                               "path");
    const auto baud = valued("baud", "The baud rate (else the settings file's, 4800).", "rate");
    const auto broker = valued("broker",
                               "mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS); "
                               "default mqtt://localhost.",
                               "url");
    const auto bus = valued("bus",
                            "The bus's name in the topics (default: the device's file "
                            "name, ttyUSB0).",
                            "name");
    const auto prefix = valued("prefix", "The first level of the topics (default qtr290).", "p");
    const auto username = valued("username", "The MQTT user name.", "user");
    const auto passwordFile =
        valued("password-file", "A file whose first line is the password.", "file");
    const auto caFile = valued("cafile",
                               "TLS: the certificate authorities to trust (else the "
                               "system's).",
                               "file");
    const auto cert = valued("cert", "TLS: this client's certificate.", "file");
    const auto key = valued("key", "TLS: this client's private key.", "file");
    const auto allowRequests = flag("allow-requests", "Take read and write requests from "
                                                      "PREFIX/BUS/request (off: publish only).");
    const auto noPolls = flag("no-polls", "Do not publish polls.");
    const auto qos = valued("qos",
                            "QoS of the telegrams, 0 or 1 (default 1; status and results "
                            "are always 1).",
                            "0|1");
    const auto counters = valued("counters",
                                 "Publish the counters every so many seconds "
                                 "(default 10).",
                                 "seconds");
    const auto buffer = valued("buffer",
                               "Telegrams kept while the broker is away (default "
                               "100000); the rest are counted as dropped.",
                               "n");

    CommandLine result;
    auto misuse = [&](const std::string& why) {
        result.action = CommandLine::Action::Misuse;
        result.output = why + "\n\n" + Usage(parser, arguments.value(0));
        return result;
    };
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::Help;
        result.output = Usage(parser, arguments.value(0));
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::Version;
        result.output = (QCoreApplication::applicationName() + QLatin1Char(' ') +
                         QCoreApplication::applicationVersion() + QLatin1Char('\n'))
                            .toStdString();
        return result;
    }
    if (!parsed)
        return misuse(parser.errorText().toStdString());
    if (!parser.positionalArguments().isEmpty())
        return misuse("Unexpected argument '" +
                      parser.positionalArguments().constFirst().toStdString() + "'.");

    GatewayOptions& o = result.options;
    if (parser.isSet(device)) {
        o.device = parser.value(device).toStdString();
        if (o.device->empty())
            return misuse("--device: an empty device path");
    }
    if (parser.isSet(baud)) {
        const auto value = Whole(parser.value(baud), LowestBaud, HighestBaud);
        if (!value)
            return misuse("--baud '" + parser.value(baud).toStdString() +
                          "': not a whole number from 50 to 4000000");
        o.baud = static_cast<unsigned>(*value);
    }
    std::string why;
    const auto address = mqtt::ParseBrokerUrl(
        parser.isSet(broker) ? parser.value(broker).toStdString() : "mqtt://localhost", why);
    if (!address)
        return misuse("--broker " + why);
    o.broker = *address;
    // Topic levels: no wildcards, no separators of their own.
    auto level = [&](const QCommandLineOption& option, std::string& target) {
        if (!parser.isSet(option))
            return true;
        target = parser.value(option).toStdString();
        return !target.empty() && target.find_first_of("/+#") == std::string::npos &&
               target.find('\0') == std::string::npos;
    };
    if (!level(bus, o.bus))
        return misuse("--bus '" + o.bus + "': a topic level without /, + or #");
    if (!level(prefix, o.prefix))
        return misuse("--prefix '" + o.prefix + "': a topic level without /, + or #");
    o.username = parser.value(username).toStdString();
    const auto password = mqtt::ReadPassword(
        parser.isSet(passwordFile) ? std::optional(parser.value(passwordFile).toStdString())
                                   : std::nullopt,
        why);
    if (!password)
        return misuse(why);
    o.password = *password;
    o.caFile = parser.value(caFile).toStdString();
    o.certFile = parser.value(cert).toStdString();
    o.keyFile = parser.value(key).toStdString();
    if (o.certFile.empty() != o.keyFile.empty())
        return misuse("--cert and --key go together");
    if (!o.broker.tls && (!o.caFile.empty() || !o.certFile.empty()))
        return misuse("--cafile, --cert and --key need an mqtts:// broker");
    o.allowRequests = parser.isSet(allowRequests);
    o.noPolls = parser.isSet(noPolls);
    if (parser.isSet(qos)) {
        const auto value = Whole(parser.value(qos), 0, 1);
        if (!value)
            return misuse("--qos '" + parser.value(qos).toStdString() + "': 0 or 1");
        o.telegramQos = static_cast<int>(*value);
    }
    if (parser.isSet(counters)) {
        const auto value = Whole(parser.value(counters), 1, LongestCountersSeconds);
        if (!value)
            return misuse("--counters '" + parser.value(counters).toStdString() +
                          "': a whole number of seconds from 1 to 86400");
        o.countersSeconds = static_cast<int>(*value);
    }
    if (parser.isSet(buffer)) {
        const auto value = Whole(parser.value(buffer), 0, LargestBuffer);
        if (!value)
            return misuse("--buffer '" + parser.value(buffer).toStdString() +
                          "': a whole number of telegrams from 0 to 100000000");
        o.bufferLimit = static_cast<std::size_t>(*value);
    }
    return result;
}

} // namespace qtr290::gateway
