#include "nv/backup_archive.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "nv/backup_files.hpp"
#include "platform/file_io.hpp"

namespace tapfix::nv {
namespace {

namespace fs = std::filesystem;

// Archives of one device made within the same second get a counter.
constexpr int kMaxArchivesPerSecond = 1000;

bool IsBackupFile(std::string_view name) {
    return IsNvFileName(name) || name == kWifiMacName || name == kIdentityName;
}

bool HoldsBackup(const fs::path& folder) {
    std::vector<std::string> names;
    std::string ignored;
    std::error_code ec;
    return fs::is_directory(folder / kEfsFolderName, ec) ||
           (ListFolderFiles(folder, names, ignored) &&
            std::any_of(names.begin(), names.end(), [](const std::string& name) {
                return IsNvFileName(name) || name == kWifiMacName;
            }));
}

std::string RecordedName(const fs::path& backupFolder) {
    BackupRecord record;
    std::string ignored;
    ReadBackupRecord(backupFolder, record, ignored);
    return BackupName(record);
}

std::string LocalTimestamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return stamp;
}

// Claims a new folder under `deviceFolder`; mkdir fails on an existing name, so two archives
// never share one.
bool ClaimArchiveFolder(const fs::path& deviceFolder, fs::path& folder, std::string& error) {
    const std::string stamp = LocalTimestamp();
    for (int n = 1; n <= kMaxArchivesPerSecond; ++n) {
        folder = deviceFolder / (n == 1 ? stamp : stamp + "-" + std::to_string(n));
        if (::mkdir(folder.c_str(), 0700) == 0) {
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    error =
        "cannot create an archive folder in " + deviceFolder.string() + ": " + std::strerror(errno);
    return false;
}

bool CopyBackup(const fs::path& from, const fs::path& to, std::string& error) {
    std::vector<std::string> names;
    if (!ListFolderFiles(from, names, error)) {
        return false;
    }
    for (const std::string& name : names) {
        if (IsBackupFile(name) && !CopyPrivateFile(from / name, to / name, error)) {
            return false;
        }
    }
    std::error_code ec;
    if (!fs::is_directory(from / kEfsFolderName, ec)) {
        return true;
    }
    return CreatePrivateFolder(to / kEfsFolderName, error) &&
           CopyFolderFiles(from / kEfsFolderName, to / kEfsFolderName, error);
}

}  // namespace

bool ArchiveBackup(const fs::path& backupFolder, const fs::path& workFolder, fs::path& archived,
                   std::string& error) {
    archived.clear();
    if (!HoldsBackup(backupFolder)) {
        return true;
    }
    fs::path folder;
    if (!NewArchiveFolder(workFolder, RecordedName(backupFolder), folder, error)) {
        return false;
    }
    if (!CopyBackup(backupFolder, folder, error)) {
        // Not an archive yet: an incomplete copy must not pass for one.
        std::error_code ec;
        fs::remove_all(folder, ec);
        return false;
    }
    archived = folder;
    return platform::FlushFolder(folder, error);
}

bool NewArchiveFolder(const fs::path& workFolder, std::string_view name, fs::path& folder,
                      std::string& error) {
    const fs::path root = workFolder / kArchiveName;
    const fs::path deviceFolder = root / name;
    return CreatePrivateFolder(root, error) && CreatePrivateFolder(deviceFolder, error) &&
           ClaimArchiveFolder(deviceFolder, folder, error);
}

}  // namespace tapfix::nv
