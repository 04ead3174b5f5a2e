#include "nv/backup_store.hpp"

#include <algorithm>
#include <cstdio>

#include "device/nv_efs.hpp"
#include "nv/backup_archive.hpp"
#include "nv/backup_files.hpp"
#include "nv/efs_names.hpp"
#include "platform/file_io.hpp"

namespace tapfix::nv {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMacBytes = 6;
constexpr std::size_t kMacDigits = 12;

std::vector<StoredBackup> ArchivedBackups(const fs::path& workFolder) {
    std::vector<StoredBackup> backups;
    std::error_code ec;
    for (fs::recursive_directory_iterator entry(workFolder / kArchiveName, ec), end;
         !ec && entry != end; entry.increment(ec)) {
        if (entry.depth() == 1) {
            entry.disable_recursion_pending();
            if (auto backup = ReadStoredBackup(entry->path())) {
                backups.push_back(std::move(*backup));
            }
        }
    }
    NewestFirst(backups);
    return backups;
}

std::string ReadMac(const fs::path& folder) {
    std::string bytes;
    std::string ignored;
    platform::ReadWholeFile(folder / kWifiMacName, kMaxBackupFile, bytes, ignored);
    return bytes.substr(0, std::min(bytes.find('\0'), kMacDigits));
}

BackupSummary Summary(StoredBackup backup, BackupPlace place) {
    BackupSummary summary{std::move(backup), place, 0, 0, {}};
    const fs::path& folder = summary.backup.folder;
    std::error_code ec;
    summary.nvItems = fs::file_size(folder / NvFileName(0), ec) / kNvRecordSize;
    std::vector<std::string> names;
    std::string ignored;
    if (ListFolderFiles(folder / kEfsFolderName, names, ignored)) {
        summary.efsFiles = names.size();
    }
    summary.wifiMac = ReadMac(folder);
    return summary;
}

bool ReadRecords(const fs::path& file, std::vector<NvRecord>& records, std::string& error) {
    std::string bytes;
    if (!platform::ReadWholeFile(file, kMaxBackupFile, bytes, error)) {
        return false;
    }
    if (bytes.size() % kNvRecordSize != 0) {
        error = file.string() + " is not a whole number of NV records";
        return false;
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (std::size_t at = 0; at < bytes.size(); at += kNvRecordSize) {
        records.push_back(*DecodeNvRecord({data + at, kNvRecordSize}));
    }
    return true;
}

const NvRecord* FindItem(const std::vector<NvRecord>& items, std::uint16_t item) {
    const auto found = std::find_if(items.begin(), items.end(),
                                    [item](const NvRecord& record) { return record.item == item; });
    return found == items.end() ? nullptr : &*found;
}

std::string MacText(const NvRecord& item) {
    std::string text;
    for (std::size_t i = 0; i < kMacBytes; ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", item.data[i]);
        text += digits;
    }
    return text;
}

// The MAC file's 12 digits as the first six bytes of the MAC item.
std::optional<NvRecord> MacItem(std::string_view mac) {
    if (mac.size() != kMacDigits) {
        return std::nullopt;
    }
    NvRecord item;
    item.item = kWifiMacItem;
    for (std::size_t i = 0; i < kMacBytes; ++i) {
        unsigned value = 0;
        if (std::sscanf(std::string(mac.substr(2 * i, 2)).c_str(), "%2x", &value) != 1) {
            return std::nullopt;
        }
        item.data[i] = static_cast<std::uint8_t>(value);
    }
    return item;
}

// Whose the imported items are.
bool RecordOfItems(const std::vector<NvRecord>& items, BackupRecord& record, std::string& error) {
    const NvRecord* imei = FindItem(items, kImeiItem);
    record.imei =
        imei == nullptr ? std::string() : std::string(device::DecodeImei(imei->data).data());
    if (!IsRealImei(record.imei)) {
        error = "the XQCN file holds no IMEI (NV item 550): it cannot be told whose it is";
        return false;
    }
    if (const NvRecord* barcode = FindItem(items, kBarcodeItem)) {
        const auto begin = barcode->data.begin();
        record.barcode.assign(begin, std::find(begin, begin + kBarcodeBytes, 0));
    }
    record.time = UtcTimestamp();
    record.complete = true;
    return true;
}

bool WriteImported(const fs::path& folder, const std::vector<NvRecord>& items,
                   const std::vector<std::pair<std::string, const std::string*>>& efsFiles,
                   const BackupRecord& record, std::string& error) {
    std::string nvFile;
    for (const NvRecord& item : items) {
        const NvRecordBytes bytes = EncodeNvRecord(item);
        nvFile.append(bytes.begin(), bytes.end());
    }
    if (!WritePrivateFile(folder / NvFileName(0), nvFile, error) ||
        !CreatePrivateFolder(folder / kEfsFolderName, error)) {
        return false;
    }
    for (const auto& [name, bytes] : efsFiles) {
        if (!WritePrivateFile(folder / kEfsFolderName / name, *bytes, error)) {
            return false;
        }
    }
    if (const NvRecord* mac = FindItem(items, kWifiMacItem);
        mac != nullptr && !WritePrivateFile(folder / kWifiMacName, MacText(*mac) + '\0', error)) {
        return false;
    }
    return WriteBackupRecord(folder, record, error) &&
           platform::FlushFolder(folder / kEfsFolderName, error) &&
           platform::FlushFolder(folder, error);
}

}  // namespace

std::string_view PlaceName(BackupPlace place) {
    switch (place) {
        case BackupPlace::Pending:
            return "pending";
        case BackupPlace::WorkFolder:
            return "work folder";
        default:
            return "archive";
    }
}

std::optional<BackupSummary> Summarize(const fs::path& folder, BackupPlace place) {
    auto backup = ReadStoredBackup(folder);
    return backup ? std::optional(Summary(std::move(*backup), place)) : std::nullopt;
}

std::vector<BackupSummary> ListBackups(const fs::path& workFolder) {
    std::vector<BackupSummary> summaries;
    for (StoredBackup& copy : ListPendingCopies(workFolder)) {
        summaries.push_back(Summary(std::move(copy), BackupPlace::Pending));
    }
    for (StoredBackup& archived : ArchivedBackups(workFolder)) {
        summaries.push_back(Summary(std::move(archived), BackupPlace::Archive));
    }
    if (auto left = ReadStoredBackup(workFolder)) {
        summaries.push_back(Summary(std::move(*left), BackupPlace::WorkFolder));
    }
    return summaries;
}

std::optional<StoredBackup> FindBackup(const fs::path& workFolder, std::string_view which,
                                       std::string& error) {
    std::error_code ec;
    if (fs::is_directory(fs::path(which), ec)) {
        fs::path folder(which);
        // "IMEI-x/" names the same copy as "IMEI-x": it must be found pending, and retired.
        if (!folder.has_filename()) {
            folder = folder.parent_path();
        }
        auto backup = ReadStoredBackup(folder);
        if (!backup) {
            error = std::string(which) + " holds no backup (no " + NvFileName(0) + ")";
        }
        return backup;
    }
    if (!which.empty() && !IsRealImei(which)) {
        error = "'" + std::string(which) + "' is neither a backup folder nor an IMEI";
        return std::nullopt;
    }
    std::vector<StoredBackup> backups = ListPendingCopies(workFolder);
    for (StoredBackup& archived : ArchivedBackups(workFolder)) {
        backups.push_back(std::move(archived));
    }
    NewestFirst(backups);
    // While the router's own restore is cut short its pending copy holds its data: a backup
    // taken since holds the half-written router.
    std::stable_partition(backups.begin(), backups.end(), [&](const StoredBackup& b) {
        return b.record.restore == RestoreState::Incomplete && IsPendingCopy(workFolder, b.folder);
    });
    const auto found = std::find_if(backups.begin(), backups.end(), [&](const StoredBackup& b) {
        return (which.empty() || b.record.imei == which) && b.record.complete;
    });
    if (found == backups.end()) {
        error = "no complete backup" +
                (which.empty() ? "" : " of the router with IMEI " + std::string(which)) + " in " +
                workFolder.string();
        return std::nullopt;
    }
    return *found;
}

bool ExportBackup(const StoredBackup& backup, const config::DownloadServiceConfig& config,
                  XqcnContent& content, std::string& error) {
    content = XqcnContent{};
    std::vector<NvRecord> records;
    if (!ReadRecords(backup.folder / NvFileName(0), records, error)) {
        return false;
    }
    // A status says the item was not read: there is no value to give. An item the lists name
    // twice was read twice in a row; XQCN holds it once.
    for (const NvRecord& record : records) {
        if (record.status == 0 && FindItem(content.items, record.item) == nullptr) {
            content.items.push_back(record);
        }
    }
    if (FindItem(content.items, kWifiMacItem) == nullptr) {
        if (const auto mac = MacItem(ReadMac(backup.folder))) {
            content.items.push_back(*mac);
        }
    }
    std::vector<std::string> names;
    if (!ListFolderFiles(backup.folder / kEfsFolderName, names, error)) {
        return false;
    }
    for (const std::string& name : names) {
        const std::string path = IsEightDigits(name) ? EfsPathOf(config, name) : std::string();
        if (path.empty()) {
            error = "the EFS file " + name + " of the backup has no path in this package";
            return false;
        }
        XqcnFile file{"/" + path, {}};
        if (!platform::ReadWholeFile(backup.folder / kEfsFolderName / name, kMaxBackupFile,
                                     file.bytes, error)) {
            return false;
        }
        content.efsFiles.push_back(std::move(file));
    }
    return true;
}

bool ImportBackup(const XqcnContent& content, const fs::path& workFolder,
                  const config::DownloadServiceConfig& config, StoredBackup& imported,
                  std::vector<std::string>& leftOut, std::string& error) {
    leftOut.clear();
    BackupRecord record;
    if (!RecordOfItems(content.items, record, error)) {
        return false;
    }
    std::vector<std::pair<std::string, const std::string*>> efsFiles;
    for (const XqcnFile& file : content.efsFiles) {
        if (const auto name = EfsNameOf(config, file.path)) {
            efsFiles.emplace_back(*name, &file.bytes);
        } else {
            leftOut.push_back(file.path);
        }
    }
    fs::path folder;
    if (!NewArchiveFolder(workFolder, BackupName(record), folder, error)) {
        return false;
    }
    if (!WriteImported(folder, content.items, efsFiles, record, error)) {
        std::error_code ec;
        fs::remove_all(folder, ec);  // half written: not an archive
        return false;
    }
    imported = StoredBackup{folder, record};
    return true;
}

}  // namespace tapfix::nv
