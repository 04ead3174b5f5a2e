#include <functional>
#include <random>

#include "device/stream_commands.hpp"
#include "link/wire.hpp"
#include "loader_fixture.hpp"

namespace tapfix::device::test {
namespace {

const Bytes kAckFrame = DeviceFrame({0x0E});

Bytes ErrorAnswer(std::uint32_t code) {
    return {0x0D, static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8),
            static_cast<std::uint8_t>(code >> 16), static_cast<std::uint8_t>(code >> 24)};
}

Bytes BlockWritten(std::uint32_t address) {
    Bytes answer{0x08};
    for (int shift = 0; shift < 32; shift += 8) {
        answer.push_back(static_cast<std::uint8_t>(address >> shift));
    }
    return answer;
}

// A hello answer whose identification field announces `announced` bytes and holds `text`.
Bytes HelloAnswer(std::uint8_t announced, const std::string& text) {
    Bytes answer(44, 0x00);
    answer[0] = 0x02;
    answer[43] = announced;
    const Bytes body = TextBytes(text);
    answer.insert(answer.end(), body.begin(), body.end());
    return answer;
}

class StreamTest : public LoaderTest {};

TEST_F(StreamTest, HelloSendsTheHostTextAndKeepsAtMostAHundredBytesOfTheAnswer) {
    const Bytes hello = Concat({{0x01}, TextBytes("QCOM fast download protocol host"), {2, 2, 3}});
    ASSERT_EQ(hello.size(), 36U);
    ASSERT_EQ(Hex(Bytes(hello.begin(), hello.begin() + 5)), "01 51 43 4F 4D");

    peer.AnswerAlways({{DeviceFrame(HelloAnswer(9, "MDM9x15 NAND"))}});
    std::string flashId = "stale";
    ASSERT_TRUE(StreamHello(packet, flashId)) << packet.LastError();
    EXPECT_EQ(flashId, "MDM9x15 N");
    EXPECT_EQ(SeenRequests(), std::vector<std::string>{Hex(DeviceFrame(hello))});

    peer.AnswerAlways({{DeviceFrame(HelloAnswer(150, std::string(150, 'x')))}});
    ASSERT_TRUE(StreamHello(packet, flashId));
    EXPECT_EQ(flashId, std::string(100, 'x'));

    peer.AnswerAlways({{DeviceFrame(HelloAnswer(200, "short"))}});
    ASSERT_TRUE(StreamHello(packet, flashId));
    EXPECT_EQ(flashId, "short") << "no more than arrived";

    peer.AnswerAlways({{kAckFrame}});
    EXPECT_FALSE(StreamHello(packet, flashId)) << "an acknowledgement is no hello";
    EXPECT_EQ(flashId, "");
}

TEST_F(StreamTest, RequestsAreLaidOutAsTheProgrammerExpects) {
    peer.AnswerAlways({{DeviceFrame({0x1A, 0x00})}});
    const Bytes table{0x7E, 0xAA, 0x7D};
    EXPECT_TRUE(StreamPartitionTable(packet, table, 0)) << packet.LastError();
    peer.AnswerAlways({{kAckFrame}});
    EXPECT_TRUE(StreamSecurityMode(packet, 0x01)) << packet.LastError();
    EXPECT_TRUE(StreamOpenMultiImage(packet, 0x0E, TextBytes("0:RPM"))) << packet.LastError();
    EXPECT_TRUE(StreamOpenMultiImage(packet, 0x05, {})) << packet.LastError();
    EXPECT_TRUE(StreamNop(packet)) << packet.LastError();
    EXPECT_TRUE(StreamReset(packet)) << packet.LastError();
    EXPECT_TRUE(StreamClose(packet)) << packet.LastError();
    EXPECT_TRUE(StreamWrite(packet, Bytes{0xAB, 0xCD}, 0x00020000)) << packet.LastError();
    ASSERT_TRUE(peer.WaitForRequests(8, 1s));
    EXPECT_TRUE(packet.SendOnly(0x28, 0x0001F000));
    // Each write purges first: let the device take the previous request off the line.
    ASSERT_TRUE(peer.WaitForRequests(9, 1s));
    EXPECT_TRUE(packet.SendOnly(0x1D, 0x12345678));
    ASSERT_TRUE(peer.WaitForRequests(10, 1s));

    const std::vector<std::string> expected{
        Hex(DeviceFrame({0x19, 0x00, 0x7E, 0xAA, 0x7D})),
        Hex(DeviceFrame({0x17, 0x01})),
        Hex(DeviceFrame({0x1B, 0x0E, '0', ':', 'R', 'P', 'M'})),
        Hex(DeviceFrame({0x1B, 0x05})),
        Hex(DeviceFrame({0x09, 0x11})),
        Hex(DeviceFrame({0x0B})),
        Hex(DeviceFrame({0x15})),
        Hex(DeviceFrame({0x07, 0x00, 0x00, 0x02, 0x00, 0xAB, 0xCD})),
        Hex(DeviceFrame({0x28, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0xF0, 0x00, 0x01})),
        Hex(DeviceFrame({0x1D, 0x01, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x01})),
    };
    EXPECT_EQ(SeenRequests(), expected);
}

TEST_F(StreamTest, PipelinedWriteFrameStuffsAddressBytes) {
    const Bytes data{0x01, 0x7E};
    const std::size_t length = BuildStreamWriteFrame(packet, data, 0x7E7D0000);
    const Bytes frame(packet.TransmitBytes().begin(), packet.TransmitBytes().end());
    EXPECT_EQ(length, frame.size());
    EXPECT_EQ(Hex(frame), Hex(DeviceFrame({0x07, 0x00, 0x00, 0x7D, 0x7E, 0x01, 0x7E})));
    EXPECT_EQ(Hex(Bytes(frame.begin(), frame.begin() + 6)), "7E 07 00 00 7D 5D") << Hex(frame);
    EXPECT_EQ(Hex(Bytes(frame.begin() + 6, frame.begin() + 8)), "7D 5E");

    ASSERT_TRUE(packet.SendTransmitBuffer());
    EXPECT_EQ(Hex(peer.Collect()), Hex(frame));

    EXPECT_EQ(BuildStreamWriteFrame(packet, Bytes(1025, 0), 0), 0U);
    EXPECT_NE(packet.LastError().find("longer than 1024"), std::string::npos);
}

TEST_F(StreamTest, ErrorAnswersCarryTheirTexts) {
    peer.AnswerAlways({{DeviceFrame(ErrorAnswer(14))}});
    EXPECT_FALSE(StreamClose(packet));
    EXPECT_EQ(packet.LastError(), "NAND flash programming not supported");
    peer.AnswerAlways({{DeviceFrame(ErrorAnswer(6))}});
    EXPECT_FALSE(StreamClose(packet));
    EXPECT_EQ(packet.LastError(), "Illegal reason");
    peer.AnswerAlways({{DeviceFrame(ErrorAnswer(5))}});
    EXPECT_FALSE(StreamSecurityMode(packet, 1));
    EXPECT_EQ(packet.LastError(), "Cannot go into security, Since Invalid Command");
    peer.AnswerAlways({{DeviceFrame(ErrorAnswer(18))}});
    EXPECT_FALSE(StreamOpenMultiImage(packet, 0x0E, {}));
    EXPECT_EQ(packet.LastError(), "Cannot open multi-image, Since Out of space");
    EXPECT_EQ(wire::ReadLe32(packet.Response(), 1), 18U);

    EXPECT_EQ(StreamErrorText(2), "Invalid destination address");
    EXPECT_EQ(StreamErrorText(10), "Write-verify failed");
    EXPECT_EQ(StreamErrorText(17), "Incompatible feature bits");
    for (const std::uint32_t code : {0U, 1U, 11U, 19U, 0xFFFFFFFFU}) {
        EXPECT_EQ(StreamErrorText(code), "Illegal reason") << code;
    }
}

TEST_F(StreamTest, PartitionTableIsResentWithOverrideWhenTheDeviceAsks) {
    peer.Respond([](const Bytes& request) -> std::vector<PtyPeer::Write> {
        const bool overriding = request.size() > 2 && request[2] == 0x01;
        return {{DeviceFrame({0x1A, static_cast<std::uint8_t>(overriding ? 0 : 1)})}};
    });
    const Bytes table{0xAA, 0x73, 0x45};
    ASSERT_TRUE(StreamPartitionTable(packet, table, 0)) << packet.LastError();
    const std::vector<std::string> seen = SeenRequests();
    ASSERT_EQ(seen.size(), 4U) << "three tries as asked, then one with the override";
    EXPECT_EQ(seen[0], Hex(DeviceFrame({0x19, 0x00, 0xAA, 0x73, 0x45})));
    EXPECT_EQ(seen[3], Hex(DeviceFrame({0x19, 0x01, 0xAA, 0x73, 0x45})));
    EXPECT_EQ(packet.OverrideFlag(), 0U);
}

TEST_F(StreamTest, PartitionTableFailureIsReportedWithoutOverride) {
    peer.AnswerAlways({{DeviceFrame(ErrorAnswer(15))}});
    EXPECT_FALSE(StreamPartitionTable(packet, Bytes{1, 2}, 0));
    EXPECT_EQ(packet.LastError(), "Cannot download partition, Since Command out of sequence");
    EXPECT_EQ(peer.Requests().size(), 3U) << "no override resend";

    peer.AnswerAlways({{DeviceFrame({0x1A, 0x02})}});
    EXPECT_FALSE(StreamPartitionTable(packet, Bytes{1, 2}, 0));
    EXPECT_EQ(packet.LastError(),
              "Cannot download partition, Since the partition table was refused with status 2");

    EXPECT_FALSE(StreamPartitionTable(packet, Bytes(1025, 0), 1));
    EXPECT_NE(packet.LastError().find("longer than 1024"), std::string::npos);
}

TEST_F(StreamTest, BlockWrittenAddressesAreCollectedAcrossFrames) {
    peer.AnswerAlways({{Concat({DeviceFrame(BlockWritten(0x0001FFFF)), DeviceFrame({0x0E}),
                                DeviceFrame(BlockWritten(0x7E000400))})}});
    ASSERT_TRUE(StreamWrite(packet, Bytes(1024, 0x5A), 0x400)) << packet.LastError();
    const auto acked = packet.AckedAddresses();
    EXPECT_EQ(std::vector<std::uint32_t>(acked.begin(), acked.end()),
              (std::vector<std::uint32_t>{0x0001FFFF, 0x7E000400}));

    // Pipelined writes: the answers of several blocks arrive together.
    peer.Send(Concat({DeviceFrame(BlockWritten(0)), DeviceFrame(BlockWritten(1024)),
                      DeviceFrame(BlockWritten(2048))}));
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(DrainStreamAnswers(packet)) << packet.LastError();
    EXPECT_EQ(packet.AckedAddresses().size(), 3U);
    EXPECT_EQ(packet.AckedAddresses()[2], 2048U);
    ASSERT_TRUE(DrainStreamAnswers(packet)) << "nothing waiting";
    EXPECT_TRUE(packet.AckedAddresses().empty());

    peer.Send(Concat({DeviceFrame(BlockWritten(4096)), DeviceFrame({0x08, 0x01})}));
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(DrainStreamAnswers(packet)) << "a block-written answer without address";
    EXPECT_EQ(packet.AckedAddresses().size(), 1U);
}

TEST_F(StreamTest, StreamWriteGivesUpAfterFiveTriesASecondApart) {
    RecordingClock clock;
    EXPECT_FALSE(StreamWrite(packet, Bytes{1, 2, 3}, 0, clock));
    EXPECT_EQ(packet.LastError(),
              "Write a Block of Data to Memory Failed, Since Port Cannot Receive Desired Data from "
              "the Phone");
    EXPECT_EQ(clock.sleeps, std::vector<platform::Milliseconds>(4, platform::ScaledWait(1000ms)));
    EXPECT_EQ(Hex(peer.Collect()), Hex(Concat({DeviceFrame({0x07, 0, 0, 0, 0, 1, 2, 3}),
                                               DeviceFrame({0x07, 0, 0, 0, 0, 1, 2, 3}),
                                               DeviceFrame({0x07, 0, 0, 0, 0, 1, 2, 3}),
                                               DeviceFrame({0x07, 0, 0, 0, 0, 1, 2, 3}),
                                               DeviceFrame({0x07, 0, 0, 0, 0, 1, 2, 3})})));

    int calls = 0;
    peer.Respond([&calls](const Bytes&) -> std::vector<PtyPeer::Write> {
        if (++calls < 3) {
            return {{DeviceFrame(ErrorAnswer(10))}};
        }
        return {{DeviceFrame(BlockWritten(0))}};
    });
    RecordingClock retryClock;
    EXPECT_TRUE(StreamWrite(packet, Bytes{1, 2, 3}, 0, retryClock)) << packet.LastError();
    EXPECT_EQ(retryClock.sleeps.size(), 2U);
    EXPECT_EQ(calls, 3);
}

TEST_F(StreamTest, ExtensionAnswersAreWaitedForAndConsumed) {
    RecordingClock clock;
    peer.Send(Concat({DeviceFrame(BlockWritten(0)), DeviceFrame({0x29, 0x00, 0, 0, 0}),
                      DeviceFrame({0x29, 0x01, 0, 0, 0})}));
    EXPECT_TRUE(WaitAnswerOk(packet, 0x29, clock));
    EXPECT_EQ(clock.sleeps.size(), 1U) << "only the frame of another code pauses";
    EXPECT_EQ(packet.Response()[0], 0);

    UnitStatus status = UnitStatus::None;
    peer.Send(DeviceFrame({0x29, 0x00, 0x01, 0, 0}));
    EXPECT_TRUE(WaitAnswerStatus(packet, 0x29, 2, status, clock));
    EXPECT_EQ(status, UnitStatus::Accepted);
    peer.Send(DeviceFrame({0x1E, 0x00, 0x00, 0, 0}));
    EXPECT_TRUE(WaitAnswerStatus(packet, 0x1E, 60, status, clock));
    EXPECT_EQ(status, UnitStatus::ChecksumMismatch);
    peer.Send(DeviceFrame({0x29, 0x01, 0x00, 0, 0}));
    EXPECT_FALSE(WaitAnswerStatus(packet, 0x29, 2, status, clock));
    EXPECT_EQ(status, UnitStatus::DeviceFailure);
    EXPECT_FALSE(WaitAnswerOk(packet, 0x29, clock)) << "the failure answer is not a ready answer";

    peer.Send(DeviceFrame({0x29, 0x07, 0x00, 0, 0}));
    EXPECT_FALSE(WaitAnswerStatus(packet, 0x29, 2, status, clock));
    EXPECT_EQ(status, UnitStatus::None);
    clock.sleeps.clear();
    EXPECT_FALSE(WaitAnswerStatus(packet, 0x29, 1, status, clock));
    EXPECT_EQ(status, UnitStatus::None);
    EXPECT_FALSE(clock.sleeps.empty());
    EXPECT_LE(clock.sleeps.size(), 1000U);
}

// A clock on which every pause of a wait lasts a second, and which lets the scripted device
// speak as each second begins: minutes of a device's silence pass in a few polls.
class SecondPerPauseClock final : public platform::Clock {
  public:
    explicit SecondPerPauseClock(std::function<void(int second)> atSecond)
        : atSecond_(std::move(atSecond)) {}
    platform::TimePoint Now() const override { return platform::TimePoint{} + 1s * seconds; }
    void Sleep(platform::Milliseconds) override { atSecond_(++seconds); }
    int seconds = 0;

