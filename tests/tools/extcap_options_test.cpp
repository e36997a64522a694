// qtr290-extcap's command line as Wireshark's extcap interface and a user give it.
#include "tests/support/core_application.h"
#include "tools/qtr290-extcap/extcap_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qtr290::extcap::ExtcapOptions;
using qtr290::extcap::ParseExtcapOptions;
using Action = ExtcapOptions::Action;

ExtcapOptions Parse(const std::vector<const char*>& args)
{
    QStringList arguments{QStringLiteral("qtr290-extcap")};
    for (const char* arg : args)
        arguments << QString::fromUtf8(arg);
    return ParseExtcapOptions(arguments);
}

TEST(ExtcapOptionsTest, WiresharksCallsAndTheUsersMistakes)
{
    struct Row {
        const char* what;
        std::vector<const char*> args;
        Action action;
        std::string interface, fifo;
        unsigned baud;
        const char* error; // part of the output of a misuse
    };
    const Row rows[] = {
        {"interfaces, with Wireshark's version after =",
         {"--extcap-interfaces", "--extcap-version=4.0"},
         Action::Interfaces,
         "",
         "",
         4800,
         ""},
        {"link types of an interface",
         {"--extcap-interface", "qtr290-COM3", "--extcap-dlts"},
         Action::Dlts,
         "qtr290-COM3",
         "",
         4800,
         ""},
        {"options, the interface after =",
         {"--extcap-interface=qtr290-COM3", "--extcap-config"},
         Action::Config,
         "qtr290-COM3",
         "",
         4800,
         ""},
        {"a capture as Wireshark starts it, its own options among ours",
         {"--capture", "--extcap-interface", "qtr290-COM7", "--fifo", "/tmp/f", "--baud", "19200",
          "--extcap-capture-filter", "", "--extcap-control-in", "/tmp/in", "--log-level", "message",
          "--log-file", "/tmp/log", "--debug"},
         Action::Capture,
         "qtr290-COM7",
         "/tmp/f",
         19200,
         ""},
        {"the baud after =, the last one counts",
         {"--capture", "--baud=9600", "--baud=50", "--fifo=-x"},
         Action::Capture,
         "",
         "-x",
         50,
         ""},
        {"the highest rate",
         {"--capture", "--baud", "4000000"},
         Action::Capture,
         "",
         "",
         4000000,
         ""},
        {"no call",
         {"--extcap-interface", "qtr290-COM1"},
         Action::None,
         "qtr290-COM1",
         "",
         4800,
         ""},
        {"several calls: the first in Wireshark's order",
         {"--capture", "--extcap-dlts", "--extcap-interfaces"},
         Action::Interfaces,
         "",
         "",
         4800,
         ""},
        {"a rate below the lowest",
         {"--capture", "--baud", "49"},
         Action::Misuse,
         "",
         "",
         4800,
         "'49'"},
        {"a rate above the highest",
         {"--capture", "--baud=4000001"},
         Action::Misuse,
         "",
         "",
         4800,
         "from 50 to 4000000"},
        {"a rate that is no number", {"--baud", "fast"}, Action::Misuse, "", "", 4800, "'fast'"},
        {"an unknown option",
         {"--extcap-interfacez"},
         Action::Misuse,
         "",
         "",
         4800,
         "extcap-interfacez"},
        {"a value missing at the end",
         {"--capture", "--fifo"},
         Action::Misuse,
         "",
         "",
         4800,
         "--fifo"},
        {"a stray word", {"--capture", "COM1"}, Action::Misuse, "", "", 4800, "'COM1'"},
        {"help wins over a mistake", {"--bogus", "--help"}, Action::Help, "", "", 4800, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ExtcapOptions options = Parse(row.args);
        EXPECT_EQ(options.action, row.action) << options.output.toStdString();
        if (row.action == Action::Misuse) {
            EXPECT_NE(options.output.toStdString().find(row.error), std::string::npos)
                << options.output.toStdString();
            continue;
        }
        EXPECT_EQ(options.interface, row.interface);
        EXPECT_EQ(options.fifo, row.fifo);
        EXPECT_EQ(options.baud, row.baud);
    }
}

TEST(ExtcapOptionsTest, HelpListsTheCallsButNotWiresharksOwnOptions)
{
    const ExtcapOptions options = Parse({"--help"});
    ASSERT_EQ(options.action, Action::Help);
    for (const char* shown : {"--extcap-interfaces", "--capture", "--fifo", "--baud"})
        EXPECT_TRUE(options.output.contains(QLatin1String(shown))) << shown;
    for (const char* hidden : {"--extcap-version", "--log-level", "--debug"})
        EXPECT_FALSE(options.output.contains(QLatin1String(hidden))) << hidden;
}

} // namespace
