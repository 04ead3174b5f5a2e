#include "router_harness.hpp"

namespace tapfix::bench {

RouterHarness::RouterHarness(sim::DeviceMode mode, const sim::LinkModel& link) {
    if (!MakePrivateFolder(folder_, failure_)) {
        return;
    }
    sim::RouterOptions options;
    options.registry = PortRegistry(folder_);
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
    RemoveFolder(folder_);
}

}  // namespace tapfix::bench
