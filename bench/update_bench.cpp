// A whole update of the reference firmware at its real sizes through CDownloadService::Download
// with the real NV steps, over the modelled link: its time beside the link's lower bound for
// the traffic and beside the waits the session is bound to take.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <numeric>

#include "bench_setup.hpp"
#include "nv/nv_preservation.hpp"
#include "session_harness.hpp"
#include "table_reporter.hpp"
#include "wait_ledger.hpp"

namespace tapfix::bench {
namespace {

using Seconds = std::chrono::duration<double>;

// The bound leaves the link this much room above its own time.
constexpr double kLinkShare = 1.2;

std::string Text(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Megabytes(std::uint64_t bytes) {
    return Text("%.1f MB", static_cast<double>(bytes) / 1e6);
}

std::string SecondsText(Seconds time) {
    return Text("%.2f s", time.count());
}

std::uint64_t ImageBytes(const config::DownloadServiceConfig& config) {
    return std::accumulate(
        config.files.begin(), config.files.end(), std::uint64_t{0},
        [](std::uint64_t sum, const config::DownloadFile& entry) { return sum + entry.size; });
}

// The simulator's own reboot and re-enumeration delays: the device's time, scaled like the
// waits, and spent while the session waits.
std::string DeviceDelays() {
    const sim::DeviceProfile device;
    const double scale = platform::TimeScale();
    const auto seconds = [&](std::chrono::milliseconds delay) {
        return Text("%.1f s", std::chrono::duration<double>(delay).count() * scale);
    };
    return "the port leaves " + seconds(device.leaveAfterAnswer) + " to " +
           seconds(device.leaveAtLatest) + " after its last answer; the boot stage's port comes " +
           seconds(device.downloaderTime) + " later, the new firmware's " +
           seconds(device.rebootTime) + " after the reset";
}

struct Traffic {
    Seconds linkTime;
    std::uint64_t bytes;
};

void Explain(const WaitLedger& ledger, const Traffic& traffic, Seconds bound, Seconds taken) {
    std::vector<std::pair<std::string, std::string>> rows;
    const Seconds wire = UsbLink().WireTime(static_cast<std::size_t>(traffic.bytes));
    rows.emplace_back("link's lower bound: " + Megabytes(traffic.bytes) + " carried (" +
                          SecondsText(wire) +
                          " at 30 MB/s) and 0.5 ms before every answer the traffic did not hide",
                      SecondsText(traffic.linkTime));
    for (const WaitLedger::StepWaits& waits : ledger.Named()) {
        rows.emplace_back("mandated waits: " + waits.step,
                          SecondsText(waits.Total()) + " (" + waits.Text() + ")");
    }
    rows.emplace_back(
        "mandated waits in all, at TAPFIX_TIME_SCALE=" + Text("%g", platform::TimeScale()),
        SecondsText(ledger.NamedTotal()));
    rows.emplace_back(
        "bound: the mandated waits + " + Text("%.1f", kLinkShare) + " × the link's lower bound",
        SecondsText(bound));
    rows.emplace_back("polls while waiting for answers (the host's own, not mandated)",
                      SecondsText(ledger.Polls().Total()) + " (" + ledger.Polls().Text() + ")");
    rows.emplace_back(
        "beyond the mandated waits and the link's own time: the host's and the "
        "simulator's work, the backup's files written to disk",
        SecondsText(taken - ledger.NamedTotal() - traffic.linkTime));
    rows.emplace_back("device's own time (simulator), inside the waits above", DeviceDelays());
    SetDetailRows(std::move(rows));
}

void BM_WholeUpdate(benchmark::State& state) {
    WaitLedger ledger;
    SessionHarness::Options options;
    options.link = UsbLink();
    options.fullSizes = true;
    SessionHarness harness(options, ledger);
    ledger.Follow(harness.Steps());
    nv::CNvPreservation steps;
    session::CDownloadService& service = harness.Service();
    service.SetNvSteps(&steps);
    if (!harness.Failure().empty()) {
        state.SkipWithError(harness.Failure().c_str());
        return;
    }
    // The worker reads the router's mode just before it starts the update.
    session::PortContext context = harness.Context();
    std::string version;
    service.ReportDeviceVersion(context.slot, context.portNumber, version);
    const auto neededBefore = harness.Router().LinkTimeNeeded();
    const auto bytesBefore = harness.Router().LinkBytesCarried();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (service.Download(context) != 0) {
            state.SkipWithError(("the update failed: " + harness.Steps().LastLine()).c_str());
            return;
        }
    }
    const Seconds taken = std::chrono::steady_clock::now() - start;
    const Traffic traffic{harness.Router().LinkTimeNeeded() - neededBefore,
                          harness.Router().LinkBytesCarried() - bytesBefore};
    const Seconds bound = ledger.NamedTotal() + kLinkShare * traffic.linkTime;
    state.counters[goal::kAtMostMs] = bound.count() * 1e3;
    state.SetLabel("whole update: the reference firmware at full size (" +
                   Megabytes(ImageBytes(service.Config())) +
                   " of images) with NV backup and restore, link 0.5 ms + 30 MB/s");
    Explain(ledger, traffic, bound, taken);
}
BENCHMARK(BM_WholeUpdate)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace tapfix::bench
