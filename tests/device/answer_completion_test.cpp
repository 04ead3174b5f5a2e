// The command operations over answers that arrive in pieces, together, with trailing bytes, or
// from a device that leaves: what each operation makes of them.
#include <functional>
#include <string_view>
#include <thread>

#include "device/command_set.hpp"
#include "device/dmss_commands.hpp"
#include "device/nv_efs.hpp"
#include "device/sahara.hpp"
#include "device/stream_commands.hpp"
#include "loader_fixture.hpp"
#include "support/test_names.hpp"

namespace tapfix::device::test {
namespace {

using Operation = std::function<std::string(link::CPacket&)>;

// The device's writes begin once the host's request has arrived, or at once when the
// operation only listens.
struct OperationCase {
    std::string name;
    bool answersARequest;
    std::vector<PtyPeer::Write> writes;
    bool deviceLeaves;  // after its writes
    Operation run;
    std::string expected;
};

void PrintTo(const OperationCase& c, std::ostream* out) {
    *out << c.name;
}

Bytes Le32(std::uint32_t value) {
    Bytes bytes;
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    return bytes;
}

Bytes Words(std::initializer_list<std::uint32_t> words) {
    Bytes bytes;
    for (const std::uint32_t word : words) {
        bytes = Concat({bytes, Le32(word)});
    }
    return bytes;
}

Bytes Piece(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(std::min(to, bytes.size())));
}

std::string Outcome(link::CPacket& packet, bool ok, const std::string& detail = {}) {
    return ok ? "ok" + detail : "failed: " + packet.LastError();
}

std::string Spaced(const Bytes& bytes) {
    return " " + Hex(bytes);
}

std::string ReceivedHex(const link::CPacket& packet) {
    return Spaced(Bytes(packet.ReceivedBytes().begin(), packet.ReceivedBytes().end()));
}

const Bytes kNvValue{0x35, 0x7E, 0x7D};

Bytes NvAnswer() {
    Bytes value = kNvValue;
    value.resize(128);
    return Concat({{0x26, 0xC7, 0x01}, value, {0x00, 0x00}});
}

std::string ReadNv(link::CPacket& packet) {
    NvItemData data{};
    std::uint16_t status = 0;
    const bool ok = ReadNvItem(packet, 455, data, status);
    return Outcome(packet, ok, " " + Hex(Bytes(data.begin(), data.begin() + 3)));
}

std::string WriteBlock(link::CPacket& packet) {
    return Outcome(packet, StreamWrite(packet, Bytes{1, 2, 3}, 0x1000));
}

std::string Close(link::CPacket& packet) {
    return Outcome(packet, StreamClose(packet));
}

// A unit's status answer and then its block-written answers, as the raw transfers follow them.
std::string UnitAndAddresses(link::CPacket& packet) {
    UnitStatus status = UnitStatus::None;
    const bool answered = WaitAnswerStatus(packet, 0x29, 2, status);
    std::string addresses;
    std::uint32_t latest = 0;
    for (int poll = 0; poll < 10 && latest != 0x3FFFF; ++poll) {
        packet.ReceiveFrame();
        for (const std::uint32_t address : packet.AckedAddresses()) {
            addresses += " " + std::to_string(address);
            latest = address;
        }
    }
    return Outcome(packet, answered && status == UnitStatus::Accepted, addresses);
}

// Drains as a pipelined transfer does, every 10 ms, until an acknowledgement has come.
std::string DrainUntilAcknowledged(link::CPacket& packet) {
    std::string addresses;
    for (int drain = 0; drain < 100 && addresses.empty(); ++drain) {
        if (!DrainStreamAnswers(packet)) {
            return Outcome(packet, false);
        }
        for (const std::uint32_t address : packet.AckedAddresses()) {
            addresses += " " + std::to_string(address);
        }
        std::this_thread::sleep_for(10ms);
    }
    return Outcome(packet, true, addresses);
}

// A device that pauses in the middle of every answer, as the simulated router's split fault
// does: each answer reads whole, in every mode, whatever the pause.
std::vector<OperationCase> SplitCases() {
    const Bytes nv = ReferenceFrame(NvAnswer(), false);
    const Bytes efsClosed = ReferenceFrame(Concat({{0x4B, 0x13, 0x03, 0x00}, Le32(0)}), false);
    const Bytes acknowledged = DeviceFrame({0x02});
    const Bytes written = DeviceFrame(Concat({{0x08}, Le32(0x1000)}));
    const Bytes accepted = DeviceFrame({0x29, 0x00, 0x01});
    struct Answer {
        std::string_view what;
        bool answersARequest;
        Bytes frame;
        Operation run;
        std::string expected;
    };
    const Answer answers[] = {
        {"NV read", true, nv, ReadNv, "ok 35 7E 7D"},
        {"EFS close", true, efsClosed, [](auto& p) { return Outcome(p, EfsClose(p)); }, "ok"},
        {"boot-loader", true, acknowledged, [](auto& p) { return Outcome(p, DmssNop(p)); }, "ok"},
        {"block write", true, written, WriteBlock, "ok"},
        {"unit status", false, accepted, UnitAndAddresses, "ok"},
        {"pipelined acknowledgement", false, written, DrainUntilAcknowledged, "ok 4096"},
    };
    std::vector<OperationCase> cases;
    for (const auto gap : {20ms, 200ms}) {
        for (const Answer& answer : answers) {
            const std::size_t half = answer.frame.size() / 2;
            cases.push_back({std::string(answer.what) + " answer in halves " +
                                 std::to_string(gap.count()) + " ms apart",
                             answer.answersARequest,
                             {{Piece(answer.frame, 0, half)},
                              {Piece(answer.frame, half, answer.frame.size()), gap}},
                             false,
                             answer.run,
                             answer.expected});
        }
    }
    return cases;
}

std::string ReadSahara(link::CPacket& packet) {
    const bool ok = SaharaRead(packet);
    return Outcome(packet, ok, ReceivedHex(packet));
}

std::string ReadSaharaTwice(link::CPacket& packet) {
    const std::string first = ReadSahara(packet);
    return first + ", then " + ReadSahara(packet);
}

std::vector<OperationCase> Cases() {
    const Bytes nv = ReferenceFrame(NvAnswer(), false);
    const Bytes written = DeviceFrame(Concat({{0x08}, Le32(0x1000)}));
    const Bytes closed = DeviceFrame({0x16});
    const Bytes refused = DeviceFrame(Concat({{0x0D}, Le32(14)}));
    const Bytes accepted = DeviceFrame({0x29, 0x00, 0x01});
    const Bytes boundary = DeviceFrame(Concat({{0x08}, Le32(0x20000)}));
    const Bytes last = DeviceFrame(Concat({{0x08}, Le32(0x3FFFF)}));
    const Bytes readData = Words({3, 20, 7, 0x400, 0x400});
    const Bytes endOfImage = Words({4, 16, 7, 0});
    // clang-format off
    return {
        {"NV read answer in two writes", true,
         {{Piece(nv, 0, 60)}, {Piece(nv, 60, 999), 2ms}}, false, ReadNv, "ok 35 7E 7D"},
        // The cut-off answer fails its attempt; the next one finds the port gone.
        {"NV read answer cut off by a leaving device", true, {{Piece(nv, 0, 60)}}, true, ReadNv,
         "failed: cannot read #455 NVItem, since Port Cannot Send desired data to the Phone"},
        {"block write answer in two writes", true,
         {{Piece(written, 0, 3)}, {Piece(written, 3, 99), 2ms}}, false, WriteBlock, "ok"},
        {"block write answer with trailing bytes", true,
         {{Concat({written, {0x00}})}}, false, WriteBlock, "ok"},
        {"close answer and an error answer in one read", true,
         {{Concat({closed, refused})}}, false, Close,
         "failed: NAND flash programming not supported"},
        {"unit status followed by its block-written answers", false,
         {{accepted}, {boundary, 2ms}, {last, 2ms}}, false, UnitAndAddresses, "ok 131072 262143"},
        {"Sahara message in two writes", false,
         {{Piece(readData, 0, 6)}, {Piece(readData, 6, 99), 2ms}}, false, ReadSahara,
         "ok" + Spaced(readData)},
        {"two Sahara messages in one read", false,
         {{Concat({endOfImage, readData})}}, false, ReadSahara,
         "ok" + Spaced(Concat({endOfImage, readData}))},
        // The second message is the device's next one, read by the next read.
        {"Sahara message followed by the next one", false,
         {{endOfImage}, {readData, 10ms}}, false, ReadSaharaTwice,
         "ok" + Spaced(endOfImage) + ", then ok" + Spaced(readData)},
        {"Sahara message cut off by a leaving device", false,
         {{Piece(readData, 0, 12)}}, true, ReadSahara, "ok" + Spaced(Piece(readData, 0, 12))},
        {"Sahara message stating no length", false,
         {{Words({1, 0, 2})}}, false, ReadSahara, "ok" + Spaced(Words({1, 0, 2}))},
    };
    // clang-format on
}

class AnswerCompletionTest : public ::testing::TestWithParam<OperationCase> {
  protected:
    // The sampling intervals the cases are written against.
    AnswerCompletionTest() {
        platform::SetTimeScale(1.0);
        AttachCommandSet(packet);
    }
    ~AnswerCompletionTest() override {
        if (device.joinable()) {
            device.join();
        }
        platform::SetTimeScale(0.01);
    }

