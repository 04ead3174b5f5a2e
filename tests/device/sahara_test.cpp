#include "device/sahara.hpp"

#include <thread>

#include "loader_fixture.hpp"

namespace tapfix::device::test {
namespace {

Bytes Words(std::initializer_list<std::uint32_t> words) {
    Bytes bytes;
    for (const std::uint32_t word : words) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<std::uint8_t>(word >> shift));
        }
    }
    return bytes;
}

class SaharaTest : public LoaderTest {
  protected:
    ~SaharaTest() override {
        if (device.joinable()) {
            device.join();
        }
    }

    // The device answers once `expected` bytes from the host have arrived.
    void AnswerAfter(std::size_t expected, Bytes answer) {
        device = std::thread([this, expected, answer] {
            Bytes seen;
            for (int i = 0; i < 100 && seen.size() < expected; ++i) {
                const Bytes more = peer.Collect(10ms);
                seen.insert(seen.end(), more.begin(), more.end());
            }
            fromHost = seen;
            peer.Send(answer);
        });
    }

    std::thread device;
    Bytes fromHost;
};

TEST_F(SaharaTest, HelloResponseIsTheFixedFortyEightBytes) {
    ASSERT_TRUE(SaharaHelloResponse(packet)) << packet.LastError();
    const Bytes expected = Concat({{0x02, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00, 0x02, 0x00,
                                    0x00, 0x00, 0x01, 0x00, 0x00, 0x00},
                                   Bytes(32, 0x00)});
    EXPECT_EQ(Hex(peer.Collect()), Hex(expected));
}

TEST_F(SaharaTest, ReadTakesAWholeMessageAndFailsOnSilenceOrFlood) {
    const Bytes readData = Words({3, 20, 13, 0x1000, 0x400});
    peer.Send(Bytes(readData.begin(), readData.begin() + 7));
    // The rest comes after a pause longer than the quiet time: the length word says more is due.
    std::thread rest([&] {
        std::this_thread::sleep_for(60ms);
        peer.Send(Bytes(readData.begin() + 7, readData.end()));
    });
    ASSERT_TRUE(SaharaRead(packet)) << packet.LastError();
    rest.join();
    EXPECT_EQ(Hex(Bytes(packet.ReceivedBytes().begin(), packet.ReceivedBytes().end())),
              Hex(readData));
    EXPECT_EQ(SaharaWord(packet, 2), 13U);
    EXPECT_EQ(SaharaWord(packet, 4), 0x400U);
    EXPECT_EQ(SaharaWord(packet, 5), std::nullopt) << "past the message";

    EXPECT_FALSE(SaharaRead(packet));
    EXPECT_EQ(packet.LastError(), "Port Cannot Receive Desired Data from the Phone");
    EXPECT_EQ(SaharaWord(packet, 0), std::nullopt);

    peer.Send(Bytes(1500, 0x33));
    EXPECT_FALSE(SaharaRead(packet));
    EXPECT_EQ(packet.LastError(), "The Received Data from the Phone is failed");
    EXPECT_TRUE(packet.ReceivedBytes().empty());
}

TEST_F(SaharaTest, DoneWantsADoneResponseOfTwelveBytes) {
    AnswerAfter(8, Words({6, 12, 0}));
    EXPECT_TRUE(SaharaDone(packet)) << packet.LastError();
    device.join();
    EXPECT_EQ(Hex(fromHost), "05 00 00 00 08 00 00 00");

    AnswerAfter(8, Words({6, 16, 0, 0}));
    EXPECT_FALSE(SaharaDone(packet));
    EXPECT_EQ(packet.LastError(), "the device did not answer done with a done response");
    device.join();

    EXPECT_FALSE(SaharaDone(packet)) << "no answer at all";
}

TEST(SaharaWords, ReadOnlyWhatTheMessageHolds) {
    link::CPacket packet;
    const Bytes message = Words({4, 16, 7, 0});
    for (std::size_t length = 0; length <= message.size(); ++length) {
        ASSERT_TRUE(packet.LoadReceiveBuffer(Bytes(message.begin(), message.begin() + length)));
        for (std::size_t index = 0; index < 5; ++index) {
            EXPECT_EQ(SaharaWord(packet, index).has_value(), 4 * (index + 1) <= length)
                << "word " << index << " of " << length << " bytes";
        }
    }
    EXPECT_EQ(SaharaWord(packet, 1), 16U);
}

}  // namespace
}  // namespace tapfix::device::test
