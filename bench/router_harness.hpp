#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "bench_setup.hpp"
#include "host_script.hpp"
#include "sim/router.hpp"

namespace tapfix::bench {

// A simulated router in a private port registry, started in `mode` over `link`, and the
// host's link (with the command set) open on its port.
class RouterHarness {
  public:
    RouterHarness(sim::DeviceMode mode, const sim::LinkModel& link);
    ~RouterHarness();
    RouterHarness(const RouterHarness&) = delete;
    RouterHarness& operator=(const RouterHarness&) = delete;

    // Empty when the router runs and the host's port is open.
    const std::string& Failure() const { return failure_; }
    sim::host::HostLink& Host() { return host_; }
    sim::SimulatedRouter& Router() { return *router_; }
    const std::filesystem::path& Folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
    std::unique_ptr<sim::SimulatedRouter> router_;
    sim::host::HostLink host_;
    std::string failure_;
};

}  // namespace tapfix::bench
