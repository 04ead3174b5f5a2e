#pragma once

#include <filesystem>
#include <string_view>

#include "app/package_match.hpp"
#include "app/shared_state.hpp"
#include "platform/clock.hpp"
#include "session/download_service.hpp"

namespace tapfix::app {

enum class UpdateRoute {
    Normal,           // back up, download, restore
    Resume,           // a blank router and a saved backup: repair and restore from the backup
    VersionMismatch,  // result 1, no session; also a signed downgrade without --allow-downgrade
    NoImei,           // result 2, no session
};

enum EndResult : int {
    kResultSuccess = 0,
    kResultVersionMismatch = 1,
    kResultNoImei = 2,
    kResultNoDevice = 3,
};

// Runs the update once, started by "Update": decides from what the watcher learnt whether the
// package fits the router, runs the download session, finishes the router, keeps the NV
// backup of a failed update for the next run, and sends the end result.
class CUpdateWorker {
  public:
    static constexpr std::string_view kImageFile = "dsp2.mbn";

    CUpdateWorker(session::CDownloadService& service, SharedState& shared, platform::Clock& clock);

    // The thread body; returns the end result it sent.
    int RunUpdateWorker(const DeviceFacts& facts);
    UpdateRoute DecideRoute(const DeviceFacts& facts);

  private:
    int RunSession(session::PortContext& context);
    int RunResume();
    void KeepBackupForResume();

    session::CDownloadService& service_;
    SharedState& shared_;
    platform::Clock& clock_;
};

}  // namespace tapfix::app
