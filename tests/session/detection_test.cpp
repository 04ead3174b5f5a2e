#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "support/session_fixture.hpp"

namespace tapfix::session {
namespace {

using test::SessionFixture;

struct DetectionCase {
    const char* name;
    bool device = true;
    sim::DeviceMode mode = sim::DeviceMode::Normal;
    sim::BootProtocol boot = sim::BootProtocol::Dmss;
    std::uint32_t saharaImageId = 7;
    const char* faults = "";
    bool saharaOption = false;
    bool found = true;
    CDownloadService::SlotMode expected{};
    // The first version text the device's version text shows; empty: its own first version.
    const char* shown = "";
};

class DetectionTest : public SessionFixture, public ::testing::WithParamInterface<DetectionCase> {
  protected:
    void SetUp() override { service_.Language().SetLanguage(config::UiLanguage::English); }
};

TEST_P(DetectionTest, RecordsTheModeTheDeviceSpeaks) {
    const DetectionCase& c = GetParam();
    service_.Config().saharaProgrammer = c.saharaOption ? 1 : 0;
    if (c.device) {
        sim::RouterOptions options = RouterOptions(c.mode);
        options.profile.boot = c.boot;
        options.profile.saharaImageId = c.saharaImageId;
        std::string error;
        ASSERT_TRUE(options.faults.Parse(c.faults, &error)) << error;
        StartRouter(std::move(options));
    }
    const int port = c.device ? Context().portNumber : 3;

    std::string text = "stale";
    EXPECT_EQ(service_.ReportDeviceVersion(0, port, text), c.found);

    const auto mode = service_.ModeOf(0);
    EXPECT_EQ(mode.bootMode, c.expected.bootMode);
    EXPECT_EQ(mode.programmerMode, c.expected.programmerMode);
    EXPECT_EQ(mode.saharaPending, c.expected.saharaPending);
    EXPECT_EQ(mode.identified, c.found);
    if (!c.found) {
        EXPECT_EQ(text, "");
        return;
    }
    std::string expectedText;
    if (*c.shown == '\0') {
        const auto versions = router_->Snapshot().versions;
        expectedText = "Software:" + versions[0] + ";PC:" + versions[1] + ";MAC:" + versions[2] +
                       ";Build:" + versions[3];
    } else {
        expectedText = std::string("Software:") + c.shown + ";PC:;MAC:;Build:";
    }
    EXPECT_EQ(text, expectedText);
}

using Mode = sim::DeviceMode;
using Boot = sim::BootProtocol;
using Slot = CDownloadService::SlotMode;

INSTANTIATE_TEST_SUITE_P(
    EveryMode, DetectionTest,
    ::testing::Values(DetectionCase{.name = "Normal"},
                      DetectionCase{.name = "NormalWithoutVersionCommand",
                                    .faults = "diagerror:0x39",
                                    .shown = "SW not support 0x39"},
                      DetectionCase{.name = "NormalWithSaharaOption", .saharaOption = true},
                      DetectionCase{.name = "BootLoader",
                                    .mode = Mode::Download,
                                    .expected = Slot{.bootMode = true},
                                    .shown = "Phone in boot mode"},
                      DetectionCase{.name = "Programmer",
                                    .mode = Mode::Programmer,
                                    .expected = Slot{.programmerMode = true},
                                    .shown = "Phone in armprg mode"},
                      DetectionCase{.name = "SaharaWithImagePending",
                                    .mode = Mode::Download,
                                    .boot = Boot::Sahara,
                                    .saharaImageId = 13,
                                    .saharaOption = true,
                                    .expected = Slot{.bootMode = true, .saharaPending = true},
                                    .shown = "Phone in boot mode"},
                      DetectionCase{.name = "SaharaLoadingItsImage",
                                    .mode = Mode::Download,
                                    .boot = Boot::Sahara,
                                    .saharaOption = true,
                                    .expected = Slot{.bootMode = true},
                                    .shown = "Phone in boot mode"},
                      DetectionCase{.name = "NoDevice", .device = false, .found = false}),
    [](const ::testing::TestParamInfo<DetectionCase>& info) { return info.param.name; });

// On Linux another program (ModemManager, mostly) may hold the router's port; the log must say
// who, or a failed update cannot be told from a missing router.
TEST_F(SessionFixture, APortHeldByAnotherProgramIsNamedInTheLog) {
    StartRouter();
    const int port = Context().portNumber;
    const auto path = dir_.Path() / "ports" / ("COM" + std::to_string(port));
    const int held = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    std::string text;
    EXPECT_FALSE(service_.ReportDeviceVersion(0, port, text));
    ::close(held);

    const auto lines = notifier_.Texts(kNotifyLog);
    const std::string holder = std::string(program_invocation_short_name).substr(0, 15) + " (pid " +
                               std::to_string(::getpid()) + ")";
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find("is held by " + holder) != std::string::npos;
    })) << ::testing::PrintToString(lines);
    EXPECT_TRUE(service_.ReportDeviceVersion(0, port, text)) << "the port is free again";
}

}  // namespace
}  // namespace tapfix::session
