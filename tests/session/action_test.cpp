// A whole update from normal mode, and the end of every update.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "nv_steps_stand_in.hpp"
#include "session_checks.hpp"
#include "support/session_fixture.hpp"

namespace tapfix::session {
namespace {

using namespace std::chrono_literals;
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

// A saved backup as the resume and the restore-only action find it.
void WriteSavedBackup(const std::filesystem::path& folder, bool withMac) {
    std::filesystem::create_directories(folder / "ITEM_EFS_RFNV");
    std::ofstream(folder / "Channel0.nv", std::ios::binary) << std::string(136, '\0');
    if (withMac) {
        std::ofstream(folder / "wifi_mac", std::ios::binary).write("A1B2C3D4E5F6", 13);
    }
}

TEST_F(ActionTest, NormalUpdateRunsFromNormalModeToTheNewFirmware) {
    sim::RouterOptions options = RouterOptions();
    options.defaults.buildIdPrefix = std::string(kOldBuild);
    StartRouter(std::move(options));
    PortContext context = Context();
    const int normalPort = context.portNumber;
    std::string version;
    ASSERT_TRUE(service_.ReportDeviceVersion(0, normalPort, version));

    ASSERT_EQ(service_.Download(context), 0)
        << ::testing::PrintToString(test::HeardOf(notifier_.Recorded()));

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
    // The programmer keeps the boot loader's port and answers there: one look after the jump.
    for (const Heard& heard : {PortSearch(downloadPort), Hint("ID_HINT_SENDSECURITYCODE"),
                               Progress(19), Hint("ID_HINT_DOWNPARTITION"), Progress(20)}) {
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

    EXPECT_TRUE(service_.BackupTaken(0));
    // The NV steps ran where the update calls them: the backup kept as the router's pending
    // copy before the firmware, the restore with the backup's record, the copy finished last.
    EXPECT_EQ(nv_.Calls(), (std::vector<std::string>{"ReadBarcode", "ReadBarcode", "OnboardBackup",
                                                     "BackupNvToFiles", "SaveWifiMac",
                                                     "KeepPendingCopy", "RestoreStarting",
                                                     "RestoreAfterDownload", "RestoreSucceeded"}));
    EXPECT_EQ(nv_.Finished(), std::vector{context.pendingCopy});
    const auto restored = nv_.Restored().at(0);
    EXPECT_EQ(restored.nvBackupFile,
              std::filesystem::path(service_.Config().nvFilePath) / "Channel0.nv");
    EXPECT_STREQ(restored.wifiMac.data(), NvStepsStandIn::kMac);
    EXPECT_TRUE(restored.barcodeRead);
    EXPECT_TRUE(service_.WifiMacValid(0));

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

// The switch's 20 s bound the wait for the boot stage's port; the search after it follows.
struct LateBootStage {
    const char* name;
    std::chrono::milliseconds appearsAfter;
    int result;
};

class LateBootStageTest : public ActionTest, public ::testing::WithParamInterface<LateBootStage> {};

TEST_P(LateBootStageTest, IsWaitedForUpToTheSwitchsWait) {
    sim::RouterOptions options = RouterOptions();
    options.profile.downloaderTime = GetParam().appearsAfter;
    StartRouter(std::move(options));
    PortContext context = Context();
    std::string version;
    ASSERT_TRUE(service_.ReportDeviceVersion(0, context.portNumber, version));

    const platform::TimePoint start = service_.Clock().Now();
    EXPECT_EQ(service_.Download(context), GetParam().result);

    if (GetParam().result != 0) {
        test::ExpectInOrder(notifier_.Recorded(),
                            {{kNotifyLog, service_.Text("ID_ERROR_USBPORT")},
                             {kNotifyLog, service_.Text("ID_ERROR_SWITCHQUALDOWNMODE")}});
        // Given up by the session's own clock only after the wait and the 200 searches.
        EXPECT_GE(service_.Clock().Now() - start,
                  platform::ScaledWait(20000ms) + 199 * platform::ScaledWait(200ms));
    }
}

INSTANTIATE_TEST_SUITE_P(Switch, LateBootStageTest,
                         ::testing::Values(LateBootStage{"FifteenSecondsLate", 15000ms, 0},
                                           LateBootStage{"NeverThere", std::chrono::hours(1), -1}),
                         [](const auto& info) { return std::string(info.param.name); });

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
    const auto requests = Events("request");
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const auto& request) {
        return request.value("name", "") == "mode_change" && request.value("mode", 0) == 2 &&
               !request.contains("diag_error");
    })) << "the device accepted the restart";
}

