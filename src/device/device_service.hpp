#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "device/diag_protocol.hpp"
#include "device/nv_efs.hpp"
#include "link/packet.hpp"

namespace tapfix::device {

// The device as the rest of the program reaches it: one link per slot, operations by number
// and by slot. Slot operations answer 0 on success and -1 on failure (also for a bad slot);
// the link's LastError keeps the reason.
class CBIWcdmaQualcommService {
  public:
    static constexpr int kSlotCount = 8;
    static constexpr std::size_t kSlotDataSize = 256;

    struct SlotResult {
        std::uint8_t status = 0;
        std::array<std::uint8_t, kSlotDataSize> data{};
    };

    CBIWcdmaQualcommService();
    virtual ~CBIWcdmaQualcommService();
    CBIWcdmaQualcommService(const CBIWcdmaQualcommService&) = delete;
    CBIWcdmaQualcommService& operator=(const CBIWcdmaQualcommService&) = delete;

    // The slot's link, or nullptr for a slot outside 0..7.
    link::CPacket* Link(int slot);

    // Runs device operation `number` (0..13) on the slot's link.
    int RunSlotCommand(int number, int slot);

    int SlotEfsOpen(int slot, std::string_view path, EfsAccess access, std::uint32_t& descriptor);
    int SlotEfsRead(int slot, std::uint32_t descriptor, std::uint32_t offset,
                    std::span<std::uint8_t> data, std::uint32_t& bytesRead);
    int SlotEfsWrite(int slot, std::uint32_t offset, std::span<const std::uint8_t> data);
    int SlotEfsStat(int slot, std::string_view path, EfsStatResult& result);
    int SlotReadNvItem(int slot, std::uint16_t item, NvItemData& data, std::uint16_t& status);
    int SlotStreamHello(int slot, std::string& flashId);

    // Copies the code byte and the next 256 bytes of the slot link's last response.
    const SlotResult* CopySlotResult(int slot);

  private:
    template <typename Operation>
    int OnSlot(int slot, Operation&& operation);

    std::array<std::unique_ptr<link::CPacket>, kSlotCount> links_;
    std::array<SlotResult, kSlotCount> results_{};
};

}  // namespace tapfix::device
