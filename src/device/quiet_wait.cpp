#include "device/quiet_wait.hpp"

namespace tapfix::device {
namespace {

using namespace std::chrono_literals;

constexpr auto kPollPause = 10ms;

}  // namespace

QuietWait::QuietWait(platform::Clock& clock, platform::Milliseconds quiet,
                     platform::Milliseconds maximum)
    : clock_(clock),
      quiet_(platform::ScaledTimeout(quiet)),
      end_(clock.Now() + platform::ScaledTimeout(maximum)),
      lastProgress_(clock.Now()) {}

bool QuietWait::Waiting() const {
    const platform::TimePoint now = clock_.Now();
    return now < end_ && now - lastProgress_ < quiet_;
}

void QuietWait::Progress() {
    lastProgress_ = clock_.Now();
}

void QuietWait::Pause() {
    clock_.Sleep(platform::ScaledInterval(kPollPause));
}

}  // namespace tapfix::device
