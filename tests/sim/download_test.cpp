#include <gtest/gtest.h>

#include "device/diag_commands.hpp"
#include "device/dmss_commands.hpp"
#include "device/nv_efs.hpp"
#include "device/sahara.hpp"
#include "device/stream_commands.hpp"
#include "device/vendor.hpp"
#include "download_fixture.hpp"
#include "sim/flash_model.hpp"

namespace tapfix::sim::test {
namespace {

using namespace std::chrono_literals;
using host::ImagePlan;
using host::OpenBy;
using host::Transfer;

// The package's file list, each image given another way in or another transfer variant.
const std::vector<ImagePlan> kFlashPlan = {
    {"rpm-header.bin", 0x14, "", OpenBy::Header, Transfer::Normal},
    {"rpm.mbn", 0x0E, "0:RPM", OpenBy::Name, Transfer::Normal},
    {"sbl1.mbn", 0x0E, "0:SBL1", OpenBy::Name, Transfer::Pipelined},
    {"sbl2.mbn", 0x0E, "0:SBL2", OpenBy::Name, Transfer::Checksummed},
    {"dsp1.mbn", 0x0D, "", OpenBy::Type, Transfer::Checksummed},
    {"dsp2.mbn", 0x0E, "0:DSP2", OpenBy::Name, Transfer::HighSpeed},
    {"appsboot.mbn", 0x0E, "0:APPSBL", OpenBy::Name, Transfer::Checksummed},
    {"9615-cdp-image-9615-cdp.yaffs2", 0x0E, "0:SYSTEM", OpenBy::Name, Transfer::Checksummed},
    {"9615-cdp-usr-image.usrfs.yaffs2", 0x0E, "0:USERDATA", OpenBy::Name, Transfer::Checksummed},
    {"9615-cdp-qvodata-image.usrfs.yaffs2", 0x0E, "0:QVODATA", OpenBy::Name, Transfer::Checksummed},
    {"efs.mbn", 0x0E, "0:EFS2", OpenBy::Name, Transfer::Checksummed},
    {"9615-cdp-recovery-image-9615-cdp.yaffs2", 0x0E, "0:RECOVERYFS", OpenBy::Name,
     Transfer::Checksummed},
    {"recovery-boot-oe-msm9615.img", 0x0E, "0:RECOVERY", OpenBy::Name, Transfer::Checksummed},
    {"boot-oe-msm9615.img", 0x0E, "0:APPS", OpenBy::Name, Transfer::Checksummed},
};

std::string PartitionOf(const ImagePlan& plan) {
    if (plan.openBy == OpenBy::Name) {
        return plan.partition;
    }
    return plan.type == 0x14 ? "0:RPM" : "0:DSP1";
}

std::string VersionText(const device::VersionRecord& record, std::size_t index) {
    const auto slot = record.begin() + 1 + 31 * static_cast<std::ptrdiff_t>(index);
    return std::string(slot, std::find(slot, slot + 31, 0));
}

class FlashTest : public DownloadTest {
  protected:
    // The header-only image: the first 512 bytes of the RPM image.
    void WriteHeaderFile() {
        const auto rpm = File("rpm.mbn");
        std::ofstream(firmware_ / "rpm-header.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(rpm.data()), 512);
    }

    void FlashAll() {
        ASSERT_TRUE(host::BeginStreaming(link_, File("partition.mbn"), 0)) << link_.LastError();
        for (const ImagePlan& plan : kFlashPlan) {
            ASSERT_TRUE(host::SendImage(link_, firmware_, plan))
                << plan.file << ": " << link_.LastError();
        }
    }

    // Every image the device wrote, in order, is byte for byte the file it was sent.
    void ExpectImagesAsSent() {
        const auto written = Events("image_written");
        ASSERT_EQ(written.size(), kFlashPlan.size());
        for (std::size_t i = 0; i < written.size(); ++i) {
            const ImagePlan& plan = kFlashPlan[i];
            const auto file = File(plan.file);
            EXPECT_EQ(written[i].at("partition"), PartitionOf(plan)) << plan.file;
            EXPECT_EQ(written[i].at("bytes"), file.size()) << plan.file;
            EXPECT_EQ(written[i].at("sha256"), flash::Sha256Hex(file)) << plan.file;
        }
        const DeviceState state = router_->Snapshot();
        EXPECT_EQ(state.flash.size(), kFlashPlan.size() - 1) << "the header was rewritten";
        EXPECT_EQ(state.flash.at("0:DSP2").sha256, flash::Sha256Hex(File("dsp2.mbn")));
        EXPECT_EQ(state.partitionTable, File("partition.mbn"));
    }
};

TEST_F(FlashTest, BootLoaderRouteFlashesEveryImageAndBootsTheNewFirmware) {
    WriteHeaderFile();
    Launch(DownloadOptions(DeviceMode::Normal));
    Connect(DeviceMode::Normal);
    ASSERT_TRUE(device::SwitchToDownloader(link_)) << link_.LastError();
    const PortInfo boot = Connect(DeviceMode::Download);

    ASSERT_TRUE(device::DmssNop(link_)) << link_.LastError();
    device::FlashInfoRecord info{};
    ASSERT_TRUE(device::GetFlashInfo(link_, info)) << link_.LastError();
    EXPECT_EQ(info[0], 0x08);
    EXPECT_EQ(wire::ReadLe32(info, device::dmss::kInfoMaxWriteSize), 1024U);
    EXPECT_EQ(wire::ReadLe32(info, device::dmss::kInfoFlashSize), 0x800000U);

    const auto programmer = File("narmprg.bin");
    ASSERT_TRUE(host::LoadProgrammerDmss(link_, programmer)) << link_.LastError();
    ASSERT_TRUE(host::StartProgrammerDmss(link_, programmer)) << link_.LastError();
    EXPECT_EQ(router_->CurrentPort()->number, boot.number) << "the programmer runs on the port";
    EXPECT_EQ(router_->CurrentPort()->mode, DeviceMode::Programmer);

    FlashAll();
    ExpectImagesAsSent();
    const auto table = Events("request");
    EXPECT_TRUE(std::any_of(table.begin(), table.end(), [](const auto& record) {
        return record.value("name", "") == "partition_table" && record.value("status", 9) == 1;
    })) << "the device's own table differs and is kept until overridden";

    ASSERT_TRUE(device::StreamReset(link_)) << link_.LastError();
    ASSERT_TRUE(router_->WaitFor([](const auto& port) { return !port.has_value(); }, 5s));
    Connect(DeviceMode::Normal);
    device::VersionRecord versions{};
    ASSERT_TRUE(device::GetSoftwareVersion(link_, versions)) << link_.LastError();
    EXPECT_EQ(VersionText(versions, 8), std::string(kBuildId) + "V01");
    // The new partition table moved EFS2: calibration and identity are factory blank.
    device::NvItemData data{};
    std::uint16_t status = 0;
    device::ReadNvItem(link_, kNvImei, data, status);
    EXPECT_EQ(status, 5) << "IMEI inactive";
    EXPECT_FALSE(router_->Snapshot().blank);
}

TEST_F(FlashTest, SaharaRouteRunsTheProgrammerOnTheSamePort) {
    RouterOptions options = DownloadOptions();
    options.profile.boot = BootProtocol::Sahara;
    options.profile.saharaImageId = 13;
    Launch(options);
    const PortInfo boot = Connect(DeviceMode::Download);
    const auto programmer = File("armprg.bin");
    ASSERT_TRUE(host::LoadProgrammerSahara(link_, programmer, 13)) << link_.LastError();

    std::string flashId;
    ASSERT_TRUE(device::StreamHello(link_, flashId)) << link_.LastError();
    EXPECT_EQ(flashId, "TFX NAND 512MiB 2K-page");
    EXPECT_EQ(router_->CurrentPort()->number, boot.number);
    const auto loaded = Events("programmer_loaded");
    ASSERT_EQ(loaded.size(), 1U);
    EXPECT_EQ(loaded[0].at("sha256"), flash::Sha256Hex(programmer));
    // The hello announced the pending image (mode 0) that goes with image id 13.
    const auto hello = Events("sahara");
    ASSERT_FALSE(hello.empty());
    EXPECT_EQ(hello[0].at("mode"), 0);
}

TEST_F(FlashTest, BootStageRefusesBadWritesAndForeignProgrammers) {
    Launch(DownloadOptions());
    Connect(DeviceMode::Download);
    const Bytes block(16, 0xAB);
    EXPECT_FALSE(device::DmssWrite32(link_, block, 0x10000000));
    EXPECT_EQ(link_.LastError(),
              "Write a Block of Data to Memory Failed, Since destination address is invalid");
    // The sahara programmer is a programmer, but not the one this boot loader was given.
    const auto foreign = File("armprg.bin");
    ASSERT_TRUE(host::LoadProgrammerDmss(link_, foreign)) << link_.LastError();
    EXPECT_FALSE(host::StartProgrammerDmss(link_, foreign));
    EXPECT_EQ(router_->CurrentPort()->mode, DeviceMode::Download);
    ASSERT_EQ(Events("programmer_refused").size(), 1U);
    EXPECT_TRUE(device::DmssNop(link_)) << "still the boot loader";

    // Sahara takes the image to its end, then refuses it.
    link_.ClosePort();
    router_->Stop();
    RouterOptions options = DownloadOptions();
    options.profile.boot = BootProtocol::Sahara;
    Launch(options);
    Connect(DeviceMode::Download);
    EXPECT_FALSE(host::LoadProgrammerSahara(link_, File("narmprg.bin"), 7));
    EXPECT_EQ(device::SaharaWord(link_, 0), 4U) << "end of image";
    EXPECT_NE(device::SaharaWord(link_, 3), 0U) << "with a failure status";
    std::string flashId;
    EXPECT_FALSE(device::StreamHello(link_, flashId));
}

TEST_F(FlashTest, OnboardBackupKeepsItsItemsWhenTheTableIsRewritten) {
    Launch(DownloadOptions(DeviceMode::Normal));
    Connect(DeviceMode::Normal);
    const DeviceState before = router_->Snapshot();
    device::OnboardList list{};
    std::fill(list.begin(), list.end(), 0xFF);
    const std::uint32_t kept[] = {kNvImei, kNvWifiMac};
    for (std::size_t i = 0; i < std::size(kept); ++i) {
        wire::WriteLe32(list, 4 * i, kept[i]);
    }
    ASSERT_TRUE(device::SendOnboardBackupList(link_, false, 2, list)) << link_.LastError();
    device::OnboardResult result;
    ASSERT_TRUE(device::QueryOnboardResult(link_, result)) << link_.LastError();

    ASSERT_TRUE(device::SwitchToDownloader(link_));
    Connect(DeviceMode::Download);
    const auto programmer = File("narmprg.bin");
    ASSERT_TRUE(host::LoadProgrammerDmss(link_, programmer));
    ASSERT_TRUE(host::StartProgrammerDmss(link_, programmer));
    ASSERT_TRUE(host::BeginStreaming(link_, File("partition.mbn"), 1)) << link_.LastError();
    ASSERT_TRUE(device::StreamReset(link_));
    ASSERT_TRUE(router_->WaitFor([](const auto& port) { return !port.has_value(); }, 5s));
    Connect(DeviceMode::Normal);

    device::ImeiText imei{};
    ASSERT_TRUE(device::GetImei(link_, imei)) << link_.LastError();
    EXPECT_STREQ(imei.data(), "359876543210984");
    device::NvItemData data{};
    std::uint16_t status = 0;
    device::ReadNvItem(link_, 6700, data, status);
    EXPECT_EQ(status, 5) << "not kept, so blank";
    const DeviceState after = router_->Snapshot();
    EXPECT_EQ(after.nv.at(kNvWifiMac), before.nv.at(kNvWifiMac));
    EXPECT_EQ(after.nv.size(), 2U);
    EXPECT_EQ(after.versions, before.versions) << "no modem image was written";
}

}  // namespace
}  // namespace tapfix::sim::test
