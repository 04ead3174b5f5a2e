#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "link/serial.hpp"

namespace tapfix::link {

enum PacketMode : int { MODE_DIAG = 0, MODE_DMSS = 1, MODE_STREAM = 2, MODE_RAW = 3 };

class CPacket;

// The seam between the link and a command set: one protocol per framed packet mode
// (DIAG, boot loader, streaming). The link frames, sends, receives and checks; the
// protocol lays out requests and reads answers.
class PacketProtocol {
  public:
    virtual ~PacketProtocol() = default;
    // Appends the request record's bytes to the transmit buffer (CPacket::AppendPayload).
    virtual void BuildPayload(CPacket& packet, std::uint8_t argument) const = 0;
    // Reads the good single answer (CPacket::DecodedPayload) into the response record.
    virtual bool ParseResponse(CPacket& packet) const = 0;
    // One good frame of a multi-frame answer; false marks the parse failed.
    virtual bool HandleFrame(CPacket& packet, std::span<const std::uint8_t> frame) const;
};

// Link texts, exactly as they reach the logs.
namespace texts {
inline constexpr std::string_view kCannotSend = "Port Cannot Send desired data to the Phone";
inline constexpr std::string_view kCannotReceive =
    "Port Cannot Receive Desired Data from the Phone";
inline constexpr std::string_view kReceiveFailed = "The Received Data from the Phone is failed";
inline constexpr std::string_view kNoEndFlag = "the Received Data is Wrong without End Flag(0x7e)";
inline constexpr std::string_view kWrongCrc = "the Received Data is Wrong with Wrong CRC Checksum";
inline constexpr std::string_view kFrameCrc = "the Received Data is Wrong with CRC Checksum";
}  // namespace texts

// The reason a DIAG device gives by answering with an error code instead of the request's code.
std::string_view DiagErrorText(std::uint8_t responseCode);

// The link to one device port: buffers, framing with CRC-16, and the exchange routines.
// Command operations fill the request record, pick a mode and call an exchange.
class CPacket : public CSerial {
  public:
    static constexpr std::size_t kRequestCapacity = 1288;
    static constexpr std::size_t kResponseCapacity = 1036;
    static constexpr std::size_t kCommandDataCapacity = 1024;
    // What one read or one answer may hold.
    static constexpr std::size_t kReceiveData = 1024;
    // The largest payload: a request record; stuffed worst case doubles it and its FCS.
    static constexpr std::size_t kMaxPayload = kRequestCapacity + kCommandDataCapacity;
    static constexpr std::size_t kTransmitCapacity = 2 * (kMaxPayload + 2) + 2;
    // Room for the opening flag the decoder inserts in front of a full read.
    static constexpr std::size_t kReceiveCapacity = kReceiveData + 1;
    // One 1,024-byte read holds at most 113 block-written frames of 9 bytes.
    static constexpr std::size_t kAckCapacity = 128;
    static constexpr std::size_t kHelloCapacity = 100;
    static constexpr std::uint8_t kFlag = 0x7E;
    static constexpr std::uint8_t kEscape = 0x7D;

    CPacket();
    ~CPacket() override;

    // Installs the command set for a framed mode; the link holds no ownership.
    void SetProtocol(PacketMode mode, const PacketProtocol* protocol);

    // --- link routines ---
    void ResetBuffers();
    std::size_t BuildFrame(std::uint8_t argument);
    bool DecodeFrame();
    bool ParseFrames();
    bool Transact(std::uint8_t attempts, std::uint32_t timeoutMs);
    bool TransactStream(std::uint32_t timeoutMs);
    bool SendOnly(std::uint8_t code, std::uint32_t value);
    bool ReceiveFrame();
    // One read of what is waiting, behind the unfinished frame the last drain kept; the whole
    // frames are parsed as ParseFrames does and an unfinished last one is kept for the next
    // drain. True when nothing was read or every whole frame was good.
    bool DrainFrames();
    // Writes the transmit buffer as it stands (a frame built elsewhere); false on a short write.
    bool SendTransmitBuffer();
    // Writes the transmit buffer behind what was written before, purging nothing: the answers
    // to earlier writes that are still arriving stay readable (pipelined writes).
    bool QueueTransmitBuffer();
    // Purges both directions and writes bytes as they are (raw transfer blocks, Sahara data);
    // a short write sets the send-failure text.
    bool WriteRaw(std::span<const std::uint8_t> bytes);
    // One read of what is waiting, at most a receive buffer full, into the receive buffer.
    std::size_t ReadWaiting();

    // --- state the command set works on ---
    PacketMode Mode() const { return mode_; }
    void SetMode(PacketMode mode) { mode_ = mode; }
    std::span<std::uint8_t, kRequestCapacity> Request() { return request_; }
    std::span<std::uint8_t, kResponseCapacity> Response() { return response_; }
    std::span<const std::uint8_t, kResponseCapacity> Response() const { return response_; }

    std::span<std::uint8_t, kCommandDataCapacity> CommandData() { return commandData_; }
    std::size_t CommandDataLength() const { return commandDataLength_; }
    // Copies data into the command data; false (and nothing copied) when it does not fit.
    bool SetCommandData(std::span<const std::uint8_t> data);

