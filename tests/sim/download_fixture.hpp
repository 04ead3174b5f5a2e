#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host_script.hpp"
#include "sim_fixture.hpp"

namespace tapfix::sim::test {

// A router and the reference firmware (small sizes, its own build id) in a temporary folder,
// with the host's link that carries the command set.
class DownloadTest : public RouterTest {
  protected:
    static constexpr std::string_view kBuildId = "M9615A-TAPFIXTEST-3.1.0042";

    DownloadTest();
    // Knows the package's programmers; starts in `mode`.
    RouterOptions DownloadOptions(DeviceMode mode = DeviceMode::Download) const;
    // Starts the router without opening a link.
    void Launch(RouterOptions options);
    // Waits for the port of `mode` and opens the link on it without DTR, so that what the
    // device said first stays readable.
    PortInfo Connect(DeviceMode mode);
    // Trace records of one event.
    std::vector<nlohmann::json> Events(std::string_view event) const;
    host::Bytes File(const std::string& name) const { return host::ReadFile(firmware_ / name); }

    std::filesystem::path firmware_;
    host::HostLink link_;
};

}  // namespace tapfix::sim::test
