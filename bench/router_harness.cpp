#include "router_harness.hpp"

#include <stdlib.h>

namespace tapfix::bench {

sim::LinkModel UsbLink() {
    sim::LinkModel link;
    link.latency = std::chrono::microseconds(500);
    link.bytesPerSecond = 30e6;
    return link;
}

RouterHarness::RouterHarness(sim::DeviceMode mode, const sim::LinkModel& link) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tapfix-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        failure_ = "cannot make a temporary folder";
        return;
    }
    folder_ = pattern;
    // The host finds the router's port through the registry, as it finds a real one.
    ::setenv("TAPFIX_PORTS_DIR", (folder_ / "ports").c_str(), 1);
    sim::RouterOptions options;
    options.registry = folder_ / "ports";
    options.initialMode = mode;
    options.profile.link = link;
    router_ = std::make_unique<sim::SimulatedRouter>(std::move(options));
    if (!router_->Start(&failure_)) {
        return;
    }
    if (!host_.OpenPort(router_->CurrentPort()->number)) {
        failure_ = "cannot open the router's port: " + host_.OpenFailure();
    }
}

RouterHarness::~RouterHarness() {
    host_.ClosePort();
    if (router_) {
        router_->Stop();
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

}  // namespace tapfix::bench
