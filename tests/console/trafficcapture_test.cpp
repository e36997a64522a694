// incoming-live.pcapng through a full disk: what did not fit is lost and counted, the file
// holds whole blocks only, and the capture goes on once there is room again.
#include "console/trafficcapture.h"

#include "pcap/pcapng_reader.h"
#include "tests/support/telegrams.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>

#include <sys/resource.h>

namespace qtr290 {
namespace {

using test::Bytes;

// A file size limit stands in for a full disk: a write stops part way, for root as well.
class FullDisk {
public:
    explicit FullDisk(rlim_t room)
    {
        ::getrlimit(RLIMIT_FSIZE, &FSaved);
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = FSaved;
        limited.rlim_cur = room;
        FSet = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FullDisk()
    {
        ::setrlimit(RLIMIT_FSIZE, &FSaved);
        std::signal(SIGXFSZ, FOldHandler);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    bool Set() const { return FSet; }

private:
    rlimit FSaved{};
    void (*FOldHandler)(int) = SIG_DFL;
    bool FSet = false;
};

Bytes Lead(const Bytes& telegram)
{
    Bytes sent(telegram.size() + 1, 0xFF);
    std::copy(telegram.begin(), telegram.end(), sent.begin() + 1);
    return sent;
}

TEST(TrafficCapture, PcapngRecoversAfterAFailedWrite)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TrafficCapture capture;
    capture.Configure(dir.filePath(QStringLiteral("incoming.txt")), true, "COM1", "/dev/ttyS0");
    const QString pcapng = dir.filePath(QLatin1String(PcapngFileName));
    const QDateTime now = QDateTime::currentDateTime();
    const ChunkEntries none;

    ASSERT_TRUE(capture.Chunk(test::Poll, now, none));
    const qint64 before = QFileInfo(pcapng).size();
    ASSERT_GT(before, 0);
    {
        // Room for a part of the next block only.
        FullDisk full(rlim_t(before + 10));
        ASSERT_TRUE(full.Set());
        EXPECT_FALSE(capture.Chunk(test::ReadRequest, now, none));
        EXPECT_FALSE(capture.Sent(Lead(test::ReadRequest), now));
    }
    EXPECT_TRUE(capture.Sent(Lead(test::WriteRequest), now));
    EXPECT_TRUE(capture.Chunk(test::WriteRequest, now, none));
    capture.Finish(now);

    std::ifstream in(QFile::encodeName(pcapng).toStdString(), std::ios::binary);
    pcap::PcapngReader reader(in);
    std::vector<Bytes> packets;
    pcap::ReadPacket packet;
    pcap::PcapngReader::Status status;
    while ((status = reader.Next(packet)) == pcap::PcapngReader::Status::Packet)
        packets.push_back(packet.bytes);
    EXPECT_EQ(status, pcap::PcapngReader::Status::End) << reader.Error();
    const std::vector<Bytes> expected = {test::Poll, Lead(test::WriteRequest), test::WriteRequest};
    EXPECT_EQ(packets, expected);
}

} // namespace
} // namespace qtr290
