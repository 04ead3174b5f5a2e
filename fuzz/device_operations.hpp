#pragma once

#include <span>
#include <string_view>

#include "link/packet.hpp"

namespace tapfix::fuzz {

// One host operation as the session and the NV steps call it, with what it promises about
// its outputs whatever the device answered (a broken promise aborts).
struct DeviceOperation {
    std::string_view name;
    bool (*run)(link::CPacket& packet);
};

std::span<const DeviceOperation> DeviceOperations();
// The operation's place in the table, for seeds.
std::uint8_t DeviceOperationIndex(std::string_view name);

}  // namespace tapfix::fuzz
