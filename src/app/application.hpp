#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/device_watcher.hpp"
#include "app/notification_channel.hpp"
#include "app/shared_state.hpp"
#include "app/station.hpp"
#include "app/update_worker.hpp"
#include "app/window_controller.hpp"
#include "nv/nv_preservation.hpp"
#include "platform/clock.hpp"
#include "platform/debug_output.hpp"
#include "platform/single_instance.hpp"
#include "platform/work_folder.hpp"
#include "session/download_service.hpp"

namespace tapfix::app {

struct StartupOptions {
    // Empty: the per-user default.
    std::filesystem::path workFolder;
    // Empty: the package the running program carries.
    std::filesystem::path package;
    // The session's step texts; empty: the built-in ones.
    std::filesystem::path textFile;
    bool english = false;
    // The debug output goes to standard error too.
    bool verbose = false;
    // Where keys are trusted: an unsigned package is accepted all the same (and logged).
    bool allowUnsigned = false;
    // A package whose signed build id is older than the router's is written all the same.
    bool allowDowngrade = false;
    // The IMEI of the pending copy to write back to a router that cannot tell whose it is.
    std::string resumeImei;
    Task task = Task::Update;
    std::string restoreWhich;
    // For the log's header: the program with its version, and its arguments.
    std::string program;
    std::vector<std::string> arguments;
};

// The program from launch to end, for any front-end: it owns the download session, the shared
// state, the two background threads and the window controller, which drives the front-end's
// view. The front-end serves Channel() on its thread and feeds Controller() its user's input.
class CUpdateApplication : public UpdateControl {
  public:
    static constexpr std::string_view kInstanceName =
        "QVOMDM9215,BEB76632-0DFF-4771-B3A1-55DBFF6C6BAB";
    static constexpr std::string_view kAlreadyRunningText =
        "The program has been running. Cannot open it again!";
    static constexpr std::string_view kStartupFailedText = "11111111111111111111111111111!";

    enum class StartOutcome { Running, AlreadyRunning, Failed };

    // Constructed on the front-end's thread, which then serves the channel.
    explicit CUpdateApplication(View& view, platform::Clock& clock = platform::SystemClock());
    ~CUpdateApplication() override;
    CUpdateApplication(const CUpdateApplication&) = delete;
    CUpdateApplication& operator=(const CUpdateApplication&) = delete;

    // In order: one instance per user, the texts of the language, InitializeTool, the watcher.
    // A refusal or failure has been shown in a message box when this returns.
    StartOutcome Start(const StartupOptions& options);
    // As Start, but the station takes every router (StationOptions) instead of the watcher
    // taking one: the controller stays out of it, the observer sees every notification and the
    // log names each line's router.
    StartOutcome StartStation(const StartupOptions& options, const StationOptions& station);
    // The running station; none unless StartStation succeeded.
    CStation* Station() { return station_.get(); }
    // Work folder, package, port context, configuration. False with what failed in `failure`.
    bool InitializeTool(const StartupOptions& options, std::string& failure);
    // Ends the background threads; an update in progress is finished first.
    void Shutdown();

    CWindowController& Controller() { return controller_; }
    // The router as the watcher sees it may take "Update" for the user (ReadyForUpdate).
    bool ReadyForUpdate() const { return app::ReadyForUpdate(watcher_.Facts()); }
    CNotificationChannel& Channel() { return channel_; }
    // Sees every notification just before the window handles it (console output, events).
    void SetObserver(std::function<void(const session::Notification&)> observer);
    const std::filesystem::path& WorkFolder() const { return shared_.workFolder; }
    platform::DebugOutput& DebugOutput() { return debug_; }

    // UpdateControl
    bool UpdateRunning() const override { return shared_.updateRunning; }
    bool StopWatcher() override { return watcher_.Stop(); }
    void StartWorker() override;
    bool FinishDevice() override;
    void LanguageChanged(bool english) override;

  private:
    // The lock, the controller's texts and InitializeTool: what both starts share.
    StartOutcome Prepare(const StartupOptions& options);
    void HandleStationNotification(const session::Notification& notification);
    void FailStartup(std::string_view failure);
    // The package's signature judged before anything is unpacked; false with the refusal.
    bool AcceptSignature(const std::filesystem::path& package, const StartupOptions& options,
                         std::string& failure);
    // Asks the user on the front-end's thread; called by the worker.
    bool AskUser(std::string_view question);
    // Opens every run's log: program, options, work folder, package.
    void LogHeader(const StartupOptions& options, const std::filesystem::path& package);
    // The build ids the unpacked package names: what it accepts.
    void LogBuildIds();
    // Others may enter the folder the user named: say where the files went instead.
    void TellPrivateFolder(const platform::WorkFolder& folder, bool english);

    View& view_;
    platform::Clock& clock_;
    platform::DebugOutput debug_;
    CNotificationChannel channel_;
    session::CDownloadService service_;
    nv::CNvPreservation nvSteps_;
    SharedState shared_;
    CDeviceWatcher watcher_;
    CUpdateWorker worker_;
    CWindowController controller_;
    platform::SingleInstanceLock instanceLock_;
    std::function<void(const session::Notification&)> observer_;
    std::unique_ptr<CStation> station_;
    std::thread workerThread_;
    // Restarts the router when the window closes.
    std::thread finisherThread_;
    std::atomic<bool> finishing_{false};
};

// The package file the options name, else the running program's own (by its real name).
std::filesystem::path PackageSource(const StartupOptions& options);

}  // namespace tapfix::app
