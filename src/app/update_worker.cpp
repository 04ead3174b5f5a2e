#include "app/update_worker.hpp"

#include <string>
#include <utility>

#include "config/ui_text.hpp"
#include "device/nv_efs.hpp"
#include "nv/backup_files.hpp"
#include "nv/backup_store.hpp"
#include "nv/nv_text.hpp"

namespace tapfix::app {
namespace {

// Texts of the table (English id; the Russian one follows).
constexpr int kTextQuestion = 204;
constexpr int kTextIncompleteCopy = 206;
constexpr int kTextBackupKept = 228;
constexpr int kTextNeedsFirmware = 230;
constexpr int kTextUnanswered = 232;
constexpr int kTextNoSuchBackup = 234;
constexpr int kTextRestoring = 236;
constexpr int kTextRestoreCutShort = 238;
constexpr int kTextNeedsReplug = 254;
constexpr int kResultFailed = -1;
// What the worker says when it writes a copy back, by why the copy is the router's.
constexpr int kTextOwnerConfirmed = 216;
constexpr std::pair<Ownership, int> kOwnerTexts[] = {
    {Ownership::UsbSerial, 208},
    {Ownership::UsbPort, 210},
    {Ownership::Imei, 212},
    {Ownership::Chosen, 214},
};

constexpr std::uint16_t kNvInactive = 5;

int OwnerText(Ownership ownership) {
    for (const auto& [known, text] : kOwnerTexts) {
        if (known == ownership) {
            return text;
        }
    }
    return kTextOwnerConfirmed;
}

ImeiAnswer AnswerOf(const DeviceFacts& facts) {
    if (!facts.imei.empty()) {
        return ImeiAnswer::Read;
    }
    if (facts.imeiStatus == device::kNvStatusNoAnswer) {
        return ImeiAnswer::NoAnswer;
    }
    return facts.imeiStatus == kNvInactive ? ImeiAnswer::Inactive : ImeiAnswer::Refused;
}

// Whose a copy is, in words: its IMEI, else the name it is kept under.
std::string Whose(const nv::StoredBackup& copy) {
    return copy.record.imei.empty() ? nv::BackupName(copy.record) : copy.record.imei;
}

}  // namespace

CUpdateWorker::CUpdateWorker(session::CDownloadService& service, SharedState& shared,
                             platform::Clock& clock)
    : service_(service), shared_(shared), clock_(clock) {}

int CUpdateWorker::RunUpdateWorker(const DeviceFacts& facts) {
    shared_.updateRunning = true;
    probed_ = false;
    sessionRan_ = false;
    session::PortContext& context = shared_.context;
    const int result = RunTask(facts);
    shared_.updateRunning = false;
    // A router the package does not fit, or whose data is not here, is left as it was found.
    if (sessionRan_) {
        service_.AfterDownload(context);
    }
    if (result == kResultSuccess) {
        service_.NotifyProgress(context.slot, 100);
    }
    service_.Notify(session::ValueNotification(session::kNotifyEnd, context.slot, result));
    return result;
}

RouteDecision CUpdateWorker::DecideRoute(const DeviceFacts& facts,
                                         const std::vector<nv::StoredBackup>& pending) {
    return app::DecideRoute(Examine(facts), pending, shared_.resumeImei);
}

int CUpdateWorker::RunTask(const DeviceFacts& facts) {
    switch (shared_.task) {
        case Task::Backup:
            return RunBackup(facts);
        case Task::Restore:
            return RunRestore(facts);
        default:
            return RunUpdate(facts);
    }
}

int CUpdateWorker::RunUpdate(const DeviceFacts& facts) {
    const std::vector<nv::StoredBackup> pending = nv::ListPendingCopies(shared_.workFolder);
    const RouteDecision decision = DecideRoute(facts, pending);
    LogRefusal(decision.route, examined_);
    return RunRoute(decision, pending);
}

int CUpdateWorker::RunBackup(const DeviceFacts& facts) {
    // Only a router that says whose it is gets a backup of its own.
    if (facts.imei.empty()) {
        return kResultNoImei;
    }
    // Half written back, the router would pass for its own data in a newer backup.
    for (const nv::StoredBackup& copy : nv::ListPendingCopies(shared_.workFolder)) {
        if (copy.record.imei == facts.imei && copy.record.restore == nv::RestoreState::Incomplete) {
            return Refuse(kTextRestoreCutShort);
        }
    }
    session::PortContext context = shared_.context;
    context.actionMode = session::kActionBackupNv;
    if (RunSession(context) != kResultSuccess) {
        return kResultFailed;
    }
    const config::DownloadServiceConfig& config = service_.Config();
    const std::filesystem::path folder = service_.NvFolder(context.slot);
    const std::filesystem::path nvFile = folder / nv::NvFileName(context.slot);
    nv::BackupRecord record;
    std::string error;
    nv::ReadBackupRecord(folder, record, error);
    record.usb = context.usb;
    std::filesystem::path archived;
    if (!nv::ArchiveTakenBackup(shared_.workFolder,
                                nv::TakenBackup(nvFile, config.nvOption == 2 && config.ufi != 0),
                                record, archived, error)) {
        service_.LogLine(context.slot, "The backup cannot be archived: " + error);
        return kResultFailed;
    }
    TellBackup(archived);
    return kResultSuccess;
}

int CUpdateWorker::RunRestore(const DeviceFacts& facts) {
    const std::string which = shared_.restoreWhich.empty() ? facts.imei : shared_.restoreWhich;
    std::string error = "name it with --restore FOLDER or --restore IMEI";
    const std::optional<nv::StoredBackup> backup =
        which.empty() ? std::nullopt : nv::FindBackup(shared_.workFolder, which, error);
    if (!backup) {
        return Refuse(kTextNoSuchBackup, error);
    }
    const std::vector<nv::StoredBackup> named{*backup};
    return RunRoute(DecideRestore(Examine(facts), named, shared_.resumeImei), named);
}

int CUpdateWorker::RunRoute(const RouteDecision& decision,
                            const std::vector<nv::StoredBackup>& pending) {
    switch (decision.route) {
        case UpdateRoute::Normal:
            return RunSession(shared_.context);
        case UpdateRoute::Resume:
        case UpdateRoute::FinishRestore:
            break;
        case UpdateRoute::AskOwner: {
            const std::optional<std::size_t> confirmed = AskOwner(pending, decision.copies);
            if (!confirmed) {
                return kResultOwnerUnconfirmed;
            }
            return RunRoute({decision.confirmedRoute, {*confirmed}, Ownership::Confirmed}, pending);
        }
        case UpdateRoute::VersionMismatch:
            return kResultVersionMismatch;
        case UpdateRoute::NoImei:
            return kResultNoImei;
        case UpdateRoute::NoSavedData:
            return kResultNoSavedData;
        case UpdateRoute::OtherRouter:
            return kResultOtherRouter;
        case UpdateRoute::NeedsFirmware:
            return Refuse(kTextNeedsFirmware);
        case UpdateRoute::Unanswered:
            return Refuse(kTextUnanswered);
        case UpdateRoute::NeedsReplug:
            return Refuse(kTextNeedsReplug);
    }
    const nv::StoredBackup& copy = pending[decision.copies.front()];
    TellOwner(copy, decision.ownership);
    return RunFromCopy(copy, decision.route == UpdateRoute::Resume ? session::kActionRepair
                                                                   : session::kActionRestoreNv);
}

RouterFindings CUpdateWorker::Examine(const DeviceFacts& facts) {
    examined_ = facts;
    if (!facts.buildId.empty()) {
        return FromFacts(facts);
    }
    RouterFindings router;
    Probe(router);
    return router;
}

RouterFindings CUpdateWorker::FromFacts(const DeviceFacts& facts) {
    RouterFindings router;
    router.usb = shared_.context.usb;
    router.imei = facts.imei;
    router.imeiAnswer = AnswerOf(facts);
    router.versionRead = !facts.buildId.empty();
    router.packageFits =
        router.versionRead &&
        PackageMatchesDevice(shared_.workFolder / kImageFile, facts.buildId, clock_) &&
        !RefusedAsDowngrade(facts.buildId);
    return router;
}

bool CUpdateWorker::RefusedAsDowngrade(const std::string& buildId) {
    if (shared_.allowDowngrade || !IsDowngrade(shared_.packageBuildId, buildId)) {
        return false;
    }
    service_.LogLine(shared_.context.slot, "the package's signed build " + shared_.packageBuildId +
                                               " is older than the router's " + buildId +
                                               ": not written (--allow-downgrade writes it)");
    return true;
}

// The watcher saw no version: the router may wait in its download mode, or may have been too
// busy to answer then. Its mode is detected, and in normal mode it is read once more.
void CUpdateWorker::Probe(RouterFindings& router) {
    session::PortContext& context = shared_.context;
    std::string text;
    service_.ReportDeviceVersion(context.slot, context.portNumber, text);
    probed_ = true;
    const session::CDownloadService::SlotMode mode = service_.ModeOf(context.slot);
    if (mode.bootMode || mode.programmerMode || mode.saharaPending) {
        router.usb = context.usb;
        router.downloadMode = true;
        return;
    }
    const bool downloadPort = examined_.downloadMode;
    examined_ = ReadDeviceFacts(service_.Link(context.slot));
    router = FromFacts(examined_);
    router.silentInDownloadMode =
        downloadPort && !router.versionRead && router.imeiAnswer == ImeiAnswer::NoAnswer;
}

std::optional<std::size_t> CUpdateWorker::AskOwner(const std::vector<nv::StoredBackup>& pending,
                                                   const std::vector<std::size_t>& candidates) {
    if (!shared_.resumeImei.empty()) {
        service_.LogLine(shared_.context.slot,
                         "No saved copy that could be this router's has IMEI " +
                             shared_.resumeImei + " (--resume)");
    }
    for (const std::size_t index : candidates) {
        const nv::StoredBackup& copy = pending[index];
        std::string question =
            nv::FormatText(Text(kTextQuestion), {Whose(copy), nv::ShownTime(copy.record.time)});
        if (!copy.record.complete) {
            question += Text(kTextIncompleteCopy);
        }
        service_.LogLine(shared_.context.slot, question);
        if (question_ && question_(question)) {
            return index;
        }
    }
    service_.LogLine(shared_.context.slot, "No saved copy was confirmed: nothing is written");
    return std::nullopt;
}

void CUpdateWorker::LogRefusal(UpdateRoute route, const DeviceFacts& facts) {
    const auto quoted = [](std::string_view text) { return "\"" + std::string(text) + "\""; };
    std::string line;
    if (route == UpdateRoute::VersionMismatch) {
        std::string names;
        for (const std::string& name : ImageVersionStrings(shared_.workFolder / kImageFile)) {
            names += (names.empty() ? "" : ", ") + quoted(name);
        }
        line =
            "refused, result 1: the router's version " + quoted(facts.version) + ", build id " +
            quoted(facts.buildId) +
            (facts.versionError.empty() ? "" : " (the read failed: " + facts.versionError + ")") +
            "; the package takes a build id whose part before its last \"V\" occurs in " +
            std::string(kImageFile) + ", which names " + (names.empty() ? "none" : names);
    } else if (route == UpdateRoute::NoImei) {
        line = "refused, result 2: no IMEI read (" +
               (facts.imeiError.empty() ? std::string("none given") : facts.imeiError) +
               "), build id " + quoted(facts.buildId) + " fits the package, and no saved copy in " +
               shared_.workFolder.string() + " is this router's";
    } else {
        return;
    }
    service_.LogLine(shared_.context.slot, line);
}

int CUpdateWorker::RunSession(session::PortContext& context) {
    if (!probed_) {
        std::string version;
        service_.ReportDeviceVersion(context.slot, context.portNumber, version);
    }
    service_.NotifyProgress(context.slot, 1);
    sessionRan_ = true;
    return service_.Download(context);
}

int CUpdateWorker::RunFromCopy(const nv::StoredBackup& copy, int actionMode) {
    session::PortContext resume = shared_.context;
    resume.actionMode = actionMode;
    resume.backupFirst = 0;
    resume.nvRoot = copy.folder;
    // Only a pending copy is finished by its restore; an archive stays as it is.
    resume.pendingCopy =
        nv::IsPendingCopy(shared_.workFolder, copy.folder) ? copy.folder : std::filesystem::path();
    const int result = RunSession(resume);
    // The router may have come back on another port.
    shared_.context.portNumber = resume.portNumber;
    return result;
}

void CUpdateWorker::TellOwner(const nv::StoredBackup& copy, Ownership ownership) {
    const int text = shared_.task == Task::Restore && ownership == Ownership::Imei
                         ? kTextRestoring
                         : OwnerText(ownership);
    Hint(nv::FormatText(Text(text), {Whose(copy), nv::ShownTime(copy.record.time)}));
}

void CUpdateWorker::TellBackup(const std::filesystem::path& folder) {
    const std::optional<nv::BackupSummary> kept = nv::Summarize(folder, nv::BackupPlace::Archive);
    if (!kept) {
        return;
    }
    Hint(nv::FormatText(Text(kTextBackupKept),
                        {Whose(kept->backup), folder.string(), std::to_string(kept->nvItems),
                         std::to_string(kept->efsFiles),
                         kept->wifiMac.empty() ? "-" : std::string(kept->wifiMac)}));
}

int CUpdateWorker::Refuse(int englishId, std::string_view detail) {
    Hint(nv::FormatText(Text(englishId), {detail}));
    return kResultFailed;
}

void CUpdateWorker::Hint(const std::string& text) {
    const int slot = shared_.context.slot;
    service_.LogLine(slot, text);
    service_.Notify(session::TextNotification(session::kNotifyHint, slot, text));
}

std::string_view CUpdateWorker::Text(int englishId) const {
    return config::LoadUiText(englishId, englishId + 1,
                              service_.Language().Language() == config::UiLanguage::English);
}

}  // namespace tapfix::app
