#include "sim/diag_common.hpp"

#include <algorithm>
#include <cstdio>

namespace tapfix::sim::diag {

Bytes ErrorAnswer(std::uint8_t code, std::span<const std::uint8_t> request) {
    Bytes answer{code};
    answer.insert(answer.end(), request.begin(), request.end());
    return answer;
}

Bytes EchoOf(std::span<const std::uint8_t> request, std::size_t count) {
    return Bytes(request.begin(), request.begin() + std::min(count, request.size()));
}

std::string HexByte(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

bool ReadText(std::span<const std::uint8_t> request, std::size_t offset, std::string* text) {
    if (offset >= request.size()) {
        return false;
    }
    const auto begin = request.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto end = std::find(begin, request.end(), 0);
    if (end == request.end()) {
        return false;
    }
    text->assign(begin, end);
    return true;
}

}  // namespace tapfix::sim::diag
