#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nv/backup_record.hpp"
#include "platform/port_enumeration.hpp"

// Pending copies: the backup of a router whose update has begun and not ended. Before the first
// byte of firmware is written, the backup just taken moves from the work folder into
// "SaveNV/<router>/" (BackupName), durably: a crash, a kill or a power cut at any later moment
// leaves it for the next run. The update's end archives it and clears it. A "SaveNV" that holds
// the files of one backup itself (earlier versions) is read as one pending copy.
namespace tapfix::nv {

// A backup on disk: its folder and its record.
struct StoredBackup {
    std::filesystem::path folder;
    BackupRecord record;
};

// The backup a folder holds: nothing without "Channel0.nv". A folder without a record (an
// earlier version kept whole backups only) counts as complete; one without a time takes its
// NV file's.
std::optional<StoredBackup> ReadStoredBackup(const std::filesystem::path& folder);

// Orders backups by their records' times, newest first.
void NewestFirst(std::vector<StoredBackup>& backups);

// Newest first. A copy whose record says its restore is done has ended (it is archived) and
// is left out.
std::vector<StoredBackup> ListPendingCopies(const std::filesystem::path& workFolder);

// The backup files a commit moves: the NV item file, the EFS folder, and "wifi_mac" when the
// router's Wi-Fi identity is kept.
struct BackupSource {
    std::filesystem::path nvFile;
    std::filesystem::path efsFolder;
    std::optional<std::filesystem::path> wifiMac;
};

// The files of the backup just taken beside `nvFile`.
BackupSource TakenBackup(const std::filesystem::path& nvFile, bool withWifiMac);

// The folder is one of the work folder's pending copies.
bool IsPendingCopy(const std::filesystem::path& workFolder, const std::filesystem::path& folder);

// What became of the router's earlier pending copy when a new one replaced it.
struct CommittedCopy {
    std::filesystem::path folder;
    // Where the earlier copy was archived; empty when there was none.
    std::filesystem::path archivedEarlier;
    // The earlier copy held the same data as the new one.
    bool earlierMatched = false;
};

// Moves the files into "SaveNV/<BackupName(record)>/" with the record (marked complete), each
// folder flushed. An earlier copy of the same router is archived, then replaced by renames
// (old aside, new in), so that one of them is always there. False with a reason; the files
// are then back where they were.
bool CommitPendingCopy(const std::filesystem::path& workFolder, const BackupSource& files,
                       BackupRecord record, CommittedCopy& committed, std::string& error);

// A backup taken on its own, without an update: moved whole into a new archive folder
// (`archived`) with its record, marked complete. False with a reason; nothing moved then.
bool ArchiveTakenBackup(const std::filesystem::path& workFolder, const BackupSource& files,
                        BackupRecord record, std::filesystem::path& archived, std::string& error);

// Records in the copy what its restore did, durably.
bool MarkRestore(const std::filesystem::path& copy, RestoreState state, std::string& error);

// The restore from the copy is done: it is archived with that record, then its files are
// removed (a folder of its own goes with them). `archived` names the archive folder.
bool RetirePendingCopy(const std::filesystem::path& workFolder, const std::filesystem::path& copy,
                       std::filesystem::path& archived, std::string& error);

// The one copy that the router's USB identity proves to be its own: the only copy taken from a
// device with its USB serial number, or the only copy there is when it was taken at its USB
// port.
enum class UsbProof { Serial, Port };
struct ProvenCopy {
    std::size_t index = 0;
    UsbProof proof = UsbProof::Serial;
};
std::optional<ProvenCopy> ProvenByUsb(const std::vector<StoredBackup>& copies,
                                      const platform::UsbLocation& usb);

// The two backup folders hold the same NV items, EFS files and Wi-Fi MAC.
bool SameBackupData(const std::filesystem::path& first, const std::filesystem::path& second);

}  // namespace tapfix::nv
