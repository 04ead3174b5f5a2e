#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "device/dmss_protocol.hpp"
#include "link/packet.hpp"

// Operations of the boot stage (boot-loader protocol): probe, parameters, writing the flash
// programmer into memory and starting it. Each sets MODE_DMSS; a failure leaves its reason
// in the packet's LastError.
namespace tapfix::device {

using FlashInfoRecord = std::array<std::uint8_t, dmss::kFlashInfoSize>;

// No-operation: true on any good answer (device operation 12).
bool DmssNop(link::CPacket& packet);

// The boot loader's parameters into `record` (layout: dmss::kInfo*). An answer other than
// the parameter answer is a success with a zero-filled record; a failure zero-fills it too.
bool GetFlashInfo(link::CPacket& packet, FlashInfoRecord& record);

// Starts execution at segment:0000.
bool DmssGo(link::CPacket& packet, std::uint16_t segment);
// The same for boot loaders that answer only once the jump is under way (longer time-out).
bool DmssGoWait(link::CPacket& packet, std::uint16_t segment);

// Writes one block (at most 1,024 bytes) to device memory; true on ACK. No retry here: the
// caller decides.
bool DmssWrite32(link::CPacket& packet, std::span<const std::uint8_t> data, std::uint32_t address);

}  // namespace tapfix::device
