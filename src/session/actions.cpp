// The four actions of Download, each a list of steps.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <string_view>

#include "device/diag_commands.hpp"
#include "platform/file_io.hpp"
#include "session/download_service.hpp"

namespace tapfix::session {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kMacFileName = "wifi_mac";
constexpr std::string_view kResumeNvFile = "Channel0.nv";
constexpr std::string_view kEfsFolderName = "ITEM_EFS_RFNV";
constexpr int kRestoreRepetitions = 3;

}  // namespace

int CDownloadService::Operation_Download(PortContext& context) {
    static constexpr Step<ActionRun> kSteps[] = {
        {.run = &CDownloadService::ReadyToAct},
        {.run = &CDownloadService::PackageReady},
        {.run = &CDownloadService::StartsInNormalMode},
        {.hintKey = "ID_HINT_START", .run = &CDownloadService::Proceed},
        {.when = &CDownloadService::ChecksDownloadMode,
         .run = &CDownloadService::DownloadModeConfirmed,
         .failureKey = "ID_ERROR_NONEDOWNMODE"},
        {.run = &CDownloadService::ReadBarcodeUnchecked},
        {.run = &CDownloadService::InitRecord},
        // A resume checks its saved backup before the firmware goes: one it could not write
        // back must not cost the router the firmware it has.
        {.when = &CDownloadService::Resumes, .run = &CDownloadService::LoadSavedBackup},
        {.when = &CDownloadService::BacksUpFirst, .run = &CDownloadService::BackupBeforeDownload},
        {.when = &CDownloadService::KeepsBackup, .run = &CDownloadService::KeepPendingCopy},
        {.run = &CDownloadService::RunDownloadSoftware},
        {.run = &CDownloadService::LeaveDownloadModes},
        // Marked before the reset: a router that restarts into the new firmware without its NV
        // items shows a version and no IMEI, which only a restore still due explains.
        {.when = &CDownloadService::HasPendingCopy, .run = &CDownloadService::MarkRestoreStarted},
        {.hintKey = "ID_HINT_RESETSDP",
         .progress = 90,
         .run = &CDownloadService::ResetAndReopen,
         .failureKey = "ID_ERROR_RESETSDP"},
        {.run = &CDownloadService::ReadNewVersion},
        {.run = &CDownloadService::RestoreWithRepetitions},
        {.when = &CDownloadService::HasPendingCopy, .run = &CDownloadService::FinishPendingCopy},
    };
    LogLine(context.slot, "CDownloadService::Operation_Download Enter");
    SessionRecord record;
    ActionRun run{context, record};
    if (!RunSteps(kSteps, run)) {
        return -1;
    }
    LogLine(context.slot, "CDownloadService::Operation_Download Leave");
    return 0;
}

int CDownloadService::Operation_Repair(PortContext& context) {
    static constexpr Step<ActionRun> kSteps[] = {
        {.run = &CDownloadService::ReadyToAct},
        {.run = &CDownloadService::RepairHasSomethingToDo},
        {.progress = 0, .run = &CDownloadService::Proceed},
        {.run = &CDownloadService::InitRecord},
        {.when = &CDownloadService::Resumes, .run = &CDownloadService::LoadSavedBackup},
        {.when = &CDownloadService::SaharaPendingOnSlot,
         .run = &CDownloadService::RepairPendingSahara},
        {.when = &CDownloadService::KeepsNv, .run = &CDownloadService::KeepPartitionTable},
        {.progress = 1, .run = &CDownloadService::RunDownloadSoftware},
        {.run = &CDownloadService::LeaveDownloadModes},
        {.when = &CDownloadService::HasPendingCopy, .run = &CDownloadService::MarkRestoreStarted},
        {.hintKey = "ID_HINT_RESETSDP",
         .run = &CDownloadService::ResetAndReopen,
         .failureKey = "ID_ERROR_RESETSDP"},
        {.run = &CDownloadService::RestoreWithRepetitions},
        {.when = &CDownloadService::HasPendingCopy, .run = &CDownloadService::FinishPendingCopy},
        {.progress = 100, .run = &CDownloadService::Proceed},
    };
    SessionRecord record;
    ActionRun run{context, record};
    return RunSteps(kSteps, run) ? 0 : -1;
}

int CDownloadService::Operation_BackupNV(PortContext& context) {
    static constexpr Step<ActionRun> kSteps[] = {
        {.run = &CDownloadService::ReadyToAct},
        {.run = &CDownloadService::InitRecord},
        {.run = &CDownloadService::BackupBeforeDownload},
        {.run = &CDownloadService::WriteMacFile},
    };
    if (!KnownSlot(context.slot)) {
        return -1;
    }
    SlotState(context.slot).operation = kActionBackupNv;
    ActionRun run{context, SlotState(context.slot).nvRecord};
    return RunSteps(kSteps, run) ? 0 : -1;
}

