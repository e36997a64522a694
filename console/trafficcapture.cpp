#include "trafficcapture.h"

#include "capturefile.h"

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
    FPcapngFile.setFileName(QFileInfo(captureFile).dir().filePath(QLatin1String(PcapngFileName)));
    FWriter = std::make_unique<pcap::PcapngWriter>(
        [this](ByteSpan bytes) {
            return FPcapngFile.write(reinterpret_cast<const char*>(bytes.data()),
                                     qint64(bytes.size())) == qint64(bytes.size());
        },
        "QTR290 communication utility",
        pcap::PcapngWriter::Interface{interfaceName, interfaceDescription});
    FBus = std::make_unique<pcap::BusCapture>(
        [this](const pcap::Packet& packet) { FWriter->Write(packet); });
}

bool TrafficCapture::PcapngOpen()
{
    if (!FPcapngWanted || !FWriter)
        return false;
    // Opened at the first packet and kept open for the session; each session adds a section
    // of its own to the file. A file that cannot be written is given up quietly, as the
    // capture file's lines are.
    if (!FPcapngFile.isOpen() && !FPcapngFile.open(QIODevice::Append)) {
        FPcapngWanted = false;
        return false;
    }
    return FWriter->Ok();
}

bool TrafficCapture::Chunk(ByteSpan chunk, const QDateTime& when, const ChunkEntries& entries)
{
    const bool written = PripisDoSouboru(FCaptureFile, CaptureChunkLine(chunk, when));
    if (!PcapngOpen())
        return written;
    const std::int64_t time = Microseconds(when);
    FBus->Received(chunk, time);
    for (const ChunkEntries::Entry& entry : entries.Entries()) {
        if (entry.kind == ChunkEntries::Kind::Sent)
            FBus->Transmitted(entry.bytes, time);
    }
    FPcapngFile.flush();
    return written;
}

bool TrafficCapture::Queued(const QDateTime& when)
{
    return PripisDoSouboru(FCaptureFile, CaptureQueuedLine(when));
}

void TrafficCapture::Sent(ByteSpan lineBytes, const QDateTime& when)
{
    if (!PcapngOpen())
        return;
    FBus->Transmitted(lineBytes, Microseconds(when));
    FPcapngFile.flush();
}

void TrafficCapture::Finish(const QDateTime& when)
{
    if (!FPcapngFile.isOpen())
        return;
    FBus->Finish(Microseconds(when));
    FPcapngFile.close();
}

} // namespace qtr290
