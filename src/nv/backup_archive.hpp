#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The archive of earlier backups: "NVArchive/<device>/<local time>/" in the work folder. A
// backup about to be replaced is copied there first, so a backup of a device that has lost
// its data (or one cut short) never leaves the work folder without the last good copy.
// Nothing in the program deletes an archive.
namespace tapfix::nv {

// The name a device's backups are archived under: "IMEI-<digits>" for a real IMEI, else
// "barcode-<barcode>", else empty (unknown). Only letters, digits, '-', '_' and '.' remain.
std::string DeviceIdentity(std::string_view imei, std::string_view barcode);
// Records whose backup the folder holds.
bool WriteDeviceIdentity(const std::filesystem::path& backupFolder, std::string_view identity,
                         std::string& error);

// Copies the backup held by `backupFolder` (NV item files, "wifi_mac", the identity, the EFS
// folder) into a new archive folder of `workFolder`, named by the identity the backup
// recorded. Sets `archived` to that folder, or empties it when there was nothing to keep.
bool ArchiveBackup(const std::filesystem::path& backupFolder,
                   const std::filesystem::path& workFolder, std::filesystem::path& archived,
                   std::string& error);

}  // namespace tapfix::nv
