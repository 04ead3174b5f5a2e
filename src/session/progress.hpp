#pragma once

#include <cstdint>

namespace tapfix::session {

class CDownloadService;

// The progress bar's share of one file list: the images move it from `base` over a fixed
// number of points in proportion to their sizes, counted against the configuration's
// totalBytes (both lists).
struct ProgressState {
    std::uint64_t totalBytes = 0;
    std::uint64_t running = 0;
    int base = 0;
    // The last value sent for the list: an image's start often equals its predecessor's end.
    int shown = -1;
};

// The percentages one image moves the bar through.
struct ProgressRange {
    int start = 0;
    int end = 0;
};

// Claims the range of the next image of `size` bytes out of `points` points (70, or 80 for
// pipelined writes) and counts its bytes as sent. A total smaller than `points` gives every
// byte a point; no value passes base + points or 100.
ProgressRange NextProgressRange(ProgressState& state, std::uint64_t size, int points);

// Units of work per percentage point when `units` spread over the range; at least 1.
std::uint64_t UnitsPerPoint(std::uint64_t units, const ProgressRange& range);

// Sends an image's progress: only values inside its range, each at most once in the list,
// never backwards.
class ProgressMeter {
  public:
    ProgressMeter(CDownloadService& service, int slot, ProgressState& list, ProgressRange range);

    const ProgressRange& Range() const { return range_; }
    // One point further (not past the end).
    void Advance();
    // At least `percent` (not past the end).
    void ShowAtLeast(int percent);
    // The end of the range.
    void Finish() { ShowAtLeast(range_.end); }

  private:
    void Send();

    CDownloadService& service_;
    int slot_;
    ProgressState& list_;
    ProgressRange range_;
    int current_;
};

}  // namespace tapfix::session
