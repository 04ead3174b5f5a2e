// The arithmetic of the transfers: progress ranges, what a meter sends, unit checksums.
#include "session/progress.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "session/download_service.hpp"
#include "session/image_transfers.hpp"
#include "support/session_fixture.hpp"

namespace tapfix::session {
namespace {

struct RangeCase {
    std::uint64_t total;
    std::uint64_t running;
    std::uint64_t size;
    int points;
    int base;
    ProgressRange expected;
};

TEST(ProgressRangeTest, SpreadsImagesOverTheirShareAndNeverDividesByZero) {
    const RangeCase cases[] = {
        {7000, 0, 700, 70, 21, {21, 28}},
        {7000, 700, 1400, 70, 21, {28, 42}},
        {7000, 0, 700, 70, 4, {4, 11}},
        // A total below the point count: one point per byte, nothing divides by zero.
        {0, 0, 10, 70, 21, {21, 31}},
        {50, 40, 10, 70, 21, {61, 71}},
        // Steps that truncate cannot push the bar past its share, nor past 100.
        {139, 100, 39, 70, 21, {91, 91}},
        {8000, 7900, 100, 80, 21, {100, 100}},
    };
    for (const RangeCase& c : cases) {
        ProgressState state{c.total, c.running, c.base};
        const ProgressRange range = NextProgressRange(state, c.size, c.points);
        EXPECT_EQ(range.start, c.expected.start) << c.total << "/" << c.running;
        EXPECT_EQ(range.end, c.expected.end) << c.total << "/" << c.running;
        EXPECT_EQ(state.running, c.running + c.size);
    }
}

struct MeterCase {
    ProgressRange range;
    int shownBefore;
    // s<N>: ShowAtLeast(N); a: Advance; f: Finish.
    const char* steps;
    std::vector<int> sent;
};

TEST(ProgressMeterTest, SendsEachPointOnceAndNeverBackwards) {
    const MeterCase cases[] = {
        {{21, 24}, 20, "s21 a a a a f", {21, 22, 23, 24}},
        {{24, 26}, 24, "s24 a f", {25, 26}},
        {{24, 26}, -1, "s30 f a", {26}},
        {{21, 30}, -1, "s25 s22 a", {25, 26}},
        {{40, 40}, 39, "a a f", {40}},
    };
    for (const MeterCase& c : cases) {
        test::RecordingNotifier notifier;
        CDownloadService service;
        service.SetNotifier(&notifier);
        ProgressState list;
        list.shown = c.shownBefore;
        ProgressMeter meter(service, 0, list, c.range);
        std::istringstream steps(c.steps);
        for (std::string step; steps >> step;) {
            if (step[0] == 's') {
                meter.ShowAtLeast(std::stoi(step.substr(1)));
            } else if (step == "a") {
                meter.Advance();
            } else {
                meter.Finish();
            }
        }
        EXPECT_EQ(notifier.Progress(), c.sent) << c.steps;
        EXPECT_EQ(list.shown, c.sent.back()) << c.steps;
    }
}

TEST(UnitChecksumTest, AddsLittleEndianWordsAndALastShortGroup) {
    const std::pair<std::vector<std::uint8_t>, std::uint32_t> cases[] = {
        {{}, 0},
        {{0x01}, 0x01},
        {{0x01, 0x02}, 0x0201},
        {{0x01, 0x02, 0x03}, 0x030201},
        {{0x01, 0x02, 0x03, 0x04}, 0x04030201},
        {{0x01, 0x02, 0x03, 0x04, 0x05}, 0x04030206},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 0x00000000},
    };
    for (const auto& [unit, sum] : cases) {
        EXPECT_EQ(UnitChecksum(unit), sum) << unit.size() << " bytes";
    }
}

}  // namespace
}  // namespace tapfix::session
