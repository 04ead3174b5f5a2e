#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The files and folders of an NV backup. They hold the IMEI and calibration of a user's
// device, so everything is created for the user only, and every file is written whole
// (temporary name, flush, rename): an interrupted writer leaves the previous file in place.
namespace tapfix::nv {

inline constexpr std::string_view kEfsFolderName = "ITEM_EFS_RFNV";
inline constexpr std::string_view kWifiMacName = "wifi_mac";
inline constexpr std::string_view kSavedBackupName = "SaveNV";
inline constexpr std::string_view kIdentityName = "device_identity";
inline constexpr std::string_view kArchiveName = "NVArchive";
// Where a folder is rebuilt before it replaces the real one.
inline constexpr std::string_view kStagingSuffix = ".partial";

// "Channel<slot>.nv".
std::string NvFileName(int slot);
bool IsNvFileName(std::string_view name);

// Backup files are small; anything larger is not one of ours.
inline constexpr std::size_t kMaxBackupFile = 64 * 1024 * 1024;

// Creates the folder (mode 0700); an existing folder is fine.
bool CreatePrivateFolder(const std::filesystem::path& folder, std::string& error);
bool WritePrivateFile(const std::filesystem::path& file, std::string_view bytes,
                      std::string& error);
bool CopyPrivateFile(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string& error);
// The regular files of a folder, by name in sorted order, leaving out hidden names (the
// temporaries of files being written). False when the folder cannot be listed.
bool ListFolderFiles(const std::filesystem::path& folder, std::vector<std::string>& names,
                     std::string& error);
// Copies the listed files of one folder into another that exists.
bool CopyFolderFiles(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string& error);
// Removes a folder with everything in it, by path; a folder named kArchiveName is kept (and
// with it the folders that hold it).
void RemoveTreeKeepingArchive(const std::filesystem::path& folder);
// Renames a file or folder; false with a reason.
bool RenameEntry(const std::filesystem::path& from, const std::filesystem::path& to,
                 std::string& error);
// Moves a folder built under the staging name over the real one.
bool ReplaceFolder(const std::filesystem::path& staging, const std::filesystem::path& folder,
                   std::string& error);

}  // namespace tapfix::nv
