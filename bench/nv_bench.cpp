// The NV backup before a download and the restore with read-back after it, as the NV steps do
// them through the session, over the modelled link; the EFS RF files apart from the NV items.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "bench_setup.hpp"
#include "nv/backup_files.hpp"
#include "nv/nv_preservation.hpp"
#include "nv/nv_record.hpp"
#include "session_harness.hpp"
#include "table_reporter.hpp"

namespace tapfix::bench {
namespace {

namespace fs = std::filesystem;

// A router in its normal mode, slot 0 open on it, and the NV steps with a record whose barcode
// was read, as the session's backup before the download starts.
class NvRun {
  public:
    enum class Part { Items, EfsFiles };

    explicit NvRun(Part part) : harness_(Options()) {
        if (!harness_.Failure().empty() || !harness_.OpenLink()) {
            failure_ = harness_.Failure();
            return;
        }
        // The NV items alone leave the EFS lists out; the EFS part is measured by itself.
        if (part == Part::Items) {
            Service().Config().efsRfNv.clear();
            Service().Config().efsRfNvOver6w.clear();
        }
        steps_.ReadBarcode(Service(), 0, record_);
    }

    // False with the benchmark skipped when the router or the link could not be set up.
    bool Ready(benchmark::State& state) {
        if (failure_.empty()) {
            return true;
        }
        state.SkipWithError(failure_.c_str());
        return false;
    }
    // Skips the benchmark with the session's last log line (or the set-up's failure).
    bool Failed(benchmark::State& state) {
        if (failure_.empty()) {
            failure_ = harness_.Steps().LastLine();
            state.SkipWithError(failure_.c_str());
        }
        return false;
    }

    bool Backup() { return steps_.BackupNvToFiles(Service(), record_.barcodeRead, record_, 0); }
    bool BackupEfs() { return steps_.BackupEfsNvFiles(Service(), 0); }
    bool Restore() { return steps_.RestoreNvFromFile(Service(), 0, record_.nvBackupFile); }
    // Files that fail are logged and passed over, as in an update.
    bool RestoreEfs() {
        steps_.RestoreEfsNvFiles(Service(), 0, EfsFolder());
        return true;
    }

    // The items the package's lists name: the RF, common and lock items.
    std::size_t ListedItems() {
        const auto& config = Service().Config();
        return config.rfNv.size() + config.commonNv.size() + config.lockNv.size();
    }
    std::size_t Records() const {
        std::error_code ec;
        return static_cast<std::size_t>(fs::file_size(record_.nvBackupFile, ec)) /
               nv::kNvRecordSize;
    }
    std::size_t EfsFiles() const {
        std::error_code ec;
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(EfsFolder(), ec), fs::directory_iterator()));
    }

  private:
    static SessionHarness::Options Options() {
        SessionHarness::Options options;
        options.link = UsbLink();
        return options;
    }
    session::CDownloadService& Service() { return harness_.Service(); }
    fs::path EfsFolder() const { return harness_.WorkFolder() / nv::kEfsFolderName; }

    SessionHarness harness_;
    nv::CNvPreservation steps_;
    session::SessionRecord record_;
    std::string failure_;
};

using Step = bool (NvRun::*)();

// `step` once per iteration, after `before` when given; false, with the benchmark skipped for
// the session's reason, when either fails.
bool Measure(benchmark::State& state, NvRun& run, Step before, Step step) {
    if (!run.Ready(state) || (before != nullptr && !(run.*before)())) {
        return run.Failed(state);
    }
    for (auto _ : state) {
        if (!(run.*step)()) {
            return run.Failed(state);
        }
    }
    return true;
}

constexpr std::string_view kLink = ", link 0.5 ms + 30 MB/s";

void BM_NvBackup(benchmark::State& state) {
    NvRun run(NvRun::Part::Items);
    if (Measure(state, run, nullptr, &NvRun::Backup)) {
        state.SetLabel("NV backup: the package's " + std::to_string(run.ListedItems()) +
                       " items read, " + std::to_string(run.Records()) +
                       " kept (the rest inactive)" + std::string(kLink));
        state.counters[goal::kAtMostMs] = 2000;
    }
}
BENCHMARK(BM_NvBackup)->Apply(MedianOfThree)->Iterations(1);

void BM_NvRestore(benchmark::State& state) {
    NvRun run(NvRun::Part::Items);
    if (Measure(state, run, &NvRun::Backup, &NvRun::Restore)) {
        state.SetLabel("NV restore with read-back: " + std::to_string(run.Records()) + " items" +
                       std::string(kLink));
        state.counters[goal::kAtMostMs] = 4000;
    }
}
BENCHMARK(BM_NvRestore)->Apply(MedianOfThree)->Iterations(1);

void BM_EfsBackup(benchmark::State& state) {
    NvRun run(NvRun::Part::EfsFiles);
    if (Measure(state, run, nullptr, &NvRun::BackupEfs)) {
        state.SetLabel("EFS RF files backup: " + std::to_string(run.EfsFiles()) + " files" +
                       std::string(kLink));
    }
}
BENCHMARK(BM_EfsBackup)->Apply(MedianOfThree)->Iterations(1);

void BM_EfsRestore(benchmark::State& state) {
    NvRun run(NvRun::Part::EfsFiles);
    if (Measure(state, run, &NvRun::BackupEfs, &NvRun::RestoreEfs)) {
        state.SetLabel("EFS RF files restore: " + std::to_string(run.EfsFiles()) + " files" +
                       std::string(kLink));
    }
}
BENCHMARK(BM_EfsRestore)->Apply(MedianOfThree)->Iterations(1);

}  // namespace
}  // namespace tapfix::bench
