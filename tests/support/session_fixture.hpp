#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "session/download_service.hpp"
#include "sim/router.hpp"
#include "support/scoped_environment.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::test {

// Keeps every notification, in order; safe to read while the session runs on another thread.
class RecordingNotifier : public session::Notifier {
  public:
    void Notify(const session::Notification& notification) override;
    std::vector<session::Notification> Recorded() const;
    // The texts of one kind, in order.
    std::vector<std::string> Texts(int kind) const;
    // The progress values, in order.
    std::vector<int> Progress() const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<session::Notification> recorded_;
};

// A simulated router in a private port registry, and a work folder holding the reference
// firmware with its download.xml pointed at the folder and loaded into a download service.
// Waits run at a hundredth of their time.
class SessionFixture : public ::testing::Test {
  protected:
    static constexpr std::string_view kBuildId = "M9615A-TAPFIXTEST-3.1.0042";

    SessionFixture();
    ~SessionFixture() override;

    // A router that knows the package's programmers and runs the package's build id.
    sim::RouterOptions RouterOptions(sim::DeviceMode mode = sim::DeviceMode::Normal) const;
    void StartRouter(sim::RouterOptions options);
    void StartRouter() { StartRouter(RouterOptions()); }
    // The context start-up would fill, with the router's current port.
    session::PortContext Context() const;
    // Trace records of one event.
    std::vector<nlohmann::json> Events(std::string_view event) const;

    TempDir dir_;
    std::filesystem::path work_;
    std::unique_ptr<sim::SimulatedRouter> router_;
    RecordingNotifier notifier_;
    session::CDownloadService service_;

  private:
    ScopedEnvironment registry_{"TAPFIX_PORTS_DIR", (dir_.Path() / "ports").string()};
};

}  // namespace tapfix::test
