#include "device/dmss_protocol.hpp"

#include <algorithm>
#include <array>

#include "device/command_pattern.hpp"
#include "device/loader_exchange.hpp"
#include "link/wire.hpp"

namespace tapfix::device {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::array<std::string_view, 12> kNakTexts = {
    "invalid frame check sequence",
    "destination address is invalid",
    "operation length is invalid",
    "packet was too short for this cmd",
    "packet was too long for phone's buffer",
    "packet command code was unknown",
    "operation did not succeed",
    "intelligent ID code was wrong",
    "programming voltage out of spec",
    "readback verify did not match",
    "not permitted without unlock",
    "invalid security code",
};

// Device types above this have no name; they are stored as 0.
constexpr std::uint8_t kLastDeviceType = 34;
// Size codes from this on are unknown; they are stored as 0.
constexpr std::uint8_t kFirstUnknownSizeCode = 7;
// The boot loader names neither maker nor part.
constexpr std::string_view kUnknownName = "Unknown";

class DmssProtocolImpl final : public link::PacketProtocol {
  public:
    void BuildPayload(link::CPacket& packet, std::uint8_t /*argument*/) const override {
        const auto request = packet.Request();
        const std::uint8_t code = request[0];
        switch (code) {
            case dmss::kNop:
            case dmss::kParameterRequest:
                packet.AppendPayloadByte(code);
                break;
            case dmss::kGo:
            case dmss::kGoWait:
                AppendGo(packet, code);
                break;
            case dmss::kWrite32:
                AppendWrite32(packet);
                break;
            default:
                break;
        }
    }

    bool ParseResponse(link::CPacket& packet) const override {
        const Bytes answer = packet.DecodedPayload();
        switch (answer.empty() ? 0 : answer[0]) {
            case dmss::kNak:
                packet.SetLastError(DmssNakText(wire::ReadBe16(answer, 1).value_or(0)));
                return false;
            case dmss::kParameters:
                return StoreParameters(packet, answer);
            case dmss::kVersion:
                StoreVersion(packet, answer);
                return true;
            default:
                return true;
        }
    }

  private:
    // The record holds segment and offset least significant byte first; the wire wants them
    // most significant first.
    static void AppendGo(link::CPacket& packet, std::uint8_t code) {
        const auto request = packet.Request();
        std::array<std::uint8_t, 5> payload{code};
        wire::WriteBe16(payload, 1, wire::ReadLe16(request, 1).value_or(0));
        wire::WriteBe16(payload, 3, wire::ReadLe16(request, 3).value_or(0));
        packet.AppendPayload(payload);
    }

    static void AppendWrite32(link::CPacket& packet) {
        const Bytes data = loader::BlockData(packet);
        std::array<std::uint8_t, 7> head{dmss::kWrite32};
        wire::WriteBe32(head, 1, loader::BlockAddress(packet));
        wire::WriteBe16(head, 5, static_cast<std::uint16_t>(data.size()));
        packet.AppendPayload(head);
        packet.AppendPayload(data);
    }

    static bool StoreParameters(link::CPacket& packet, Bytes answer) {
        // version, minimum version, 4-byte maximum write size, model, size code, device type
        constexpr std::size_t kParameterAnswerSize = 10;
        if (answer.size() < kParameterAnswerSize) {
            packet.SetLastError(texts::kShortAnswer);
            return false;
        }
        const auto record = packet.Response().first(dmss::kFlashInfoSize);
        std::fill(record.begin() + 1, record.end(), 0);
        record[dmss::kInfoVersion] = answer[1];
        record[dmss::kInfoMinVersion] = answer[2];
        wire::WriteLe32(record, dmss::kInfoMaxWriteSize, *wire::ReadLe32(answer, 3));
        record[dmss::kInfoModel] = answer[7];
        const std::uint8_t sizeCode = answer[8];
        record[dmss::kInfoSizeCodeReceived] = sizeCode;
        wire::WriteLe32(record, dmss::kInfoFlashSize, dmss::FlashSizeForCode(sizeCode));
        const std::uint8_t deviceType = answer[9];
        record[dmss::kInfoDeviceType] = deviceType > kLastDeviceType ? 0 : deviceType;
        record[dmss::kInfoSizeCode] = sizeCode >= kFirstUnknownSizeCode ? 0 : sizeCode;
        std::copy(kUnknownName.begin(), kUnknownName.end(), record.begin() + dmss::kInfoMakerName);
        std::copy(kUnknownName.begin(), kUnknownName.end(), record.begin() + dmss::kInfoPartName);
        return true;
    }

    // Length byte, then that many characters; the record keeps the count actually received.
    static void StoreVersion(link::CPacket& packet, Bytes answer) {
        const auto record = packet.Response();
        const std::size_t length = wire::ReadU8(answer, 1).value_or(0);
        const Bytes text = answer.size() > 2 ? answer.subspan(2) : Bytes{};
        const std::size_t count = std::min({length, text.size(), record.size() - 2});
        record[1] = static_cast<std::uint8_t>(count);
        std::copy_n(text.begin(), count, record.begin() + 2);
    }
};

}  // namespace

std::uint32_t dmss::FlashSizeForCode(std::uint8_t code) {
    switch (code) {
        case 1:
            return 0x80000;
        case 2:
        case 3:
            return 0x100000;
        case 4:
            return 0x200000;
        case 5:
            return 0x400000;
        case 6:
            return 0x800000;
        default:
            return 0;
    }
}

const link::PacketProtocol& DmssProtocol() {
    static const DmssProtocolImpl protocol;
    return protocol;
}

std::string_view DmssNakText(std::uint16_t reason) {
    if (reason == 0 || reason > kNakTexts.size()) {
        return {};
    }
    return kNakTexts[reason - 1U];
}

}  // namespace tapfix::device
