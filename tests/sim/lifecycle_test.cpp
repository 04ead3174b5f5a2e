#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>

#include "device/command_set.hpp"
#include "device/dmss_commands.hpp"
#include "link/serial.hpp"
#include "sim_fixture.hpp"

namespace tapfix::sim::test {
namespace {

using namespace std::chrono_literals;
using LifecycleTest = RouterTest;

bool Gone(const std::optional<PortInfo>& port) {
    return !port.has_value();
}

TEST_F(LifecycleTest, SwitchToDownloaderReplacesTheDiagPortWithADownloadPort) {
    Start();
    const int diagPort = router_->CurrentPort()->number;
    EXPECT_EQ(Ask({0x3A}), (Bytes{0x3A}));
    ASSERT_TRUE(router_->WaitFor(Gone, 5s));
    EXPECT_TRUE(Ask({0x01}).empty());
    EXPECT_FALSE(host_.IsPortOpen());
    EXPECT_FALSE(
        std::filesystem::exists(dir_.Path() / "ports" / ("COM" + std::to_string(diagPort))));

    PortInfo download;
    ASSERT_TRUE(router_->WaitForPort(DeviceMode::Download, 5s, &download));
    EXPECT_NE(download.number, diagPort) << "download mode is another USB interface";
    EXPECT_EQ(RegisteredName(download.number),
              "Qualcomm HS-USB QDLoader 9008 (COM" + std::to_string(download.number) + ")");

    // The boot loader answers there.
    ASSERT_TRUE(host_.OpenPort(download.number));
    device::AttachCommandSet(host_);
    EXPECT_TRUE(device::DmssNop(host_)) << host_.LastError();
}

// The answer that sends the device away reaches the host's queue a moment after the device
// wrote it; the port must not leave in that moment. The host reads with a plain descriptor,
// taking every byte the moment it arrives.
TEST_F(LifecycleTest, AnswerBeforeLeavingIsAlwaysDelivered) {
    const Bytes request = tapfix::test::ReferenceFrame({0x3A}, false);
    for (int round = 0; round < 40; ++round) {
        if (router_) {
            router_->Stop();
        }
        router_ = std::make_unique<SimulatedRouter>(Options());
        std::string error;
        ASSERT_TRUE(router_->Start(&error)) << error;
        const auto device = std::filesystem::canonical(
            dir_.Path() / "ports" / ("COM" + std::to_string(router_->CurrentPort()->number)));
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, request.data(), request.size()),
                  static_cast<ssize_t>(request.size()));
        pollfd entry{fd, POLLIN, 0};
        std::uint8_t answer[16] = {};
        const ssize_t got = ::poll(&entry, 1, 2000) > 0 ? ::read(fd, answer, sizeof answer) : -1;
        ::close(fd);
        ASSERT_GT(got, 0) << "round " << round;
        EXPECT_EQ(answer[0], 0x3A);
    }
}

TEST_F(LifecycleTest, StateFileRoundTripsWhatTheHostChanged) {
    RouterOptions options = Options();
    options.statePath = dir_.Path() / "router.json";
    Start(options);
    ASSERT_TRUE(std::filesystem::exists(options.statePath)) << "created with defaults";
    const DeviceState before = router_->Snapshot();

    Ask(NvRequest(0x27, 6700, {9, 8, 7}));
    Bytes put{0x4B, 0x13, 0x26, 0x00};
    wire::AppendLe32(put, 2);
    wire::AppendLe32(put, 64);
    wire::AppendLe16(put, 0);
    const std::string path = "nv/item_files/rfnv/00020207";
    put.insert(put.end(), {0x55, 0x66});
    put.insert(put.end(), path.begin(), path.end());
    put.push_back(0);
    EXPECT_EQ(Le32At(Ask(put), 6), 0U);
    Ask({0x4B, 0xC8, 0x02, 0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60});
    const DeviceState changed = router_->Snapshot();
    EXPECT_FALSE(changed == before);
    host_.ClosePort();
    ASSERT_TRUE(router_->Stop()) << router_->LastError();

    DeviceState saved;
    std::string error;
    ASSERT_TRUE(LoadState(options.statePath, &saved, &error)) << error;
    EXPECT_TRUE(saved == changed);
    EXPECT_EQ(WifiMacText(saved), "102030405060");
    EXPECT_EQ(saved.efs.at(path).data, (Bytes{0x55, 0x66}));

    // The same device again: it answers with what it kept.
    Start(options);
    const Bytes item = Ask(NvRequest(0x26, 6700));
    EXPECT_EQ(Bytes(item.begin() + 3, item.begin() + 6), (Bytes{9, 8, 7}));
    EXPECT_TRUE(router_->Snapshot() == changed);
}

