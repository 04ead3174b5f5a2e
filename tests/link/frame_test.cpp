#include <gtest/gtest.h>

#include <random>

#include "link/packet.hpp"
#include "support/pty_peer.hpp"
#include "test_protocol.hpp"

namespace tapfix::link {
namespace {

using test::Bytes;
using test::Hex;
using test::ReferenceFrame;

class FrameTest : public ::testing::Test {
  protected:
    FrameTest() { test::InstallEverywhere(packet, protocol); }

    Bytes Build(PacketMode mode, const Bytes& request, std::uint8_t argument = 0) {
        packet.SetMode(mode);
        packet.ResetBuffers();
        std::copy(request.begin(), request.end(), packet.Request().begin());
        protocol.length = request.size();
        const std::size_t length = packet.BuildFrame(argument);
        const auto bytes = packet.TransmitBytes();
        EXPECT_EQ(length, bytes.size());
        return {bytes.begin(), bytes.end()};
    }

    bool Decode(PacketMode mode, const Bytes& received) {
        packet.SetMode(mode);
        packet.ResetBuffers();
        EXPECT_TRUE(packet.LoadReceiveBuffer(received));
        return packet.DecodeFrame();
    }

    bool Parse(const Bytes& received) {
        packet.SetMode(MODE_STREAM);
        packet.ResetBuffers();
        EXPECT_TRUE(packet.LoadReceiveBuffer(received));
        return packet.ParseFrames();
    }

