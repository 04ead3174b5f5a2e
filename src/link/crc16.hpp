#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tapfix::link {

// The frame check sequence: CRC-16/X-25 (PPP FCS-16), reflected 0x1021, initial 0xFFFF.
inline constexpr std::uint16_t kCrcInitial = 0xFFFF;
// The register after running over a payload followed by its own FCS.
inline constexpr std::uint16_t kCrcGoodResidue = 0xF0B8;
inline constexpr std::size_t kFcsSize = 2;

// Runs the register over the bytes without the final complement.
std::uint16_t CrcUpdate(std::uint16_t crc, std::span<const std::uint8_t> bytes);
// The FCS to append (complemented), sent low byte first.
std::uint16_t Fcs16(std::span<const std::uint8_t> bytes);
// True when bytes (a payload of at least one byte followed by its FCS) leave the good residue.
bool FcsIsGood(std::span<const std::uint8_t> payloadAndFcs);

}  // namespace tapfix::link
