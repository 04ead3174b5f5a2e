#include "platform/clock.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

namespace tapfix::platform {
namespace {

class SteadyClock final : public Clock {
  public:
    TimePoint Now() const override { return std::chrono::steady_clock::now(); }
    void Sleep(Milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

constexpr double kMinScale = 0.001;
constexpr double kMaxScale = 1.0;

double ScaleFromEnvironment() {
    const char* text = std::getenv("TAPFIX_TIME_SCALE");
    if (text == nullptr || *text == '\0') {
        return kMaxScale;
    }
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || !(value > 0.0)) {
        return kMaxScale;
    }
    return std::clamp(value, kMinScale, kMaxScale);
}

std::atomic<double>& ScaleSetting() {
    static std::atomic<double> scale{ScaleFromEnvironment()};
    return scale;
}

Milliseconds Scale(Milliseconds duration, Milliseconds floor) {
    const auto scaled =
        static_cast<Milliseconds::rep>(static_cast<double>(duration.count()) * TimeScale());
    return std::max(Milliseconds{scaled}, std::min(floor, duration));
}

}  // namespace

Clock& SystemClock() {
    static SteadyClock clock;
    return clock;
}

double TimeScale() {
    return ScaleSetting().load();
}

void SetTimeScale(double scale) {
    ScaleSetting().store(std::clamp(scale, kMinScale, kMaxScale));
}

Milliseconds ScaledWait(Milliseconds duration) {
    return Scale(duration, Milliseconds{0});
}

Milliseconds ScaledTimeout(Milliseconds duration) {
    return Scale(duration, Milliseconds{200});
}

Milliseconds ScaledInterval(Milliseconds duration) {
    return Scale(duration, Milliseconds{1});
}

}  // namespace tapfix::platform
