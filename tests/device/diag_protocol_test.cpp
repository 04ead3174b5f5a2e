#include "device/diag_protocol.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "link/packet.hpp"
#include "support/pty_peer.hpp"

namespace tapfix::device {
namespace {

using test::Bytes;

TEST(DiagProtocolTest, NvStatusTexts) {
    EXPECT_EQ(NvStatusText(1), "Request is queued");
    EXPECT_EQ(NvStatusText(5), "Variable was not active");
    EXPECT_EQ(NvStatusText(10), "address is not a valid allocation ");
    EXPECT_EQ(NvStatusText(0), "");
    EXPECT_EQ(NvStatusText(11), "");
    EXPECT_EQ(NvStatusText(0xFFFF), "");
}

// Answers of every parsed code, at every length and cut anywhere, decode without reading past
// what arrived; a version answer that decodes leaves every slot terminated.
TEST(DiagProtocolTest, DecodeSurvivesRandomAndTruncatedAnswers) {
    link::CPacket packet;
    packet.SetProtocol(link::MODE_DIAG, &DiagProtocol());
    std::mt19937 random(20240611);
    const std::array<std::uint8_t, 7> codes{0x01, 0x26, 0x27, 0x29, 0x39, 0x4B, 0x13};
    for (int round = 0; round < 3000; ++round) {
        Bytes answer(random() % 400);
        std::generate(answer.begin(), answer.end(), [&] { return random() % 4 ? random() : 0; });
        if (!answer.empty()) {
            answer[0] = codes[random() % codes.size()];
        }
        Bytes frame = test::ReferenceFrame(answer, false);
        if (random() % 3 == 0) {
            frame.resize(random() % (frame.size() + 1));
        }
        packet.SetMode(link::MODE_DIAG);
        ASSERT_TRUE(packet.LoadReceiveBuffer(frame));
        if (packet.DecodeFrame() && answer.size() > 0 && answer[0] == 0x39) {
            for (std::size_t k = 0; k < diag::kVersionTexts; ++k) {
                EXPECT_EQ(packet.Response()[diag::kVersionFirstSlot + k * diag::kVersionSlot +
                                            diag::kVersionTextLength],
                          0);
            }
        }
    }
}

}  // namespace
}  // namespace tapfix::device
