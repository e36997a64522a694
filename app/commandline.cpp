#include "app/commandline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

namespace qtr290 {

namespace {

// The options QGuiApplication and QApplication take for themselves: with a value, and without.
constexpr const char* QtValueOptions[] = {"platform",
                                          "platformpluginpath",
                                          "platformtheme",
                                          "plugin",
                                          "qwindowgeometry",
                                          "qwindowicon",
                                          "qwindowtitle",
                                          "display",
                                          "geometry",
                                          "style",
                                          "stylesheet",
                                          "session",
                                          "name",
                                          "title",
                                          "qmljsdebugger"};
constexpr const char* QtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    // Qt's own options are single words after one dash (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Watches the traffic of a QTR290 serial bus and sends read and write "
                       "requests.\nQt's window-system options (-platform NAME, -style NAME, "
                       "-reverse, …) are passed on to Qt."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption language(
        QStringLiteral("language"),
        QStringLiteral("The window's language for this run: cs (Czech, the default) or en "
                       "(English). Without it, [Rozhrani] Jazyk of the settings file decides."),
        QStringLiteral("code"));
    parser.addOption(language);
    for (const char* name : QtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : QtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    CommandLine result;
    const bool parsed = parser.parse(arguments);
    // Help and version win over a mistake elsewhere on the line, as usual.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        result.action = CommandLine::Action::Help;
        result.output = parser.helpText();
    } else if (parser.isSet(version)) {
        result.action = CommandLine::Action::Version;
        result.output = QCoreApplication::applicationName() + QLatin1Char(' ') +
                        QCoreApplication::applicationVersion() + QLatin1Char('\n');
    } else if (!parsed || !parser.positionalArguments().isEmpty()) {
        result.action = CommandLine::Action::Misuse;
        const QString error = parsed ? QStringLiteral("Unexpected argument '%1'.")
                                           .arg(parser.positionalArguments().constFirst())
                                     : parser.errorText();
        result.output = error + QStringLiteral("\n\n") + parser.helpText();
    } else {
        result.language = parser.value(language);
    }
    return result;
}

} // namespace qtr290
