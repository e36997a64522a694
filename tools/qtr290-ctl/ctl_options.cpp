#include "tools/qtr290-ctl/ctl_options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <initializer_list>

namespace qtr290::ctl {

namespace {

QCommandLineOption Flag(std::initializer_list<QString> names)
{
    return QCommandLineOption(QStringList(names));
}

QCommandLineOption Valued(const QString& name)
{
    return QCommandLineOption(name, QString(), QStringLiteral("value"));
}

// Our own help text stands in for the parser's; the options only need names.
struct OptionSet {
    QCommandLineOption help = Flag({QStringLiteral("h"), QStringLiteral("help")});
    QCommandLineOption version = Flag({QStringLiteral("version")});
    QCommandLineOption json = Flag({QStringLiteral("json")});
    QCommandLineOption verbose = Flag({QStringLiteral("verbose")});
    QCommandLineOption now = Flag({QStringLiteral("now")});
    QCommandLineOption noPolls = Flag({QStringLiteral("no-polls")});
    QCommandLineOption device = Valued(QStringLiteral("device"));
    QCommandLineOption baud = Valued(QStringLiteral("baud"));
    QCommandLineOption to = Valued(QStringLiteral("to"));
    QCommandLineOption from = Valued(QStringLiteral("from"));
    QCommandLineOption timeout = Valued(QStringLiteral("timeout"));
    QCommandLineOption count = Valued(QStringLiteral("count"));
    QCommandLineOption duration = Valued(QStringLiteral("duration"));
    QCommandLineOption filterFrom = Valued(QStringLiteral("filter-from"));
    QCommandLineOption filterTo = Valued(QStringLiteral("filter-to"));
    QCommandLineOption broker = Valued(QStringLiteral("broker"));
    QCommandLineOption bus = Valued(QStringLiteral("bus"));
    QCommandLineOption prefix = Valued(QStringLiteral("prefix"));
    QCommandLineOption username = Valued(QStringLiteral("username"));
    QCommandLineOption passwordFile = Valued(QStringLiteral("password-file"));
    QCommandLineOption caFile = Valued(QStringLiteral("cafile"));
    QCommandLineOption cert = Valued(QStringLiteral("cert"));
    QCommandLineOption key = Valued(QStringLiteral("key"));

