#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.hpp"
#include "session/download_service.hpp"
#include "sim/router.hpp"

namespace tapfix::bench {

// The last step the session announced (a hint names one, in the English texts) and its last
// log line, which tells why a step failed.
class StepNotifier : public session::Notifier {
  public:
    static constexpr std::string_view kFirstStep = "before the first step";

    void Notify(const session::Notification& notification) override;
    const std::string& Step() const { return step_; }
    const std::string& LastLine() const { return lastLine_; }

  private:
    std::string step_{kFirstStep};
    std::string lastLine_;
};

// What a session benchmark runs on: the reference firmware in a private work folder, its
// download.xml loaded into a download service (English texts, waits through `clock`), and a
// simulated router that runs the package's build id over `link`, in a private port registry.
class SessionHarness {
  public:
    struct Options {
        sim::DeviceMode mode = sim::DeviceMode::Normal;
        sim::LinkModel link;
        // The package's real sizes (about 139 MB) instead of a few MB.
        bool fullSizes = false;
        // The router's programmer leaves the boot stage's port and comes back on a new one.
        bool programmerReenumerates = false;
        // The NV steps the service runs; none: the actions that need them fail.
        session::NvSteps* nvSteps = nullptr;
        // Routers plugged in at once, each at a USB place of its own ("1-1", "1-2", ...).
        int routers = 1;
    };

    // A whole update's: the USB link model, a programmer that comes back on a new port (the
    // package sets high-speed USB), and these NV steps.
    static Options WholeUpdate(session::NvSteps& steps);

    SessionHarness(const Options& options, platform::Clock& clock = platform::SystemClock());
    ~SessionHarness();
    SessionHarness(const SessionHarness&) = delete;
    SessionHarness& operator=(const SessionHarness&) = delete;

    // Empty when the router runs with the firmware loaded.
    const std::string& Failure() const { return failure_; }
    session::CDownloadService& Service() { return service_; }
    sim::SimulatedRouter& Router(int index = 0) {
        return *routers_.at(static_cast<std::size_t>(index));
    }
    int RouterCount() const { return static_cast<int>(routers_.size()); }
    const StepNotifier& Steps() const { return notifier_; }
    const std::filesystem::path& WorkFolder() const { return work_; }
    // The context start-up would fill, with the router's current port; with several routers,
    // router `index`'s on slot `index`, followed by its USB place.
    session::PortContext Context(int index = 0) const;
    // Opens slot 0's link on the router's port; false with the reason in Failure().
    bool OpenLink();

  private:
    bool Prepare(const Options& options);

    std::filesystem::path folder_;
    std::filesystem::path work_;
    StepNotifier notifier_;
    session::CDownloadService service_;
    std::vector<std::unique_ptr<sim::SimulatedRouter>> routers_;
    std::string failure_;
};

}  // namespace tapfix::bench
