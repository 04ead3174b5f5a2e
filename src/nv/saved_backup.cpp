#include "nv/backup_archive.hpp"
#include "nv/backup_files.hpp"
#include "nv/nv_preservation.hpp"

namespace tapfix::nv {
namespace {

namespace fs = std::filesystem;

// A file of the backup that not every backup has ("wifi_mac", "device_identity").
bool CopyIfPresent(const fs::path& from, const fs::path& to, std::string& error) {
    std::error_code ec;
    return !fs::exists(from, ec) || CopyPrivateFile(from, to, error);
}

// The saved copy is built beside "SaveNV" and moved over it only when whole, so it never mixes
// files of two backups (a "wifi_mac" of an earlier device beside this device's NV items).
bool BuildSavedCopy(const fs::path& nvRoot, const fs::path& staging, std::string& failure) {
    std::string error;
    RemoveTreeKeepingArchive(staging);
    if (!CreatePrivateFolder(staging, error) ||
        !CreatePrivateFolder(staging / kEfsFolderName, error)) {
        failure = error;
        return false;
    }
    if (!CopyFolderFiles(nvRoot / kEfsFolderName, staging / kEfsFolderName, error)) {
        failure = "CopyDir RFNV fail: " + error;
        return false;
    }
    // A router without Wi-Fi preservation has no "wifi_mac"; its NV items must be kept anyway.
    if (!CopyIfPresent(nvRoot / kWifiMacName, staging / kWifiMacName, error)) {
        failure = "save wifi_mac fail: " + error;
        return false;
    }
    if (!CopyPrivateFile(nvRoot / NvFileName(0), staging / NvFileName(0), error)) {
        failure = "save Channel0.nv fail: " + error;
        return false;
    }
    if (!CopyIfPresent(nvRoot / kIdentityName, staging / kIdentityName, error)) {
        failure = error;
        return false;
    }
    return true;
}

}  // namespace

bool SaveBackupCopy(const fs::path& nvRoot, std::string& failure) {
    const fs::path saved = nvRoot / kSavedBackupName;
    const fs::path staging = nvRoot / (std::string(kSavedBackupName) + std::string(kStagingSuffix));
    fs::path archived;
    std::string error;
    if (!ArchiveBackup(saved, nvRoot, archived, error)) {
        failure = "cannot archive the saved backup: " + error;
        return false;
    }
    if (!BuildSavedCopy(nvRoot, staging, failure)) {
        RemoveTreeKeepingArchive(staging);
        return false;
    }
    if (!ReplaceFolder(staging, saved, error)) {
        failure = error;
        return false;
    }
    return true;
}

}  // namespace tapfix::nv
