// A router gets back its own data and never another router's: interruptions as they happen at
// home and in shops, the console updater and the simulated routers run as programs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <sstream>

#include "e2e_driver.hpp"
#include "router_facts.hpp"

namespace tapfix::test::e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr std::string_view kImeiA = "359876543210984";
constexpr std::string_view kImeiB = "356938035643809";
constexpr std::string_view kImeiC = "490154203237518";

std::vector<std::string> Updater(std::vector<std::string> more = {}) {
    std::vector<std::string> args{"--yes", "--lang", "en"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

bool IsFault(const Json& record, std::string_view fault) {
    return record.value("event", "") == "fault" && record.value("fault", "") == fault;
}

// The scenes of the stories, through the one driver.
class IdentityEndToEnd : public ::testing::Test {
  protected:
    // A router with this IMEI (and a MAC of its own) is plugged in; its state before anything.
    Json PlugIn(std::string_view imei, std::string_view mac,
                const std::vector<std::string>& options) {
        driver_.PrepareRouter({"--imei", std::string(imei), "--mac", std::string(mac)},
                              [&](Json& state) {
                                  if (imei != kImeiA) {
                                      MakeAnotherRouter(state, imei);
                                  }
                              });
        driver_.StartSimulator(options);
        return driver_.State();
    }

    // Its update fails as the power goes in the third image: its pending copy stays. The
    // router's state before.
    Json PowerFailsInTheThirdImage(std::string_view imei, std::string_view mac) {
        const Json before = PlugIn(imei, mac, {"--faults", "powerloss:3"});
        const ProcessResult run = driver_.RunUpdater(Updater());
        EXPECT_EQ(run.exitStatus, 4) << run.out;
        driver_.StopSimulator();
        return before;
    }

    // The updater is killed after the third image (the router hangs as the fourth opens), and
    // the router, left half-written, is replugged: it comes back blank in download mode.
    void KilledAfterTheThirdImage() {
        const auto updater = driver_.StartUpdater(Updater());
        ASSERT_TRUE(
            driver_.WaitForTrace([](const Json& r) { return IsFault(r, "hang"); }, Seconds(240)))
            << updater->Out();
        updater->Signal(SIGKILL);
        updater->Finish(Seconds(30));
        const auto cycled = driver_.WaitForTrace(
            [](const Json& r) { return r.value("event", "") == "power_cycle"; }, Seconds(60));
        ASSERT_TRUE(cycled);
        ASSERT_TRUE(
            driver_.WaitForTrace([](const Json& r) { return r.value("event", "") == "port_added"; },
                                 Seconds(60), *cycled));
    }

    // The router's data as the update keeps it, once the simulator has stopped.
    std::map<std::string, Json> KeptNow() {
        driver_.StopSimulator();
        return KeptData(driver_.State(), Package());
    }

    PackageFacts Package() const {
        return ReadPackageFacts(driver_.WorkFolder(), driver_.Updater());
    }

    std::size_t PendingCopies() const {
        std::size_t copies = 0;
        std::error_code ec;
        for (std::filesystem::directory_iterator entry(driver_.WorkFolder() / "SaveNV", ec), end;
             !ec && entry != end; entry.increment(ec)) {
            copies += std::filesystem::exists(entry->path() / "Channel0.nv");
        }
        return copies;
    }

    void TearDown() override {
        if (HasFailure()) {
            driver_.ShowLog();
        }
    }

    EndToEndDriver driver_;
};

// Story 1: A's update failed and A went home; B is updated at the same socket, the program is
// killed and B comes back blank. Nothing proves whose the two copies are, so nothing is
// written until the user names B's; B then gets its own data back, never A's.
TEST_F(IdentityEndToEnd, AnotherRoutersDataNeverReachesABlankRouter) {
    const Json a = PowerFailsInTheThirdImage(kImeiA, "021A2B3C4D5E");
    const Json b =
        PlugIn(kImeiB, "0A0B0C0D0E0F", {"--faults", "hang:4", "--power-cycle-on-host-loss"});
    KilledAfterTheThirdImage();
    ASSERT_EQ(PendingCopies(), 2u);

    const ProcessResult unproven = driver_.RunUpdater(Updater());
    EXPECT_EQ(unproven.exitStatus, 5) << unproven.out;
    EXPECT_THAT(unproven.out, HasSubstr("question: Write back the data saved from the router with "
                                        "IMEI " +
                                        std::string(kImeiA)));
    EXPECT_THAT(unproven.out, HasSubstr("IMEI " + std::string(kImeiB)));
    EXPECT_THAT(unproven.out, HasSubstr("result: 5 Nothing was written"));

    const ProcessResult named = driver_.RunUpdater(Updater({"--resume", std::string(kImeiB)}));
    EXPECT_EQ(named.exitStatus, 0) << named.out;
    EXPECT_THAT(named.out,
                HasSubstr("hint: The data saved from the router with IMEI " + std::string(kImeiB)));
    EXPECT_THAT(named.out, HasSubstr(std::string(kUpdatedResult)));
    const auto kept = KeptNow();
    EXPECT_THAT(Differences(KeptData(b, Package()), kept), IsEmpty()) << "B has its own data";
    EXPECT_THAT(Differences(KeptData(a, Package()), kept), Not(IsEmpty()));
    EXPECT_EQ(PendingCopies(), 1u) << "A's copy still waits for A";
}

// Story 2: with A's copy waiting, a healthy router C is plugged in while it is still too busy
// to answer. It is not taken for a blank router: it is updated with its own backup.
TEST_F(IdentityEndToEnd, AHealthyRouterWithoutAnswersYetKeepsItsOwnData) {
    PowerFailsInTheThirdImage(kImeiA, "021A2B3C4D5E");
    const Json c = PlugIn(kImeiC, "0C0C0C0C0C0C",
                          {"--faults", "silent:1,silent:2,silent:3,silent:4,silent:5,silent:6"});
    const ProcessResult run = driver_.RunUpdater(Updater());
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("hint: Searching")) << "first seen without a version";
    EXPECT_THAT(run.out, Not(HasSubstr("question:")));
    const auto kept = KeptNow();
    EXPECT_THAT(Differences(KeptData(c, Package()), kept), IsEmpty());
    EXPECT_EQ(PendingCopies(), 1u) << "A's copy is left for A";
}

// Story 3: the program is killed after the third image and the router comes back blank; its
// backup was kept before the first image, and the next run brings back exactly its data: the
// only copy here, taken at the USB port the blank router sits in, proves itself.
TEST_F(IdentityEndToEnd, AKilledUpdateIsResumedWithTheRoutersOwnData) {
    const Json before =
        PlugIn(kImeiA, "021A2B3C4D5E", {"--faults", "hang:4", "--power-cycle-on-host-loss"});
    KilledAfterTheThirdImage();
    ASSERT_EQ(PendingCopies(), 1u);
    const ProcessResult run = driver_.RunUpdater(Updater());
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("hint: This router is in the USB port of the router with IMEI " +
                                   std::string(kImeiA)));
    EXPECT_THAT(Differences(KeptData(before, Package()), KeptNow()), IsEmpty());
    EXPECT_EQ(FlashedImages(driver_.State()), Package().images);
    EXPECT_EQ(PendingCopies(), 0u);
}

