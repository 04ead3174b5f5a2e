#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>

#include "app/device_watcher.hpp"
#include "app/notification_channel.hpp"
#include "app/update_worker.hpp"
#include "app_fakes.hpp"
#include "config/download_config.hpp"
#include "nv/backup_files.hpp"
#include "nv/nv_preservation.hpp"
#include "nv/pending_copies.hpp"
#include "platform/port_registry.hpp"
#include "sim/flash_model.hpp"
#include "support/file_bytes.hpp"
#include "support/pty_peer.hpp"
#include "support/session_fixture.hpp"

namespace tapfix::test {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

// The watcher and the worker against the simulated router, with this thread as the window:
// it serves the notification channel and records what it was told.
class UpdateThreadsTest : public SessionFixture {
  protected:
    UpdateThreadsTest() {
        // A whole update at a hundredth of its waits leaves a loaded machine too little time
        // for the router to re-enumerate; 3 % still runs it in seconds.
        platform::SetTimeScale(0.03);
        channel_.SetHandler([this](const session::Notification& n) { notifier_.Notify(n); });
        service_.SetNotifier(&channel_);
        service_.SetNvSteps(&nvSteps_);
        shared_.workFolder = work_;
    }

    std::unique_ptr<app::CDeviceWatcher> StartWatcher(platform::Clock& clock) {
        shared_.context = Context();
        auto watcher = std::make_unique<app::CDeviceWatcher>(*run_, shared_, channel_, clock);
        watcher->Start();
        return watcher;
    }

    // Serves the channel until `done` holds (bounded: the test fails rather than hangs).
    template <typename Done>
    bool ServeUntil(Done done) {
        for (int round = 0; round < 6000; ++round) {
            if (done()) {
                return true;
            }
            channel_.WaitAndServe(10ms);
        }
        return done();
    }

    // Watches until the router's port and version were shown, then stops the watcher as
    // "Update" does; hands back what it learnt.
    app::DeviceFacts WatchUntilShown() {
        auto watcher = StartWatcher(platform::SystemClock());
        EXPECT_TRUE(ServeUntil([&] {
            return !Texts(session::kNotifyPort).empty() &&
                   !Texts(session::kNotifyPort).back().empty();
        }));
        watcher->Stop();
        requestsAtStop_ = Events("request").size();
        Finish(*watcher);
        return watcher->Facts();
    }

    // Lets a stopped watcher run out: what it still sends is served (and dropped).
    void Finish(app::CDeviceWatcher& watcher) {
        EXPECT_TRUE(ServeUntil([&] { return !watcher.Alive(); }));
        watcher.Join();
    }

    int RunWorker(const app::DeviceFacts& facts) {
        app::CUpdateWorker worker(*run_, shared_, platform::SystemClock());
        // On this thread the channel hands every notification straight to the handler.
        return worker.RunUpdateWorker(facts);
    }

    std::vector<std::string> Texts(int kind) const { return notifier_.Texts(kind); }
    std::vector<int> EndResults() const {
        std::vector<int> results;
        for (const auto& n : notifier_.Recorded()) {
            if (n.kind == session::kNotifyEnd) {
                results.push_back(n.value);
            }
        }
        return results;
    }
    std::size_t LogLinesWith(std::string_view text) const {
        std::size_t count = 0;
        for (const std::string& line : Texts(session::kNotifyLog)) {
            count += line.find(text) != std::string::npos;
        }
        return count;
    }

    // A later program run: a session of its own, with the configuration the first run left.
    void StartNextRun() {
        nextRun_ = std::make_unique<session::CDownloadService>();
        std::string error;
        ASSERT_TRUE(config::LoadConfig(work_ / "download.xml", nextRun_->Config(), error)) << error;
        nextRun_->SetNotifier(&channel_);
        nextRun_->SetNvSteps(&nvSteps_);
        run_ = nextRun_.get();
        notifier_.Clear();
    }

