#include "pcap/pcapng.h"

#include "pcap/pcapng_format.h"

#include <string_view>
#include <utility>

namespace qtr290::pcap {

namespace {

using namespace format;

// Blocks are written little-endian; readers learn the order from the section's magic.
class Block {
public:
    explicit Block(std::uint32_t type)
    {
        U32(type);
        U32(0); // total length, patched by Finish
    }
    void U8(std::uint8_t v) { FBytes.push_back(v); }
    void U16(std::uint16_t v)
    {
        U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v)
    {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void Bytes(ByteSpan bytes)
    {
        FBytes.insert(FBytes.end(), bytes.begin(), bytes.end());
        while (FBytes.size() % 4 != 0)
            U8(0);
    }
    void Option(std::uint16_t code, ByteSpan value)
    {
        U16(code);
        U16(static_cast<std::uint16_t>(value.size()));
        Bytes(value);
    }
    void Option(std::uint16_t code, std::string_view text)
    {
        // Option values are at most 65535 bytes.
        text = text.substr(0, 0xFFFC);
        Option(code, ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    std::vector<std::uint8_t> Finish()
    {
        U32(static_cast<std::uint32_t>(FBytes.size() + 4));
        const auto total = static_cast<std::uint32_t>(FBytes.size());
        for (int i = 0; i < 4; ++i)
            FBytes[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(total >> (8 * i));
        return std::move(FBytes);
    }

private:
    std::vector<std::uint8_t> FBytes;
};

} // namespace

PcapngWriter::PcapngWriter(Sink sink, std::string application, Interface iface)
    : FSink(std::move(sink)), FApplication(std::move(application)), FInterface(std::move(iface))
{
}

bool PcapngWriter::Emit(const std::vector<std::uint8_t>& block)
{
    if (FOk && !(FSink && FSink(ByteSpan(block.data(), block.size()))))
        FOk = false;
    return FOk;
}

bool PcapngWriter::WriteHeader()
{
    if (FHeaderDone)
        return FOk;
    FHeaderDone = true;

    Block shb(SectionHeaderBlock);
    shb.U32(0x1A2B3C4D); // byte-order magic
    shb.U16(1);          // version 1.0
    shb.U16(0);
    shb.U32(0xFFFFFFFF); // section length not given
    shb.U32(0xFFFFFFFF);
    if (!FApplication.empty())
        shb.Option(ShbUserAppl, FApplication);
    shb.U32(OptEnd);
    if (!Emit(shb.Finish()))
        return false;

    Block idb(InterfaceDescriptionBlock);
    idb.U16(LinkTypeUser0);
    idb.U16(0);
    idb.U32(0); // no snapshot limit
    if (!FInterface.name.empty())
        idb.Option(IfName, FInterface.name);
    if (!FInterface.description.empty())
        idb.Option(IfDescription, FInterface.description);
    const std::uint8_t microseconds = 6;
    idb.Option(IfTsResol, ByteSpan(&microseconds, 1));
    idb.U32(OptEnd);
    return Emit(idb.Finish());
}

bool PcapngWriter::Write(const Packet& packet)
{
    if (!WriteHeader())
        return false;
    if (packet.bytes.size() > MaxPacketLength)
        return false; // the caller cuts longer runs; nothing is written
    const ByteSpan bytes = packet.bytes;
    const auto ts = static_cast<std::uint64_t>(packet.timeUs);
    Block epb(EnhancedPacketBlock);
    epb.U32(0); // interface 0
    epb.U32(static_cast<std::uint32_t>(ts >> 32));
    epb.U32(static_cast<std::uint32_t>(ts));
    epb.U32(static_cast<std::uint32_t>(bytes.size()));
    epb.U32(static_cast<std::uint32_t>(bytes.size()));
    epb.Bytes(bytes);
    std::uint8_t flags[4];
    for (int i = 0; i < 4; ++i)
        flags[i] = static_cast<std::uint8_t>(packet.flags >> (8 * i));
    epb.Option(EpbFlags, ByteSpan(flags, 4));
    epb.U32(OptEnd);
    if (!Emit(epb.Finish()))
        return false;
    ++FPackets;
    return true;
}

} // namespace qtr290::pcap
