#include <gtest/gtest.h>

#include "sim_fixture.hpp"

namespace tapfix::sim::test {
namespace {

using VendorTest = RouterTest;

const Bytes kMac{0x00, 0x12, 0xAB, 0x34, 0xCD, 0x56};

Bytes WithMac(Bytes request, const Bytes& mac = kMac) {
    request.insert(request.end(), mac.begin(), mac.end());
    return request;
}

TEST_F(VendorTest, EveryMacKindWritesAndReadsTheSameAddress) {
    Start();
    const Bytes initial{0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(Ask({0x4B, 0xCF, 0x00, 0x01}), WithMac({0x4B, 0xCF, 0x00, 0x01, 0x00}, initial));

    EXPECT_EQ(Ask(WithMac({0x4B, 0xCE, 0x00, 0x00, 0x06})), (Bytes{0x4B, 0xCE, 0x00, 0x00, 0x00}));
    EXPECT_EQ(WifiMacText(router_->Snapshot()), "0012AB34CD56");
    EXPECT_EQ(Ask({0x4B, 0xFA, 0x05, 0x00}), WithMac({0x4B, 0xFA, 0x05, 0x00, 0x00}));
    EXPECT_EQ(Ask({0x4B, 0xC8, 0x01, 0x00}), WithMac({0x4B, 0xC8, 0x01, 0x00, 0x00}));
    Bytes kind2 = Ask({0x4B, 0xD3, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(kind2, Concat({{0x4B, 0xD3, 0x00, 0x00}, kMac, {0x00}})) << "MAC at 4..9, status 10";

    const Bytes other{0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5};
    EXPECT_EQ(Ask(WithMac({0x4B, 0xFA, 0x06, 0x00, 0x00}, other)).at(4), 0x00);
    EXPECT_EQ(WifiMacText(router_->Snapshot()), "A0B1C2D3E4F5");
    kind2 = Ask(Concat({{0x4B, 0xD3, 0x01, 0x00}, kMac, {0x00}}));
    EXPECT_EQ(kind2.at(10), 0x00);
    EXPECT_EQ(Ask(WithMac({0x4B, 0xC8, 0x02, 0x00}, other)), (Bytes{0x4B, 0xC8, 0x02, 0x00, 0x00}));
    // The NV item is where the firmware keeps it.
    const Bytes item = Ask(NvRequest(0x26, kNvWifiMac));
    EXPECT_TRUE(std::equal(other.begin(), other.end(), item.begin() + 3));

    router_->Modify([](DeviceState& state) { state.macKinds = {3}; });
    EXPECT_EQ(Ask(WithMac({0x4B, 0xCE, 0x00, 0x00, 0x06})).at(0), 0x13) << "kind 0 not built in";
    EXPECT_EQ(Ask({0x4B, 0xC8, 0x01, 0x00}).at(4), 0x00);
}

Bytes BackupBatch(bool more, const std::vector<std::uint32_t>& items, std::uint16_t count) {
    Bytes request{0x4B, 0xF0, 0x00, 0x00, static_cast<std::uint8_t>(more ? 1 : 0)};
    wire::AppendLe16(request, count);
    Bytes list(350, 0xFF);
    for (std::size_t i = 0; i < items.size(); ++i) {
        wire::WriteLe32(list, 4 * i, items[i]);
    }
    request.insert(request.end(), list.begin(), list.end());
    return request;
}

TEST_F(VendorTest, OnboardBackupKeepsItemsAndRestoresThemAfterBusyAnswers) {
    RouterOptions options = Options();
    options.profile.onboardBusyPolls = 3;
    Start(options);
    const Bytes query{0x4B, 0xF0, 0x01, 0x00};
    EXPECT_EQ(Ask({0x4B, 0xF0, 0x02, 0x00}).at(4), 1) << "nothing kept yet: restore refused";

    std::vector<std::uint32_t> first(50);
    for (std::uint32_t i = 0; i < 50; ++i) {
        first[i] = 6000 + i;
    }
    EXPECT_EQ(Ask(BackupBatch(true, first, 50)), (Bytes{0x4B, 0xF0, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Ask(BackupBatch(false, {kNvImei, kNvWifiMac}, 2)).at(4), 0);
    for (int busy = 0; busy < 3; ++busy) {
        EXPECT_EQ(Ask(query).at(5), 5) << "busy answer " << busy;
    }
    const Bytes done = Ask(query);
    ASSERT_EQ(done.size(), 14U);
    EXPECT_EQ(done.at(4), 0);
    EXPECT_EQ(done.at(5), 0);
    const DeviceState kept = router_->Snapshot();
    EXPECT_TRUE(kept.onboardBackup.contains(kNvImei));
    EXPECT_TRUE(kept.onboardBackup.contains(6000) == kept.nv.contains(6000));

    // A download wipes NV; the device puts its kept items back on request.
    router_->Modify([](DeviceState& state) { state.nv.clear(); });
    EXPECT_EQ(Ask({0x4B, 0xF0, 0x02, 0x00}), (Bytes{0x4B, 0xF0, 0x02, 0x00, 0x00}));
    Bytes result;
    do {
        result = Ask({0x4B, 0xF0, 0x07, 0x00});
    } while (result.size() > 5 && result[5] == 5);
    EXPECT_EQ(result.at(5), 0);
    EXPECT_EQ(router_->Snapshot().nv.at(kNvImei), kept.nv.at(kNvImei));

    // A count larger than the entries the list holds: the device reports the mismatch.
    EXPECT_EQ(Ask(BackupBatch(false, {22, 23}, 3)).at(4), 0);
    do {
        result = Ask(query);
    } while (result.size() > 5 && result[5] == 5);
    EXPECT_EQ(result.at(5), 2);
    EXPECT_EQ(Le32At(result, 6), 2U) << "the entries the firmware parsed";
    EXPECT_EQ(Le32At(result, 10), 3U) << "the count it was given";
}

TEST_F(VendorTest, WifiSettingsFlagsAndPartitionTable) {
    Start();
    Bytes write{0x4B, 0xCD, 0x68, 0x00, 0x02, 0x05};
    wire::AppendLe16(write, 3);
    write.insert(write.end(), {'a', 'b', 'c'});
    EXPECT_EQ(Ask(write), (Bytes{0x4B, 0xCD, 0x68, 0x00, 0x00}));
    EXPECT_EQ(Ask({0x4B, 0xCD, 0x69, 0x00}).size(), 9U) << "not committed yet: empty value";
    EXPECT_EQ(Ask({0x4B, 0xCD, 0x03, 0x00}).at(4), 0);
    EXPECT_EQ(Ask({0x4B, 0xCD, 0x69, 0x00}),
              (Bytes{0x4B, 0xCD, 0x69, 0x00, 0x00, 0x02, 0x05, 0x03, 0x00, 'a', 'b', 'c'}));
    Bytes tooLong{0x4B, 0xCD, 0x68, 0x00, 0x00, 0x00};
    wire::AppendLe16(tooLong, 121);
    tooLong.resize(tooLong.size() + 121, 'x');
    EXPECT_EQ(Ask(tooLong).at(4), 1);

    router_->Modify([](DeviceState& state) { state.wifi.ssid = state.wifi.password = "reset"; });
    EXPECT_EQ(Ask({0x4B, 0xD0, 0x00, 0x02}), (Bytes{0x4B, 0xD0, 0x00, 0x02, 0x00}));
    EXPECT_EQ(Ask({0x4B, 0xD0, 0x00, 0x03}), (Bytes{0x4B, 0xD0, 0x00, 0x03, 0x00}));
    DeviceState state = router_->Snapshot();
    EXPECT_EQ(state.wifi.ssid, state.wifi.savedSsid);
    EXPECT_EQ(state.wifi.password, state.wifi.savedPassword);

    EXPECT_EQ(Ask({0x4B, 0xAA, 0x00, 0x00, 0x02}), (Bytes{0x4B, 0xAA, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Ask({0x4B, 0xA1, 0x00, 0x00, 0x01}), (Bytes{0x4B, 0xA1, 0x00, 0x00, 0x00}));
    state = router_->Snapshot();
    EXPECT_EQ(state.specialDlMode, 2);
    EXPECT_EQ(state.autorun, 1);

    const Bytes table = Ask({0x4B, 0xC9, 0x0F, 0x00});
    ASSERT_GE(table.size(), 8U);
    EXPECT_EQ(Bytes(table.begin(), table.begin() + 4), (Bytes{0x4B, 0xC9, 0x0F, 0x00}));
    EXPECT_EQ(Le16At(table, 4), 0);
    EXPECT_EQ(Le16At(table, 6), state.partitionTable.size());
    EXPECT_EQ(Bytes(table.begin() + 8, table.end()), state.partitionTable);
}

}  // namespace
}  // namespace tapfix::sim::test