    app::CNotificationChannel channel_;
    nv::CNvPreservation nvSteps_;
    app::SharedState shared_;
    std::unique_ptr<session::CDownloadService> nextRun_;
    session::CDownloadService* run_ = &service_;
    std::size_t requestsAtStop_ = 0;
};

// The data a restore must give back: the listed NV items and EFS files the router had, and
// its Wi-Fi MAC.
std::map<std::string, std::string> KeptData(const sim::DeviceState& state,
                                            const config::DownloadServiceConfig& config) {
    std::map<std::string, std::string> data;
    for (const auto* list : {&config.rfNv, &config.commonNv, &config.lockNv}) {
        for (const std::int32_t item : *list) {
            const auto value = state.nv.find(static_cast<std::uint16_t>(item));
            if (value != state.nv.end()) {
                data["nv " + std::to_string(item)].assign(value->second.begin(),
                                                          value->second.end());
            }
        }
    }
    std::vector<std::string> listed;
    for (const std::int32_t number : config.efsRfNv) {
        char name[16];
        std::snprintf(name, sizeof name, "%08d", number);
        listed.push_back(std::string("nv/item_files/rfnv/") + name);
    }
    for (const config::EfsNvFile& file : config.efsRfNvOver6w) {
        listed.push_back(file.efsPath);
    }
    for (const std::string& path : listed) {
        if (const auto file = state.efs.find(path); file != state.efs.end()) {
            data[path].assign(file->second.data.begin(), file->second.data.end());
        }
    }
    data["wifi mac"] = sim::WifiMacText(state);
    return data;
}

TEST_F(UpdateThreadsTest, NoRouterReportsNoDeviceOnceAndRunsTheInstallersOnce) {
    InstantClock clock;
    auto watcher = StartWatcher(clock);
    // Well past two 180-second windows of empty cycles.
    ASSERT_TRUE(ServeUntil([&] { return clock.Slept() > platform::ScaledWait(400s); }));
    EXPECT_TRUE(watcher->Stop());
    const std::size_t seenAtStop = notifier_.Recorded().size();
    Finish(*watcher);
    EXPECT_EQ(notifier_.Recorded().size(), seenAtStop) << "a stopped watcher said more";
    EXPECT_FALSE(watcher->Stop()) << "stopped twice";

    EXPECT_EQ(EndResults(), std::vector<int>{3});
    EXPECT_EQ(LogLinesWith("setup.exe"), 1u);
    EXPECT_EQ(LogLinesWith("setupOLD.exe"), 1u);
    EXPECT_GE(LogLinesWith("usb_modeswitch"), 2u);
    for (const std::string& port : Texts(session::kNotifyPort)) {
        EXPECT_EQ(port, "");
    }
}

TEST_F(UpdateThreadsTest, WatcherShowsPortAndVersionAndStaysOffTheLinkOnceStopped) {
    StartRouter();
    const app::DeviceFacts facts = WatchUntilShown();
    EXPECT_EQ(facts.imei, "359876543210984");
    EXPECT_EQ(facts.buildId, std::string(kBuildId) + "V01");
    EXPECT_FALSE(facts.version.empty());
    EXPECT_THAT(Texts(session::kNotifyVersion), ::testing::Contains(facts.version));
    EXPECT_EQ(Texts(session::kNotifyPort).back(),
              "COM" + std::to_string(router_->CurrentPort()->number));
    EXPECT_GT(requestsAtStop_, 0u);
    EXPECT_EQ(Events("request").size(), requestsAtStop_);
}

// A router that takes the IMEI request and never answers held "Update" and close for its three
// tries of 2 s; the exchange is abandoned instead.
TEST_F(UpdateThreadsTest, StopAbandonsAnUnansweredReadAtOnce) {
    platform::SetTimeScale(1.0);
    PtyPeer silent(3, "Qualcomm HS-USB Diagnostics 9025");
    silent.Respond([](const Bytes&) { return std::vector<PtyPeer::Write>{}; });
    auto watcher = StartWatcher(platform::SystemClock());
    ASSERT_TRUE(silent.WaitForRequests(1, 10s));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(watcher->Stop());
    EXPECT_LE(std::chrono::steady_clock::now() - start, 500ms);
    Finish(*watcher);
    EXPECT_EQ(silent.Requests().size(), 1u) << "the read was not tried again";
}

// Held by another opener, the port's reason is shown once, not every cycle, and taken back
// once the port opens.
TEST_F(UpdateThreadsTest, WhyThePortCannotBeOpenedIsShownOncePerReason) {
    PtyPeer router(3, "Qualcomm HS-USB Diagnostics 9025");
    router.Respond([](const Bytes&) { return std::vector<PtyPeer::Write>{}; });
    const int holder = ::open(platform::ResolvePortDevice(3)->c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const std::string held = "The router's port is held by app_tests (pid " +
                             std::to_string(::getpid()) + "). Close that program.";
    const auto hints = [this] { return Texts(session::kNotifyHint); };
    service_.Language().SetLanguage(config::UiLanguage::English);
    auto watcher = StartWatcher(platform::SystemClock());
    ASSERT_TRUE(ServeUntil([&] { return Texts(session::kNotifyPort).size() >= 3; }));
    EXPECT_EQ(hints(), std::vector<std::string>{held});
    ::close(holder);
    ASSERT_TRUE(ServeUntil([&] { return hints().size() == 2; }));
    EXPECT_EQ(hints().back(), "");
    watcher->Stop();
    Finish(*watcher);
}

TEST_F(UpdateThreadsTest, BuildIdAbsentFromTheImageGivesResultOneWithoutTouchingTheRouter) {
    sim::RouterOptions options = RouterOptions();
    options.defaults.buildIdPrefix = "M9615A-SOMEONEELSE-1.0.0001";
    StartRouter(options);
    const app::DeviceFacts facts = WatchUntilShown();
    ASSERT_FALSE(facts.buildId.empty());

    EXPECT_EQ(RunWorker(facts), app::kResultVersionMismatch);
    EXPECT_EQ(EndResults(), std::vector<int>{1});
    // The log tells why: the build id read and the ones the package names.
    EXPECT_EQ(LogLinesWith("refused, result 1: the router's version \"" + facts.version +
                           "\", build id \"M9615A-SOMEONEELSE-1.0.0001V"),
              1u);
    EXPECT_EQ(LogLinesWith("which names \"" + std::string(kBuildId)), 1u);
    EXPECT_EQ(Events("request").size(), requestsAtStop_);
    EXPECT_FALSE(shared_.updateRunning);
    EXPECT_FALSE(std::filesystem::exists(work_ / "SaveNV"));
}

TEST_F(UpdateThreadsTest, SignedOlderBuildIsNotWrittenUnlessDowngradesAreAllowed) {
    StartRouter();
    const app::DeviceFacts facts = WatchUntilShown();
    const std::string older = facts.buildId.substr(0, facts.buildId.rfind('V')) + "V00";
    shared_.packageBuildId = older;
    app::CUpdateWorker worker(service_, shared_, platform::SystemClock());
    EXPECT_EQ(worker.DecideRoute(facts, {}).route, app::UpdateRoute::VersionMismatch);
    EXPECT_EQ(LogLinesWith(older + " is older than the router's " + facts.buildId), 1u);
    shared_.allowDowngrade = true;
    EXPECT_EQ(worker.DecideRoute(facts, {}).route, app::UpdateRoute::Normal);
}

TEST_F(UpdateThreadsTest, NoImeiAndNoSavedBackupGivesResultTwoWithoutTouchingTheRouter) {
    StartRouter();
    router_->Modify([](sim::DeviceState& state) { state.nv.erase(sim::kNvImei); });
    const app::DeviceFacts facts = WatchUntilShown();
    ASSERT_TRUE(facts.imei.empty());
    ASSERT_FALSE(facts.buildId.empty());

    EXPECT_EQ(RunWorker(facts), app::kResultNoImei);
    EXPECT_EQ(EndResults(), std::vector<int>{2});
    EXPECT_EQ(LogLinesWith("refused, result 2: no IMEI read ("), 1u);
    EXPECT_EQ(Events("request").size(), requestsAtStop_);
}

// A router whose restore was cut short is half written: a backup of it would pass for its data.
TEST_F(UpdateThreadsTest, BackupOfARouterWhoseRestoreWasCutShortIsRefused) {
    StartRouter();
    const app::DeviceFacts facts = WatchUntilShown();
    const std::filesystem::path copy = work_ / "SaveNV" / ("IMEI-" + facts.imei);
    std::filesystem::create_directories(copy);
    WriteFileBytes(copy / nv::NvFileName(0), "");
    WriteFileBytes(copy / "device_identity", "imei=" + facts.imei + "\nrestore=incomplete\n");
    shared_.task = app::Task::Backup;

    EXPECT_NE(RunWorker(facts), app::kResultSuccess);
    EXPECT_FALSE(std::filesystem::exists(work_ / "NVArchive"));
}

// A failed update leaves the router's pending copy. Another router's copy waits at the same
// USB port, so nothing proves whose copy is whose when the router comes back blank: the user
// is asked, newest first, and only a yes writes a copy back.
TEST_F(UpdateThreadsTest, FailedUpdateKeepsItsCopyWhichReturnsOnlyWhenItsOwnerIsConfirmed) {
    sim::RouterOptions options = RouterOptions();
    std::string error;
    ASSERT_TRUE(options.faults.Parse("powerloss:3", &error)) << error;
    StartRouter(options);
    const sim::DeviceState original = router_->Snapshot();

    EXPECT_NE(RunWorker(WatchUntilShown()), app::kResultSuccess);
    const auto pending = nv::ListPendingCopies(work_);
    ASSERT_EQ(pending.size(), 1u) << "the failed update kept its backup";
    ASSERT_TRUE(router_->Snapshot().blank);
    const std::filesystem::path other = work_ / "SaveNV" / "IMEI-111111111111111";
    std::filesystem::create_directories(other / "ITEM_EFS_RFNV");
    std::filesystem::copy_file(pending[0].folder / "Channel0.nv", other / "Channel0.nv");
    nv::BackupRecord record = pending[0].record;
    record.imei = "111111111111111";
    record.time = "2000-01-01T00:00:00Z";
    ASSERT_TRUE(nv::WriteBackupRecord(other, record, error)) << error;

    for (const bool yes : {false, true}) {
        StartNextRun();
        const app::DeviceFacts blank = WatchUntilShown();
        EXPECT_TRUE(blank.buildId.empty());
        std::vector<std::string> questions;
        app::CUpdateWorker worker(*run_, shared_, platform::SystemClock());
        worker.SetQuestion([&](std::string_view question) {
            questions.emplace_back(question);
            return yes;
        });
        EXPECT_EQ(worker.RunUpdateWorker(blank),
                  yes ? app::kResultSuccess : app::kResultOwnerUnconfirmed);
        ASSERT_EQ(questions.size(), yes ? 1u : 2u);
        EXPECT_THAT(questions[0], HasSubstr("IMEI 359876543210984"));
        if (!yes) {
            EXPECT_THAT(questions[1], HasSubstr("IMEI 111111111111111"));
            EXPECT_TRUE(router_->Snapshot().blank) << "nothing was written";
            EXPECT_TRUE(router_->Snapshot().flash.empty());
            EXPECT_EQ(EndResults(), std::vector<int>{app::kResultOwnerUnconfirmed});
        }
    }
    const sim::DeviceState restored = router_->Snapshot();
    EXPECT_FALSE(restored.blank);
    const auto expected = KeptData(original, run_->Config());
    const auto actual = KeptData(restored, run_->Config());
    for (const auto& [what, data] : expected) {
        const auto found = actual.find(what);
        EXPECT_TRUE(found != actual.end() && found->second == data) << what << " not restored";
    }
    EXPECT_EQ(actual.size(), expected.size());
    EXPECT_EQ(nv::ListPendingCopies(work_).size(), 1u) << "a done resume finishes its copy only";
    EXPECT_THAT(Texts(session::kNotifyHint), ::testing::Contains(HasSubstr("подтвердили")))
        << "the tool says whose data it writes back, and why";
    EXPECT_EQ(EndResults(), std::vector<int>{0});
    EXPECT_EQ(notifier_.Progress().back(), 100);
}

TEST_F(UpdateThreadsTest, BackupThatCannotBeKeptStopsTheUpdateBeforeTheFirmware) {
    // The router's earlier copy cannot be archived, since a file holds the archive's name.
    std::filesystem::create_directories(work_ / "SaveNV" / "IMEI-359876543210984");
    std::ofstream(work_ / "SaveNV" / "IMEI-359876543210984" / "Channel0.nv")
        << std::string(136, 'x');
    std::ofstream(work_ / "NVArchive") << "";
    StartRouter();
    run_->Config().rfNv.resize(3);
    run_->Config().commonNv.clear();
    run_->Config().lockNv.clear();

    EXPECT_NE(RunWorker(WatchUntilShown()), app::kResultSuccess);
    EXPECT_EQ(LogLinesWith("The backup cannot be kept for this router"), 1u);
    EXPECT_TRUE(Events("image_written").empty());
    EXPECT_FALSE(router_->Snapshot().blank);
    EXPECT_EQ(std::filesystem::file_size(work_ / "SaveNV" / "IMEI-359876543210984" / "Channel0.nv"),
              136u);
}

TEST_F(UpdateThreadsTest, UpdateThatFailsBeforeItsBackupKeepsNoStaleBackup) {
    // A whole backup left by an earlier run of another router.
    std::ofstream(work_ / "Channel0.nv") << std::string(136, 'x');
    std::ofstream(work_ / "wifi_mac") << "0012AB34CD56";
    std::filesystem::create_directories(work_ / "ITEM_EFS_RFNV");
    std::ofstream(work_ / "ITEM_EFS_RFNV" / "00020085") << "rf";
    StartRouter();
    const app::DeviceFacts facts = WatchUntilShown();
    // The package check of the session fails before anything is backed up.
    std::filesystem::remove(work_ / "narmprg.bin");
    EXPECT_NE(RunWorker(facts), app::kResultSuccess);
    EXPECT_TRUE(nv::ListPendingCopies(work_).empty());
}

TEST_F(UpdateThreadsTest, ARouterThatLeftTakesWhatDetectionLearntOfItAlong) {
    // A router left waiting in its Sahara boot stage for an image.
    run_->Config().saharaProgrammer = 1;
    sim::RouterOptions waiting = RouterOptions(sim::DeviceMode::Download);
    waiting.profile.boot = sim::BootProtocol::Sahara;
    waiting.profile.saharaImageId = 13;
    StartRouter(waiting);
    std::string version;
    ASSERT_TRUE(run_->ReportDeviceVersion(0, Context().portNumber, version));
    ASSERT_TRUE(run_->ModeOf(0).saharaPending);
    auto watcher = StartWatcher(platform::SystemClock());
    ASSERT_TRUE(ServeUntil([&] { return !Texts(session::kNotifyPort).empty(); }));

    // It is unplugged, and another router is plugged in elsewhere.
    router_->Stop();
    sim::RouterOptions another = RouterOptions();
    another.usb = {.path = "1-2", .serial = ""};
    StartRouter(another);
    const std::string anotherPort = "COM" + std::to_string(router_->CurrentPort()->number);
    ASSERT_TRUE(ServeUntil([&] { return Texts(session::kNotifyPort).back() == anotherPort; }));
    watcher->Stop();
    Finish(*watcher);

    const auto mode = run_->ModeOf(0);
    EXPECT_FALSE(mode.saharaPending || mode.identified || mode.bootMode || mode.programmerMode);
}

// Two routers plugged in at different places. The watcher keeps to the one it found, and the
// update of that one, across its switch, its programmer's re-enumeration and its reset, never
// sends the other a byte, even though the other's port comes first in every listing.
class TwoRoutersTest : public UpdateThreadsTest,
                       public ::testing::WithParamInterface<sim::BootProtocol> {
  protected:
    // The other router, in its normal mode on a lower port number.
    void PlugInAnother() {
        sim::RouterOptions options = RouterOptions();
        options.firstPortNumber = 3;
        options.usb = {.path = "1-2", .serial = ""};
        other_ = std::make_unique<sim::SimulatedRouter>(std::move(options));
        std::string error;
        ASSERT_TRUE(other_->Start(&error)) << error;
    }

    std::size_t OtherRequests() const {
        const auto records = other_->TraceRecords();
        return static_cast<std::size_t>(std::count_if(records.begin(), records.end(), [](auto& r) {
            return r.at("event") == "request" || r.at("event") == "sahara";
        }));
    }

    std::unique_ptr<sim::SimulatedRouter> other_;
};

TEST_P(TwoRoutersTest, UpdateNeverTalksToTheOtherRouter) {
    const bool sahara = GetParam() == sim::BootProtocol::Sahara;
    run_->Config().saharaProgrammer = sahara ? 1 : 0;
    sim::RouterOptions options = RouterOptions();
    options.profile.boot = GetParam();
    options.profile.programmerReenumerates = true;
    StartRouter(options);
    const sim::DeviceState original = router_->Snapshot();
    auto watcher = StartWatcher(platform::SystemClock());
    ASSERT_TRUE(ServeUntil([&] { return !Texts(session::kNotifyPort).empty(); }));
    PlugInAnother();
    // Two more cycles of the watcher with both routers present.
    const std::size_t shown = Texts(session::kNotifyPort).size();
    ASSERT_TRUE(ServeUntil([&] { return Texts(session::kNotifyPort).size() >= shown + 2; }));
    watcher->Stop();
    Finish(*watcher);
    EXPECT_EQ(Texts(session::kNotifyPort).back(),
              "COM" + std::to_string(router_->CurrentPort()->number));

    EXPECT_EQ(RunWorker(watcher->Facts()), app::kResultSuccess)
        << ::testing::PrintToString(Texts(session::kNotifyLog));

    EXPECT_EQ(OtherRequests(), 0u);
    const sim::DeviceState updated = router_->Snapshot();
    std::set<std::string> flashed;
    for (const auto& image : updated.flash) {
        flashed.insert(image.second.sha256);
    }
    for (const config::DownloadFile& file : run_->Config().files) {
        const std::string bytes = ReadFileBytes(file.path);
        EXPECT_TRUE(flashed.contains(sim::flash::Sha256Hex(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))))
            << file.path;
    }
    EXPECT_EQ(KeptData(updated, run_->Config()), KeptData(original, run_->Config()));
    // The programmer came back on a port of its own: normal, boot stage, programmer, ...
    const auto added = Events("port_added");
    ASSERT_GE(added.size(), 3u);
    EXPECT_EQ(added[2].at("mode"), "programmer");
    EXPECT_NE(added[2].at("port"), added[1].at("port"));
}

INSTANTIATE_TEST_SUITE_P(Routes, TwoRoutersTest,
                         ::testing::Values(sim::BootProtocol::Dmss, sim::BootProtocol::Sahara),
                         [](const auto& info) {
                             return info.param == sim::BootProtocol::Sahara ? "Sahara"
                                                                            : "BootLoader";
                         });

}  // namespace
}  // namespace tapfix::test
