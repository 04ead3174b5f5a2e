#pragma once

#include "session/port_context.hpp"
#include "session/session_record.hpp"

namespace tapfix::session {

class CDownloadService;

// The NV preservation steps the session calls at fixed points of its actions. They live in
// their own layer; the session reaches them only through this seam, and each step reports
// through the session it is handed (log lines, hints, progress, the slot's link).
class NvSteps {
  public:
    virtual ~NvSteps() = default;

    // NV item 22's first 22 bytes into the record's barcode; true when that text is not empty.
    virtual bool ReadBarcode(CDownloadService& session, int slot, SessionRecord& record) = 0;
    // The device keeps the listed NV items itself (only when its partition table stays).
    virtual bool OnboardBackup(CDownloadService& session, bool barcodeRead, int slot) = 0;
    // NV items and EFS RF files into the NV folder; sets the record's nvBackupFile.
    virtual bool BackupNvToFiles(CDownloadService& session, bool barcodeRead, SessionRecord& record,
                                 int slot) = 0;
    // Reads the Wi-Fi MAC into the record and writes "wifi_mac" beside nvBackupFile; hints a
    // failed read and clears the session's WifiMacValid for an all-zero MAC.
    virtual bool SaveWifiMac(CDownloadService& session, int slot, SessionRecord& record) = 0;
    // Before the first byte of firmware is written: the backup just taken becomes the router's
    // pending copy, durably, and the record and the context's pendingCopy point at it.
    virtual bool KeepPendingCopy(CDownloadService& session, PortContext& context,
                                 SessionRecord& record) = 0;
    // Puts the backup back after the download: NV items, EFS RF files, Wi-Fi identity.
    virtual bool RestoreAfterDownload(CDownloadService& session, const PortContext& context,
                                      SessionRecord& record) = 0;
    // Around the restore from the context's pending copy: before it, the copy records that its
    // restore has not completed; once it has, the copy is archived and cleared.
    virtual void RestoreStarting(CDownloadService& session, const PortContext& context) = 0;
    virtual void RestoreSucceeded(CDownloadService& session, const PortContext& context) = 0;
};

}  // namespace tapfix::session
