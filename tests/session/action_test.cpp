// A whole update from normal mode, and the end of every update.
#include <gtest/gtest.h>

#include <algorithm>

#include "nv_steps_stand_in.hpp"
#include "session_checks.hpp"
#include "support/session_fixture.hpp"

namespace tapfix::session {
namespace {

using test::Heard;
using test::NvStepsStandIn;
using test::SessionFixture;

constexpr std::string_view kOldBuild = "M9615A-OLDFIRMWARE-1.0.0007";

class ActionTest : public SessionFixture {
  protected:
    ActionTest() {
        service_.SetNvSteps(&nv_);
        service_.Language().SetLanguage(config::UiLanguage::English);
    }

    Heard Hint(std::string_view key) const { return {kNotifyHint, service_.Text(key), 0}; }
    Heard Line(std::string text) const { return {kNotifyLog, std::move(text), 0}; }
    static Heard Progress(int percent) { return {kNotifyProgress, "", percent}; }
    static Heard PortSearch(int port) { return {kNotifyPortSearch, "", port}; }

    // What the images of the file list send, worked out from the progress arithmetic: each
    // checksummed block sends start + (end - start) * i / blocks, the image ends with end, and
    // no value is sent twice.
    std::vector<Heard> ExpectedImages() const {
        const auto& config = service_.Config();
        const std::uint64_t step = config.totalBytes / 70;
        std::uint64_t running = 0;
        int shown = 20;
        std::vector<Heard> heard;
        for (const auto& entry : config.files) {
            const std::string name = entry.path.stem().string();
            heard.push_back({kNotifyHint, service_.Text("ID_HINT_DOWNSDPFILE") + name + "...", 0});
            heard.push_back({kNotifyLog, service_.Text("ID_HINT_DOWNSDPFILE") + name + "(4)", 0});
            const int start = static_cast<int>(running / step) + 21;
            running += entry.size;
            const int end = start + static_cast<int>(entry.size / step);
            const std::uint64_t blocks = (entry.size + 131071) / 131072;
            for (std::uint64_t i = 0; i <= blocks; ++i) {
                const int value =
                    i == blocks ? end : start + static_cast<int>((end - start) * i / blocks);
                if (value > shown) {
                    heard.push_back(Progress(value));
                    shown = value;
                }
            }
        }
        return heard;
    }

    NvStepsStandIn nv_;
};

TEST_F(ActionTest, NormalUpdateRunsFromNormalModeToTheNewFirmware) {
    sim::RouterOptions options = RouterOptions();
    options.defaults.buildIdPrefix = std::string(kOldBuild);
    StartRouter(std::move(options));
    PortContext context = Context();
    const int normalPort = context.portNumber;
    std::string version;
    ASSERT_TRUE(service_.ReportDeviceVersion(0, normalPort, version));

    ASSERT_EQ(service_.Download(context), 0);

    const auto downloadPort = Events("port_added").at(1).at("port").get<int>();
    std::vector<Heard> expected = {
        Line("CDownloadService::Download Enter"),
        Line("CDownloadService::Operation_Download Enter"),
        Hint("ID_HINT_START"),
        Hint("ID_HINT_SWITCHQUALDOWNMODE"),
        Progress(16),
        PortSearch(normalPort),
        Hint("ID_HINT_DOWNLOADARMPRG"),
        Progress(17),
        Hint("ID_HINT_JUMPTOARMPRG"),
        Progress(18),
    };
    // The programmer keeps the boot loader's port, which is no diagnostic port: every pass
    // of the search after the jump finds it "absent".
    expected.insert(expected.end(), 100, PortSearch(downloadPort));
    for (const Heard& heard : {Hint("ID_HINT_SENDSECURITYCODE"), Progress(19),
                               Hint("ID_HINT_DOWNPARTITION"), Progress(20)}) {
        expected.push_back(heard);
    }
    const auto images = ExpectedImages();
    expected.insert(expected.end(), images.begin(), images.end());
    const int newPort = Context().portNumber;
    for (const Heard& heard :
         {Hint("ID_HINT_RESETSDP"), Progress(90),
          Line("ResetMobileSDP 0 InitPort:Com" + std::to_string(newPort) + " success"),
          Line("CDownloadService::Operation_Download Leave"),
          Line("CDownloadService::Download Leave")}) {
        expected.push_back(heard);
    }
    EXPECT_EQ(test::HeardOf(notifier_.Recorded()), expected);
    EXPECT_NE(downloadPort, normalPort) << "the switch moved the device to another port";
    EXPECT_EQ(context.portNumber, newPort) << "the context follows the device";

    // The NV steps ran where the update calls them, the restore with the backup's record.
    EXPECT_EQ(nv_.Calls(),
              (std::vector<std::string>{"ReadBarcode", "ReadBarcode", "OnboardBackup",
                                        "BackupNvToFiles", "SaveWifiMac", "RestoreAfterDownload"}));
    const auto restored = nv_.Restored().at(0);
    EXPECT_EQ(restored.nvBackupFile,
              std::filesystem::path(service_.Config().nvFilePath) / "Channel0.nv");
    EXPECT_STREQ(restored.wifiMac.data(), NvStepsStandIn::kMac);
    EXPECT_TRUE(restored.barcodeRead);
    EXPECT_TRUE(service_.WifiMacValid());

    // Every image reached the flash as it is in the package, and the device reports the
    // firmware it was given after the reset.
    test::ExpectImagesWritten(Events("image_written"), service_.Config().files);
    const auto state = router_->Snapshot();
    EXPECT_EQ(state.versions.back().rfind(std::string(kBuildId), 0), 0U) << state.versions.back();
    EXPECT_EQ(state.partitionTable, test::FileBytes(work_ / "partition.mbn"));
    const auto reboot = test::TraceIndex(router_->TraceRecords(), "reboot");
    const auto versionRead =
        test::TraceIndex(router_->TraceRecords(), "request", "software_version", reboot);
    EXPECT_LT(reboot, versionRead) << "the new firmware's version was read";
    EXPECT_EQ(service_.ModeOf(0).bootMode || service_.ModeOf(0).programmerMode, false);
}

TEST_F(ActionTest, AfterDownloadRetriesTheFlagThenRunsAutorunAndResets) {
    sim::RouterOptions options = RouterOptions();
    std::string error;
    ASSERT_TRUE(options.faults.Parse("dlflag-refused:1", &error)) << error;
    StartRouter(std::move(options));
    PortContext context = Context();
    ASSERT_TRUE(service_.ReopenLink(0, context.portNumber));

    service_.AfterDownload(context);

    const auto lines = notifier_.Texts(kNotifyLog);
    ASSERT_EQ(lines.size(), 5U) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "Enter AfterDownload:FuncEnableDLMode Function");
    // A refusal is an answer, not a link failure: no reason, and no stale one either.
    EXPECT_EQ(lines[1], "AfterDownload: 1 FuncEnableDLMode:");
    EXPECT_EQ(lines[2], "AfterDownload: 2 FuncEnableDLMode:success");
    EXPECT_EQ(lines[3], "Enter AfterDownload:ResetMobileDMP Function");
    EXPECT_EQ(lines[4], "AfterDownload: 1 ResetMobileDMP:success");
    const auto state = router_->Snapshot();
    EXPECT_EQ(state.specialDlMode, 0);
    EXPECT_EQ(state.autorun, 1);
    EXPECT_TRUE(router_->WaitFor([](const auto& port) { return !port.has_value(); },
                                 std::chrono::seconds(5)))
        << "the device restarts";
}

}  // namespace
}  // namespace tapfix::session
