#include "device/stream_protocol.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "device/loader_exchange.hpp"
#include "link/wire.hpp"

namespace tapfix::device {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::string_view kHostHello = "QCOM fast download protocol host";
constexpr std::uint8_t kProtocolVersion = 2;
constexpr std::uint8_t kCompatibleVersion = 2;
constexpr std::uint8_t kFeatureBits = 3;
constexpr std::uint8_t kNopArgument = 0x11;
// The hello answer: the flash identification's length, then its text.
constexpr std::size_t kHelloLengthOffset = 43;
constexpr std::size_t kHelloTextOffset = 44;

constexpr bool IsAcknowledgement(std::uint8_t code) {
    switch (code) {
        case 0x04:
        case 0x06:
        case 0x08:
        case 0x0A:
        case 0x0C:
        case 0x0E:
        case 0x10:
        case 0x12:
        case 0x14:
        case 0x16:
        case 0x18:
        case 0x1C:
        case stream::kHighSpeedAnswer:
        case stream::kChecksumAnswer:
            return true;
        default:
            return false;
    }
}

std::uint32_t ErrorCode(Bytes answer) {
    return wire::ReadLe32(answer, 1).value_or(0);
}

// Answer code and its next four bytes into response record bytes 0..4 (missing bytes as 0).
void StoreHead(link::CPacket& packet, Bytes answer) {
    const auto record = packet.Response();
    std::fill_n(record.begin(), 5, 0);
    std::copy_n(answer.begin(), std::min<std::size_t>(answer.size(), 5), record.begin());
}

void AppendOneByteRequest(link::CPacket& packet, std::uint8_t code) {
    const std::array<std::uint8_t, 2> payload{code, packet.Request()[loader::kArgumentOffset]};
    packet.AppendPayload(payload);
}

void AppendWithCommandData(link::CPacket& packet, std::uint8_t code, std::uint8_t argument) {
    const std::array<std::uint8_t, 2> head{code, argument};
    packet.AppendPayload(head);
    packet.AppendPayload(Bytes(packet.CommandData().data(), packet.CommandDataLength()));
}

void AppendHello(link::CPacket& packet) {
    packet.AppendPayloadByte(stream::kHello);
    packet.AppendPayload(
        Bytes(reinterpret_cast<const std::uint8_t*>(kHostHello.data()), kHostHello.size()));
    const std::array<std::uint8_t, 3> tail{kProtocolVersion, kCompatibleVersion, kFeatureBits};
    packet.AppendPayload(tail);
}

void AppendWrite(link::CPacket& packet) {
    std::array<std::uint8_t, 5> head{stream::kWrite};
    wire::WriteLe32(head, 1, loader::BlockAddress(packet));
    packet.AppendPayload(head);
    packet.AppendPayload(loader::BlockData(packet));
}

void AppendExtension(link::CPacket& packet, std::uint8_t code, std::uint8_t argument) {
    const std::array<std::uint8_t, 5> head{code, 0x01, 0x00, 0x00, 0x00};
    packet.AppendPayload(head);
    packet.AppendPayload(packet.ExtensionValue());
    packet.AppendPayloadByte(argument);
}

// The flash identification, cut to the hello text area and to what actually arrived.
void StoreHello(link::CPacket& packet, Bytes answer) {
    const std::size_t announced = wire::ReadU8(answer, kHelloLengthOffset).value_or(0);
    const Bytes text =
        answer.size() > kHelloTextOffset ? answer.subspan(kHelloTextOffset) : Bytes{};
    const std::size_t count = std::min({announced, text.size(), link::CPacket::kHelloCapacity});
    std::copy_n(text.begin(), count, packet.HelloText().begin());
    packet.SetHelloLength(count);
}

bool AcceptPartitionStatus(link::CPacket& packet, Bytes answer) {
    const std::uint8_t status = wire::ReadU8(answer, 1).value_or(0xFF);
    if (status == 0) {
        packet.SetOverrideFlag(0);
        return true;
    }
    if (status == 1) {
        // The device holds a different table and replaces it only when told to override.
        packet.SetOverrideFlag(1);
        packet.SetLastError("the device keeps its partition table unless overridden");
        return false;
    }
    packet.SetLastError("the partition table was refused with status " + std::to_string(status));
    return false;
}

bool RejectUnexpected(link::CPacket& packet, Bytes answer) {
    char text[48];
    std::snprintf(text, sizeof text, "unexpected answer code 0x%02X",
                  answer.empty() ? 0U : static_cast<unsigned>(answer[0]));
    packet.SetLastError(text);
    return false;
}

class StreamProtocolImpl final : public link::PacketProtocol {
  public:
    void BuildPayload(link::CPacket& packet, std::uint8_t argument) const override {
        const std::uint8_t code = packet.Request()[0];
        switch (code) {
            case stream::kHello:
                AppendHello(packet);
                break;
            case stream::kWrite:
                AppendWrite(packet);
                break;
            case stream::kNop: {
                const std::array<std::uint8_t, 2> payload{stream::kNop, kNopArgument};
                packet.AppendPayload(payload);
                break;
            }
            case stream::kReset:
            case stream::kClose:
                packet.AppendPayloadByte(code);
                break;
            case stream::kSecurityMode:
                AppendOneByteRequest(packet, code);
                break;
            case stream::kPartitionTable:
                AppendWithCommandData(packet, code, packet.OverrideFlag() != 0 ? 1 : 0);
                break;
            case stream::kOpenMultiImage:
                AppendWithCommandData(packet, code, packet.Request()[loader::kArgumentOffset]);
                break;
            case stream::kHighSpeedTransfer:
            case stream::kChecksumTransfer:
                AppendExtension(packet, code, argument);
                break;
            default:
                break;
        }
    }

