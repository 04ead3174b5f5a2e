// Whole updates as a user runs them: the packed console updater against the simulated router,
// judged by the exit status, the printed result, the router's trace and its state file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <optional>

#include "e2e_driver.hpp"
#include "router_facts.hpp"

namespace tapfix::test::e2e {
namespace {

using ::testing::HasSubstr;

constexpr std::string_view kDownloadFailed = "result: -1 Download failed, please download again.";

// One run of the updater in a case, as it must end; `args` go after "--yes --lang en".
struct ExpectedRun {
    int exitStatus;
    std::string_view resultLine;
    std::vector<std::string> args = {};
};

// One run as it ended: what the updater printed, what the router saw meanwhile, and whether
// the updater left a saved backup to resume from.
struct RunOutcome {
    ProcessResult process;
    std::vector<Json> trace;
    bool savedBackup = false;
};

struct Outcome {
    Json before;  // the router's state before the first run
    Json after;   // and after the last, once the simulator has stopped
    std::vector<RunOutcome> runs;
    PackageFacts package;
};

struct UpdateCase {
    std::string name;
    // Absent: no router is plugged in.
    std::optional<std::vector<std::string>> simulator;
    std::vector<ExpectedRun> runs;
    std::function<void(const Outcome&)> check;
    // Changes the new router's state before it is plugged in.
    std::function<void(Json& state, const Package& package)> prepare = nullptr;
    Route route = Route::BootLoader;
    std::string_view timeScale = kDefaultTimeScale;
    Seconds runTimeout = Seconds(240);
};

void PrintTo(const UpdateCase& c, std::ostream* out) {
    *out << c.name;
}

// A router's pending copy waits in the work folder.
bool HasPendingCopy(const std::filesystem::path& workFolder) {
    std::error_code ec;
    for (std::filesystem::directory_iterator entry(workFolder / "SaveNV", ec), end;
         !ec && entry != end; entry.increment(ec)) {
        if (std::filesystem::exists(entry->path() / "Channel0.nv")) {
            return true;
        }
    }
    return false;
}

std::string HexOfFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string hex;
    static constexpr char kDigits[] = "0123456789abcdef";
    for (char byte; in.get(byte);) {
        hex += kDigits[static_cast<unsigned char>(byte) >> 4];
        hex += kDigits[static_cast<unsigned char>(byte) & 0x0F];
    }
    return hex;
}

// --- what the cases expect, in words the trace and the state files can check ---

void ExpectEverythingKept(const Outcome& o) {
    const auto kept = KeptData(o.before, o.package);
    EXPECT_GT(kept.size(), 500u) << "the router had the package's NV items and EFS files";
    EXPECT_THAT(Differences(kept, KeptData(o.after, o.package)), ::testing::IsEmpty());
}

void ExpectThePackageFlashed(const Outcome& o) {
    EXPECT_EQ(FlashedImages(o.after), o.package.images);
}

void ExpectUntouched(const Outcome& o) {
    EXPECT_EQ(DownloadRequests(o.runs.back().trace), 0u);
    EXPECT_EQ(o.after.at("flash"), o.before.at("flash"));
    EXPECT_EQ(o.after.at("nv"), o.before.at("nv"));
    EXPECT_FALSE(o.runs.back().savedBackup);
}

// The new partition table wiped the router's calibration, so what it has now was written back.
void ExpectTableRewrittenAndDataRestored(const std::vector<Json>& trace) {
    const auto tables = Requests(trace, "partition_table");
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_TRUE(tables[0].value("rewritten", false));
    EXPECT_FALSE(Requests(trace, "nv_write").empty());
    EXPECT_FALSE(Requests(trace, "efs_write").empty());
    EXPECT_EQ(Requests(trace, "mac_write").size(), 1u);
}

bool ProgrammerRuns(const Json& record) {
    return record.value("event", "") == "mode" && record.value("to", "") == "programmer";
}

// Requests the router answered in `mode` before its flash programmer ran.
std::size_t RequestsBeforeTheProgrammer(const std::vector<Json>& trace, std::string_view mode) {
    const auto programmer = std::find_if(trace.begin(), trace.end(), ProgrammerRuns);
    return std::count_if(trace.begin(), programmer, [&](const Json& record) {
        return record.value("event", "") == "request" && record.value("mode", Json()) == mode;
    });
}

// How the router received its flash programmer ("dmss" or "sahara"), when it received one.
std::string ProgrammerRoute(const std::vector<Json>& trace) {
    std::string routes;
    for (const Json& record : trace) {
        if (record.contains("route")) {
            routes += (routes.empty() ? "" : ",") + record.value("route", "");
        }
    }
    return routes;
}

// One update over `route` ("dmss" or "sahara"): the programmer came that way, the new table
// wiped the calibration and it was written back, the flash holds the package, nothing the
// router had is lost and no saved copy is left behind.
std::function<void(const Outcome&)> UpdatedOver(std::string route) {
    return [route](const Outcome& o) {
        const auto& trace = o.runs[0].trace;
        EXPECT_EQ(ProgrammerRoute(trace), route);
        EXPECT_EQ(Events(trace, "sahara").empty(), route != "sahara");
        ExpectTableRewrittenAndDataRestored(trace);
        ExpectThePackageFlashed(o);
        ExpectEverythingKept(o);
        EXPECT_FALSE(o.runs[0].savedBackup);
    };
}

const UpdateCase kUpdateCases[] = {
    {.name = "BootLoaderRouteUpdatesAndKeepsCalibrationAndIdentity",
     .simulator = std::vector<std::string>{},
     .runs = {{0, kUpdatedResult}},
     .check = UpdatedOver("dmss")},
    {.name = "SaharaRouteUpdatesAndKeepsCalibrationAndIdentity",
     .simulator = std::vector<std::string>{"--boot", "sahara"},
     .runs = {{0, kUpdatedResult}},
     .check = UpdatedOver("sahara"),
     .route = Route::Sahara},
    {.name = "PowerLossInAnImageFailsKeepsTheBackupAndTheNextRunRestoresIt",
     .simulator = std::vector<std::string>{"--faults", "powerloss:3"},
     .runs = {{4, kDownloadFailed}, {0, kUpdatedResult}},
     .check =
         [](const Outcome& o) {
             EXPECT_EQ(Events(o.runs[0].trace, "fault").size(), 1u);
             EXPECT_TRUE(o.runs[0].savedBackup) << "the failed update keeps its pending copy";
             // The second run finds the router blank in its boot stage and repairs it from the
             // saved copy: no backup of the blank router, the table it has is kept.
             const auto& resumed = o.runs[1].trace;
             EXPECT_EQ(RequestsBeforeTheProgrammer(resumed, "normal"), 0u);
             EXPECT_TRUE(Requests(resumed, "efs_get").empty());
             const auto tables = Requests(resumed, "partition_table");
             ASSERT_EQ(tables.size(), 1u);
             EXPECT_FALSE(tables[0].value("override", true));
             EXPECT_FALSE(Requests(resumed, "nv_write").empty());
             EXPECT_FALSE(o.runs[1].savedBackup) << "a successful resume finishes the copy";
             ExpectThePackageFlashed(o);
             ExpectEverythingKept(o);
         }},
    {.name = "BuildIdMissingFromThePackageIsRefusedWithoutDownloadTraffic",
     .simulator = std::vector<std::string>{"--build-id-prefix", "M9615A-OTHERVENDOR-9.9.9"},
     .runs = {{1, "result: 1 The version is not matching, can not be updated."}},
     .check = ExpectUntouched,
     .timeScale = "0.01"},
    {.name = "RouterWithoutImeiIsRefusedWithoutDownloadTraffic",
     .simulator = std::vector<std::string>{},
     .runs = {{2, "result: 2 Incorrect IMEI, can not be updated."}},
     .check = ExpectUntouched,
     .prepare = [](Json& state, const Package&) { state.at("nv").erase("550"); },
     .timeScale = "0.01"},
    // A router left in download mode by an update that ran with another work folder.
    {.name = "HalfFlashedRouterWhoseDataIsNotHereGetsItsOwnResult",
     .simulator = std::vector<std::string>{},
     .runs = {{6,
               "result: 6 This router's firmware update was interrupted, and its data was not "
               "saved in this work folder. Start the updater with the work folder of the "
               "interrupted update (--work-dir)."}},
     .check =
         [](const Outcome& o) {
             EXPECT_TRUE(Requests(o.runs[0].trace, "write").empty());
             EXPECT_TRUE(Requests(o.runs[0].trace, "partition_table").empty());
             EXPECT_EQ(o.after, o.before) << "nothing of the router changed";
         },
     .prepare =
         [](Json& state, const Package&) {
             state["blank"] = true;
             state["nv"] = Json::object();
             state["flash"] = Json::object();
         },
     .timeScale = "0.01"},
    // The watcher's first reads get no answer: --yes waits for the version instead of pressing
    // "Update" for a router it could not identify.
    {.name = "FirstAnswersLostStillUpdates",
     .simulator = std::vector<std::string>{"--faults", "silent:1,silent:2,silent:3,silent:4"},
     .runs = {{0, kUpdatedResult}},
     .check = ExpectThePackageFlashed},
    {.name = "NoRouterEndsWithNoDeviceOnce",
     .simulator = std::nullopt,
     .runs = {{3, "result: 3 This computer cannot recognized your USB device."}},
     .check = nullptr,
     .timeScale = "0.01"},
    // Every answer in two writes a millisecond apart, one answer with a bad CRC, one checksum
    // mismatch.
    {.name = "NoisyLinkStillUpdatesAndKeepsEverything",
     .simulator = std::vector<std::string>{"--faults", "split:1,badcrc:300,badsum:5"},
     .runs = {{0, kUpdatedResult}},
     .check =
         [](const Outcome& o) {
             const auto& trace = o.runs[0].trace;
             EXPECT_EQ(Events(trace, "fault").size(), 1u) << "the bad CRC";
             const auto units = Requests(trace, "unit");
             EXPECT_EQ(std::count_if(units.begin(), units.end(),
                                     [](const Json& unit) { return unit.contains("fault"); }),
                       1)
                 << "the checksum mismatch";
             ExpectThePackageFlashed(o);
             ExpectEverythingKept(o);
         }},
    // Every answer in two writes 5 ms apart, with every wait and time-out at its real length.
    {.name = "AnswersInTwoPiecesAtFullTimeScaleStillUpdate",
     .simulator = std::vector<std::string>{"--faults", "split:5"},
     .runs = {{0, kUpdatedResult}},
     .check =
         [](const Outcome& o) {
             ExpectThePackageFlashed(o);
             ExpectEverythingKept(o);
         },
     .timeScale = "1",
     .runTimeout = Seconds(600)},
    {.name = "RouterWithThePackagesTableKeepsItsOwnNvThroughTheOnboardBackup",
     .simulator = std::vector<std::string>{},
     .runs = {{0, kUpdatedResult}},
     .check =
         [](const Outcome& o) {
             const auto& trace = o.runs[0].trace;
             EXPECT_FALSE(Requests(trace, "onboard_list").empty());
             const auto tables = Requests(trace, "partition_table");
             ASSERT_EQ(tables.size(), 1u);
             EXPECT_FALSE(tables[0].value("rewritten", false));
             EXPECT_EQ(tables[0].value("status", -1), 0);
             // Nothing was wiped, so everything the router had is still there, listed or not.
             EXPECT_EQ(o.after.at("nv"), o.before.at("nv"));
             EXPECT_EQ(o.after.at("efs"), o.before.at("efs"));
             EXPECT_EQ(o.after.at("partitionTable"), o.before.at("partitionTable"));
             EXPECT_TRUE(Requests(trace, "nv_write").empty()) << "the router kept them itself";
             ExpectThePackageFlashed(o);
         },
     .prepare =
         [](Json& state, const Package& package) {
             state["partitionTable"] = HexOfFile(package.firmware / "partition.mbn");
         }},
};

class UpdateEndToEnd : public ::testing::TestWithParam<UpdateCase> {};

// Counts the result lines: an update ends with exactly one.
std::size_t ResultLines(const std::string& out) {
    std::size_t results = 0;
    for (std::size_t at = out.find("result: "); at != std::string::npos;
         at = out.find("result: ", at + 1)) {
        ++results;
    }
    return results;
}

TEST_P(UpdateEndToEnd, EndsWithItsResult) {
    const UpdateCase& c = GetParam();
    EndToEndDriver driver(c.timeScale, c.route);
    Outcome outcome;
    if (c.simulator) {
        if (c.prepare) {
            driver.PrepareRouter(*c.simulator,
                                 [&](Json& state) { c.prepare(state, SharedPackage(c.route)); });
        }
        driver.StartSimulator(*c.simulator);
        outcome.before = driver.State();
    }
    std::size_t traceSeen = 0;
    for (const ExpectedRun& expected : c.runs) {
        RunOutcome run;
        std::vector<std::string> args{"--yes", "--lang", "en"};
        args.insert(args.end(), expected.args.begin(), expected.args.end());
        run.process = driver.RunUpdater(args, c.runTimeout);
        EXPECT_EQ(run.process.exitStatus, expected.exitStatus)
            << run.process.out << run.process.err;
        EXPECT_THAT(run.process.out, HasSubstr(std::string(expected.resultLine)))
            << run.process.err;
        EXPECT_EQ(ResultLines(run.process.out), 1u) << run.process.out;
        run.savedBackup = HasPendingCopy(driver.WorkFolder());
        if (c.simulator && &expected != &c.runs.back()) {
            run.trace = driver.Trace(traceSeen);
            traceSeen += run.trace.size();
        }
        outcome.runs.push_back(std::move(run));
    }
    // The log holds the update's step texts for a user to send.
    EXPECT_TRUE(std::filesystem::exists(driver.WorkFolder() / "tapfix.log"));
    if (!c.simulator) {
        return;
    }
    ASSERT_TRUE(driver.StopSimulator());
    outcome.runs.back().trace = driver.Trace(traceSeen);
    outcome.after = driver.State();
    outcome.package = ReadPackageFacts(driver.WorkFolder(), driver.Updater());
    if (c.check) {
        c.check(outcome);
    }
    if (HasFailure()) {
        std::ifstream log(driver.WorkFolder() / "tapfix.log");
        std::cerr << "tapfix.log:\n" << log.rdbuf();
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, UpdateEndToEnd, ::testing::ValuesIn(kUpdateCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tapfix::test::e2e
