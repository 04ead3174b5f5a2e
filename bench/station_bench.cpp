// Four routers updated together by the station's workers, one per slot of one download
// service, beside one router updated alone: same link model, same waits. The goal: the four
// take at most 1.3 times the one, and each ends with the package's images and its own data.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <thread>

#include "bench_setup.hpp"
#include "nv/nv_preservation.hpp"
#include "session_harness.hpp"
#include "table_reporter.hpp"

namespace tapfix::bench {
namespace {

using Seconds = std::chrono::duration<double>;

constexpr int kRouters = 4;
constexpr double kGoalFactor = 1.3;

std::string SecondsText(Seconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", time.count());
    return text;
}

// What an update must leave as it found it: the NV items the package lists and the Wi-Fi
// settings (a download erases the items it does not list).
struct KeptData {
    std::map<std::uint16_t, sim::NvValue> nv;
    sim::WifiSettings wifi;
    bool operator==(const KeptData&) const = default;
};

KeptData KeptOf(const sim::DeviceState& state, const config::DownloadServiceConfig& config) {
    KeptData kept{{}, state.wifi};
    for (const auto* list : {&config.rfNv, &config.commonNv, &config.lockNv}) {
        for (const std::int32_t item : *list) {
            const auto found = state.nv.find(static_cast<std::uint16_t>(item));
            if (found != state.nv.end()) {
                kept.nv.insert(*found);
            }
        }
    }
    return kept;
}

// Updates the routers at once, one worker each, as the station does; true when all succeeded.
bool UpdateTogether(session::CDownloadService& service,
                    std::vector<session::PortContext> contexts) {
    std::vector<int> results(contexts.size(), -1);
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < contexts.size(); ++i) {
        workers.emplace_back([&, i] {
            std::string version;
            service.ReportDeviceVersion(contexts[i].slot, contexts[i].portNumber, version);
            results[i] = service.Download(contexts[i]);
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    return std::all_of(results.begin(), results.end(), [](int result) { return result == 0; });
}

void BM_FourRoutersBesideOne(benchmark::State& state) {
    nv::CNvPreservation steps;
    SessionHarness::Options options = SessionHarness::WholeUpdate(steps);
    options.routers = kRouters;
    SessionHarness harness(options);
    session::CDownloadService& service = harness.Service();
    if (!harness.Failure().empty()) {
        state.SkipWithError(harness.Failure().c_str());
        return;
    }
    std::vector<KeptData> before;
    for (int i = 0; i < kRouters; ++i) {
        before.push_back(KeptOf(harness.Router(i).Snapshot(), service.Config()));
    }
    const auto alone = std::chrono::steady_clock::now();
    if (!UpdateTogether(service, {harness.Context(0)})) {
        state.SkipWithError(("the single update failed: " + harness.Steps().LastLine()).c_str());
        return;
    }
    const Seconds one = std::chrono::steady_clock::now() - alone;
    std::vector<session::PortContext> contexts;
    for (int i = 0; i < kRouters; ++i) {
        contexts.push_back(harness.Context(i));
    }
    Seconds four{0};
    for (auto _ : state) {
        const auto together = std::chrono::steady_clock::now();
        if (!UpdateTogether(service, contexts)) {
            state.SkipWithError(("an update failed: " + harness.Steps().LastLine()).c_str());
            return;
        }
        four = std::chrono::steady_clock::now() - together;
    }
    bool sameAsAlone = true;
    for (int i = 0; i < kRouters; ++i) {
        const sim::DeviceState after = harness.Router(i).Snapshot();
        sameAsAlone = sameAsAlone &&
                      KeptOf(after, service.Config()) == before[static_cast<std::size_t>(i)] &&
                      after.flash == harness.Router(0).Snapshot().flash;
    }
    state.counters[goal::kAtMostMs] = kGoalFactor * one.count() * 1e3;
    state.SetLabel(
        "four routers updated together on slots 0 to 3 of one download service "
        "(reference firmware, small sizes, link 0.5 ms + 30 MB/s)");
    SetDetailRows({
        {"one router alone", SecondsText(one)},
        {"four routers together", SecondsText(four)},
        {"four together / one alone", std::to_string(four / one).substr(0, 4) + " (goal ≤ 1.3)"},
        {"every router: the package's images, its own listed NV items and Wi-Fi settings",
         sameAsAlone ? "yes" : "no"},
    });
}
BENCHMARK(BM_FourRoutersBesideOne)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace tapfix::bench