    // Appends to the unframed payload in the transmit buffer; false when it would not fit.
    bool AppendPayload(std::span<const std::uint8_t> bytes);
    bool AppendPayloadByte(std::uint8_t byte) { return AppendPayload({&byte, 1}); }
    // MODE_RAW: the caller's payload, framed as it stands by the next exchange.
    bool SetRawPayload(std::span<const std::uint8_t> payload);
    // The unframed payload; framing leaves it as it is, so a frame can be built again.
    std::span<const std::uint8_t> PayloadBytes() const { return {payload_.data(), payloadLength_}; }
    // The last frame built.
    std::span<const std::uint8_t> TransmitBytes() const {
        return {transmit_.data(), transmitLength_};
    }

    // Puts bytes into the receive buffer as if read from the port (replay, fuzzing);
    // false when they exceed one read.
    bool LoadReceiveBuffer(std::span<const std::uint8_t> bytes);
    std::span<const std::uint8_t> ReceivedBytes() const {
        return {receive_.data(), receiveLength_};
    }
    std::size_t RawReceiveLength() const { return rawReceiveLength_; }
    std::size_t DecodedLength() const { return decodedLength_; }
    // The last good payload without its FCS.
    std::span<const std::uint8_t> DecodedPayload() const;

    std::span<const std::uint32_t> AckedAddresses() const { return {acked_.data(), ackedCount_}; }
    bool AppendAckedAddress(std::uint32_t address);
    void ClearAckedAddresses() { ackedCount_ = 0; }

    std::uint32_t OverrideFlag() const { return overrideFlag_; }
    void SetOverrideFlag(std::uint32_t flag) { overrideFlag_ = flag; }
    // The 32-bit value of the extension requests, most significant byte first.
    std::span<const std::uint8_t, 4> ExtensionValue() const { return extensionValue_; }
    std::span<std::uint8_t, kHelloCapacity> HelloText() { return helloText_; }
    std::size_t HelloLength() const { return helloLength_; }
    void SetHelloLength(std::size_t length) { helloLength_ = std::min(length, kHelloCapacity); }

    const std::string& LastError() const { return lastError_; }
    void SetLastError(std::string_view text) { lastError_ = text; }
    // The command operations' failure form: LastError becomes `format` with its "%s" filled
    // with the previous LastError and its "%d" with `number`. Always returns false.
    bool FailWith(std::string_view format, long number = 0);

  private:
    enum class AttemptOutcome { Done, Failed };
    enum class InputProgress { Nothing, FrameStarted, Answer, AnswerAndMore, Flood };

    const PacketProtocol* ProtocolFor(PacketMode mode) const;
    void InsertOpeningFlagIfMissing();
    AttemptOutcome RunAttempt(std::chrono::milliseconds timeout);
    static InputProgress ProgressOf(std::span<const std::uint8_t> waiting);
    // Waits until one whole answer frame is waiting, or bytes behind one settle, or the time-out
    // passes; returns the count waiting then (0 when no frame had started by the time-out).
    std::size_t AwaitAnswer(std::chrono::milliseconds timeout, std::chrono::milliseconds settle,
                            bool* timedOut);
    std::chrono::milliseconds SettleInterval() const;
    // Writes all of `bytes`; a short write sets the send-failure text.
    bool WriteWhole(std::span<const std::uint8_t> bytes);
    // Reads `count` waiting bytes, at most one receive buffer full, into the receive buffer.
    std::size_t ReadAnswer(std::size_t count);
    bool ParseOneFrame(std::size_t begin, std::size_t end);
    bool MoveStagedIntoFrame();

    PacketMode mode_ = MODE_DIAG;
    std::array<const PacketProtocol*, 3> protocols_{};

    std::array<std::uint8_t, kRequestCapacity> request_{};
    std::array<std::uint8_t, kResponseCapacity> response_{};
    std::array<std::uint8_t, kCommandDataCapacity> commandData_{};
    std::size_t commandDataLength_ = 0;

    std::array<std::uint8_t, kMaxPayload + 2> payload_{};
    std::size_t payloadLength_ = 0;
    std::array<std::uint8_t, kTransmitCapacity> transmit_{};
    std::size_t transmitLength_ = 0;
    std::array<std::uint8_t, kReceiveCapacity> receive_{};
    std::size_t receiveLength_ = 0;
    std::size_t rawReceiveLength_ = 0;
    std::size_t decodedLength_ = 0;

    std::array<std::uint8_t, kReceiveData> staging_{};
    std::size_t stagingCount_ = 0;
    std::size_t stagingPosition_ = 0;
    bool carryingPartialFrame_ = false;

    std::array<std::uint32_t, kAckCapacity> acked_{};
    std::size_t ackedCount_ = 0;
    // Whole frames the last ParseFrames met, good or bad, and where a frame it left open began.
    std::size_t framesParsed_ = 0;
    std::size_t unfinishedFrom_ = 0;

    std::uint32_t overrideFlag_ = 0;
    std::array<std::uint8_t, 4> extensionValue_{};
    std::array<std::uint8_t, kHelloCapacity> helloText_{};
    std::size_t helloLength_ = 0;

    std::string lastError_;
};

}  // namespace tapfix::link