// Story 4: the restore after the download fails half-way (an item the new firmware refuses).
// The next run, on the replugged router, finishes that restore before anything else.
TEST_F(IdentityEndToEnd, ARestoreCutShortIsFinishedByTheNextRun) {
    const Json before = PlugIn(kImeiA, "021A2B3C4D5E", {"--faults", "nvwrite-refused:8000"});
    const ProcessResult failed = driver_.RunUpdater(Updater());
    EXPECT_EQ(failed.exitStatus, 4) << failed.out;
    ASSERT_EQ(PendingCopies(), 1u);
    driver_.StopSimulator();

    const std::size_t firstRun = driver_.Trace().size();
    driver_.StartSimulator();
    const ProcessResult run = driver_.RunUpdater(Updater());
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("hint: The restore of the data saved from this router (IMEI " +
                                   std::string(kImeiA)));
    driver_.StopSimulator();
    const std::vector<Json> trace = driver_.Trace(firstRun);
    EXPECT_TRUE(Requests(trace, "efs_get").empty()) << "no new backup over the good copy";
    EXPECT_EQ(DownloadRequests(trace), 0u) << "the firmware was already written";
    EXPECT_THAT(Differences(KeptData(before, Package()), KeptData(driver_.State(), Package())),
                IsEmpty());
    EXPECT_EQ(PendingCopies(), 0u);
}

