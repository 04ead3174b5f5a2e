#include "download_fixture.hpp"

#include "reference/firmware.hpp"

namespace tapfix::sim::test {

using namespace std::chrono_literals;

DownloadTest::DownloadTest() : firmware_(dir_.Path() / "firmware") {
    reference::ReferenceFirmwareOptions options;
    options.output = firmware_;
    options.buildId = std::string(kBuildId);
    std::string error;
    EXPECT_TRUE(reference::GenerateReferenceFirmware(options, error)) << error;
}

RouterOptions DownloadTest::DownloadOptions(DeviceMode mode) const {
    RouterOptions options = Options();
    options.initialMode = mode;
    std::string error;
    EXPECT_TRUE(LoadProgrammers(firmware_, options.profile, &error)) << error;
    return options;
}

void DownloadTest::Launch(RouterOptions options) {
    router_ = std::make_unique<SimulatedRouter>(std::move(options));
    std::string error;
    ASSERT_TRUE(router_->Start(&error)) << error;
}

PortInfo DownloadTest::Connect(DeviceMode mode) {
    PortInfo port;
    EXPECT_TRUE(router_->WaitForPort(mode, 5s, &port)) << ModeName(mode) << " port missing";
    link_.ClosePort();
    EXPECT_TRUE(link_.OpenPortNoDtr(port.number)) << link_.OpenFailure();
    return port;
}

std::vector<nlohmann::json> DownloadTest::Events(std::string_view event) const {
    std::vector<nlohmann::json> found;
    for (const auto& record : router_->TraceRecords()) {
        if (record.at("event") == event) {
            found.push_back(record);
        }
    }
    return found;
}

}  // namespace tapfix::sim::test
