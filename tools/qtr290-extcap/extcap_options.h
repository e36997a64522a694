// qtr290-extcap's command line: the calls Wireshark's extcap interface makes (list the
// interfaces, their link types, their options; capture into a fifo), read before anything
// is opened.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

namespace qtr290::extcap {

inline constexpr unsigned DefaultBaud = 4800;
inline constexpr unsigned LowestBaud = 50;
inline constexpr unsigned HighestBaud = 4000000;

struct ExtcapOptions {
    enum class Action {
        None,       // no request: a usage error
        Interfaces, // --extcap-interfaces
        Dlts,       // --extcap-dlts
        Config,     // --extcap-config
        Capture,    // --capture
        Help,       // print `output` to standard output, status 0
        Misuse,     // print `output` (the error) to standard error, status 2
    };
    Action action = Action::None;
    std::string interface, fifo;
    unsigned baud = DefaultBaud;
    QString output;
};

// The arguments as the process got them, the program's path first. Wireshark's own options
// (--extcap-version=…, --log-level, …) are accepted and left alone.
ExtcapOptions ParseExtcapOptions(const QStringList& arguments);

} // namespace qtr290::extcap
