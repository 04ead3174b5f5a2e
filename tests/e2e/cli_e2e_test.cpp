#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>

#include "e2e_driver.hpp"

namespace tapfix::test::e2e {
namespace {

using ::testing::HasSubstr;

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
    EXPECT_THAT(run.out, HasSubstr(kUpdatedResult));
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
    std::filesystem::copy_file(driver.Updater(), damaged);
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
