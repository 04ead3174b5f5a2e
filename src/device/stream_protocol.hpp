#pragma once

#include <cstdint>
#include <string_view>

#include "link/packet.hpp"

// The streaming download protocol of the flash programmer. Fields are least significant
// byte first, except the extension value of requests 0x1D and 0x28.
namespace tapfix::device {

namespace stream {
inline constexpr std::uint8_t kHello = 0x01;
inline constexpr std::uint8_t kHelloAnswer = 0x02;
inline constexpr std::uint8_t kWrite = 0x07;
inline constexpr std::uint8_t kBlockWritten = 0x08;
inline constexpr std::uint8_t kNop = 0x09;
inline constexpr std::uint8_t kReset = 0x0B;
inline constexpr std::uint8_t kError = 0x0D;
inline constexpr std::uint8_t kClose = 0x15;
inline constexpr std::uint8_t kSecurityMode = 0x17;
inline constexpr std::uint8_t kPartitionTable = 0x19;
inline constexpr std::uint8_t kPartitionTableAnswer = 0x1A;
inline constexpr std::uint8_t kOpenMultiImage = 0x1B;
// Extension requests: the device answers 0x1D with 0x1E and 0x28 with 0x29.
inline constexpr std::uint8_t kHighSpeedTransfer = 0x1D;
inline constexpr std::uint8_t kHighSpeedAnswer = 0x1E;
inline constexpr std::uint8_t kChecksumTransfer = 0x28;
inline constexpr std::uint8_t kChecksumAnswer = 0x29;
// Inside a raw unit larger than this, the device acknowledges every multiple of it (below).
inline constexpr std::uint32_t kAckGranule = 128 * 1024;
}  // namespace stream

// The builder and both answer parsers of the streaming protocol, for
// CPacket::SetProtocol(MODE_STREAM, ...).
//
// Block-written answers (0x08, the 32-bit address in bytes 1..4) are collected into the
// packet's acknowledged addresses; each parse starts the list afresh. They also acknowledge
// the raw units of the checksummed (0x28) and high-speed (0x1D) transfers: for a unit larger
// than 131,072 bytes the device sends one at every 131,072-byte boundary inside it, then one
// carrying the unit's last address (start + length - 1). The device sends them after its
// status answer to the unit (0x29 / 0x1E): WaitAnswerStatus reads frames one at a time and
// passes over any that come before that answer.
const link::PacketProtocol& StreamProtocol();

// The text of the error code of an error answer.
std::string_view StreamErrorText(std::uint32_t code);

}  // namespace tapfix::device
