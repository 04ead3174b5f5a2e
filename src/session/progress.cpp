#include "session/progress.hpp"

#include <algorithm>

#include "session/download_service.hpp"

namespace tapfix::session {

ProgressRange NextProgressRange(ProgressState& state, std::uint64_t size, int points) {
    // A total below the point count would make the step 0; one byte per point keeps the
    // arithmetic and the caps below keep the bar in its share.
    const std::uint64_t step =
        std::max<std::uint64_t>(1, state.totalBytes / static_cast<std::uint64_t>(points));
    const std::uint64_t cap = static_cast<std::uint64_t>(std::min(100, state.base + points));
    const auto capped = [cap](std::uint64_t value) {
        return static_cast<int>(std::min(value, cap));
    };
    const std::uint64_t start = state.running / step + static_cast<std::uint64_t>(state.base);
    state.running += size;
    return {capped(start), capped(start + size / step)};
}

std::uint64_t UnitsPerPoint(std::uint64_t units, const ProgressRange& range) {
    const int points = range.end - range.start;
    return points <= 0 ? std::max<std::uint64_t>(1, units)
                       : std::max<std::uint64_t>(1, units / static_cast<std::uint64_t>(points));
}

ProgressMeter::ProgressMeter(CDownloadService& service, int slot, ProgressState& list,
                             ProgressRange range)
    : service_(service), slot_(slot), list_(list), range_(range), current_(range.start) {}

void ProgressMeter::Advance() {
    current_ = std::min(current_ + 1, range_.end);
    Send();
}

void ProgressMeter::ShowAtLeast(int percent) {
    current_ = std::clamp(percent, current_, range_.end);
    Send();
}

void ProgressMeter::Send() {
    if (current_ > list_.shown) {
        list_.shown = current_;
        service_.NotifyProgress(slot_, current_);
    }
}

}  // namespace tapfix::session
