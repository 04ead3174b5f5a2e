#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "link/packet.hpp"

// Sahara boot protocol messages: unframed little-endian 32-bit words, the first two being
// the command and the message length in bytes.
namespace tapfix::device {

namespace sahara {
inline constexpr std::uint32_t kHello = 1;
inline constexpr std::uint32_t kHelloResponse = 2;
inline constexpr std::uint32_t kReadData = 3;
inline constexpr std::uint32_t kEndOfImage = 4;
inline constexpr std::uint32_t kDone = 5;
inline constexpr std::uint32_t kDoneResponse = 6;
inline constexpr std::uint32_t kDoneResponseLength = 12;
}  // namespace sahara

// Answers the device's hello (version 2, minimum 1, status 0, mode 0); true when all 48 bytes
// were written.
bool SaharaHelloResponse(link::CPacket& packet);

// Waits up to 5 s for a message and reads it raw into the receive buffer, until the length the
// message states has arrived (a length no message can have: until the device stops sending).
// False when nothing arrived or more than one read holds.
bool SaharaRead(link::CPacket& packet);

// Sends done and reads the done response; true when it is one (command 6, length 12).
bool SaharaDone(link::CPacket& packet);

// Word `index` of the message last read; nothing when the message is shorter.
std::optional<std::uint32_t> SaharaWord(const link::CPacket& packet, std::size_t index);

}  // namespace tapfix::device
