#include "device/vendor.hpp"

#include <gtest/gtest.h>

#include <string>

#include "device/command_pattern.hpp"
#include "device_fixture.hpp"

namespace tapfix::device {
namespace {

using VendorTest = DeviceTest;

constexpr const char* kSilent = "Port Cannot Receive Desired Data from the Phone";

// A clock that moves a minute on every look, so a bound of minutes passes in a few requests.
class MinutePerLookClock final : public platform::Clock {
  public:
    platform::TimePoint Now() const override {
        now_ += std::chrono::minutes(1);
        return now_;
    }
    void Sleep(platform::Milliseconds duration) override { now_ += duration; }

  private:
    mutable platform::TimePoint now_{};
};

// An NV item request: code, item, 128 data bytes, status.
Bytes NvFrame(std::uint8_t code, std::uint16_t item, const Bytes& data) {
    Bytes full = data;
    full.resize(128);
    return Join({{code, static_cast<std::uint8_t>(item), static_cast<std::uint8_t>(item >> 8)},
                 full,
                 {0, 0}});
}

const Bytes kQuery{0x4B, 0xF0, 0x01, 0x00};
const Bytes kWait{0x4B, 0xF0, 0x07, 0x00};

TEST_F(VendorTest, OnboardQueryRepeatsWhileBusyAndHandsBackValues) {
    const Bytes busy = Join({kQuery, {0x00, 0x05}});
    AnswerInTurn({busy, busy, busy, Join({kQuery, {0x00, 0x00}}),
                  Join({kQuery, {0x00, 0x03, 1, 0, 0, 0, 2, 0, 0, 0}}),
                  Join({kQuery, {0x01, 0x00}})});
    OnboardResult result;
    ASSERT_TRUE(QueryOnboardResult(packet, result)) << packet.LastError();
    EXPECT_EQ(Sent(), std::vector<std::string>(4, Frame(kQuery)));
    EXPECT_FALSE(QueryOnboardResult(packet, result));
    EXPECT_EQ(result.state, 3);
    EXPECT_EQ(result.first, 1U);
    EXPECT_EQ(result.second, 2U);
    EXPECT_FALSE(QueryOnboardResult(packet, result)) << "a failure status is no success";
    EXPECT_FALSE(QueryOnboardResult(packet, result));
    EXPECT_EQ(packet.LastError(),
              std::string("Cannot get value from the mobile, Since ") + kSilent);
}

TEST_F(VendorTest, OnboardServiceStuckBusyIsGivenUp) {
    AnswerAlways(Join({kWait, {0x00, 0x05}}));
    MinutePerLookClock clock;
    EXPECT_FALSE(WaitOnboardResult(packet, clock));
    EXPECT_EQ(packet.LastError(),
              "Cannot get value from the mobile, Since the Phone was still busy after 10 minutes");
    EXPECT_GE(Sent().size(), 1U);
    EXPECT_LE(Sent().size(), 11U);
    EXPECT_EQ(LastSent(), Frame(kWait));

    AnswerAlways(Join({kWait, {0x00, 0x00}}));
    EXPECT_TRUE(WaitOnboardResult(packet, clock)) << packet.LastError();
    AnswerAlways(Join({kWait, {0x00, 0x02}}));
    EXPECT_FALSE(WaitOnboardResult(packet, clock));
}

TEST_F(VendorTest, OnboardRequestsCarryTheirFields) {
    AnswerInTurn(
        {Join({{0x4B, 0xF0, 0x00, 0x00}, {0x00}}), Join({{0x4B, 0xF0, 0x02, 0x00}, {0x00}}),
         Join({{0x4B, 0xF0, 0x09, 0x00}, {0x00}}), Join({{0x4B, 0xF0, 0x09, 0x00}, {0x04}})});
    OnboardList list{};
    list[0] = 0x26;
    list[349] = 0x99;
    ASSERT_TRUE(SendOnboardBackupList(packet, true, 0x0102, list)) << packet.LastError();
    EXPECT_EQ(
        LastSent(),
        Frame(Join({{0x4B, 0xF0, 0x00, 0x00, 0x01, 0x02, 0x01}, Bytes(list.begin(), list.end())})));
    EXPECT_TRUE(StartOnboardRestore(packet));
    EXPECT_EQ(LastSent(), Frame({0x4B, 0xF0, 0x02, 0x00}));
    EXPECT_TRUE(SendOnboardCommand(packet, 0x09));
    EXPECT_EQ(LastSent(), Frame({0x4B, 0xF0, 0x09, 0x00}));
    packet.SetLastError("before");
    EXPECT_FALSE(SendOnboardCommand(packet, 0x09));
    EXPECT_EQ(packet.LastError(), "before");
}

TEST_F(VendorTest, WifiValuesAndRestoreTriggers) {
    const Bytes read{0x4B, 0xCD, 0x69, 0x00};
    AnswerInTurn({Join({read, {0x00, 0x07, 0x08, 0x03, 0x00, 'a', 'b', 'c'}}),
                  Join({read, {0x00, 0x07, 0x08, 0x79, 0x00}, Bytes(121, 'x')}),
                  Join({read, {0x00, 0x07, 0x08, 0x05, 0x00, 'a'}}),
                  {0x4B, 0xCD, 0x68, 0x00, 0x00},
                  {0x4B, 0xCD, 0x03, 0x00, 0x00},
                  {0x4B, 0xD0, 0x00, 0x03, 0x00},
                  {0x4B, 0xD0, 0x00, 0x02, 0x01}});
    WifiValue value;
    ASSERT_TRUE(ReadWifiValue(packet, value)) << packet.LastError();
    EXPECT_EQ(LastSent(), Frame(read));
    EXPECT_EQ(value.first, 7);
    EXPECT_EQ(value.second, 8);
    EXPECT_EQ(value.length, 3);
    EXPECT_EQ(std::string(value.data.begin(), value.data.begin() + 3), "abc");
    EXPECT_FALSE(ReadWifiValue(packet, value)) << "121 bytes are more than a value holds";
    EXPECT_FALSE(ReadWifiValue(packet, value));
    EXPECT_EQ(packet.LastError(), texts::kShortAnswer);

    ASSERT_TRUE(WriteWifiValue(packet, 7, 8, Bytes{'a', 'b'})) << packet.LastError();
    EXPECT_EQ(LastSent(), Frame({0x4B, 0xCD, 0x68, 0x00, 0x07, 0x08, 0x02, 0x00, 'a', 'b'}));
    EXPECT_TRUE(CommitWifiValues(packet));
    EXPECT_EQ(LastSent(), Frame({0x4B, 0xCD, 0x03, 0x00}));
    EXPECT_TRUE(RestoreWifiPassword(packet));
    EXPECT_EQ(LastSent(), Frame({0x4B, 0xD0, 0x00, 0x03}));
    EXPECT_FALSE(RestoreSsid(packet));
    EXPECT_EQ(LastSent(), Frame({0x4B, 0xD0, 0x00, 0x02}));
}

TEST_F(VendorTest, MacIsWrittenInTheLayoutOfEachStore) {
    const Bytes mac{0x00, 0x12, 0xAB, 0x34, 0xCD, 0x56};
    AnswerInTurn({{0x4B, 0xCE, 0x00, 0x00, 0x00},
                  {0x4B, 0xFA, 0x06, 0x00, 0x00},
                  Join({{0x4B, 0xD3, 0x01, 0x00}, mac, {0x00}}),
                  {0x4B, 0xC8, 0x02, 0x00, 0x00},
                  NvFrame(0x27, 447, {}),
                  {0x13, 0x4B, 0xCE},
                  NvFrame(0x27, 4678, {})});
    EXPECT_TRUE(WriteWifiMac(packet, "0012AB34CD56", 0)) << packet.LastError();
    EXPECT_EQ(LastSent(), Frame(Join({{0x4B, 0xCE, 0x00, 0x00, 0x06}, mac})));
    EXPECT_TRUE(WriteWifiMac(packet, "0012ab34cd56", 1)) << packet.LastError();
    EXPECT_EQ(LastSent(),
              Frame({0x4B, 0xFA, 0x06, 0x00, 0x00, 0x00, 0x12, 0xAB, 0x34, 0xCD, 0x56}));
    EXPECT_TRUE(WriteWifiMac(packet, "0012AB34CD56", 2)) << packet.LastError();
    EXPECT_EQ(LastSent(), Frame(Join({{0x4B, 0xD3, 0x01, 0x00}, mac, {0x00}})));
    EXPECT_TRUE(WriteWifiMac(packet, "0012AB34CD56", 3)) << packet.LastError();
    EXPECT_EQ(LastSent(), Frame(Join({{0x4B, 0xC8, 0x02, 0x00}, mac})));
    EXPECT_TRUE(WriteWifiMac(packet, "0012AB34CD56", 447)) << packet.LastError();
    EXPECT_EQ(LastSent(), Frame(NvFrame(0x27, 447, {0x56, 0xCD, 0x34, 0xAB, 0x12, 0x00})));
    EXPECT_TRUE(WriteWifiMac(packet, "0012AB34CD56", kMacItemWithSubsystem, true))
        << packet.LastError();
    EXPECT_EQ(Sent().at(5), Frame(Join({{0x4B, 0xCE, 0x00, 0x00, 0x06}, mac})));
    EXPECT_EQ(LastSent(), Frame(NvFrame(0x27, 4678, mac))) << "unsupported store: NV item";

    const std::size_t sent = Sent().size();
    EXPECT_FALSE(WriteWifiMac(packet, "0012AB34CD5", 1));
    EXPECT_FALSE(WriteWifiMac(packet, "0012AB34CD5G", 1));
    EXPECT_EQ(packet.LastError(),
              "cannot write mac, since the MAC address is not twelve hexadecimal digits");
    EXPECT_EQ(Sent().size(), sent);
    EXPECT_FALSE(WriteWifiMac(packet, "0012AB34CD56", 1));
    EXPECT_EQ(packet.LastError(), std::string("cannot write mac, since ") + kSilent);
}

TEST_F(VendorTest, MacIsReadFromEachStore) {
    const Bytes mac{0x00, 0x12, 0xAB, 0x34, 0xCD, 0x56};
    AnswerInTurn(
        {Join({{0x4B, 0xCF, 0x00, 0x01, 0x00}, mac}), Join({{0x4B, 0xD3, 0x00, 0x00}, mac, {0x00}}),
         Join({{0x4B, 0xC8, 0x01, 0x00, 0x00}, mac}),
         Join({{0x4B, 0xC8, 0x01, 0x00, 0x00}, {0x00, 0x12}}),
         NvFrame(0x26, 447, {0x56, 0xCD, 0x34, 0xAB, 0x12, 0x00}), NvFrame(0x26, 4678, mac)});
    MacText text{};
    ASSERT_TRUE(ReadWifiMac(packet, 0, text)) << packet.LastError();
    EXPECT_STREQ(text.data(), "0012AB34CD56");
    EXPECT_EQ(LastSent(), Frame({0x4B, 0xCF, 0x00, 0x01}));
    ASSERT_TRUE(ReadWifiMac(packet, 2, text)) << packet.LastError();
    EXPECT_STREQ(text.data(), "0012AB34CD56");
    EXPECT_EQ(LastSent(), Frame(Join({{0x4B, 0xD3}, Bytes(9, 0)})));
    ASSERT_TRUE(ReadWifiMac(packet, 3, text)) << packet.LastError();
    EXPECT_STREQ(text.data(), "0012AB34CD56");
    EXPECT_EQ(LastSent(), Frame({0x4B, 0xC8, 0x01, 0x00}));
    EXPECT_FALSE(ReadWifiMac(packet, 3, text));
    EXPECT_EQ(packet.LastError(), texts::kShortAnswer);
    EXPECT_EQ(text, MacText{});
    ASSERT_TRUE(ReadWifiMac(packet, 447, text)) << packet.LastError();
    EXPECT_STREQ(text.data(), "0012AB34CD56");
    ASSERT_TRUE(ReadWifiMac(packet, kMacItemWithSubsystem, text)) << packet.LastError();
    EXPECT_STREQ(text.data(), "0012AB34CD56");
    EXPECT_EQ(LastSent(), Frame(NvFrame(0x26, 4678, {})));
    EXPECT_FALSE(ReadWifiMac(packet, 1, text));
    EXPECT_EQ(packet.LastError(), std::string("cannot read mac, since ") + kSilent);
}

}  // namespace
}  // namespace tapfix::device
