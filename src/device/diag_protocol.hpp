#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "link/packet.hpp"

namespace tapfix::device {

// The DIAG command set in MODE_DIAG: lays out requests from the request record and reads the
// answers into the response record.
const link::PacketProtocol& DiagProtocol();

namespace diag {

inline constexpr std::uint8_t kEsn = 0x01;
inline constexpr std::uint8_t kProbe = 0x0C;
inline constexpr std::uint8_t kNvRead = 0x26;
inline constexpr std::uint8_t kNvWrite = 0x27;
inline constexpr std::uint8_t kModeChange = 0x29;
inline constexpr std::uint8_t kSoftwareVersion = 0x39;
inline constexpr std::uint8_t kDownloader = 0x3A;
inline constexpr std::uint8_t kSpc = 0x41;
inline constexpr std::uint8_t kSubsystem = 0x4B;

// Request record layout (byte 0 is the command code).
inline constexpr std::size_t kRecordWord = 2;  // mode word, NV item number
inline constexpr std::size_t kRecordSpc = 1;
inline constexpr std::size_t kSpcLength = 6;
inline constexpr std::size_t kRecordItemData = 4;
inline constexpr std::size_t kRecordNvStatus = 132;
inline constexpr std::size_t kNvItemSize = 128;

// Response record layout.
inline constexpr std::size_t kResponseEsn = 4;
inline constexpr std::size_t kResponseWord = 2;  // mode, NV item number
inline constexpr std::size_t kResponseItemData = 4;
inline constexpr std::size_t kResponseNvStatus = 132;
inline constexpr std::size_t kResponseSubsystemValue = 6;

// The software-version answer: nine 30-character texts in 31-byte slots from offset 1, then a
// 12-character and a 9-character field.
inline constexpr std::size_t kVersionTexts = 9;
inline constexpr std::size_t kVersionTextLength = 30;
inline constexpr std::size_t kVersionSlot = kVersionTextLength + 1;
inline constexpr std::size_t kVersionFirstSlot = 1;
inline constexpr std::size_t kVersionDateField = 280;
inline constexpr std::size_t kVersionDateLength = 12;
inline constexpr std::size_t kVersionTimeField = 293;
inline constexpr std::size_t kVersionTimeLength = 9;
inline constexpr std::size_t kVersionRecordSize = 303;

}  // namespace diag

using NvItemData = std::array<std::uint8_t, diag::kNvItemSize>;
using VersionRecord = std::array<std::uint8_t, diag::kVersionRecordSize>;

// The text of version slot k (0..8) of a record filled by GetSoftwareVersion.
std::string_view VersionText(const VersionRecord& record, std::size_t k);

// The reason for a non-zero NV item status; empty for codes outside 1..10.
std::string_view NvStatusText(std::uint16_t status);

}  // namespace tapfix::device
