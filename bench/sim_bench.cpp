// A checksummed transfer of a few MiB through the simulated router, as the host sends it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <random>

#include "device/stream_commands.hpp"
#include "host_script.hpp"
#include "sim/router.hpp"

namespace {

using tapfix::sim::DeviceMode;
using tapfix::sim::host::Bytes;

constexpr std::size_t kImageSize = 4 * 1024 * 1024;

Bytes RandomImage() {
    std::mt19937 random(7);
    Bytes image(kImageSize);
    for (auto& byte : image) {
        byte = static_cast<std::uint8_t>(random());
    }
    return image;
}

// A router with its programmer running, in a private port registry, and the host's link.
class Bench {
  public:
    explicit Bench(const tapfix::sim::LinkModel& link) {
        char pattern[] = "/tmp/tapfix-bench-XXXXXX";
        folder_ = ::mkdtemp(pattern);
        ::setenv("TAPFIX_PORTS_DIR", (folder_ / "ports").c_str(), 1);
        tapfix::sim::RouterOptions options;
        options.registry = folder_ / "ports";
        options.initialMode = DeviceMode::Programmer;
        options.profile.link = link;
        router_ = std::make_unique<tapfix::sim::SimulatedRouter>(std::move(options));
        std::string error;
        ready_ = router_->Start(&error) && host_.OpenPort(router_->CurrentPort()->number) &&
                 tapfix::sim::host::BeginStreaming(host_, router_->Snapshot().partitionTable, 0);
    }
    ~Bench() {
        host_.ClosePort();
        router_->Stop();
        std::filesystem::remove_all(folder_);
    }

    bool Ready() const { return ready_; }
    bool Transfer(const Bytes& image) {
        const Bytes name{'0', ':', 'A', 'P', 'P', 'S', 0};
        return tapfix::device::StreamOpenMultiImage(host_, 0x0E, name) &&
               tapfix::sim::host::RawTransfer(host_, 0x28, image) &&
               tapfix::device::StreamClose(host_);
    }
    std::string LastError() const { return host_.LastError(); }

  private:
    std::filesystem::path folder_;
    std::unique_ptr<tapfix::sim::SimulatedRouter> router_;
    tapfix::sim::host::HostLink host_;
    bool ready_ = false;
};

void RunTransfers(benchmark::State& state, const tapfix::sim::LinkModel& link) {
    const Bytes image = RandomImage();
    Bench bench(link);
    if (!bench.Ready()) {
        state.SkipWithError(("no programmer to talk to: " + bench.LastError()).c_str());
        return;
    }
    for (auto _ : state) {
        if (!bench.Transfer(image)) {
            state.SkipWithError(bench.LastError().c_str());
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.size()));
}

void BM_ChecksummedTransfer(benchmark::State& state) {
    RunTransfers(state, {});
}
BENCHMARK(BM_ChecksummedTransfer)->Unit(benchmark::kMillisecond)->UseRealTime();

// A high-speed USB link: 30 MB/s, 125 µs per answer, 512-byte packets.
void BM_ChecksummedTransferModelledLink(benchmark::State& state) {
    tapfix::sim::LinkModel link;
    link.latency = std::chrono::microseconds(125);
    link.bytesPerSecond = 30e6;
    link.packetSize = 512;
    link.packetGap = std::chrono::microseconds(5);
    RunTransfers(state, link);
}
BENCHMARK(BM_ChecksummedTransferModelledLink)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
