#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "link/packet.hpp"
#include "platform/clock.hpp"
#include "support/pty_peer.hpp"
#include "test_protocol.hpp"

namespace tapfix::link {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Hex;
using test::PtyPeer;
using test::ReferenceFrame;

class ExchangeTest : public ::testing::Test {
  protected:
    ExchangeTest() {
        platform::SetTimeScale(0.01);
        test::InstallEverywhere(packet, protocol);
    }

    void Open() { ASSERT_TRUE(packet.OpenPort(peer.PortNumber())); }

    void Request(PacketMode mode, const Bytes& request) {
        packet.SetMode(mode);
        packet.ResetBuffers();
        std::copy(request.begin(), request.end(), packet.Request().begin());
        protocol.length = request.size();
    }

    PtyPeer peer;
    test::EchoProtocol protocol;
    CPacket packet;
};

TEST_F(ExchangeTest, DiagExchangeSendsTheFrameAndParsesTheAnswer) {
    const Bytes answer{0x01, 0x78, 0x56, 0x34, 0x12};
    peer.AnswerAlways({{ReferenceFrame(answer, false)}});
    Open();
    Request(MODE_DIAG, {0x01});
    ASSERT_TRUE(packet.Transact(1, 300)) << packet.LastError();
    EXPECT_EQ(Hex(peer.Requests().at(0)), Hex(ReferenceFrame({0x01}, false)));
    EXPECT_EQ(Hex({packet.DecodedPayload().begin(), packet.DecodedPayload().end()}), Hex(answer));
    EXPECT_EQ(packet.RawReceiveLength(), ReferenceFrame(answer, false).size());
}

TEST_F(ExchangeTest, DiagErrorByteIsRetriedWhileAttemptsRemain) {
    int calls = 0;
    peer.Respond([&](const Bytes&) -> std::vector<PtyPeer::Write> {
        if (++calls == 1) {
            return {{ReferenceFrame({0x13}, false)}};
        }
        return {{ReferenceFrame({0x29, 0x02, 0x00}, false)}};
    });
    Open();
    Request(MODE_DIAG, {0x29, 0x02, 0x00});
    EXPECT_FALSE(packet.Transact(1, 2000));
    EXPECT_EQ(packet.LastError(), "Bad command");
    Request(MODE_DIAG, {0x29, 0x02, 0x00});
    calls = 0;
    EXPECT_TRUE(packet.Transact(2, 2000)) << packet.LastError();
    EXPECT_EQ(peer.Requests().size(), 3U);
}

TEST_F(ExchangeTest, EveryDiagErrorCodeHasItsText) {
    EXPECT_EQ(DiagErrorText(0x14), "The Request packet has invalid or inconsistent parameters");
    EXPECT_EQ(DiagErrorText(0x15), "The Request packet has an invalid length");
    EXPECT_EQ(DiagErrorText(0x18), "the DMSS isn't in a particular mode");
    EXPECT_EQ(DiagErrorText(0x42),
              "the correct SPC has not yet been entered to unlock service programming");
    EXPECT_EQ(DiagErrorText(0x47),
              "the correct Security Password has not yet been entered to unlock the phone");
    EXPECT_EQ(DiagErrorText(0x99), "unknow reason");
}

TEST_F(ExchangeTest, ZeroAttemptsTouchNothing) {
    peer.AnswerAlways({{ReferenceFrame({0x01}, false)}});
    Open();
    Request(MODE_DIAG, {0x01});
    EXPECT_TRUE(packet.Transact(0, 300));
    EXPECT_FALSE(peer.WaitForRequests(1, 100ms));
    EXPECT_TRUE(packet.TransmitBytes().empty());
}

TEST_F(ExchangeTest, SilenceAndFloodsAreReported) {
    Open();
    Request(MODE_DMSS, {0x06});
    EXPECT_FALSE(packet.Transact(2, 200));
    EXPECT_EQ(packet.LastError(), "Port Cannot Receive Desired Data from the Phone");
    EXPECT_EQ(Hex(peer.Collect()),
              Hex(test::Concat({ReferenceFrame({0x06}, true), ReferenceFrame({0x06}, true)})));

    peer.AnswerAlways({{Bytes(3000, 0x55)}});
    Request(MODE_STREAM, {0x09, 0x11});
    EXPECT_FALSE(packet.Transact(1, 2000));
    EXPECT_EQ(packet.LastError(), "The Received Data from the Phone is failed");
}

TEST_F(ExchangeTest, AnswerSplitIntoTwoWritesIsTakenWhole) {
    const Bytes frame = ReferenceFrame({0x02, 0x51, 0x43, 0x4F, 0x4D}, true);
    const Bytes head(frame.begin(), frame.begin() + 3);
    const Bytes tail(frame.begin() + 3, frame.end());
    // The gap is shorter than the settle interval of 5 ms at full scale.
    platform::SetTimeScale(1.0);
    peer.AnswerAlways({{head}, {tail, 1ms}});
    Open();
    Request(MODE_STREAM, {0x01});
    EXPECT_TRUE(packet.Transact(1, 1000)) << packet.LastError();
    EXPECT_EQ(packet.DecodedPayload().size(), 5U);
    platform::SetTimeScale(0.01);
}

TEST_F(ExchangeTest, TransactStreamReportsElapsedTimeAndAllFrames) {
    peer.AnswerAlways({{test::Concat(
        {ReferenceFrame({0x08, 0, 0, 1, 0}, true), ReferenceFrame({0x08, 0, 4, 1, 0}, true)})}});
    Open();
    Request(MODE_STREAM, {0x07, 0, 0, 1, 0, 0xAA});
    ASSERT_TRUE(packet.TransactStream(8000)) << packet.LastError();
    EXPECT_EQ(packet.AckedAddresses().size(), 2U);
    EXPECT_EQ(packet.LastError().rfind("time is ", 0), 0U) << packet.LastError();
    EXPECT_EQ(packet.LastError().substr(packet.LastError().size() - 4), "(ms)");

    peer.AnswerAlways({{ReferenceFrame({0x0D, 0x0E, 0, 0, 0}, true)}});
    EXPECT_FALSE(packet.TransactStream(8000));
}

TEST_F(ExchangeTest, SendOnlyWritesTheExtensionRequestAndReceiveFrameCollectsAnswers) {
    Open();
    ASSERT_TRUE(packet.SendOnly(0x28, 0x00020000));
    EXPECT_EQ(packet.Mode(), MODE_STREAM);
    EXPECT_EQ(Hex({packet.ExtensionValue().begin(), packet.ExtensionValue().end()}), "00 02 00 00");
    EXPECT_EQ(Hex(peer.Collect()), Hex(ReferenceFrame({0x28, 0x01}, true)));

    const Bytes first = ReferenceFrame({0x08, 0x00, 0x00, 0x02, 0x00}, true);
    const Bytes second = ReferenceFrame({0x08, 0xFF, 0xFF, 0x03, 0x00}, true);
    const Bytes both = test::Concat({first, second});
    // The second frame arrives in two pieces; nothing of it may be lost.
    peer.Send(Bytes(both.begin(), both.end() - 4));
    ASSERT_TRUE(packet.ReceiveFrame());
    ASSERT_EQ(packet.AckedAddresses().size(), 1U);
    EXPECT_EQ(packet.AckedAddresses()[0], 0x00020000U);
    ASSERT_TRUE(packet.ReceiveFrame());
    EXPECT_TRUE(packet.AckedAddresses().empty()) << "partial frame waits";
    peer.Send(Bytes(both.end() - 4, both.end()));
    ASSERT_TRUE(packet.ReceiveFrame());
    ASSERT_EQ(packet.AckedAddresses().size(), 1U);
    EXPECT_EQ(packet.AckedAddresses()[0], 0x0003FFFFU);
    EXPECT_TRUE(packet.ReceiveFrame()) << "nothing to read is no failure";
}

TEST_F(ExchangeTest, VanishedPortFailsQuicklyAndClosesTheLink) {
    Open();
    peer.Vanish();
    Request(MODE_DIAG, {0x0C});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(packet.Transact(3, 60000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(packet.IsPortOpen());
    EXPECT_FALSE(packet.ReceiveFrame() && !packet.AckedAddresses().empty());
    EXPECT_FALSE(packet.OpenPort(peer.PortNumber()));
}

TEST_F(ExchangeTest, AnswerSentJustBeforeTheDeviceLeavesIsKept) {
    // A router acknowledges the switch to its download mode and drops off the bus at once.
    platform::SetTimeScale(1.0);
    peer.AnswerAlways({{ReferenceFrame({0x3A}, false)}});
    Open();
    Request(MODE_DIAG, {0x3A});
    std::thread leaver([&] {
        peer.WaitForRequests(1, 2s);
        std::this_thread::sleep_for(1ms);
        peer.Vanish();
    });
    const bool answered = packet.Transact(1, 2000);
    leaver.join();
    platform::SetTimeScale(0.01);
    EXPECT_TRUE(answered) << packet.LastError();
    EXPECT_EQ(packet.Response()[0], 0x3A);
    Request(MODE_DIAG, {0x0C});
    EXPECT_FALSE(packet.Transact(1, 2000));
    EXPECT_FALSE(packet.IsPortOpen());
}

TEST_F(ExchangeTest, StreamAnswerCutOffByAVanishingDeviceIsNoSuccess) {
    // The device keeps sending for a while and leaves the bus before the answer settles.
    platform::SetTimeScale(1.0);
    std::vector<PtyPeer::Write> trickle;
    for (int i = 0; i < 15; ++i) {
        trickle.push_back({{0x08}, 2ms});
    }
    peer.AnswerAlways(trickle);
    Open();
    Request(MODE_STREAM, {0x07});
    std::thread leaver([&] {
        peer.WaitForRequests(1, 2s);
        peer.Vanish();
    });
    EXPECT_FALSE(packet.TransactStream(1000));
    leaver.join();
    platform::SetTimeScale(0.01);
    EXPECT_EQ(packet.LastError(), "Port Cannot Receive Desired Data from the Phone");
    EXPECT_FALSE(packet.IsPortOpen());
}

}  // namespace
}  // namespace tapfix::link
