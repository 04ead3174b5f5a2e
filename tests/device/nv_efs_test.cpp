#include "device/nv_efs.hpp"

#include <gtest/gtest.h>

#include <string>

#include "device/command_pattern.hpp"
#include "device_fixture.hpp"

namespace tapfix::device {
namespace {

using NvEfsTest = DeviceTest;

constexpr const char* kSilent = "Port Cannot Receive Desired Data from the Phone";

Bytes Le16(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
}

Bytes Le32(std::uint32_t value) {
    return Join(
        {Le16(static_cast<std::uint16_t>(value)), Le16(static_cast<std::uint16_t>(value >> 16))});
}

Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// An NV item request or answer: code, item, 128 data bytes, status.
Bytes NvFrame(std::uint8_t code, std::uint16_t item, const Bytes& data, std::uint16_t status) {
    Bytes full = data;
    full.resize(128);
    return Join({{code}, Le16(item), full, Le16(status)});
}

Bytes ItemBytes(const NvItemData& data) {
    return Bytes(data.begin(), data.end());
}

TEST_F(NvEfsTest, ReadNvItemHandsBackDataOrStatusAndZeroesOnFailure) {
    const Bytes value{0x11, 0x22, 0x33};
    AnswerInTurn(
        {NvFrame(0x26, 447, value, 0), NvFrame(0x26, 447, value, 5), NvFrame(0x26, 448, value, 0)});
    NvItemData data{};
    data[0] = 0xEE;
    std::uint16_t status = 0x1234;
    ASSERT_TRUE(ReadNvItem(packet, 447, data, status)) << packet.LastError();
    EXPECT_EQ(LastSent(), Frame(NvFrame(0x26, 447, {0xEE}, 0))) << "the buffer goes out as it is";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ItemBytes(data), Join({value, Bytes(125, 0)}));

    EXPECT_FALSE(ReadNvItem(packet, 447, data, status));
    EXPECT_EQ(packet.LastError(), "cannot read #447 NV Item, since Variable was not active");
    EXPECT_EQ(status, 5);
    EXPECT_EQ(data, NvItemData{});

    data.fill(0x77);
    EXPECT_FALSE(ReadNvItem(packet, 447, data, status)) << "answer for another item";
    EXPECT_EQ(status, kNvStatusNoAnswer);
    EXPECT_EQ(data, NvItemData{});