TEST_F(LifecycleTest, AnswerFaultsHappenOnTheNamedAnswers) {
    RouterOptions options = Options();
    std::string error;
    ASSERT_TRUE(options.faults.Parse("silent:1,badcrc:2,diagerror:0x27", &error));
    options.tracePath = dir_.Path() / "trace.jsonl";
    Start(options);

    EXPECT_TRUE(Ask({0x01}).empty());
    EXPECT_EQ(host_.LastError(), "Port Cannot Receive Desired Data from the Phone");
    EXPECT_TRUE(Ask({0x01}).empty());
    EXPECT_EQ(host_.LastError(), "the Received Data is Wrong with Wrong CRC Checksum");
    EXPECT_EQ(Ask({0x01}).size(), 5U) << "third answer is sound";

    const DeviceState before = router_->Snapshot();
    EXPECT_EQ(Ask(NvRequest(0x27, 6700, {1})).at(0), 0x13);
    EXPECT_EQ(router_->Snapshot().nv.at(6700), before.nv.at(6700)) << "refused, not executed";

    std::ifstream trace(options.tracePath);
    std::string line;
    std::vector<std::string> faults;
    while (std::getline(trace, line)) {
        const auto record = nlohmann::json::parse(line);
        if (record.at("event") == "fault") {
            faults.push_back(record.at("fault"));
        } else if (record.contains("fault")) {
            faults.push_back(record.at("fault"));
        }
    }
    EXPECT_EQ(faults, (std::vector<std::string>{"silent", "badcrc", "diagerror"}));
}

TEST_F(LifecycleTest, RefusedNvItemsAnswerTheirStatusAndStayAsTheyWere) {
    RouterOptions options = Options();
    std::string error;
    ASSERT_TRUE(options.faults.Parse("nvwrite-refused:6701,nvread-refused:6702:8", &error));
    Start(options);
    constexpr std::size_t kStatus = 131;
    const DeviceState before = router_->Snapshot();
    EXPECT_EQ(wire::ReadLe16(Ask(NvRequest(0x27, 6701, {1})), kStatus), 4);
    EXPECT_EQ(router_->Snapshot().nv.at(6701), before.nv.at(6701)) << "refused, not written";
    EXPECT_EQ(wire::ReadLe16(Ask(NvRequest(0x26, 6702)), kStatus), 8);
    EXPECT_EQ(wire::ReadLe16(Ask(NvRequest(0x26, 6701)), kStatus), 0) << "reads of others answer";
    EXPECT_EQ(wire::ReadLe16(Ask(NvRequest(0x27, 6702, {1})), kStatus), 0) << "so do writes";
}

TEST_F(LifecycleTest, SplitAnswerArrivesWholeAfterItsGap) {
    RouterOptions options = Options();
    std::string error;
    ASSERT_TRUE(options.faults.Parse("split:100", &error));
    Start(options);
    Bytes answer{0x01};
    wire::AppendLe32(answer, EsnOf(router_->Snapshot()));
    EXPECT_EQ(Ask({0x01}), answer) << host_.LastError();
}

// The gap is the device's schedule, not a wait of its thread: whatever its length, the device
// can be stopped and read while the second half is due.
TEST_F(LifecycleTest, SplitAnswerOfAnyGapLeavesTheDeviceResponsive) {
    RouterOptions options = Options();
    std::string error;
    ASSERT_TRUE(options.faults.Parse("split:3600000", &error));
    Start(options);
    EXPECT_TRUE(Ask({0x01}).empty());
    EXPECT_EQ(host_.LastError(), "the Received Data is Wrong without End Flag(0x7e)");
    EXPECT_EQ(router_->CurrentPort()->mode, DeviceMode::Normal);
    EXPECT_TRUE(router_->Stop());
}

TEST_F(LifecycleTest, NoPortAfterResetLeavesTheRegistryEmpty) {
    RouterOptions options = Options();
    options.profile.rebootTime = 1000ms;
    std::string error;
    ASSERT_TRUE(options.faults.Parse("noport-after-reset", &error));
    Start(options);
    Ask({0x29, 0x01, 0x00});
    EXPECT_EQ(Ask({0x29, 0x02, 0x00}).at(0), 0x29);
    ASSERT_TRUE(router_->WaitFor(Gone, 5s));
    EXPECT_FALSE(router_->WaitFor([](const auto& port) { return port.has_value(); }, 300ms));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.Path() / "ports"));
}

}  // namespace
}  // namespace tapfix::sim::test
