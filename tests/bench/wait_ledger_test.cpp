// The waits a session took, by the step that took them, apart from the polls for answers.
#include "wait_ledger.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace tapfix::bench {
namespace {

using namespace std::chrono_literals;
using platform::Milliseconds;

class FakeClock : public platform::Clock {
  public:
    platform::TimePoint Now() const override { return {}; }
    void Sleep(Milliseconds duration) override { slept.push_back(duration); }
    std::vector<Milliseconds> slept;
};

class WaitLedgerTest : public ::testing::Test {
  protected:
    // The waits as the session names them, unscaled.
    WaitLedgerTest() { platform::SetTimeScale(1.0); }
    ~WaitLedgerTest() override { platform::SetTimeScale(0.01); }

    void Step(std::string text) {
        steps.Notify(session::TextNotification(session::kNotifyHint, 0, std::move(text), true));
    }

    FakeClock inner;
    StepNotifier steps;
    WaitLedger ledger{inner};
};

TEST_F(WaitLedgerTest, CountsEveryWaitUnderTheStepThatTookIt) {
    ledger.Follow(steps);
    ledger.Sleep(500ms);
    Step("Switching");
    ledger.Sleep(20000ms);
    ledger.Sleep(10ms);
    ledger.Sleep(200ms);
    steps.Notify(session::TextNotification(session::kNotifyLog, 0, "a log line is no step"));
    ledger.Sleep(200ms);
    Step("Restarting");
    ledger.Sleep(25000ms);
    ledger.Sleep(1000ms);
    ledger.Sleep(10ms);
    Step("Switching");
    ledger.Sleep(200ms);

    const auto& named = ledger.Named();
    ASSERT_EQ(named.size(), 3U);
    EXPECT_EQ(named[0].step, StepNotifier::kFirstStep);
    EXPECT_EQ(named[0].Text(), "500 ms");
    EXPECT_EQ(named[1].step, "Switching");
    EXPECT_EQ(named[1].Text(), "20000 ms + 3 × 200 ms");
    EXPECT_EQ(named[1].Total(), 20600ms);
    EXPECT_EQ(named[2].Text(), "25000 ms + 1000 ms");
    EXPECT_EQ(ledger.NamedTotal(), 47100ms);
    EXPECT_EQ(ledger.Polls().Text(), "2 × 10 ms");
    EXPECT_EQ(ledger.Polls().Total(), 20ms);
    EXPECT_EQ(inner.slept.size(), 9U) << "every wait is still taken";
}

TEST_F(WaitLedgerTest, NoWaitsReadAsNone) {
    EXPECT_EQ(ledger.Polls().Text(), "none");
    EXPECT_EQ(ledger.NamedTotal(), 0ms);
    EXPECT_TRUE(ledger.Named().empty());
}

}  // namespace
}  // namespace tapfix::bench
