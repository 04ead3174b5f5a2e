#include "device/diag_protocol.hpp"

#include <algorithm>
#include <optional>

#include "device/command_pattern.hpp"
#include "link/wire.hpp"

namespace tapfix::device {
namespace {

using namespace diag;

constexpr std::array<std::uint8_t, 4> kSubsystemRequest{kSubsystem, 0x04, 0x0E, 0x00};
// Answer offsets of the NV item fields: code, item, data, status.
constexpr std::size_t kAnswerItemData = 3;
constexpr std::size_t kAnswerNvStatus = kAnswerItemData + kNvItemSize;
constexpr std::size_t kNvAnswerLength = kAnswerNvStatus + 2;

// One text of the version answer: its length and whether the device may follow it with a zero.
struct VersionTextField {
    std::uint8_t length;
    bool zeroMayFollow;
};

// The device sends as many version texts as its firmware knows; only the raw length of the
// answer tells which layout it used.
struct VersionLayout {
    std::size_t minimumRawLength;
    std::size_t count;
    std::array<VersionTextField, kVersionTexts> texts;
};

constexpr VersionTextField kFullText{kVersionTextLength, true};
constexpr std::array<VersionLayout, 4> kVersionLayouts{{
    {291,
     9,
     {kFullText, kFullText, kFullText, kFullText, kFullText, kFullText, kFullText, kFullText,
      kFullText}},
    {241,
     8,
     {kFullText, kFullText, kFullText, kFullText, kFullText, kFullText, kFullText, kFullText}},
    {131, 4, {kFullText, kFullText, kFullText, kFullText}},
    {0,
     4,
     {VersionTextField{22, false}, VersionTextField{22, false}, VersionTextField{25, true},
      VersionTextField{25, true}}},
}};

// Walks an answer field by field without ever passing its end.
class FieldReader {
  public:
    explicit FieldReader(ConstBytes data, std::size_t position)
        : data_(data), position_(position) {}

    std::size_t Remaining() const { return data_.size() - std::min(position_, data_.size()); }

    // Copies up to out.size() bytes, fewer when the answer ends first.
    void TakeInto(std::span<std::uint8_t> out) {
        const std::size_t count = std::min(out.size(), Remaining());
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(position_), count, out.begin());
        position_ += count;
    }

    void SkipZero() {
        if (Remaining() > 0 && data_[position_] == 0) {
            ++position_;
        }
    }

