// Reading pcapng back: the packets of Enhanced Packet Blocks, in file order, with their
// time (per the interface's time stamp resolution) and packet flags. Sections of either
// byte order; other block types are passed over. The file is untrusted: every length is
// checked before it is used and no block larger than MaxBlockLength is read. Pure C++.
#pragma once

#include "pcap/pcapng.h"

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace qtr290::pcap {

struct ReadPacket {
    std::int64_t timeUs = 0; // microseconds since 1970-01-01 UTC
    std::uint32_t flags = 0; // 0 when the block carries no flags word
    std::uint32_t interfaceId = 0;
    std::uint16_t linkType = 0;
    std::vector<std::uint8_t> bytes;
};

class PcapngReader {
public:
    static constexpr std::uint32_t MaxBlockLength = 16u << 20;

    enum class Status {
        Packet,    // `packet` holds the next one
        End,       // the file ended after a whole block
        Malformed, // Error() says what; CanGoOn() tells whether the next block is reachable
    };

    explicit PcapngReader(std::istream& in) : FIn(in) {}

    Status Next(ReadPacket& packet);

    const std::string& Error() const { return FError; }
    // False once the block structure itself is lost (bad length, cut-off file): nothing
    // after it can be read.
    bool CanGoOn() const { return !FLost; }
    // The block Next last looked at, counted from 1, and its byte offset in the file.
    std::uint64_t BlockNumber() const { return FBlockNumber; }
    std::uint64_t BlockOffset() const { return FBlockOffset; }

private:
    struct InterfaceInfo {
        std::uint16_t linkType = 0;
        std::uint8_t tsresol = 6; // microseconds unless the block says otherwise
    };

    Status Fail(std::string message, bool lost);
    bool ReadExactly(std::uint8_t* to, std::size_t count);
    std::uint16_t U16(const std::uint8_t* p) const;
    std::uint32_t U32(const std::uint8_t* p) const;
    bool Interface(const std::vector<std::uint8_t>& body); // false: malformed
    Status Enhanced(const std::vector<std::uint8_t>& body, ReadPacket& packet);

    std::istream& FIn;
    bool FInSection = false;
    bool FBigEndian = false;
    bool FLost = false;
    std::vector<InterfaceInfo> FInterfaces;
    std::uint64_t FOffset = 0; // bytes consumed
    std::uint64_t FBlockNumber = 0;
    std::uint64_t FBlockOffset = 0;
    std::string FError;
};

// True when the bytes begin as a pcapng file does (a section header block).
bool LooksLikePcapng(const std::uint8_t* bytes, std::size_t size);

} // namespace qtr290::pcap
