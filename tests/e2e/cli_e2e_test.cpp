#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <functional>

#include "e2e_driver.hpp"

namespace tapfix::test::e2e {
namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

constexpr std::string_view kUpdated =
    "result: 0 Update successfully!  Please restart the device and install the new driver.";

// What the router received in its boot stage or from its flash programmer: download traffic.
std::size_t DownloadRequests(const std::vector<Json>& trace) {
    return std::count_if(trace.begin(), trace.end(), [](const Json& record) {
        const std::string event = record.value("event", "");
        const Json mode = record.value("mode", Json());
        return event == "sahara" || (event == "request" && mode.is_string() && mode != "normal");
    });
}

struct UpdateCase {
    std::string name;
    // Absent: no router is plugged in.
    std::optional<std::vector<std::string>> simulator;
    std::vector<std::string> args;
    int exitStatus;
    std::string resultLine;
    // Further checks on the router's trace and state before and after.
    std::function<void(const std::vector<Json>& trace, const Json& before, const Json& after)>
        check;
};

void PrintTo(const UpdateCase& c, std::ostream* out) {
    *out << c.name;
}

const UpdateCase kUpdateCases[] = {
    {"RouterWithImeiAndMatchingBuildIdIsUpdated",
     std::vector<std::string>{},
     {"--yes", "--lang", "en"},
     0,
     std::string(kUpdated),
     [](const std::vector<Json>& trace, const Json& before, const Json& after) {
         EXPECT_GT(DownloadRequests(trace), 0u);
         EXPECT_FALSE(after.at("flash").empty());
         EXPECT_EQ(after.at("nv").at("550"), before.at("nv").at("550"));
     }},
    {"BuildIdMissingFromThePackageIsRefusedWithoutDownloadTraffic",
     std::vector<std::string>{"--build-id-prefix", "M9615A-OTHERVENDOR-9.9.9"},
     {"--yes", "--lang", "en"},
     1,
     "result: 1 The version is not matching, can not be updated.",
     [](const std::vector<Json>& trace, const Json& before, const Json& after) {
         EXPECT_EQ(DownloadRequests(trace), 0u);
         EXPECT_EQ(after.at("flash"), before.at("flash"));
     }},
    {"NoRouterEndsWithNoDeviceOnce",
     std::nullopt,
     {"--yes", "--lang", "en"},
     3,
     "result: 3 This computer cannot recognized your USB device.",
     nullptr},
};

class UpdateEndToEnd : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(UpdateEndToEnd, EndsWithItsResult) {
    const UpdateCase& c = GetParam();
    EndToEndDriver driver;
    Json before;
    if (c.simulator) {
        driver.StartSimulator(*c.simulator);
        before = driver.State();
    }
    const ProcessResult run = driver.RunUpdater(c.args);
    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr(c.resultLine)) << run.err;
    const std::string resultPrefix = c.resultLine.substr(0, 7);
    std::size_t results = 0;
    for (std::size_t at = run.out.find(resultPrefix); at != std::string::npos;
         at = run.out.find(resultPrefix, at + 1)) {
        ++results;
    }
    EXPECT_EQ(results, 1u) << run.out;
    if (c.simulator) {
        ASSERT_TRUE(driver.StopSimulator());
        if (c.check) {
            c.check(driver.Trace(), before, driver.State());
        }
    }
    // The log holds the update's step texts for a user to send.
    std::ifstream log(driver.WorkFolder() / "tapfix.log");
    EXPECT_TRUE(log.is_open());
}

INSTANTIATE_TEST_SUITE_P(Cli, UpdateEndToEnd, ::testing::ValuesIn(kUpdateCases),
                         [](const auto& info) { return info.param.name; });

TEST(CliEndToEnd, SecondCopyWhileOneRunsSaysSoAndExits) {
    EndToEndDriver driver;
    driver.StartSimulator();
    const auto first = driver.StartUpdater({"--lang", "en"});
    ASSERT_TRUE(first->WaitForOutput("port: COM", Seconds(60))) << first->Out();

    const ProcessResult second = driver.RunUpdater({"--yes"}, Seconds(60));
    EXPECT_EQ(second.exitStatus, 4);
    EXPECT_THAT(second.out, HasSubstr("The program has been running. Cannot open it again!"));

    first->Signal(SIGINT);
    const ProcessResult ended = first->Finish(Seconds(120));
    EXPECT_EQ(ended.exitStatus, 4) << ended.out << ended.err;
    EXPECT_THAT(ended.out, ::testing::Not(HasSubstr("result:")));
}

TEST(CliEndToEnd, CtrlCDuringTheUpdateIsRefusedAndTheUpdateGoesOn) {
    EndToEndDriver driver;
    driver.StartSimulator();
    const auto updater = driver.StartUpdater({"--yes", "--lang", "en"});
    ASSERT_TRUE(updater->WaitForOutput("progress: 1%", Seconds(120))) << updater->Out();
    updater->Signal(SIGINT);
    const ProcessResult run = updater->Finish(Seconds(240));
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("message: Still running. Can not exit"));
    EXPECT_THAT(run.out, HasSubstr(kUpdated));
}

TEST(CliEndToEnd, PackedUpdaterChecksItsPackageAndADamagedCopyFails) {
    EndToEndDriver driver;
    const ProcessResult good = driver.RunUpdater({"--check"});
    EXPECT_EQ(good.exitStatus, 0) << good.err;
    EXPECT_THAT(good.out, HasSubstr("dsp2.mbn"));
    EXPECT_THAT(good.out, HasSubstr("totalBytes: "));
    EXPECT_THAT(good.out, HasSubstr("NV items: rf 677"));
    EXPECT_THAT(good.out, HasSubstr("check: ok"));

    const std::filesystem::path damaged = driver.Folder() / "damaged-updater";
    std::filesystem::copy_file(SharedPrograms().updater, damaged);
    {
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(-100000, std::ios::end);
        const char byte = static_cast<char>(file.get());
        file.seekp(-100000, std::ios::end);
        file.put(static_cast<char>(byte ^ 0x5A));
    }
    const ProcessResult bad = driver.Run(damaged, {"--check"});
    EXPECT_EQ(bad.exitStatus, 1);
    EXPECT_THAT(bad.err, HasSubstr("damaged"));
    EXPECT_THAT(bad.out, ::testing::Not(HasSubstr("check: ok")));
}

}  // namespace
}  // namespace tapfix::test::e2e