    void Play(const OperationCase& c) {
        if (c.answersARequest) {
            peer.AnswerAlways(c.writes);
        } else {
            device = std::thread([this, writes = c.writes] {
                for (const PtyPeer::Write& write : writes) {
                    std::this_thread::sleep_for(write.delay);
                    peer.Send(write.bytes);
                }
            });
        }
        if (c.deviceLeaves) {
            leaver = std::thread([this, answers = c.answersARequest] {
                // Leaving waits for the device's writes; the pause lets the pseudo-terminal hand
                // them over first, as a USB device's last packet reaches the host.
                if (answers) {
                    peer.WaitForRequests(1, 2s);
                } else {
                    device.join();
                }
                std::this_thread::sleep_for(5ms);
                peer.Vanish();
            });
        }
    }

    PtyPeer peer;
    link::CPacket packet;
    std::thread device;
    std::thread leaver;
};

TEST_P(AnswerCompletionTest, OperationTakesTheWholeAnswer) {
    const OperationCase& c = GetParam();
    ASSERT_TRUE(packet.OpenPort(peer.PortNumber()));
    Play(c);
    const std::string outcome = c.run(packet);
    if (leaver.joinable()) {
        leaver.join();
    }
    EXPECT_EQ(outcome, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Operations, AnswerCompletionTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                             return tapfix::test::TestNameOf(info.param.name);
                         });
INSTANTIATE_TEST_SUITE_P(SplitAnswers, AnswerCompletionTest, ::testing::ValuesIn(SplitCases()),
                         [](const auto& info) {
                             return tapfix::test::TestNameOf(info.param.name);
                         });

}  // namespace
}  // namespace tapfix::device::test
