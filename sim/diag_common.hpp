#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "link/wire.hpp"
#include "sim/device_state.hpp"
#include "sim/mode_handler.hpp"

namespace tapfix::sim::diag {

// DIAG error answers: the code, then the request as it came.
inline constexpr std::uint8_t kBadCommand = 0x13;
inline constexpr std::uint8_t kBadParameters = 0x14;
inline constexpr std::uint8_t kBadLength = 0x15;
inline constexpr std::uint8_t kBadMode = 0x18;

inline constexpr std::uint8_t kSubsystemCommand = 0x4B;
inline constexpr std::size_t kSubsystemHeader = 4;

// One request being answered: its bytes, the trace record it fills, and the device.
struct Exchange {
    std::span<const std::uint8_t> request;
    nlohmann::json& trace;
    DeviceContext& context;

    DeviceState& State() { return context.State(); }
    void Name(const char* name) { trace["name"] = name; }
};

Bytes ErrorAnswer(std::uint8_t code, std::span<const std::uint8_t> request);
// The first `count` bytes of the request (the header an answer echoes).
Bytes EchoOf(std::span<const std::uint8_t> request, std::size_t count);
std::string HexByte(std::uint8_t value);
// A zero-terminated text starting at offset; false when no terminator lies within the request.
bool ReadText(std::span<const std::uint8_t> request, std::size_t offset, std::string* text);

}  // namespace tapfix::sim::diag
