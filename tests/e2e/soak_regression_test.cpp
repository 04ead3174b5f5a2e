// Plans of the fault campaign that once broke a promise to users, replayed whole: the routers,
// their faults and the user's retries, judged by the campaign's own checks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e_driver.hpp"
#include "soak_case.hpp"

namespace tapfix::test::e2e {
namespace {

struct Regression {
    std::uint64_t seed;
    const char* found;
};

void PrintTo(const Regression& regression, std::ostream* out) {
    *out << "seed " << regression.seed;
}

// clang-format off
const Regression kRegressions[] = {
    {104, "no port after the reset: the new firmware runs without its IMEI and was refused "
          "(result 2) with its complete copy waiting"},
    {116, "the same after a kill, with a second router's copy in the work folder"},
    {118, "a checksum failing twice ends the download; the replugged router runs without its "
          "IMEI and was refused (result 2)"},
    {141, "a checksum failing twice leaves the programmer in the middle of a transfer; the "
          "next runs took the silent router for one whose version does not match (result 1)"},
    {89, "a resume that failed leaves firmware without NV items; the router is asked about "
         "on the user's last try, and its copy goes back once the user names it"},
    {474, "two routers failed at one socket: the second, running firmware without its IMEI, "
          "was given the first one's data because the first one's restore was cut short"},
};
// clang-format on

class SoakRegression : public ::testing::TestWithParam<Regression> {};

TEST_P(SoakRegression, EveryRouterEndsWithItsOwnData) {
    const soak::CasePlan plan = soak::DrawPlan(GetParam().seed);
    // Timings are the campaign's to judge; here a run only has to end.
    const soak::CaseOutcome outcome = soak::RunCase(plan, {std::string(kDefaultTimeScale), false});
    EXPECT_THAT(outcome.violations, ::testing::IsEmpty())
        << soak::Describe(plan) << "\nonce found: " << GetParam().found;
}

INSTANTIATE_TEST_SUITE_P(Campaign, SoakRegression, ::testing::ValuesIn(kRegressions));

}  // namespace
}  // namespace tapfix::test::e2e