TEST_F(ActionTest, RepairOfADeviceWaitingForSaharaWritesTheUrgentListAndStillFails) {
    // A boot stage that asks for one piece twice and two pieces out of order.
    service_.Config().saharaProgrammer = 1;
    sim::RouterOptions options = RouterOptions(sim::DeviceMode::Download);
    options.profile.boot = sim::BootProtocol::Sahara;
    options.profile.saharaImageId = 13;
    std::string error;
    ASSERT_TRUE(options.faults.Parse("sahara-repeat:3,sahara-swap:6", &error)) << error;
    StartRouter(std::move(options));
    PortContext context = Context();
    context.actionMode = kActionRepair;
    context.backupFirst = 0;
    context.nvRoot = work_ / "SaveNV";
    WriteSavedBackup(context.nvRoot, true);
    std::string version;
    ASSERT_TRUE(service_.ReportDeviceVersion(0, context.portNumber, version));
    ASSERT_TRUE(service_.ModeOf(0).saharaPending);

    EXPECT_EQ(service_.Download(context), -1);

    const auto loaded = Events("programmer_loaded");
    ASSERT_EQ(loaded.size(), 1U) << ::testing::PrintToString(notifier_.Texts(kNotifyLog));
    EXPECT_EQ(loaded[0].at("sha256"), test::FileSha256(work_ / "armprg.bin"))
        << "every piece was answered from where the device asked";
    std::vector<std::uint32_t> offsets;
    for (const auto& record : Events("sahara")) {
        if (record.at("name") == "read_data") {
            offsets.push_back(record.at("offset").get<std::uint32_t>());
        }
    }
    ASSERT_GT(offsets.size(), 7U);
    EXPECT_EQ(offsets[2], offsets[3]) << "asked twice";
    EXPECT_GT(offsets[5], offsets[6]) << "asked out of order";

    test::ExpectImagesWritten(Events("image_written"), service_.Config().urgentFiles);
    test::ExpectInOrder(notifier_.Recorded(),
                        {{kNotifyHint, service_.Text("ID_HINT_DOWNLOADARMPRG")},
                         {kNotifyHint, " Send Hello_Resp"},
                         {kNotifyHint, service_.Text("ID_HINT_SENDSECURITYCODE")},
                         {kNotifyHint, service_.Text("ID_HINT_DOWNPARTITION")},
                         {kNotifyHint, service_.Text("ID_HINT_DOWNSDPFILE") + "rpm"},
                         {kNotifyHint, service_.Text("ID_HINT_RESETSDP")},
                         {kNotifyLog, "ResetMobileSDP 0 InitPort:Com"}});
    // The urgent list's images go by 1,024-byte blocks: each moves the bar one point at a
    // time from just after its start to its end, counted from 4 against the total of both
    // lists.
    std::vector<int> expected = {0, 17, 2, 3};
    const std::uint64_t step = service_.Config().totalBytes / 70;
    std::uint64_t running = 0;
    for (const auto& entry : service_.Config().urgentFiles) {
        const int start = static_cast<int>(running / step) + 4;
        running += entry.size;
        const int end = start + static_cast<int>(entry.size / step);
        for (int value = std::max(start + 1, expected.back() + 1); value <= end; ++value) {
            expected.push_back(value);
        }
    }
    EXPECT_EQ(notifier_.Progress(), expected);
    EXPECT_TRUE(nv_.Calls().empty()) << "nothing is restored on this path";
    EXPECT_EQ(router_->CurrentPort()->mode, sim::DeviceMode::Normal);
}

TEST_F(ActionTest, SaharaTransferEndsAtOnceWhenAnotherImageIsAskedFor) {
    // The device waits with an image pending (id 13); the session saw no hello telling so.
    service_.Config().saharaProgrammer = 1;
    sim::RouterOptions options = RouterOptions(sim::DeviceMode::Download);
    options.profile.boot = sim::BootProtocol::Sahara;
    options.profile.saharaImageId = 13;
    StartRouter(std::move(options));
    PortContext context = Context();
    ASSERT_TRUE(service_.ReopenLink(0, context.portNumber));

    EXPECT_FALSE(service_.LoadProgrammerSahara(context));

    test::ExpectInOrder(notifier_.Recorded(),
                        {{kNotifyLog, "the device asked for image 13 instead of image 7"}});
    EXPECT_EQ(Events("sahara").size(), 3U) << "hello, hello response, one read-data request";
}

