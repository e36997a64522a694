// Fuzz target for pcapng written and read back. The input is used twice:
// 1. As a file for the reader, which must end (End, or Malformed that it cannot go on
//    from) without reading past what it was given.
// 2. As a plan of packets, each record being
//      1 byte  length: 0..254 bytes, or 255 = a run of 65535 + (next byte) bytes (the
//              first such run; later ones are 254 bytes, to keep the target fast)
//      8 bytes time stamp, little-endian (any value, negative included)
//      4 bytes packet flags, little-endian
//      n bytes the packet, taken from the input (what is left, if that is less)
//    written with the writer, read back: the same packets, time stamps and flags, in
//    order, the over-long ones refused and absent. Then the file is cut at a point taken
//    from the input: the reader returns a leading run of the packets and never more.
#include "fuzz/fuzz_check.h"
#include "pcap/pcapng.h"
#include "pcap/pcapng_reader.h"

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace qtr290::pcap;
using Bytes = std::vector<std::uint8_t>;

struct Planned {
    std::int64_t timeUs = 0;
    std::uint32_t flags = 0;
    Bytes bytes;
};

std::uint64_t Little(const std::uint8_t* p, int count)
{
    std::uint64_t v = 0;
    for (int i = count - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

std::vector<Planned> Plan(const std::uint8_t* data, std::size_t size)
{
    std::vector<Planned> plan;
    std::size_t at = 0;
    int longRuns = 0;
    while (at + 13 <= size && plan.size() < 16) {
        std::size_t length = data[at++];
        if (length == 255 && at < size)
            length = ++longRuns <= 1 ? MaxPacketLength + data[at++] : 254;
        if (at + 12 > size)
            break;
        Planned p;
        p.timeUs = static_cast<std::int64_t>(Little(data + at, 8));
        p.flags = static_cast<std::uint32_t>(Little(data + at + 8, 4));
        at += 12;
        const std::size_t taken = std::min(length, size - at);
        p.bytes.assign(data + at, data + at + taken);
        at += taken;
        // A long run is made of the input's bytes over and over.
        for (std::size_t i = taken; i < length; ++i)
            p.bytes.push_back(static_cast<std::uint8_t>(i));
        plan.push_back(std::move(p));
    }
    return plan;
}

// Reads every packet; the final status must not be one the reader can go on from.
std::vector<ReadPacket> ReadAll(const std::string& file, bool& clean)
{
    std::istringstream in(file);
    PcapngReader reader(in);
    std::vector<ReadPacket> packets;
    ReadPacket packet;
    for (;;) {
        const auto status = reader.Next(packet);
        if (status == PcapngReader::Status::Packet) {
            FUZZ_CHECK(packet.bytes.size() <= PcapngReader::MaxBlockLength);
            packets.push_back(packet);
            continue;
        }
        if (status == PcapngReader::Status::Malformed) {
            FUZZ_CHECK(!reader.Error().empty());
            clean = false;
            if (reader.CanGoOn())
                continue;
        }
        FUZZ_CHECK(reader.BlockOffset() <= file.size());
        // Once ended, it stays ended.
        FUZZ_CHECK(reader.Next(packet) == PcapngReader::Status::End);
        return packets;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    bool clean = true;
    const auto raw = ReadAll(std::string(reinterpret_cast<const char*>(data), size), clean);
    FUZZ_CHECK(raw.size() <= size / 32);

    std::string file;
    PcapngWriter writer(
        [&file](qtr290::ByteSpan bytes) {
            file.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            return true;
        },
        "fuzz", {"if0", "the fuzzer's bus"});
    FUZZ_CHECK(writer.WriteHeader());
    std::vector<Planned> written;
    for (const Planned& p : Plan(data, size)) {
        const bool fits = p.bytes.size() <= MaxPacketLength;
        FUZZ_CHECK(writer.Write({p.timeUs, p.flags, p.bytes}) == fits);
        if (fits)
            written.push_back(p);
    }
    FUZZ_CHECK(writer.PacketCount() == written.size());

    clean = true;
    const auto back = ReadAll(file, clean);
    FUZZ_CHECK(clean);
    FUZZ_CHECK(back.size() == written.size());
    for (std::size_t i = 0; i < back.size(); ++i) {
        FUZZ_CHECK(back[i].timeUs == written[i].timeUs);
        FUZZ_CHECK(back[i].flags == written[i].flags);
        FUZZ_CHECK(back[i].bytes == written[i].bytes);
        FUZZ_CHECK(back[i].linkType == LinkTypeUser0);
        FUZZ_CHECK(back[i].interfaceId == 0);
    }

    const std::size_t cut = size >= 2 ? Little(data + size - 2, 2) % (file.size() + 1) : 0;
    const auto prefix = ReadAll(file.substr(0, cut), clean);
    FUZZ_CHECK(prefix.size() <= written.size());
    for (std::size_t i = 0; i < prefix.size(); ++i)
        FUZZ_CHECK(prefix[i].bytes == written[i].bytes && prefix[i].timeUs == written[i].timeUs);
    return 0;
}
