#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "link/packet.hpp"

// What every command operation does: fresh buffers, its request, one exchange, and on failure
// its own text around the link's reason. Also the checked reading of raw answers.
namespace tapfix::device {

using ByteVector = std::vector<std::uint8_t>;
using ConstBytes = std::span<const std::uint8_t>;

// Attempts and time-out (ms) handed to CPacket::Transact.
struct ExchangePlan {
    std::uint8_t attempts;
    std::uint32_t timeoutMs;
};

namespace texts {
inline constexpr std::string_view kShortAnswer = "the Answer from the Phone is too short";
inline constexpr std::string_view kTooMuchData =
    "the Answer from the Phone holds more data than was asked for";
inline constexpr std::string_view kRequestTooLong = "the Request does not fit into one packet";
}  // namespace texts

// `ok` as it is; a failure wraps the link's reason in a non-empty `failure` ("%s"; "%d"
// takes `number`), an empty one keeps the reason as it stands.
bool WrapFailure(link::CPacket& packet, bool ok, std::string_view failure, long number = 0);

// MODE_DIAG: the request record begins with `record`; the DIAG builder lays it out.
// On failure a non-empty `failure` wraps the reason ("%s"; "%d" takes `number`).
bool ExchangeDiag(link::CPacket& packet, ConstBytes record, ExchangePlan plan,
                  std::string_view failure = {}, long number = 0);
// MODE_RAW: `payload` goes out as it stands; the caller checks Answer().
bool ExchangeRaw(link::CPacket& packet, ConstBytes payload, ExchangePlan plan,
                 std::string_view failure = {});

// The last good answer without its FCS.
inline ConstBytes Answer(const link::CPacket& packet) {
    return packet.DecodedPayload();
}

inline bool BeginsWith(ConstBytes answer, ConstBytes prefix) {
    return answer.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), answer.begin());
}

// True when the answer begins with `echo` and has status 0 at `statusOffset`. An answer that
// ends before the status sets the short-answer reason; a mismatch leaves LastError alone.
bool AnswerAccepted(link::CPacket& packet, ConstBytes echo, std::size_t statusOffset = 4);

// Checked reads of the last answer; a missing field sets the short-answer reason.
std::optional<std::uint8_t> AnswerU8(link::CPacket& packet, std::size_t offset);
std::optional<std::uint16_t> AnswerLe16(link::CPacket& packet, std::size_t offset);
std::optional<std::uint32_t> AnswerLe32(link::CPacket& packet, std::size_t offset);
// `count` answer bytes from `offset`; empty (short-answer reason) when fewer are there.
std::optional<ConstBytes> AnswerBytes(link::CPacket& packet, std::size_t offset, std::size_t count);

}  // namespace tapfix::device
