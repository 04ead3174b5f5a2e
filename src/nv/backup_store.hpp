#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/download_config.hpp"
#include "nv/pending_copies.hpp"
#include "nv/xqcn.hpp"

// The backups of a work folder as a user's tool: listed, found by folder or IMEI, exported to
// XQCN and imported from it into the archive.
namespace tapfix::nv {

// NV item 4678 holds the router's Wi-Fi MAC in its first six bytes: what "wifi_mac" keeps.
inline constexpr std::uint16_t kWifiMacItem = 4678;

enum class BackupPlace { Pending, Archive, WorkFolder };
std::string_view PlaceName(BackupPlace place);

struct BackupSummary {
    StoredBackup backup;
    BackupPlace place = BackupPlace::Archive;
    std::size_t nvItems = 0;
    std::size_t efsFiles = 0;
    // Twelve hexadecimal digits, or empty when the backup keeps none.
    std::string wifiMac;
};

// What the backup in the folder holds; nothing when it holds none.
std::optional<BackupSummary> Summarize(const std::filesystem::path& folder, BackupPlace place);

// Every backup of the work folder: pending copies, the archive, and one left in the work
// folder itself; within each, newest first.
std::vector<BackupSummary> ListBackups(const std::filesystem::path& workFolder);

// The backup `which` names: a folder that holds one, or an IMEI (its newest complete backup);
// empty: the newest complete backup of any router.
// Nothing, with a reason, when there is none.
std::optional<StoredBackup> FindBackup(const std::filesystem::path& workFolder,
                                       std::string_view which, std::string& error);

// The backup's NV items and EFS files (by their router paths) as XQCN content; the Wi-Fi MAC
// goes in as item 4678 when the items do not hold it.
bool ExportBackup(const StoredBackup& backup, const config::DownloadServiceConfig& config,
                  XqcnContent& content, std::string& error);

// Writes the content into a new archive folder as a complete backup of the IMEI it holds
// (item 550). Files the backup format has no name for are left out and named in `leftOut`.
// False, with nothing written, when the content holds no IMEI or the files cannot be written.
bool ImportBackup(const XqcnContent& content, const std::filesystem::path& workFolder,
                  const config::DownloadServiceConfig& config, StoredBackup& imported,
                  std::vector<std::string>& leftOut, std::string& error);

}  // namespace tapfix::nv
