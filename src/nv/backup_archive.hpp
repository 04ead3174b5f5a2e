#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "nv/backup_record.hpp"

// The archive of earlier backups: "NVArchive/<device>/<local time>/" in the work folder. A
// backup about to be replaced is copied there first, so a backup of a device that has lost
// its data (or one cut short) never leaves the work folder without the last good copy.
// Nothing in the program deletes an archive.
namespace tapfix::nv {

// Copies the backup held by `backupFolder` (NV item files, "wifi_mac", the identity, the EFS
// folder) into a new archive folder of `workFolder`, named by the identity the backup
// recorded (BackupName). Sets `archived` to that folder, or empties it when there was nothing to
// keep.
bool ArchiveBackup(const std::filesystem::path& backupFolder,
                   const std::filesystem::path& workFolder, std::filesystem::path& archived,
                   std::string& error);

// Creates a new, empty archive folder for a backup of the router named `name` (BackupName).
bool NewArchiveFolder(const std::filesystem::path& workFolder, std::string_view name,
                      std::filesystem::path& folder, std::string& error);

}  // namespace tapfix::nv
