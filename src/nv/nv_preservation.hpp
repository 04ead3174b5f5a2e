#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "nv/backup_record.hpp"
#include "nv/nv_record.hpp"
#include "session/download_service.hpp"
#include "session/nv_steps.hpp"

// NV preservation: the router's NV items, EFS RF calibration files and Wi-Fi identity are read
// into the work folder before the download and written back after it. The application plugs
// the steps into the session with
//     nv::CNvPreservation steps;
//     service.SetNvSteps(&steps);
//
// The backup is taken into the slot's NV folder (the work folder for slot 0, "Slot<n>/" inside
// it for the others): "Channel<slot>.nv", "wifi_mac", the folder "ITEM_EFS_RFNV" and
// "device_identity" (whose backup it is). Before the
// first byte of firmware it moves into "SaveNV/<router>/", the router's pending copy, which the
// restore reads and the update's end archives into "NVArchive/<router>/<time>/" (nothing in the
// program deletes an archive). A backup never destroys the only good copy: a backup left in the
// work folder, and a router's earlier pending copy, are archived before they are replaced.
// Every file and folder is the user's only.
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

    // --- the router's pending copy (nv/pending_copies.hpp) ---
    bool KeepPendingCopy(CDownloadService& session, PortContext& context,
                         SessionRecord& record) override;
    void RestoreStarting(CDownloadService& session, const PortContext& context) override;
    void RestoreSucceeded(CDownloadService& session, const PortContext& context) override;

    // --- Wi-Fi identity ---
    bool SaveWifiMac(CDownloadService& session, int slot, SessionRecord& record) override;
    bool RestoreWifiIdentity(CDownloadService& session, int slot, const SessionRecord& record);

  private:
    // Per slot: whose backup the slot's last NV item file is, and when it was taken.
    std::array<BackupRecord, CDownloadService::kSlotCount> backupRecords_{};
};

}  // namespace tapfix::nv
