#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "device/dmss_protocol.hpp"
#include "device/stream_protocol.hpp"
#include "link/packet.hpp"
#include "platform/clock.hpp"
#include "support/pty_peer.hpp"

namespace tapfix::device::test {

using namespace std::chrono_literals;
using tapfix::test::Bytes;
using tapfix::test::Concat;
using tapfix::test::Hex;
using tapfix::test::PtyPeer;
using tapfix::test::ReferenceFrame;

// Real time plus every sleep taken through it, which it records instead of sleeping.
class RecordingClock final : public platform::Clock {
  public:
    platform::TimePoint Now() const override { return std::chrono::steady_clock::now() + slept_; }
    void Sleep(platform::Milliseconds duration) override {
        sleeps.push_back(duration);
        slept_ += duration;
    }
    std::vector<platform::Milliseconds> sleeps;

  private:
    platform::Milliseconds slept_{0};
};

// A boot-loader or streaming frame as the device sends it.
inline Bytes DeviceFrame(const Bytes& payload) {
    return ReferenceFrame(payload, true);
}

// Random bytes of random length below `maxLength`, led by one of `codes`.
inline Bytes RandomAnswer(std::mt19937& random, const Bytes& codes, std::size_t maxLength) {
    Bytes payload(random() % maxLength);
    for (auto& byte : payload) {
        byte = static_cast<std::uint8_t>(random());
    }
    if (!payload.empty()) {
        payload[0] = codes[random() % codes.size()];
    }
    return payload;
}

// A request record of random bytes led by `code`, with random command data.
inline void FillRandomRequest(link::CPacket& packet, std::mt19937& random, std::uint8_t code) {
    for (auto& byte : packet.Request()) {
        byte = static_cast<std::uint8_t>(random());
    }
    packet.Request()[0] = code;
    packet.SetCommandData(RandomAnswer(random, {0}, link::CPacket::kCommandDataCapacity + 1));
}

inline Bytes TextBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A link with both command sets installed, open on a scripted device.
class LoaderTest : public ::testing::Test {
  protected:
    LoaderTest() {
        platform::SetTimeScale(0.01);
        packet.SetProtocol(link::MODE_DMSS, &DmssProtocol());
        packet.SetProtocol(link::MODE_STREAM, &StreamProtocol());
    }
    void SetUp() override { ASSERT_TRUE(packet.OpenPort(peer.PortNumber())); }

    // The request frames the device has seen, in hex, for readable mismatches.
    std::vector<std::string> SeenRequests() const {
        std::vector<std::string> seen;
        for (const Bytes& request : peer.Requests()) {
            seen.push_back(Hex(request));
        }
        return seen;
    }

    PtyPeer peer;
    link::CPacket packet;
};

}  // namespace tapfix::device::test
