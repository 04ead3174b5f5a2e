#include <gtest/gtest.h>

#include "device/dmss_commands.hpp"
#include "device/stream_commands.hpp"
#include "download_fixture.hpp"
#include "sim/flash_model.hpp"

namespace tapfix::sim::test {
namespace {

using namespace std::chrono_literals;

class DownloadFaultTest : public DownloadTest {
  protected:
    // A running programmer that has accepted the package's table, under the given faults.
    void StartProgrammer(const char* faults) {
        RouterOptions options = DownloadOptions(DeviceMode::Programmer);
        std::string error;
        ASSERT_TRUE(options.faults.Parse(faults, &error)) << error;
        Launch(options);
        Connect(DeviceMode::Programmer);
        ASSERT_TRUE(host::BeginStreaming(link_, File("partition.mbn"), 1)) << link_.LastError();
    }

    void OpenByName(const char* partition) {
        Bytes name(partition, partition + std::strlen(partition) + 1);
        ASSERT_TRUE(device::StreamOpenMultiImage(link_, 0x0E, name)) << link_.LastError();
    }

    std::vector<std::string> Faults() const {
        std::vector<std::string> names;
        for (const auto& record : router_->TraceRecords()) {
            if (record.contains("fault")) {
                names.push_back(record.at("fault"));
            }
        }
        return names;
    }
};

TEST_F(DownloadFaultTest, BootLoaderNakAndSilenceReachTheHost) {
    RouterOptions options = DownloadOptions();
    std::string error;
    ASSERT_TRUE(options.faults.Parse("nak:2,silent:4", &error)) << error;
    Launch(options);
    Connect(DeviceMode::Download);
    const Bytes block(1024, 0x5A);
    EXPECT_TRUE(device::DmssWrite32(link_, block, 0x00400000));
    EXPECT_FALSE(device::DmssWrite32(link_, block, 0x00400400));
    EXPECT_EQ(link_.LastError(),
              "Write a Block of Data to Memory Failed, Since operation did not succeed");
    EXPECT_TRUE(device::DmssWrite32(link_, block, 0x00400400)) << "the host's retry succeeds";
    EXPECT_FALSE(device::DmssNop(link_));
    EXPECT_EQ(link_.LastError(),
              "Cannot Do No Operation, Since Port Cannot Receive Desired Data from the Phone");
    EXPECT_TRUE(device::DmssNop(link_));
    EXPECT_EQ(Faults(), (std::vector<std::string>{"nak", "silent"}));
}

TEST_F(DownloadFaultTest, ChecksumMismatchOnceIsRepeatedTwiceFailsTheTransfer) {
    StartProgrammer("badsum:2,badsum:4:2");
    const auto image = File("sbl2.mbn");  // three checksummed blocks
    OpenByName("0:SBL2");
    EXPECT_TRUE(host::RawTransfer(link_, 0x28, image)) << link_.LastError();
    EXPECT_TRUE(device::StreamClose(link_));
    EXPECT_EQ(router_->Snapshot().flash.at("0:SBL2").sha256, flash::Sha256Hex(image));

    OpenByName("0:SBL2");
    EXPECT_FALSE(host::RawTransfer(link_, 0x28, image));
    EXPECT_EQ(link_.LastError(), "checksum mismatch twice");
    EXPECT_EQ(Faults(), (std::vector<std::string>{"badsum", "badsum", "badsum"}));
}

TEST_F(DownloadFaultTest, PowerLossInAnImageLeavesABlankDeviceInItsBootStage) {
    StartProgrammer("powerloss:2");
    OpenByName("0:RPM");
    const Bytes block(1024, 0x11);
    ASSERT_TRUE(device::StreamWrite(link_, block, 0));
    ASSERT_TRUE(device::StreamClose(link_));
    OpenByName("0:SBL1");
    EXPECT_FALSE(device::StreamWrite(link_, block, 0)) << "no answer once the power is gone";

    Connect(DeviceMode::Download);
    EXPECT_TRUE(device::DmssNop(link_)) << "the boot loader answers";
    const DeviceState state = router_->Snapshot();
    EXPECT_TRUE(state.blank);
    EXPECT_FALSE(state.nv.contains(kNvImei));
    EXPECT_TRUE(std::all_of(state.versions.begin(), state.versions.end(),
                            [](const std::string& text) { return text.empty(); }));
    EXPECT_EQ(Faults(), (std::vector<std::string>{"powerloss"}));
}

// The updater killed in the middle of the download: the programmer hangs as the second image is
// opened, the host goes away, and a user replugs the router. It comes back blank in its boot
// stage once its partition table was rewritten, else it boots the firmware it had.
TEST_F(DownloadFaultTest, AHostGoneMidDownloadLeavesTheRouterToBePowerCycled) {
    struct Case {
        const char* name;
        bool powerCycles;
        bool tableKept;
        DeviceMode comesBackIn;
    };
    for (const Case& c : {Case{"table rewritten", true, false, DeviceMode::Download},
                          Case{"table kept", true, true, DeviceMode::Normal},
                          Case{"no power cycle", false, false, DeviceMode::Programmer}}) {
        SCOPED_TRACE(c.name);
        RouterOptions options = DownloadOptions(DeviceMode::Programmer);
        options.powerCycleOnHostLoss = c.powerCycles;
        std::string error;
        ASSERT_TRUE(options.faults.Parse("hang:2", &error)) << error;
        const host::Bytes table = File("partition.mbn");
        if (c.tableKept) {
            // The programmer starts with the table the router has.
            DeviceState state = DefaultDeviceState(options.defaults);
            state.partitionTable = table;
            options.statePath = dir_.Path() / "kept.json";
            ASSERT_TRUE(SaveState(options.statePath, state, &error)) << error;
        }
        Launch(options);
        Connect(DeviceMode::Programmer);
        ASSERT_TRUE(host::BeginStreaming(link_, table, 1)) << link_.LastError();
        OpenByName("0:RPM");
        ASSERT_TRUE(device::StreamWrite(link_, Bytes(1024, 0x11), 0));
        ASSERT_TRUE(device::StreamClose(link_));
        Bytes name{'0', ':', 'S', 'B', 'L', '1', 0};
        EXPECT_FALSE(device::StreamOpenMultiImage(link_, 0x0E, name)) << "the router hangs";
        EXPECT_EQ(Faults(), std::vector<std::string>{"hang"});

        link_.ClosePort();
        if (!c.powerCycles) {
            EXPECT_FALSE(
                router_->WaitFor([](const auto& port) { return !port.has_value(); }, 500ms))
                << "a router nobody replugs stays as it is";
            continue;
        }
        ASSERT_TRUE(router_->WaitForPort(c.comesBackIn, 10s));
        EXPECT_EQ(Events("power_cycle").size(), 1u);
        const DeviceState state = router_->Snapshot();
        EXPECT_EQ(state.blank, !c.tableKept);
        EXPECT_EQ(state.nv.contains(kNvImei), c.tableKept);
    }
}

TEST_F(DownloadFaultTest, NoPortAfterTheProgrammerReset) {
    StartProgrammer("noport-after-reset");
    ASSERT_TRUE(device::StreamReset(link_)) << link_.LastError();
    ASSERT_TRUE(router_->WaitFor([](const auto& port) { return !port.has_value(); }, 5s));
    EXPECT_FALSE(router_->WaitFor([](const auto& port) { return port.has_value(); }, 300ms));
}

}  // namespace
}  // namespace tapfix::sim::test
