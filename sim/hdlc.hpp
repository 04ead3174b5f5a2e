#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tapfix::sim {

using Bytes = std::vector<std::uint8_t>;

// The device end of the HDLC-like framing: collects request frames from bytes in any
// chunking. A frame ends at a 0x7E; an opening 0x7E (boot-loader and streaming hosts send
// one, DIAG hosts do not) and repeated flags are accepted as empty separators.
class Deframer {
  public:
    struct Frame {
        Bytes payload;  // without the FCS
        bool crcGood = false;
    };

    // The longest frame kept; longer input is dropped up to the next flag.
    static constexpr std::size_t kMaxFrame = 8192;

    void Push(std::span<const std::uint8_t> bytes);
    // The next complete frame, if any.
    std::optional<Frame> Next();
    // Bytes discarded because a frame grew past kMaxFrame (reset by reading).
    std::size_t TakeOverflow();

  private:
    Bytes current_;
    bool escaped_ = false;
    bool overflowing_ = false;
    std::size_t overflow_ = 0;
    std::vector<Frame> ready_;
};

enum class Opening { None, Flag };

// payload + FCS (low byte first), stuffed, closing flag; the FCS is inverted on request
// (a corrupted answer for fault injection).
Bytes EncodeFrame(std::span<const std::uint8_t> payload, Opening opening, bool corruptFcs = false);

}  // namespace tapfix::sim
