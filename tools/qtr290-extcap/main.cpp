// qtr290-extcap: live capture of the QTR290 bus for Wireshark (its extcap interface).
// Lists the serial ports as interfaces, opens the chosen one with the project's driver at
// the bus's line settings, frames what arrives and streams pcapng to Wireshark's fifo until
// stopped. It only listens: it never transmits and never raises DTR.
#include "pcap/bus_capture.h"
#include "pcap/pcapng.h"
#include "process/standard_descriptors.h"
#include "serial/SerialDrv.h"
#include "settings/settings.h"
#include "tools/qtr290-extcap/extcap_options.h"
#include "tools/standard_output.h"

#include <QCoreApplication>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

using namespace qtr290;

using extcap::DefaultBaud;
using extcap::ExtcapOptions;
using extcap::HighestBaud;
using extcap::LowestBaud;

constexpr std::string_view InterfacePrefix = "qtr290-COM";
constexpr int HighestComNumber = 96;

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int)
{
    g_stop = 1;
}

// Without SA_RESTART: a stop interrupts the wait for the fifo's reader and a blocked write.
void CatchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a closed fifo shows as a failed write
}

// Waits for Wireshark to open the fifo's other end; -1 when stopped meanwhile or it fails.
int OpenFifo(const std::string& path)
{
    while (!g_stop) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0 || errno != EINTR)
            return fd;
    }
    return -1;
}

bool WriteAll(int fd, ByteSpan bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR && !g_stop)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Wireshark has closed its end: the fifo reports an error or a hang-up without a write.
bool ReaderGone(int fd)
{
    pollfd watched{fd, 0, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLERR | POLLHUP)) != 0;
}

// The COM names of the utility's settings file (its [Porty] section, COM1=/dev/ttyUSB0): the
// file named by QTR290_SETTINGS, else the one the installed utility uses.
ComPortNames PortNames()
{
    const QString path = qEnvironmentVariable("QTR290_SETTINGS");
    IniProfile ini(path);
    if (path.isEmpty())
        LoadSettingsProfile(ini, LocateFiles(SystemFolders(QStringLiteral(QTR290_PROGRAM_DIR))));
    else
        ini.Load();
    return ReadSettings(ini).ports;
}

// COM numbers whose device is present.
std::map<int, std::string> PresentPorts(const ComPortNames& names)
{
    std::map<int, std::string> ports;
    auto consider = [&](int number) {
        const std::string device = names.Device(number);
        std::error_code error;
        if (!device.empty() && std::filesystem::exists(device, error))
            ports.emplace(number, device);
    };
    for (int number = 1; number <= HighestComNumber; ++number)
        consider(number);
    for (const auto& [number, device] : names.Overrides())
        consider(number);
    return ports;
}

std::optional<int> InterfaceComNumber(std::string_view name)
{
    if (name.substr(0, InterfacePrefix.size()) != InterfacePrefix)
        return std::nullopt;
    return ComPortNumber("\\\\.\\COM" + std::string(name.substr(InterfacePrefix.size())));
}

