#include <gtest/gtest.h>

#include <memory>
#include <string_view>
#include <thread>

#include "link/packet.hpp"
#include "platform/clock.hpp"
#include "support/pty_peer.hpp"
#include "support/test_names.hpp"
#include "test_protocol.hpp"

namespace tapfix::link {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Concat;
using test::Hex;
using test::PtyPeer;
using test::ReferenceFrame;

// How an answer reaches the host, and what the exchange makes of it. A gap inside a frame may
// be of any length below the exchange's time-out; a gap behind a whole frame is long enough
// for the host to have taken it.
struct CompletionCase {
    std::string_view name;
    PacketMode mode;
    Bytes request;
    bool stream;  // TransactStream rather than Transact
    std::vector<PtyPeer::Write> answer;
    bool deviceLeaves;  // right after its answer
    bool ok;
    std::string_view error;  // LastError after a failure
    Bytes payload;           // the answer Transact decoded
    std::vector<std::uint32_t> acked;
    std::uint32_t timeoutMs = 2000;
};

void PrintTo(const CompletionCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr std::string_view kWrongCrc = "the Received Data is Wrong with Wrong CRC Checksum";
constexpr std::string_view kNoEndFlag = "the Received Data is Wrong without End Flag(0x7e)";
constexpr std::string_view kSilent = "Port Cannot Receive Desired Data from the Phone";
constexpr std::string_view kFlood = "The Received Data from the Phone is failed";

const Bytes kNvRead{0x26, 0x26, 0x02};
const Bytes kNvAnswer{0x26, 0x26, 0x02, 0x35, 0x7E, 0x7D, 0x00, 0x00};
const Bytes kWrite{0x07, 0x00, 0x10, 0x00, 0x00};
const Bytes kWritten{0x08, 0x00, 0x10, 0x00, 0x00};
const Bytes kWrittenNext{0x08, 0x00, 0x14, 0x00, 0x00};

Bytes Head(const Bytes& frame, std::size_t length) {
    return Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length));
}

Bytes Tail(const Bytes& frame, std::size_t from) {
    return Bytes(frame.begin() + static_cast<std::ptrdiff_t>(from), frame.end());
}

std::vector<CompletionCase> Cases() {
    const Bytes nv = ReferenceFrame(kNvAnswer, false);
    const Bytes written = ReferenceFrame(kWritten, true);
    const Bytes writtenNext = ReferenceFrame(kWrittenNext, true);
    const Bytes nop = ReferenceFrame({0x02}, true);
    // clang-format off
    return {
        {"DIAG answer split in two writes", MODE_DIAG, kNvRead, false,
         {{Head(nv, 5)}, {Tail(nv, 5), 2ms}}, false, true, "", kNvAnswer, {}},
        {"streaming answer split after its opening flag", MODE_STREAM, kWrite, true,
         {{Head(written, 1)}, {Tail(written, 1), 2ms}}, false, true, "", {}, {0x1000}},
        {"streaming answer split in two writes", MODE_STREAM, kWrite, true,
         {{Head(written, 4)}, {Tail(written, 4), 2ms}}, false, true, "", {}, {0x1000}},
        {"boot-loader answer without its opening flag", MODE_DMSS, {0x06}, false,
         {{Tail(nop, 1)}}, false, true, "", {0x02}, {}},
        {"two DIAG frames in one read", MODE_DIAG, kNvRead, false,
         {{Concat({nv, nv})}}, false, false, kWrongCrc, {}, {}},
        {"two streaming frames in one read", MODE_STREAM, kWrite, true,
         {{Concat({written, writtenNext})}}, false, true, "", {}, {0x1000, 0x1400}},
        {"DIAG frame with trailing bytes", MODE_DIAG, kNvRead, false,
         {{Concat({nv, {0x55, 0x55}})}}, false, false, kNoEndFlag, {}, {}},
        {"streaming frame with trailing bytes", MODE_STREAM, kWrite, true,
         {{Concat({written, {0x55}})}}, false, true, "", {}, {0x1000}},
        // One answer was asked for: the first whole frame is it, a later one is not waited for.
        {"DIAG frame followed by a second one", MODE_DIAG, kNvRead, false,
         {{nv}, {ReferenceFrame({0x13}, false), 15ms}}, false, true, "", kNvAnswer, {}},
        {"streaming frame followed by a second one", MODE_STREAM, kWrite, true,
         {{written}, {writtenNext, 10ms}}, false, true, "", {}, {0x1000}},
        {"device leaves after half a DIAG answer", MODE_DIAG, kNvRead, false,
         {{Head(nv, 5)}}, true, false, kNoEndFlag, {}, {}},
        {"device leaves after half a streaming answer", MODE_STREAM, kWrite, true,
         {{Head(written, 4)}}, true, false, kSilent, {}, {}},
        {"device leaves right after a whole answer", MODE_DIAG, kNvRead, false,
         {{nv}}, true, true, "", kNvAnswer, {}},
        {"flood that ends in a flag", MODE_DIAG, kNvRead, false,
         {{Concat({Bytes(1500, 0x26), {0x7E}})}}, false, false, kFlood, {}, {}},
        // A started frame is read to its closing flag, however long the device pauses in it.
        {"DIAG answer with a long pause inside", MODE_DIAG, kNvRead, false,
         {{Head(nv, 5)}, {Tail(nv, 5), 200ms}}, false, true, "", kNvAnswer, {}},
        {"streaming answer with a long pause after its opening flag", MODE_STREAM, kWrite, true,
         {{Head(written, 1)}, {Tail(written, 1), 200ms}}, false, true, "", {}, {0x1000}},
        {"boot-loader answer behind flag fill", MODE_DMSS, {0x06}, false,
         {{{0x7E, 0x7E}}, {nop, 200ms}}, false, true, "", {0x02}, {}},
        {"half a DIAG answer, then silence", MODE_DIAG, kNvRead, false,
         {{Head(nv, 5)}}, false, false, kNoEndFlag, {}, {}, 300},
        {"flags alone are no answer", MODE_DMSS, {0x06}, false,
         {{{0x7E, 0x7E, 0x7E}}}, false, false, kSilent, {}, {}, 300},
    };
    // clang-format on
}

