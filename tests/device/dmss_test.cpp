#include <algorithm>
#include <random>

#include "device/dmss_commands.hpp"
#include "link/wire.hpp"
#include "loader_fixture.hpp"

namespace tapfix::device::test {
namespace {

const Bytes kAck{dmss::kAck};

class DmssTest : public LoaderTest {
  protected:
    // Answers parameter requests with `parameters`, everything else with ACK.
    void AnswerParametersWith(const Bytes& parameters) {
        peer.Respond([parameters](const Bytes& request) -> std::vector<PtyPeer::Write> {
            const bool parameterRequest = request.size() > 1 && request[1] == 0x07;
            return {{DeviceFrame(parameterRequest ? parameters : kAck)}};
        });
    }
};

TEST_F(DmssTest, RequestsCarryTheirFieldsMostSignificantByteFirst) {
    AnswerParametersWith(kAck);
    EXPECT_TRUE(DmssGo(packet, 0x1234)) << packet.LastError();
    EXPECT_TRUE(DmssGoWait(packet, 0xABCD)) << packet.LastError();
    EXPECT_TRUE(DmssNop(packet)) << packet.LastError();
    EXPECT_TRUE(DmssWrite32(packet, Bytes{0x7E, 0x02, 0x03}, 0x00400102)) << packet.LastError();
    FlashInfoRecord record{};
    EXPECT_TRUE(GetFlashInfo(packet, record));
    EXPECT_EQ(packet.Mode(), link::MODE_DMSS);

    const std::vector<std::string> expected{
        Hex(DeviceFrame({0x05, 0x12, 0x34, 0x00, 0x00})),
        Hex(DeviceFrame({0x90, 0xAB, 0xCD, 0x00, 0x00})),
        Hex(DeviceFrame({0x06})),
        Hex(DeviceFrame({0x0F, 0x00, 0x40, 0x01, 0x02, 0x00, 0x03, 0x7E, 0x02, 0x03})),
        Hex(DeviceFrame({0x07})),
    };
    EXPECT_EQ(SeenRequests(), expected);
    EXPECT_EQ(expected[0].substr(0, 17), "7E 05 12 34 00 00");
}

TEST_F(DmssTest, ParameterAnswerFillsTheRecordWithClampedCodes) {
    // version 3, minimum 1, maximum write 0x0400 (least significant first), model 0x51,
    // size code 3, device type 5
    AnswerParametersWith({0x08, 0x03, 0x01, 0x00, 0x04, 0x00, 0x00, 0x51, 0x03, 0x05});
    FlashInfoRecord record{};
    ASSERT_TRUE(GetFlashInfo(packet, record)) << packet.LastError();
    EXPECT_EQ(record[0], 0x08);
    EXPECT_EQ(record[dmss::kInfoVersion], 3);
    EXPECT_EQ(record[dmss::kInfoMinVersion], 1);
    EXPECT_EQ(wire::ReadLe32(record, dmss::kInfoMaxWriteSize), 0x400U);
    EXPECT_EQ(record[dmss::kInfoModel], 0x51);
    EXPECT_EQ(wire::ReadLe32(record, dmss::kInfoFlashSize), 0x100000U);
    EXPECT_EQ(record[dmss::kInfoSizeCode], 3);
    EXPECT_EQ(record[dmss::kInfoDeviceType], 5);
    EXPECT_STREQ(reinterpret_cast<const char*>(&record[dmss::kInfoMakerName]), "Unknown");
    EXPECT_STREQ(reinterpret_cast<const char*>(&record[dmss::kInfoPartName]), "Unknown");

    AnswerParametersWith({0x08, 0x03, 0x01, 0x00, 0x04, 0x00, 0x00, 0x51, 0x09, 40});
    ASSERT_TRUE(GetFlashInfo(packet, record)) << packet.LastError();
    EXPECT_EQ(record[dmss::kInfoSizeCodeReceived], 9);
    EXPECT_EQ(record[dmss::kInfoSizeCode], 0);
    EXPECT_EQ(wire::ReadLe32(record, dmss::kInfoFlashSize), 0U);
    EXPECT_EQ(record[dmss::kInfoDeviceType], 0);

    const std::vector<std::uint32_t> sizes{0,        0x80000,  0x100000, 0x100000,
                                           0x200000, 0x400000, 0x800000, 0};
    for (std::uint8_t code = 0; code < sizes.size(); ++code) {
        EXPECT_EQ(dmss::FlashSizeForCode(code), sizes[code]) << "size code " << int{code};
    }
    EXPECT_EQ(dmss::FlashSizeForCode(0xFF), 0U);
}

TEST_F(DmssTest, FlashInfoNeverHandsOverStaleOrMissingParameters) {
    FlashInfoRecord record;
    record.fill(0xAA);
    EXPECT_FALSE(GetFlashInfo(packet, record)) << "silent device";
    EXPECT_EQ(
        packet.LastError(),
        "Cannot Get flash Information, Since Port Cannot Receive Desired Data from the Phone");
    EXPECT_EQ(record, FlashInfoRecord{});
    EXPECT_EQ(Hex(peer.Collect()),
              Hex(Concat({DeviceFrame({0x07}), DeviceFrame({0x07}), DeviceFrame({0x07})})));

    AnswerParametersWith({0x08, 0x03, 0x01, 0x00, 0x04, 0x00, 0x00, 0x51, 0x03, 0x05});
    ASSERT_TRUE(GetFlashInfo(packet, record));
    AnswerParametersWith(kAck);
    EXPECT_TRUE(GetFlashInfo(packet, record)) << "any good answer shows a boot loader";
    EXPECT_EQ(record, FlashInfoRecord{});

    AnswerParametersWith({0x08, 0x03, 0x01, 0x00});
    EXPECT_FALSE(GetFlashInfo(packet, record));
    EXPECT_EQ(packet.LastError(),
              "Cannot Get flash Information, Since the Answer from the Phone is too short");
}

TEST_F(DmssTest, NakReasonsEndUpInTheFailureText) {
    peer.AnswerAlways({{DeviceFrame({0x03, 0x00, 0x02})}});
    EXPECT_FALSE(DmssWrite32(packet, Bytes(16, 0x55), 0x00400000));
    EXPECT_EQ(packet.LastError(),
              "Write a Block of Data to Memory Failed, Since destination address is invalid");
    peer.AnswerAlways({{DeviceFrame({0x03, 0x00, 0x0D})}});
    EXPECT_FALSE(DmssGo(packet, 0x0040));
    EXPECT_EQ(packet.LastError(), "Cannot begin execution at an address, Since ");
    peer.AnswerAlways({{DeviceFrame({0x03, 0x00, 0x0A})}});
    EXPECT_FALSE(DmssNop(packet));
    EXPECT_EQ(packet.LastError(), "Cannot Do No Operation, Since readback verify did not match");

    EXPECT_EQ(DmssNakText(1), "invalid frame check sequence");
    EXPECT_EQ(DmssNakText(5), "packet was too long for phone's buffer");
    EXPECT_EQ(DmssNakText(12), "invalid security code");
    EXPECT_EQ(DmssNakText(0), "");
    EXPECT_EQ(DmssNakText(0x0100), "");
}

TEST_F(DmssTest, BlockWriteWantsAnAckAndAFittingBlock) {
    peer.AnswerAlways({{DeviceFrame({0x0D, 0x02, 'O', 'K'})}});
    EXPECT_FALSE(DmssWrite32(packet, Bytes(4, 0), 0x1000));
    EXPECT_EQ(packet.LastError(),
              "Write a Block of Data to Memory Failed, Since the boot loader did not acknowledge "
              "the block");
    EXPECT_TRUE(DmssNop(packet)) << "a version answer is a good answer";
    EXPECT_EQ(packet.Response()[1], 2);
    EXPECT_EQ(packet.Response()[2], 'O');

    const std::size_t before = peer.Requests().size();
    EXPECT_FALSE(DmssWrite32(packet, Bytes(1025, 0), 0x1000));
    EXPECT_EQ(packet.LastError(),
              "Write a Block of Data to Memory Failed, Since the block of 1025 bytes is longer "
              "than 1024");
    EXPECT_FALSE(peer.WaitForRequests(before + 1, 50ms));
}

TEST(DmssParser, RandomAndTruncatedAnswersStayInsideTheData) {
    link::CPacket packet;
    packet.SetProtocol(link::MODE_DMSS, &DmssProtocol());
    packet.SetMode(link::MODE_DMSS);
    std::mt19937 random(7);
    const Bytes codes{0x02, 0x03, 0x08, 0x0D, 0x0D, 0x08, 0x44};
    for (int round = 0; round < 4000; ++round) {
        const Bytes payload = RandomAnswer(random, codes, 24);
        Bytes frame = DeviceFrame(payload);
        if (round % 3 == 0) {
            frame.resize(random() % (frame.size() + 1));
        }
        ASSERT_TRUE(packet.LoadReceiveBuffer(frame));
        if (packet.DecodeFrame() && payload.size() > 0 && payload[0] == 0x0D) {
            EXPECT_LE(packet.Response()[1], std::max<std::size_t>(payload.size(), 2) - 2)
                << "a version text longer than what arrived";
        }
    }
    // Random request records: the builder lays out no more than the record holds.
    for (int round = 0; round < 500; ++round) {
        FillRandomRequest(packet, random, Bytes{0x05, 0x06, 0x07, 0x0F, 0x90}[round % 5]);
        EXPECT_LE(packet.BuildFrame(0), link::CPacket::kTransmitCapacity);
    }
}

}  // namespace
}  // namespace tapfix::device::test