    test::EchoProtocol protocol;
    CPacket packet;
};

// A payload whose FCS contains a byte that must be stuffed.
Bytes PayloadWithStuffedFcs(std::uint8_t special) {
    for (unsigned value = 0; value < 65536; ++value) {
        Bytes payload{0x4B, static_cast<std::uint8_t>(value),
                      static_cast<std::uint8_t>(value >> 8)};
        const std::uint16_t fcs = test::ReferenceFcs(payload);
        if ((fcs & 0xFF) == special || (fcs >> 8) == special) {
            return payload;
        }
    }
    return {};
}

TEST_F(FrameTest, FramesOfEveryModeMatchTheWireLayout) {
    const Bytes payload{0x01, 0x7E, 0x02, 0x7D, 0x03};
    EXPECT_EQ(Hex(Build(MODE_DIAG, payload)), Hex(ReferenceFrame(payload, false)));
    EXPECT_EQ(Hex(Build(MODE_DMSS, payload)), Hex(ReferenceFrame(payload, true)));
    EXPECT_EQ(Hex(Build(MODE_STREAM, payload)), Hex(ReferenceFrame(payload, true)));
    EXPECT_EQ(Hex(Build(MODE_STREAM, payload, 1)),
              Hex(ReferenceFrame(test::Concat({payload, {0x01}}), true)));

    packet.SetMode(MODE_RAW);
    packet.ResetBuffers();
    ASSERT_TRUE(packet.SetRawPayload(payload));
    packet.BuildFrame(0);
    const auto raw = packet.TransmitBytes();
    EXPECT_EQ(Hex({raw.begin(), raw.end()}), Hex(ReferenceFrame(payload, false)));
}

TEST_F(FrameTest, PayloadAndFcsBytesAreStuffed) {
    const Bytes stuffed = Build(MODE_DIAG, {0x7E, 0x7D});
    ASSERT_GE(stuffed.size(), 4U);
    EXPECT_EQ(Hex({stuffed.begin(), stuffed.begin() + 4}), "7D 5E 7D 5D");

    for (const std::uint8_t special : {std::uint8_t{0x7E}, std::uint8_t{0x7D}}) {
        const Bytes payload = PayloadWithStuffedFcs(special);
        ASSERT_FALSE(payload.empty());
        const Bytes frame = Build(MODE_DIAG, payload);
        EXPECT_EQ(Hex(frame), Hex(ReferenceFrame(payload, false)));
        EXPECT_EQ(frame.size(), payload.size() + 2 + 1 + 1) << "one FCS byte stuffed";
    }
}

TEST_F(FrameTest, LargestPayloadStuffedInTheWorstCaseFits) {
    packet.SetMode(MODE_RAW);
    packet.ResetBuffers();
    const Bytes flags(CPacket::kMaxPayload, 0x7E);
    ASSERT_TRUE(packet.SetRawPayload(flags));
    EXPECT_FALSE(packet.AppendPayloadByte(0x00)) << "payload beyond capacity is refused";
    packet.SetMode(MODE_STREAM);
    ASSERT_TRUE(packet.SetRawPayload(flags));
    packet.SetMode(MODE_RAW);
    EXPECT_EQ(packet.BuildFrame(0), 2 * CPacket::kMaxPayload + 1 + 2)
        << "every payload byte stuffed, FCS, closing flag";
    EXPECT_LE(packet.TransmitBytes().size(), CPacket::kTransmitCapacity);
}

TEST_F(FrameTest, FramingAgainSendsTheSameFrameAndNeverGrowsPastTheBuffer) {
    packet.SetMode(MODE_RAW);
    packet.ResetBuffers();
    const Bytes flags(CPacket::kMaxPayload, 0x7D);
    ASSERT_TRUE(packet.SetRawPayload(flags));
    const std::size_t first = packet.BuildFrame(0);
    const Bytes frame(packet.TransmitBytes().begin(), packet.TransmitBytes().end());
    EXPECT_EQ(packet.BuildFrame(0), first) << "a retried raw exchange frames the payload again";
    EXPECT_EQ(Hex({packet.TransmitBytes().begin(), packet.TransmitBytes().end()}), Hex(frame));
    EXPECT_FALSE(packet.AppendPayloadByte(0x01)) << "the frame is not counted as payload";
    EXPECT_EQ(packet.PayloadBytes().size(), CPacket::kMaxPayload);
}

TEST_F(FrameTest, DecodesAnswersWithMissingOpeningFlagOrRepeatedClosingFlags) {
    const Bytes payload{0x02, 0x7E, 0x10, 0x7D};
    for (const PacketMode mode : {MODE_DMSS, MODE_STREAM}) {
        ASSERT_TRUE(Decode(mode, ReferenceFrame(payload, true)));
        EXPECT_EQ(packet.DecodedLength(), payload.size() + 2);
        ASSERT_TRUE(Decode(mode, ReferenceFrame(payload, false))) << "no opening flag";
        EXPECT_EQ(Hex({packet.DecodedPayload().begin(), packet.DecodedPayload().end()}),
                  Hex(payload));
        EXPECT_EQ(packet.Response()[0], 0x02);
        ASSERT_TRUE(Decode(mode, test::Concat({ReferenceFrame(payload, true), {0x7E, 0x7E}})));
        EXPECT_EQ(packet.DecodedLength(), payload.size() + 2);
    }
    ASSERT_TRUE(Decode(MODE_DIAG, test::Concat({ReferenceFrame(payload, false), {0x7E, 0x7E}})));
    EXPECT_EQ(protocol.parsed, 7);
}

TEST_F(FrameTest, DecodeFailuresSayWhy) {
    Bytes frame = ReferenceFrame({0x01, 0x02, 0x03}, false);
    frame.pop_back();
    EXPECT_FALSE(Decode(MODE_DIAG, frame));
    EXPECT_EQ(packet.LastError(), "the Received Data is Wrong without End Flag(0x7e)");

    frame = ReferenceFrame({0x01, 0x02, 0x03}, false);
    frame[1] ^= 0x01;
    EXPECT_FALSE(Decode(MODE_DIAG, frame));
    EXPECT_EQ(packet.LastError(), "the Received Data is Wrong with Wrong CRC Checksum");

    EXPECT_FALSE(Decode(MODE_DIAG, {0x7E}));
    EXPECT_EQ(packet.LastError(), "the Received Data is Wrong with Wrong CRC Checksum");
    // An empty payload whose check sequence happens to be good.
    EXPECT_FALSE(Decode(MODE_DIAG, {0x00, 0x00, 0x7E}));
    EXPECT_EQ(packet.LastError(), "the Received Data is Wrong with Wrong CRC Checksum");
    EXPECT_FALSE(Decode(MODE_STREAM, {}));
    EXPECT_FALSE(Decode(MODE_RAW, {0x7D}));
}

TEST_F(FrameTest, RawModeAcceptsAnyGoodFrameWithoutParsing) {
    ASSERT_TRUE(Decode(MODE_RAW, ReferenceFrame({0x4B, 0xC9, 0x0F, 0x00}, false)));
    EXPECT_EQ(protocol.parsed, 0);
    EXPECT_EQ(packet.Response()[0], 0x4B);
    EXPECT_EQ(packet.DecodedPayload().size(), 4U);
}

TEST_F(FrameTest, ParseFramesHandlesEachFrameAndKeepsGoodOnesWhenALaterOneIsBad) {
    const Bytes first = ReferenceFrame({0x08, 0x00, 0x10, 0x00, 0x00}, true);
    Bytes second = ReferenceFrame({0x08, 0x00, 0x14, 0x00, 0x00}, true);
    ASSERT_TRUE(Parse(test::Concat({first, second})));
    EXPECT_EQ(
        std::vector<std::uint32_t>(packet.AckedAddresses().begin(), packet.AckedAddresses().end()),
        (std::vector<std::uint32_t>{0x1000, 0x1400}));

    second[3] ^= 0x01;
    EXPECT_FALSE(Parse(test::Concat({first, second})));
    EXPECT_EQ(packet.LastError(), "the Received Data is Wrong with CRC Checksum");
    ASSERT_EQ(packet.AckedAddresses().size(), 1U);
    EXPECT_EQ(packet.AckedAddresses()[0], 0x1000U);

    EXPECT_FALSE(Parse(ReferenceFrame({0x0D, 0x0E, 0, 0, 0}, false))) << "handler rejects";
    EXPECT_TRUE(Parse({0x7E, 0x08, 0x01})) << "an unfinished frame is no failure";
    EXPECT_TRUE(Parse({}));
}

TEST_F(FrameTest, AFullReadOfBlockWrittenAnswersFitsTheAddressList) {
    Bytes all;
    std::uint32_t count = 0;
    for (;; ++count) {
        const Bytes frame =
            ReferenceFrame({0x08, static_cast<std::uint8_t>(count), 0x01, 0x02, 0x03}, true);
        if (all.size() + frame.size() > CPacket::kReceiveData) {
            break;
        }
        all = test::Concat({all, frame});
    }
    ASSERT_TRUE(Parse(all));
    EXPECT_EQ(packet.AckedAddresses().size(), count);
    EXPECT_GT(count, 64U);
}

TEST_F(FrameTest, DecodeAndParseSurviveRandomAndTruncatedBytes) {
    std::mt19937 random(1234);
    const Bytes good = ReferenceFrame({0x08, 0x7E, 0x7D, 0x00, 0x00, 0x11}, true);
    for (int round = 0; round < 20000; ++round) {
        Bytes bytes;
        if (round % 3 == 0) {
            bytes.assign(good.begin(), good.begin() + static_cast<long>(random() % good.size()));
        } else {
            bytes.resize(random() % (CPacket::kReceiveData + 1));
            for (auto& byte : bytes) {
                const unsigned pick = random() % 8;
                byte = pick == 0 ? 0x7E : pick == 1 ? 0x7D : static_cast<std::uint8_t>(random());
            }
        }
        const auto mode = static_cast<PacketMode>(random() % 4);
        Decode(mode, bytes);
        Parse(bytes);
        ASSERT_LE(packet.AckedAddresses().size(), CPacket::kAckCapacity);
    }
}

}  // namespace
}  // namespace tapfix::link

namespace tapfix::link {
namespace {

TEST(FailWith, WrapsTheLinkReasonAndTheNumber) {
    CPacket packet;
    packet.SetLastError("Port Cannot Receive Desired Data from the Phone");
    EXPECT_FALSE(packet.FailWith("cannot read #%d NVItem, since %s", 550));
    EXPECT_EQ(packet.LastError(),
              "cannot read #550 NVItem, since Port Cannot Receive Desired Data from the Phone");
    EXPECT_FALSE(packet.FailWith("100%% sure %x"));
    EXPECT_EQ(packet.LastError(), "100%% sure %x");
}

}  // namespace
}  // namespace tapfix::link
