#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "device/diag_protocol.hpp"

// The NV item file ("Channel0.nv"): one fixed 136-byte record per backed-up item, in backup
// order, no header, little-endian: item number, 2 reserved bytes, the 128 data bytes, the
// status of the read, 2 reserved bytes.
namespace tapfix::nv {

inline constexpr std::size_t kNvRecordSize = 136;

// Items whose meaning the backup relies on: the barcode (its first 22 bytes), the IMEI.
inline constexpr std::uint16_t kBarcodeItem = 22;
inline constexpr std::size_t kBarcodeBytes = 22;
inline constexpr std::uint16_t kImeiItem = 550;
using NvRecordBytes = std::array<std::uint8_t, kNvRecordSize>;

struct NvRecord {
    std::uint16_t item = 0;
    device::NvItemData data{};
    // 0: read completed; the device's NV status when it refused; 0xFFFF: no valid answer.
    std::uint16_t status = 0;
};

NvRecordBytes EncodeNvRecord(const NvRecord& record);
// Nothing when the bytes are not exactly one record.
std::optional<NvRecord> DecodeNvRecord(std::span<const std::uint8_t> bytes);

// The name of an NV status in the backup's messages ("Variable was not active", ...).
std::string_view NvStatusName(std::uint16_t status);

}  // namespace tapfix::nv
