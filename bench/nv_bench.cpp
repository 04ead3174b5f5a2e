// The NV backup before a download and the restore with read-back after it, as the NV steps do
// them through the session, over the modelled link; the EFS RF files apart from the NV items.
#include <benchmark/benchmark.h>

#include <string>

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

    bool Ready(benchmark::State& state) {
        if (failure_.empty()) {
            return true;
        }
        state.SkipWithError(failure_.c_str());
        return false;
    }
    bool Failed(benchmark::State& state) {
        failure_ = Harness().Steps().LastLine();
        state.SkipWithError(failure_.c_str());
        return false;
    }

    bool Backup() { return steps_.BackupNvToFiles(Service(), record_.barcodeRead, record_, 0); }
    bool BackupEfs() { return steps_.BackupEfsNvFiles(Service(), 0); }
    bool Restore() { return steps_.RestoreNvFromFile(Service(), 0, record_.nvBackupFile); }
    void RestoreEfs() { steps_.RestoreEfsNvFiles(Service(), 0, EfsFolder()); }

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
    SessionHarness& Harness() { return harness_; }

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

void BM_NvBackup(benchmark::State& state) {
    NvRun run(NvRun::Part::Items);
    if (!run.Ready(state)) {
        return;
    }
    for (auto _ : state) {
        if (!run.Backup()) {
            run.Failed(state);
            return;
        }
    }
    state.SetLabel("NV backup: the package's " + std::to_string(run.ListedItems()) +
                   " items read, " + std::to_string(run.Records()) +
                   " kept (the rest inactive), link 0.5 ms + 30 MB/s");
    state.counters[goal::kAtMostMs] = 2000;
}
BENCHMARK(BM_NvBackup)->Apply(MedianOfThree)->Iterations(1);

void BM_NvRestore(benchmark::State& state) {
    NvRun run(NvRun::Part::Items);
    if (!run.Ready(state) || (!run.Backup() && !run.Failed(state))) {
        return;
    }
    for (auto _ : state) {
        if (!run.Restore()) {
            run.Failed(state);
            return;
        }
    }
    state.SetLabel("NV restore with read-back: " + std::to_string(run.Records()) +
                   " items, link 0.5 ms + 30 MB/s");
    state.counters[goal::kAtMostMs] = 4000;
}
BENCHMARK(BM_NvRestore)->Apply(MedianOfThree)->Iterations(1);

void BM_EfsBackup(benchmark::State& state) {
    NvRun run(NvRun::Part::EfsFiles);
    if (!run.Ready(state)) {
        return;
    }
    for (auto _ : state) {
        if (!run.BackupEfs()) {
            run.Failed(state);
            return;
        }
    }
    state.SetLabel("EFS RF files backup: " + std::to_string(run.EfsFiles()) +
                   " files, link 0.5 ms + 30 MB/s");
}
BENCHMARK(BM_EfsBackup)->Apply(MedianOfThree)->Iterations(1);

void BM_EfsRestore(benchmark::State& state) {
    NvRun run(NvRun::Part::EfsFiles);
    if (!run.Ready(state) || (!run.BackupEfs() && !run.Failed(state))) {
        return;
    }
    for (auto _ : state) {
        run.RestoreEfs();
    }
    state.SetLabel("EFS RF files restore: " + std::to_string(run.EfsFiles()) +
                   " files, link 0.5 ms + 30 MB/s");
}
BENCHMARK(BM_EfsRestore)->Apply(MedianOfThree)->Iterations(1);

}  // namespace
}  // namespace tapfix::bench
