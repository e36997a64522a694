#include "tools/qtr290-extcap/extcap_options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace qtr290::extcap {

namespace {

// What Wireshark may pass besides the calls themselves; nothing here depends on them.
constexpr const char* WiresharkValueOptions[] = {"extcap-version",    "extcap-capture-filter",
                                                 "extcap-control-in", "extcap-control-out",
                                                 "log-level",         "log-file"};

QCommandLineOption Hidden(QCommandLineOption option)
{
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    return option;
}

// The call asked for; the first of them when several are given, in Wireshark's order.
ExtcapOptions::Action Requested(const QCommandLineParser& parser)
{
    using Action = ExtcapOptions::Action;
    const std::pair<const char*, Action> calls[] = {{"extcap-interfaces", Action::Interfaces},
                                                    {"extcap-dlts", Action::Dlts},
                                                    {"extcap-config", Action::Config},
                                                    {"capture", Action::Capture}};
    for (const auto& [name, action] : calls) {
        if (parser.isSet(QString::fromLatin1(name)))
            return action;
    }
    return Action::None;
}

bool ReadBaud(const QString& text, unsigned& baud)
{
    bool ok = false;
    const unsigned long value = text.toULong(&ok, 10);
    if (!ok || value < LowestBaud || value > HighestBaud)
        return false;
    baud = static_cast<unsigned>(value);
    return true;
}

} // namespace

ExtcapOptions ParseExtcapOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Live capture of the QTR290 bus for Wireshark's extcap interface: lists "
                       "the serial ports as interfaces and streams the telegrams of the chosen "
                       "one as pcapng into Wireshark's fifo. It never transmits."));
    const QCommandLineOption help = parser.addHelpOption();
    parser.addOption({QStringLiteral("extcap-interfaces"), QStringLiteral("List the interfaces.")});
    parser.addOption(
        {QStringLiteral("extcap-dlts"), QStringLiteral("List the interface's link types.")});
    parser.addOption(
        {QStringLiteral("extcap-config"), QStringLiteral("List the interface's options.")});
    parser.addOption({QStringLiteral("capture"), QStringLiteral("Capture into the --fifo.")});
    const QCommandLineOption interface(QStringLiteral("extcap-interface"),
                                       QStringLiteral("The interface (qtr290-COM<n>)."),
                                       QStringLiteral("name"));
    const QCommandLineOption fifo(QStringLiteral("fifo"),
                                  QStringLiteral("Where the capture's pcapng goes."),
                                  QStringLiteral("path"));
    const QCommandLineOption baud(
        QStringLiteral("baud"),
        QStringLiteral("Rate of the bus line, 50 to 4000000 (default 4800)."),
        QStringLiteral("rate"));
    parser.addOptions({interface, fifo, baud});
    for (const char* name : WiresharkValueOptions)
        parser.addOption(Hidden({QString::fromLatin1(name), QString(), QStringLiteral("value")}));
    parser.addOption(Hidden(QCommandLineOption(QStringLiteral("debug"))));

    ExtcapOptions result;
    const auto misuse = [&result](const QString& error) {
        result.action = ExtcapOptions::Action::Misuse;
        result.output = error;
        return result;
    };
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        result.action = ExtcapOptions::Action::Help;
        result.output = parser.helpText();
        return result;
    }
    if (!parsed)
        return misuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return misuse(QStringLiteral("unexpected argument '%1'")
                          .arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(baud) && !ReadBaud(parser.value(baud), result.baud))
        return misuse(QStringLiteral("--baud takes a whole number from %1 to %2, not '%3'")
                          .arg(LowestBaud)
                          .arg(HighestBaud)
                          .arg(parser.value(baud)));
    result.action = Requested(parser);
    result.interface = parser.value(interface).toStdString();
    result.fifo = parser.value(fifo).toStdString();
    return result;
}

} // namespace qtr290::extcap