    void AddTo(QCommandLineParser& parser) const
    {
        parser.addOptions({help,     version,      json,     verbose, now,     noPolls,
                           device,   baud,         to,       from,    timeout, count,
                           duration, filterFrom,   filterTo, broker,  bus,     prefix,
                           username, passwordFile, caFile,   cert,    key});
    }
};

std::string Spelled(const QString& name)
{
    return (name.size() == 1 ? "-" : "--") + name.toStdString();
}

// Why the parser stopped: an unknown option, or a value missing at the end of the line.
UsageError ParserRefusal(const QCommandLineParser& parser, const QStringList& arguments)
{
    if (!parser.unknownOptionNames().isEmpty())
        return {"unknown option '" + Spelled(parser.unknownOptionNames().constFirst()) +
                "' (--help lists them)"};
    const QString last = arguments.constLast();
    if (last.startsWith(QLatin1Char('-')) && !last.contains(QLatin1Char('=')))
        return {last.toStdString() + " needs a value"};
    return {parser.errorText().toStdString()};
}

std::optional<UsageError> ReadStation(const QCommandLineParser& parser,
                                      const QCommandLineOption& option,
                                      std::optional<std::uint8_t>& into)
{
    if (!parser.isSet(option))
        return std::nullopt;
    std::string why;
    const std::string text = parser.value(option).toStdString();
    into = ParseStation(text, why);
    if (!into)
        return UsageError{Spelled(option.names().constFirst()) + " " + why};
    return std::nullopt;
}

std::optional<UsageError> ReadSeconds(const QCommandLineParser& parser,
                                      const QCommandLineOption& option, std::optional<double>& into)
{
    if (!parser.isSet(option))
        return std::nullopt;
    std::string why;
    into = ParseSeconds(parser.value(option).toStdString(), why);
    if (!into)
        return UsageError{Spelled(option.names().constFirst()) + " " + why};
    return std::nullopt;
}

std::optional<UsageError> ReadPortOptions(const QCommandLineParser& parser, const OptionSet& set,
                                          Options& o)
{
    if (parser.isSet(set.device)) {
        o.device = parser.value(set.device).toStdString();
        if (o.device->empty())
            return UsageError{"--device: an empty device path"};
    }
    if (parser.isSet(set.baud)) {
        const std::string text = parser.value(set.baud).toStdString();
        const auto baud = ParseDecimal(text, HighestBaud);
        if (!baud || *baud < LowestBaud)
            return UsageError{"--baud '" + text + "': not a whole number from 50 to 4000000"};
        o.baud = static_cast<unsigned>(*baud);
    }
    return std::nullopt;
}

std::optional<UsageError> ReadRequestOptions(const QCommandLineParser& parser, const OptionSet& set,
                                             Options& o)
{
    std::optional<std::uint8_t> to, from;
    std::optional<double> timeout;
    if (auto e = ReadStation(parser, set.to, to))
        return e;
    if (auto e = ReadStation(parser, set.from, from))
        return e;
    if (auto e = ReadSeconds(parser, set.timeout, timeout))
        return e;
    o.request.to = to.value_or(o.request.to);
    o.request.from = from.value_or(o.request.from);
    o.request.timeoutSeconds = timeout.value_or(o.request.timeoutSeconds);
    o.request.now = parser.isSet(set.now);
    return std::nullopt;
}

std::optional<UsageError> ReadMonitorOptions(const QCommandLineParser& parser, const OptionSet& set,
                                             Options& o)
{
    if (auto e = ReadStation(parser, set.filterFrom, o.filterFrom))
        return e;
    if (auto e = ReadStation(parser, set.filterTo, o.filterTo))
        return e;
    if (auto e = ReadSeconds(parser, set.duration, o.durationSeconds))
        return e;
    if (parser.isSet(set.count)) {
        const std::string text = parser.value(set.count).toStdString();
        o.stopAfterCount = ParseDecimal(text, 1000000000);
        if (!o.stopAfterCount || *o.stopAfterCount == 0)
            return UsageError{"--count '" + text + "': not a whole number of telegrams above 0"};
    }
    o.noPolls = parser.isSet(set.noPolls);
    return std::nullopt;
}

// A topic level of the gateway's: no wildcards, no separators of its own.
std::optional<UsageError> ReadTopicLevel(const QCommandLineParser& parser,
                                         const QCommandLineOption& option, std::string& into)
{
    if (!parser.isSet(option))
        return std::nullopt;
    into = parser.value(option).toStdString();
    if (!into.empty() && into.find_first_of("/+#") == std::string::npos &&
        into.find('\0') == std::string::npos)
        return std::nullopt;
    return UsageError{Spelled(option.names().constFirst()) + " '" + into +
                      "': a topic level without /, + or #"};
}

// --broker and what goes with it; none of them without it, and no local port with it.
std::optional<UsageError> ReadBrokerOptions(const QCommandLineParser& parser, const OptionSet& set,
                                            Options& o)
{
    if (!parser.isSet(set.broker)) {
        for (const QCommandLineOption* option :
             {&set.bus, &set.prefix, &set.username, &set.passwordFile, &set.caFile, &set.cert,
              &set.key})
            if (parser.isSet(*option))
                return UsageError{Spelled(option->names().constFirst()) + " goes with --broker"};
        return std::nullopt;
    }
    if (o.device || o.baud)
        return UsageError{"--device and --baud name a local port: not with --broker"};
    BrokerOptions b;
    b.url = parser.value(set.broker).toStdString();
    if (!parser.isSet(set.bus))
        return UsageError{"--broker needs --bus NAME, the gateway's bus"};
    if (auto e = ReadTopicLevel(parser, set.bus, b.bus))
        return e;
    if (auto e = ReadTopicLevel(parser, set.prefix, b.prefix))
        return e;
    b.username = parser.value(set.username).toStdString();
    if (parser.isSet(set.passwordFile))
        b.passwordFile = parser.value(set.passwordFile).toStdString();
    b.caFile = parser.value(set.caFile).toStdString();
    b.certFile = parser.value(set.cert).toStdString();
    b.keyFile = parser.value(set.key).toStdString();
    if (b.certFile.empty() != b.keyFile.empty())
        return UsageError{"--cert and --key go together"};
    if (!b.url.starts_with("mqtts://") && (!b.caFile.empty() || !b.certFile.empty()))
        return UsageError{"--cafile, --cert and --key need an mqtts:// broker"};
    o.broker = std::move(b);
    return std::nullopt;
}

std::optional<UsageError> OperandCount(const std::vector<std::string>& positional,
                                       std::size_t wanted, const char* form)
{
    const std::size_t operands = positional.size() - 1;
    if (operands == wanted)
        return std::nullopt;
    return UsageError{positional[0] + " takes " + form + " (" + std::to_string(operands) +
                      " given)"};
}

// read AREA ADDRESS COUNT, write AREA ADDRESS BYTE...
std::optional<UsageError> ReadMemoryCommand(const std::vector<std::string>& positional, Options& o)
{
    const bool write = positional[0] == "write";
    o.command = write ? Command::Write : Command::Read;
    const char* form = write ? "AREA ADDRESS BYTE..." : "AREA ADDRESS COUNT";
    if (positional.size() < 4)
        return OperandCount(positional, 3, form);
    std::string why;
    const auto area = ParseArea(positional[1], why);
    if (!area)
        return UsageError{why};
    const auto address = ParseAddress(positional[2], why);
    if (!address)
        return UsageError{why};
    o.request.area = *area;
    o.request.address = *address;
    o.request.write = write;
    if (!write) {
        if (auto e = OperandCount(positional, 3, form))
            return e;
        const auto count = ParseReadCount(positional[3], why);
        if (!count)
            return UsageError{why};
        o.request.count = *count;
        return std::nullopt;
    }
    std::string joined;
    for (std::size_t i = 3; i < positional.size(); ++i)
        joined += (i > 3 ? " " : "") + positional[i];
    const auto data = ParseData(joined, why);
    if (!data)
        return UsageError{why};
    o.request.data = *data;
    o.request.count = static_cast<std::uint8_t>(data->size());
    return std::nullopt;
}

std::optional<UsageError> ReadCommand(const std::vector<std::string>& positional, Options& o)
{
    if (positional.empty())
        return UsageError{"COMMAND missing: read, write, monitor or batch (--help)"};
    const std::string& command = positional[0];
    if (command == "read" || command == "write")
        return ReadMemoryCommand(positional, o);
    if (command == "monitor" || command == "batch") {
        o.command = command == "monitor" ? Command::Monitor : Command::Batch;
        return OperandCount(positional, 0, "no operands");
    }
    return UsageError{"COMMAND '" + command + "': not read, write, monitor or batch"};
}

} // namespace

std::variant<Options, UsageError> ParseArguments(const std::vector<std::string>& args)
{
    QStringList arguments{QStringLiteral("qtr290-ctl")};
    for (const std::string& arg : args)
        arguments.append(QString::fromStdString(arg));
    QCommandLineParser parser;
    const OptionSet set;
    set.AddTo(parser);
    if (!parser.parse(arguments))
        return ParserRefusal(parser, arguments);

    Options o;
    o.help = parser.isSet(set.help);
    o.version = parser.isSet(set.version);
    o.json = parser.isSet(set.json);
    o.verbose = parser.isSet(set.verbose);
    for (const auto read :
         {ReadPortOptions, ReadRequestOptions, ReadMonitorOptions, ReadBrokerOptions})
        if (auto e = read(parser, set, o))
            return *e;
    if (o.help || o.version)
        return o;
    std::vector<std::string> positional;
    for (const QString& operand : parser.positionalArguments())
        positional.push_back(operand.toStdString());
    if (auto e = ReadCommand(positional, o))
        return *e;
    return o;
}

} // namespace qtr290::ctl
