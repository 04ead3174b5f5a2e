#include "device/device_service.hpp"

#include <algorithm>

#include "device/command_set.hpp"
#include "device/operation_table.hpp"
#include "device/stream_commands.hpp"

namespace tapfix::device {

CBIWcdmaQualcommService::CBIWcdmaQualcommService() {
    for (auto& link : links_) {
        link = std::make_unique<link::CPacket>();
        AttachCommandSet(*link);
    }
}

CBIWcdmaQualcommService::~CBIWcdmaQualcommService() = default;

link::CPacket* CBIWcdmaQualcommService::Link(int slot) {
    if (slot < 0 || slot >= kSlotCount) {
        return nullptr;
    }
    return links_[static_cast<std::size_t>(slot)].get();
}

template <typename Operation>
int CBIWcdmaQualcommService::OnSlot(int slot, Operation&& operation) {
    link::CPacket* packet = Link(slot);
    return packet != nullptr && operation(*packet) ? 0 : -1;
}

int CBIWcdmaQualcommService::RunSlotCommand(int number, int slot) {
    return OnSlot(slot,
                  [number](link::CPacket& packet) { return RunDeviceOperation(number, packet); });
}

int CBIWcdmaQualcommService::SlotEfsOpen(int slot, std::string_view path, EfsAccess access,
                                         std::uint32_t& descriptor) {
    return OnSlot(slot,
                  [&](link::CPacket& packet) { return EfsOpen(packet, path, access, descriptor); });
}

int CBIWcdmaQualcommService::SlotEfsRead(int slot, std::uint32_t descriptor, std::uint32_t offset,
                                         std::span<std::uint8_t> data, std::uint32_t& bytesRead) {
    return OnSlot(slot, [&](link::CPacket& packet) {
        return EfsRead(packet, descriptor, offset, data, bytesRead);
    });
}

int CBIWcdmaQualcommService::SlotEfsWrite(int slot, std::uint32_t offset,
                                          std::span<const std::uint8_t> data) {
    return OnSlot(slot, [&](link::CPacket& packet) { return EfsWrite(packet, offset, data); });
}

int CBIWcdmaQualcommService::SlotEfsStat(int slot, std::string_view path, EfsStatResult& result) {
    return OnSlot(slot, [&](link::CPacket& packet) { return EfsStat(packet, path, result); });
}

int CBIWcdmaQualcommService::SlotReadNvItem(int slot, std::uint16_t item, NvItemData& data,
                                            std::uint16_t& status) {
    return OnSlot(slot,
                  [&](link::CPacket& packet) { return ReadNvItem(packet, item, data, status); });
}

int CBIWcdmaQualcommService::SlotStreamHello(int slot, std::string& flashId) {
    return OnSlot(slot, [&](link::CPacket& packet) { return StreamHello(packet, flashId); });
}

const CBIWcdmaQualcommService::SlotResult* CBIWcdmaQualcommService::CopySlotResult(int slot) {
    link::CPacket* packet = Link(slot);
    if (packet == nullptr) {
        return nullptr;
    }
    SlotResult& result = results_[static_cast<std::size_t>(slot)];
    const auto response = packet->Response();
    result.status = response[0];
    std::copy_n(response.begin() + 1, kSlotDataSize, result.data.begin());
    return &result;
}

}  // namespace tapfix::device
