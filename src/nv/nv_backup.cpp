#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

#include "device/diag_commands.hpp"
#include "device/nv_efs.hpp"
#include "device/vendor.hpp"
#include "link/wire.hpp"
#include "nv/backup_archive.hpp"
#include "nv/backup_files.hpp"
#include "nv/nv_preservation.hpp"
#include "nv/nv_text.hpp"
#include "platform/file_io.hpp"
#include "platform/utf16.hpp"

namespace tapfix::nv {
namespace {

namespace fs = std::filesystem;

// The package's "partition.mbn" is compared from this offset on; the header words before it
// differ between a table on disk and the one the device reports.
constexpr std::size_t kPartitionCompareFrom = 12;
constexpr std::size_t kPartitionTableCapacity = 1024;

constexpr std::size_t kOnboardBatch = 50;
constexpr std::uint8_t kUnusedListByte = 0xFF;

// NV statuses of items that have no value on this device: left out of the backup.
constexpr std::uint16_t kNvInactive = 5;
constexpr std::uint16_t kNvBadParameter = 6;
constexpr std::uint16_t kNvNotForTarget = 8;
// Any other failed read is tried again, a moment apart, before the backup gives up.
constexpr int kNvReadTries = 3;
constexpr std::chrono::milliseconds kNvReadRetryPause{200};

constexpr int kOperationBackupOnly = session::kActionBackupNv;

using ItemList = std::vector<std::int32_t>;

void Append(ItemList& list, const ItemList& more) {
    list.insert(list.end(), more.begin(), more.end());
}

// What the device keeps itself: the RF items, the RF item files and, with everything
// preserved, the common items.
ItemList OnboardItems(const config::DownloadServiceConfig& config) {
    ItemList items = config.rfNv;
    Append(items, config.efsRfNv);
    if (config.nvOption == 2) {
        Append(items, config.commonNv);
    }
    return items;
}

// What the PC backs up: the RF items and, with everything preserved, the common items and
// (when asked to) the lock items.
ItemList BackupItems(const config::DownloadServiceConfig& config) {
    ItemList items = config.rfNv;
    if (config.nvOption == 2) {
        Append(items, config.commonNv);
        if (config.saveLockData != 0) {
            Append(items, config.lockNv);
        }
    }
    return items;
}

// The list goes to the device 50 numbers a batch; the more flag tells it another follows.
bool SendOnboardItems(link::CPacket& link, const ItemList& items) {
    for (std::size_t first = 0; first < items.size(); first += kOnboardBatch) {
        const std::size_t count = std::min(kOnboardBatch, items.size() - first);
        device::OnboardList list;
        list.fill(kUnusedListByte);
        for (std::size_t i = 0; i < count; ++i) {
            wire::WriteLe32(list, 4 * i, static_cast<std::uint32_t>(items[first + i]));
        }
        const bool more = first + count < items.size();
        if (!device::SendOnboardBackupList(link, more, static_cast<std::uint16_t>(count), list)) {
            return false;
        }
    }
    return true;
}

// The device's 32-bit values are signed numbers: the list's item numbers may be negative.
std::string SignedText(std::uint32_t value) {
    return std::to_string(static_cast<std::int32_t>(value));
}

std::string OnboardFailureText(const device::OnboardResult& result, std::size_t itemsSent) {
    switch (result.state) {
        case 1:
            return FormatText("%d项NV所需备份字节起始结束位置错误", {SignedText(result.first)});
        case 2:
            return FormatText("板侧解析的NV项与PC侧下发NV项数目不一致，PC侧下发%d项，板侧解析%d项",
                              {std::to_string(itemsSent), SignedText(result.first)});
        case 3:
            return FormatText("%d项NV操作失败，错误码为:%d",
                              {SignedText(result.first), std::to_string(result.second & 0xFFFF)});
        case 4:
            return "板侧操作NV时写Flash错误";
        default:  // also no usable answer at all
            return "板侧不支持自动备份还原NV功能!";
    }
}

int BackupProgress(int operation, std::size_t done, std::size_t count) {
    const int share = static_cast<int>(98 * done / count);
    return operation == kOperationBackupOnly ? share : 5 + share * 10 / 100;
}

std::string BarcodeText(const SessionRecord& record) {
    const auto end = std::find(record.barcode.begin(), record.barcode.end(), '\0');
    return platform::Utf16ToUtf8(platform::Utf8ToUtf16(
        std::string_view(record.barcode.data(), end - record.barcode.begin())));
}

BackupRecord RecordOf(link::CPacket& link, const SessionRecord& record) {
    device::ImeiText imei{};
    BackupRecord whose;
    if (device::GetImei(link, imei)) {
        whose.imei = imei.data();
    }
    whose.barcode = record.barcodeRead ? BarcodeText(record) : std::string();
    whose.time = UtcTimestamp();
    return whose;
}

bool HasNoValue(std::uint16_t status) {
    return status == kNvInactive || status == kNvBadParameter || status == kNvNotForTarget;
}

// A read refused for another reason, or not answered, may be a passing fault: it is tried
// again while the router is there.
bool ReadItemForBackup(CDownloadService& session, link::CPacket& link, NvRecord& record) {
    for (int attempt = 1;; ++attempt) {
        if (device::ReadNvItem(link, record.item, record.data, record.status)) {
            return true;
        }
        if (HasNoValue(record.status) || attempt == kNvReadTries || !link.IsPortOpen()) {
            return false;
        }
        session.Clock().Sleep(platform::ScaledWait(kNvReadRetryPause));
    }
}

bool WifiMacKept(const config::DownloadServiceConfig& config) {
    return config.nvOption == 2 && config.ufi != 0;
}

}  // namespace

bool CNvPreservation::ReadBarcode(CDownloadService& session, int slot, SessionRecord& record) {
    device::NvItemData data{};
    std::uint16_t status = 0;
    if (!device::ReadNvItem(session.Link(slot), kBarcodeItem, data, status)) {
        return false;
    }
    record.barcode.fill('\0');
    std::copy_n(data.begin(), kBarcodeBytes, record.barcode.begin());
    const std::string barcode = BarcodeText(record);
    session.LogLine(slot, "Barcode:" + barcode);
    record.barcodeRead = !barcode.empty();
    return record.barcodeRead;
}

bool CNvPreservation::PartitionTableUnchanged(CDownloadService& session, int slot) {
    const fs::path file = fs::path(session.Config().versionFilePath) / "partition.mbn";
    std::string table;
    std::string error;
    // A table larger than the device's answer holds cannot be compared: it is written.
    if (!platform::ReadWholeFile(file, kPartitionTableCapacity, table, error) ||
        table.size() <= kPartitionCompareFrom) {
        return false;
    }
    std::vector<std::uint8_t> deviceTable(table.size());
    if (!device::ReadDevicePartitionTable(session.Link(slot), deviceTable)) {
        return false;
    }
    return std::equal(table.begin() + kPartitionCompareFrom, table.end(),
                      deviceTable.begin() + kPartitionCompareFrom,
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

bool CNvPreservation::OnboardBackup(CDownloadService& session, bool barcodeRead, int slot) {
    if (!barcodeRead) {
        session.LogLine(slot, session.Text("ID_ERROR_NOBARCODE"));
        return false;
    }
    if (!PartitionTableUnchanged(session, slot)) {
        return false;
    }
    link::CPacket& link = session.Link(slot);
    const ItemList items = OnboardItems(session.Config());
    if (!SendOnboardItems(link, items)) {
        return false;
    }
    device::OnboardResult result;
    if (device::QueryOnboardResult(link, result, session.Clock())) {
        session.LogLine(slot, "板侧备份NV成功");
        return true;
    }
    session.LogLine(slot, OnboardFailureText(result, items.size()));
    return false;
}

bool CNvPreservation::BackupNvToFiles(CDownloadService& session, bool barcodeRead,
                                      SessionRecord& record, int slot) {
    const config::DownloadServiceConfig& config = session.Config();
    if (config.nvOption == 0) {
        if (config.dvbhCertification != 0) {
            session.LogLine(slot, session.Text("ID_ERROR_BACKUPCER_ERR2"));
            return false;
        }
        return true;
    }
    const fs::path workFolder(config.nvFilePath);
    const fs::path folder = session.NvFolder(slot);
    std::error_code ec;
    std::string error;
    if (!fs::exists(workFolder, ec) || !CreatePrivateFolder(folder, error)) {
        session.LogLine(slot, session.Text("ID_ERROR_CREATENVPATH"));
        return false;
    }
    if (!barcodeRead) {
        session.LogLine(slot, session.Text("ID_ERROR_NOBARCODE"));
    }
    record.nvBackupFile = folder / NvFileName(slot);
    fs::path archived;
    if (!ArchiveBackup(folder, workFolder, archived, error)) {
        session.LogLine(slot, "The previous NV backup cannot be archived: " + error);
        session.LogLine(slot, session.Text("ID_ERROR_BACKUPNV"));
        return false;
    }
    if (!archived.empty()) {
        session.LogLine(slot, "The previous NV backup is kept in " + archived.string());
    }
    // Archived with the backup it belonged to: it must not pass for this router's.
    if (!WifiMacKept(config)) {
        fs::remove(folder / kWifiMacName, ec);
    }
    backupRecords_.at(static_cast<std::size_t>(slot)) = RecordOf(session.Link(slot), record);
    session.LogHint(slot, session.Text("ID_HINT_BACKUPNV"));
    if (!BackupNvItems(session, slot, record.nvBackupFile)) {
        session.LogLine(slot, session.Text("ID_ERROR_BACKUPNV"));
        return false;
    }
    session.LogHint(slot, session.Text("ID_SUCCESS_BACKUPNV"));
    return true;
}

bool CNvPreservation::BackupNvItems(CDownloadService& session, int slot, const fs::path& file) {
    const config::DownloadServiceConfig& config = session.Config();
    link::CPacket& link = session.Link(slot);
    platform::AtomicFile out;
    std::string error;
    if (!out.Open(file, error, platform::kPrivateFile)) {
        session.LogLine(slot, session.Text("ID_ERROR_IMEIREPEAT"));
        return false;
    }
    const std::string stepText = session.Text("ID_HINT_BACKUPNV");
    const ItemList items = BackupItems(config);
    for (std::size_t i = 0; i < items.size(); ++i) {
        NvRecord record;
        record.item = static_cast<std::uint16_t>(items[i]);
        session.NotifyProgress(slot, BackupProgress(session.Operation(slot), i + 1, items.size()));
        if (!ReadItemForBackup(session, link, record)) {
            session.LogLine(slot,
                            ItemFailure(stepText, record.item, record.status, link.LastError()));
            if (HasNoValue(record.status)) {
                continue;
            }
            // Saved with its status, the item would be skipped by the restore and its value
            // lost: the backup fails instead, and the last good one stays.
            return false;
        }
        const NvRecordBytes bytes = EncodeNvRecord(record);
        if (!out.Write({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, error)) {
            session.LogLine(slot, session.Text("ID_ERROR_IMEIREPEAT") + ": " + error);
            return false;
        }
    }
    if (!out.Commit(error) ||
        !WriteBackupRecord(file.parent_path(), backupRecords_.at(static_cast<std::size_t>(slot)),
                           error)) {
        session.LogLine(slot, session.Text("ID_ERROR_IMEIREPEAT") + ": " + error);
        return false;
    }
    if (!BackupEfsNvFiles(session, slot)) {
        return false;
    }
    session.NotifyProgress(slot, session.Operation(slot) == kOperationBackupOnly ? 100 : 15);
    return true;
}

}  // namespace tapfix::nv
