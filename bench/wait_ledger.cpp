#include "wait_ledger.hpp"

#include <algorithm>
#include <numeric>

namespace tapfix::bench {
namespace {

using namespace std::chrono_literals;

constexpr auto kShortestNamedWait = 100ms;

}  // namespace

platform::Milliseconds WaitLedger::StepWaits::Total() const {
    return std::accumulate(taken.begin(), taken.end(), platform::Milliseconds{0},
                           [](platform::Milliseconds sum, const auto& wait) {
                               return sum + wait.first * wait.second;
                           });
}

std::string WaitLedger::StepWaits::Text() const {
    if (taken.empty()) {
        return "none";
    }
    std::string text;
    // The longest first.
    for (auto wait = taken.rbegin(); wait != taken.rend(); ++wait) {
        if (!text.empty()) {
            text += " + ";
        }
        if (wait->second > 1) {
            text += std::to_string(wait->second) + " × ";
        }
        text += std::to_string(wait->first.count()) + " ms";
    }
    return text;
}

platform::TimePoint WaitLedger::Now() const {
    return inner_.Now();
}

void WaitLedger::Sleep(platform::Milliseconds duration) {
    if (duration < platform::ScaledWait(kShortestNamedWait)) {
        ++polls_.taken[duration];
    } else {
        const std::string step =
            steps_ != nullptr ? steps_->Step() : std::string(StepNotifier::kFirstStep);
        auto found = std::find_if(named_.begin(), named_.end(),
                                  [&](const StepWaits& waits) { return waits.step == step; });
        if (found == named_.end()) {
            found = named_.insert(named_.end(), StepWaits{step, {}});
        }
        ++found->taken[duration];
    }
    inner_.Sleep(duration);
}

platform::Milliseconds WaitLedger::NamedTotal() const {
    return std::accumulate(
        named_.begin(), named_.end(), platform::Milliseconds{0},
        [](platform::Milliseconds sum, const StepWaits& waits) { return sum + waits.Total(); });
}

}  // namespace tapfix::bench