int CDownloadService::Operation_RestoreNV(PortContext& context) {
    static constexpr Step<ActionRun> kSteps[] = {
        {.run = &CDownloadService::ReadyToAct},
        {.run = &CDownloadService::InitRecord},
        {.run = &CDownloadService::LoadSavedBackup},
        {.when = &CDownloadService::HasPendingCopy, .run = &CDownloadService::MarkRestoreStarted},
        {.run = &CDownloadService::RestoreOnce},
        // Only a pending copy is the action's to clear: the folder it names may be an archive
        // or the work folder itself.
        {.hintKey = "ID_SUCCESS_RESTORENV", .run = &CDownloadService::Proceed},
        {.when = &CDownloadService::HasPendingCopy, .run = &CDownloadService::FinishPendingCopy},
    };
    if (!KnownSlot(context.slot)) {
        return -1;
    }
    SlotState(context.slot).operation = kActionRestoreNv;
    SessionRecord record;
    ActionRun run{context, record};
    return RunSteps(kSteps, run) ? 0 : -1;
}

// --- conditions ---

bool CDownloadService::ChecksDownloadMode(const ActionRun&) const {
    return config_.checkDownloadMode != 0;
}

bool CDownloadService::BacksUpFirst(const ActionRun& run) const {
    return run.context.backupFirst == 1;
}

bool CDownloadService::Resumes(const ActionRun& run) const {
    return run.context.backupFirst == 0;
}

bool CDownloadService::KeepsBackup(const ActionRun& run) const {
    return BacksUpFirst(run) && config_.nvOption != 0;
}

bool CDownloadService::HasPendingCopy(const ActionRun& run) const {
    return !run.context.pendingCopy.empty();
}

bool CDownloadService::SaharaPendingOnSlot(const ActionRun& run) const {
    return ModeOf(run.context.slot).saharaPending;
}

bool CDownloadService::KeepsNv(const ActionRun&) const {
    return config_.nvOption != 0;
}

// --- steps ---

bool CDownloadService::Proceed(ActionRun&) {
    return true;
}

bool CDownloadService::ReadyToAct(ActionRun& run) {
    if (!KnownSlot(run.context.slot)) {
        return false;
    }
    if (nvSteps_ == nullptr) {
        LogLine(run.context.slot, "No NV steps are attached to the download service");
        return false;
    }
    return true;
}

bool CDownloadService::PackageReady(ActionRun&) {
    return config_.loaded && CheckPackageFiles();
}

bool CDownloadService::StartsInNormalMode(ActionRun& run) {
    const SlotMode mode = ModeOf(run.context.slot);
    return !mode.bootMode && !mode.programmerMode;
}

bool CDownloadService::DownloadModeConfirmed(ActionRun& run) {
    return CheckDownloadMode(run.context.slot);
}

bool CDownloadService::ReadBarcodeUnchecked(ActionRun& run) {
    SessionRecord scratch;
    nvSteps_->ReadBarcode(*this, run.context.slot, scratch);
    return true;
}

bool CDownloadService::InitRecord(ActionRun& run) {
    InitSessionRecord(run.record);
    return true;
}

bool CDownloadService::BackupBeforeDownload(ActionRun& run) {
    const int slot = run.context.slot;
    SessionRecord& record = run.record;
    record.barcodeRead = nvSteps_->ReadBarcode(*this, slot, record);
    if (config_.nvOption != 0 && nvSteps_->OnboardBackup(*this, record.barcodeRead, slot)) {
        // The device keeps its NV data itself only under the partition table it has now.
        record.onboardBackup = true;
        SlotState(slot).keepsPartitionTable = true;
    }
    if (!nvSteps_->BackupNvToFiles(*this, record.barcodeRead, record, slot)) {
        return false;
    }
    if (WifiIdentityKept() && !SaveWifiMac(run)) {
        return false;
    }
    SlotState(slot).backupTaken = config_.nvOption != 0;
    return true;
}

bool CDownloadService::SaveWifiMac(ActionRun& run) {
    // The step hints its own failure and clears WifiMacValid for an all-zero MAC.
    return nvSteps_->SaveWifiMac(*this, run.context.slot, run.record);
}

bool CDownloadService::RunDownloadSoftware(ActionRun& run) {
    return DownloadSoftware(run.context);
}

bool CDownloadService::LeaveDownloadModes(ActionRun& run) {
    SetMode(run.context.slot, false, false);
    return true;
}

bool CDownloadService::ResetAndReopen(ActionRun& run) {
    return ResetMobileSDP(run.context);
}

bool CDownloadService::ReadNewVersion(ActionRun& run) {
    std::string text;
    if (ReportDeviceVersion(run.context.slot, run.context.portNumber, text)) {
        device::VersionRecord versions{};
        device::GetSoftwareVersion(Link(run.context.slot), versions);
    }
    return true;
}

