#include <gtest/gtest.h>

#include "sim/faults.hpp"
#include "sim/hdlc.hpp"
#include "support/pty_peer.hpp"

namespace tapfix::sim {
namespace {

using tapfix::test::Hex;
using tapfix::test::ReferenceFrame;

std::vector<Deframer::Frame> Drain(Deframer& deframer) {
    std::vector<Deframer::Frame> frames;
    while (auto frame = deframer.Next()) {
        frames.push_back(std::move(*frame));
    }
    return frames;
}

TEST(Framing, AnswersAreFramedLikeTheHostExpects) {
    const Bytes payload{0x4B, 0x7E, 0x13, 0x7D, 0x00};
    EXPECT_EQ(Hex(EncodeFrame(payload, Opening::None)), Hex(ReferenceFrame(payload, false)));
    EXPECT_EQ(Hex(EncodeFrame(payload, Opening::Flag)), Hex(ReferenceFrame(payload, true)));
    const Bytes corrupted = EncodeFrame(payload, Opening::None, true);
    EXPECT_NE(Hex(corrupted), Hex(ReferenceFrame(payload, false)));
    EXPECT_EQ(corrupted.back(), 0x7E);
}

TEST(Framing, RequestsAreCollectedFromAnyChunking) {
    const Bytes first{0x26, 0x7E, 0x7D, 0x01};
    const Bytes second{0x0C};
    // A DIAG request without an opening flag, then one with it, delivered byte by byte.
    const Bytes line =
        tapfix::test::Concat({ReferenceFrame(first, false), ReferenceFrame(second, true)});
    Deframer deframer;
    for (const std::uint8_t byte : line) {
        deframer.Push({&byte, 1});
    }
    auto frames = Drain(deframer);
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_TRUE(frames[0].crcGood);
    EXPECT_EQ(Hex(frames[0].payload), Hex(first));
    EXPECT_TRUE(frames[1].crcGood);
    EXPECT_EQ(Hex(frames[1].payload), Hex(second));

    // Both in one read, with repeated flags between them.
    Deframer together;
    together.Push(tapfix::test::Concat(
        {ReferenceFrame(first, false), {0x7E, 0x7E}, ReferenceFrame(second, false)}));
    EXPECT_EQ(Drain(together).size(), 2U);
}

TEST(Framing, DamagedAndOversizedRequestsAreNotPassedOn) {
    Bytes damaged = ReferenceFrame({0x01}, false);
    damaged[0] ^= 0x01;
    Deframer deframer;
    deframer.Push(damaged);
    auto frames = Drain(deframer);
    ASSERT_EQ(frames.size(), 1U);
    EXPECT_FALSE(frames[0].crcGood);

    const Bytes flood(Deframer::kMaxFrame + 10, 0x55);
    deframer.Push(flood);
    deframer.Push(ReferenceFrame({0x01}, false));
    frames = Drain(deframer);
    // The flood and the frame it runs into are one overlong frame; nothing of it is kept.
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(deframer.TakeOverflow(),
              flood.size() + ReferenceFrame({0x01}, false).size() - 1 - Deframer::kMaxFrame);
    deframer.Push(ReferenceFrame({0x01}, false));
    EXPECT_EQ(Drain(deframer).size(), 1U) << "the next frame after the flood decodes again";
}

TEST(Faults, ListParsesIntoAPlanAndBadEntriesChangeNothing) {
    FaultPlan plan;
    std::string error;
    ASSERT_TRUE(
        plan.Parse("silent:3,badcrc:5,split,diagerror:0x26,diagerror:41:0x42,"
                   "noport-after-reset,sahara-repeat:2,sahara-swap:5,dlflag-refused:1",
                   &error))
        << error;
    EXPECT_EQ(plan.silentAnswers, std::set<unsigned>{3});
    EXPECT_EQ(plan.badCrcAnswers, std::set<unsigned>{5});
    EXPECT_TRUE(plan.split);
    EXPECT_EQ(plan.diagErrors.at(0x26), 0x13);
    EXPECT_EQ(plan.diagErrors.at(41), 0x42);
    EXPECT_TRUE(plan.noPortAfterReset);
    EXPECT_EQ(plan.saharaRepeats, std::set<unsigned>{2});
    EXPECT_EQ(plan.saharaSwaps, std::set<unsigned>{5});
    EXPECT_EQ(plan.refusedDlFlags, 1U);

    for (const char* bad : {"silent", "silent:0", "badcrc:x", "diagerror:0x100", "split:1:2",
                            "reboot", "silent:3,", "diagerror:0x26:", "sahara-swap:0"}) {
        FaultPlan unchanged;
        EXPECT_FALSE(unchanged.Parse(bad, &error)) << bad;
        EXPECT_NE(error.find("fault"), std::string::npos);
        EXPECT_TRUE(unchanged.silentAnswers.empty() && unchanged.diagErrors.empty()) << bad;
    }

    FaultCounter counter(plan);
    std::vector<std::pair<bool, bool>> fates;
    for (int i = 0; i < 6; ++i) {
        const AnswerFate fate = counter.NextAnswer();
        fates.emplace_back(fate.silent, fate.badCrc);
    }
    const std::vector<std::pair<bool, bool>> expected{{false, false}, {false, false},
                                                      {true, false},  {false, false},
                                                      {false, true},  {false, false}};
    EXPECT_EQ(fates, expected);
}

}  // namespace
}  // namespace tapfix::sim
