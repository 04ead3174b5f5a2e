#include "link/packet.hpp"

#include <algorithm>
#include <cstring>

#include "link/crc16.hpp"
#include "platform/clock.hpp"

namespace tapfix::link {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kNvRead = 0x26;
constexpr std::uint8_t kNvWrite = 0x27;

bool IsFramedWithOpeningFlag(PacketMode mode) {
    return mode == MODE_DMSS || mode == MODE_STREAM;
}

// Unstuffs in place-safe fashion from src into dst; returns the count written.
std::size_t Unstuff(std::span<const std::uint8_t> src, std::span<std::uint8_t> dst) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < src.size() && out < dst.size(); ++i) {
        std::uint8_t byte = src[i];
        if (byte == CPacket::kEscape && i + 1 < src.size()) {
            byte = static_cast<std::uint8_t>(src[++i] ^ 0x20U);
        }
        dst[out++] = byte;
    }
    return out;
}

milliseconds Elapsed(Clock::time_point since) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - since);
}

}  // namespace

std::string_view DiagErrorText(std::uint8_t responseCode) {
    switch (responseCode) {
        case 0x13:
            return "Bad command";
        case 0x14:
            return "The Request packet has invalid or inconsistent parameters";
        case 0x15:
            return "The Request packet has an invalid length";
        case 0x18:
            return "the DMSS isn't in a particular mode";
        case 0x42:
            return "the correct SPC has not yet been entered to unlock service programming";
        case 0x47:
            return "the correct Security Password has not yet been entered to unlock the phone";
        default:
            return "unknow reason";
    }
}

bool PacketProtocol::HandleFrame(CPacket& /*packet*/,
                                 std::span<const std::uint8_t> /*frame*/) const {
    return true;
}

CPacket::CPacket() = default;
CPacket::~CPacket() = default;

void CPacket::SetProtocol(PacketMode mode, const PacketProtocol* protocol) {
    if (mode >= MODE_DIAG && mode < MODE_RAW) {
        protocols_[static_cast<std::size_t>(mode)] = protocol;
    }
}

const PacketProtocol* CPacket::ProtocolFor(PacketMode mode) const {
    if (mode >= MODE_DIAG && mode < MODE_RAW) {
        return protocols_[static_cast<std::size_t>(mode)];
    }
    return nullptr;
}

void CPacket::ResetBuffers() {
    commandDataLength_ = 0;
    commandData_.fill(0);
    receiveLength_ = 0;
    receive_.fill(0);
    payloadLength_ = 0;
    payload_.fill(0);
    transmitLength_ = 0;
    transmit_.fill(0);
    staging_.fill(0);
    stagingCount_ = 0;
    stagingPosition_ = 0;
    carryingPartialFrame_ = false;
}

bool CPacket::SetCommandData(std::span<const std::uint8_t> data) {
    if (data.size() > commandData_.size()) {
        return false;
    }
    std::copy(data.begin(), data.end(), commandData_.begin());
    commandDataLength_ = data.size();
    return true;
}

bool CPacket::AppendPayload(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxPayload - payloadLength_) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(),
              payload_.begin() + static_cast<std::ptrdiff_t>(payloadLength_));
    payloadLength_ += bytes.size();
    return true;
}

bool CPacket::LoadReceiveBuffer(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kReceiveData) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), receive_.begin());
    receiveLength_ = bytes.size();
    return true;
}

bool CPacket::SetRawPayload(std::span<const std::uint8_t> payload) {
    payloadLength_ = 0;
    return AppendPayload(payload);
}

std::span<const std::uint8_t> CPacket::DecodedPayload() const {
    const std::size_t length = std::min(decodedLength_, receive_.size());
    return {receive_.data(), length >= 2 ? length - 2 : 0};
}

bool CPacket::FailWith(std::string_view format, long number) {
    std::string text;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
            text += lastError_;
            ++i;
        } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'd') {
            text += std::to_string(number);
            ++i;
        } else {
            text += format[i];
        }
    }
    lastError_ = std::move(text);
    return false;
}

bool CPacket::AppendAckedAddress(std::uint32_t address) {
    if (ackedCount_ >= acked_.size()) {
        return false;
    }
    acked_[ackedCount_++] = address;
    return true;
}

