#include "pcap/pcapng_reader.h"

#include "pcap/pcapng_format.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace qtr290::pcap {

namespace {

using namespace format;

constexpr std::size_t Padded(std::size_t n)
{
    return (n + 3) & ~std::size_t{3};
}

// A time stamp in units of 10^-n or (high bit set) 2^-n seconds, in microseconds. Stamps
// in microseconds come back exactly as the writer put them; others saturate.
std::int64_t ToMicroseconds(std::uint64_t stamp, std::uint8_t resolution)
{
    constexpr auto Max = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max());
    unsigned __int128 us = 0;
    if (resolution & 0x80) {
        us = (static_cast<unsigned __int128>(stamp) * 1'000'000u) >> (resolution & 0x7F);
    } else if (resolution == 6) {
        return static_cast<std::int64_t>(stamp);
    } else if (resolution < 6) {
        us = stamp;
        for (int i = resolution; i < 6; ++i)
            us *= 10u;
    } else {
        us = stamp;
        for (int i = 6; i < resolution && us > 0; ++i)
            us /= 10u;
    }
    return static_cast<std::int64_t>(std::min(us, Max));
}

} // namespace

bool LooksLikePcapng(const std::uint8_t* bytes, std::size_t size)
{
    return size >= 4 && bytes[0] == 0x0A && bytes[1] == 0x0D && bytes[2] == 0x0D &&
           bytes[3] == 0x0A;
}

PcapngReader::Status PcapngReader::Fail(std::string message, bool lost)
{
    FError = std::move(message);
    FLost = FLost || lost;
    return Status::Malformed;
}

bool PcapngReader::ReadExactly(std::uint8_t* to, std::size_t count)
{
    std::streambuf* in = FIn.rdbuf();
    const std::streamsize got =
        in ? in->sgetn(reinterpret_cast<char*>(to), static_cast<std::streamsize>(count)) : 0;
    FOffset += static_cast<std::uint64_t>(std::max<std::streamsize>(got, 0));
    return got == static_cast<std::streamsize>(count);
}

std::uint16_t PcapngReader::U16(const std::uint8_t* p) const
{
    return FBigEndian ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                      : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
}

std::uint32_t PcapngReader::U32(const std::uint8_t* p) const
{
    const std::uint32_t high = U16(p);
    const std::uint32_t low = U16(p + 2);
    return FBigEndian ? (high << 16 | low) : (low << 16 | high);
}

PcapngReader::Status PcapngReader::Next(ReadPacket& packet)
{
    for (;;) {
        if (FLost)
            return Status::End;
        FBlockOffset = FOffset;
        ++FBlockNumber;
        std::uint8_t head[12];
        std::streambuf* in = FIn.rdbuf();
        if (!in || in->sgetc() == std::char_traits<char>::eof()) {
            --FBlockNumber;
            return Status::End;
        }
        if (!ReadExactly(head, 8))
            return Fail("the file ends inside a block header", true);
        const bool section = LooksLikePcapng(head, 8);
        if (section) {
            if (!ReadExactly(head + 8, 4))
                return Fail("the file ends inside a section header", true);
            if (head[8] == 0x4D && head[9] == 0x3C && head[10] == 0x2B && head[11] == 0x1A)
                FBigEndian = false;
            else if (head[8] == 0x1A && head[9] == 0x2B && head[10] == 0x3C && head[11] == 0x4D)
                FBigEndian = true;
            else
                return Fail("unknown byte-order magic in the section header", true);
        } else if (!FInSection) {
            return Fail("expected a pcapng section header block", true);
        }
        const std::uint32_t type = U32(head);
        const std::uint32_t length = U32(head + 4);
        const std::uint32_t least = section ? 28 : 12;
        if (length % 4 != 0 || length < least || length > MaxBlockLength)
            return Fail("block length " + std::to_string(length) + " is no multiple of 4 between " +
                            std::to_string(least) + " and " + std::to_string(MaxBlockLength),
                        true);
        const std::size_t already = section ? 12 : 8;
        std::vector<std::uint8_t> body(length - already);
        if (!ReadExactly(body.data(), body.size()))
            return Fail("the file ends inside a block of " + std::to_string(length) + " bytes",
                        true);
        if (U32(body.data() + body.size() - 4) != length)
            return Fail("the block's trailing length differs from its length", true);
        body.resize(body.size() - 4);

        if (section) {
            if (U16(body.data()) != 1)
                return Fail("section of pcapng version " + std::to_string(U16(body.data())) +
                                ", expected 1",
                            true);
            FInSection = true;
            FInterfaces.clear();
        } else if (type == InterfaceDescriptionBlock) {
            if (!Interface(body))
                return Status::Malformed;
        } else if (type == EnhancedPacketBlock) {
            return Enhanced(body, packet);
        }
    }
}

bool PcapngReader::Interface(const std::vector<std::uint8_t>& body)
{
    if (body.size() < 8)
        return Fail("interface description block too short", false) != Status::Malformed;
    InterfaceInfo info;
    info.linkType = U16(body.data());
    for (std::size_t at = 8; at + 4 <= body.size();) {
        const std::uint16_t code = U16(body.data() + at);
        const std::uint16_t length = U16(body.data() + at + 2);
        if (code == OptEnd)
            break;
        if (at + 4 + length > body.size())
            return Fail("an interface option runs past its block", false) != Status::Malformed;
        if (code == IfTsResol && length >= 1)
            info.tsresol = body[at + 4];
        at += 4 + Padded(length);
    }
    FInterfaces.push_back(info);
    return true;
}

PcapngReader::Status PcapngReader::Enhanced(const std::vector<std::uint8_t>& body,
                                            ReadPacket& packet)
{
    if (body.size() < 20)
        return Fail("enhanced packet block too short", false);
    const std::uint32_t iface = U32(body.data());
    if (iface >= FInterfaces.size())
        return Fail("packet of interface " + std::to_string(iface) + ", which is not described",
                    false);
    const std::uint32_t captured = U32(body.data() + 12);
    if (captured > body.size() - 20)
        return Fail("captured length " + std::to_string(captured) + " does not fit its block",
                    false);
    const std::uint64_t stamp =
        static_cast<std::uint64_t>(U32(body.data() + 4)) << 32 | U32(body.data() + 8);
    packet.interfaceId = iface;
    packet.linkType = FInterfaces[iface].linkType;
    packet.timeUs = ToMicroseconds(stamp, FInterfaces[iface].tsresol);
    packet.bytes.assign(body.begin() + 20, body.begin() + 20 + captured);
    packet.flags = 0;
    for (std::size_t at = 20 + Padded(captured); at + 4 <= body.size();) {
        const std::uint16_t code = U16(body.data() + at);
        const std::uint16_t length = U16(body.data() + at + 2);
        if (code == OptEnd)
            break;
        if (at + 4 + length > body.size())
            return Fail("a packet option runs past its block", false);
        if (code == EpbFlags && length == 4)
            packet.flags = U32(body.data() + at + 4);
        at += 4 + Padded(length);
    }
    return Status::Packet;
}

} // namespace qtr290::pcap
