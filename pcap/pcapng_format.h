// Block types and option codes of the pcapng file format, shared by its writer and reader.
#pragma once

#include <cstdint>

namespace qtr290::pcap::format {

inline constexpr std::uint32_t SectionHeaderBlock = 0x0A0D0D0A;
inline constexpr std::uint32_t InterfaceDescriptionBlock = 0x00000001;
inline constexpr std::uint32_t EnhancedPacketBlock = 0x00000006;
inline constexpr std::uint16_t OptEnd = 0;
inline constexpr std::uint16_t ShbUserAppl = 4;
inline constexpr std::uint16_t IfName = 2;
inline constexpr std::uint16_t IfDescription = 3;
inline constexpr std::uint16_t IfTsResol = 9;
inline constexpr std::uint16_t EpbFlags = 2;

} // namespace qtr290::pcap::format