TEST_F(ActionTest, BackupOnlyActionKeepsTheMacBesideTheBackup) {
    nv_.SetOnboardBackup(true);
    PortContext context = Context();
    context.actionMode = kActionBackupNv;

    EXPECT_EQ(service_.Download(context), 0);

    EXPECT_EQ(nv_.Calls(), (std::vector<std::string>{"ReadBarcode", "OnboardBackup",
                                                     "BackupNvToFiles", "SaveWifiMac"}));
    EXPECT_EQ(service_.Operation(0), kActionBackupNv);
    EXPECT_EQ(service_.Config().partitionDownload, 1)
        << "the partition table this router's on-board backup needs is its own, not the next "
           "router's";
    const auto macFile = std::filesystem::path(service_.Config().nvFilePath) / "wifi_mac";
    const auto mac = test::FileBytes(macFile);
    EXPECT_EQ(std::string(mac.begin(), mac.end()), std::string(NvStepsStandIn::kMac, 13));
    EXPECT_EQ(std::filesystem::status(macFile).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << "the router's identity is the user's only";
}

TEST_F(ActionTest, BackupFailsWhenTheMacCannotBeRead) {
    nv_.Fail("SaveWifiMac");
    PortContext context = Context();
    context.actionMode = kActionBackupNv;

    EXPECT_EQ(service_.Download(context), -1);

    EXPECT_EQ(service_.Config().partitionDownload, 1) << "no on-board backup";
    EXPECT_FALSE(
        std::filesystem::exists(std::filesystem::path(service_.Config().nvFilePath) / "wifi_mac"));
}

// Restoring from a pending copy finishes it; from any other folder (an archive, the work
// folder) nothing is removed.
TEST_F(ActionTest, RestoreOnlyActionFinishesOnlyAPendingCopy) {
    for (const bool pending : {true, false}) {
        const auto saved = work_ / (pending ? "SaveNV/IMEI-359876543210984" : "NVArchive/a/b");
        WriteSavedBackup(saved, true);
        PortContext context = Context();
        context.actionMode = kActionRestoreNv;
        context.nvRoot = saved;
        context.pendingCopy = pending ? saved : std::filesystem::path();
        const auto finishedBefore = nv_.Finished().size();

        EXPECT_EQ(service_.Download(context), 0);

        EXPECT_STREQ(nv_.Restored().back().wifiMac.data(), "A1B2C3D4E5F6");
        EXPECT_EQ(nv_.Restored().back().nvBackupFile, saved / "Channel0.nv");
        test::ExpectInOrder(notifier_.Recorded(),
                            {{kNotifyHint, service_.Text("ID_SUCCESS_RESTORENV")}});
        EXPECT_EQ(nv_.Finished().size(), finishedBefore + (pending ? 1 : 0));
        EXPECT_TRUE(std::filesystem::exists(saved / "Channel0.nv"))
            << "the stand-in removes nothing";
        EXPECT_TRUE(std::filesystem::exists(work_ / "download.xml")) << "the work folder stays";
    }
}

struct ResumeCase {
    const char* name;
    bool macSaved;
    int restoreFailures;
    int result;
    // Lines telling of a failed repetition (none for the first attempt).
    int repetitionLines;
    bool backupRemoved;
};

class ResumeTest : public ActionTest, public ::testing::WithParamInterface<ResumeCase> {};

// A resume: the device runs its programmer after an update that failed, the backup waits in
// "SaveNV". The restore is tried up to four times, 10 s apart, the link reopened before each
// repetition; the pending copy is finished only after a restore that succeeded, and a copy
// without its MAC is refused before the firmware is written.
TEST_P(ResumeTest, RestoresFromTheSavedBackup) {
    const ResumeCase& c = GetParam();
    const auto saved = work_ / "SaveNV" / "IMEI-359876543210984";
    WriteSavedBackup(saved, c.macSaved);
    nv_.Fail("RestoreAfterDownload", c.restoreFailures);
    auto& files = service_.Config().files;
    files.erase(files.begin() + 1, files.end());
    StartRouter(RouterOptions(sim::DeviceMode::Programmer));
    PortContext context = Context();
    context.actionMode = kActionRepair;
    context.backupFirst = 0;
    context.nvRoot = saved;
    context.pendingCopy = saved;
    std::string version;
    ASSERT_TRUE(service_.ReportDeviceVersion(0, context.portNumber, version));

    EXPECT_EQ(service_.Download(context), c.result);

    const auto restored = nv_.Restored();
    EXPECT_EQ(restored.size(), c.macSaved ? std::min(c.restoreFailures + 1, 4) : 0);
    for (const auto& record : restored) {
        EXPECT_STREQ(record.wifiMac.data(), "A1B2C3D4E5F6");
        EXPECT_EQ(record.nvBackupFile, saved / "Channel0.nv");
    }
    const auto lines = notifier_.Texts(kNotifyLog);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "恢复nv失败，重新恢复!"), c.repetitionLines);
    EXPECT_EQ(nv_.Finished(),
              c.backupRemoved ? std::vector{saved} : std::vector<std::filesystem::path>{});
    // A saved backup that cannot be written back costs the router nothing.
    EXPECT_EQ(Events("image_written").size(), c.macSaved ? 1U : 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Resumes, ResumeTest,
    ::testing::Values(ResumeCase{"RestoredAtTheLastRepetition", true, 3, 0, 2, true},
                      ResumeCase{"RestoreFailsFourTimes", true, 4, -1, 3, false},
                      ResumeCase{"NoSavedMac", false, 0, -1, 0, false}),
    [](const ::testing::TestParamInfo<ResumeCase>& info) { return info.param.name; });

