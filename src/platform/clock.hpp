#pragma once

#include <chrono>

namespace tapfix::platform {

using Milliseconds = std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

// Named waits of the device procedures go through a Clock so tests can drive them.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual TimePoint Now() const = 0;
    virtual void Sleep(Milliseconds duration) = 0;
};

// The monotonic process clock.
Clock& SystemClock();

// Multiplier for every named wait and time-out: TAPFIX_TIME_SCALE (0.001..1, default 1).
double TimeScale();
// Overrides the environment for the rest of the process (tests, the simulator demo).
void SetTimeScale(double scale);

// A wait that a procedure names (pauses between retries, settle times).
Milliseconds ScaledWait(Milliseconds duration);
// A time-out; never below 200 ms so a loaded machine does not turn a slow answer into a failure.
Milliseconds ScaledTimeout(Milliseconds duration);
// A sampling interval of the link; never below 1 ms.
Milliseconds ScaledInterval(Milliseconds duration);

}  // namespace tapfix::platform
