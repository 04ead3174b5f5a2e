#include "sim/hdlc.hpp"

#include <utility>

#include "link/crc16.hpp"

namespace tapfix::sim {
namespace {

constexpr std::uint8_t kFlag = 0x7E;
constexpr std::uint8_t kEscape = 0x7D;
constexpr std::uint8_t kEscapeMask = 0x20;
constexpr std::size_t kFcsSize = 2;

void AppendStuffed(Bytes& out, std::uint8_t byte) {
    if (byte == kFlag || byte == kEscape) {
        out.push_back(kEscape);
        out.push_back(static_cast<std::uint8_t>(byte ^ kEscapeMask));
    } else {
        out.push_back(byte);
    }
}

}  // namespace

void Deframer::Push(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) {
        if (byte == kFlag) {
            if (!overflowing_ && !current_.empty()) {
                Frame frame;
                frame.crcGood = current_.size() > kFcsSize && link::FcsIsGood(current_);
                current_.resize(current_.size() >= kFcsSize ? current_.size() - kFcsSize : 0);
                frame.payload = std::move(current_);
                ready_.push_back(std::move(frame));
            }
            current_.clear();
            escaped_ = false;
            overflowing_ = false;
            continue;
        }
        if (overflowing_ || current_.size() >= kMaxFrame) {
            overflowing_ = true;
            ++overflow_;
            continue;
        }
        if (byte == kEscape) {
            escaped_ = true;
            continue;
        }
        current_.push_back(escaped_ ? static_cast<std::uint8_t>(byte ^ kEscapeMask) : byte);
        escaped_ = false;
    }
}

std::optional<Deframer::Frame> Deframer::Next() {
    if (ready_.empty()) {
        return std::nullopt;
    }
    Frame frame = std::move(ready_.front());
    ready_.erase(ready_.begin());
    return frame;
}

std::size_t Deframer::TakeOverflow() {
    return std::exchange(overflow_, 0);
}

Bytes EncodeFrame(std::span<const std::uint8_t> payload, Opening opening, bool corruptFcs) {
    std::uint16_t fcs = link::Fcs16(payload);
    if (corruptFcs) {
        fcs = static_cast<std::uint16_t>(~fcs);
    }
    Bytes frame;
    frame.reserve(2 * (payload.size() + kFcsSize) + 2);
    if (opening == Opening::Flag) {
        frame.push_back(kFlag);
    }
    for (const std::uint8_t byte : payload) {
        AppendStuffed(frame, byte);
    }
    AppendStuffed(frame, static_cast<std::uint8_t>(fcs & 0xFF));
    AppendStuffed(frame, static_cast<std::uint8_t>(fcs >> 8));
    frame.push_back(kFlag);
    return frame;
}

}  // namespace tapfix::sim
