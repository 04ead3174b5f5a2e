#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/port_enumeration.hpp"

// Whose a backup is, when it was taken, whether it holds everything, and what the last restore
// from it did: the "device_identity" file of every backup folder, one "key=value" per line:
//     imei=359876543210984
//     barcode=TFX0001
//     usb_serial=...            (when the platform knows it)
//     usb_path=1-1.4            (when the platform knows it)
//     time=2026-12-09T10:11:12Z (UTC)
//     complete=1
//     restore=none              (none, incomplete or done)
// A folder from an earlier version holds one line, "IMEI-<digits>" or "barcode-<text>".
namespace tapfix::nv {

enum class RestoreState { None, Incomplete, Done };

struct BackupRecord {
    std::string imei;
    std::string barcode;
    platform::UsbLocation usb;
    std::string time;
    bool complete = false;
    RestoreState restore = RestoreState::None;

    bool operator==(const BackupRecord&) const = default;
};

std::string FormatBackupRecord(const BackupRecord& record);
// Unknown keys and malformed lines are skipped; the one-line form of earlier versions gives
// the IMEI or the barcode and counts as complete (only whole backups were kept then).
BackupRecord ParseBackupRecord(std::string_view text);

// False when the folder has no record (or it cannot be read); `error` says why.
bool ReadBackupRecord(const std::filesystem::path& folder, BackupRecord& record,
                      std::string& error);
bool WriteBackupRecord(const std::filesystem::path& folder, const BackupRecord& record,
                       std::string& error);

// The name a device's backups are kept under: "IMEI-<digits>" for a real IMEI, else
// "barcode-<barcode>", else empty (unknown). Only letters, digits, '-', '_' and '.' remain.
std::string DeviceIdentity(std::string_view imei, std::string_view barcode);
// DeviceIdentity of the record, "unknown-device" when that is empty.
std::string BackupName(const BackupRecord& record);
// 15 decimal digits, not all zero.
bool IsRealImei(std::string_view imei);

// A time as the record keeps it: ISO 8601 in UTC to the second.
std::string UtcTimestamp(
    std::chrono::system_clock::time_point when = std::chrono::system_clock::now());
// "2026-12-09 10:11 UTC" for a user; the record's own text when it is not in that form.
std::string ShownTime(std::string_view timestamp);
std::string_view RestoreStateName(RestoreState state);

}  // namespace tapfix::nv