    bool ParseResponse(link::CPacket& packet) const override {
        const Bytes answer = packet.DecodedPayload();
        const std::uint8_t code = answer.empty() ? 0 : answer[0];
        if (code == stream::kHelloAnswer) {
            StoreHello(packet, answer);
            return true;
        }
        if (IsAcknowledgement(code)) {
            return true;
        }
        if (code == stream::kError) {
            StoreHead(packet, answer);
            packet.SetLastError(StreamErrorText(ErrorCode(answer)));
            return false;
        }
        if (code == stream::kPartitionTableAnswer) {
            return AcceptPartitionStatus(packet, answer);
        }
        return RejectUnexpected(packet, answer);
    }

    bool HandleFrame(link::CPacket& packet, Bytes frame) const override {
        const std::uint8_t code = frame.empty() ? 0 : frame[0];
        switch (code) {
            case stream::kBlockWritten:
                return CollectAddress(packet, frame);
            case stream::kError:
                packet.SetLastError(StreamErrorText(ErrorCode(frame)));
                return false;
            case stream::kHighSpeedAnswer:
            case stream::kChecksumAnswer:
                StoreHead(packet, frame);
                return true;
            default:
                return true;
        }
    }

  private:
    static bool CollectAddress(link::CPacket& packet, Bytes frame) {
        const auto address = wire::ReadLe32(frame, 1);
        if (!address) {
            packet.SetLastError("a block-written answer without its address");
            return false;
        }
        if (!packet.AppendAckedAddress(*address)) {
            packet.SetLastError("more block-written answers than the list holds");
            return false;
        }
        return true;
    }
};

}  // namespace

const link::PacketProtocol& StreamProtocol() {
    static const StreamProtocolImpl protocol;
    return protocol;
}

std::string_view StreamErrorText(std::uint32_t code) {
    switch (code) {
        case 2:
            return "Invalid destination address";
        case 3:
            return "Invalid length";
        case 4:
            return "Unexpected end of packet";
        case 5:
            return "Invalid Command";
        case 7:
            return "Operation failed";
        case 8:
            return "Wrong Flash Intelligent ID";
        case 9:
            return "Bad programming voltage";
        case 10:
            return "Write-verify failed";
        case 12:
            return "Incorrect security code";
        case 13:
            return "Cannot power down phone";
        case 14:
            return "NAND flash programming not supported";
        case 15:
            return "Command out of sequence";
        case 16:
            return "Close did not succeed";
        case 17:
            return "Incompatible feature bits";
        case 18:
            return "Out of space";
        default:
            return "Illegal reason";
    }
}

}  // namespace tapfix::device
