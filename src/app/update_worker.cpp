#include "app/update_worker.hpp"

#include <string>

#include "nv/nv_preservation.hpp"

namespace tapfix::app {

CUpdateWorker::CUpdateWorker(session::CDownloadService& service, SharedState& shared,
                             platform::Clock& clock)
    : service_(service), shared_(shared), clock_(clock) {}

int CUpdateWorker::RunUpdateWorker(const DeviceFacts& facts) {
    shared_.updateRunning = true;
    session::PortContext& context = shared_.context;
    const UpdateRoute route = DecideRoute(facts);
    int result = route == UpdateRoute::NoImei ? kResultNoImei : kResultVersionMismatch;
    if (route == UpdateRoute::Normal) {
        result = RunSession(context);
    } else if (route == UpdateRoute::Resume) {
        result = RunResume();
    }
    shared_.updateRunning = false;
    const bool sessionRan = route == UpdateRoute::Normal || route == UpdateRoute::Resume;
    // A router the package does not fit is left exactly as the watcher found it.
    if (sessionRan) {
        service_.AfterDownload(context);
    }
    if (result == kResultSuccess) {
        service_.NotifyProgress(context.slot, 100);
    } else if (route == UpdateRoute::Normal && context.actionMode == session::kActionDownload &&
               service_.BackupTaken()) {
        // Only a backup this update took is this router's: copying an older one into the
        // resume folder could later restore another router's identity onto this one.
        KeepBackupForResume();
    }
    service_.Notify(session::ValueNotification(session::kNotifyEnd, context.slot, result));
    return result;
}

UpdateRoute CUpdateWorker::DecideRoute(const DeviceFacts& facts) {
    const session::PortContext& context = shared_.context;
    if (facts.buildId.empty() && facts.imei.empty() && HasSavedBackup(context)) {
        return UpdateRoute::Resume;
    }
    if (!PackageMatchesDevice(shared_.workFolder / kImageFile, facts.buildId, clock_)) {
        return UpdateRoute::VersionMismatch;
    }
    if (!shared_.allowDowngrade && IsDowngrade(shared_.packageBuildId, facts.buildId)) {
        service_.LogLine(context.slot, "the package's signed build " + shared_.packageBuildId +
                                           " is older than the router's " + facts.buildId +
                                           ": not written (--allow-downgrade writes it)");
        return UpdateRoute::VersionMismatch;
    }
    if (!facts.imei.empty()) {
        return UpdateRoute::Normal;
    }
    return HasSavedBackup(context) ? UpdateRoute::Resume : UpdateRoute::NoImei;
}

int CUpdateWorker::RunSession(session::PortContext& context) {
    std::string version;
    service_.ReportDeviceVersion(context.slot, context.portNumber, version);
    service_.NotifyProgress(context.slot, 1);
    return service_.Download(context);
}

int CUpdateWorker::RunResume() {
    session::PortContext resume = shared_.context;
    resume.actionMode = session::kActionRepair;
    resume.backupFirst = 0;
    resume.nvRoot = shared_.context.nvRoot / kSavedBackupFolder;
    const int result = RunSession(resume);
    // The router may have come back on another port.
    shared_.context.portNumber = resume.portNumber;
    return result;
}

void CUpdateWorker::KeepBackupForResume() {
    std::string failure;
    if (!nv::SaveBackupCopy(shared_.context.nvRoot, failure)) {
        service_.LogLine(shared_.context.slot,
                         "the NV backup could not be kept for a later resume: " + failure);
    }
}

}  // namespace tapfix::app
