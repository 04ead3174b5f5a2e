#include "nv_steps_stand_in.hpp"

#include <algorithm>

namespace tapfix::test {

bool NvStepsStandIn::Call(const std::string& name) {
    std::lock_guard lock(mutex_);
    calls_.push_back(name);
    const auto failure = std::find_if(failures_.begin(), failures_.end(),
                                      [&](const auto& entry) { return entry.first == name; });
    if (failure == failures_.end() || failure->second == 0) {
        return true;
    }
    --failure->second;
    return false;
}

void NvStepsStandIn::Fail(const std::string& name, int times) {
    std::lock_guard lock(mutex_);
    failures_.emplace_back(name, times);
}

bool NvStepsStandIn::ReadBarcode(session::CDownloadService&, int, session::SessionRecord& record) {
    if (!Call("ReadBarcode")) {
        return false;
    }
    std::copy_n("TFX0001", 7, record.barcode.begin());
    return true;
}

bool NvStepsStandIn::OnboardBackup(session::CDownloadService&, bool, int) {
    return Call("OnboardBackup") && onboardBackup_;
}

bool NvStepsStandIn::BackupNvToFiles(session::CDownloadService& session, bool,
                                     session::SessionRecord& record, int) {
    if (!Call("BackupNvToFiles")) {
        return false;
    }
    record.nvBackupFile = std::filesystem::path(session.Config().nvFilePath) / "Channel0.nv";
    return true;
}

bool NvStepsStandIn::SaveWifiMac(session::CDownloadService&, int, session::SessionRecord& record) {
    if (!Call("SaveWifiMac")) {
        return false;
    }
    std::copy_n(kMac, 12, record.wifiMac.begin());
    return true;
}

bool NvStepsStandIn::RestoreAfterDownload(session::CDownloadService&, const session::PortContext&,
                                          session::SessionRecord& record) {
    {
        std::lock_guard lock(mutex_);
        restored_.push_back(record);
    }
    return Call("RestoreAfterDownload");
}

bool NvStepsStandIn::KeepPendingCopy(session::CDownloadService& session,
                                     session::PortContext& context, session::SessionRecord&) {
    if (!Call("KeepPendingCopy")) {
        return false;
    }
    context.pendingCopy =
        std::filesystem::path(session.Config().nvFilePath) / "SaveNV" / "stand-in";
    return true;
}

void NvStepsStandIn::RestoreStarting(session::CDownloadService&, const session::PortContext&) {
    Call("RestoreStarting");
}

void NvStepsStandIn::RestoreSucceeded(session::CDownloadService&,
                                      const session::PortContext& context) {
    Call("RestoreSucceeded");
    std::lock_guard lock(mutex_);
    finished_.push_back(context.pendingCopy);
}

std::vector<std::string> NvStepsStandIn::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<session::SessionRecord> NvStepsStandIn::Restored() const {
    std::lock_guard lock(mutex_);
    return restored_;
}

std::vector<std::filesystem::path> NvStepsStandIn::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

}  // namespace tapfix::test
