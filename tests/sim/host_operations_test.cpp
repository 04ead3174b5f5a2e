// The host's own command operations against the simulated router: what the device watcher,
// the NV backup and the restore will do, with real answers instead of scripted ones.
#include <gtest/gtest.h>

#include "device/command_set.hpp"
#include "device/diag_commands.hpp"
#include "device/nv_efs.hpp"
#include "device/vendor.hpp"
#include "link/port_discovery.hpp"
#include "sim_fixture.hpp"

namespace tapfix::sim::test {
namespace {

using namespace std::chrono_literals;

class HostOperationsTest : public RouterTest {
  protected:
    void StartRouter(RouterOptions options) {
        Start(std::move(options));
        device::AttachCommandSet(host_);
    }
    void StartRouter() { StartRouter(Options()); }

    // Waits, as the session does, until discovery no longer lists the port, then finds the next.
    int NextPortAfter(int previous) {
        for (int pass = 0; pass < 200; ++pass) {
            int found = 0;
            if (link::IsPortAbsent(previous) && link::FindDiagPort(&found) && found != previous) {
                return found;
            }
            std::this_thread::sleep_for(20ms);
        }
        return 0;
    }
};

TEST_F(HostOperationsTest, WatcherFindsThePortAndReadsImeiAndVersions) {
    StartRouter();
    host_.ClosePort();
    int port = 0;
    ASSERT_TRUE(link::FindDiagPort(&port));
    EXPECT_EQ(port, router_->CurrentPort()->number);
    EXPECT_FALSE(link::IsPortAbsent(port));

    link::CPacket watcher;
    device::AttachCommandSet(watcher);
    ASSERT_TRUE(watcher.OpenPort(port)) << watcher.OpenFailure();
    device::ImeiText imei{};
    ASSERT_TRUE(device::GetImei(watcher, imei)) << watcher.LastError();
    EXPECT_STREQ(imei.data(), "359876543210984");
    device::VersionRecord versions{};
    ASSERT_TRUE(device::GetSoftwareVersion(watcher, versions)) << watcher.LastError();
    const DeviceState state = router_->Snapshot();
    for (std::size_t k = 0; k < 9; ++k) {
        EXPECT_EQ(device::VersionText(versions, k), state.versions[k].substr(0, 30)) << k;
    }
    EXPECT_EQ(device::VersionText(versions, 8), "M9615A-CEFWMAZM-2.0.1017V01");
    std::uint32_t esn = 0;
    EXPECT_TRUE(device::GetEsn(watcher, esn));
    EXPECT_EQ(esn, EsnOf(state));
}

TEST_F(HostOperationsTest, NvItemsAnswerWithTheirRealStatuses) {
    StartRouter();
    const DeviceState state = router_->Snapshot();
    std::uint16_t inactive = 0;
    for (std::uint16_t item = 1; item < 7300 && inactive == 0; ++item) {
        if (state.nv.count(item) == 0) {
            inactive = item;
        }
    }
    ASSERT_NE(inactive, 0);

    device::NvItemData data{};
    std::uint16_t status = 0;
    ASSERT_TRUE(device::ReadNvItem(host_, 22, data, status)) << host_.LastError();
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(device::ReadNvItem(host_, inactive, data, status));
    EXPECT_EQ(status, 5);
    EXPECT_EQ(data, device::NvItemData{}) << "a failed read hands back zeros";

    device::NvItemData value{};
    value.fill(0x5A);
    ASSERT_TRUE(device::WriteNvItem(host_, 6700, value, status)) << host_.LastError();
    ASSERT_TRUE(device::ReadNvItem(host_, 6700, data, status));
    EXPECT_EQ(data, value);
    EXPECT_FALSE(device::WriteNvItem(host_, 0, value, status)) << "the ESN is read-only";
    EXPECT_EQ(status, 7);
}

TEST_F(HostOperationsTest, EfsFilesAndWifiIdentityRoundTrip) {
    StartRouter();
    device::EfsStatResult stat;
    EXPECT_FALSE(device::EfsStat(host_, "nv/item_files/rfnv/00099999", stat));
    EXPECT_EQ(stat.errorNumber, 2U) << "absent path";
    ASSERT_TRUE(device::EfsStat(host_, "nv/item_files/rfnv/00020085", stat)) << host_.LastError();
    EXPECT_GT(stat.size, 0U);

    const test::Bytes file{1, 2, 3, 0x7E, 0x7D, 4};
    ASSERT_TRUE(device::EfsPut(host_, "nv/item_files/rfnv/00020300", file, 1)) << host_.LastError();
    std::array<std::uint8_t, 64> back{};
    std::uint32_t length = 0;
    ASSERT_TRUE(device::EfsGet(host_, "nv/item_files/rfnv/00020300", 2, back, length))
        << host_.LastError();
    EXPECT_EQ(test::Bytes(back.begin(), back.begin() + length), file);

    ASSERT_TRUE(device::WriteWifiMac(host_, "A0B1C2D3E4F5", device::kMacItemWithSubsystem, true))
        << host_.LastError();
    device::MacText mac{};
    ASSERT_TRUE(device::ReadWifiMac(host_, device::kMacItemWithSubsystem, mac));
    EXPECT_STREQ(mac.data(), "A0B1C2D3E4F5");
    EXPECT_EQ(WifiMacText(router_->Snapshot()), "A0B1C2D3E4F5");
}

TEST_F(HostOperationsTest, OnboardBackupIsQueriedUntilTheServiceIsDone) {
    StartRouter();
    device::OnboardList list{};
    list[0] = 0x16;  // item 22
    ASSERT_TRUE(device::SendOnboardBackupList(host_, false, 1, list)) << host_.LastError();
    device::OnboardResult result;
    device::QueryOnboardResult(host_, result);
    EXPECT_NE(result.state, 0xFF) << "the service worked on the list";
    std::size_t queries = 0;
    for (const auto& record : router_->TraceRecords()) {
        queries += record.at("event") == "request" && record.value("name", "") == "onboard_query";
    }
    EXPECT_GE(queries, 2U) << "busy answers came first";
}

TEST_F(HostOperationsTest, SwitchAndResetAreSeenAsAPortThatGoesAndAnotherThatComes) {
    StartRouter();
    const int normal = router_->CurrentPort()->number;
    ASSERT_TRUE(device::SwitchToDownloader(host_)) << host_.LastError();
    const int download = NextPortAfter(normal);
    ASSERT_NE(download, 0);
    EXPECT_EQ(RegisteredName(download),
              "Qualcomm HS-USB QDLoader 9008 (COM" + std::to_string(download) + ")");
    EXPECT_FALSE(device::ProbeDiag(host_)) << "the old link is gone";
    EXPECT_FALSE(host_.IsPortOpen());

    router_->Stop();
    StartRouter();
    const int before = router_->CurrentPort()->number;
    ASSERT_TRUE(device::SetPhoneOffline(host_)) << host_.LastError();
    ASSERT_TRUE(device::ResetPhone(host_)) << host_.LastError();
    host_.ClosePort();
    int after = 0;
    ASSERT_TRUE(router_->WaitFor([](const auto& port) { return !port.has_value(); }, 5s));
    ASSERT_TRUE(router_->WaitForPort(DeviceMode::Normal, 5s));
    ASSERT_TRUE(link::FindDiagPort(&after));
    EXPECT_NE(RegisteredName(after).find("Diagnostics"), std::string::npos);
    link::CPacket again;
    device::AttachCommandSet(again);
    ASSERT_TRUE(again.OpenPort(after));
    EXPECT_TRUE(device::ProbeDiag(again))
        << "the rebooted device answers; port " << before << " -> " << after;
}

}  // namespace
}  // namespace tapfix::sim::test
