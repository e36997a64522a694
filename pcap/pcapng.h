// pcapng output for the bus: one section with one interface of link type USER0 (147), and
// one Enhanced Packet Block per packet, carrying the packet flags word. Pure C++, no Qt.
#pragma once

#include "link/telegram.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qtr290::pcap {

inline constexpr std::uint16_t LinkTypeUser0 = 147;
// Longest packet written; longer runs of skipped bytes are cut into several packets.
inline constexpr std::size_t MaxPacketLength = 65535;

// The packet flags word (epb_flags). Direction is the utility's: inbound = received from
// the bus, outbound = transmitted by it. The error bits mark what the framer did not accept.
inline constexpr std::uint32_t FlagInbound = 0x1;
inline constexpr std::uint32_t FlagOutbound = 0x2;
inline constexpr std::uint32_t FlagCrcError = 1u << 24;     // a damaged telegram
inline constexpr std::uint32_t FlagTooShort = 1u << 26;     // still incomplete when capture ended
inline constexpr std::uint32_t FlagNoFrameStart = 1u << 29; // skipped bytes, no telegram start

struct Packet {
    std::int64_t timeUs = 0; // microseconds since 1970-01-01 UTC
    std::uint32_t flags = FlagInbound;
    ByteSpan bytes;
};

class PcapngWriter {
public:
    // Takes the file's bytes in order; returning false stops the writer for good.
    using Sink = std::function<bool(ByteSpan bytes)>;

    struct Interface {
        std::string name;        // if_name, e.g. "COM1" or the capture file's name
        std::string description; // if_description, e.g. "/dev/ttyUSB0 at 4800 Bd"
    };

    PcapngWriter(Sink sink, std::string application, Interface iface);

    // Section header and interface description; the first Write does it when not yet done.
    bool WriteHeader();
    // False when the sink failed, or for a packet longer than MaxPacketLength (not written).
    bool Write(const Packet& packet);

    bool Ok() const { return FOk; }
    std::uint64_t PacketCount() const { return FPackets; }

private:
    bool Emit(const std::vector<std::uint8_t>& block);

    Sink FSink;
    std::string FApplication;
    Interface FInterface;
    bool FHeaderDone = false;
    bool FOk = true;
    std::uint64_t FPackets = 0;
};

} // namespace qtr290::pcap
