#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "nv/nv_record.hpp"
#include "session/download_service.hpp"
#include "session/nv_steps.hpp"

// NV preservation: the router's NV items, EFS RF calibration files and Wi-Fi identity are read
// into the work folder before the download and written back after it. The application plugs
// the steps into the session with
//     nv::CNvPreservation steps;
//     service.SetNvSteps(&steps);
//
// The backup folder (the configuration's nvFilePath, the work folder) holds "Channel<slot>.nv",
// "wifi_mac", the folder "ITEM_EFS_RFNV" and "device_identity" (whose backup it is). A backup
// never destroys the only good copy: before a new backup replaces one, and before a failed
// update replaces "SaveNV", the previous one is copied into "NVArchive/<device>/<time>/" of the
// work folder, which nothing in the program deletes. Every file and folder is the user's only.
namespace tapfix::nv {

using session::CDownloadService;
using session::PortContext;
using session::SessionRecord;

class CNvPreservation : public session::NvSteps {
  public:
    CNvPreservation() = default;

    // --- backup before the download ---
    bool ReadBarcode(CDownloadService& session, int slot, SessionRecord& record) override;
    // The device's partition table equals the package's "partition.mbn" (its first 12 bytes
    // aside), so the download keeps it and the on-board backup survives.
    bool PartitionTableUnchanged(CDownloadService& session, int slot);
    bool OnboardBackup(CDownloadService& session, bool barcodeRead, int slot) override;
    bool BackupNvToFiles(CDownloadService& session, bool barcodeRead, SessionRecord& record,
                         int slot) override;
    // The configured NV items into `file`, then the EFS RF files beside it.
    bool BackupNvItems(CDownloadService& session, int slot, const std::filesystem::path& file);

    // --- restore after the download ---
    bool RestoreAfterDownload(CDownloadService& session, const PortContext& context,
                              SessionRecord& record) override;
    bool RestoreNvStep(CDownloadService& session, int slot, const SessionRecord& record);
    bool OnboardRestore(CDownloadService& session, int slot);
    bool RestoreNvFromFile(CDownloadService& session, int slot, const std::filesystem::path& file);
    // Writes one saved item and reads it back; an item the new firmware keeps inactive or
    // read-only counts as restored.
    bool WriteNvRecord(CDownloadService& session, int slot, const NvRecord& record);

    // --- EFS RF calibration files ---
    // False when the EFS folder cannot be made, the device left during the copy, or a file
    // the device has could not be copied (the new partition table would erase it); the
    // previous copy then stays.
    bool BackupEfsNvFiles(CDownloadService& session, int slot);
    bool GetEfsNvFile(CDownloadService& session, int slot, const std::filesystem::path& local,
                      std::string_view efsPath, std::string_view name);
    // False when a saved file could not be written back, so the restore is repeated and a
    // failure is not reported as an update that kept everything.
    bool RestoreEfsNvFiles(CDownloadService& session, int slot,
                           const std::filesystem::path& folder);
    bool PutEfsNvFile(CDownloadService& session, int slot, const std::filesystem::path& local,
                      std::string_view efsPath, std::string_view name);
    // By path, without touching the process's current directory; archives are never removed.
    void RemoveFolderTree(const std::filesystem::path& folder) override;

    // --- Wi-Fi identity ---
    bool SaveWifiMac(CDownloadService& session, int slot, SessionRecord& record) override;
    bool RestoreWifiIdentity(CDownloadService& session, int slot, const SessionRecord& record);

  private:
    // Whose backup the next NV item file is ("IMEI-...", "barcode-...", or empty).
    std::string backupIdentity_;
};

// After a failed normal update: the backup of the work folder `nvRoot` into "nvRoot/SaveNV",
// from which the next run resumes. The previous "SaveNV" is archived first. False when the
// NV item file, the EFS folder or an existing "wifi_mac" cannot be copied; `failure` says why,
// for the caller's log.
bool SaveBackupCopy(const std::filesystem::path& nvRoot, std::string& failure);

}  // namespace tapfix::nv
