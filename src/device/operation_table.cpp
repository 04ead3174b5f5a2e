#include "device/operation_table.hpp"

#include <algorithm>
#include <array>

#include "device/diag_commands.hpp"
#include "device/dmss_commands.hpp"
#include "device/stream_commands.hpp"

namespace tapfix::device {
namespace {

constexpr std::array kOperations{
    DeviceOperationEntry{0, [](link::CPacket& packet) { return packet.ClosePort(); }},
    DeviceOperationEntry{1, [](link::CPacket& packet) { return packet.IsPortOpen(); }},
    DeviceOperationEntry{2, ProbeDiag},
    DeviceOperationEntry{3, SwitchToDownloader},
    DeviceOperationEntry{4, SendSubsysCmd},
    DeviceOperationEntry{5, [](link::CPacket& packet) { return SendSpc(packet); }},
    DeviceOperationEntry{6, StreamReset},
    DeviceOperationEntry{7, StreamNop},
    DeviceOperationEntry{8, SetSpecialDlMode2},
    DeviceOperationEntry{9, SetPhoneOffline},
    DeviceOperationEntry{10, StreamClose},
    DeviceOperationEntry{11, DrainStreamAnswers},
    DeviceOperationEntry{12, DmssNop},
    DeviceOperationEntry{13, ResetPhone},
};

}  // namespace

std::span<const DeviceOperationEntry> DeviceOperationTable() {
    return kOperations;
}

bool RunDeviceOperation(int number, link::CPacket& packet) {
    const auto entry = std::find_if(
        kOperations.begin(), kOperations.end(),
        [number](const DeviceOperationEntry& candidate) { return candidate.number == number; });
    return entry != kOperations.end() && entry->operation(packet);
}

}  // namespace tapfix::device
