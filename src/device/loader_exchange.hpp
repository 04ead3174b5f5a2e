#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "link/packet.hpp"

// What the boot-loader and streaming operations share: starting a request, running the
// exchange with the operation's failure text, and the block request layout.
namespace tapfix::device::loader {

// Request record layout of block writes (both protocols) and of one-byte arguments.
inline constexpr std::size_t kArgumentOffset = 1;
inline constexpr std::size_t kAddressOffset = 1;
inline constexpr std::size_t kLengthOffset = 5;
inline constexpr std::size_t kDataOffset = 9;
// The largest block either protocol writes in one request.
inline constexpr std::size_t kMaxBlock = 1024;

// Fresh buffers, the packet mode and the command code: how every request begins.
void Begin(link::CPacket& packet, link::PacketMode mode, std::uint8_t code);

// Transact; a failure wraps LastError in `failure` ("... Since %s"), or keeps the link's
// reason when `failure` is empty.
bool Exchange(link::CPacket& packet, std::uint8_t attempts, std::uint32_t timeoutMs,
              std::string_view failure);
bool ExchangeStream(link::CPacket& packet, std::uint32_t timeoutMs, std::string_view failure);

// Puts the address, the length and the data of a block write into the request record
// (least significant byte first; the builders choose the wire order). Refuses, with a
// reason wrapped in `failure`, a block longer than kMaxBlock.
bool PutBlock(link::CPacket& packet, std::uint32_t address, std::span<const std::uint8_t> data,
              std::string_view failure);

// Copies `data` into the command data; refuses, as PutBlock does, more than it holds.
bool PutCommandData(link::CPacket& packet, std::span<const std::uint8_t> data,
                    std::string_view failure);

// The request record's block: its address, and its data bounded by what the record holds.
std::uint32_t BlockAddress(link::CPacket& packet);
std::span<const std::uint8_t> BlockData(link::CPacket& packet);

}  // namespace tapfix::device::loader
