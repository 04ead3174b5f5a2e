#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "device/diag_protocol.hpp"
#include "link/packet.hpp"

// NV items (DIAG) and the device's EFS2 file system (raw subsystem requests). Every operation
// returns false on failure; a text of its own, where it has one, is in packet.LastError().
namespace tapfix::device {

// The NV status handed back when no answer arrived.
inline constexpr std::uint16_t kNvStatusNoAnswer = 0xFFFF;
inline constexpr std::uint16_t kImeiItem = 550;
inline constexpr std::size_t kImeiDigits = 15;
using ImeiText = std::array<char, kImeiDigits + 1>;

// On failure `data` is zero-filled; `status` is the device's NV status or kNvStatusNoAnswer.
bool ReadNvItem(link::CPacket& packet, std::uint16_t item, NvItemData& data, std::uint16_t& status);
bool WriteNvItem(link::CPacket& packet, std::uint16_t item, const NvItemData& data,
                 std::uint16_t& status);
// The 15 IMEI digits from NV item 550, zero-terminated; all zero on failure, when `status`
// tells how the read ended (as ReadNvItem's).
bool GetImei(link::CPacket& packet, ImeiText& imei, std::uint16_t& status);
// The 15 IMEI digits NV item 550's data holds.
ImeiText DecodeImei(const NvItemData& item);
bool GetImei(link::CPacket& packet, ImeiText& imei);

// Paths travel zero-terminated; one that needs more bytes than this is refused unsent.
inline constexpr std::size_t kEfsPathCapacity = 60;

enum class EfsAccess { Read, Write };
enum class EfsVolume { Main = 0, Alternate = 2 };

struct EfsStatResult {
    std::uint32_t errorNumber = 0;
    std::uint32_t mode = 0;
    std::uint32_t size = 0;
};

// The program keeps one file open at a time, as descriptor 0.
bool EfsOpen(link::CPacket& packet, std::string_view path, EfsAccess access,
             std::uint32_t& descriptor, EfsVolume volume = EfsVolume::Main);
bool EfsClose(link::CPacket& packet);
// Asks for data.size() bytes at `offset`; `bytesRead` of them arrive at the front of `data`.
bool EfsRead(link::CPacket& packet, std::uint32_t descriptor, std::uint32_t offset,
             std::span<std::uint8_t> data, std::uint32_t& bytesRead);
bool EfsWrite(link::CPacket& packet, std::uint32_t offset, std::span<const std::uint8_t> data);
// `result` holds what the answer carried, also when the device reports an error.
bool EfsStat(link::CPacket& packet, std::string_view path, EfsStatResult& result);
bool EfsFstat(link::CPacket& packet, std::uint32_t descriptor, std::uint32_t& value);
// Whole-file transfer in one request each.
bool EfsPut(link::CPacket& packet, std::string_view path, std::span<const std::uint8_t> data,
            std::uint16_t sequence);
// Asks for up to data.size() bytes; `length` of them arrive at the front of `data`.
bool EfsGet(link::CPacket& packet, std::string_view path, std::uint16_t sequence,
            std::span<std::uint8_t> data, std::uint32_t& length);

}  // namespace tapfix::device
