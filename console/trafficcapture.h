// What the capture check box turns on: the capture file's lines ("incoming.txt") and, when the
// settings file asks for it ([Wireshark] Pcapng=1), the same traffic as pcapng beside it
// ("incoming-live.pcapng"), one telegram per packet, for Wireshark.
#pragma once

#include "console/trafficdisplay.h"
#include "link/telegram.h"
#include "pcap/bus_capture.h"
#include "pcap/pcapng.h"

#include <QDateTime>
#include <QFile>
#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace qtr290 {

inline constexpr char PcapngFileName[] = "incoming-live.pcapng";

class TrafficCapture {
public:
    // The capture file's path; the pcapng file goes beside it when `pcapng` is set. The
    // interface's name and description ("COM1", "/dev/ttyUSB0") label the pcapng packets.
    void Configure(const QString& captureFile, bool pcapng, const std::string& interfaceName,
                   const std::string& interfaceDescription);

    // A received chunk, and the transmissions the link made while it was framed. False when
    // the capture file's line was lost (the file held by another program or unwritable).
    bool Chunk(ByteSpan chunk, const QDateTime& when, const ChunkEntries& entries);
    // A request was queued ("Cteni dat"); false when the line was lost.
    bool Queued(const QDateTime& when);
    // The link put these bytes (0xFF and a telegram) on the line outside a chunk; false when
    // the pcapng file did not get them.
    bool Sent(ByteSpan lineBytes, const QDateTime& when);
    // The session ends: the pcapng file gets what the framer still holds.
    void Finish(const QDateTime& when);

private:
    bool PcapngReady();
    bool PcapngWritten();

    QString FCaptureFile;
    std::string FInterfaceName;
    std::string FInterfaceDescription;
    bool FPcapngWanted = false;
    QString FPcapngPath;
    QFile FPcapngFile;
    std::vector<std::uint8_t> FPcapngPending; // the blocks of one chunk, written at once
    std::unique_ptr<pcap::PcapngWriter> FWriter;
    std::unique_ptr<pcap::BusCapture> FBus;
};

} // namespace qtr290
