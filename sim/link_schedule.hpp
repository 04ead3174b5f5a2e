#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/mode_handler.hpp"

namespace tapfix::sim {

// The modelled USB link as a running schedule: one wire for both directions, every byte due at
// its time from the rate, every answer after the latency. A late wake-up of the device thread
// costs nothing as long as the host keeps the wire busy, because the next bytes are due from the
// schedule and not from the moment the thread woke. Times come from the caller; the schedule
// never waits itself.
class LinkSchedule {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit LinkSchedule(const LinkModel& model) : model_(model) {}

    // Bytes from the host, taken off the port at `now`. `backToBack`: they were already waiting
    // when the wire last came free, so they follow the bytes before them without a gap.
    // Returns when the last of them has arrived.
    TimePoint FromHost(std::size_t count, TimePoint now, bool backToBack);

    // A piece of an answer, ready to leave at `readyAt` (after the latency, or after the gap
    // behind the piece before it). `waitedSince` is when the host's wait for it began (the
    // request's arrival, or the end of the piece before); the wire's idle time from then counts
    // as the link's own. Returns when the piece has arrived at the host.
    TimePoint ToHost(std::size_t count, TimePoint readyAt, TimePoint waitedSince);

    // What the link alone needed so far: the wire time of every byte and the latency and gaps
    // that no traffic hid. A host without overhead of its own would take just this long.
    std::chrono::nanoseconds Needed() const { return needed_; }
    // The bytes carried so far, both directions.
    std::uint64_t Carried() const { return carried_; }

  private:
    TimePoint Carry(std::size_t count, TimePoint start);

    LinkModel model_;
    std::optional<TimePoint> free_;
    std::chrono::nanoseconds needed_{0};
    std::uint64_t carried_ = 0;
};

}  // namespace tapfix::sim