std::vector<Json> ListedBackups(EndToEndDriver& driver) {
    const ProcessResult listed = driver.RunUpdater({"--list-backups", "--json"});
    EXPECT_EQ(listed.exitStatus, 0) << listed.err;
    std::vector<Json> backups;
    std::istringstream lines(listed.out);
    for (std::string line; std::getline(lines, line);) {
        backups.push_back(Json::parse(line));
    }
    return backups;
}

// The backup tools: a backup taken without an update, listed, exchanged as XQCN byte for byte,
// written back once the router lost its calibration, and refused by another router.
TEST_F(IdentityEndToEnd, BackupsAsAUsersToolGoBackOnlyToTheirOwnRouter) {
    const Json before = PlugIn(kImeiA, "021A2B3C4D5E", {});
    const ProcessResult backup = driver_.RunUpdater(Updater({"--backup"}));
    EXPECT_EQ(backup.exitStatus, 0) << backup.out;
    EXPECT_THAT(backup.out, HasSubstr("hint: The backup of the router with IMEI " +
                                      std::string(kImeiA) + " is in "));
    EXPECT_THAT(backup.out, HasSubstr("result: 0 The backup is done"));
    EXPECT_EQ(DownloadRequests(driver_.Trace()), 0u) << "nothing was written to the router";

    const std::filesystem::path xqcn = driver_.Folder() / "a.xqcn";
    EXPECT_EQ(driver_.RunUpdater({"--export-xqcn", xqcn.string(), std::string(kImeiA)}).exitStatus,
              0);
    EXPECT_EQ(driver_.RunUpdater({"--import-xqcn", xqcn.string()}).exitStatus, 0);
    const std::vector<Json> listed = ListedBackups(driver_);
    ASSERT_EQ(listed.size(), 2u);
    for (const Json& entry : listed) {
        EXPECT_EQ(entry.at("imei"), kImeiA);
        EXPECT_EQ(entry.at("place"), "archive");
        EXPECT_TRUE(entry.at("complete").get<bool>());
        EXPECT_GT(entry.at("nv_items").get<int>(), 500);
        EXPECT_GT(entry.at("efs_files").get<int>(), 200);
    }
    EXPECT_EQ(BackupData(listed[0].at("folder").get<std::string>()),
              BackupData(listed[1].at("folder").get<std::string>()))
        << "exported and imported byte for byte";

    driver_.StopSimulator();
    driver_.EditState([](Json& state) {
        state["nv"] = Json{{"550", state.at("nv").at("550")}};
        state["efs"] = Json::object();
        state["wifi"]["ssid"] = "";
        state["wifi"]["password"] = "";
    });
    driver_.StartSimulator();
    const ProcessResult restored = driver_.RunUpdater(Updater({"--restore"}));
    EXPECT_EQ(restored.exitStatus, 0) << restored.out;
    EXPECT_THAT(restored.out, HasSubstr("result: 0 The backup was written back to the router."));
    EXPECT_THAT(Differences(KeptData(before, Package()), KeptNow()), IsEmpty());

    const Json b = PlugIn(kImeiB, "0A0B0C0D0E0F", {});
    const ProcessResult refused =
        driver_.RunUpdater(Updater({"--restore", listed[0].at("folder").get<std::string>()}));
    EXPECT_EQ(refused.exitStatus, 7) << refused.out;
    EXPECT_THAT(Differences(KeptData(b, Package()), KeptNow()), IsEmpty());

    const ProcessResult handWritten = driver_.RunUpdater({"--import-xqcn", TAPFIX_XQCN_SAMPLE});
    EXPECT_EQ(handWritten.exitStatus, 0) << handWritten.err;
    EXPECT_THAT(handWritten.out, HasSubstr("as a backup of IMEI 490154203237518"));
}

}  // namespace
}  // namespace tapfix::test::e2e
