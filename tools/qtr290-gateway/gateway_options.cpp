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

// The options in the order --help lists them.
struct Declared {
    explicit Declared(QCommandLineParser& parser);

    QCommandLineParser& parser;
    QCommandLineOption help, version;
    QCommandLineOption device, baud, broker, bus, prefix;
    QCommandLineOption username, passwordFile, caFile, cert, key;
    QCommandLineOption allowRequests, noPolls, qos, counters, buffer;

    QCommandLineOption Valued(const char* name, const char* description, const char* value)
    {
        QCommandLineOption option(QString::fromLatin1(name), QString::fromUtf8(description),
                                  QString::fromLatin1(value));
        parser.addOption(option);
        return option;
    }
    QCommandLineOption Flag(const char* name, const char* description)
    {
        QCommandLineOption option(QString::fromLatin1(name), QString::fromUtf8(description));
        parser.addOption(option);
        return option;
    }
};

Declared::Declared(QCommandLineParser& p)
    : parser(p), help(p.addHelpOption()), version(p.addVersionOption()),
      device(Valued("device",
                    "The serial device (else the port of the settings file, as qtr290-ctl "
                    "finds it).",
                    "path")),
      baud(Valued("baud", "The baud rate (else the settings file's, 4800).", "rate")),
      broker(Valued("broker",
                    "mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS); default mqtt://localhost.",
                    "url")),
      bus(Valued("bus", "The bus's name in the topics (default: the device's file name, ttyUSB0).",
                 "name")),
      prefix(Valued("prefix", "The first level of the topics (default qtr290).", "p")),
      username(Valued("username", "The MQTT user name.", "user")),
      passwordFile(Valued("password-file", "A file whose first line is the password.", "file")),
      caFile(Valued("cafile", "TLS: the certificate authorities to trust (else the system's).",
                    "file")),
      cert(Valued("cert", "TLS: this client's certificate.", "file")),
      key(Valued("key", "TLS: this client's private key.", "file")),
      allowRequests(Flag("allow-requests",
                         "Take read and write requests from PREFIX/BUS/request (off: publish "
                         "only).")),
      noPolls(Flag("no-polls", "Do not publish polls.")),
      qos(Valued("qos",
                 "QoS of the telegrams, 0 or 1 (default 1; status and results are always 1).",
                 "0|1")),
      counters(Valued("counters", "Publish the counters every so many seconds (default 10).",
                      "seconds")),
      buffer(Valued("buffer",
                    "Telegrams kept while the broker is away (default 100000); the rest are "
                    "counted as dropped.",
                    "n"))
{
}

// A whole number option within its range into `target`; the mistake in words, "" when none.
template <class Target>
std::string ReadWhole(const Declared& d, const QCommandLineOption& option, long lowest,
                      long highest, const char* what, Target& target)
{
    if (!d.parser.isSet(option))
        return {};
    const QString text = d.parser.value(option);
    const auto value = Whole(text, lowest, highest);
    if (!value)
        return "--" + option.names().constFirst().toStdString() + " '" + text.toStdString() +
               "': " + what;
    target = static_cast<Target>(*value);
    return {};
}

// A topic level: no wildcards, no separators of its own.
std::string ReadLevel(const Declared& d, const QCommandLineOption& option, std::string& target)
{
    if (!d.parser.isSet(option))
        return {};
    target = d.parser.value(option).toStdString();
    if (!target.empty() && target.find_first_of("/+#") == std::string::npos &&
        target.find('\0') == std::string::npos)
        return {};
    return "--" + option.names().constFirst().toStdString() + " '" + target +
           "': a topic level without /, + or #";
}

// The bus side and where the topics go: --device, --baud, --broker, --bus, --prefix.
std::string ReadBusAndTopics(const Declared& d, GatewayOptions& o)
{
    if (d.parser.isSet(d.device)) {
        o.device = d.parser.value(d.device).toStdString();
        if (o.device->empty())
            return "--device: an empty device path";
    }
    if (d.parser.isSet(d.baud)) {
        unsigned rate = 0;
        if (auto why = ReadWhole(d, d.baud, LowestBaud, HighestBaud,
                                 "not a whole number from 50 to 4000000", rate);
            !why.empty())
            return why;
        o.baud = rate;
    }
    std::string why;
    const auto address = mqtt::ParseBrokerUrl(
        d.parser.isSet(d.broker) ? d.parser.value(d.broker).toStdString() : "mqtt://localhost",
        why);
    if (!address)
        return "--broker " + why;
    o.broker = *address;
    if (auto mistake = ReadLevel(d, d.bus, o.bus); !mistake.empty())
        return mistake;
    return ReadLevel(d, d.prefix, o.prefix);
}

// Who the gateway is to the broker: user, password, TLS files.
std::string ReadBrokerAccess(const Declared& d, GatewayOptions& o)
{
    o.username = d.parser.value(d.username).toStdString();
    std::string why;
    const auto password = mqtt::ReadPassword(
        d.parser.isSet(d.passwordFile) ? std::optional(d.parser.value(d.passwordFile).toStdString())
                                       : std::nullopt,
        why);
    if (!password)
        return why;
    o.password = *password;
    o.caFile = d.parser.value(d.caFile).toStdString();
    o.certFile = d.parser.value(d.cert).toStdString();
    o.keyFile = d.parser.value(d.key).toStdString();
    if (o.certFile.empty() != o.keyFile.empty())
        return "--cert and --key go together";
    if (!o.broker.tls && (!o.caFile.empty() || !o.certFile.empty()))
        return "--cafile, --cert and --key need an mqtts:// broker";
    return {};
}

// What is published and taken: requests, polls, QoS, the counters' period, the buffer.
std::string ReadPublishing(const Declared& d, GatewayOptions& o)
{
    o.allowRequests = d.parser.isSet(d.allowRequests);
    o.noPolls = d.parser.isSet(d.noPolls);
    if (auto why = ReadWhole(d, d.qos, 0, 1, "0 or 1", o.telegramQos); !why.empty())
        return why;
    if (auto why = ReadWhole(d, d.counters, 1, LongestCountersSeconds,
                             "a whole number of seconds from 1 to 86400", o.countersSeconds);
        !why.empty())
        return why;
    return ReadWhole(d, d.buffer, 0, LargestBuffer,
                     "a whole number of telegrams from 0 to 100000000", o.bufferLimit);
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
    const Declared declared(parser);

    CommandLine result;
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(declared.help)) {
        result.action = CommandLine::Action::Help;
        result.output = Usage(parser, arguments.value(0));
        return result;
    }
    if (parser.isSet(declared.version)) {
        result.action = CommandLine::Action::Version;
        result.output = (QCoreApplication::applicationName() + QLatin1Char(' ') +
                         QCoreApplication::applicationVersion() + QLatin1Char('\n'))
                            .toStdString();
        return result;
    }
    std::string why;
    if (!parsed)
        why = parser.errorText().toStdString();
    else if (!parser.positionalArguments().isEmpty())
        why = "Unexpected argument '" + parser.positionalArguments().constFirst().toStdString() +
              "'.";
    if (why.empty())
        why = ReadBusAndTopics(declared, result.options);
    if (why.empty())
        why = ReadBrokerAccess(declared, result.options);
    if (why.empty())
        why = ReadPublishing(declared, result.options);
    if (!why.empty()) {
        result.action = CommandLine::Action::Misuse;
        result.output = why + "\n\n" + Usage(parser, arguments.value(0));
    }
    return result;
}

} // namespace qtr290::gateway