class ActionFailureTest;

struct ActionFailure {
    const char* name;
    std::function<void(ActionFailureTest&)> prepare;
    int actionMode;
    std::vector<Heard> heard;
};

class ActionFailureTest : public ActionTest, public ::testing::WithParamInterface<ActionFailure> {
  public:
    // The device found in the boot loader by the detection that runs before every action.
    void DetectBootLoader() {
        StartRouter(RouterOptions(sim::DeviceMode::Download));
        std::string version;
        ASSERT_TRUE(service_.ReportDeviceVersion(0, Context().portNumber, version));
    }
    void RemovePackageFile(const char* name) { std::filesystem::remove(work_ / name); }
    // A normal device that refuses the download-mode query every time.
    void CheckDownloadModeOfARefusingDevice() {
        service_.Config().checkDownloadMode = 1;
        sim::RouterOptions options = RouterOptions();
        std::string error;
        ASSERT_TRUE(options.faults.Parse("dlflag-refused:3", &error)) << error;
        StartRouter(std::move(options));
    }
    void DetachNvSteps() { service_.SetNvSteps(nullptr); }
    void SetNvOption(int option) { service_.Config().nvOption = option; }
};

TEST_P(ActionFailureTest, EndsBeforeTouchingTheDevice) {
    const ActionFailure& c = GetParam();
    c.prepare(*this);
    PortContext context = Context();
    context.actionMode = c.actionMode;
    notifier_.Clear();

    EXPECT_EQ(service_.Download(context), -1);

    EXPECT_EQ(test::HeardOf(notifier_.Recorded()), c.heard);
    EXPECT_TRUE(nv_.Calls().empty());
    EXPECT_FALSE(service_.BackupTaken(0)) << "nothing of this device may be kept for a resume";
    if (router_) {
        EXPECT_EQ(Events("port_removed").size(), 0U) << "the device stays where it is";
    }
}

const Heard kEnter{kNotifyLog, "CDownloadService::Download Enter", 0};
const Heard kLeave{kNotifyLog, "CDownloadService::Download Leave", 0};
const Heard kDownloadEnter{kNotifyLog, "CDownloadService::Operation_Download Enter", 0};

INSTANTIATE_TEST_SUITE_P(
    Actions, ActionFailureTest,
    ::testing::Values(
        ActionFailure{"ActionModeFour", [](ActionFailureTest&) {}, 4, {kEnter, kLeave}},
        ActionFailure{"NegativeActionMode", [](ActionFailureTest&) {}, -1, {kEnter, kLeave}},
        ActionFailure{"UpdateOfADeviceInBootMode",
                      [](ActionFailureTest& t) { t.DetectBootLoader(); },
                      kActionDownload,
                      {kEnter, kDownloadEnter, kLeave}},
        ActionFailure{"PackageWithoutBootLoaderProgrammer",
                      [](ActionFailureTest& t) { t.RemovePackageFile("narmprg.bin"); },
                      kActionDownload,
                      {kEnter,
                       kDownloadEnter,
                       {kNotifyLog, "Missing firmware file: narmprg.bin", 0},
                       kLeave}},
        ActionFailure{"DownloadModeRefused",
                      [](ActionFailureTest& t) { t.CheckDownloadModeOfARefusingDevice(); },
                      kActionDownload,
                      {kEnter,
                       kDownloadEnter,
                       {kNotifyHint, "Update started", 0},
                       {kNotifyLog, "The device is not in download mode", 0},
                       kLeave}},
        ActionFailure{"NoNvSteps",
                      [](ActionFailureTest& t) { t.DetachNvSteps(); },
                      kActionDownload,
                      {kEnter,
                       kDownloadEnter,
                       {kNotifyLog, "No NV steps are attached to the download service", 0},
                       kLeave}},
        ActionFailure{"RepairOfANormalDeviceWithoutNvPreservation",
                      [](ActionFailureTest& t) { t.SetNvOption(0); },
                      kActionRepair,
                      {kEnter, kLeave}}),
    [](const ::testing::TestParamInfo<ActionFailure>& info) { return info.param.name; });

}  // namespace
}  // namespace tapfix::session
