#include <gtest/gtest.h>

#include "sim_fixture.hpp"

namespace tapfix::sim::test {
namespace {

using DiagTest = RouterTest;

TEST_F(DiagTest, IdentityAnswersCarryTheDeviceState) {
    Start();
    const DeviceState state = router_->Snapshot();

    const Bytes esn = Ask({0x01});
    ASSERT_EQ(esn.size(), 5U) << Hex(esn);
    EXPECT_EQ(Le32At(esn, 1), EsnOf(state));

    const Bytes status = Ask({0x0C});
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status[0], 0x0C);

    // Nine 30-character fields, each followed by its terminator, then date and time.
    const Bytes versions = Ask({0x39});
    ASSERT_EQ(versions.size(), 303U) << Hex(versions);
    EXPECT_GE(host_.RawReceiveLength(), 291U) << "long enough for the nine-string layout";
    for (std::size_t k = 0; k < kVersionCount; ++k) {
        const auto field = versions.begin() + 1 + 31 * static_cast<std::ptrdiff_t>(k);
        const std::string text(field, std::find(field, field + 31, 0));
        EXPECT_EQ(text, state.versions[k]);
        EXPECT_EQ(*(field + 30), 0) << "field " << k << " is terminated";
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&versions[280])), state.compileDate);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&versions[293])), state.compileTime);
    const std::string buildId = state.versions[8];
    EXPECT_EQ(buildId.substr(0, buildId.rfind('V')), "M9615A-CEFWMAZM-2.0.1017");

    EXPECT_EQ(Ask({0x41, '0', '0', '0', '0', '0', '0'}), (Bytes{0x41, 0x01}));
    EXPECT_EQ(Ask({0x41, '1', '2', '3', '4', '5', '6'}), (Bytes{0x41, 0x00}));
    EXPECT_EQ(Ask({0x4B, 0x04, 0x0E, 0x00}).at(0), 0x4B);
}

TEST_F(DiagTest, UnknownCommandsAndBadLengthsAnswerDiagErrors) {
    Start();
    EXPECT_EQ(Ask({0x7F, 0x01}), (Bytes{0x13, 0x7F, 0x01})) << "bad command echoes the request";
    EXPECT_EQ(Ask({0x4B, 0x55, 0x01, 0x00}).at(0), 0x13) << "unknown subsystem";
    EXPECT_EQ(Ask({0x4B, 0xF0, 0x09, 0x00}).at(0), 0x13) << "unknown backup service request";
    EXPECT_EQ(Ask({0x26, 0x26, 0x02}).at(0), 0x15) << "short NV request";
    EXPECT_EQ(Ask({0x29, 0x07, 0x00}).at(0), 0x14) << "unknown mode";
    EXPECT_EQ(Ask({0x4B, 0x13}).at(0), 0x15) << "subsystem header cut short";
    const auto names = TracedRequestNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "unsupported"), 3);
}

TEST_F(DiagTest, NvItemsAnswerWithTheDevicesStatuses) {
    Start();
    const DeviceState before = router_->Snapshot();

    Bytes answer = Ask(NvRequest(0x26, kNvImei));
    ASSERT_EQ(answer.size(), 133U);
    EXPECT_EQ(Le16At(answer, 1), kNvImei);
    EXPECT_TRUE(
        std::equal(answer.begin() + 3, answer.begin() + 131, before.nv.at(kNvImei).begin()));
    EXPECT_EQ(Le16At(answer, 131), 0);

    std::uint16_t inactive = 1;
    while (before.nv.contains(inactive)) {
        ++inactive;
    }
    answer = Ask(NvRequest(0x26, inactive));
    EXPECT_EQ(Le16At(answer, 131), 5) << "inactive item " << inactive;

    // A write activates an item; reading it back gives the written bytes.
    const Bytes value{0xDE, 0xAD, 0x7E, 0x7D, 0x00, 0x42};
    answer = Ask(NvRequest(0x27, inactive, value));
    EXPECT_EQ(answer.at(0), 0x27);
    EXPECT_EQ(Le16At(answer, 131), 0);
    answer = Ask(NvRequest(0x26, inactive));
    EXPECT_EQ(Le16At(answer, 131), 0);
    EXPECT_TRUE(std::equal(value.begin(), value.end(), answer.begin() + 3));

    answer = Ask(NvRequest(0x27, kNvEsn, {1, 2, 3, 4}));
    EXPECT_EQ(Le16At(answer, 131), 7) << "read-only item";
    EXPECT_EQ(router_->Snapshot().nv.at(kNvEsn), before.nv.at(kNvEsn));
}

TEST_F(DiagTest, ResetNeedsOfflineAndBringsThePortBack) {
    Start();
    const int first = router_->CurrentPort()->number;
    EXPECT_EQ(Ask({0x29, 0x02, 0x00}).at(0), 0x18) << "online: the modem refuses to reset";
    ASSERT_TRUE(router_->CurrentPort().has_value());

    EXPECT_EQ(Ask({0x29, 0x01, 0x00}), (Bytes{0x29, 0x01, 0x00}));
    EXPECT_EQ(Ask({0x29, 0x02, 0x00}), (Bytes{0x29, 0x02, 0x00}));
    ASSERT_TRUE(router_->WaitFor([](const auto& port) { return !port.has_value(); },
                                 std::chrono::seconds(5)));
    EXPECT_TRUE(Ask({0x01}).empty());
    EXPECT_FALSE(host_.IsPortOpen()) << "the host's port closed on the hang-up";

    PortInfo port;
    ASSERT_TRUE(router_->WaitForPort(DeviceMode::Normal, std::chrono::seconds(5), &port));
    EXPECT_EQ(port.number, first) << "the same interface gets its number back";
    EXPECT_EQ(RegisteredName(port.number),
              "Qualcomm HS-USB Diagnostics 9025 (COM" + std::to_string(port.number) + ")");
    ASSERT_TRUE(host_.OpenPort(port.number));
    EXPECT_EQ(Ask({0x29, 0x02, 0x00}).at(0), 0x18) << "a rebooted modem is online again";
}

}  // namespace
}  // namespace tapfix::sim::test
