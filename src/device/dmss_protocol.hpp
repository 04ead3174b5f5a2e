#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "link/packet.hpp"

// The boot-loader download protocol of the router's boot stage: one-byte command codes,
// fields most significant byte first on the wire, answered by ACK, NAK or data.
namespace tapfix::device {

namespace dmss {
inline constexpr std::uint8_t kAck = 0x02;
inline constexpr std::uint8_t kNak = 0x03;
inline constexpr std::uint8_t kGo = 0x05;
inline constexpr std::uint8_t kNop = 0x06;
inline constexpr std::uint8_t kParameterRequest = 0x07;
inline constexpr std::uint8_t kParameters = 0x08;
inline constexpr std::uint8_t kVersion = 0x0D;
inline constexpr std::uint8_t kWrite32 = 0x0F;
inline constexpr std::uint8_t kGoWait = 0x90;

// The parameter record: the response record after a parameter answer.
inline constexpr std::size_t kFlashInfoSize = 212;
inline constexpr std::size_t kInfoVersion = 1;
inline constexpr std::size_t kInfoMinVersion = 2;
inline constexpr std::size_t kInfoMaxWriteSize = 4;  // 32-bit, least significant byte first
inline constexpr std::size_t kInfoModel = 8;
inline constexpr std::size_t kInfoSizeCodeReceived = 9;
inline constexpr std::size_t kInfoFlashSize = 12;  // 32-bit, least significant byte first
inline constexpr std::size_t kInfoDeviceType = 16;
inline constexpr std::size_t kInfoSizeCode = 17;
inline constexpr std::size_t kInfoMakerName = 18;
inline constexpr std::size_t kInfoMakerNameSize = 64;
inline constexpr std::size_t kInfoPartName = 82;
inline constexpr std::size_t kInfoPartNameSize = 128;

// Flash size in bytes for a size code; 0 for unknown codes.
std::uint32_t FlashSizeForCode(std::uint8_t code);
}  // namespace dmss

// The builder and parser of the boot-loader protocol, for CPacket::SetProtocol(MODE_DMSS, ...).
const link::PacketProtocol& DmssProtocol();

// The text of a NAK reason; empty for reasons the boot loader does not define.
std::string_view DmssNakText(std::uint16_t reason);

}  // namespace tapfix::device