int Capture(const ExtcapOptions& a, const ComPortNames& names, int number,
            const std::string& device)
{
    CatchStopSignals();
    // The fifo first: the port stays free for others until Wireshark reads.
    const int fifo = OpenFifo(a.fifo);
    if (fifo < 0) {
        if (g_stop)
            return 0;
        std::cerr << "qtr290-extcap: cannot open the fifo " << a.fifo << ": "
                  << std::strerror(errno) << '\n';
        return 1;
    }

    // The line settings of the link; DTR stays low, so the listener never keys the line.
    TSerialPortDriver port(MakeSystemPlatform(names));
    port.SetPortName("\\\\.\\COM" + std::to_string(number));
    port.SetBaudRate(brCustom);
    port.SetBaudRateValue(a.baud);
    port.SetDataBits(db8BITS);
    port.SetParity(ptNONE);
    port.SetStopBits(sb1BITS);
    port.SetHwFlow(hfNONERTSON);
    port.SetSwFlow(sfNONE);
    port.SetEnableDTROnOpen(false);
    port.SetInBufSize(2048);
    port.SetPollingDelay(40);
    if (!port.Connect()) {
        std::cerr << "qtr290-extcap: cannot open COM" << number << " (" << device
                  << "): missing, in use by another program, or not a serial port\n";
        ::close(fifo);
        return 1;
    }

    pcap::PcapngWriter writer(
        [fifo](ByteSpan bytes) { return WriteAll(fifo, bytes); }, "qtr290-extcap",
        {"COM" + std::to_string(number), device + " at " + std::to_string(a.baud) + " Bd"});
    pcap::BusCapture capture([&](const pcap::Packet& packet) { writer.Write(packet); });
    const auto now = [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    port.SetOnReceiveData([&](TSerialPortDriver&, std::span<const std::uint8_t> data) {
        capture.Received(data, now());
    });
    bool lost = false;
    port.SetOnDeviceLost([&](TSerialPortDriver&) {
        lost = true;
        QCoreApplication::quit();
    });
    writer.WriteHeader();

    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (g_stop || !writer.Ok() || ReaderGone(fifo))
            QCoreApplication::quit();
    });
    watch.start(100);
    QCoreApplication::exec();

    port.Disconnect();
    capture.Finish(now());
    ::close(fifo);
    if (lost) {
        std::cerr << "qtr290-extcap: COM" << number << " (" << device
                  << ") is gone: the device was removed or its line hung up\n";
        return 1;
    }
    return 0;
}

// Wireshark's call answered on standard output, or the capture run; the exit status.
int Serve(const ExtcapOptions& a)
{
    const ComPortNames names = PortNames();
    const auto ports = PresentPorts(names);
    if (a.action == ExtcapOptions::Action::Interfaces) {
        std::cout << "extcap {version=" << QTR290_VERSION << "}\n";
        for (const auto& [number, device] : ports)
            std::cout << "interface {value=" << InterfacePrefix << number
                      << "}{display=QTR290 bus COM" << number << " (" << device << ")}\n";
        return 0;
    }
    const auto number = InterfaceComNumber(a.interface);
    const auto port = number ? ports.find(*number) : ports.end();
    if (port == ports.end()) {
        std::cerr << "qtr290-extcap: no such interface '"
                  << a.interface << "' (--extcap-interfaces lists them)\n";
        return 2;
    }
    switch (a.action) {
    case ExtcapOptions::Action::Dlts:
        std::cout << "dlt {number=" << pcap::LinkTypeUser0
                  << "}{name=USER0}{display=QTR290 bus telegrams}\n";
        return 0;
    case ExtcapOptions::Action::Config:
        std::cout << "arg {number=0}{call=--baud}{display=Baud rate}{type=integer}{range="
                  << LowestBaud << ',' << HighestBaud << "}{default=" << DefaultBaud
                  << "}{tooltip=Rate of the bus line (8 data bits, no parity, 1 stop bit)}\n";
        return 0;
    case ExtcapOptions::Action::Capture:
        if (a.fifo.empty()) {
            std::cerr << "qtr290-extcap: --capture needs --fifo\n";
            return 2;
        }
        return Capture(a, names, port->first, port->second);
    default:
        return 2; // not a call of its own: main tells those
    }
}

} // namespace

int main(int argc, char** argv)
{
    qtr290::OpenNullOnClosedStandardDescriptors();
    QCoreApplication app(argc, argv);
    const ExtcapOptions a = extcap::ParseExtcapOptions(QCoreApplication::arguments());
    switch (a.action) {
    case ExtcapOptions::Action::Help:
        std::cout << a.output.toStdString();
        return ExitStatusAfterOutput("qtr290-extcap", 0);
    case ExtcapOptions::Action::Misuse:
        std::cerr << "qtr290-extcap: " << a.output.toStdString() << '\n';
        return 2;
    case ExtcapOptions::Action::None:
        std::cerr << "qtr290-extcap: nothing to do (--extcap-interfaces, --extcap-dlts, "
                     "--extcap-config or --capture)\n";
        return 2;
    default:
        return ExitStatusAfterOutput("qtr290-extcap", Serve(a));
    }
}