std::size_t CPacket::BuildFrame(std::uint8_t argument) {
    if (mode_ != MODE_RAW) {
        payloadLength_ = 0;
        if (const PacketProtocol* protocol = ProtocolFor(mode_)) {
            protocol->BuildPayload(*this, argument);
        }
    }
    std::array<std::uint8_t, kMaxPayload + 2> body{};
    std::copy_n(payload_.begin(), payloadLength_, body.begin());
    std::size_t bodyLength = payloadLength_;
    const std::uint16_t fcs = Fcs16({body.data(), bodyLength});
    body[bodyLength++] = static_cast<std::uint8_t>(fcs & 0xFFU);
    body[bodyLength++] = static_cast<std::uint8_t>(fcs >> 8);

    std::size_t length = 0;
    if (IsFramedWithOpeningFlag(mode_)) {
        transmit_[length++] = kFlag;
    }
    for (std::size_t i = 0; i < bodyLength; ++i) {
        const std::uint8_t byte = body[i];
        if (byte == kFlag || byte == kEscape) {
            transmit_[length++] = kEscape;
            transmit_[length++] = static_cast<std::uint8_t>(byte ^ 0x20U);
        } else {
            transmit_[length++] = byte;
        }
    }
    transmit_[length++] = kFlag;
    transmitLength_ = length;
    return length;
}

// Answers may arrive without their opening flag; decoding then proceeds as if it were there.
void CPacket::InsertOpeningFlagIfMissing() {
    if (receiveLength_ > 0 && receive_[0] == kFlag) {
        return;
    }
    const std::size_t kept = std::min(receiveLength_, receive_.size() - 1);
    std::memmove(receive_.data() + 1, receive_.data(), kept);
    receive_[0] = kFlag;
    receiveLength_ = kept + 1;
}

bool CPacket::DecodeFrame() {
    rawReceiveLength_ = receiveLength_;
    std::size_t start = 0;
    if (IsFramedWithOpeningFlag(mode_)) {
        InsertOpeningFlagIfMissing();
        start = 1;
    }
    std::size_t length = receiveLength_;
    while (length >= start + 2 && receive_[length - 2] == kFlag) {
        --length;
    }
    // Flags ahead of the frame are fill, as repeated closing flags are.
    while (start > 0 && start + 1 < length && receive_[start] == kFlag) {
        ++start;
    }
    std::array<std::uint8_t, kReceiveCapacity> plain{};
    const std::size_t count =
        start < length ? Unstuff({receive_.data() + start, length - start}, plain) : 0;
    if (count == 0 || plain[count - 1] != kFlag) {
        lastError_ = texts::kNoEndFlag;
        return false;
    }
    const std::size_t payload = count - 1;
    std::copy_n(plain.begin(), payload, receive_.begin());
    std::fill(receive_.begin() + static_cast<std::ptrdiff_t>(payload), receive_.end(), 0);
    receiveLength_ = payload;
    if (!FcsIsGood({receive_.data(), payload})) {
        lastError_ = texts::kWrongCrc;
        return false;
    }
    decodedLength_ = payload;
    receiveLength_ = 0;  // from here on the parsers' read position
    response_[0] = receive_[0];
    if (mode_ == MODE_RAW) {
        return true;
    }
    const PacketProtocol* protocol = ProtocolFor(mode_);
    return protocol != nullptr && protocol->ParseResponse(*this);
}

bool CPacket::ParseOneFrame(std::size_t begin, std::size_t end) {
    std::array<std::uint8_t, kReceiveCapacity> plain{};
    const std::size_t count = Unstuff({receive_.data() + begin, end - begin}, plain);
    if (!FcsIsGood({plain.data(), count})) {
        lastError_ = texts::kFrameCrc;
        return false;
    }
    const PacketProtocol* protocol = ProtocolFor(mode_);
    return protocol == nullptr || protocol->HandleFrame(*this, {plain.data(), count - 2});
}

bool CPacket::ParseFrames() {
    ackedCount_ = 0;
    framesParsed_ = 0;
    InsertOpeningFlagIfMissing();
    bool allGood = true;
    bool open = false;
    std::size_t openedAt = 0;
    for (std::size_t i = 0; i < receiveLength_; ++i) {
        if (receive_[i] != kFlag) {
            continue;
        }
        if (!open) {
            open = true;
            openedAt = i;
            continue;
        }
        open = false;
        ++framesParsed_;
        if (!ParseOneFrame(openedAt + 1, i)) {
            allGood = false;
        }
    }
    unfinishedFrom_ = open ? openedAt : receiveLength_;
    return allGood;
}

