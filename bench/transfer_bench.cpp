// Every image transfer variant over 16 MiB through the simulated router and the modelled link.
#include <benchmark/benchmark.h>

#include <random>

#include "router_harness.hpp"
#include "table_reporter.hpp"
#include "transfer_driver.hpp"

namespace tapfix::bench {
namespace {

using sim::host::Transfer;

constexpr std::size_t kImageSize = 16 * 1024 * 1024;

const sim::host::Bytes& Image() {
    static const sim::host::Bytes image = [] {
        std::mt19937 random(7);
        sim::host::Bytes bytes(kImageSize);
        for (auto& byte : bytes) {
            byte = static_cast<std::uint8_t>(random());
        }
        return bytes;
    }();
    return image;
}

void Transfers(benchmark::State& state, Transfer variant) {
    const sim::LinkModel link = UsbLink();
    RouterHarness harness(sim::DeviceMode::Programmer, link);
    if (!harness.Failure().empty() || !PrepareProgrammer(harness.Host())) {
        state.SkipWithError(
            ("no programmer: " + harness.Failure() + harness.Host().LastError()).c_str());
        return;
    }
    std::chrono::nanoseconds needed{0};
    for (auto _ : state) {
        const auto before = harness.Router().LinkTimeNeeded();
        if (!TransferImage(harness.Host(), variant, Image())) {
            state.SkipWithError(harness.Host().LastError().c_str());
            return;
        }
        needed += harness.Router().LinkTimeNeeded() - before;
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageSize);
    state.counters[goal::kModelSeconds] =
        std::chrono::duration<double>(needed).count() / iterations;
    state.counters[goal::kLinkRate] = link.bytesPerSecond;
}

void BM_NormalTransfer(benchmark::State& state) {
    Transfers(state, Transfer::Normal);
    state.SetLabel("16 MiB in 0x07 blocks (normal)");
}
BENCHMARK(BM_NormalTransfer)->Apply(MedianOfThree)->Iterations(1);

void BM_PipelinedTransfer(benchmark::State& state) {
    Transfers(state, Transfer::Pipelined);
    state.SetLabel("16 MiB in pipelined 0x07 blocks");
}
BENCHMARK(BM_PipelinedTransfer)->Apply(MedianOfThree)->Iterations(1);

void BM_ChecksummedTransfer(benchmark::State& state) {
    Transfers(state, Transfer::Checksummed);
    state.SetLabel("16 MiB checksummed (0x28)");
    state.counters[goal::kModelShare] = 0.9;
}
BENCHMARK(BM_ChecksummedTransfer)->Apply(MedianOfThree)->Iterations(2);

void BM_HighSpeedTransfer(benchmark::State& state) {
    Transfers(state, Transfer::HighSpeed);
    state.SetLabel("16 MiB high-speed (0x1D)");
    state.counters[goal::kModelShare] = 0.9;
}
BENCHMARK(BM_HighSpeedTransfer)->Apply(MedianOfThree)->Iterations(2);

}  // namespace
}  // namespace tapfix::bench
