// Every image transfer variant over 16 MiB through the session's own transfer code, the
// simulated router and the modelled link.
#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <vector>

#include "bench_setup.hpp"
#include "table_reporter.hpp"
#include "transfer_driver.hpp"

namespace tapfix::bench {
namespace {

constexpr std::size_t kImageSize = 16 * 1024 * 1024;

bool WriteImage(const std::filesystem::path& file) {
    std::mt19937 random(7);
    std::vector<char> bytes(kImageSize);
    for (auto& byte : bytes) {
        byte = static_cast<char>(random());
    }
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void Transfers(benchmark::State& state, Transfer variant) {
    SessionHarness::Options options;
    options.mode = sim::DeviceMode::Programmer;
    options.link = UsbLink();
    SessionHarness harness(options);
    std::string failure;
    const auto image = harness.WorkFolder() / "image16.bin";
    if (!PrepareProgrammer(harness, failure)) {
        state.SkipWithError(("no programmer: " + failure).c_str());
        return;
    }
    if (!WriteImage(image)) {
        state.SkipWithError("cannot write the image file");
        return;
    }
    std::chrono::nanoseconds needed{0};
    for (auto _ : state) {
        const auto before = harness.Router().LinkTimeNeeded();
        if (!TransferImage(harness, variant, image, failure)) {
            state.SkipWithError(failure.c_str());
            return;
        }
        needed += harness.Router().LinkTimeNeeded() - before;
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageSize);
    state.counters[goal::kModelSeconds] =
        std::chrono::duration<double>(needed).count() / iterations;
    state.counters[goal::kLinkRate] = options.link.bytesPerSecond;
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
