#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/notification_channel.hpp"
#include "app/port_hint.hpp"
#include "app/shared_state.hpp"
#include "platform/clock.hpp"
#include "platform/port_enumeration.hpp"
#include "session/download_service.hpp"

namespace tapfix::app {

// Looks for the router while the user waits: every cycle it finds the diagnostic port, reads
// the IMEI and the software versions and shows port and version; without a router it runs the
// driver installers once, the mode switch every third empty cycle, and reports once that the
// USB device is not recognised after 180 seconds. Why the router's port cannot be opened is
// shown as a hint, once per reason.
class CDeviceWatcher {
  public:
    static constexpr int kNoDeviceResult = 3;

    // The service speaks to the front-end through `channel`.
    CDeviceWatcher(session::CDownloadService& service, SharedState& shared,
                   CNotificationChannel& channel, platform::Clock& clock);
    ~CDeviceWatcher();
    CDeviceWatcher(const CDeviceWatcher&) = delete;
    CDeviceWatcher& operator=(const CDeviceWatcher&) = delete;

    void Start();
    // Never undone. Abandons the exchange in progress and returns once the watcher has let go
    // of the device, so the caller has the port to itself; true when the watcher was still
    // watching. Safe on the channel's serving thread: the watcher never sends while it holds
    // the device.
    bool Stop();
    // Waits for the thread to end (after Stop).
    void Join();
    bool Alive() const { return alive_; }
    DeviceFacts Facts() const;

    // The thread body.
    int RunDeviceWatcher();
    // True once 180 seconds (scaled) have passed since its first call.
    bool WatchTimeElapsed();

  private:
    // A clock whose sleeps end early once the watcher is stopped.
    class StoppableClock : public platform::Clock {
      public:
        StoppableClock(platform::Clock& clock, const std::atomic<bool>& stopped)
            : clock_(clock), stopped_(stopped) {}
        platform::TimePoint Now() const override { return clock_.Now(); }
        void Sleep(platform::Milliseconds duration) override;

      private:
        platform::Clock& clock_;
        const std::atomic<bool>& stopped_;
    };

    // What the session says while the watcher holds the device, sent once it has let go: the
    // front-end may be waiting for the device meanwhile.
    class HeldNotifications : public session::Notifier {
      public:
        void Notify(const session::Notification& notification) override {
            held_.push_back(notification);
        }
        std::vector<session::Notification> Take() { return std::exchange(held_, {}); }

      private:
        std::vector<session::Notification> held_;
    };

    // Runs `traffic` with the port to itself; false (without running it) once stopped.
    template <typename Traffic>
    bool WithDevice(Traffic&& traffic);
    std::optional<int> FindPort();
    std::optional<platform::PortInfo> FindFollowedPort();
    // Another IMEI on the followed port is another router.
    void NoteImei(const std::string& imei);
    // Reads IMEI and versions; the reason when the port cannot be opened.
    std::optional<PortOpenFailure> ReadDevice(int port);
    void LogPortChange(std::optional<int> port);
    // The hint for the open failure when its reason changed (empty: the reason is gone).
    std::optional<std::string> ChangedOpenFailureHint(
        const std::optional<PortOpenFailure>& failure);
    void ForgetVersions();
    void MissedCycles();
    void Send(const session::Notification& notification);
    void Log(std::string_view text);

    session::CDownloadService& service_;
    SharedState& shared_;
    CNotificationChannel& channel_;
    std::atomic<bool> stopped_{false};
    std::atomic<bool> alive_{false};
    StoppableClock clock_;
    std::mutex traffic_;
    HeldNotifications held_;
    mutable std::mutex factsMutex_;
    DeviceFacts facts_;
    // The shared port context is the worker's once the watcher is stopped: the watcher keeps
    // its slot and touches the context only with the port to itself.
    int slot_ = 0;
    // Loop state, touched by the watcher's thread only.
    int misses_ = 0;
    bool driversInstalled_ = false;
    bool timeoutReported_ = false;
    std::optional<platform::TimePoint> watchStart_;
    // The router found last: its USB location, and its IMEI once read. Set while it is there.
    struct FollowedRouter {
        platform::UsbLocation usb;
        std::string imei;
    };
    std::optional<FollowedRouter> followed_;
    std::optional<int> loggedPort_;
    // The port found last is a download-mode port.
    bool downloadMode_ = false;
    // The open failure the hint line shows, empty when none.
    std::string shownFailure_;
    std::thread thread_;
};

}  // namespace tapfix::app