  private:
    ConstBytes data_;
    std::size_t position_;
};

const VersionLayout& LayoutForRawLength(std::size_t rawLength) {
    for (const VersionLayout& layout : kVersionLayouts) {
        if (rawLength >= layout.minimumRawLength) {
            return layout;
        }
    }
    return kVersionLayouts.back();
}

bool Short(link::CPacket& packet) {
    packet.SetLastError(texts::kShortAnswer);
    return false;
}

// The layout's texts must be complete; the date and time fields behind them are taken as far
// as the answer goes, since the raw length that chose the layout also counts stuffing.
bool ParseVersion(link::CPacket& packet, ConstBytes answer) {
    const std::span<std::uint8_t> record = packet.Response().first(kVersionRecordSize);
    std::fill(record.begin() + 1, record.end(), 0);
    const VersionLayout& layout = LayoutForRawLength(packet.RawReceiveLength());
    FieldReader reader(answer, 1);
    for (std::size_t k = 0; k < layout.count; ++k) {
        const VersionTextField field = layout.texts[k];
        if (reader.Remaining() < field.length) {
            return Short(packet);
        }
        reader.TakeInto(record.subspan(kVersionFirstSlot + k * kVersionSlot, field.length));
        if (field.zeroMayFollow) {
            reader.SkipZero();
        }
    }
    reader.TakeInto(record.subspan(kVersionDateField, kVersionDateLength));
    reader.SkipZero();
    reader.TakeInto(record.subspan(kVersionTimeField, kVersionTimeLength));
    return true;
}

bool ParseNvItem(link::CPacket& packet, ConstBytes answer) {
    if (answer.size() < kNvAnswerLength) {
        return Short(packet);
    }
    const std::span<std::uint8_t> response = packet.Response();
    wire::WriteLe16(response, kResponseWord, *wire::ReadLe16(answer, 1));
    std::copy_n(answer.begin() + kAnswerItemData, kNvItemSize,
                response.begin() + kResponseItemData);
    wire::WriteLe16(response, kResponseNvStatus, *wire::ReadLe16(answer, kAnswerNvStatus));
    return true;
}

class Diag final : public link::PacketProtocol {
  public:
    void BuildPayload(link::CPacket& packet, std::uint8_t /*argument*/) const override {
        const std::span<const std::uint8_t> record = packet.Request();
        const std::uint8_t code = record[0];
        switch (code) {
            case kEsn:
            case kProbe:
            case kSoftwareVersion:
            case kDownloader:
                packet.AppendPayloadByte(code);
                return;
            case kNvRead:
            case kNvWrite:
                packet.AppendPayloadByte(code);
                packet.AppendPayload(record.subspan(kRecordWord, 2));
                packet.AppendPayload(record.subspan(kRecordItemData, kNvItemSize));
                packet.AppendPayload(record.subspan(kRecordNvStatus, 2));
                return;
            case kModeChange:
                packet.AppendPayloadByte(code);
                packet.AppendPayload(record.subspan(kRecordWord, 2));
                return;
            case kSpc:
                packet.AppendPayloadByte(code);
                packet.AppendPayload(record.subspan(kRecordSpc, kSpcLength));
                return;
            case kSubsystem:
                packet.AppendPayload(kSubsystemRequest);
                return;
            default:
                return;
        }
    }

    bool ParseResponse(link::CPacket& packet) const override {
        const ConstBytes answer = packet.DecodedPayload();
        if (answer.empty()) {
            return Short(packet);
        }
        const std::span<std::uint8_t> response = packet.Response();
        switch (answer[0]) {
            case kEsn: {
                const std::optional<std::uint32_t> esn = wire::ReadLe32(answer, 1);
                return esn ? wire::WriteLe32(response, kResponseEsn, *esn) : Short(packet);
            }
            case kNvRead:
            case kNvWrite:
                return ParseNvItem(packet, answer);
            case kModeChange:
                wire::WriteLe16(response, kResponseWord, wire::ReadLe16(answer, 1).value_or(0));
                return true;
            case kSoftwareVersion:
                return ParseVersion(packet, answer);
            case kSubsystem:
                wire::WriteLe16(response, kResponseSubsystemValue,
                                wire::ReadU8(answer, 4).value_or(0));
                return true;
            default:
                return true;
        }
    }
};

}  // namespace

const link::PacketProtocol& DiagProtocol() {
    static const Diag protocol;
    return protocol;
}

std::string_view VersionText(const VersionRecord& record, std::size_t k) {
    if (k >= kVersionTexts) {
        return {};
    }
    const auto* slot =
        reinterpret_cast<const char*>(record.data() + kVersionFirstSlot + k * kVersionSlot);
    return {slot,
            static_cast<std::size_t>(std::find(slot, slot + kVersionTextLength, '\0') - slot)};
}

std::string_view NvStatusText(std::uint16_t status) {
    static constexpr std::array<std::string_view, 11> kTexts{
        "",
        "Request is queued",
        "Unrecognizable command field",
        "The NVM is full",
        "Command failed, reason other than NVM was full",
        "Variable was not active",
        "Bad parameter in command block",
        "Parameter is write-protected and thus read only",
        "Item not valid for Target",
        "free memory exhausted",
        "address is not a valid allocation ",
    };
    return status < kTexts.size() ? kTexts[status] : std::string_view{};
}

}  // namespace tapfix::device
