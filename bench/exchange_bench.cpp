// One DIAG exchange as users wait for it: an NV item read against the simulated router.
#include <benchmark/benchmark.h>

#include "device/nv_efs.hpp"
#include "router_harness.hpp"
#include "table_reporter.hpp"

namespace tapfix::bench {
namespace {

void ReadNvItems(benchmark::State& state, const sim::LinkModel& link) {
    RouterHarness harness(sim::DeviceMode::Normal, link);
    if (!harness.Failure().empty()) {
        state.SkipWithError(harness.Failure().c_str());
        return;
    }
    device::NvItemData data{};
    std::uint16_t status = 0;
    for (auto _ : state) {
        if (!device::ReadNvItem(harness.Host(), device::kImeiItem, data, status)) {
            state.SkipWithError(harness.Host().LastError().c_str());
            return;
        }
    }
}

void BM_NvReadWithoutLinkDelay(benchmark::State& state) {
    ReadNvItems(state, {});
    state.SetLabel("NV item read (ReadNvItem), no link delay");
}
BENCHMARK(BM_NvReadWithoutLinkDelay)->Apply(MedianOfThree);

void BM_NvReadOverUsbLink(benchmark::State& state) {
    ReadNvItems(state, UsbLink());
    state.SetLabel("one DIAG exchange (NV item read), link 0.5 ms + 30 MB/s");
    state.counters[goal::kAtMostMs] = 1.5;
}
BENCHMARK(BM_NvReadOverUsbLink)->Apply(MedianOfThree);

}  // namespace
}  // namespace tapfix::bench
