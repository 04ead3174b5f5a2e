#include "device/command_pattern.hpp"

#include <algorithm>

#include "link/wire.hpp"

namespace tapfix::device {
namespace {

template <typename Value>
std::optional<Value> Present(link::CPacket& packet, std::optional<Value> value) {
    if (!value) {
        packet.SetLastError(texts::kShortAnswer);
    }
    return value;
}

}  // namespace

bool WrapFailure(link::CPacket& packet, bool ok, std::string_view failure, long number) {
    if (ok || failure.empty()) {
        return ok;
    }
    return packet.FailWith(failure, number);
}

bool ExchangeDiag(link::CPacket& packet, ConstBytes record, ExchangePlan plan,
                  std::string_view failure, long number) {
    packet.ResetBuffers();
    packet.SetMode(link::MODE_DIAG);
    if (record.size() > packet.Request().size()) {
        packet.SetLastError(texts::kRequestTooLong);
        return WrapFailure(packet, false, failure, number);
    }
    std::copy(record.begin(), record.end(), packet.Request().begin());
    return WrapFailure(packet, packet.Transact(plan.attempts, plan.timeoutMs), failure, number);
}

bool ExchangeRaw(link::CPacket& packet, ConstBytes payload, ExchangePlan plan,
                 std::string_view failure) {
    packet.ResetBuffers();
    packet.SetMode(link::MODE_RAW);
    if (!packet.SetRawPayload(payload)) {
        packet.SetLastError(texts::kRequestTooLong);
        return WrapFailure(packet, false, failure);
    }
    return WrapFailure(packet, packet.Transact(plan.attempts, plan.timeoutMs), failure);
}

bool AnswerAccepted(link::CPacket& packet, ConstBytes echo, std::size_t statusOffset) {
    const ConstBytes answer = Answer(packet);
    const std::size_t compared = std::min(answer.size(), echo.size());
    if (!std::equal(echo.begin(), echo.begin() + static_cast<std::ptrdiff_t>(compared),
                    answer.begin())) {
        return false;
    }
    if (answer.size() < echo.size()) {
        packet.SetLastError(texts::kShortAnswer);
        return false;
    }
    const std::optional<std::uint8_t> status = AnswerU8(packet, statusOffset);
    return status == 0;
}

std::optional<std::uint8_t> AnswerU8(link::CPacket& packet, std::size_t offset) {
    return Present(packet, wire::ReadU8(Answer(packet), offset));
}

std::optional<std::uint16_t> AnswerLe16(link::CPacket& packet, std::size_t offset) {
    return Present(packet, wire::ReadLe16(Answer(packet), offset));
}

std::optional<std::uint32_t> AnswerLe32(link::CPacket& packet, std::size_t offset) {
    return Present(packet, wire::ReadLe32(Answer(packet), offset));
}

std::optional<ConstBytes> AnswerBytes(link::CPacket& packet, std::size_t offset,
                                      std::size_t count) {
    const ConstBytes answer = Answer(packet);
    if (offset > answer.size() || answer.size() - offset < count) {
        packet.SetLastError(texts::kShortAnswer);
        return std::nullopt;
    }
    return answer.subspan(offset, count);
}

}  // namespace tapfix::device
