#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "session/download_service.hpp"
#include "session/nv_steps.hpp"

namespace tapfix::test {

// NV steps that touch no device and write nothing: each call is recorded by name; a step can
// be told to fail a number of times. The backup names "Channel0.nv" in the configuration's NV
// folder, the pending copy is "SaveNV/stand-in" there, and the MAC step fills the record with
// kMac.
class NvStepsStandIn : public session::NvSteps {
  public:
    static constexpr const char* kMac = "0A1B2C3D4E5F";

    bool ReadBarcode(session::CDownloadService& session, int slot,
                     session::SessionRecord& record) override;
    bool OnboardBackup(session::CDownloadService& session, bool barcodeRead, int slot) override;
    bool BackupNvToFiles(session::CDownloadService& session, bool barcodeRead,
                         session::SessionRecord& record, int slot) override;
    bool SaveWifiMac(session::CDownloadService& session, int slot,
                     session::SessionRecord& record) override;
    bool KeepPendingCopy(session::CDownloadService& session, session::PortContext& context,
                         session::SessionRecord& record) override;
    bool RestoreAfterDownload(session::CDownloadService& session,
                              const session::PortContext& context,
                              session::SessionRecord& record) override;
    void RestoreStarting(session::CDownloadService& session,
                         const session::PortContext& context) override;
    void RestoreSucceeded(session::CDownloadService& session,
                          const session::PortContext& context) override;

    // The next `times` calls of the step named `name` fail.
    void Fail(const std::string& name, int times = 1);
    void SetOnboardBackup(bool kept) { onboardBackup_ = kept; }

    std::vector<std::string> Calls() const;
    // What the restores were handed, in order.
    std::vector<session::SessionRecord> Restored() const;
    // The pending copies whose restore succeeded, in order.
    std::vector<std::filesystem::path> Finished() const;

  private:
    // Records the call; false when it is to fail.
    bool Call(const std::string& name);

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<std::pair<std::string, int>> failures_;
    std::vector<session::SessionRecord> restored_;
    std::vector<std::filesystem::path> finished_;
    bool onboardBackup_ = false;
};

}  // namespace tapfix::test