bool CDownloadService::LoadSavedBackup(ActionRun& run) {
    const std::filesystem::path& folder = run.context.nvRoot;
    run.record.nvBackupFile = folder / kResumeNvFile;
    std::error_code ec;
    // Every backup of NV items has an EFS folder, empty or not: without it the RF calibration
    // files would not come back.
    const bool keepsNv = config_.nvOption == 1 || config_.nvOption == 2;
    if (keepsNv && !(std::filesystem::is_regular_file(run.record.nvBackupFile, ec) &&
                     std::filesystem::is_directory(folder / kEfsFolderName, ec))) {
        LogLine(run.context.slot, "The saved backup in " + folder.string() + " lacks " +
                                      std::string(kResumeNvFile) + " or " +
                                      std::string(kEfsFolderName));
        return false;
    }
    if (!WifiIdentityKept()) {
        return true;
    }
    const std::filesystem::path macFile = folder / kMacFileName;
    auto& mac = run.record.wifiMac;
    mac.fill('\0');
    std::ifstream saved(macFile, std::ios::binary);
    saved.read(mac.data(), static_cast<std::streamsize>(mac.size() - 1));
    if (saved.gcount() == 0) {
        LogLine(run.context.slot, "No saved Wi-Fi MAC in " + macFile.string());
        return false;
    }
    return true;
}

bool CDownloadService::KeepPendingCopy(ActionRun& run) {
    return nvSteps_->KeepPendingCopy(*this, run.context, run.record);
}

bool CDownloadService::MarkRestoreStarted(ActionRun& run) {
    nvSteps_->RestoreStarting(*this, run.context);
    return true;
}

bool CDownloadService::RestoreOnce(ActionRun& run) {
    return nvSteps_->RestoreAfterDownload(*this, run.context, run.record);
}

bool CDownloadService::RestoreWithRepetitions(ActionRun& run) {
    if (RestoreOnce(run)) {
        return true;
    }
    for (int repetition = 1; repetition <= kRestoreRepetitions; ++repetition) {
        ReopenLink(run.context.slot, run.context.portNumber);
        if (RestoreOnce(run)) {
            return true;
        }
        LogLine(run.context.slot, "恢复nv失败，重新恢复!");
        Pause(10000ms);
    }
    return false;
}

bool CDownloadService::FinishPendingCopy(ActionRun& run) {
    if (Resumes(run)) {
        Pause(500ms);
    }
    nvSteps_->RestoreSucceeded(*this, run.context);
    return true;
}

bool CDownloadService::WriteMacFile(ActionRun& run) {
    const SessionRecord& record = run.record;
    if (record.nvBackupFile.empty()) {
        // Nothing was backed up (NV preservation is off): no folder to put the MAC beside.
        LogLine(run.context.slot, "No NV backup file: wifi_mac not written");
        return true;
    }
    const std::filesystem::path file = record.nvBackupFile.parent_path() / kMacFileName;
    std::string error;
    // The MAC identifies the user's router: the file is the user's only, like the backup.
    if (!platform::WriteFileAtomically(
            file, std::string_view(record.wifiMac.data(), record.wifiMac.size()), error,
            platform::kPrivateFile)) {
        LogLine(run.context.slot, error);
        return false;
    }
    return true;
}

bool CDownloadService::RepairHasSomethingToDo(ActionRun& run) {
    const SlotMode mode = ModeOf(run.context.slot);
    return mode.bootMode || mode.programmerMode || config_.nvOption != 0;
}

bool CDownloadService::KeepPartitionTable(ActionRun& run) {
    SlotState(run.context.slot).keepsPartitionTable = true;
    return true;
}

bool CDownloadService::RepairPendingSahara(ActionRun& run) {
    static constexpr Step<PortContext> kSteps[] = {
        {.hintKey = "ID_HINT_DOWNLOADARMPRG",
         .run = &CDownloadService::LoadProgrammerByRoute,
         .failureKey = "ID_ERROR_DOWNLOADARMPRG"},
        {.when = &CDownloadService::OnBootLoaderRoute,
         .hintKey = "ID_HINT_JUMPTOARMPRG",
         .progress = 1,
         .run = &CDownloadService::StartProgrammer,
         .failureKey = "ID_ERROR_JUMPTOARMPRG"},
        {.hintKey = "ID_HINT_SENDSECURITYCODE",
         .progress = 2,
         .run = &CDownloadService::EnterTrustMode,
         .failureKey = "ID_ERROR_SENDSECURITYCODE"},
        {.hintKey = "ID_HINT_DOWNPARTITION",
         .progress = 3,
         .run = &CDownloadService::SendConfiguredPartitionTable,
         .failureKey = "ID_ERROR_DOWNPARTITION"},
        {.run = &CDownloadService::DownloadUrgentList, .failureKey = "ID_ERROR_DOWNLOADARMPRG"},
        {.hintKey = "ID_HINT_RESETSDP",
         .run = &CDownloadService::ResetMobileSDP,
         .failureKey = "ID_ERROR_RESETSDP"},
    };
    RunSteps(kSteps, run.context);
    // The slot still waits in its boot stage as far as the tables know: only the next
    // detection clears that, so the action ends here either way.
    return false;
}

}  // namespace tapfix::session
