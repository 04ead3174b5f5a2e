#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace tapfix::sim {

// Faults on demand, deterministic: counted over the answers the device sends (1 = first).
// Text form, comma-separated:
//   silent:N            the Nth answer is not sent
//   badcrc:N            the Nth answer carries a wrong FCS
//   split[:MS]          every answer goes out as two writes MS ms apart (default 1 ms, unscaled)
//   diagerror:CMD[:ERR] requests with DIAG command CMD get the error byte ERR (default 0x13)
//   noport-after-reset  after a reset the port does not come back
struct FaultPlan {
    std::set<unsigned> silentAnswers;
    std::set<unsigned> badCrcAnswers;
    bool split = false;
    std::chrono::milliseconds splitGap{1};
    std::map<std::uint8_t, std::uint8_t> diagErrors;
    bool noPortAfterReset = false;

    // False with a reason for a malformed list; the plan is then unchanged.
    bool Parse(std::string_view text, std::string* error);
};

// What happens to one answer.
struct AnswerFate {
    bool silent = false;
    bool badCrc = false;
};

class FaultCounter {
  public:
    explicit FaultCounter(const FaultPlan& plan) : plan_(plan) {}
    // Counts one more answer and tells its fate.
    AnswerFate NextAnswer();
    unsigned AnswersCounted() const { return count_; }

  private:
    const FaultPlan& plan_;
    unsigned count_ = 0;
};

}  // namespace tapfix::sim
