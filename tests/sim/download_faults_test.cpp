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

TEST_F(DownloadFaultTest, NoPortAfterTheProgrammerReset) {
    StartProgrammer("noport-after-reset");
    ASSERT_TRUE(device::StreamReset(link_)) << link_.LastError();
    ASSERT_TRUE(router_->WaitFor([](const auto& port) { return !port.has_value(); }, 5s));
    EXPECT_FALSE(router_->WaitFor([](const auto& port) { return port.has_value(); }, 300ms));
}

}  // namespace
}  // namespace tapfix::sim::test
