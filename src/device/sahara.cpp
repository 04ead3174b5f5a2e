#include "device/sahara.hpp"

#include <chrono>
#include <initializer_list>
#include <vector>

#include "link/wire.hpp"
#include "platform/clock.hpp"

namespace tapfix::device {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kVersion = 2;
constexpr std::uint32_t kVersionSupported = 1;
constexpr std::size_t kHelloResponseReserved = 6;
constexpr auto kReadTimeout = 5000ms;

bool SendWords(link::CPacket& packet, std::initializer_list<std::uint32_t> words,
               std::size_t zeroWords) {
    std::vector<std::uint8_t> message;
    for (const std::uint32_t word : words) {
        wire::AppendLe32(message, word);
    }
    message.resize(message.size() + 4 * zeroWords, 0);
    packet.ResetBuffers();
    return packet.WriteRaw(message);
}

constexpr std::uint32_t kShortestMessage = 8;

// Word 1 of every message states its length. A message is whole once that much has arrived;
// a length no message can have (shorter than its two words, longer than one read) leaves the
// end to the device's silence and the message to the caller's checks.
std::optional<std::uint32_t> StatedLength(const std::vector<std::uint8_t>& message) {
    return wire::ReadLe32(message, 4);
}

bool IsPlausible(std::uint32_t length) {
    return length >= kShortestMessage && length <= link::CPacket::kReceiveData;
}

bool IsWhole(const std::vector<std::uint8_t>& message) {
    const auto length = StatedLength(message);
    return length && IsPlausible(*length) && message.size() >= *length;
}

bool EndsWithSilence(const std::vector<std::uint8_t>& message) {
    const auto length = StatedLength(message);
    return length && !IsPlausible(*length);
}

}  // namespace

bool SaharaHelloResponse(link::CPacket& packet) {
    constexpr std::uint32_t kLength = 48;
    constexpr std::uint32_t kStatusOk = 0;
    constexpr std::uint32_t kModeImageTransfer = 0;
    return SendWords(packet,
                     {sahara::kHelloResponse, kLength, kVersion, kVersionSupported, kStatusOk,
                      kModeImageTransfer},
                     kHelloResponseReserved);
}

bool SaharaRead(link::CPacket& packet) {
    std::vector<std::uint8_t> message;
    const auto deadline = std::chrono::steady_clock::now() + platform::ScaledTimeout(kReadTimeout);
    while (!IsWhole(message) && std::chrono::steady_clock::now() < deadline &&
           packet.IsPortOpen()) {
        // A port read waits up to 30 ms for its first byte: a read that brings nothing means
        // the device has stopped sending.
        const std::size_t count = packet.ReadWaiting();
        if (count == 0 && EndsWithSilence(message)) {
            break;
        }
        const auto bytes = packet.ReceivedBytes();
        message.insert(message.end(), bytes.begin(), bytes.end());
        if (message.size() > link::CPacket::kReceiveData) {
            packet.LoadReceiveBuffer({});
            packet.SetLastError(link::texts::kReceiveFailed);
            return false;
        }
    }
    packet.LoadReceiveBuffer(message);
    if (message.empty()) {
        packet.SetLastError(link::texts::kCannotReceive);
        return false;
    }
    return true;
}

bool SaharaDone(link::CPacket& packet) {
    if (!SendWords(packet, {sahara::kDone, 8}, 0) || !SaharaRead(packet)) {
        return false;
    }
    if (SaharaWord(packet, 0) != sahara::kDoneResponse ||
        SaharaWord(packet, 1) != sahara::kDoneResponseLength) {
        packet.SetLastError("the device did not answer done with a done response");
        return false;
    }
    return true;
}

std::optional<std::uint32_t> SaharaWord(const link::CPacket& packet, std::size_t index) {
    return wire::ReadLe32(packet.ReceivedBytes(), 4 * index);
}

}  // namespace tapfix::device
