#include "console/trafficcapture.h"

#include "capture/append_exclusive.h"
#include "capture/capturefile.h"

#include <QDir>
#include <QFileInfo>

namespace qtr290 {

namespace {

std::int64_t Microseconds(const QDateTime& when)
{
    return when.toMSecsSinceEpoch() * 1000;
}

} // namespace

void TrafficCapture::Configure(const QString& captureFile, bool pcapng,
                               const std::string& interfaceName,
                               const std::string& interfaceDescription)
{
    FCaptureFile = captureFile;
    FPcapngWanted = pcapng;
    FInterfaceName = interfaceName;
    FInterfaceDescription = interfaceDescription;
    FPcapngFile.close();
    FPcapngPending.clear();
    FPcapngPath = QFileInfo(captureFile).dir().filePath(QLatin1String(PcapngFileName));
}

bool TrafficCapture::PcapngReady()
{
    if (FPcapngFile.isOpen())
        return true;
    // Opened at the first packet and kept open for the session, each opening a section of its
    // own. Whatever is there is opened only if it is a regular file (a fifo would hold the
    // window until its reader came): packets it does not get are counted as lost, as the
    // capture file's lines are, and the next chunk tries again.
    if (!OpenRegularFileToAppend(FPcapngFile, FPcapngPath))
        return false;
    FWriter = std::make_unique<pcap::PcapngWriter>(
        [this](ByteSpan bytes) {
            FPcapngPending.insert(FPcapngPending.end(), bytes.begin(), bytes.end());
            return true;
        },
        "QTR290 communication utility",
        pcap::PcapngWriter::Interface{FInterfaceName, FInterfaceDescription});
    FBus = std::make_unique<pcap::BusCapture>(
        [this](const pcap::Packet& packet) { FWriter->Write(packet); });
    return true;
}

bool TrafficCapture::PcapngWritten()
{
    const qint64 size = qint64(FPcapngPending.size());
    if (size == 0)
        return true;
    const qint64 start = FPcapngFile.size(); // appended: the write begins at the end
    const bool written =
        FPcapngFile.write(reinterpret_cast<const char*>(FPcapngPending.data()), size) == size;
    FPcapngPending.clear();
    if (written)
        return true;
    // A write that stopped part way (a full disk) is cut off again: Wireshark reads whole
    // blocks only. The next chunk opens the file anew and starts a section.
    FPcapngFile.resize(start);
    FPcapngFile.close();
    return false;
}

bool TrafficCapture::Chunk(ByteSpan chunk, const QDateTime& when, const ChunkEntries& entries)
{
    const bool written = PripisDoSouboru(FCaptureFile, CaptureChunkLine(chunk, when));
    if (!FPcapngWanted)
        return written;
    if (!PcapngReady())
        return false;
    const std::int64_t time = Microseconds(when);
    FBus->Received(chunk, time);
    for (const ChunkEntries::Entry& entry : entries.Entries()) {
        if (entry.kind == ChunkEntries::Kind::Sent)
            FBus->Transmitted(entry.bytes, time);
    }
    return PcapngWritten() && written;
}

bool TrafficCapture::Queued(const QDateTime& when)
{
    return PripisDoSouboru(FCaptureFile, CaptureQueuedLine(when));
}

bool TrafficCapture::Sent(ByteSpan lineBytes, const QDateTime& when)
{
    if (!FPcapngWanted)
        return true;
    if (!PcapngReady())
        return false;
    FBus->Transmitted(lineBytes, Microseconds(when));
    return PcapngWritten();
}

void TrafficCapture::Finish(const QDateTime& when)
{
    if (!FPcapngFile.isOpen())
        return;
    FBus->Finish(Microseconds(when));
    PcapngWritten();
    FPcapngFile.close();
}

} // namespace qtr290
