// A whole update of the reference firmware at its real sizes through CDownloadService::Download
// with the real NV steps, over the modelled link: its time beside what the router itself takes
// (read from the simulator's trace), the wait after the reset that is kept whole, and the
// link's lower bound for the traffic.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <numeric>

#include "bench_setup.hpp"
#include "nv/nv_preservation.hpp"
#include "reenumerations.hpp"
#include "session_harness.hpp"
#include "table_reporter.hpp"
#include "wait_ledger.hpp"

namespace tapfix::bench {
namespace {

using Seconds = std::chrono::duration<double>;

// The bound: what the router and the link need, the wait after the reset that stays as it was,
// and this much room for the host.
constexpr double kLinkShare = 1.2;
constexpr Seconds kHostRoom{3.0};
// The first boot of new firmware may still be setting up its NV items when its port appears:
// the 25 s + 1 s after the reset are kept whole.
Seconds KeptResetWait() {
    return platform::TimeScale() * Seconds(26.0);
}
constexpr std::string_view kReset = "reset";
// The host's own time from the router's port appearing to its first request there.
constexpr Seconds kHostAnswerBound{1.5};

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

// The simulator's settings of its own timings, scaled like the waits.
std::string DeviceSettings() {
    sim::DeviceProfile device;
    device.programmerReenumerates = true;
    const double scale = platform::TimeScale();
    const auto seconds = [&](std::chrono::milliseconds delay) {
        return Text("%.1f s", std::chrono::duration<double>(delay).count() * scale);
    };
    return "leaves " + seconds(device.leaveAfterAnswer) + " (at most " +
           seconds(device.leaveAtLatest) + ") after its answer; back " +
           seconds(device.downloaderTime) + " after the switch, " +
           seconds(device.programmerStartTime) + " after the programmer's start, " +
           seconds(device.rebootTime) + " after the reset";
}

struct Traffic {
    Seconds linkTime;
    std::uint64_t bytes;
};

// The router's own time outside the wait after the reset, which is kept whole.
Seconds RouterTimeOutsideTheKeptWait(const std::vector<Reenumeration>& reenumerations) {
    Seconds total{0};
    for (const Reenumeration& reenumeration : reenumerations) {
        if (reenumeration.reason != kReset) {
            total += reenumeration.routerTime;
        }
    }
    return total;
}

void AddReenumerationRows(const std::vector<Reenumeration>& reenumerations,
                          std::vector<std::pair<std::string, std::string>>& rows) {
    for (const Reenumeration& reenumeration : reenumerations) {
        const bool kept = reenumeration.reason == kReset;
        rows.emplace_back(
            "router's own time: " + reenumeration.reason + ", from the request to its port",
            SecondsText(reenumeration.routerTime) + (kept ? " (inside the kept wait)" : ""));
        if (!kept && reenumeration.hostTime) {
            rows.emplace_back(
                "host's time from that port to its first request there",
                SecondsText(*reenumeration.hostTime) + " (≤ " + SecondsText(kHostAnswerBound) +
                    ": " + (*reenumeration.hostTime <= kHostAnswerBound ? "yes" : "no") + ")");
        }
    }
}

void Explain(const WaitLedger& ledger, const Traffic& traffic,
             const std::vector<Reenumeration>& reenumerations, Seconds bound, Seconds taken) {
    std::vector<std::pair<std::string, std::string>> rows;
    const Seconds wire = UsbLink().WireTime(static_cast<std::size_t>(traffic.bytes));
    rows.emplace_back("link's lower bound: " + Megabytes(traffic.bytes) + " carried (" +
                          SecondsText(wire) +
                          " at 30 MB/s) and 0.5 ms before every answer the traffic did not hide",
                      SecondsText(traffic.linkTime));
    AddReenumerationRows(reenumerations, rows);
    rows.emplace_back("router's settings (simulator)", DeviceSettings());
    for (const WaitLedger::StepWaits& waits : ledger.Named()) {
        rows.emplace_back("host's waits: " + waits.step,
                          SecondsText(waits.Total()) + " (" + waits.Text() + ")");
    }
    rows.emplace_back("polls while waiting for answers (the host's own)",
                      SecondsText(ledger.Polls().Total()) + " (" + ledger.Polls().Text() + ")");
    const Seconds routerTime = RouterTimeOutsideTheKeptWait(reenumerations);
    rows.emplace_back(
        "what remains beyond the router's own time outside the kept wait, the kept wait and the "
        "link's: the host's work and waits, the backup's files written to disk",
        SecondsText(taken - routerTime - KeptResetWait() - traffic.linkTime));
    rows.emplace_back("bound: the router's own time outside the kept wait + the kept wait (" +
                          SecondsText(KeptResetWait()) + ") + " + Text("%.1f", kLinkShare) +
                          " × the link's lower bound + " + SecondsText(kHostRoom) +
                          ", at TAPFIX_TIME_SCALE=" + Text("%g", platform::TimeScale()),
                      SecondsText(bound));
    SetDetailRows(std::move(rows));
}

void BM_WholeUpdate(benchmark::State& state) {
    WaitLedger ledger;
    nv::CNvPreservation steps;
    SessionHarness::Options options = SessionHarness::WholeUpdate(steps);
    options.fullSizes = true;
    SessionHarness harness(options, ledger);
    ledger.Follow(harness.Steps());
    session::CDownloadService& service = harness.Service();
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
    const auto reenumerations = ReadReenumerations(harness.Router().TraceRecords());
    const Seconds bound = RouterTimeOutsideTheKeptWait(reenumerations) + KeptResetWait() +
                          kLinkShare * traffic.linkTime + kHostRoom;
    state.counters[goal::kAtMostMs] = bound.count() * 1e3;
    state.SetLabel("whole update: the reference firmware at full size (" +
                   Megabytes(ImageBytes(service.Config())) +
                   " of images) with NV backup and restore, link 0.5 ms + 30 MB/s");
    Explain(ledger, traffic, reenumerations, bound, taken);
}
BENCHMARK(BM_WholeUpdate)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace tapfix::bench
