#include "sim/link_schedule.hpp"

#include <algorithm>

namespace tapfix::sim {

std::chrono::nanoseconds LinkModel::WireTime(std::size_t bytes) const {
    if (bytesPerSecond <= 0) {
        return std::chrono::nanoseconds{0};
    }
    return std::chrono::nanoseconds(static_cast<std::chrono::nanoseconds::rep>(
        static_cast<double>(bytes) * 1e9 / bytesPerSecond));
}

LinkSchedule::TimePoint LinkSchedule::Carry(std::size_t count, TimePoint start) {
    const auto wire = model_.WireTime(count);
    needed_ += wire;
    carried_ += count;
    free_ = start + wire;
    return *free_;
}

LinkSchedule::TimePoint LinkSchedule::FromHost(std::size_t count, TimePoint now, bool backToBack) {
    const TimePoint start = free_ && (backToBack || *free_ > now) ? *free_ : now;
    return Carry(count, start);
}

LinkSchedule::TimePoint LinkSchedule::ToHost(std::size_t count, TimePoint readyAt,
                                             TimePoint waitedSince) {
    const TimePoint busyUntil = free_ ? std::max(*free_, waitedSince) : waitedSince;
    needed_ += std::max(readyAt - busyUntil, TimePoint::duration{0});
    return Carry(count, std::max(busyUntil, readyAt));
}

}  // namespace tapfix::sim