  private:
    std::function<void(int)> atSecond_;
};

TEST_F(StreamTest, ReadyAnswerIsAwaitedUntilTheProgrammerFallsSilent) {
    // At their real length: the clock makes the seconds.
    platform::SetTimeScale(1.0);
    struct Case {
        const char* name;
        int readyAt;   // the second the ready answer comes, or never (-1)
        bool chatter;  // other answers at every other second
        bool ready;
        int gaveUpAt;  // the second the wait ended
    } const cases[] = {
        {"ready after three silent seconds", 3, false, true, 3},
        {"silent: ten quiet seconds end it", -1, false, false, 10},
        {"talking without the ready answer: two minutes end it", -1, true, false, 120},
    };
    for (const Case& c : cases) {
        SecondPerPauseClock clock([&](int second) {
            if (second == c.readyAt) {
                peer.Send(DeviceFrame({0x29, 0x01, 0, 0, 0}));
            } else if (c.chatter) {
                peer.Send(DeviceFrame(BlockWritten(0)));
            }
        });
        EXPECT_EQ(WaitAnswerOk(packet, 0x29, clock), c.ready) << c.name;
        EXPECT_EQ(clock.seconds, c.gaveUpAt) << c.name;
    }
    platform::SetTimeScale(0.01);
}

// Every parser meets random and cut-off answers; the sanitizers watch for reads past the data.
TEST(StreamParser, RandomAndTruncatedAnswersStayInsideTheData) {
    link::CPacket packet;
    packet.SetProtocol(link::MODE_STREAM, &StreamProtocol());
    packet.SetMode(link::MODE_STREAM);
    std::mt19937 random(11);
    const Bytes codes{0x02, 0x08, 0x0D, 0x1A, 0x1E, 0x29, 0x0E, 0x55};
    for (int round = 0; round < 4000; ++round) {
        const Bytes payload = RandomAnswer(random, codes, 64);
        Bytes frames = Concat({DeviceFrame(payload), DeviceFrame(BlockWritten(round))});
        if (round % 3 == 0) {
            frames.resize(random() % (frames.size() + 1));
        }
        ASSERT_TRUE(packet.LoadReceiveBuffer(frames));
        packet.DecodeFrame();
        EXPECT_LE(packet.HelloLength(), link::CPacket::kHelloCapacity);
        ASSERT_TRUE(packet.LoadReceiveBuffer(frames));
        packet.ParseFrames();
        EXPECT_LE(packet.AckedAddresses().size(), 2U);
    }
    const Bytes requests{0x01, 0x07, 0x09, 0x0B, 0x15, 0x17, 0x19, 0x1B, 0x1D, 0x28};
    for (int round = 0; round < 500; ++round) {
        FillRandomRequest(packet, random, requests[round % requests.size()]);
        EXPECT_LE(packet.BuildFrame(round % 2), link::CPacket::kTransmitCapacity);
    }
    // A full read of block-written answers fits the acknowledged list.
    Bytes many;
    while (many.size() + 9 <= link::CPacket::kReceiveData) {
        many = Concat({many, DeviceFrame(BlockWritten(0x00010000))});
    }
    ASSERT_TRUE(packet.LoadReceiveBuffer(many));
    EXPECT_TRUE(packet.ParseFrames()) << packet.LastError();
    EXPECT_EQ(packet.AckedAddresses().size(), many.size() / 9);
}

}  // namespace
}  // namespace tapfix::device::test
