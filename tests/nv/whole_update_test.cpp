// A whole update through the session with the real NV steps: what the router had comes back,
// after a normal update and after a resume from the copy a failed update left behind.
#include <gtest/gtest.h>

#include "nv/pending_copies.hpp"
#include "nv_fixture.hpp"
#include "sim/flash_model.hpp"

namespace tapfix::nv::test {
namespace {

using namespace std::chrono_literals;

class WholeUpdateTest : public NvFixture {
  protected:
    WholeUpdateTest() { service_.SetNvSteps(&steps_); }

    // Reads the router's mode, as the worker does, then runs the action.
    int Run(session::PortContext context) {
        std::string version;
        service_.ReportDeviceVersion(context.slot, context.portNumber, version);
        return service_.Download(context);
    }

    // The router's preserved data: listed NV items, listed EFS files, MAC and Wi-Fi secrets.
    std::map<std::string, std::string> Preserved(const sim::DeviceState& state) const {
        std::map<std::string, std::string> data = KeptData(state);
        data["mac"] = sim::WifiMacText(state);
        data["ssid"] = state.wifi.ssid;
        data["password"] = state.wifi.password;
        return data;
    }
};

TEST_F(WholeUpdateTest, ANormalUpdateKeepsCalibrationAndIdentity) {
    StartRouter();
    const auto before = Preserved(router_->Snapshot());

    ASSERT_EQ(Run(Context()), 0) << ::testing::PrintToString(notifier_.Texts(session::kNotifyLog));

    const sim::DeviceState after = router_->Snapshot();
    EXPECT_FALSE(after.flash.empty()) << "the firmware was written";
    EXPECT_FALSE(Requests("nv_write").empty()) << "the new partition table wiped NV";
    EXPECT_EQ(Preserved(after), before);
}

TEST_F(WholeUpdateTest, AResumeAfterPowerLossRestoresFromThePendingCopy) {
    sim::RouterOptions options = RouterOptions();
    options.faults.powerLossImages = {3};
    StartRouter(std::move(options));
    const auto before = Preserved(router_->Snapshot());
    ASSERT_EQ(Run(Context()), -1) << ::testing::PrintToString(notifier_.Texts(session::kNotifyLog));
    const auto pending = ListPendingCopies(work_);
    ASSERT_EQ(pending.size(), 1u) << "kept before the first image";
    EXPECT_EQ(pending[0].record.imei, "359876543210984");
    EXPECT_EQ(pending[0].record.restore, RestoreState::None);
    ASSERT_TRUE(router_->WaitForPort(sim::DeviceMode::Download, 5s));
    ASSERT_TRUE(router_->Snapshot().blank)
        << ::testing::PrintToString(notifier_.Texts(session::kNotifyLog));

    session::PortContext resume = Context();
    resume.actionMode = session::kActionRepair;
    resume.backupFirst = 0;
    resume.nvRoot = pending[0].folder;
    resume.pendingCopy = pending[0].folder;
    ASSERT_EQ(Run(resume), 0);

    EXPECT_FALSE(router_->Snapshot().blank);
    EXPECT_EQ(Preserved(router_->Snapshot()), before);
    EXPECT_TRUE(ListPendingCopies(work_).empty()) << "a successful resume finishes the copy";
    EXPECT_TRUE(fs::is_directory(work_ / "NVArchive" / "IMEI-359876543210984"));
}

// Once the firmware is in, the router may restart without its NV items and the program may
// not see it again: the copy says its restore is due, so the next run writes it back.
TEST_F(WholeUpdateTest, ACopyWhoseFirmwareIsWrittenAwaitsItsRestore) {
    sim::RouterOptions options = RouterOptions();
    options.faults.noPortAfterReset = true;
    StartRouter(std::move(options));
    ASSERT_EQ(Run(Context()), -1);

    const auto pending = ListPendingCopies(work_);
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].record.restore, RestoreState::Incomplete);
}

}  // namespace
}  // namespace tapfix::nv::test
