#include "device/device_service.hpp"

#include <gtest/gtest.h>

#include "device_fixture.hpp"

namespace tapfix::device {
namespace {

TEST(DeviceService, SlotsReachTheirOwnLinkAndBadSlotsFail) {
    PtyPeer peer;
    peer.AnswerAlways({{test::ReferenceFrame({0x0C, 0x01}, false)}});
    CBIWcdmaQualcommService service;
    ASSERT_NE(service.Link(0), nullptr);
    EXPECT_NE(service.Link(0), service.Link(7));
    EXPECT_EQ(service.Link(8), nullptr);
    EXPECT_EQ(service.Link(-1), nullptr);
    EXPECT_EQ(service.RunSlotCommand(1, 0), -1) << "closed port";
    ASSERT_TRUE(service.Link(0)->OpenPort(peer.PortNumber()));
    EXPECT_EQ(service.RunSlotCommand(1, 0), 0);
    EXPECT_EQ(service.RunSlotCommand(2, 0), 0) << service.Link(0)->LastError();
    EXPECT_EQ(service.RunSlotCommand(2, 8), -1);
    EXPECT_EQ(service.RunSlotCommand(14, 0), -1);
    EXPECT_EQ(service.RunSlotCommand(1, 1), -1) << "slot 1 has its own, closed link";
    EXPECT_EQ(service.CopySlotResult(9), nullptr);
}

TEST(DeviceService, ForwardersReturnZeroOrMinusOneAndResultsCopyTheResponse) {
    PtyPeer peer;
    NvItemData value{};
    value[0] = 0xAB;
    value[127] = 0xCD;
    Bytes answer{0x26, 0x16, 0x00};
    answer.insert(answer.end(), value.begin(), value.end());
    answer.insert(answer.end(), {0x00, 0x00});
    peer.AnswerAlways({{test::ReferenceFrame(answer, false)}});
    CBIWcdmaQualcommService service;
    ASSERT_TRUE(service.Link(0)->OpenPort(peer.PortNumber()));
    NvItemData data{};
    std::uint16_t status = 0xFFFF;
    ASSERT_EQ(service.SlotReadNvItem(0, 22, data, status), 0) << service.Link(0)->LastError();
    EXPECT_EQ(data, value);
    EXPECT_EQ(status, 0);
    const auto* result = service.CopySlotResult(0);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->status, 0x26);
    EXPECT_EQ(result->data[1], 0x16) << "the item number at response offset 2";

    EXPECT_EQ(service.SlotReadNvItem(3, 22, data, status), -1);
    std::uint32_t descriptor = 0;
    EXPECT_EQ(service.SlotEfsOpen(0, std::string(70, 'a'), EfsAccess::Read, descriptor), -1)
        << "a path too long for the request is refused";
}

}  // namespace
}  // namespace tapfix::device