Bytes Decoded(const CPacket& packet) {
    const auto payload = packet.DecodedPayload();
    return Bytes(payload.begin(), payload.end());
}

class AnswerCompletionTest : public ::testing::TestWithParam<CompletionCase> {
  protected:
    // The intervals the cases are written against.
    AnswerCompletionTest() { platform::SetTimeScale(1.0); }
    ~AnswerCompletionTest() override { platform::SetTimeScale(0.01); }
};

TEST_P(AnswerCompletionTest, GivesTheAnswerOfTheWholeInput) {
    const CompletionCase& c = GetParam();
    PtyPeer peer;
    test::EchoProtocol protocol;
    CPacket packet;
    test::InstallEverywhere(packet, protocol);
    peer.AnswerAlways(c.answer);
    ASSERT_TRUE(packet.OpenPort(peer.PortNumber()));
    packet.SetMode(c.mode);
    std::copy(c.request.begin(), c.request.end(), packet.Request().begin());
    protocol.length = c.request.size();
    std::thread leaver;
    if (c.deviceLeaves) {
        // Leaving waits for the device's writes to finish; the pause lets the pseudo-terminal
        // hand them over first, as a USB device's last packet reaches the host.
        leaver = std::thread([&peer] {
            peer.WaitForRequests(1, 2s);
            std::this_thread::sleep_for(5ms);
            peer.Vanish();
        });
    }
    const bool ok = c.stream ? packet.TransactStream(c.timeoutMs) : packet.Transact(1, c.timeoutMs);
    if (leaver.joinable()) {
        leaver.join();
    }
    EXPECT_EQ(ok, c.ok) << packet.LastError();
    if (!c.ok) {
        EXPECT_EQ(packet.LastError(), c.error);
    }
    if (c.ok && !c.stream) {
        EXPECT_EQ(Hex(Decoded(packet)), Hex(c.payload));
    }
    const auto acked = packet.AckedAddresses();
    EXPECT_EQ(std::vector<std::uint32_t>(acked.begin(), acked.end()), c.acked);
}

INSTANTIATE_TEST_SUITE_P(Answers, AnswerCompletionTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                             return tapfix::test::TestNameOf(info.param.name);
                         });

}  // namespace
}  // namespace tapfix::link