    data.fill(0x77);
    EXPECT_FALSE(ReadNvItem(packet, 447, data, status));
    EXPECT_EQ(packet.LastError(), std::string("cannot read #447 NVItem, since ") + kSilent);
    EXPECT_EQ(status, kNvStatusNoAnswer);
    EXPECT_EQ(data, NvItemData{});
}

TEST_F(NvEfsTest, WriteNvItemSendsTheValueAndReportsStatus) {
    AnswerInTurn({NvFrame(0x27, 10, {1, 2}, 0), NvFrame(0x27, 10, {1, 2}, 11),
                  NvFrame(0x27, 10, {1, 2}, 7)});
    NvItemData data{};
    data[0] = 1;
    data[1] = 2;
    std::uint16_t status = 0;
    ASSERT_TRUE(WriteNvItem(packet, 10, data, status)) << packet.LastError();
    EXPECT_EQ(LastSent(), Frame(NvFrame(0x27, 10, {1, 2}, 0)));
    EXPECT_FALSE(WriteNvItem(packet, 10, data, status));
    EXPECT_EQ(packet.LastError(), "Cannot Write #10 NVItem, Since ");
    EXPECT_EQ(status, 11);
    EXPECT_FALSE(WriteNvItem(packet, 10, data, status));
    EXPECT_EQ(packet.LastError(),
              "Cannot Write #10 NVItem, Since Parameter is write-protected and thus read only");
    EXPECT_FALSE(WriteNvItem(packet, 10, data, status));
    EXPECT_EQ(status, kNvStatusNoAnswer);
    EXPECT_EQ(packet.LastError(), std::string("Cannot write #10 NVItem, Since ") + kSilent);
}

TEST_F(NvEfsTest, ImeiDigitsComeFromThePackedItem) {
    AnswerInTurn({NvFrame(0x26, 550, {0x08, 0x3A, 0x21, 0x43, 0x65, 0x87, 0x09, 0x21, 0x43}, 0),
                  NvFrame(0x26, 550, {}, 5)});
    ImeiText imei{};
    ASSERT_TRUE(GetImei(packet, imei)) << packet.LastError();
    EXPECT_STREQ(imei.data(), "312345678901234");
    EXPECT_EQ(LastSent(), Frame(NvFrame(0x26, 550, {}, 0)));
    EXPECT_FALSE(GetImei(packet, imei));
    EXPECT_EQ(imei, ImeiText{});
}

const Bytes kOpenHead{0x4B, 0x13, 0x02, 0x00};

TEST_F(NvEfsTest, OpenSendsFlagsModeAndPathAndAcceptsMissingFile) {
    AnswerInTurn({Join({kOpenHead, Le32(0), Le32(0)}),
                  Join({{0x4B, 0x3E, 0x02, 0x00}, Le32(0), Le32(0)}),
                  Join({kOpenHead, Le32(3), Le32(2)}), Join({kOpenHead, Le32(0), Le32(13)}),
                  Join({kOpenHead, Le32(0)})});
    std::uint32_t descriptor = 99;
    ASSERT_TRUE(EfsOpen(packet, "/nv/item_files/rfnv/00020896", EfsAccess::Read, descriptor));
    EXPECT_EQ(descriptor, 0U);
    EXPECT_EQ(
        LastSent(),
        Frame(Join({kOpenHead, Le32(0), Le32(0x124), Text("/nv/item_files/rfnv/00020896"), {0}})));
    ASSERT_TRUE(EfsOpen(packet, "/a", EfsAccess::Write, descriptor, EfsVolume::Alternate));
    EXPECT_EQ(LastSent(),
              Frame(Join({{0x4B, 0x3E, 0x02, 0x00}, Le32(0x241), Le32(0x1B6), Text("/a"), {0}})));
    EXPECT_TRUE(EfsOpen(packet, "/a", EfsAccess::Read, descriptor)) << "error 2 counts as opened";
    EXPECT_EQ(descriptor, 3U);
    packet.SetLastError("before");
    EXPECT_FALSE(EfsOpen(packet, "/a", EfsAccess::Read, descriptor));
    EXPECT_EQ(packet.LastError(), "before");
    EXPECT_FALSE(EfsOpen(packet, "/a", EfsAccess::Read, descriptor));
    EXPECT_EQ(packet.LastError(), texts::kShortAnswer);

    const std::size_t sent = Sent().size();
    EXPECT_FALSE(EfsOpen(packet, std::string(59, 'p'), EfsAccess::Read, descriptor));
    EXPECT_EQ(Sent().size(), sent + 1) << "59 characters and the terminator fit";
    EXPECT_FALSE(EfsOpen(packet, std::string(60, 'p'), EfsAccess::Read, descriptor));
    EXPECT_EQ(Sent().size(), sent + 1) << "61 bytes are refused unsent";
    EXPECT_EQ(packet.LastError(), std::string("open file operation failed, Since ") + kSilent);
}

TEST_F(NvEfsTest, ReadCopiesOnlyWhatTheAnswerReallyHolds) {
    const Bytes head{0x4B, 0x13, 0x04, 0x00};
    auto answer = [&](std::uint32_t count, std::uint32_t error, const Bytes& data) {
        return Join({head, Le32(0), Le32(8), Le32(count), Le32(error), data});
    };
    AnswerInTurn({answer(3, 0, {7, 8, 9}), answer(0xFFFFFFFF, 0, {}), answer(3, 5, {7, 8, 9}),
                  answer(9, 0, Bytes(9, 1)), answer(4, 0, {7, 8})});
    std::array<std::uint8_t, 8> data{};
    std::uint32_t bytesRead = 0;
    ASSERT_TRUE(EfsRead(packet, 0, 8, data, bytesRead)) << packet.LastError();
    EXPECT_EQ(bytesRead, 3U);
    EXPECT_EQ(Hex({data.begin(), data.begin() + 3}), "07 08 09");
    EXPECT_EQ(LastSent(), Frame(Join({head, Le32(0), Le32(8), Le32(8)})));
    EXPECT_FALSE(EfsRead(packet, 0, 8, data, bytesRead));
    EXPECT_FALSE(EfsRead(packet, 0, 8, data, bytesRead));
    EXPECT_FALSE(EfsRead(packet, 0, 8, data, bytesRead));
    EXPECT_EQ(packet.LastError(), texts::kTooMuchData);
    EXPECT_FALSE(EfsRead(packet, 0, 8, data, bytesRead));
    EXPECT_EQ(packet.LastError(), texts::kShortAnswer);
    EXPECT_EQ(bytesRead, 0U);
    EXPECT_EQ(packet.Mode(), link::MODE_DIAG);
}

TEST_F(NvEfsTest, WriteCloseStatAndFstatLayouts) {
    AnswerInTurn({Join({{0x4B, 0x13, 0x05, 0x00}, Le32(0), Le32(16), Le32(3), Le32(0)}),
                  Join({{0x4B, 0x13, 0x03, 0x00}, Le32(0)}),
                  Join({{0x4B, 0x13, 0x0F, 0x00}, Le32(0), Le32(0x81B6), Le32(4096), Le32(1)}),
                  Join({{0x4B, 0x13, 0x11, 0x00}, Le32(0), Le32(0x81B6), Le32(77)}),
                  Join({{0x4B, 0x13, 0x05, 0x00}, Le32(0), Le32(16), Le32(0), Le32(28)})});
    ASSERT_TRUE(EfsWrite(packet, 16, Bytes{0xA1, 0xA2, 0xA3})) << packet.LastError();
    EXPECT_EQ(LastSent(),
              Frame(Join({{0x4B, 0x13, 0x05, 0x00}, Le32(0), Le32(16), {0xA1, 0xA2, 0xA3}})));
    ASSERT_TRUE(EfsClose(packet));
    EXPECT_EQ(LastSent(), Frame(Join({{0x4B, 0x13, 0x03, 0x00}, Le32(0)})));
    EfsStatResult stat;
    ASSERT_TRUE(EfsStat(packet, "/x", stat));
    EXPECT_EQ(LastSent(), Frame(Join({{0x4B, 0x13, 0x0F, 0x00}, Text("/x"), {0}})));
    EXPECT_EQ(stat.mode, 0x81B6U);
    EXPECT_EQ(stat.size, 4096U);
    std::uint32_t value = 0;
    ASSERT_TRUE(EfsFstat(packet, 0, value));
    EXPECT_EQ(value, 77U);
    EXPECT_EQ(LastSent(), Frame(Join({{0x4B, 0x13, 0x11, 0x00}, Le32(0)})));
    EXPECT_FALSE(EfsWrite(packet, 16, Bytes{0xA1}));

    EXPECT_FALSE(EfsWrite(packet, 0, Bytes{1}));
    EXPECT_EQ(packet.LastError(),
              std::string("Write file sequence block operation failed, Since ") + kSilent);
    EXPECT_FALSE(EfsClose(packet));
    EXPECT_EQ(packet.LastError(), std::string("close file operation failed, Since ") + kSilent);
    EXPECT_FALSE(EfsStat(packet, "/x", stat));
    EXPECT_EQ(packet.LastError(), std::string("open file operation failed, Since ") + kSilent);
}

TEST_F(NvEfsTest, PutAndGetCarryWholeFiles) {
    const Bytes getHead{0x4B, 0x13, 0x27, 0x00};
    AnswerInTurn({Join({{0x4B, 0x13, 0x26, 0x00}, Le16(5), Le32(0)}),
                  Join({getHead, Le32(2), Le32(0), Le16(6), {0xC1, 0xC2}}),
                  Join({getHead, Le32(0xFFFFFFFF), Le32(0), Le16(6)}),
                  Join({getHead, Le32(40), Le32(0), Le16(6), Bytes(40, 0)}),
                  Join({{0x4B, 0x13, 0x26, 0x00}, Le16(5), Le32(1)})});
    ASSERT_TRUE(EfsPut(packet, "/f", Bytes{0xB1, 0xB2}, 5)) << packet.LastError();
    EXPECT_EQ(LastSent(), Frame(Join({{0x4B, 0x13, 0x26, 0x00},
                                      Le32(2),
                                      Le32(64),
                                      Le16(5),
                                      {0xB1, 0xB2},
                                      Text("/f"),
                                      {0}})));
    std::array<std::uint8_t, 32> data{};
    std::uint32_t length = 0;
    ASSERT_TRUE(EfsGet(packet, "/f", 6, data, length)) << packet.LastError();
    EXPECT_EQ(length, 2U);
    EXPECT_EQ(Hex({data.begin(), data.begin() + 2}), "C1 C2");
    EXPECT_EQ(LastSent(), Frame(Join({getHead, Le32(32), Le32(3), Le16(6), Text("/f"), {0}})));
    EXPECT_FALSE(EfsGet(packet, "/f", 6, data, length)) << "count 0xFFFFFFFF";
    EXPECT_FALSE(EfsGet(packet, "/f", 6, data, length)) << "more than asked for";
    EXPECT_EQ(length, 0U);
    EXPECT_FALSE(EfsPut(packet, "/f", Bytes{0xB1}, 5)) << "error number 1";
}

}  // namespace
}  // namespace tapfix::device
