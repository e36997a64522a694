#include "tools/qtr290-ctl/ctl_commands.h"

namespace qtr290::ctl {

namespace {

std::string UsageText()
{
    return R"(Usage: qtr290-ctl [OPTIONS] read AREA ADDRESS COUNT
  or:  qtr290-ctl [OPTIONS] write AREA ADDRESS BYTE...
  or:  qtr290-ctl [OPTIONS] monitor
  or:  qtr290-ctl [OPTIONS] batch
  or:  qtr290-ctl --broker URL --bus NAME [OPTIONS] read|write|monitor|batch ...

A QTR290 bus station on the command line. It opens the serial port as the
utility's window does (8N1, DTR low except while transmitting, 0xFF before each
telegram) and takes part in the bus in the same way: a request waits in the
queue, goes out at every poll while it is the oldest, and leaves the queue when
the next intact telegram that is not a poll passes, whoever sent it (a damaged
reply therefore leaves it queued, and it goes out again at the next poll). A
request removed before it ever went out (by a late answer to an earlier one) is
queued again and waits for its own turn.

Commands:
  read AREA ADDRESS COUNT    read COUNT (decimal, 0 to 255) bytes
  write AREA ADDRESS BYTE... write at least one and at most 243 bytes, each
                             argument whole hexadecimal bytes ("12 34" or "1234";
                             "1 2" is refused, not read as 12)
  monitor                    print every intact telegram and every checksum
                             error as it is framed; answers no poll
  batch                      JSON requests on standard input, one per line; one
                             result line per request on standard output

  AREA is RAM290, FRAM290, RTC290, FLASH290, ROM290, FLROM290, RAMBIT290 (any
  case) or its code 0x00, 0x10 ... 0x60. ADDRESS is hexadecimal (0x optional),
  at most 24 bits.
)";
}

std::string OptionsText()
{
    return R"(
Options:
  --device PATH        the serial device; else the port of the settings file
                       (nastaveni.ini, its [Porty] section mapping COM numbers
                       to devices): the file named by QTR290_SETTINGS, else
                       the one the window would use from this program's
                       folder (beside a portable copy; for an installed one
                       the user's file, or until that exists the one beside
                       the program); with --verbose, --help names it
  --baud N             line rate (50 to 4000000); else the settings file's
                       "Baud rate" (4800 when the file has none; a value that
                       is no such number stops with status 4)
  --to XX              station the request goes to (hex, default 00)
  --from XX            station the request comes from (hex, default F0)
  --now                transmit at once, and again at each poll until the
                       request is removed
  --timeout SECONDS    give up waiting after SECONDS (default 5, decimals
                       allowed); the request is taken out of the queue
  --json               results and monitor lines as JSON objects
  --count N            monitor: stop after N telegrams printed
  --duration SECONDS   monitor: stop after SECONDS
  --no-polls           monitor: leave polls out
  --filter-from XX     monitor: only telegrams from station XX
  --filter-to XX       monitor: only telegrams to station XX
  --broker URL         carry the command to a qtr290-gateway over MQTT
                       instead of a local port: mqtt://HOST[:PORT] or
                       mqtts://HOST[:PORT] (TLS); needs --bus
  --bus NAME           the gateway's bus, as its --bus names it
  --prefix P           the first level of the gateway's topics (default
                       qtr290)
  --username U         the MQTT user name
  --password-file FILE its first line is the MQTT password (else
                       QTR290_MQTT_PASSWORD; never on the command line)
  --cafile FILE        TLS: the certificate authorities to trust (else the
                       system's)
  --cert FILE, --key FILE
                       TLS: this client's certificate and private key
  --verbose            say which settings file, port and rate are used
  --help               this text
  --version            the version
)";
}

std::string OutputText()
{
    return R"(
Results of read and write (with --json one object; batch adds "op"):
  request      the telegram sent, "A6 00 F0 ..." (without the 0xFF lead)
  sent         how many times it went out
  removed      "reply", "once-only" (a once-only station's telegram, removed
               as it was sent) or "timeout"
  released_by  the telegram that removed it, or null
  reply_from   (JSON only) the station that sent released_by, "01", or null:
               a reply from a station other than the addressee shows here
  wait_ms      from queueing to the first transmission, or null
  reply_ms     from the last transmission to the removal, or null

Monitor lines with --json: {"time", "hex", "kind" ("long" or "short"), "to",
"from", "poll" (true/false), and for long telegrams "device" and "length"};
a checksum error is {"time", "error": "header" or "block"}. Times are local,
ISO 8601 with milliseconds; station and device bytes are two hex digits. The
monitor ends with a summary of counters on standard error. Where the device
counts received bytes it lost (a serial port's overruns; a pseudo-terminal has
no such count), the summary adds overruns=N, and any command says on standard
error, at most once a second, when the count has grown: a line faster than it is
read loses bytes, and they show up as checksum errors too.

Batch lines: {"op":"read","area":"FRAM290","address":"157","count":2} or
{"op":"write","area":"FRAM290","address":"157","data":"1234"}, optional "to",
"from" (stations), "now" (true/false) and "timeout" (seconds) over the
command line's values. JSON numbers are values ("address":343 is 0x157, "to":16
is station 0x10); strings are hexadecimal except "count" (decimal). A line that is
no such request, or is longer than 64 KiB, gets {"error":"..."} and the batch
goes on; the end of input ends it. Lines are read only as requests are done.

Through a gateway (--broker): the gateway's retained status (P/NAME/status) must
say "online" within --timeout, else status 3 naming what it says (offline,
device-missing, device-lost) or that none came; the gateway must run with
--allow-requests for read, write and batch. Each request goes to P/NAME/request
with every key of its batch line and an "id", and MQTT 5's response topic
(P/NAME/result/TOKEN, this run's own) and correlation data; the result lines are
those of a local run (the gateway's station follows the request as this program
does). A result that has not come 5 s after the request's --timeout ends the
run with status 3. A status other than online during the run ends it with
status 3, as a device that goes away does; a stop signal ends it as it ends a
local run (a request already at the gateway is ended there by its timeout). The
monitor prints the gateway's telegrams and checksum errors with the gateway's
times, and sums up what came through the broker.

Exit status:
  0  removed by a reply or by the once-only rule; monitor or batch ended
     (also by SIGINT, SIGTERM or SIGHUP for the monitor)
  1  read, write or batch stopped by SIGINT, SIGTERM or SIGHUP
  2  timeout (nothing else is sent)
  3  the port cannot be opened, or its device went away; with --broker: the
     broker or an online gateway is not there, the gateway refused the
     request or sent no result in time
  4  bad usage, or a settings file "Baud rate" that is no number (nothing is
     opened)
  5  standard input could not be read (batch) or standard output written
)";
}

} // namespace

std::string HelpText(const std::string& settingsFile)
{
    std::string text = UsageText() + OptionsText() + OutputText();
    if (!settingsFile.empty())
        text += "\nThis run reads the settings file " + settingsFile + "\n";
    return text;
}

} // namespace qtr290::ctl
