#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "link/packet.hpp"
#include "platform/clock.hpp"

// Operations of the flash programmer (streaming protocol). Each sets MODE_STREAM; a failure
// leaves its reason in the packet's LastError. Waits go through the clock passed in.
namespace tapfix::device {

// The programmer's hello; its flash identification (at most 100 bytes) into `flashId`.
bool StreamHello(link::CPacket& packet, std::string& flashId);

// All answer frames to the security mode request must be good.
bool StreamSecurityMode(link::CPacket& packet, std::uint8_t mode);

// Sends the partition table (at most 1,024 bytes). A device that keeps its own table unless
// told otherwise is sent the table again with the override set.
bool StreamPartitionTable(link::CPacket& packet, std::span<const std::uint8_t> table,
                          std::uint32_t overrideFlag);

// Opens the image of `imageType`; `header` (at most 1,024 bytes, may be empty) goes with it.
bool StreamOpenMultiImage(link::CPacket& packet, std::uint8_t imageType,
                          std::span<const std::uint8_t> header);

// Writes one block (at most 1,024 bytes) and waits for its acknowledgement: five tries,
// a second apart.
bool StreamWrite(link::CPacket& packet, std::span<const std::uint8_t> data, std::uint32_t address,
                 platform::Clock& clock = platform::SystemClock());

// The stream-write frame of one block into the transmit buffer, for pipelined writes the
// caller sends with SendTransmitBuffer. Returns the frame length; 0 for a block over 1,024.
std::size_t BuildStreamWriteFrame(link::CPacket& packet, std::span<const std::uint8_t> data,
                                  std::uint32_t address);

// Device operations 7, 6, 10 and 11.
bool StreamNop(link::CPacket& packet);
bool StreamReset(link::CPacket& packet);
bool StreamClose(link::CPacket& packet);
// One read of what the device sent; block-written addresses land in the acknowledged list.
bool DrainStreamAnswers(link::CPacket& packet);

// Waits for the extension answer `code` with status 1 (the device is ready), until the device
// has been silent for the programmer's quiet period (QuietWait).
bool WaitAnswerOk(link::CPacket& packet, std::uint8_t code,
                  platform::Clock& clock = platform::SystemClock());

// What the device answered to a transferred unit.
enum class UnitStatus { None = 0, Accepted = 1, ChecksumMismatch = 2, DeviceFailure = 3 };

// Waits up to `seconds` for the extension answer `code` after a unit: true with Accepted or
// ChecksumMismatch in `status`; false with DeviceFailure, with None on silence or an
// unknown status.
bool WaitAnswerStatus(link::CPacket& packet, std::uint8_t code, unsigned seconds,
                      UnitStatus& status, platform::Clock& clock = platform::SystemClock());

}  // namespace tapfix::device
