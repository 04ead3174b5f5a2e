#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "session_harness.hpp"

namespace tapfix::bench {

// The session's clock in a benchmark: real time, and a record of every wait the session took,
// under the step it was in. Waits shorter than a tenth of a second (before scaling) are the
// polls of a wait for an answer, counted apart: no step names them.
class WaitLedger : public platform::Clock {
  public:
    // Time and the waits themselves come from `inner`.
    explicit WaitLedger(platform::Clock& inner = platform::SystemClock()) : inner_(inner) {}

    struct StepWaits {
        std::string step;
        // Wait length -> how many times it was taken.
        std::map<platform::Milliseconds, int> taken;
        platform::Milliseconds Total() const;
        // "20000 ms", "2 × 1000 ms + 500 ms" or "none".
        std::string Text() const;
    };

    // The steps are read from here; until then waits go under StepNotifier::kFirstStep.
    void Follow(const StepNotifier& steps) { steps_ = &steps; }

    platform::TimePoint Now() const override;
    void Sleep(platform::Milliseconds duration) override;

    // The named waits by step, in the order the steps first waited.
    const std::vector<StepWaits>& Named() const { return named_; }
    platform::Milliseconds NamedTotal() const;
    const StepWaits& Polls() const { return polls_; }

  private:
    platform::Clock& inner_;
    const StepNotifier* steps_ = nullptr;
    std::vector<StepWaits> named_;
    StepWaits polls_{"polls", {}};
};

}  // namespace tapfix::bench
