#pragma once

#include <chrono>

#include "platform/clock.hpp"

namespace tapfix::device {

// A wait for a device that works at its own pace. It ends once the device has shown no sign of
// progress for the quiet period, or at the maximum, whichever comes first: a router erasing a
// large partition slowly is given its time, a silent one is not waited for long, and one that
// keeps talking without getting anywhere is still stopped. Both bounds are time-outs, scaled by
// TAPFIX_TIME_SCALE.
class QuietWait {
  public:
    QuietWait(platform::Clock& clock, platform::Milliseconds quiet, platform::Milliseconds maximum);

    // True while neither bound has passed.
    bool Waiting() const;
    // The device made progress: the quiet period begins again.
    void Progress();
    // The pause between two looks at the port.
    void Pause();

  private:
    platform::Clock& clock_;
    platform::Milliseconds quiet_;
    platform::TimePoint end_;
    platform::TimePoint lastProgress_;
};

// The programmer's waits for its ready answers and its address acknowledgements: ten seconds
// of silence end them, two minutes in all. A NAND erase runs at about 2 ms per 128 KiB block,
// so even a whole partition of the package goes well inside the quiet period.
inline constexpr platform::Milliseconds kProgrammerQuiet{10000};
inline constexpr platform::Milliseconds kProgrammerPatience{120000};

}  // namespace tapfix::device
