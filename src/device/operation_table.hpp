#pragma once

#include <span>

#include "link/packet.hpp"

// The port operations the download session calls by number.
namespace tapfix::device {

using DeviceOperation = bool (*)(link::CPacket& packet);

struct DeviceOperationEntry {
    int number;
    DeviceOperation operation;
};

std::span<const DeviceOperationEntry> DeviceOperationTable();

// Runs operation `number` on the packet; false also when no operation has that number.
bool RunDeviceOperation(int number, link::CPacket& packet);

}  // namespace tapfix::device
