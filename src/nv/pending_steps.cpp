// The session's steps around the router's pending copy.
#include "nv/backup_files.hpp"
#include "nv/nv_preservation.hpp"
#include "nv/pending_copies.hpp"

namespace tapfix::nv {
namespace {

namespace fs = std::filesystem;

fs::path WorkFolder(const CDownloadService& session) {
    return session.Config().nvFilePath;
}

std::string EarlierCopyText(const CommittedCopy& committed) {
    if (committed.earlierMatched) {
        return "The router's earlier pending copy held the same data; it is archived in " +
               committed.archivedEarlier.string();
    }
    return "The router's earlier pending copy held other data; it is archived in " +
           committed.archivedEarlier.string() + ", from where it can still be restored";
}

}  // namespace

bool CNvPreservation::KeepPendingCopy(CDownloadService& session, PortContext& context,
                                      SessionRecord& record) {
    const config::DownloadServiceConfig& config = session.Config();
    const BackupSource files =
        TakenBackup(record.nvBackupFile, config.nvOption == 2 && config.ufi != 0);
    BackupRecord whose = backupRecords_.at(static_cast<std::size_t>(context.slot));
    whose.usb = context.usb;
    CommittedCopy committed;
    std::string error;
    if (!CommitPendingCopy(WorkFolder(session), files, whose, committed, error)) {
        session.LogLine(context.slot, "The backup cannot be kept for this router (" + error +
                                          "): nothing is written to it");
        return false;
    }
    if (!committed.archivedEarlier.empty()) {
        session.LogLine(context.slot, EarlierCopyText(committed));
    }
    session.LogLine(context.slot, "The router's backup is kept in " + committed.folder.string() +
                                      " until its data is back");
    context.pendingCopy = committed.folder;
    record.nvBackupFile = committed.folder / NvFileName(0);
    return true;
}

void CNvPreservation::RestoreStarting(CDownloadService& session, const PortContext& context) {
    std::string error;
    if (!MarkRestore(context.pendingCopy, RestoreState::Incomplete, error)) {
        session.LogLine(context.slot, "The pending copy cannot record its restore: " + error);
    }
}

void CNvPreservation::RestoreSucceeded(CDownloadService& session, const PortContext& context) {
    fs::path archived;
    std::string error;
    if (!RetirePendingCopy(WorkFolder(session), context.pendingCopy, archived, error)) {
        session.LogLine(context.slot, "The restored copy " + context.pendingCopy.string() +
                                          " stays where it is: " + error);
        return;
    }
    session.LogLine(context.slot,
                    "The router has its data back; its backup is archived in " + archived.string());
}

}  // namespace tapfix::nv
