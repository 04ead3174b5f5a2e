#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "link/packet.hpp"

namespace tapfix::test {

// A minimal command set: sends the first `length` request bytes, records every frame,
// collects 0x08 block-written addresses and rejects 0x0D error frames.
class EchoProtocol final : public link::PacketProtocol {
  public:
    std::size_t length = 1;
    mutable std::vector<std::vector<std::uint8_t>> frames;
    mutable int parsed = 0;

    void BuildPayload(link::CPacket& packet, std::uint8_t argument) const override {
        packet.AppendPayload(packet.Request().first(length));
        if (argument != 0) {
            packet.AppendPayloadByte(argument);
        }
    }
    bool ParseResponse(link::CPacket&) const override {
        ++parsed;
        return true;
    }
    bool HandleFrame(link::CPacket& packet, std::span<const std::uint8_t> frame) const override {
        frames.emplace_back(frame.begin(), frame.end());
        if (!frame.empty() && frame[0] == 0x08 && frame.size() >= 5) {
            packet.AppendAckedAddress(static_cast<std::uint32_t>(frame[1]) |
                                      static_cast<std::uint32_t>(frame[2]) << 8 |
                                      static_cast<std::uint32_t>(frame[3]) << 16 |
                                      static_cast<std::uint32_t>(frame[4]) << 24);
        }
        return frame.empty() || frame[0] != 0x0D;
    }
};

inline void InstallEverywhere(link::CPacket& packet, const EchoProtocol& protocol) {
    packet.SetProtocol(link::MODE_DIAG, &protocol);
    packet.SetProtocol(link::MODE_DMSS, &protocol);
    packet.SetProtocol(link::MODE_STREAM, &protocol);
}

}  // namespace tapfix::test
