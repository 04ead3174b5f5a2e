#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "device/diag_protocol.hpp"
#include "link/packet.hpp"

// The simple DIAG commands of a device in normal mode. Every operation returns false on failure
// with the reason in packet.LastError().
namespace tapfix::device {

inline constexpr std::string_view kDefaultSpc = "000000";

bool ResetPhone(link::CPacket& packet);
bool SetPhoneOffline(link::CPacket& packet);
// On failure `esn` is 0xFFFFFFFF.
bool GetEsn(link::CPacket& packet, std::uint32_t& esn);
// Copies the nine version texts into their slots; on failure the record is zero-filled.
bool GetSoftwareVersion(link::CPacket& packet, VersionRecord& record);
bool SwitchToDownloader(link::CPacket& packet);
// `spc` is the device's six-digit service programming code; anything else is refused unsent.
bool SendSpc(link::CPacket& packet, std::string_view spc = kDefaultSpc);
bool SendSubsysCmd(link::CPacket& packet);

// Raw subsystem requests.
bool ProbeDiag(link::CPacket& packet);
bool AutoRunAction(link::CPacket& packet);
// Leaves the packet in MODE_DIAG.
bool SetSpecialDlMode(link::CPacket& packet);
bool SetSpecialDlMode2(link::CPacket& packet);
// Reads the device's partition table of exactly table.size() bytes.
bool ReadDevicePartitionTable(link::CPacket& packet, std::span<std::uint8_t> table);

}  // namespace tapfix::device