bool CPacket::DrainFrames() {
    const std::size_t kept = carryingPartialFrame_ ? receiveLength_ : 0;
    carryingPartialFrame_ = false;
    const std::size_t read = Port().Read({receive_.data() + kept, kReceiveData - kept});
    receiveLength_ = kept + read;
    if (read == 0) {
        ackedCount_ = 0;
        carryingPartialFrame_ = kept > 0;
        return true;
    }
    const bool ok = ParseFrames();
    // The frame the read cut off is completed by the next drain instead of failing its CRC; one
    // that fills the buffer without ending is no frame of this protocol and is dropped.
    const std::size_t unfinished = receiveLength_ - unfinishedFrom_;
    if (unfinished > 0 && unfinished < kReceiveData) {
        std::memmove(receive_.data(), receive_.data() + unfinishedFrom_, unfinished);
        receiveLength_ = unfinished;
        carryingPartialFrame_ = true;
    }
    return ok;
}

milliseconds CPacket::SettleInterval() const {
    const bool nvItem = mode_ == MODE_DIAG && transmitLength_ > 0 &&
                        (transmit_[0] == kNvRead || transmit_[0] == kNvWrite);
    // The quiet that ends an answer is the wire's, not a wait of the device: it is never
    // scaled, so a scaled run does not read the two halves of a split answer as two answers.
    return milliseconds{nvItem ? 20 : 5};
}

// How far the waiting input has come as framed answers: flags alone are fill, a frame starts
// with its first other byte and ends with the next flag. More than one read holds is a flood.
CPacket::InputProgress CPacket::ProgressOf(std::span<const std::uint8_t> waiting) {
    if (waiting.size() > kReceiveData) {
        return InputProgress::Flood;
    }
    bool answered = false;
    bool open = false;
    for (const std::uint8_t byte : waiting) {
        if (byte != kFlag) {
            open = true;
        } else if (open) {
            answered = true;
            open = false;
        }
    }
    if (answered) {
        return open ? InputProgress::AnswerAndMore : InputProgress::Answer;
    }
    return open ? InputProgress::FrameStarted : InputProgress::Nothing;
}

std::size_t CPacket::AwaitAnswer(milliseconds timeout, milliseconds settle, bool* timedOut) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto waiting = Port().PeekWaiting();
        const std::size_t count = waiting.size();
        const InputProgress progress = ProgressOf(waiting);
        const bool answered =
            progress == InputProgress::Answer || progress == InputProgress::AnswerAndMore;
        // A whole frame needs no quiet interval to prove it complete; a flood is not waited out.
        if (progress == InputProgress::Answer || progress == InputProgress::Flood) {
            *timedOut = false;
            return count;
        }
        // Nothing more can come once the device has left: what arrived before is the answer.
        if (!IsPortOpen()) {
            *timedOut = count == 0;
            return count;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            *timedOut = !answered;
            // Flags alone are no answer; a frame cut off by the time-out is the caller's to judge.
            return progress == InputProgress::Nothing ? 0 : count;
        }
        if (!answered) {
            // A device may pause inside a frame for longer than any quiet interval: a started
            // frame, like silence, is waited for up to the exchange's own time-out.
            Port().WaitForMoreInput(count,
                                    std::chrono::duration_cast<milliseconds>(deadline - now));
            continue;
        }
        // Bytes behind a whole answer are complete once the input stops growing for one interval.
        if (!Port().WaitForMoreInput(count, settle)) {
            *timedOut = false;
            return Port().BytesWaiting();
        }
    }
}

bool CPacket::WriteRaw(std::span<const std::uint8_t> bytes) {
    Port().PurgeBuffers(platform::SerialPort::Purge::Both);
    return WriteWhole(bytes);
}

bool CPacket::WriteWhole(std::span<const std::uint8_t> bytes) {
    if (Port().Write(bytes) < bytes.size()) {
        lastError_ = texts::kCannotSend;
        return false;
    }
    return true;
}

