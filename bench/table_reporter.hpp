#pragma once

#include <benchmark/benchmark.h>

#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace tapfix::bench {

// Counters through which a benchmark states how it is judged; the table reads them.
namespace goal {
// The figure is the time per iteration; the bound is the most it may take, in milliseconds.
inline constexpr const char* kAtMostMs = "goal_at_most_ms";
// The figure is a transfer rate; the bound is the least share of the link model's own time
// for the same traffic (0.9: the transfer takes at most 1/0.9 of what the link alone needs).
inline constexpr const char* kModelShare = "goal_model_share";
// What the link model alone needs per iteration, in seconds, and its raw rate in bytes per
// second; both are shown beside a transfer rate.
inline constexpr const char* kModelSeconds = "model_seconds";
inline constexpr const char* kLinkRate = "link_rate";
}  // namespace goal

// Lines that explain the row of the benchmark now running (its parts, how its bound was
// reached), shown below that row as what was measured and its figure. Set while the benchmark
// runs; the last run's lines stand.
void SetDetailRows(std::vector<std::pair<std::string, std::string>> rows);

// How the benchmarks of waits run: real time in milliseconds, three repetitions, shown by their
// median (->Apply(MedianOfThree)).
inline void MedianOfThree(benchmark::internal::Benchmark* family) {
    family->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)->ReportAggregatesOnly();
}

// The console report goes where the console reporter is pointed (the programs point it at
// standard error); every benchmark also becomes one markdown row on standard output:
// what was measured, the figure, its bound and whether the bound was met.
class TableReporter : public benchmark::ConsoleReporter {
  public:
    // The table goes to `table`.
    explicit TableReporter(bool withHeader, std::ostream& table = std::cout);
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

    static std::string Header();

  private:
    bool withHeader_;
    std::ostream& table_;
    std::vector<std::string> rows_;
};

}  // namespace tapfix::bench
