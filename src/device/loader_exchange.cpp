#include "device/loader_exchange.hpp"

#include <algorithm>
#include <string>

#include "device/command_pattern.hpp"
#include "link/wire.hpp"

namespace tapfix::device::loader {

void Begin(link::CPacket& packet, link::PacketMode mode, std::uint8_t code) {
    packet.ResetBuffers();
    packet.SetMode(mode);
    packet.Request()[0] = code;
}

namespace {

bool FailTooLong(link::CPacket& packet, std::size_t size, std::size_t capacity,
                 std::string_view failure) {
    packet.SetLastError("the block of " + std::to_string(size) + " bytes is longer than " +
                        std::to_string(capacity));
    return packet.FailWith(failure);
}

}  // namespace

bool Exchange(link::CPacket& packet, std::uint8_t attempts, std::uint32_t timeoutMs,
              std::string_view failure) {
    return WrapFailure(packet, packet.Transact(attempts, timeoutMs), failure);
}

bool ExchangeStream(link::CPacket& packet, std::uint32_t timeoutMs, std::string_view failure) {
    return WrapFailure(packet, packet.TransactStream(timeoutMs), failure);
}

bool PutBlock(link::CPacket& packet, std::uint32_t address, std::span<const std::uint8_t> data,
              std::string_view failure) {
    if (data.size() > kMaxBlock) {
        return FailTooLong(packet, data.size(), kMaxBlock, failure);
    }
    const auto request = packet.Request();
    wire::WriteLe32(request, kAddressOffset, address);
    wire::WriteLe32(request, kLengthOffset, static_cast<std::uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), request.begin() + kDataOffset);
    return true;
}

bool PutCommandData(link::CPacket& packet, std::span<const std::uint8_t> data,
                    std::string_view failure) {
    if (!packet.SetCommandData(data)) {
        return FailTooLong(packet, data.size(), link::CPacket::kCommandDataCapacity, failure);
    }
    return true;
}

std::uint32_t BlockAddress(link::CPacket& packet) {
    return wire::ReadLe32(packet.Request(), kAddressOffset).value_or(0);
}

std::span<const std::uint8_t> BlockData(link::CPacket& packet) {
    const auto request = packet.Request();
    const std::size_t length = wire::ReadLe32(request, kLengthOffset).value_or(0);
    return request.subspan(kDataOffset, std::min(length, request.size() - kDataOffset));
}

}  // namespace tapfix::device::loader
