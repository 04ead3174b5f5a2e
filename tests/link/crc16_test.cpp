#include "link/crc16.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string_view>

#include "support/pty_peer.hpp"

namespace tapfix::link {
namespace {

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Crc16, MatchesTheStandardCheckValues) {
    EXPECT_EQ(Fcs16(AsBytes("123456789")), 0x906E);
    EXPECT_EQ(Fcs16(AsBytes("abc")), 0x9E25);
}

TEST(Crc16, PayloadFollowedByItsFcsLeavesTheGoodResidue) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        test::Bytes payload(random() % 300 + 1);
        for (auto& byte : payload) {
            byte = static_cast<std::uint8_t>(random());
        }
        const std::uint16_t fcs = Fcs16(payload);
        ASSERT_EQ(fcs, test::ReferenceFcs(payload));
        payload.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
        payload.push_back(static_cast<std::uint8_t>(fcs >> 8));
        ASSERT_TRUE(FcsIsGood(payload));
        payload[random() % payload.size()] ^= 0x10;
        ASSERT_FALSE(FcsIsGood(payload));
    }
    EXPECT_FALSE(FcsIsGood({}));
}

}  // namespace
}  // namespace tapfix::link