bool CPacket::SendTransmitBuffer() {
    return WriteRaw(TransmitBytes());
}

bool CPacket::QueueTransmitBuffer() {
    return WriteWhole(TransmitBytes());
}

std::size_t CPacket::ReadWaiting() {
    return ReadAnswer(kReceiveData);
}

std::size_t CPacket::ReadAnswer(std::size_t count) {
    receiveLength_ = Port().Read({receive_.data(), std::min(count, kReceiveData)});
    return receiveLength_;
}

CPacket::AttemptOutcome CPacket::RunAttempt(milliseconds timeout) {
    if (!SendTransmitBuffer()) {
        return AttemptOutcome::Failed;
    }
    bool timedOut = false;
    const std::size_t waiting = AwaitAnswer(timeout, SettleInterval(), &timedOut);
    if (waiting == 0) {
        lastError_ = texts::kCannotReceive;
        return AttemptOutcome::Failed;
    }
    if (waiting > kReceiveData) {
        lastError_ = texts::kReceiveFailed;
        return AttemptOutcome::Failed;
    }
    ReadAnswer(waiting);
    if (mode_ == MODE_DIAG && (receiveLength_ == 0 || receive_[0] != request_[0])) {
        lastError_ = DiagErrorText(receiveLength_ == 0 ? 0 : receive_[0]);
        return AttemptOutcome::Failed;
    }
    return DecodeFrame() ? AttemptOutcome::Done : AttemptOutcome::Failed;
}

bool CPacket::Transact(std::uint8_t attempts, std::uint32_t timeoutMs) {
    if (attempts == 0) {
        return true;
    }
    BuildFrame(0);
    const milliseconds timeout = platform::ScaledTimeout(milliseconds{timeoutMs});
    for (std::uint8_t attempt = 0; attempt < attempts; ++attempt) {
        if (RunAttempt(timeout) == AttemptOutcome::Done) {
            return true;
        }
    }
    return false;
}

bool CPacket::TransactStream(std::uint32_t timeoutMs) {
    BuildFrame(0);
    if (!SendTransmitBuffer()) {
        return false;
    }
    const auto start = Clock::now();
    bool timedOut = false;
    const std::size_t waiting =
        AwaitAnswer(platform::ScaledTimeout(milliseconds{timeoutMs}), milliseconds{13}, &timedOut);
    lastError_ = "time is " + std::to_string(Elapsed(start).count()) + "(ms)";
    if (timedOut) {
        lastError_ = texts::kCannotReceive;
        return false;
    }
    ReadAnswer(waiting);
    if (!ParseFrames()) {
        return false;
    }
    // Bytes without one whole frame are no answer (a device that left mid-answer).
    if (framesParsed_ == 0) {
        lastError_ = texts::kCannotReceive;
        return false;
    }
    return true;
}

bool CPacket::SendOnly(std::uint8_t code, std::uint32_t value) {
    mode_ = MODE_STREAM;
    ResetBuffers();
    request_[0] = code;
    for (int i = 0; i < 4; ++i) {
        extensionValue_[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
    BuildFrame(1);
    return SendTransmitBuffer();
}

// Moves staged bytes onto the frame being collected; true when a frame is ready to parse.
bool CPacket::MoveStagedIntoFrame() {
    while (stagingPosition_ < stagingCount_) {
        const std::uint8_t byte = staging_[stagingPosition_++];
        if (stagingPosition_ == stagingCount_) {
            stagingCount_ = 0;
            stagingPosition_ = 0;
        }
        receive_[receiveLength_++] = byte;
        const bool closesFrame = byte == kFlag && receiveLength_ > 1;
        if (closesFrame || receiveLength_ == kReceiveData) {
            return true;
        }
    }
    return false;
}

bool CPacket::ReceiveFrame() {
    if (!carryingPartialFrame_) {
        receiveLength_ = 0;
    }
    carryingPartialFrame_ = false;
    if (stagingCount_ == 0) {
        stagingCount_ = Port().Read(staging_);
        stagingPosition_ = 0;
    }
    if (MoveStagedIntoFrame()) {
        return ParseFrames();
    }
    // A frame split across reads waits for its rest instead of failing its CRC.
    carryingPartialFrame_ = receiveLength_ > 0;
    ackedCount_ = 0;
    return true;
}

}  // namespace tapfix::link
